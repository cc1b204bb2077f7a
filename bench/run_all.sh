#!/usr/bin/env bash
# Runs every benchmark and prints each figure beside its ceiling, measured in the same run.
set -euo pipefail
cd "$(dirname "$0")/.."
echo "bench: no benchmarks yet"
