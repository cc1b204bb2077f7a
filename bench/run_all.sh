#!/usr/bin/env bash
# Runs every benchmark and prints each figure beside its ceiling, measured in the same run,
# as one table at the end (about ten minutes). The receiver binds fixed ports, so the run
# goes into a private network namespace when the machine allows one (root, or unprivileged
# user namespaces), where it cannot meet a receiver or a test already running; otherwise
# it runs directly and needs ports 9959, 8888, 8889 and 19001 free.
set -euo pipefail
cd "$(dirname "$0")/.."

# An optional argument picks one part: pacing, sound, sessions or memory (the long one, not
# in `all`; it runs sessions too).
command=(/usr/bin/python3 bench/pipeline_bench.py "${BENCH_BIN:-build/bin}" build/bench-data "${1:-all}")
inner='ip link set lo up && exec "$@"'
if [ "$(id -u)" = 0 ] && unshare -n -- true 2>/dev/null; then
  exec unshare -n -- sh -c "$inner" sh "${command[@]}"
elif unshare -r -n -- true 2>/dev/null; then
  exec unshare -r -n -- sh -c "$inner" sh "${command[@]}"
else
  echo "run_all.sh: no private network namespace here; running on the machine's own loopback" >&2
  exec "${command[@]}"
fi
