#!/usr/bin/env bash
# The main job on generated data: writes sample tiles, lists them, merges them with Quillet and
# shows what the merged header says; then the LAZ path: the tiles encoded to LAZ by Quillet, the
# LAZ tiles merged by copying their chunks, and that merge decoded back to LAS.
#
#   tools/demo.sh BUILD_DIR
set -euo pipefail
build=$(cd "${1:-build}" && pwd)
demo=demo
rm -rf "$demo"
mkdir -p "$demo"
cd "$demo"

echo "== Writing four LAS 1.2 tiles (point format 1, a projection VLR each, scale 0.01)"
for i in 1 2 3 4; do
    # 2,500 to 4,000 points each, side by side along x.
    "$build/tools/lasgen" "tile$i.las" $((1000 + 750 * i)) 1 2 "$i" $((100000 * i)) 0
    printf '  tile%s.las  %s bytes\n' "$i" "$(stat -c %s "tile$i.las")"
done
printf 'tile1.las\ntile2.las\ntile3.las\ntile4.las\n' >list.txt

echo
echo "== Quillet list.txt merged.las"
status=0
"$build/merge/Quillet" list.txt merged.las || status=$?
echo
echo "== exit status $status"
[ "$status" -eq 0 ] || exit "$status"

echo
echo "== What the merged header says"
"$build/tools/lasinfo" merged.las

echo
echo "== The LAZ path: each tile encoded to LAZ (Quillet --extended, a .laz output)"
for i in 1 2 3 4; do
    # A list of the tile and an empty twin: a merge needs two files; the twin adds no point.
    printf 'tile%s.las\nempty.las\n' "$i" >"list$i.txt"
done
"$build/tools/lasgen" empty.las 0 1 2 0 0 0 >/dev/null
for i in 1 2 3 4; do
    "$build/merge/Quillet" --extended "list$i.txt" "tile$i.laz" >/dev/null
    printf '  tile%s.laz  %s bytes (tile%s.las: %s)\n' "$i" "$(stat -c %s "tile$i.laz")" "$i" \
        "$(stat -c %s "tile$i.las")"
done
printf 'tile1.laz\ntile2.laz\ntile3.laz\ntile4.laz\n' >list-laz.txt

echo
echo "== Quillet --extended list-laz.txt merged.laz (the chunks are copied, not decoded)"
"$build/merge/Quillet" --extended list-laz.txt merged.laz
echo
echo
echo "== What the merged LAZ header says"
"$build/tools/lasinfo" merged.laz

echo
echo "== Quillet --extended list-decode.txt decoded.las (merged.laz decoded back to LAS)"
printf 'merged.laz\nempty.las\n' >list-decode.txt
"$build/merge/Quillet" --extended list-decode.txt decoded.las >/dev/null
if cmp -s merged.las decoded.las; then
    echo "  decoded.las is merged.las, byte for byte"
else
    echo "  decoded.las differs from merged.las"
    exit 1
fi
