#!/usr/bin/env bash
# Merges of LAZ tiles on different grids against `cat` of the same files.
#
#   bench/grid_merge_vs_cat.sh BUILD_DIR [RUNS [COPIES]]
#
# Eight LAZ tiles of point format 1, each lone-star-split-2.laz's chunks repeated COPIES times
# (default 40: about 6 million points). Two lists, RUNS (default 5) interleaved runs each:
#  - shift: tiles 7 and 8 have other X and Y offsets (whole steps): Quillet copies 6 tiles and
#    shifts 2 without decoding; target at most 1.1 x cat.
#  - z: tiles 7 and 8 have another Z offset: point-wise chunks predict Z from zero, so Quillet
#    re-encodes those 2; target T <= 1.1 x (6/8 x T_cat + 2/8 x T_all), T_all the same list with
#    --fixed-chunks (every tile re-encoded).
# Prints medians, ratios and Quillet's peak memory.
set -euo pipefail
build=$(cd "${1:-build-bench}" && pwd)
runs=${2:-5}
copies=${3:-40}
here=$(cd "$(dirname "$0")" && pwd)
samples=$here/../tests/data
dir=${BENCH_DIR:-/tmp/quillet-bench-grid}
quillet=$build/merge/Quillet
for program in "$quillet" "$build/tools/lazgen" "$build/tools/lasmove"; do
    [ -x "$program" ] || { echo "missing $program: build the benchmarks in $build first" >&2; exit 2; }
done
mkdir -p "$dir"
cd "$dir"
. "$here/timing.bash"
trap 'rm -f tile*.laz shift*.laz z*.laz out-*' EXIT

"$build/tools/lazgen" "$samples/lone-star-split-2.laz" tile.laz "$copies" >/dev/null
for i in 1 2 3 4 5 6; do cp tile.laz "tile$i.laz"; done
for i in 7 8; do
    cp tile.laz "shift$i.laz"
    "$build/tools/lasmove" "shift$i.laz" $((i * 100000)) $((-i * 40000)) 0
    cp tile.laz "z$i.laz"
    "$build/tools/lasmove" "z$i.laz" 0 0 $((i * 4000))
done
printf 'tile%s.laz\n' 1 2 3 4 5 6 >base.txt
{ cat base.txt; printf 'shift7.laz\nshift8.laz\n'; } >shift.txt
{ cat base.txt; printf 'z7.laz\nz8.laz\n'; } >z.txt
cat tile*.laz shift*.laz z*.laz >/dev/null  # into the page cache

: >cat-shift.times; : >shift.times; : >shift.rss
: >cat-z.times; : >z.times; : >z.rss; : >all.times; : >all.rss
for run in $(seq 1 "$runs"); do
    if [ $((run % 2)) -eq 1 ]; then
        time_cat shift.txt cat-shift.times; time_quillet shift.txt shift.times shift.rss
    else
        time_quillet shift.txt shift.times shift.rss; time_cat shift.txt cat-shift.times
    fi
    grep -c ', shifted$' quillet.log >shifted.count
    time_cat z.txt cat-z.times
    time_quillet z.txt z.times z.rss
    grep -c ', re-encoded$' quillet.log >reencoded.count
    time_quillet z.txt all.times all.rss --fixed-chunks
    echo "run $run: shift: cat $(tail -n 1 cat-shift.times) s, Quillet $(tail -n 1 shift.times) s; z: cat $(tail -n 1 cat-z.times) s, Quillet $(tail -n 1 z.times) s, --fixed-chunks $(tail -n 1 all.times) s"
done
points=$(("$build/bench/codec_throughput" tile.laz 2>/dev/null || true) | awk '/^decode/ { print $2 }')
echo
echo "8 tiles of ${points:-?} points ($(stat -c %s tile.laz) bytes each); $(cat shifted.count) shifted, $(cat reencoded.count) re-encoded"
awk -v q="$(median <shift.times)" -v c="$(median <cat-shift.times)" -v r="$(sort -g shift.rss | tail -n 1)" 'BEGIN {
    printf "XY offsets: Quillet %.3f s, cat %.3f s: %.3f x cat (target at most 1.1); peak %d KiB\n", q, c, q / c, r }'
awk -v q="$(median <z.times)" -v c="$(median <cat-z.times)" -v a="$(median <all.times)" -v r="$(sort -g z.rss | tail -n 1)" -v ra="$(sort -g all.rss | tail -n 1)" 'BEGIN {
    bound = 1.1 * (6 / 8 * c + 2 / 8 * a)
    printf "Z offsets: Quillet %.3f s, cat %.3f s, --fixed-chunks %.3f s: bound 1.1 x (6/8 cat + 2/8 all) = %.3f s, Quillet / bound %.3f (target at most 1); peak %d KiB (--fixed-chunks %d KiB)\n", q, c, a, bound, q / bound, r, ra }'
