#!/usr/bin/env bash
# Run by the make targets before they build: installs the Debian packages that the target needs
# and that are missing, with tools/install-deps.sh, after naming them. As root it runs that
# script directly, otherwise through sudo; without sudo it stops with one line that names the
# packages and the command that installs them. When nothing is missing it prints nothing,
# installs nothing and asks nothing.
#
#   tools/ensure-deps.sh TARGET...    (the targets of tools/install-deps.sh: demo, test, ...)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)

if ! command -v dpkg-query >/dev/null 2>&1; then
    echo "ensure-deps: no dpkg-query (not Debian): packages not checked" >&2
    exit 0
fi
missing=$("$here/install-deps.sh" --missing "$@")
[ -n "$missing" ] || exit 0

if [ "$(id -u)" -eq 0 ]; then
    echo "ensure-deps: Debian packages not installed: $missing; installing them" \
        "(tools/install-deps.sh $*)"
    "$here/install-deps.sh" "$@"
elif command -v sudo >/dev/null 2>&1; then
    echo "ensure-deps: Debian packages not installed: $missing; installing them" \
        "(sudo tools/install-deps.sh $*)"
    sudo "$here/install-deps.sh" "$@"
else
    echo "ensure-deps: Debian packages not installed: $missing;" \
        "install them as root: su -c 'apt-get install $missing'" >&2
    exit 1
fi
