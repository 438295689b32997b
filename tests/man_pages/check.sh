#!/bin/sh
# check.sh SOURCE_DIR
# The manual pages format without a single warning, and each quotes every message that its
# program or library can print, as the sources write it: Quillet(1) the merge tool's messages
# and those of the library functions it calls, Korvane_LiDAR(3) every library message.
set -eu
source_dir=$1
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
status=0

lint() {  # PAGE
    groff -ww -z -man "$1" >"$work/lint" 2>&1 || true
    if [ -s "$work/lint" ]; then
        echo "groff warns about $1:"
        cat "$work/lint"
        status=1
    fi
    if command -v man >/dev/null 2>&1; then
        MANWIDTH=80 man --warnings -E UTF-8 -l "$1" >/dev/null 2>"$work/lint" || true
        if [ -s "$work/lint" ]; then
            echo "man warns about $1:"
            cat "$work/lint"
            status=1
        fi
    fi
}

# The page as plain text on one line, every run of blanks squeezed to one.
page_text() {  # PAGE
    groff -man -Tascii -P-c -P-b -P-u -P-o -rLL=3000n "$1" 2>/dev/null | tr -s ' \t\n' '   '
}

# Texts that the sources hold but that the page need not quote (grep -x patterns, one a line).
ignored=$work/ignored
: >"$ignored"

quotes_messages() {  # PAGE SOURCE...
    page=$1
    shift
    page_text "$page" >"$work/page"
    for source in "$@"; do awk -f "$here/string_literals.awk" "$source"; done |
        awk -f "$here/fragments.awk" | sort -u | grep -vxf "$ignored" >"$work/fragments" || true
    missing=0
    while IFS= read -r fragment; do
        if ! grep -Fq -- "$fragment" "$work/page"; then
            [ "$missing" -eq 0 ] && echo "$(basename "$page") does not quote these message texts:"
            echo "  $fragment"
            missing=1
        fi
    done <"$work/fragments"
    [ "$missing" -eq 0 ] || status=1
    echo "$(basename "$page"): $(wc -l <"$work/fragments") message texts checked"
}

quillet=$source_dir/docs/Quillet.1
library=$source_dir/docs/Korvane_LiDAR.3
lint "$quillet"
lint "$library"
# error_msg(2, ...), "File ... already exists", is never printed by the merge tool, nor are the
# messages that only the merge's C interface can give (listed in library_only.txt).
echo 'already exists' >"$ignored"
cat "$here/library_only.txt" >>"$ignored"
# The help text (merge/cli/help_text.cpp) is the help, not a message: the page describes it instead.
quotes_messages "$quillet" $(ls "$source_dir"/merge/*/*.cpp | grep -v '/help_text\.cpp$') \
    "$source_dir/lidar/src/credits.cpp" \
    "$source_dir/lidar/src/file_checks.cpp" "$source_dir/lidar/src/las_classify.cpp"
: >"$ignored"
quotes_messages "$library" "$source_dir"/lidar/src/*.cpp "$source_dir/merge/core/korvane_merge.cpp"
# What only the C interface gives must be in the library's page.
page_text "$library" >"$work/page"
while IFS= read -r fragment; do
    if ! grep -Fq -- "$fragment" "$work/page"; then
        echo "$(basename "$library") does not quote the library's message text: $fragment"
        status=1
    fi
done <"$here/library_only.txt"
exit $status
