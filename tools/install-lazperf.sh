#!/usr/bin/env bash
# Installs laz-perf 0.0.7, the independent LAZ decoder that the tests check Quillet's LAZ output
# with, and copc 0.0.8, the independent COPC reader built on it, into tests/laz/node_modules.
# Quiet when both are there already. Without npm it says so and exits 0: the tests that need
# them then skip.
set -euo pipefail

dir="$(cd "$(dirname "${BASH_SOURCE[0]}")/../tests/laz" && pwd)"
wanted=("laz-perf 0.0.7" "copc 0.0.8")

missing=0
for entry in "${wanted[@]}"; do
    read -r name version <<<"$entry"
    installed="$dir/node_modules/$name/package.json"
    if ! [ -f "$installed" ] || ! grep -q "\"version\": \"$version\"" "$installed"; then
        missing=1
    fi
done
if [ "$missing" -eq 0 ]; then
    exit 0
fi
if ! command -v npm >/dev/null 2>&1; then
    echo "install-lazperf: npm is not installed; the tests that decode LAZ with laz-perf or read" \
        "COPC with copc will skip"
    exit 0
fi
# package.json pins both packages exactly, and laz-perf has no dependencies of its own, so the
# decoder is reproducible without a lock file and none is written. copc's one other dependency,
# cross-fetch, is only used for reading over HTTP, which the tests never do.
npm install --prefix "$dir" --no-package-lock --no-audit --no-fund --loglevel=error >/dev/null
echo "install-lazperf: laz-perf 0.0.7 and copc 0.0.8 installed in $dir/node_modules"
