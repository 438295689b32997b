#!/usr/bin/env bash
# Quillet's decoding and encoding merges on every core against laz-perf 0.0.7 (node).
#
#   bench/coding_merge_vs_lazperf.sh BUILD_DIR [RUNS]
#
# Two LAZ tiles of point format 1, each lone-star-split-2.laz's chunks repeated by lazgen to
# about 5 million points. Interleaved, RUNS (default 5) times: Quillet --extended merging them
# into a LAS file (decoded) beside laz-perf decoding both tiles (its decode loops, summed), then
# Quillet merging that LAS file (with an empty LAS tile: a merge lists two) into a LAZ file
# (encoded) beside laz-perf decoding Quillet's LAZ output. Prints medians, the ratios (target: Quillet at most 0.45 x laz-perf's time on all
# threads of 2 cores) and Quillet's peak memory (target: 16 MiB + 16 bytes per output chunk +
# 8 MiB per thread).
set -euo pipefail
build=$(cd "${1:-build-bench}" && pwd)
runs=${2:-5}
here=$(cd "$(dirname "$0")" && pwd)
samples=$here/../tests/data
dir=${BENCH_DIR:-/tmp/quillet-bench-coding}
quillet=$build/merge/Quillet
for program in "$quillet" "$build/tools/lazgen"; do
    [ -x "$program" ] || { echo "missing $program: build the benchmarks in $build first" >&2; exit 2; }
done
mkdir -p "$dir"
cd "$dir"
. "$here/timing.bash"
trap 'rm -f a.laz b.laz empty.las out.las out.laz' EXIT
"$build/tools/lazgen" "$samples/lone-star-split-2.laz" a.laz 33 >/dev/null
cp a.laz b.laz
"$build/tools/lasgen" empty.las 0 1 1 >/dev/null
printf 'a.laz\nb.laz\n' >to-las.txt
printf 'out.las\nempty.las\n' >to-laz.txt
cat a.laz b.laz >/dev/null

lazperf() {  # FILE...: the summed decode loops
    local total=0 t
    for f in "$@"; do
        t=$(node "$here/lazperf_decode.js" "$f" | awk '{ print $3 }')
        total=$(awk -v a="$total" -v b="$t" 'BEGIN { print a + b }')
    done
    echo "$total"
}
quillet_time() {  # LIST OUTPUT TIMES RSS
    local start
    start=$(now)
    /usr/bin/time -f %M -o rss.txt "$quillet" --extended "$1" "$2" >/dev/null
    elapsed "$start" >>"$3"
    cat rss.txt >>"$4"
}
: >las.times; : >las.rss; : >laz.times; : >laz.rss; : >lp-decode.times; : >lp-out.times
for run in $(seq 1 "$runs"); do
    if [ $((run % 2)) -eq 1 ]; then
        quillet_time to-las.txt out.las las.times las.rss
        lazperf a.laz b.laz >>lp-decode.times
    else
        lazperf a.laz b.laz >>lp-decode.times
        quillet_time to-las.txt out.las las.times las.rss
    fi
    quillet_time to-laz.txt out.laz laz.times laz.rss
    lazperf out.laz >>lp-out.times
    echo "run $run: LAZ->LAS $(tail -n 1 las.times) s, laz-perf $(tail -n 1 lp-decode.times) s; LAS->LAZ $(tail -n 1 laz.times) s, laz-perf of it $(tail -n 1 lp-out.times) s"
done
threads=$(nproc)
chunks=$(("$build/bench/codec_throughput" out.laz 2>/dev/null || true) | awk '/^chunks/ { print $2 }')
target=$((16384 + ${chunks:-0} * 16 / 1024 + 8192 * threads))
awk -v q="$(median <las.times)" -v l="$(median <lp-decode.times)" -v r="$(sort -g las.rss | tail -n 1)" -v t="$target" 'BEGIN {
    printf "LAZ -> LAS of two 5.1-million-point tiles: Quillet %.3f s, laz-perf decoding them %.3f s: %.2f x (target at most 0.45); peak %d KiB (target at most %d)\n", q, l, q / l, r, t }'
awk -v q="$(median <laz.times)" -v l="$(median <lp-out.times)" -v r="$(sort -g laz.rss | tail -n 1)" -v t="$target" 'BEGIN {
    printf "LAS -> LAZ of that output: Quillet %.3f s, laz-perf decoding Quillet'"'"'s output %.3f s: %.2f x (target at most 0.45); peak %d KiB (target at most %d)\n", q, l, q / l, r, t }'
