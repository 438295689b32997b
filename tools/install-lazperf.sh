#!/usr/bin/env bash
# Installs laz-perf 0.0.7, the independent LAZ decoder that the tests check Quillet's LAZ output
# with, into tests/laz/node_modules. Quiet when it is there already. Without npm it says so and
# exits 0: the tests that need the decoder then skip.
set -euo pipefail

dir="$(cd "$(dirname "${BASH_SOURCE[0]}")/../tests/laz" && pwd)"
wanted=0.0.7
installed="$dir/node_modules/laz-perf/package.json"

if [ -f "$installed" ] && grep -q "\"version\": \"$wanted\"" "$installed"; then
    exit 0
fi
if ! command -v npm >/dev/null 2>&1; then
    echo "install-lazperf: npm is not installed; the tests that decode LAZ with laz-perf will skip"
    exit 0
fi
# The exact version in package.json and no dependencies of its own make the install
# reproducible without a lock file, so none is written.
npm install --prefix "$dir" --no-package-lock --no-audit --no-fund --loglevel=error >/dev/null
echo "install-lazperf: laz-perf $wanted installed in $dir/node_modules"
