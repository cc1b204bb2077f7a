#!/usr/bin/python3
"""A stand-in for the desktop's screen saver service on a private D-Bus session bus.

    screensaver_standin.py <record file>

Owns org.freedesktop.ScreenSaver, answers Inhibit with a fresh cookie and records every
call (Inhibit, UnInhibit, SimulateUserActivity) as one JSON line: the method, its
arguments and the monotonic time it came in. Writes "ready" to stdout once the name is
owned. Ends on SIGTERM.
"""
import json
import signal
import sys
import time

import dbus
import dbus.service
from dbus.mainloop.glib import DBusGMainLoop
from gi.repository import GLib

NAME = "org.freedesktop.ScreenSaver"


class ScreenSaver(dbus.service.Object):
    def __init__(self, bus, record):
        super().__init__(bus, "/org/freedesktop/ScreenSaver")
        self.record = record
        self.cookie = 0

    def note(self, method, *args):
        with open(self.record, "a") as f:
            f.write(json.dumps({"method": method, "args": [str(a) for a in args], "time": time.monotonic()}) + "\n")

    @dbus.service.method(NAME, in_signature="ss", out_signature="u")
    def Inhibit(self, application, reason):
        self.cookie += 1
        self.note("Inhibit", application, reason, self.cookie)
        return self.cookie

    @dbus.service.method(NAME, in_signature="u", out_signature="")
    def UnInhibit(self, cookie):
        self.note("UnInhibit", cookie)

    @dbus.service.method(NAME, in_signature="", out_signature="")
    def SimulateUserActivity(self):
        self.note("SimulateUserActivity")


def main():
    DBusGMainLoop(set_as_default=True)
    bus = dbus.SessionBus()
    service = ScreenSaver(bus, sys.argv[1])
    name = dbus.service.BusName(NAME, bus)  # noqa: F841 (owned while it lives)
    loop = GLib.MainLoop()
    GLib.unix_signal_add(GLib.PRIORITY_DEFAULT, signal.SIGTERM, loop.quit)
    print("ready", flush=True)
    loop.run()
    del service


if __name__ == "__main__":
    main()
