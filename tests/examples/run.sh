#!/bin/sh
# Builds and runs the programs of examples/ against a fresh install of this build, the two ways
# a user would: through the CMake package and through pkg-config.
#
#   run.sh STEP BINARY_DIR SOURCE_DIR WORK_DIR LIBDIR CC CXX SANITIZE LASGEN DEFAULT
#
# STEP is one of
#   install             install the build into WORK_DIR/prefix, check what is installed where,
#                       and write the LAS files that the programs are run on
#   version             which versions the installed package answers find_package for
#   find_package_shared build examples/ with CMake, Korvane_LiDAR::Korvane_LiDAR the shared library
#                       (KORVANE_SHARED left unset when that is the installation's default)
#   find_package_static the same with KORVANE_SHARED=OFF: the static library
#   pkg_config_shared   build each program with one compiler command and pkg-config
#   pkg_config_static   the same with pkg-config --static and libKorvane_LiDAR.a by name (the
#                       system's libraries, PROJ among them, stay shared: Debian has no static PROJ)
# LIBDIR is the library directory relative to the prefix. SANITIZE is 1 when the build uses
# AddressSanitizer and UndefinedBehaviorSanitizer. LASGEN writes synthetic LAS files. DEFAULT is
# the library that Korvane_LiDAR::Korvane_LiDAR names when KORVANE_SHARED is not set: shared or
# static.
set -eu

