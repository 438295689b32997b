#!/usr/bin/env bash
# A merge of LAZ tiles that differ in point format and version, against `cat` of the same files,
# against re-encoding every tile, and against laz-perf decoding the merged file.
#
#   bench/schema_merge_vs_cat.sh BUILD_DIR [RUNS [COPIES [POINTS]]]
#
# Eight LAZ tiles on one grid: six of LAS 1.2 point format 3 (autzen_trim.laz's chunks repeated
# COPIES times, default 100) and two of LAS 1.1 point format 1 (POINTS pseudo-random points,
# default 10,000,000, made LAZ by Quillet itself). The output is LAS 1.2 format 3: the six are
# copied chunk for chunk, the two converted (colour 0 added) and encoded. RUNS (default 5)
# interleaved runs of cat, Quillet and Quillet --fixed-chunks (every tile re-encoded), then, once,
# laz-perf decoding Quillet's output. Targets: T <= 1.1 x ((1 - f) x T_agree + f x T_all), T_agree
# the merge of the eight tiles of format 3 alone (copied), f the converted tiles' share of the
# points; and T <= 0.35 x T_all. Prints medians, ratios and peak memory.
set -euo pipefail
build=$(cd "${1:-build-bench}" && pwd)
runs=${2:-5}
copies=${3:-100}
points=${4:-10000000}
here=$(cd "$(dirname "$0")" && pwd)
samples=$here/../tests/data
dir=${BENCH_DIR:-/tmp/quillet-bench-schema}
quillet=$build/merge/Quillet
for program in "$quillet" "$build/tools/lazgen" "$build/tools/lasgen"; do
    [ -x "$program" ] || { echo "missing $program: build the benchmarks in $build first" >&2; exit 2; }
done
mkdir -p "$dir"
cd "$dir"
. "$here/timing.bash"
trap 'rm -f tile*.laz old*.las old*.laz empty.las out-* *.txt' EXIT

"$build/tools/lazgen" "$samples/autzen_trim.laz" tile.laz "$copies" >/dev/null
for i in 1 2 3 4 5 6 7 8; do cp tile.laz "tile$i.laz"; done
# LAS 1.1 format 1 on autzen's grid (scale 0.01, offset 0), made LAZ by a merge with an empty tile.
"$build/tools/lasgen" empty.las 0 1 1 >/dev/null
for i in 7 8; do
    "$build/tools/lasgen" "old$i.las" "$points" 1 1 "$i" 63700000 85100000 >/dev/null
    printf 'old%s.las\nempty.las\n' "$i" >make.txt
    "$quillet" --extended make.txt "old$i.laz" >/dev/null
done
printf 'tile%s.laz\n' 1 2 3 4 5 6 >base.txt
{ cat base.txt; printf 'old7.laz\nold8.laz\n'; } >mixed.txt
{ cat base.txt; printf 'tile7.laz\ntile8.laz\n'; } >agree.txt
cat tile*.laz old*.laz >/dev/null # into the page cache

: >cat.times; : >mixed.times; : >mixed.rss; : >agree.times; : >agree.rss; : >all.times; : >all.rss
for run in $(seq 1 "$runs"); do
    time_cat mixed.txt cat.times
    time_quillet mixed.txt mixed.times mixed.rss
    grep -c ', encoded$\|, re-encoded$' quillet.log >converted.count || true
    cp out-quillet.laz merged.laz.keep
    time_quillet agree.txt agree.times agree.rss
    time_quillet mixed.txt all.times all.rss --fixed-chunks
    echo "run $run: cat $(tail -n 1 cat.times) s, Quillet $(tail -n 1 mixed.times) s, agreeing tiles $(tail -n 1 agree.times) s, --fixed-chunks $(tail -n 1 all.times) s"
done
decode=$(node "$here/lazperf_decode.js" merged.laz.keep | awk '{ print $3 }')
rm -f merged.laz.keep
tile_points=$(od -An -tu4 -j107 -N4 tile.laz | tr -d ' ')
old_points=$(od -An -tu4 -j107 -N4 old7.laz | tr -d ' ')
echo
echo "6 tiles of $tile_points points of format 3, 2 of $old_points points of format 1 ($(cat converted.count) converted)"
awk -v q="$(median <mixed.times)" -v c="$(median <cat.times)" -v g="$(median <agree.times)" \
    -v a="$(median <all.times)" -v d="$decode" -v t="$tile_points" -v o="$old_points" \
    -v r="$(sort -g mixed.rss | tail -n 1)" -v ra="$(sort -g all.rss | tail -n 1)" 'BEGIN {
    f = 2 * o / (6 * t + 2 * o)
    bound = 1.1 * ((1 - f) * g + f * a)
    printf "Quillet %.3f s, cat %.3f s (%.3f x cat), agreeing tiles %.3f s, --fixed-chunks %.3f s, laz-perf decoding the output %.3f s\n", q, c, q / c, g, a, d
    printf "f = %.3f; bound 1.1 x ((1 - f) x agreeing + f x all) = %.3f s: Quillet / bound %.3f (target at most 1)\n", f, bound, q / bound
    printf "Quillet / --fixed-chunks %.3f (target at most 0.35); Quillet / laz-perf decoding %.3f\n", q / a, q / d
    printf "peak %d KiB (--fixed-chunks %d KiB)\n", r, ra }'
