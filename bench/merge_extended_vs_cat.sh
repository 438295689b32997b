#!/usr/bin/env bash
# `Quillet --extended` against `cat inputs > out`, side by side on page-cached inputs, as
# merge_vs_cat.sh does for the classic merge.
#
#   bench/merge_extended_vs_cat.sh BUILD_DIR [KIND [FILES [MB_PER_FILE [RUNS]]]]
#
# KIND laz (default): FILES (default 8) LAZ tiles of about MB_PER_FILE megabytes (default 75),
#   each the chunks of $LAZ_SAMPLE (default tests/data/autzen_trim.laz) repeated by
#   lazgen. Quillet copies the compressed chunks and writes one new chunk table; its memory
#   target is 16 MiB plus 16 bytes per chunk.
# KIND las14: FILES (default 8) tiles of about MB_PER_FILE megabytes (default 250) of LAS 1.4
#   point format 6 with a projection VLR, from lasgen; memory target 16 MiB.
#
# The tiles go to $BENCH_DIR (default /tmp/quillet-bench-ext), are read once into the page cache,
# and RUNS (default 11) alternating runs of each command are timed, each after a sync and a
# pause, both under /usr/bin/time. Prints the median and fastest wall times, their ratios (target
# at most 1.1) and the peak resident memory of Quillet and of cat. The tiles are removed at the
# end unless BENCH_KEEP_TILES=1 (kept tiles of the same kind and size are used again).
set -euo pipefail
build=$(cd "${1:-build-bench}" && pwd)
kind=${2:-laz}
here=$(cd "$(dirname "$0")" && pwd)
case "$kind" in
    laz) default_mb=75 ext=laz ;;
    las14) default_mb=250 ext=las ;;
    *)
        echo "KIND is laz or las14, not $kind" >&2
        exit 2
        ;;
esac
files=${3:-8}
mb=${4:-$default_mb}
runs=${5:-11}
dir=${BENCH_DIR:-/tmp/quillet-bench-ext}
sample=${LAZ_SAMPLE:-$here/../tests/data/autzen_trim.laz}
for program in "$build/merge/Quillet" "$build/tools/lasgen" "$build/tools/lazgen"; do
    if [ ! -x "$program" ]; then
        echo "missing $program: build Quillet, lasgen and lazgen in $build first" >&2
        exit 2
    fi
done
if [ "$kind" = laz ] && [ ! -f "$sample" ]; then
    echo "no LAZ sample at $sample: set LAZ_SAMPLE to a chunked LAZ file" >&2
    exit 2
fi
mkdir -p "$dir"
cd "$dir"

inputs=()
for i in $(seq 1 "$files"); do inputs+=("$kind-tile$i.$ext"); done
# The tiles' description; tiles made for another one are made again.
if [ "$kind" = laz ]; then
    sample=$(cd "$(dirname "$sample")" && pwd)/$(basename "$sample")
    copies=$(((mb * 1000000 + $(stat -c %s "$sample") / 2) / $(stat -c %s "$sample")))
    [ "$copies" -ge 1 ] || copies=1
    key="laz $files $copies $sample $(stat -c %s%Y "$sample")"
else
    points=$((mb * 1000000 / 30))
    key="las14 $files $points"
fi
stamp=$kind.tiles
if [ ! -f "$stamp" ] || [ "$(head -n 1 "$stamp")" != "$key" ]; then
    rm -f "$stamp" "${inputs[@]}"
fi
for name in "${inputs[@]}"; do [ -f "$name" ] || rm -f "$stamp"; done
have=0
[ -f "$stamp" ] && have=$((files * mb))

# Room for the tiles (unless kept from before) and one merged file: each run removes both
# outputs before it starts.
need=$(((files * mb - have + files * mb) * 11 / 10))
free=$(df -Pm "$dir" | awk 'NR == 2 { print $4 }')
if [ "$free" -lt "$need" ]; then
    echo "$dir has $free MB free; these tiles and one merged file need about $need MB" >&2
    exit 1
fi
cleanup() {
    rm -f "out-cat.$ext" "out-quillet.$ext"
    if [ "${BENCH_KEEP_TILES:-0}" != 1 ]; then rm -f "${inputs[@]}" "$stamp"; fi
}
trap cleanup EXIT

