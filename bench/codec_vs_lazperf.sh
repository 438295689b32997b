#!/usr/bin/env bash
# Our LAZ codec on one thread against laz-perf 0.0.7 (node), side by side in the same run.
#
#   bench/codec_vs_lazperf.sh BUILD_DIR [RUNS]
#
# Three files, each a test sample's chunks repeated by lazgen: lone-star-split-2.laz to about 5
# million points (point format 1), append-bug.laz likewise (format 8 with 3 extra bytes), and
# 1.2-with-color.copc.laz (chunks of about 16 points, format 7) to about 1 million. For each,
# RUNS (default 5) interleaved runs of codec_throughput (our decode and encode, in memory) and of
# laz-perf's decode loop (bench/lazperf_decode.js, one node process, the file already open).
# BENCH_FILES (default "format1 format8 copc") picks some of the three; the merges below run when
# format1 is among them. Prints the medians in million points per second and the ratios with
# their targets: our decode at least 1.5 x laz-perf (15 x on the cloud optimised chunks), our
# encode at least our decode;
# and the same codec on every core (the merge's chunk pipeline, nproc threads) against one
# thread: at least 1.8 x on 2 cores. Then a LAZ -> LAS and a LAS -> LAZ merge of the format 1
# file, with Quillet's peak memory against 16 MiB + 16 bytes per output chunk + 8 MiB per thread.
set -euo pipefail
build=$(cd "${1:-build-bench}" && pwd)
runs=${2:-5}
here=$(cd "$(dirname "$0")" && pwd)
samples=$here/../tests/data
dir=${BENCH_DIR:-/tmp/quillet-bench-codec}
for program in "$build/bench/codec_throughput" "$build/tools/lazgen" "$build/merge/Quillet"; do
    [ -x "$program" ] || { echo "missing $program: build the benchmarks in $build first" >&2; exit 2; }
done
[ -f "$here/../tests/laz/node_modules/laz-perf/package.json" ] ||
    { echo "laz-perf is missing: run tools/install-lazperf.sh" >&2; exit 2; }
mkdir -p "$dir"
cd "$dir"
. "$here/timing.bash"

# NAME SAMPLE POINTS: SAMPLE's chunks repeated to about POINTS points.
make_file() {
    local points copies
    points=$("$build/bench/codec_throughput" "$2" | awk '/^decode/ { print $2 }')
    copies=$((($3 + points - 1) / points))
    "$build/tools/lazgen" "$2" "$1" "$copies" >/dev/null
}
make_file format1.laz "$samples/lone-star-split-2.laz" 5000000
make_file format8.laz "$samples/append-bug.laz" 5000000
make_file copc.laz "$samples/1.2-with-color.copc.laz" 1000000
cat ./*.laz >/dev/null

mpts() { awk -v n="$1" -v s="$2" 'BEGIN { printf "%.3f", n / s / 1e6 }'; }
cores=$(nproc)
for f in ${BENCH_FILES:-format1 format8 copc}; do
    : >"$f.ours-decode" ; : >"$f.ours-encode" ; : >"$f.lazperf"
    : >"$f.all-decode" ; : >"$f.all-encode"
    for run in $(seq 1 "$runs"); do
        ours() {  # [THREADS] [SUFFIX]
            "$build/bench/codec_throughput" "$f.laz" ${1:+"$1"} >ours.out
            awk '/^decode/ { print $2 / $3 / 1e6 }' ours.out >>"$f.${2:-ours}-decode"
            awk '/^encode/ { print $2 / $3 / 1e6 }' ours.out >>"$f.${2:-ours}-encode"
            grep -q 're-encoded to their bytes: all' ours.out ||
                { echo "$f: re-encoded chunks differ from the file's" >&2; exit 1; }
        }
        theirs() { node "$here/lazperf_decode.js" "$f.laz" | awk '{ print $2 / $3 / 1e6 }' >>"$f.lazperf"; }
        if [ $((run % 2)) -eq 1 ]; then ours; theirs; ours "$cores" all; else ours "$cores" all; theirs; ours; fi
    done
    points=$(awk '/^decode/ { print $2 }' ours.out)
    [ "$f" != format1 ] || format1_chunks=$(awk '/^chunks/ { print $2 }' ours.out)
    d=$(median <"$f.ours-decode"); e=$(median <"$f.ours-encode"); l=$(median <"$f.lazperf")
    target=1.5
    [ "$f" = copc ] && target=15
    printf '%-8s %9d points: decode %7.3f Mpt/s, encode %7.3f Mpt/s, laz-perf decode %7.3f Mpt/s\n' \
        "$f" "$points" "$d" "$e" "$l"
    awk -v d="$d" -v e="$e" -v l="$l" -v t="$target" 'BEGIN {
        printf "         decode / laz-perf %.2f (target at least %s), encode / decode %.2f (target at least 1)\n", d / l, t, e / d }'
    ad=$(median <"$f.all-decode"); ae=$(median <"$f.all-encode")
    awk -v d="$d" -v e="$e" -v ad="$ad" -v ae="$ae" -v n="$cores" 'BEGIN {
        printf "         on %d threads: decode %.3f Mpt/s (%.2f x one thread), encode %.3f Mpt/s (%.2f x) (target at least 1.8 x on 2 cores)\n", n, ad, ad / d, ae, ae / e }'
done

# Whole merges of the format 1 file: LAZ -> LAS (decoded) and LAS -> LAZ (encoded).
[ -n "${format1_chunks:-}" ] || exit 0
printf 'format1.laz\nformat1.laz\n' >to-las.txt
/usr/bin/time -f '%e %M' -o las.time "$build/merge/Quillet" --extended to-las.txt out.las >/dev/null
printf 'out.las\nout.las\n' >to-laz.txt
/usr/bin/time -f '%e %M' -o laz.time "$build/merge/Quillet" --extended to-laz.txt out.laz >/dev/null
chunks=$((format1_chunks * 2))
read -r las_s las_kib <las.time
read -r laz_s laz_kib <laz.time
target_kib=$((16384 + chunks * 16 / 1024 + 8192 * cores))
printf 'merge LAZ -> LAS of format1.laz twice: %s s, peak %d KiB (target at most %d KiB)\n' "$las_s" "$las_kib" "$target_kib"
printf 'merge LAS -> LAZ of that output twice:  %s s, peak %d KiB (target at most %d KiB)\n' "$laz_s" "$laz_kib" "$target_kib"
rm -f out.las out.laz
