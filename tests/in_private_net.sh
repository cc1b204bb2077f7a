#!/bin/sh
# Runs a command in a network namespace of its own (loopback only), so the receiver's fixed
# ports (9959, 8888, 8889) never meet a receiver the user left running, nor another test:
# plain `unshare -n` as root, `unshare -rn` (a user namespace too) for everyone else where
# the system allows unprivileged namespaces. Otherwise it says why and runs the command as
# is; CTest's lock on the fixed ports still keeps the tests to one at a time.
if [ "$(id -u)" -eq 0 ]; then flags=-n; else flags=-rn; fi
if unshare $flags -- sh -c 'ip link set lo up' >/dev/null 2>&1; then
  exec unshare $flags -- sh -c 'ip link set lo up && exec "$@"' sh "$@"
fi
reason=$(unshare $flags -- true 2>&1 | head -n 1)
echo "note: no private network namespace (unshare $flags: ${reason:-ip link failed}); using the machine's ports" >&2
exec "$@"
