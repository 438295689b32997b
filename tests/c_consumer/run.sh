#!/bin/sh
# Uses the library as an outside C or C++ program would: from an installed copy.
#
#   run.sh STEP BINARY_DIR PREFIX INCLUDEDIR LIBDIR CC CXX SANITIZE SOURCE_DIR WORK_DIR
#
# STEP is one of
#   install  install the build in BINARY_DIR into PREFIX (a fresh directory)
#   header   compile the installed header alone as C11 and as C++20, warnings as errors
#   shared   build consumer.c as C11 against the installed shared library and run it
#   static   the same against the installed static library (with the C++ runtime)
# INCLUDEDIR and LIBDIR are relative to PREFIX. SANITIZE is 1 when the library was built with
# AddressSanitizer and UndefinedBehaviorSanitizer: the consumer is then linked with them too.
set -eu

if [ $# -ne 10 ]; then
    echo "usage: $0 STEP BINARY_DIR PREFIX INCLUDEDIR LIBDIR CC CXX SANITIZE SOURCE_DIR WORK_DIR" >&2
    exit 2
fi
step=$1 binary_dir=$2 prefix=$3 includedir=$4 libdir=$5 cc=$6 cxx=$7 sanitize=$8
source_dir=$9
shift 9
work_dir=$1

warnings="-Wall -Wextra -Wpedantic -Werror"
include="$prefix/$includedir"
lib="$prefix/$libdir"
sanitizer_flags=""
if [ "$sanitize" = 1 ]; then
    sanitizer_flags="-fsanitize=address,undefined -fno-omit-frame-pointer"
fi

fail() {
    echo "FAILED: $*" >&2
    exit 1
}

# Runs the consumer built at $1 and checks what it reports.
run_consumer() {
    exe=$1
    tile="$work_dir/tile-$step.las"
    rm -f "$tile"
    status=0
    "$exe" "$tile" >"$work_dir/out-$step.txt" 2>"$work_dir/err-$step.txt" || status=$?
    cat "$work_dir/out-$step.txt"
    cat "$work_dir/err-$step.txt" >&2
    [ "$status" -eq 0 ] || fail "the $step consumer exited with status $status"
    grep -q '^FAILED' "$work_dir/out-$step.txt" && fail "the $step consumer reported a failed check"
    grep -qx 'ok: check_numeric_argument returned for -12.5' "$work_dir/out-$step.txt" ||
        fail "check_numeric_argument did not return"
    grep -q 'Korvane LiDAR Utilities' "$work_dir/out-$step.txt" || fail "no banner printed"
    [ "$(tail -n 1 "$work_dir/out-$step.txt")" = "consumer: every check passed" ] ||
        fail "the $step consumer did not finish its checks"
    return 0
}

# Whether the program at $1 loads libKorvane_LiDAR.so at run time.
needs_shared_library() {
    LC_ALL=C readelf -d "$1" | grep -q 'NEEDED.*\[libKorvane_LiDAR\.so'
}

case "$step" in
install)
    rm -rf "$prefix"
    cmake --install "$binary_dir" --prefix "$prefix"
    [ -f "$include/Korvane_LiDAR.h" ] || fail "Korvane_LiDAR.h not installed in $include"
    [ -f "$lib/libKorvane_LiDAR.a" ] || fail "libKorvane_LiDAR.a not installed in $lib"
    [ -e "$lib/libKorvane_LiDAR.so" ] || fail "libKorvane_LiDAR.so not installed in $lib"
    ;;
header)
    mkdir -p "$work_dir"
    printf '#include <Korvane_LiDAR.h>\nint main(void) { return sizeof(LAS12Header) == 227 ? 0 : 1; }\n' \
        >"$work_dir/header_only.c"
    # shellcheck disable=SC2086
    "$cc" -std=c11 $warnings -I"$include" -c "$work_dir/header_only.c" -o "$work_dir/header_c.o"
    echo "ok: Korvane_LiDAR.h compiles as C11"
    # shellcheck disable=SC2086
    "$cxx" -x c++ -std=c++20 $warnings -I"$include" -c "$work_dir/header_only.c" \
        -o "$work_dir/header_cxx.o"
    echo "ok: Korvane_LiDAR.h compiles as C++20"
    ;;
shared)
    mkdir -p "$work_dir"
    # shellcheck disable=SC2086
    "$cc" -std=c11 $warnings $sanitizer_flags -I"$include" "$source_dir/consumer.c" \
        -o "$work_dir/consumer-shared" -L"$lib" -Wl,-rpath,"$lib" -lKorvane_LiDAR
    if command -v readelf >/dev/null 2>&1; then
        needs_shared_library "$work_dir/consumer-shared" ||
            fail "the shared consumer does not load libKorvane_LiDAR.so"
    fi
    run_consumer "$work_dir/consumer-shared"
    ;;
static)
    mkdir -p "$work_dir"
    # shellcheck disable=SC2086
    "$cc" -std=c11 $warnings $sanitizer_flags -I"$include" "$source_dir/consumer.c" \
        -o "$work_dir/consumer-static" "$lib/libKorvane_LiDAR.a" -lstdc++ -lm
    if command -v readelf >/dev/null 2>&1; then
        if needs_shared_library "$work_dir/consumer-static"; then
            fail "the static consumer loads libKorvane_LiDAR.so"
        fi
    fi
    run_consumer "$work_dir/consumer-static"
    ;;
*)
    fail "unknown step $step"
    ;;
esac
