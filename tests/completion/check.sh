#!/bin/bash
# check.sh COMPLETION: what bash completes for Quillet's command lines, against a scratch tree.
set -u
source "$1" || exit 1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1
mkdir tiles && touch a.las B.LAZ c.vpc list.txt notes.md
status=0

# WORDS... then ":" then the expected completions, sorted
expect() {
    local words=() want=()
    while [ "$1" != ":" ]; do words+=("$1"); shift; done
    shift
    want=("$@")
    COMP_WORDS=(Quillet "${words[@]}")
    COMP_CWORD=${#words[@]}
    COMPREPLY=()
    _quillet
    local got
    got=$(printf '%s\n' "${COMPREPLY[@]}" | sort | tr '\n' ' ')
    local wanted
    wanted=$(printf '%s\n' "${want[@]}" | sort | tr '\n' ' ')
    if [ "$got" != "$wanted" ]; then
        echo "FAILED: Quillet ${words[*]}<TAB>: got [$got], want [$wanted]"
        status=1
    fi
}

expect --js : --json
expect --th : --threads
expect -o "" : a.las B.LAZ tiles
expect -o m.laz "" : a.las B.LAZ c.vpc list.txt tiles
expect -o m.laz --input-list "" : a.las B.LAZ c.vpc list.txt notes.md tiles
expect -o m.laz --threads "" :
expect --me : --memory
expect -o m.copc.laz --memory "" :
expect -o m.copc.laz --temp-dir "" : tiles
exit $status
