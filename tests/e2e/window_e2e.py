#!/usr/bin/python3
"""The real orrin-receiver under a private Xvfb, driven as a person would drive it.

Run by CTest, one case per test:  window_e2e.py <binary> <artifact dir> <Class.case>
Screenshots stay in the artifact directory (under build/) for a person to look at.
"""
import asyncio
import os
import signal
import socket
import subprocess
import sys
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import receiver_process  # noqa: E402
from receiver_process import wait_until  # noqa: E402
from x11_session import TwoMonitors, Xvfb  # noqa: E402

BINARY = ""
ARTIFACTS = ""

GREEN = (0, 255, 0)
WHITE = (255, 255, 255)
GREY = (192, 192, 192)
WEBSITE = (128, 128, 255)
BLACK = (0, 0, 0)
ORANGE = (255, 165, 0)
INFO_CAPTION_BAR = (60, 90, 150)  # a colour no screen text produces, unlike the light panel
ERROR_CAPTION_BAR = (170, 40, 40)

WAITING_TITLE = "Tavoli网投屏接受客户端 - 等待连接..."


def Receiver(env, name, args=()):
    return receiver_process.Receiver(BINARY, env, os.path.join(ARTIFACTS, name + ".log"), args)


def linux_only(reason):
    """Skips a case under Wine: it checks something only the Linux receiver has."""
    return unittest.skipIf(receiver_process.under_wine(sys.argv[1] if len(sys.argv) > 1 else ""), reason)


