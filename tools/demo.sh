#!/usr/bin/env bash
# The main job on generated data: writes sample tiles, lists them, merges them with Quillet and
# shows what the merged header says.
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
