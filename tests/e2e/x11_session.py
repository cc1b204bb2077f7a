"""A private X server and the few X calls the window tests need, for /usr/bin/python3.

Xvfb picks its own free display number (-displayfd), so tests never collide with a
person's desktop or with each other. It never resets (-noreset): a server resets when its
last client leaves, and a client that connects during the reset is turned away, as openbox
was when it came up while the start-up check below was between two xprop calls. A window
manager (openbox) runs on it as on any desktop: full screen, decorations and placement are
its business. Screenshots are taken with ImageMagick's `import` and read back as raw RGB;
the window is driven with xdotool (keys through XTEST, as a keyboard would) and closed
through WM_DELETE_WINDOW, as a window manager's close button does.

TwoMonitors is the same with two monitors side by side on one screen, the way a desktop
with two displays has them (RandR outputs); Xvfb has one output per screen, so that one is
Xorg's dummy driver.
"""
import ctypes
import ctypes.util
import os
import subprocess
import time


class Xvfb:
    def __init__(self, width=1600, height=1000):
        self.width = width
        self.height = height
        self._serve(["Xvfb", "-screen", "0", f"{width}x{height}x24"])

    def _serve(self, server, arrange=None):
        """Starts `server` on a free display, runs `arrange` once it answers, then openbox."""
        read_end, write_end = os.pipe()
        self.process = subprocess.Popen(server + ["-displayfd", str(write_end), "-nolisten", "tcp", "-noreset"],
                                        pass_fds=(write_end,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(write_end)
        number = b""
        with os.fdopen(read_end, "rb") as pipe:
            while not number.endswith(b"\n"):
                chunk = pipe.read(1)
                if not chunk:
                    self.process.wait(timeout=10)
                    raise RuntimeError(f"{server[0]} did not report a display number")
                number += chunk
        self.display = ":" + number.decode().strip()
        self.env = dict(os.environ, DISPLAY=self.display)
        self.env.pop("WAYLAND_DISPLAY", None)
        self.env.pop("SDL_VIDEODRIVER", None)
        self.window_manager = None
        try:
            if arrange is not None:
                arrange()
            self.window_manager = subprocess.Popen(["openbox", "--sm-disable"], env=self.env,
                                                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            deadline = time.monotonic() + 10
            while "window id" not in self.run("xprop", "-root", "_NET_SUPPORTING_WM_CHECK").stdout:
                if time.monotonic() > deadline or self.window_manager.poll() is not None:
                    raise RuntimeError(f"openbox did not start on {self.display} "
                                       f"(exit status {self.window_manager.poll()})")
                time.sleep(0.05)
        except BaseException:
            self.close()  # no server left behind by a start that failed
            raise

    def close(self):
        if self.window_manager is not None:
            self.window_manager.terminate()
            self.window_manager.wait(timeout=10)
        self.process.terminate()
        self.process.wait(timeout=10)

    def run(self, *args):
        return subprocess.run(list(args), env=self.env, capture_output=True, text=True, timeout=20)

    def find_window(self, name_pattern, timeout=30.0):
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            result = self.run("xdotool", "search", "--onlyvisible", "--name", name_pattern)
            ids = result.stdout.split()
            if ids:
                return int(ids[0])
            time.sleep(0.05)
        return None

    def window_name(self, window):
        return self.run("xdotool", "getwindowname", str(window)).stdout.rstrip("\n")

    def geometry(self, window):
        """(x, y, width, height) of the window's inner area on the screen."""
        out = self.run("xwininfo", "-id", str(window)).stdout
        values = {}
        for line in out.splitlines():
            line = line.strip()
            for key in ("Absolute upper-left X", "Absolute upper-left Y", "Width", "Height"):
                if line.startswith(key + ":"):
                    values[key] = int(line.split(":")[1])
        return (values["Absolute upper-left X"], values["Absolute upper-left Y"], values["Width"], values["Height"])

    def outer_geometry(self, window):
        """(x, y, width, height) of the window with the window manager's frame."""
        x, y, w, h = self.geometry(window)
        out = self.run("xprop", "-id", str(window), "_NET_FRAME_EXTENTS").stdout
        if "=" not in out:
            return (x, y, w, h)
        left, right, top, bottom = (int(v) for v in out.split("=")[1].split(","))
        return (x - left, y - top, w + left + right, h + top + bottom)

    def key(self, window, key):
        self.run("xdotool", "windowfocus", "--sync", str(window))
        self.run("xdotool", "key", key)

    def screenshot(self, path):
        """Saves a PNG (kept as an artifact) and returns the screen as a Screen."""
        subprocess.run(["import", "-window", "root", path], env=self.env, check=True, timeout=20)
        raw = subprocess.run(["convert", path, "-depth", "8", "rgb:-"], check=True, capture_output=True,
                             timeout=20).stdout
        return Screen(raw, self.width, self.height)

    def close_window(self, window):
        """Sends WM_DELETE_WINDOW, the message a window manager's close button sends."""
        x11 = ctypes.cdll.LoadLibrary(ctypes.util.find_library("X11"))
        x11.XOpenDisplay.restype = ctypes.c_void_p
        x11.XOpenDisplay.argtypes = [ctypes.c_char_p]
        x11.XInternAtom.restype = ctypes.c_ulong
        x11.XInternAtom.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]
        x11.XSendEvent.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_long, ctypes.c_void_p]
        x11.XFlush.argtypes = [ctypes.c_void_p]
        x11.XCloseDisplay.argtypes = [ctypes.c_void_p]

        class ClientMessage(ctypes.Structure):
            _fields_ = [("type", ctypes.c_int), ("serial", ctypes.c_ulong), ("send_event", ctypes.c_int),
                        ("display", ctypes.c_void_p), ("window", ctypes.c_ulong), ("message_type", ctypes.c_ulong),
                        ("format", ctypes.c_int), ("data", ctypes.c_long * 5), ("pad", ctypes.c_long * 12)]

        display = x11.XOpenDisplay(self.display.encode())
        if not display:
            raise RuntimeError("cannot open " + self.display)
        try:
            event = ClientMessage()
            event.type = 33  # ClientMessage
            event.window = window
            event.message_type = x11.XInternAtom(display, b"WM_PROTOCOLS", 0)
            event.format = 32
            event.data[0] = x11.XInternAtom(display, b"WM_DELETE_WINDOW", 0)
            event.data[1] = 0  # CurrentTime
            x11.XSendEvent(display, window, 0, 0, ctypes.byref(event))
            x11.XFlush(display)
        finally:
            x11.XCloseDisplay(display)


class TwoMonitors(Xvfb):
    """Monitor 0 (`left`) at the origin and monitor 1 (`right`) to its right, top-aligned."""
    CONFIG = """
Section "ServerFlags"
  Option "AutoAddDevices" "false"
  Option "AutoEnableDevices" "false"
  Option "DontVTSwitch" "true"
EndSection
Section "Monitor"
  Identifier "monitor"
  HorizSync 5.0 - 1000.0
  VertRefresh 5.0 - 200.0
EndSection
Section "Device"
  Identifier "dummy"
  Driver "dummy"
  VideoRam 64000
EndSection
Section "Screen"
  Identifier "screen"
  Device "dummy"
  Monitor "monitor"
  DefaultDepth 24
  SubSection "Display"
    Depth 24
    Virtual 4096 2048
  EndSubSection
EndSection
"""

    @staticmethod
    def unavailable():
        """Why this machine cannot run one, or None."""
        if not os.path.exists("/usr/lib/xorg/modules/drivers/dummy_drv.so"):
            return "Xorg's dummy driver is not installed (xserver-xorg-video-dummy)"
        with open("/proc/self/uid_map") as f:  # root of a user namespace is not enough
            if f.read().split() != ["0", "0", "4294967295"]:
                return "Xorg needs the machine's root for its console"
        return None

    LEFT, RIGHT = (1024, 768), (1280, 1024)

    def __init__(self, directory):
        self.width, self.height = self.LEFT[0] + self.RIGHT[0], max(self.LEFT[1], self.RIGHT[1])
        os.makedirs(os.path.join(directory, "conf.d"), exist_ok=True)
        config = os.path.join(directory, "xorg.conf")
        with open(config, "w") as f:
            f.write(self.CONFIG)
        log = os.path.join(directory, "xorg.log")
        try:
            # -sharevts: the console's own terminal stays the active one (nothing is switched).
            self._serve(["Xorg", "-config", config, "-configdir", os.path.join(directory, "conf.d"),
                         "-logfile", log, "-sharevts", "-novtswitch"], self._arrange)
        except RuntimeError as error:
            errors = []
            if os.path.exists(log):
                with open(log, errors="replace") as f:
                    errors = [line for line in f if "(EE)" in line]
            raise RuntimeError(f"{error}; Xorg's errors:\n{''.join(errors[-10:])}") from None

    def _arrange(self):
        (lw, lh), (rw, rh) = self.LEFT, self.RIGHT
        self._xrandr("--addmode", "DUMMY1", f"{rw}x{rh}")  # a standard mode the driver lists
        self._xrandr("--output", "DUMMY0", "--mode", f"{lw}x{lh}", "--pos", "0x0", "--primary",
                     "--output", "DUMMY1", "--mode", f"{rw}x{rh}", "--pos", f"{lw}x0")
        # The driver counts DUMMY1 as connected once it has a mode, but the server's cached
        # answer (what SDL reads) changes only after a full query polls the outputs again.
        query = self.run("xrandr", "--query").stdout
        if f"DUMMY1 connected {rw}x{rh}+{lw}+0" not in query:
            raise RuntimeError("the second monitor did not come up:\n" + query)

    def _xrandr(self, *args):
        result = self.run("xrandr", *args)
        if result.returncode != 0:
            raise RuntimeError("xrandr " + " ".join(args) + ": " + result.stderr.strip())


class Screen:
    def __init__(self, raw, width, height):
        self.raw = raw
        self.width = width
        self.height = height

    def pixel(self, x, y):
        i = (y * self.width + x) * 3
        return tuple(self.raw[i:i + 3])

    def count(self, colour, left, top, right, bottom, tolerance=0):
        """Pixels within `tolerance` of `colour` in the rectangle [left, right) x [top, bottom)."""
        n = 0
        r, g, b = colour
        for y in range(max(top, 0), min(bottom, self.height)):
            row = y * self.width * 3
            for x in range(max(left, 0), min(right, self.width)):
                i = row + x * 3
                if (abs(self.raw[i] - r) <= tolerance and abs(self.raw[i + 1] - g) <= tolerance
                        and abs(self.raw[i + 2] - b) <= tolerance):
                    n += 1
        return n
