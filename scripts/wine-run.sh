#!/usr/bin/env bash
# wine-run.sh PROGRAM.exe ARG...: runs a program of the Windows build under Wine, the way
# CTest and GoogleTest's discovery start the test programs; exits with the program's code.
# wine-run.sh --own-server PROGRAM.exe ARG...: the same, with a wineserver of its own (below).
# wine-run.sh --boot: makes the Wine prefixes ready and says how long that took.
#
# The prefixes live in build-windows/wine (or $ORRIN_WINEPREFIX_DIR), made once by
# `wineboot -i` (about 15 s) and shared by every later run. Wine ends lines with CR LF;
# they reach the caller as plain LF lines, so test names and log lines read as on Linux.
#
# Wine's sockets are made by its wineserver, so they belong to the network namespace the
# wineserver runs in. A program started inside a private namespace (tests/in_private_net.sh)
# gets a prefix of its own, whose wineserver starts in that namespace and is ended with it;
# tests using it hold the fixed-ports lock, so one runs at a time.
set -uo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
base=${ORRIN_WINEPREFIX_DIR:-$root/build-windows/wine}
wine_dir=/usr/lib/wine
if [ ! -x "$wine_dir/wine64" ]; then
  if ! command -v apt-get >/dev/null 2>&1; then
    echo "wine-run: no $wine_dir/wine64; install Wine (Debian: wine64)" >&2
    exit 1
  fi
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO=sudo
  # Installed once; the lock keeps parallel first runs from racing.
  mkdir -p "$base"
  (
    flock 9
    [ -x "$wine_dir/wine64" ] || {
      echo "wine-run: installing wine64" >&2
      $SUDO env DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=600 update -qq &&
        $SUDO env DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=600 install -y -qq \
          --no-install-recommends wine64 >/dev/null &&
        echo "wine-run: wine64 installed" >&2
    }
  ) 9>"$base/install.lock" || exit 1
fi

export WINEDEBUG=${WINEDEBUG:--all}
export WINEARCH=win64
# No Mono or Gecko downloads (nothing here needs them, and there is no network to get them).
export WINEDLLOVERRIDES="mscoree,mshtml=${WINEDLLOVERRIDES:+;$WINEDLLOVERRIDES}"

in_private_net() {
  local own init
  own=$(readlink /proc/self/ns/net 2>/dev/null) || return 1
  init=$(readlink /proc/1/ns/net 2>/dev/null) || return 1
  [ "$own" != "$init" ]
}

boot() {  # boot PREFIX: a ready prefix, made once
  local prefix=$1
  [ -f "$prefix/.booted" ] && return 0
  mkdir -p "$base"
  (
    flock 9
    [ -f "$prefix/.booted" ] && exit 0
    rm -rf "$prefix"
    if [ "$prefix" != "$base/prefix" ] && [ -f "$base/prefix/.booted" ]; then
      # A copy of the main prefix is as good as a new one and takes no second boot.
      cp -a "$base/prefix" "$prefix" && rm -f "$prefix/.booted"
    else
      WINEPREFIX=$prefix "$wine_dir/wine64" wineboot -i >/dev/null 2>&1 &&
        WINEPREFIX=$prefix "$wine_dir/wineserver" -w
    fi || exit 1
    touch "$prefix/.booted"
  ) 9>"$base/boot.lock"
}

if [ "${1:-}" = --boot ]; then
  boot "$base/prefix" || { echo "wine-run: wineboot failed" >&2; exit 1; }
  echo "wine-run: Wine prefix ready in $SECONDS s ($base/prefix)"
  exit 0
fi
if [ $# -lt 1 ]; then
  echo "usage: wine-run.sh [--own-server] PROGRAM.exe [ARG...] | --boot" >&2
  exit 2
fi

private=0
prefix=$base/prefix
# Callers that start it inside a namespace of their own say so (the namespace of PID 1
# cannot always be read to find out).
if [ "${1:-}" = --own-server ]; then
  private=1
  shift
elif in_private_net; then
  private=1
fi
if [ "$private" -eq 1 ]; then
  boot "$base/prefix" || { echo "wine-run: wineboot failed" >&2; exit 1; }
  prefix=$base/prefix-private-net
fi
boot "$prefix" || { echo "wine-run: wineboot failed" >&2; exit 1; }
export WINEPREFIX=$prefix

# A wineserver that has been idle for a few seconds exits; a program that starts in that
# moment loses its connection ("wine client error ... Connection reset by peer") before it
# has run a line of its own. Such a start is made again, once.
errors=$(mktemp)
run() {
  "$wine_dir/wine64" "$@" 2> >(sed -u 's/\r$//' | tee "$errors" >&2) | sed -u 's/\r$//'
  status=${PIPESTATUS[0]}
  wait
}
run "$@"
if [ "$status" -ne 0 ] && grep -q '^wine client error' "$errors"; then
  echo "wine-run: the wineserver went away as the program started; starting it again" >&2
  sleep 1
  run "$@"
fi
rm -f "$errors"
# The namespace ends with this run: so does its wineserver.
[ "$private" -eq 1 ] && "$wine_dir/wineserver" -k 2>/dev/null
wait
exit "$status"
