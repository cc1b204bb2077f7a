#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (ASan+UBSan) and runs each for a set time.
#   scripts/fuzz.sh [seconds]        (default: $FUZZ_SECONDS, else 600 per target)
#   FUZZ_TARGETS="frame_parser_fuzz" scripts/fuzz.sh 60
# Seeds live in fuzz/corpus/<target>/; what the fuzzer finds goes to build-fuzz/corpus/<target>/
# and crashing inputs to build-fuzz/artifacts/.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-${FUZZ_SECONDS:-600}}"
targets="${FUZZ_TARGETS:-frame_parser_fuzz handshake_fuzz}"

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j "${JOBS:-2}"

mkdir -p build-fuzz/artifacts
for target in $targets; do
  case "$target" in
    frame_parser_fuzz) max_len=16384 ;;
    *) max_len=8192 ;;
  esac
  mkdir -p "build-fuzz/corpus/$target"
  echo "fuzz: $target for ${seconds}s"
  "build-fuzz/bin/$target" -max_total_time="$seconds" -max_len="$max_len" -print_final_stats=1 \
    -artifact_prefix="build-fuzz/artifacts/$target-" \
    "build-fuzz/corpus/$target" "fuzz/corpus/$target"
done
