"""Pieces of today's desktops for the end-to-end drivers (/usr/bin/python3): a private D-Bus
session bus with a screen saver stand-in, weston (headless, or on X11 with a scale), the
X server's idle time, and measuring where a colour lies in a screenshot.
"""
import ctypes
import ctypes.util
import json
import os
import shutil
import subprocess
import tempfile
import time

from receiver_process import wait_until

HERE = os.path.dirname(os.path.abspath(__file__))


class SessionBus:
    """A dbus-daemon of its own (no activation, nobody else on it) and the stand-in for
    org.freedesktop.ScreenSaver (screensaver_standin.py), which records every call."""

    CONFIG = """<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <listen>unix:dir={dir}</listen>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
"""

    def __init__(self):
        self.dir = tempfile.mkdtemp(prefix="orrin-bus-")
        config = os.path.join(self.dir, "bus.conf")
        with open(config, "w") as f:
            f.write(self.CONFIG.format(dir=self.dir))
        self.daemon = subprocess.Popen(["dbus-daemon", "--config-file", config, "--nofork", "--nopidfile",
                                        "--print-address=1"], stdout=subprocess.PIPE,
                                       stderr=subprocess.DEVNULL, text=True)
        self.address = self.daemon.stdout.readline().strip()
        if not self.address:
            self.daemon.kill()
            raise RuntimeError("dbus-daemon did not start")
        self.record = os.path.join(self.dir, "calls.jsonl")
        open(self.record, "w").close()
        self.standin = subprocess.Popen(["/usr/bin/python3", os.path.join(HERE, "screensaver_standin.py"),
                                         self.record], env=self.env(os.environ), stdout=subprocess.PIPE, text=True)
        if self.standin.stdout.readline().strip() != "ready":
            self.close()
            raise RuntimeError("the screen saver stand-in did not start")

    def env(self, env):
        return dict(env, DBUS_SESSION_BUS_ADDRESS=self.address)

    def calls(self, method=None):
        with open(self.record) as f:
            calls = [json.loads(line) for line in f if line.strip()]
        return [c for c in calls if method is None or c["method"] == method]

    def close(self):
        for process in (getattr(self, "standin", None), self.daemon):
            if process is None:
                continue
            if process.poll() is None:
                process.terminate()
                try:
                    process.wait(timeout=10)
                except subprocess.TimeoutExpired:
                    process.kill()
                    process.wait()
        shutil.rmtree(self.dir, ignore_errors=True)


def x_idle_ms(display):
    """Milliseconds since the last input on `display`, as the XScreenSaver extension counts."""
    x11 = ctypes.cdll.LoadLibrary(ctypes.util.find_library("X11"))
    xss = ctypes.cdll.LoadLibrary(ctypes.util.find_library("Xss"))

    class Info(ctypes.Structure):
        _fields_ = [("window", ctypes.c_ulong), ("state", ctypes.c_int), ("kind", ctypes.c_int),
                    ("til_or_since", ctypes.c_ulong), ("idle", ctypes.c_ulong), ("eventMask", ctypes.c_ulong)]

    x11.XOpenDisplay.restype = ctypes.c_void_p
    x11.XOpenDisplay.argtypes = [ctypes.c_char_p]
    x11.XDefaultRootWindow.restype = ctypes.c_ulong
    x11.XDefaultRootWindow.argtypes = [ctypes.c_void_p]
    x11.XCloseDisplay.argtypes = [ctypes.c_void_p]
    xss.XScreenSaverQueryInfo.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.POINTER(Info)]
    connection = x11.XOpenDisplay(display.encode())
    if not connection:
        raise RuntimeError("cannot open " + display)
    try:
        info = Info()
        if not xss.XScreenSaverQueryInfo(connection, x11.XDefaultRootWindow(connection), ctypes.byref(info)):
            raise RuntimeError("no XScreenSaver extension on " + display)
        return info.idle
    finally:
        x11.XCloseDisplay(connection)


class Weston:
    """weston 10 with a socket of its own in a private runtime directory.

    backend "headless": no output to look at and no input seat (a kiosk without keyboard
    or mouse); "x11": a window on the X server of `x_env`, with a seat, drawn at `scale`.
    --debug lets weston-screenshooter take pictures of the outputs."""

    def __init__(self, backend, log_path, x_env=None, scale=1, width=1400, height=900):
        self.runtime = tempfile.mkdtemp(prefix="orrin-wl-")
        os.chmod(self.runtime, 0o700)
        self.socket = "wayland-orrin"
        env = dict(x_env or os.environ, XDG_RUNTIME_DIR=self.runtime)
        env.pop("WAYLAND_DISPLAY", None)
        command = ["weston", f"--backend={backend}-backend.so", f"--socket={self.socket}", "--idle-time=0",
                   "--debug", f"--width={width}", f"--height={height}"]
        if backend == "x11":
            command.append(f"--scale={scale}")
        self.log = open(log_path, "wb")
        self.process = subprocess.Popen(command, env=env, stdout=self.log, stderr=subprocess.STDOUT)
        socket_path = os.path.join(self.runtime, self.socket)
        if not wait_until(lambda: os.path.exists(socket_path) or self.process.poll() is not None, 20):
            self.close()
            raise RuntimeError("weston did not start")
        if self.process.poll() is not None:
            self.close()
            raise RuntimeError(f"weston ended at start with {self.process.returncode}; see {log_path}")
        self.env = {k: v for k, v in env.items() if k not in ("DISPLAY", "SDL_VIDEODRIVER")}
        self.env["WAYLAND_DISPLAY"] = self.socket

    def screenshot(self, path):
        """A PNG of the outputs at `path` (weston-screenshooter names its own files)."""
        directory = tempfile.mkdtemp(prefix="orrin-shot-", dir=self.runtime)
        subprocess.run(["weston-screenshooter"], env=self.env, cwd=directory, check=True, timeout=20,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        made = os.listdir(directory)
        if len(made) != 1:
            raise RuntimeError(f"weston-screenshooter wrote {made}")
        shutil.move(os.path.join(directory, made[0]), path)
        os.rmdir(directory)

    def close(self):
        if self.process.poll() is None:
            self.process.terminate()
            try:
                self.process.wait(timeout=10)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()
        self.log.close()
        shutil.rmtree(self.runtime, ignore_errors=True)


def colour_box(png, colour, crop=None):
    """(left, top, width, height) of the smallest box holding every pixel of exactly `colour`
    in `png` (inside `crop` = (x, y, w, h) when given, relative to it), or None."""
    r, g, b = colour
    command = ["convert", png]
    if crop is not None:
        x, y, w, h = crop
        command += ["-crop", f"{w}x{h}+{x}+{y}", "+repage"]
    command += ["-alpha", "off", "-fill", "black", "+opaque", f"rgb({r},{g},{b})",
                "-format", "%@ %[fx:maxima.r+maxima.g+maxima.b]", "info:"]
    out = subprocess.run(command, capture_output=True, text=True, check=True, timeout=60).stdout.split()
    if float(out[1]) == 0:
        return None  # nothing but black: the colour is not there
    size, x, y = out[0].split("+")
    w, h = size.split("x")
    return (int(x), int(y), int(w), int(h))
