#!/usr/bin/env bash
# Runs every fuzz target of a fuzz build for a given time, one after the other on one core, each
# from its generated seeds and the corpus that earlier runs kept, and prints per target the
# executions, the time and whether it found a failure. Exits non-zero when one did.
#
#   tests/fuzz/run_fuzzers.sh BUILD_DIR SECONDS [TARGET...]
set -uo pipefail
build=${1:?usage: run_fuzzers.sh BUILD_DIR SECONDS [TARGET...]}
seconds=${2:?usage: run_fuzzers.sh BUILD_DIR SECONDS [TARGET...]}
shift 2
here=$(cd "$(dirname "$0")" && pwd)
samples="$here/../data"
fuzz="$build/tests/fuzz"
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  for f in "$here"/*_fuzz.cpp; do targets+=("$(basename "$f" .cpp)"); done
fi

# Largest input per target: a header and a few records per file for the LAS targets.
max_len() {
  case $1 in
    merge_fuzz|header_update_fuzz) echo 32768 ;;
    las_classify_fuzz) echo 1024 ;;
    input_description_fuzz) echo 65536 ;;
    chunk_table_fuzz) echo 8192 ;;
    *) echo 4096 ;;
  esac
}

# The real files some seeds are cut from are part of the checkout: without them the seeds would
# quietly be synthetic only.
[ -f "$samples/MANIFEST.tsv" ] || { echo "missing test data in $samples" >&2; exit 2; }
seeds="$fuzz/seeds"
rm -rf "$seeds"
"$fuzz/make_seeds" "$seeds" "$samples" || exit 1

status=0
summary=()
for t in "${targets[@]}"; do
  corpus="$fuzz/corpus/$t"
  artifacts="$fuzz/artifacts/$t"
  log="$fuzz/logs/$t.log"
  # A target without seeds of its own starts from an empty corpus.
  mkdir -p "$corpus" "$artifacts" "$(dirname "$log")" "$seeds/$t"
  echo "== $t: ${seconds}s"
  start=$(date +%s)
  "$fuzz/$t" "$corpus" "$seeds/$t" -max_total_time="$seconds" -max_len="$(max_len "$t")" \
    -timeout=20 -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$artifacts/" \
    >"$log" 2>&1 &
  pid=$!
  wait $pid
  rc=$?
  # A target that stopped on a failure could not remove its scratch directory.
  rm -rf "/dev/shm/korvane-fuzz-$pid"
  elapsed=$(($(date +%s) - start))
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  cov=$(grep -o 'cov: [0-9]*' "$log" | tail -1)
  if [ $rc -eq 0 ]; then
    result="no failure"
  else
    result="FAILED (exit $rc), see $log and $artifacts"
    status=1
    grep -m1 -A30 -E 'ERROR|check failed|runtime error' "$log" || tail -30 "$log"
  fi
  summary+=("$(printf '%-22s %10s execs %5ss  %-9s %s' "$t" "${execs:-?}" "$elapsed" "${cov:-}" "$result")")
done
echo
echo "Fuzzing summary (corpus and logs under $fuzz):"
printf '  %s\n' "${summary[@]}"
exit $status
