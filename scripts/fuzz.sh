#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (ASan+UBSan) and runs each for a set time, then
# prints one line per target: executions, speed, coverage (cov = edges, ft = features) and
# the outcome.
#   scripts/fuzz.sh [seconds]        (default: $FUZZ_SECONDS, else 600 per target)
#   FUZZ_TARGETS="frame_parser_fuzz" scripts/fuzz.sh 60
#   FUZZ_MERGE=1 scripts/fuzz.sh 600  (afterwards adds the inputs that reach new coverage
#                                      to the committed seeds in fuzz/corpus/<target>/)
# Seeds live in fuzz/corpus/<target>/; what the fuzzer finds goes to build-fuzz/corpus/<target>/,
# the fuzzer's own output to build-fuzz/logs/<target>.log, crashing inputs to
# build-fuzz/artifacts/<target>-crash-* with the sanitizer report next to them
# (build-fuzz/artifacts/<target>-sanitizer.<pid>). Replay one with
#   build-fuzz/bin/<target> build-fuzz/artifacts/<target>-crash-...
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-${FUZZ_SECONDS:-600}}"
all_targets="frame_parser_fuzz handshake_fuzz cast_message_fuzz jpeg_decoder_fuzz jpeg_damage_fuzz discovery_fuzz
             share_request_fuzz"
targets="${FUZZ_TARGETS:-$all_targets}"

cmake --preset fuzz >/dev/null
# shellcheck disable=SC2086
cmake --build --preset fuzz -j "${JOBS:-2}" --target $targets

mkdir -p build-fuzz/artifacts build-fuzz/logs
summary=()
failed=0
for target in $targets; do
  case "$target" in
    frame_parser_fuzz) max_len=16384 ;;
    jpeg_decoder_fuzz) max_len=32768 ;;  # seeds are ~1 KB; room for many scans and tables
    jpeg_damage_fuzz) max_len=512 ;;     # a few picture settings and up to ~170 byte changes
    discovery_fuzz) max_len=2048 ;;      # the service reads at most 1023 bytes of a probe
    *) max_len=8192 ;;
  esac
  mkdir -p "build-fuzz/corpus/$target"
  log="build-fuzz/logs/$target.log"
  echo "fuzz: $target for ${seconds}s (output in $log)"
  # The code under test logs every input it refuses; at a hundred thousand inputs a second
  # that would drown the fuzzer's own lines. -close_fd_mask=3 points our stdout and stderr
  # at /dev/null (libFuzzer keeps a copy of stderr for its own statistics), and the
  # sanitizers write their reports to a file instead of the muted stderr.
  status=0
  ASAN_OPTIONS="log_path=build-fuzz/artifacts/$target-sanitizer${ASAN_OPTIONS:+:$ASAN_OPTIONS}" \
  UBSAN_OPTIONS="log_path=build-fuzz/artifacts/$target-sanitizer:print_stacktrace=1${UBSAN_OPTIONS:+:$UBSAN_OPTIONS}" \
    "build-fuzz/bin/$target" -max_total_time="$seconds" -max_len="$max_len" -timeout=10 \
    -print_final_stats=1 -close_fd_mask=3 \
    -artifact_prefix="build-fuzz/artifacts/$target-" \
    "build-fuzz/corpus/$target" "fuzz/corpus/$target" >"$log" 2>&1 || status=$?

  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  speed=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -1)
  last=$(grep -E '^#[0-9]+.*cov: ' "$log" | tail -1 || true)
  cov=$(sed -n 's/.* cov: \([0-9]*\).*/\1/p' <<<"$last")
  ft=$(sed -n 's/.* ft: \([0-9]*\).*/\1/p' <<<"$last")
  corp=$(sed -n 's/.* corp: \([0-9]*\/[0-9a-zA-Z]*\).*/\1/p' <<<"$last")
  if [ "$status" -eq 0 ]; then
    outcome=ok
  else
    outcome="FAILED (exit $status, see $log)"
    failed=1
  fi
  summary+=("$(printf '%-20s %12s %9s %6s %7s %14s  %s' "$target" "${execs:-?}" "${speed:-?}" \
    "${cov:-?}" "${ft:-?}" "${corp:-?}" "$outcome")")

  if [ "${FUZZ_MERGE:-0}" = 1 ] && [ "$status" -eq 0 ]; then
    "build-fuzz/bin/$target" -merge=1 -max_len="$max_len" -close_fd_mask=3 \
      "fuzz/corpus/$target" "build-fuzz/corpus/$target" >>"$log" 2>&1
  fi
done

echo
printf '%-20s %12s %9s %6s %7s %14s  %s\n' target executions exec/s cov ft corpus outcome
printf '%s\n' "${summary[@]}"
exit "$failed"
