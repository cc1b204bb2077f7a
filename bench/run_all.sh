#!/usr/bin/env bash
# Runs every benchmark and prints each figure beside its ceiling, measured in the same run.
set -euo pipefail
cd "$(dirname "$0")/.."

# JPEG decoding: bytes to Picture, against tjbench -yuv on the same files.
echo "== decode: CreateBitmapFromJPEG vs tjbench -yuv =="
build/bin/decode_bench build/bench-data "${DECODE_BENCH_SECONDS:-1.5}" "${DECODE_BENCH_ROUNDS:-5}"
