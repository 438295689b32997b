#!/usr/bin/env bash
# Installs the Debian packages that a make target needs, when they are missing. Run as root (or
# through sudo) on Debian bookworm. Without a target it installs everything that CI needs:
# building, testing, fuzzing and packaging.
#
#   tools/install-deps.sh [all|demo|test|fuzz|package|bench|valgrind]...
#   tools/install-deps.sh --missing TARGET...   only prints the missing packages, on one line
#
# `make demo`, `make test` and the other make targets call it through tools/ensure-deps.sh.
set -euo pipefail

# The packages of one target, printed one per line.
packages_of() {
    case $1 in
    # The demo builds Quillet, the tile generator and the header viewer: a C and C++ compiler
    # (g++ brings gcc along), CMake, PROJ with its EPSG database (the library reads and writes
    # coordinate systems with it) and nlohmann's JSON library (virtual point clouds, reports).
    demo) echo cmake make g++ libproj-dev nlohmann-json3-dev ;;
    # The tests: GoogleTest, pkg-config for the consumer builds, groff for the manual-page lint,
    # node and npm for the LAZ tests (tools/install-lazperf.sh fetches laz-perf with npm). The
    # sanitizer builds use the same packages.
    test) echo cmake make g++ libproj-dev nlohmann-json3-dev googletest libgtest-dev pkgconf groff-base nodejs npm ;;
    # The libFuzzer targets are built with clang and its sanitizer runtimes.
    fuzz) echo cmake make g++ libproj-dev nlohmann-json3-dev clang libclang-rt-14-dev ;;
    # cpack's DEB generator runs file on every installed file and dpkg-shlibdeps on the library.
    package) echo cmake make g++ libproj-dev nlohmann-json3-dev file dpkg-dev ;;
    bench) echo cmake make g++ libproj-dev nlohmann-json3-dev libbenchmark-dev ;;
    # CI checks that the sources are formatted as .clang-format says.
    format) echo clang-format ;;
    valgrind) echo valgrind ;;
    # CI: the tests, the clang build, the fuzzers, the package, the benchmarks' library and the
    # format check.
    all) for t in test fuzz package bench format; do packages_of "$t"; done ;;
    *)
        echo "install-deps: unknown target '$1' (all, demo, test, fuzz, package, bench, format, valgrind)" >&2
        return 2
        ;;
    esac
}

# Installed packages and the packages they provide (nodejs from NodeSource provides npm, and
# conflicts with Debian's npm package: asking apt for npm there would fail).
present() {
    dpkg-query -W -f='${Status}\t${Package}\t${Provides}\n' 2>/dev/null |
        awk -F '\t' '$1 == "install ok installed" {
            print $2
            n = split($3, provided, /, */)
            for (i = 1; i <= n; i++) { sub(/ .*/, "", provided[i]); if (provided[i] != "") print provided[i] }
        }' | sort -u
}

# The packages of the given targets that are neither installed nor provided, one per line.
missing_of() {
    local wanted
    wanted=$(for t in "$@"; do packages_of "$t" || exit 2; done | tr ' ' '\n' | sort -u) ||
        return 2
    comm -23 <(echo "$wanted") <(present)
}

list_only=0
if [ "${1:-}" = --missing ]; then
    list_only=1
    shift
fi
[ $# -gt 0 ] || set -- all

missing=$(missing_of "$@") || exit 2
if [ "$list_only" = 1 ]; then
    # shellcheck disable=SC2086  # one line, the names separated by blanks
    echo $missing
    exit 0
fi
if [ -z "$missing" ]; then
    echo "install-deps: everything is installed"
    exit 0
fi
# shellcheck disable=SC2086
echo "install-deps: installing" $missing
export DEBIAN_FRONTEND=noninteractive
apt-get update -q
# shellcheck disable=SC2086
apt-get install -y -q $missing
