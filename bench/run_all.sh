#!/usr/bin/env bash
# Runs every benchmark: the Google Benchmark programs built in BUILD_DIR/bench and the scripts
# that time whole commands against their reference. Each prints medians and ratios.
#
#   bench/run_all.sh BUILD_DIR
set -euo pipefail
build=$(cd "${1:-build-bench}" && pwd)
here=$(cd "$(dirname "$0")" && pwd)

for program in "$build"/bench/*_bench; do
    [ -x "$program" ] || continue
    echo "== $(basename "$program")"
    "$program" --benchmark_repetitions=5 --benchmark_report_aggregates_only=true
done
for script in "$here"/*.sh; do
    name=$(basename "$script")
    [ "$name" != run_all.sh ] || continue
    [ -x "$script" ] || continue
    if [ "$name" = merge_extended_vs_cat.sh ]; then
        # Both kinds of input: LAZ chunks and LAS 1.4 records.
        for kind in laz las14; do
            echo "== $name $kind"
            "$script" "$build" "$kind"
        done
        continue
    fi
    echo "== $name"
    "$script" "$build"
done
