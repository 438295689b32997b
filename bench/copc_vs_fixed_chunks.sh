#!/usr/bin/env bash
# A merge into cloud optimised LAZ against the re-encoding merge of the same tiles.
#
#   bench/copc_vs_fixed_chunks.sh BUILD_DIR [RUNS]
#
# Two LAZ tiles of LAS 1.1 point format 1, lone-star-split-2.laz's chunks repeated by lazgen to
# about 5.1 million points and lone-star-split-1.laz's to about 6.0 million. Interleaved, RUNS
# (default 5) times: `Quillet -o out.copc.laz a.laz b.laz` (decoded, converted to format 6, made
# an octree, every node encoded) beside `Quillet --extended --fixed-chunks` of the same tiles
# into one LAZ file (decoded and encoded again). Prints the medians, points a second, the ratio
# (target: COPC at most 3 x the re-encoding, and at most 3.4 s), each one's peak memory and the
# temporary space the COPC merge staged.
set -euo pipefail
build=$(cd "${1:-build-bench}" && pwd)
runs=${2:-5}
here=$(cd "$(dirname "$0")" && pwd)
samples=$here/../tests/data
dir=${BENCH_DIR:-/tmp/quillet-bench-copc}
quillet=$build/merge/Quillet
for program in "$quillet" "$build/tools/lazgen"; do
    [ -x "$program" ] || { echo "missing $program: build the benchmarks in $build first" >&2; exit 2; }
done
mkdir -p "$dir"
cd "$dir"
. "$here/timing.bash"
trap 'rm -f a.laz b.laz out.copc.laz out.laz' EXIT
"$build/tools/lazgen" "$samples/lone-star-split-2.laz" a.laz 33 >/dev/null
"$build/tools/lazgen" "$samples/lone-star-split-1.laz" b.laz 49 >/dev/null
printf 'a.laz\nb.laz\n' >list.txt
cat a.laz b.laz >/dev/null

timed() {  # TIMES RSS COMMAND...
    local times=$1 rss=$2 start
    shift 2
    start=$(now)
    /usr/bin/time -f %M -o rss.txt "$@" >run.log
    elapsed "$start" >>"$times"
    cat rss.txt >>"$rss"
}
copc() { timed copc.times copc.rss "$quillet" -o out.copc.laz -q a.laz b.laz; }
fixed() { timed fixed.times fixed.rss "$quillet" --extended --fixed-chunks list.txt out.laz; }

: >copc.times; : >copc.rss; : >fixed.times; : >fixed.rss
for run in $(seq 1 "$runs"); do
    rm -f out.copc.laz out.laz
    if [ $((run % 2)) -eq 1 ]; then copc; fixed; else fixed; copc; fi
    echo "run $run: COPC $(tail -n 1 copc.times) s, --fixed-chunks $(tail -n 1 fixed.times) s"
done

points=$("$quillet" -o out.copc.laz a.laz b.laz --dry-run --json |
    sed -n 's/.*"points":\([0-9]*\),"box".*/\1/p')
staged=$("$quillet" -o out.copc.laz a.laz b.laz --dry-run |
    sed -n 's/.*staged as LAS beside the output (\([0-9]*\) bytes.*/\1/p')
c=$(median <copc.times)
f=$(median <fixed.times)
echo
echo "points: $points; COPC output $(stat -c %s out.copc.laz) bytes, re-encoded $(stat -c %s out.laz) bytes"
echo "COPC:           median $c s ($(awk -v p="$points" -v t="$c" 'BEGIN { printf "%.2f", p / t / 1e6 }') million points a second), peak $(awk '{ printf "%.1f\n", $1 / 1024 }' copc.rss | median) MiB, staged $(awk -v b="$staged" 'BEGIN { printf "%.1f", b / 1048576 }') MiB"
echo "--fixed-chunks: median $f s, peak $(awk '{ printf "%.1f\n", $1 / 1024 }' fixed.rss | median) MiB"
echo "COPC / --fixed-chunks: $(awk -v a="$c" -v b="$f" 'BEGIN { printf "%.3f", a / b }') (target at most 3)"
