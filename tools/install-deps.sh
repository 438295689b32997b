#!/usr/bin/env bash
# Installs the Debian packages that building, testing, fuzzing and packaging need, when they are
# missing. Run as root (or through sudo) on Debian bookworm.
set -euo pipefail

packages=(cmake make g++ googletest libgtest-dev libbenchmark-dev clang libclang-rt-14-dev
          pkgconf groff-base)
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ]; then
    echo "install-deps: everything is installed"
    exit 0
fi
export DEBIAN_FRONTEND=noninteractive
apt-get update -q
apt-get install -y -q "${missing[@]}"
