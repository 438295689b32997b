#!/usr/bin/env bash
# Runs the GoogleTest programs of a build under valgrind, and every Quillet that they start too
# (through QUILLET_WRAPPER), and reports memory errors and leaks: definite and indirect leaks
# count as errors. Logs are kept in BUILD_DIR/valgrind/. Exits non-zero when a program failed
# or valgrind found an error.
#
#   tests/run_valgrind.sh BUILD_DIR [TEST_PROGRAM...]
set -uo pipefail
build=${1:?usage: run_valgrind.sh BUILD_DIR [TEST_PROGRAM...]}
shift
command -v valgrind >/dev/null || { echo "valgrind is not installed (apt-get install valgrind)"; exit 1; }
build=$(cd "$build" && pwd)
logs="$build/valgrind"
rm -rf "$logs"
mkdir -p "$logs"

options=(--error-exitcode=99 --leak-check=full --show-leak-kinds=definite,indirect
         --errors-for-leak-kinds=definite,indirect --track-origins=yes --num-callers=30)
export QUILLET_WRAPPER="valgrind ${options[*]} --log-file=$logs/Quillet.%p.log"

programs=("$@")
if [ ${#programs[@]} -eq 0 ]; then
  # Every test program except the on-demand merge of an output beyond 4 GiB.
  for p in "$build"/tests/*_test; do
    [ "$(basename "$p")" = large_output_test ] || programs+=("$(basename "$p")")
  done
fi

status=0
summary=()
for p in "${programs[@]}"; do
  start=$(date +%s)
  valgrind "${options[@]}" --log-file="$logs/$p.%p.log" "$build/tests/$p" \
    >"$logs/$p.out" 2>&1
  rc=$?
  elapsed=$(($(date +%s) - start))
  tests=$(grep -Eo '^\[==========\] [0-9]+ tests? from' "$logs/$p.out" | tail -1 | grep -Eo '[0-9]+' | head -1)
  if [ $rc -eq 0 ]; then result="passed"; else result="FAILED (exit $rc)"; status=1; fi
  summary+=("$(printf '%-28s %4s tests %5ss  %s' "$p" "${tests:-?}" "$elapsed" "$result")")
done

# Every process that valgrind watched to its end: the test programs, the children they forked,
# and each Quillet they ran. (A log without a summary is that of a child that went on to exec
# another program, or of one ended by SIGKILL.)
finished=$(grep -l 'ERROR SUMMARY:' "$logs"/*.log | wc -l)
quillets=$(grep -l 'ERROR SUMMARY:' "$logs"/Quillet.*.log 2>/dev/null | wc -l)
with_errors=$(grep -lE 'ERROR SUMMARY: [1-9]' "$logs"/*.log | wc -l)
leaking=$(grep -lE '(definitely|indirectly) lost: [1-9]' "$logs"/*.log | wc -l)
echo "valgrind summary (logs in $logs):"
printf '  %s\n' "${summary[@]}"
echo "  processes checked to their end: $finished (of them Quillet runs: $quillets)"
echo "  processes with errors: $with_errors; with definite or indirect leaks: $leaking"
if [ "$with_errors" -gt 0 ] || [ "$leaking" -gt 0 ]; then
  status=1
  grep -lE 'ERROR SUMMARY: [1-9]|(definitely|indirectly) lost: [1-9]' "$logs"/*.log
fi
exit $status
