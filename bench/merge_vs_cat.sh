#!/usr/bin/env bash
# Quillet against `cat inputs > out`, the floor for moving these bytes (coreutils 9 cat uses the
# kernel's copy too), side by side on page-cached inputs.
#
#   bench/merge_vs_cat.sh BUILD_DIR [FILES [MB_PER_FILE [RUNS]]]
#
# Generates FILES tiles (default 8) of about MB_PER_FILE megabytes (default 250), LAS 1.2 point
# format 1 with a projection VLR, in $BENCH_DIR (default /tmp/quillet-bench), reads them once
# into the page cache, then times RUNS (default 9) alternating runs of each command and prints
# the median wall times, their ratio and Quillet's peak resident memory.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:-build-bench}" && pwd)
files=${2:-8}
mb=${3:-250}
runs=${4:-9}
dir=${BENCH_DIR:-/tmp/quillet-bench}
mkdir -p "$dir"
cd "$dir"

points=$((mb * 1000000 / 28))
inputs=()
for i in $(seq 1 "$files"); do
    name="tile$i.las"
    inputs+=("$name")
    want=$((297 + points * 28))
    if [ ! -f "$name" ] || [ "$(stat -c %s "$name")" -ne "$want" ]; then
        "$build/tools/lasgen" "$name" "$points" 1 2 "$i" $((i * 100000)) 0
    fi
done
printf '%s\n' "${inputs[@]}" >list.txt
cat "${inputs[@]}" >/dev/null  # into the page cache

. "$here/timing.bash"

: >cat.times
: >quillet.times
: >quillet.rss
time_cat() {
    rm -f out-cat.las
    # No write-back or block discard of an earlier run's output may fall into this one.
    sync
    sleep 1
    local start
    start=$(now)
    cat "${inputs[@]}" >out-cat.las
    elapsed "$start" >>cat.times
}
time_quillet() {
    rm -f out-quillet.las
    sync
    sleep 1
    local start
    start=$(now)
    /usr/bin/time -f %M -o rss.txt "$build/merge/Quillet" list.txt out-quillet.las >/dev/null
    elapsed "$start" >>quillet.times
    cat rss.txt >>quillet.rss
}
for run in $(seq 1 "$runs"); do
    # Alternate which command goes first, so neither always follows the other.
    if [ $((run % 2)) -eq 1 ]; then time_cat; time_quillet; else time_quillet; time_cat; fi
    echo "run $run: cat $(tail -n 1 cat.times) s, Quillet $(tail -n 1 quillet.times) s, $(cat rss.txt) KiB peak"
done
rm -f out-cat.las out-quillet.las

cat_median=$(median <cat.times)
quillet_median=$(median <quillet.times)
rss_max=$(sort -g quillet.rss | tail -n 1)
cat_fastest=$(fastest <cat.times)
quillet_fastest=$(fastest <quillet.times)
total=$(du -cb "${inputs[@]}" | tail -n 1 | cut -f 1)
printf '\n%d files, %d bytes in all, %d runs each\n' "$files" "$total" "$runs"
printf 'median wall time: cat %.3f s, Quillet %.3f s\n' "$cat_median" "$quillet_median"
printf 'fastest run:      cat %.3f s, Quillet %.3f s\n' "$cat_fastest" "$quillet_fastest"
awk -v q="$quillet_median" -v c="$cat_median" -v r="$rss_max" -v qf="$quillet_fastest" \
    -v cf="$cat_fastest" 'BEGIN {
    printf "ratio Quillet / cat: %.3f of the medians, %.3f of the fastest runs (target at most 1.1)\n", q / c, qf / cf
    printf "Quillet peak resident memory: %.1f MiB (target at most 16)\n", r / 1024 }'
rm -f out-cat.las out-quillet.las
