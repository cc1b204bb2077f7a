#!/bin/sh
# with_running_receiver.sh COMMAND...: runs COMMAND (CI: `make test`) while a receiver that
# a user left running holds the fixed ports of this machine, then checks that it still
# serves: a cast from orrin-cast reaches it, and SIGTERM ends it with 0.
set -eu
cd "$(dirname "$0")/.."
make build >/dev/null
log=build/user-receiver.log
env -u DISPLAY -u WAYLAND_DISPLAY build/bin/orrin-receiver >"$log" 2>&1 &
pid=$!
for i in $(seq 100); do grep -q "WebSocket服务器线程已启动" "$log" && break; sleep 0.1; done
grep -q "WebSocket服务器线程已启动" "$log" || { echo "user receiver did not start" >&2; cat "$log" >&2; exit 1; }
status=0
"$@" || status=$?
build/bin/orrin-cast 127.0.0.1 --pattern 320x240 --frames 10 --quiet || status=1
kill -TERM $pid
wait $pid || status=1
grep -q "Successfully created HBITMAP from JPEG data" "$log" || { echo "user receiver got no picture" >&2; status=1; }
echo "with_running_receiver: exit $status; the user's receiver kept serving"
exit $status
