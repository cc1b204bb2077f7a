#!/bin/sh
# CI: the .deb from `make package` as a user gets it. lintian finds no error; apt installs
# it with its dependencies; the installed receiver serves windowless, the installed
# orrin-cast casts to it, and SIGTERM ends it with 0. Needs root (or sudo) for apt.
set -eu
cd "$(dirname "$0")/../.."
deb=$(ls build-package/orrin_*.deb)
SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO=sudo

echo "package: lintian $deb"
lintian --fail-on error --suppress-tags-from-file /dev/null "$deb" | tee build-package/lintian.txt
echo "package: apt-get install ./$deb"
$SUDO env DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=600 install -y -qq "./$deb" >/dev/null
dpkg -L orrin > build-package/installed-files.txt

log=build-package/installed-receiver.log
# The fixed ports in a namespace of their own, as the tests use them.
tests/in_private_net.sh sh -c '
  log=$1
  env -u DISPLAY -u WAYLAND_DISPLAY /usr/bin/orrin-receiver >"$log" 2>&1 &
  pid=$!
  for i in $(seq 100); do grep -q "WebSocket服务器线程已启动" "$log" && break; sleep 0.1; done
  /usr/bin/orrin-cast 127.0.0.1 --pattern 320x240 --frames 15 --fps 30 --quiet
  sleep 0.5
  kill -TERM $pid
  wait $pid
  rc=$?
  echo "package: installed receiver ended with $rc after SIGTERM"
  grep -q "Successfully created HBITMAP from JPEG data" "$log" || { echo "package: no picture was decoded" >&2; exit 1; }
  exit $rc
' sh "$log"
echo "package: ok"