if [ ! -f "$stamp" ]; then
    chunks=0
    for i in $(seq 1 "$files"); do
        name=${inputs[$((i - 1))]}
        if [ "$kind" = laz ]; then
            # "NAME: P points in C chunks, ... chunk size"
            line=$("$build/tools/lazgen" "$sample" "$name" "$copies")
            chunks=$((chunks + $(awk '{ print $(NF - 4) }' <<<"$line")))
        else
            "$build/tools/lasgen" "$name" "$points" 6 4 "$i" $((i * 100000)) 0
        fi
    done
    printf '%s\n%s\n' "$key" "$chunks" >"$stamp"
fi
chunks=$(sed -n 2p "$stamp")
printf '%s\n' "${inputs[@]}" >list.txt
cat "${inputs[@]}" >/dev/null  # into the page cache

. "$here/timing.bash"

: >cat.times
: >cat.rss
: >quillet.times
: >quillet.rss
# No write-back or block discard of an earlier run's output may fall into the next one.
settle() {
    rm -f "out-cat.$ext" "out-quillet.$ext"
    sync
    sleep 1
}
time_cat() {
    settle
    local start
    start=$(now)
    # Under /usr/bin/time as Quillet is: its own fork and exec (several milliseconds on a small
    # virtual machine) then weigh on both sides alike.
    /usr/bin/time -f %M -o cat-rss.txt cat "${inputs[@]}" >"out-cat.$ext"
    elapsed "$start" >>cat.times
    cat cat-rss.txt >>cat.rss
    stat -c %s "out-cat.$ext" >cat.size
}
time_quillet() {
    settle
    local start
    start=$(now)
    if ! /usr/bin/time -f %M -o rss.txt "$build/merge/Quillet" --extended list.txt \
        "out-quillet.$ext" >quillet.log 2>&1; then
        cat quillet.log >&2
        exit 1
    fi
    elapsed "$start" >>quillet.times
    cat rss.txt >>quillet.rss
    stat -c %s "out-quillet.$ext" >quillet.size
}
for run in $(seq 1 "$runs"); do
    # Alternate which command goes first, so neither always follows the other.
    if [ $((run % 2)) -eq 1 ]; then time_cat; time_quillet; else time_quillet; time_cat; fi
    echo "run $run: cat $(tail -n 1 cat.times) s, Quillet $(tail -n 1 quillet.times) s, $(cat rss.txt) KiB peak"
done

cat_median=$(median <cat.times)
quillet_median=$(median <quillet.times)
rss_max=$(sort -g quillet.rss | tail -n 1)
cat_rss_max=$(sort -g cat.rss | tail -n 1)
cat_fastest=$(fastest <cat.times)
quillet_fastest=$(fastest <quillet.times)
total=$(du -cb "${inputs[@]}" | tail -n 1 | cut -f 1)
if [ "$kind" = laz ]; then
    target_kib=$((16384 + chunks * 16 / 1024))
    what="LAZ tiles of $copies copies of $(basename "$sample"), $chunks chunks in all"
else
    target_kib=16384
    what="LAS 1.4 point format 6 tiles of $points points"
fi
printf '\n%d %s, %d bytes in all, %d runs each\n' "$files" "$what" "$total" "$runs"
printf 'output: cat %d bytes, Quillet %d bytes\n' "$(cat cat.size)" "$(cat quillet.size)"
printf 'median wall time: cat %.3f s, Quillet %.3f s\n' "$cat_median" "$quillet_median"
printf 'fastest run:      cat %.3f s, Quillet %.3f s\n' "$cat_fastest" "$quillet_fastest"
awk -v q="$quillet_median" -v c="$cat_median" -v r="$rss_max" -v qf="$quillet_fastest" \
    -v cf="$cat_fastest" -v t="$target_kib" -v cr="$cat_rss_max" 'BEGIN {
    printf "ratio Quillet / cat: %.3f of the medians, %.3f of the fastest runs (target at most 1.1)\n", q / c, qf / cf
    printf "Quillet peak resident memory: %.1f MiB (target at most %.2f MiB; cat: %.1f MiB)\n", r / 1024, t / 1024, cr / 1024 }'