class WindowTest(unittest.TestCase):
    def setUp(self):
        self.x = Xvfb()
        self.receiver = None

    def tearDown(self):
        if self.receiver is not None:
            self.receiver.stop()
        self.x.close()

    def shot(self, name):
        return self.x.screenshot(os.path.join(ARTIFACTS, f"{self.id().split('.')[-1]}-{name}.png"))

    def start(self, *args, screen=None):
        """Starts the receiver and returns its window once it shows the waiting title."""
        if screen is not None:
            self.x.close()
            self.x = Xvfb(*screen)
        self.receiver = Receiver(self.x.env, self.id().split(".")[-1], args)
        window = self.x.find_window("^Tavoli", timeout=self.receiver.start_timeout)
        self.assertIsNotNone(window, "no receiver window appeared:\n" + self.receiver.log())
        self.assertTrue(wait_until(lambda: self.x.window_name(window) == WAITING_TITLE), self.x.window_name(window))
        return window

    def dismiss_info_box(self, window):
        x, y, w, h = self.x.geometry(window)
        self.assertTrue(wait_until(lambda: self.shot("info-box").count(INFO_CAPTION_BAR, x, y, x + w, y + h) > 5000),
                        "the information box did not show")
        self.x.key(window, "Return")
        self.assertTrue(wait_until(lambda: self.shot("dismissed").count(INFO_CAPTION_BAR, x, y, x + w, y + h) == 0),
                        "the information box did not close")

    def close(self, window):
        """The close a person makes: the window manager's close button (WM_DELETE_WINDOW) on
        Linux; under Wine Alt+F4, which Wine turns into WM_CLOSE (it ignores a WM_DELETE_WINDOW
        sent by another client)."""
        if self.receiver.wine is not None:
            self.x.key(window, "alt+F4")
        else:
            self.x.close_window(window)

    def windowed_at(self, window, frame):
        """The window's frame is `frame`. Under Wine the window manager's frame is not the one
        Windows counts with, so there the drawing area must lie inside `frame` and fill most of it."""
        if self.receiver.wine is None:
            return self.x.outer_geometry(window) == frame
        x, y, w, h = self.x.geometry(window)
        fx, fy, fw, fh = frame
        inside = x >= fx and y >= fy and x + w <= fx + fw + 2 and y + h <= fy + fh + 2
        return inside and w * h >= 0.85 * fw * fh

    def assert_waiting_screen(self, screen, geometry):
        x, y, w, h = geometry
        self.assertEqual(screen.pixel(x + 3, y + 3), BLACK)
        self.assertEqual(screen.pixel(x + w - 4, y + h - 4), BLACK)
        # Each line in its band, centred: the middle third holds it, the outer strips do not.
        self.assertGreater(screen.count(GREEN, x + w // 3, y + 50, x + 2 * w // 3, y + 150), 500)
        self.assertEqual(screen.count(GREEN, x, y, x + w, y + 50), 0)
        self.assertEqual(screen.count(GREEN, x, y + 50, x + w // 5, y + 150), 0)
        self.assertGreater(screen.count(WHITE, x + w // 3, y + 180, x + 2 * w // 3, y + 220), 50)
        self.assertGreater(screen.count(GREY, x + w // 3, y + 280, x + 2 * w // 3, y + 320), 30)
        self.assertGreater(screen.count(GREY, x + w // 3, y + 330, x + 2 * w // 3, y + 370), 30)
        self.assertGreater(screen.count(WEBSITE, x + w // 4, y + h - 80, x + 3 * w // 4, y + h - 40), 50)
        self.assertEqual(screen.count(WEBSITE, x, y, x + w, y + h - 80), 0)

    # -- cases that need only the window --------------------------------------------------

    def test_waiting_screen_after_the_information_box(self):
        window = self.start()
        geometry = self.x.geometry(window)
        self.assertEqual(geometry[2:], (1200, 800))  # the drawing area
        if self.receiver.wine is None:
            # Under Wine the frame on the screen is the window manager's, not the one Windows
            # counts with: its corner says nothing about the Windows frame's.
            self.assertEqual(self.x.outer_geometry(window)[:2], (100, 100))  # the frame's corner
        self.dismiss_info_box(window)
        self.assert_waiting_screen(self.shot("waiting"), geometry)
        log = self.receiver.log()
        for line in ("成功加载自定义图标", "SetWindowTextW result: 1", "Retrieved title length: 24"):
            self.assertIn(line, log)

    def test_f11_without_a_sender_changes_nothing(self):
        window = self.start()
        self.dismiss_info_box(window)
        before = self.x.geometry(window)
        for _ in range(3):
            self.x.key(window, "F11")
        self.x.key(window, "Escape")
        time.sleep(0.3)  # give a wrong switch the time to show
        self.assertEqual(self.x.geometry(window), before)
        self.assert_waiting_screen(self.shot("after-f11"), before)
        self.assertNotIn("全屏模式", self.receiver.log())

    def test_closing_the_window_ends_the_process_with_0(self):
        window = self.start()
        # Closed while the information box is still open: the box does not hold it up.
        self.close(window)
        self.assertEqual(self.receiver.wait_exit(), 0, self.receiver.log())
        log = self.receiver.log()
        self.assertIn("WebSocket服务器已停止", log)
        self.assertIn("设备发现服务已停止", log)

    @linux_only("POSIX signals: Wine ends a Windows process on SIGTERM without its close path")
    def test_sigterm_and_sigint_take_the_close_path(self):
        for sig in (signal.SIGTERM, signal.SIGINT):
            window = self.start()
            self.receiver.process.send_signal(sig)
            self.assertEqual(self.receiver.wait_exit(), 0, self.receiver.log())
            self.assertIsNotNone(window)
            self.assertIsNone(self.x.find_window("^Tavoli", timeout=0.5))  # the window went with it
            self.receiver.stop()

    @linux_only("without X Wine gives the Windows receiver a display of its own, and SIGTERM is Linux's")
    def test_without_a_display_it_runs_headless_until_sigterm(self):
        env = dict(self.x.env)
        env.pop("DISPLAY", None)
        self.receiver = Receiver(env, "headless")
        self.assertTrue(self.receiver.wait_log("No display could be opened"), self.receiver.log())
        self.assertEqual(self.receiver.log().count("No display could be opened"), 1)
        self.assertIsNone(self.receiver.process.poll())
        self.receiver.process.send_signal(signal.SIGTERM)
        self.assertEqual(self.receiver.wait_exit(), 0, self.receiver.log())

    # -- cases with a sender (need the cast link) -----------------------------------------

    def jpeg(self, width, height, colour):
        path = os.path.join(ARTIFACTS, f"sent-{width}x{height}.jpg")
        subprocess.run(["convert", "-size", f"{width}x{height}", f"xc:rgb{colour}", "-quality", "95", path],
                       check=True, timeout=20)
        with open(path, "rb") as f:
            return f.read()

    def test_sender_session(self):
        import websockets.client  # python3-websockets: a real third-party client

        window = self.start()
        self.dismiss_info_box(window)
        red = (200, 40, 40)
        picture = self.jpeg(1920, 1080, red)
        local_port = None

        async def session():
            nonlocal local_port
            async with websockets.client.connect("ws://127.0.0.1:9959/", max_size=None) as ws:
                local_port = ws.transport.get_extra_info("sockname")[1]
                expected = f"Tavoli网投屏接受客户端 - 已连接: 127.0.0.1:{local_port}"
                self.assertTrue(wait_until(lambda: self.x.window_name(window) == expected))
                # One picture, letterboxed in the 1200x800 window: 1200x675 at 0,62.
                await ws.send(bytes([0, 0, 0, 0, 1]) + picture)
                x, y, w, h = self.x.geometry(window)
                self.assertTrue(wait_until(lambda: self.shot("picture").count(red, x, y + 62, x + w, y + 737, 6)
                                           > 0.99 * w * 675))
                screen = self.shot("letterboxed")
                self.assertEqual(screen.count(BLACK, x, y, x + w, y + 62), w * 62)
                self.assertEqual(screen.count(BLACK, x, y + 737, x + w, y + h), w * 63)
                # F11 fills the screen; ESC gives 800x600 at 100,100.
                self.x.key(window, "F11")
                self.assertTrue(wait_until(lambda: self.x.geometry(window) == (0, 0, self.x.width, self.x.height)))
                await ws.send(bytes([0, 0, 0, 0, 2]) + picture)
                self.assertTrue(wait_until(lambda: self.shot("fullscreen").count(WHITE, 10, 10, 400, 50) > 50))
                self.x.key(window, "Escape")
                self.assertTrue(wait_until(lambda: self.windowed_at(window, (100, 100, 800, 600))),
                                self.x.outer_geometry(window))
                # No pictures for four seconds: the screen-off screen and title.
                self.assertTrue(wait_until(
                    lambda: self.x.window_name(window) == "Tavoli网投屏接受客户端 - 设备息屏", timeout=6))
                x, y, w, h = self.x.geometry(window)
                # The title changes before the repaint reaches the screen: wait for the paint.
                self.assertTrue(wait_until(lambda: self.shot("screen-off").pixel(x + 3, y + 3) == (32, 32, 32)))
                self.assertGreater(self.shot("screen-off").count(ORANGE, x, y + 50, x + w, y + 150), 300)
                # The next picture lights the screen again.
                await ws.send(bytes([0, 0, 0, 0, 3]) + picture)
                self.assertTrue(wait_until(
                    lambda: self.x.window_name(window) == "Tavoli网投屏接受客户端 - 屏幕已点亮"))
                self.assertTrue(wait_until(lambda: self.shot("screen-on").count(red, x, y + 62, x + w, y + 500, 6) > 0))
            # Disconnected: back to waiting.
            self.assertTrue(wait_until(lambda: self.x.window_name(window) == WAITING_TITLE))
            log = self.receiver.log()
            self.assertEqual(log.count(f"客户端已连接: 127.0.0.1:{local_port}"), 1)
            self.assertEqual(log.count("客户端已断开连接"), 1)
            self.assertTrue(wait_until(lambda: self.shot("disconnected").pixel(x + 3, y + 3) == BLACK))
            self.assert_waiting_screen(self.shot("disconnected"), self.x.geometry(window))

        asyncio.run(session())
        self.close(window)
        self.assertEqual(self.receiver.wait_exit(), 0, self.receiver.log())

    # -- desktop options and placement on small screens -----------------------------------

    def test_first_window_fits_small_screens(self):
        for width, height in ((1366, 768), (1280, 720)):
            window = self.start(screen=(width, height))
            # The frame is fitted once the window manager has drawn it.
            def fits():
                x, y, w, h = self.x.outer_geometry(window)
                return x >= 0 and y >= 0 and x + w <= width and y + h <= height
            self.assertTrue(wait_until(fits), self.x.outer_geometry(window))
            x, y, w, h = self.x.outer_geometry(window)
            self.assertEqual(x, 100 if width >= 1300 + w - 1200 else width - w)  # moved only as far as needed
            self.assertEqual((y, h), (0, height))  # 800 rows do not fit: the whole height, from the top
            self.shot(f"{width}x{height}")
            self.receiver.terminate()
            self.receiver = None

    def test_fullscreen_option_keeps_full_screen_for_the_whole_run(self):
        window = self.start("--fullscreen", screen=(1280, 720))
        self.assertTrue(wait_until(lambda: self.x.geometry(window) == (0, 0, 1280, 720)), self.x.geometry(window))
        self.dismiss_info_box(window)
        self.assert_waiting_screen(self.shot("waiting-full-screen"), (0, 0, 1280, 720))
        picture = self.jpeg(640, 360, (200, 40, 40))

        async def one_picture():
            async with websockets.client.connect("ws://127.0.0.1:9959/", max_size=None) as ws:
                await ws.send(bytes([0, 0, 0, 0, 1]) + picture)
                self.assertTrue(wait_until(lambda: self.shot("picture").count((200, 40, 40), 0, 60, 1280, 720, 6)
                                           > 0.95 * 1280 * 660))

        import websockets.client
        asyncio.run(one_picture())
        # The sender went: still full screen, on the waiting screen.
        self.assertTrue(wait_until(lambda: self.x.window_name(window) == WAITING_TITLE))
        time.sleep(0.3)
        self.assertEqual(self.x.geometry(window), (0, 0, 1280, 720))
        self.assertTrue(wait_until(lambda: self.shot("after-sender").pixel(640, 100) != (200, 40, 40)))
        # ESC leaves, F11 comes back even without a picture.
        self.x.key(window, "Escape")
        self.assertTrue(wait_until(lambda: self.x.outer_geometry(window) == (100, 100, 800, 600)),
                        self.x.outer_geometry(window))
        self.x.key(window, "F11")
        self.assertTrue(wait_until(lambda: self.x.geometry(window) == (0, 0, 1280, 720)))

    def test_keep_aspect_letterboxes_full_screen_and_the_first_picture_closes_the_box(self):
        import websockets.client
        window = self.start("--fullscreen", "--keep-aspect", screen=(1280, 720))
        self.assertTrue(wait_until(lambda: self.x.geometry(window) == (0, 0, 1280, 720)))
        self.assertTrue(wait_until(lambda: self.shot("box").count(INFO_CAPTION_BAR, 0, 0, 1280, 720) > 5000))
        red = (200, 40, 40)
        picture = self.jpeg(1080, 2400, red)  # a portrait phone

        async def one_picture():
            async with websockets.client.connect("ws://127.0.0.1:9959/", max_size=None) as ws:
                await ws.send(bytes([0, 0, 0, 0, 1]) + picture)
                # 0.3 of its size: 324 x 720 in the middle, black bars of 478 at both sides.
                self.assertTrue(wait_until(lambda: self.shot("letterboxed").count(red, 478, 60, 802, 720, 6)
                                           > 0.99 * 324 * 660))
                screen = self.shot("letterboxed")
                self.assertEqual(screen.count(BLACK, 0, 60, 478, 720), 478 * 660)
                self.assertEqual(screen.count(BLACK, 802, 0, 1280, 720), 478 * 720)
                self.assertEqual(screen.count(INFO_CAPTION_BAR, 0, 0, 1280, 720), 0)  # the box went by itself

        asyncio.run(one_picture())
        self.assertIn("投屏接收端已启动", self.receiver.log())  # its text is still in the log

    def test_always_on_top_asks_the_window_manager(self):
        window = self.start("--always-on-top")
        self.assertTrue(wait_until(lambda: "_NET_WM_STATE_ABOVE" in self.x.run(
            "xprop", "-id", str(window), "_NET_WM_STATE").stdout))
        self.shot("always-on-top")
        self.receiver.terminate()
        self.receiver = None
        # Without the option the window is an ordinary one.
        window = self.start()
        time.sleep(0.5)
        self.assertNotIn("_NET_WM_STATE_ABOVE", self.x.run("xprop", "-id", str(window), "_NET_WM_STATE").stdout)

    def test_display_that_does_not_exist_is_reported_and_the_first_used(self):
        window = self.start("--display", "3")
        self.assertEqual(self.x.outer_geometry(window)[:2], (100, 100))
        self.assertIn("--display 3: there is no such display (1 found, numbered from 0); using the first",
                      self.receiver.log())

    def test_display_1_is_the_second_monitor(self):
        reason = TwoMonitors.unavailable()
        if reason:
            self.skipTest(reason)
        self.x.close()
        self.x = TwoMonitors(os.path.join(ARTIFACTS, "two-monitors"))
        left = TwoMonitors.LEFT[0]
        width, height = TwoMonitors.RIGHT
        window = self.start("--display", "1")

        def on_the_second():
            x, y, w, h = self.x.outer_geometry(window)
            return x >= left and y >= 0 and x + w <= left + width and y + h <= height
        self.assertTrue(wait_until(on_the_second), self.x.outer_geometry(window))
        x, y, w, h = self.x.outer_geometry(window)
        self.assertEqual((x + w, y), (left + width, 100))  # 100,100 there, moved left only as far as needed
        self.shot("windowed")
        self.receiver.terminate()
        # Full screen covers that monitor alone; leaving it gives 800x600 at 100,100 of it.
        window = self.start("--display", "1", "--fullscreen")
        self.assertTrue(wait_until(lambda: self.x.geometry(window) == (left, 0, width, height)),
                        self.x.geometry(window))
        self.dismiss_info_box(window)
        self.assert_waiting_screen(self.shot("full-screen"), (left, 0, width, height))
        self.x.key(window, "Escape")
        self.assertTrue(wait_until(lambda: self.x.outer_geometry(window) == (left + 100, 100, 800, 600)),
                        self.x.outer_geometry(window))

    def test_port_taken_shows_the_error_box_and_exits_1(self):
        blocker = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        # SO_REUSEADDR so a TIME_WAIT left by an earlier test does not stop the blocker; a
        # listening socket still refuses the receiver's bind to any address.
        blocker.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        blocker.bind(("127.0.0.1", 9959))  # loopback only; still collides with a bind to any address
        blocker.listen(1)
        try:
            self.receiver = Receiver(self.x.env, "port-taken")
            self.assertTrue(self.receiver.wait_log("Failed to bind socket: "), self.receiver.log())
            window = self.x.find_window("^Tavoli")
            x, y, w, h = self.x.geometry(window)
            self.assertTrue(wait_until(lambda: self.shot("error-box").count(ERROR_CAPTION_BAR, x, y, x + w, y + h) > 5000))
            self.assertIsNone(self.receiver.process.poll())  # the box waits for the person
            self.x.key(window, "Return")
            self.assertEqual(self.receiver.wait_exit(), 1, self.receiver.log())
            log = self.receiver.log()
            self.assertIn("Failed to start WebSocket server", log)
            self.assertNotIn("投屏接收端已启动", log)
        finally:
            blocker.close()


if __name__ == "__main__":
    BINARY = sys.argv[1]
    ARTIFACTS = sys.argv[2]
    os.makedirs(ARTIFACTS, exist_ok=True)
    result = unittest.main(argv=[sys.argv[0]] + sys.argv[3:], verbosity=2, exit=False).result
    if result.testsRun and len(result.skipped) == result.testsRun:
        sys.exit(77)  # CTest reports it as skipped, with the reason above
    sys.exit(0 if result.wasSuccessful() else 1)
