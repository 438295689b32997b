#!/bin/sh
# exported_symbols.sh EXPORTS QUILLET LIBRARY
# Every name in EXPORTS must be a function defined and exported by QUILLET and by LIBRARY, and
# LIBRARY must export no other function.
set -eu
exports=$1 quillet=$2 library=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

sort -u "$exports" >"$work/expected"
defined_functions() { nm -D --defined-only "$1" | awk '$2 == "T" { print $3 }' | sed 's/@.*//' | sort -u; }
defined_functions "$quillet" >"$work/quillet"
defined_functions "$library" >"$work/library"

status=0
missing=$(comm -23 "$work/expected" "$work/quillet")
if [ -n "$missing" ]; then echo "Quillet does not export: $missing"; status=1; fi
missing=$(comm -23 "$work/expected" "$work/library")
if [ -n "$missing" ]; then echo "the shared library does not export: $missing"; status=1; fi
extra=$(comm -13 "$work/expected" "$work/library")
if [ -n "$extra" ]; then echo "the shared library also exports: $extra"; status=1; fi
echo "$(wc -l <"$work/expected") names checked"
exit $status
