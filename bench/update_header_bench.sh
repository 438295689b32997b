#!/usr/bin/env bash
# Times the header statistics update on a page-cached file of about 1 GB of 20-byte records
# against `cat FILE > /dev/null` and a plain read loop, side by side in one run, and prints the
# medians and ratios. The file is written with lasgen and removed afterwards.
#
#   bench/update_header_bench.sh [BUILD_DIR [POINTS]]
#
# BUILD_DIR is a build configured with -DKORVANE_BUILD_BENCH=ON (default build-bench); POINTS
# defaults to 50,000,000 (1,000,000,000 bytes of point records). Further benchmark options can
# be passed in BENCH_ARGS, e.g. BENCH_ARGS=--benchmark_filter=cat.
set -euo pipefail

build=${1:-build-bench}
points=${2:-50000000}
lasgen="$build/tools/lasgen"
bench="$build/bench/update_header_bench"
for program in "$lasgen" "$bench"; do
    if [[ ! -x "$program" ]]; then
        echo "missing $program: build $build with -DKORVANE_BUILD_BENCH=ON first" >&2
        exit 2
    fi
done

file=$(mktemp --tmpdir --suffix=.las update_header_bench.XXXXXX)
trap 'rm -f "$file"' EXIT

echo "writing $points points of format 0 (LAS 1.2) to $file"
"$lasgen" "$file" "$points" 0 2
cat "$file" > /dev/null  # into the page cache

# shellcheck disable=SC2086
UPDATE_HEADER_BENCH_FILE="$file" "$bench" ${BENCH_ARGS:-}