if [ $# -ne 10 ]; then
    echo "usage: $0 STEP BINARY_DIR SOURCE_DIR WORK_DIR LIBDIR CC CXX SANITIZE LASGEN DEFAULT" >&2
    exit 2
fi
step=$1 binary_dir=$2 source_dir=$3 work=$4 libdir=$5 cc=$6 cxx=$7 sanitize=$8 lasgen=$9
shift 9
default_kind=$1

prefix=$work/prefix
lib=$prefix/$libdir
data=$work/data
out=$work/$step
warnings="-Wall -Wextra -Wpedantic -Werror"

fail() {
    echo "FAILED: $*" >&2
    exit 1
}

# Whether the program at $1 loads the shared library at run time.
loads_shared_library() {
    LC_ALL=C readelf -d "$1" | grep -q 'NEEDED.*\[libKorvane_LiDAR\.so\.1\]'
}

check_linkage() {  # PROGRAM shared|static
    if [ "$2" = shared ]; then
        loads_shared_library "$1" || fail "$1 does not load libKorvane_LiDAR.so.1"
    elif loads_shared_library "$1"; then
        fail "$1 loads libKorvane_LiDAR.so.1 but should hold the static library"
    fi
    echo "ok: $(basename "$1") is linked with the $2 library"
}

# Runs "$@", keeping its standard output in $out/run.txt and its exit status in $status.
run() {
    status=0
    "$@" >"$out/run.txt" 2>"$out/err.txt" || status=$?
    cat "$out/run.txt" "$out/err.txt"
}

expect_line() {  # LINE: a whole line of the last run's standard output
    grep -Fqx -- "$1" "$out/run.txt" || fail "no line '$1' in the output"
}

# las_types classifies one file of each handled type, one of a type it does not handle, a text
# file and a missing file, and reports the first eight as they are and the others as refused.
check_las_types() {  # PROGRAM
    tab=$(printf '\t')
    run "$1" "$data/t1.las" "$data/t8.las"
    [ "$status" -eq 0 ] || fail "las_types exits with $status on two LAS files"
    expect_line "1$tab$data/t1.las${tab}LAS 1.0, point format 0"
    expect_line "8$tab$data/t8.las${tab}LAS 1.2, point format 3"

    set -- "$1"
    for code in 1 2 3 4 5 6 7 8; do set -- "$@" "$data/t$code.las"; done
    run "$@" "$data/old.las" "$data/text.las" "$data/missing.las"
    [ "$status" -eq 1 ] || fail "las_types exits with $status, not 1, when files are refused"
    code=0
    for version_format in "1.0 0" "1.0 1" "1.1 0" "1.1 1" "1.2 0" "1.2 1" "1.2 2" "1.2 3"; do
        code=$((code + 1))
        expect_line "$code$tab$data/t$code.las${tab}LAS ${version_format% *}, point format ${version_format#* }"
    done
    expect_line "0$tab$data/old.las${tab}LAS 1.0 or 1.1 with point format 2 or 3, not handled"
    expect_line "-1$tab$data/text.las${tab}not a LAS file of a handled type"
    expect_line "-1$tab$data/missing.las${tab}not a LAS file of a handled type"
    expect_line "$data/text.las is not a valid .las file"
    expect_line "File $data/missing.las does NOT exist"
    echo "ok: las_types reports the type of every file"
}

# refresh_header recomputes the header of a copy whose counts and bounding box were cleared:
# the copy ends byte for byte like the file as generated, and the stale file is left alone.
check_refresh_header() {  # PROGRAM
    for code in 1 6 8; do
        stale=$out/stale$code.las fresh=$out/fresh$code.las
        rm -f "$fresh"
        cp "$data/t$code.las" "$stale"
        dd if=/dev/zero of="$stale" bs=1 seek=107 count=24 conv=notrunc 2>/dev/null
        dd if=/dev/zero of="$stale" bs=1 seek=179 count=48 conv=notrunc 2>/dev/null
        cp "$stale" "$out/stale.copy"
        run "$1" "$stale" "$fresh"
        [ "$status" -eq 0 ] || fail "refresh_header exits with $status on t$code.las"
        cmp "$fresh" "$data/t$code.las" || fail "the recomputed header of t$code.las differs"
        cmp "$stale" "$out/stale.copy" || fail "refresh_header changed its input"
        grep -Fq "Header of file $fresh has been updated" "$out/run.txt" ||
            fail "no update message for $fresh"
        expect_line "  points            0"
        expect_line "  points            $(sed -n "s/^t$code.las //p" "$data/points.txt")"
    done

    # A type that update_header cannot read ends the program with its status, copy untouched.
    rm -f "$out/fresh-old.las"
    run "$1" "$data/old.las" "$out/fresh-old.las"
    [ "$status" -eq 255 ] || fail "refresh_header exits with $status, not 255, on old.las"
    cmp "$out/fresh-old.las" "$data/old.las" || fail "a refused update changed the copy"
    echo "ok: refresh_header recomputes the header of a copy"
}

# merge_tiles merges two generated tiles into a LAZ file whose bytes are those that Quillet
# --extended writes, and refuses a missing input with its status and message.
check_merge_tiles() {  # PROGRAM
    run "$1" "$out/merged.laz" "$data/t8.las" "$data/t8.las"
    [ "$status" -eq 0 ] || fail "merge_tiles exits with $status on two tiles"
    expect_line "$((2 * (300 + 37 * 8))) points merged into $out/merged.laz"
    printf '%s\n%s\n' "$data/t8.las" "$data/t8.las" >"$out/list.txt"
    "$prefix/bin/Quillet" --extended "$out/list.txt" "$out/quillet.laz" >/dev/null ||
        fail "Quillet --extended fails on the same tiles"
    cmp "$out/merged.laz" "$out/quillet.laz" || fail "merge_tiles and Quillet wrote different bytes"
    run "$1" "$out/none.laz" "$data/t8.las" "$data/missing.las"
    [ "$status" -eq 1 ] || fail "merge_tiles exits with $status, not 1, on a missing input"
    expect_line "KORVANE_BAD_INPUT:Unable to open file $data/missing.las in file_access()"
    [ ! -e "$out/none.laz" ] || fail "merge_tiles left an output after a failure"
    echo "ok: merge_tiles merges as Quillet does and refuses a missing input"
}

case "$step" in
install)
    rm -rf "$work"
    mkdir -p "$work" "$data"
    cmake --install "$binary_dir" --prefix "$prefix" >"$work/install.log" ||
        { cat "$work/install.log"; fail "cmake --install"; }
    for f in bin/Quillet include/Korvane_LiDAR.h "$libdir/libKorvane_LiDAR.a" \
        "$libdir/libKorvane_LiDAR.so.1.0.0" \
        "$libdir/cmake/Korvane_LiDAR/Korvane_LiDARConfig.cmake" \
        "$libdir/cmake/Korvane_LiDAR/Korvane_LiDARConfigVersion.cmake" \
        "$libdir/cmake/Korvane_LiDAR/Korvane_LiDARTargets.cmake" \
        "$libdir/pkgconfig/korvane_lidar.pc" share/man/man1/Quillet.1 \
        share/man/man3/Korvane_LiDAR.3; do
        [ -f "$prefix/$f" ] || fail "$f is not installed"
    done
    [ "$(readlink "$lib/libKorvane_LiDAR.so")" = libKorvane_LiDAR.so.1 ] ||
        fail "libKorvane_LiDAR.so does not link to libKorvane_LiDAR.so.1"
    [ "$(readlink "$lib/libKorvane_LiDAR.so.1")" = libKorvane_LiDAR.so.1.0.0 ] ||
        fail "libKorvane_LiDAR.so.1 does not link to libKorvane_LiDAR.so.1.0.0"
    LC_ALL=C readelf -d "$lib/libKorvane_LiDAR.so.1.0.0" | grep -q 'SONAME.*\[libKorvane_LiDAR\.so\.1\]' ||
        fail "the shared library's SONAME is not libKorvane_LiDAR.so.1"
    echo "ok: tool, libraries, header, CMake and pkg-config files and manual pages installed"

    # One file of each handled type (codes 1 to 8), one that is not handled, one not LAS.
    code=0
    for minor_format in "0 0" "0 1" "1 0" "1 1" "2 0" "2 1" "2 2" "2 3"; do
        code=$((code + 1))
        minor=${minor_format% *} format=${minor_format#* }
        "$lasgen" "$data/t$code.las" $((300 + 37 * code)) "$format" "$minor" "$code"
        echo "t$code.las $((300 + 37 * code))" >>"$data/points.txt"
    done
    "$lasgen" "$data/old.las" 50 2 1 9
    echo "a list of names, not a LAS file" >"$data/text.las"
    ;;
version)
    config_dir=$lib/cmake/Korvane_LiDAR
    for case in 1:TRUE 1.0:TRUE 1.0.0:TRUE 0.9:FALSE 1.1:FALSE 2.0:FALSE; do
        requested=${case%%:*} expected=${case#*:}
        answer=$(cmake -DVERSION_FILE="$config_dir/Korvane_LiDARConfigVersion.cmake" \
            -DREQUESTED="$requested" -P "$source_dir/tests/examples/version_answer.cmake" 2>&1)
        [ "$answer" = "$expected" ] ||
            fail "a request for version $requested is answered '$answer', not $expected"
    done
    echo "ok: the package is version 1.0.0 and answers requests for 1.x up to 1.0"
    ;;
find_package_shared | find_package_static)
    kind=${step#find_package_}
    choice=-DKORVANE_SHARED=ON
    [ "$kind" = static ] && choice=-DKORVANE_SHARED=OFF
    [ "$kind" = "$default_kind" ] && choice=-UKORVANE_SHARED
    rm -rf "$out"
    mkdir -p "$out"
    cmake -S "$source_dir/examples" -B "$out/build" -DCMAKE_PREFIX_PATH="$prefix" \
        "$choice" -DCMAKE_BUILD_TYPE= -DCMAKE_C_COMPILER="$cc" \
        -DCMAKE_CXX_COMPILER="$cxx" -DCMAKE_C_FLAGS="-O0 $warnings" \
        -DCMAKE_CXX_FLAGS="-O0 $warnings" >"$out/configure.log" 2>&1 ||
        { cat "$out/configure.log"; fail "configuring examples/"; }
    found=$(sed -n 's/^Korvane_LiDAR_DIR:PATH=//p' "$out/build/CMakeCache.txt")
    [ "$found" = "$lib/cmake/Korvane_LiDAR" ] || fail "find_package found '$found'"
    cmake --build "$out/build" >"$out/build.log" 2>&1 ||
        { cat "$out/build.log"; fail "building examples/"; }
    check_linkage "$out/build/las_types" "$kind"
    check_linkage "$out/build/refresh_header" "$kind"
    check_linkage "$out/build/merge_tiles" "$kind"
    check_las_types "$out/build/las_types"
    check_refresh_header "$out/build/refresh_header"
    check_merge_tiles "$out/build/merge_tiles"
    ;;
pkg_config_shared | pkg_config_static)
    kind=${step#pkg_config_}
    rm -rf "$out"
    mkdir -p "$out"
    # Only the fresh install is searched, whatever else the machine has.
    PKG_CONFIG_LIBDIR=$lib/pkgconfig
    export PKG_CONFIG_LIBDIR
    unset PKG_CONFIG_PATH
    [ "$(pkg-config --modversion korvane_lidar)" = 1.0.0 ] || fail "pkg-config --modversion"
    if [ "$kind" = shared ]; then
        rpath="-Wl,-rpath,$(pkg-config --variable=libdir korvane_lidar)"
        # shellcheck disable=SC2046,SC2086
        "$cc" -std=c11 -O0 $warnings "$source_dir/examples/las_types.c" -o "$out/las_types" \
            $(pkg-config --cflags --libs korvane_lidar) "$rpath"
        # shellcheck disable=SC2046,SC2086
        "$cxx" -std=c++17 -O0 $warnings "$source_dir/examples/refresh_header.cpp" \
            -o "$out/refresh_header" $(pkg-config --cflags --libs korvane_lidar) "$rpath"
        # shellcheck disable=SC2046,SC2086
        "$cc" -std=c11 -O0 $warnings "$source_dir/examples/merge_tiles.c" -o "$out/merge_tiles" \
            $(pkg-config --cflags --libs korvane_lidar) "$rpath"
    else
        if [ "$sanitize" = 1 ]; then
            echo "SKIPPED: a sanitizer build's static library is linked through the CMake package"
            exit 77
        fi
        libs=$(pkg-config --static --cflags --libs korvane_lidar |
            sed 's/-lKorvane_LiDAR/-l:libKorvane_LiDAR.a/')
        # shellcheck disable=SC2086
        "$cc" -std=c11 -O0 $warnings "$source_dir/examples/las_types.c" -o "$out/las_types" $libs
        # shellcheck disable=SC2086
        "$cxx" -std=c++17 -O0 $warnings "$source_dir/examples/refresh_header.cpp" \
            -o "$out/refresh_header" $libs
        # shellcheck disable=SC2086
        "$cc" -std=c11 -O0 $warnings "$source_dir/examples/merge_tiles.c" -o "$out/merge_tiles" \
            $libs
    fi
    check_linkage "$out/las_types" "$kind"
    check_linkage "$out/refresh_header" "$kind"
    check_linkage "$out/merge_tiles" "$kind"
    check_las_types "$out/las_types"
    check_refresh_header "$out/refresh_header"
    check_merge_tiles "$out/merge_tiles"
    ;;
*)
    fail "unknown step $step"
    ;;
esac
