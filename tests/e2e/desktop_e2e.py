#!/usr/bin/python3
"""The real orrin-receiver on the desktops people run today: a HiDPI X11 screen, weston
(with and without an input seat, at scale 2) and a session bus with a screen saver.

Run by CTest, one case per test:  desktop_e2e.py <receiver> <orrin-cast> <artifact dir> <Class.case>
Screenshots and logs stay in the artifact directory for a person to look at.
"""
import os
import subprocess
import sys
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import receiver_process  # noqa: E402
from desktop_session import SessionBus, Weston, colour_box, x_idle_ms  # noqa: E402
from receiver_process import wait_until  # noqa: E402
from x11_session import Xvfb  # noqa: E402

RECEIVER = ""
CAST = ""
ARTIFACTS = ""

GREEN = (0, 255, 0)      # the title
WHITE = (255, 255, 255)  # the status line
WEBSITE = (128, 128, 255)
INFO_CAPTION_BAR = (60, 90, 150)
WAITING_TITLE = "Tavoli网投屏接受客户端 - 等待连接..."


def artifact(name):
    return os.path.join(ARTIFACTS, name)


class DesktopCase(unittest.TestCase):
    def setUp(self):
        self.cleanups = []

    def tearDown(self):
        for cleanup in reversed(self.cleanups):
            cleanup()

    def keep(self, thing, close):
        self.cleanups.append(close)
        return thing

    def name(self, suffix):
        return f"{self.id().split('.')[-1]}-{suffix}"

    def receiver(self, env, suffix, args=()):
        r = receiver_process.Receiver(RECEIVER, env, artifact(self.name(suffix) + ".log"), args)
        return self.keep(r, r.stop)

    def cast(self, seconds):
        """Our sender casts a moving picture for `seconds`, then closes."""
        result = subprocess.run([CAST, "127.0.0.1", "--quiet", "--pattern", "640x360", "--fps", "10", "--duration",
                                 str(seconds)], capture_output=True, text=True, timeout=60)
        self.assertEqual(result.returncode, 0, result.stderr)


class HiDpiTest(DesktopCase):
    def waiting_screen(self, width, height, dpi, suffix):
        """A receiver on a `width` x `height` X screen whose desktop says Xft.dpi `dpi`: its
        window's geometry, where its texts lie (boxes relative to the window) and its log."""
        x = self.keep(Xvfb(width, height), lambda: x.close())
        subprocess.run(["xrdb", "-merge"], input=f"Xft.dpi: {dpi}\n", env=x.env, text=True, check=True, timeout=20)
        receiver = self.receiver(x.env, suffix)
        window = x.find_window("^Tavoli", timeout=receiver.start_timeout)
        self.assertIsNotNone(window, receiver.log())
        self.assertTrue(wait_until(lambda: x.window_name(window) == WAITING_TITLE))
        geometry = x.geometry(window)
        x.key(window, "Return")  # the information box
        shot = artifact(self.name(suffix) + ".png")
        boxes = {}

        def measured():  # once the box has gone: its caption is white too
            x.screenshot(shot)
            boxes.update({colour: colour_box(shot, colour, geometry) for colour in (GREEN, WHITE, WEBSITE)})
            return all(boxes.values()) and colour_box(shot, INFO_CAPTION_BAR, geometry) is None
        self.assertTrue(wait_until(measured, timeout=15, step=0.3), f"texts missing in {shot}: {boxes}")
        icon = x.run("xprop", "-id", str(window), "-f", "_NET_WM_ICON", "32c", " $0 $1\n", "_NET_WM_ICON").stdout
        self.assertEqual(receiver.terminate(), 0)
        return geometry, boxes, icon, receiver.log()

    def test_192_dpi_doubles_the_texts_and_keeps_their_places(self):
        plain, plain_boxes, icon, plain_log = self.waiting_screen(1600, 1000, 96, "96dpi")
        self.assertEqual(plain[2:], (1200, 800))
        self.assertNotIn("drawn at scale", plain_log)
        self.assertIn("256 256", icon)  # taskbars scale a large icon down, not a small one up

        hidpi, hidpi_boxes, _, hidpi_log = self.waiting_screen(3840, 2160, 192, "192dpi")
        self.assertEqual(hidpi[2:], (2400, 1600))  # the first window follows the scale
        self.assertIn("Texts and layout drawn at scale 2", hidpi_log)
        title, title2 = plain_boxes[GREEN], hidpi_boxes[GREEN]
        self.assertAlmostEqual(title2[3] / title[3], 2.0, delta=0.2, msg=f"title {title} at 96 dpi, {title2} at 192")
        # The lines' lengths too (the status line's thin strokes at 96 dpi are all edge: few of
        # its pixels are pure white, so it has no length to compare).
        for colour in (GREEN, WEBSITE):
            self.assertAlmostEqual(hidpi_boxes[colour][2] / plain_boxes[colour][2], 2.0, delta=0.2, msg=colour)
        for colour in (GREEN, WHITE, WEBSITE):
            (x1, y1, w1, h1), (x2, y2, w2, h2) = plain_boxes[colour], hidpi_boxes[colour]
            # The same place in proportion to the window: its centre within 1 % of it.
            self.assertAlmostEqual((x1 + w1 / 2) / plain[2], (x2 + w2 / 2) / hidpi[2], delta=0.01, msg=colour)
            self.assertAlmostEqual((y1 + h1 / 2) / plain[3], (y2 + h2 / 2) / hidpi[3], delta=0.01, msg=colour)


class WaylandTest(DesktopCase):
    def weston(self, backend, **options):
        log = artifact(self.name(f"weston-{backend}-{options.get('scale', 1)}") + ".log")
        w = Weston(backend, log, **options)
        return self.keep(w, w.close)

    def test_a_compositor_without_a_seat_runs_the_receiver_until_sigterm(self):
        weston = self.weston("headless")
        for driver in ("", "wayland"):  # SDL's own choice, and Wayland asked for by name
            env = dict(weston.env, SDL_VIDEODRIVER=driver) if driver else weston.env
            receiver = self.receiver(env, f"driver-{driver or 'default'}")
            receiver.wait_serving()
            self.assertIn("offers no input seat", receiver.log())
            time.sleep(0.5)
            self.assertTrue(receiver.alive())
            self.assertEqual(receiver.terminate(), 0, receiver.log())

    def title_height(self, scale):
        x = self.keep(Xvfb(2800, 1900), lambda: x.close())
        weston = self.weston("x11", x_env=x.env, scale=scale, width=1300, height=850)
        receiver = self.receiver(dict(weston.env, SDL_VIDEODRIVER="wayland"), f"scale-{scale}")
        receiver.wait_serving()
        boxes = {}

        shot = artifact(self.name(f"scale-{scale}.png"))

        def measured():
            weston.screenshot(shot)
            boxes.update({colour: colour_box(shot, colour) for colour in (GREEN, WEBSITE)})
            return all(boxes.values())
        self.assertTrue(wait_until(measured, timeout=20, step=0.5), f"texts missing at scale {scale}: {boxes}")
        log = receiver.log()
        self.assertEqual(receiver.terminate(), 0, log)
        # libdecor's plugin is not installed here: one plain line instead of libdecor's own two.
        self.assertEqual(log.count("libdecor-0-plugin-1-cairo"), 1, log)
        self.assertNotIn("No plugins found", log)
        return boxes

    def test_scale_2_draws_texts_twice_as_large_in_device_pixels(self):
        plain = self.title_height(1)
        doubled = self.title_height(2)
        # The title's height, and the lengths of the title and the website line (small text
        # rounds its ink height too coarsely to compare).
        for colour, side in ((GREEN, 3), (GREEN, 2), (WEBSITE, 2)):
            self.assertAlmostEqual(doubled[colour][side] / plain[colour][side], 2.0, delta=0.2,
                                   msg=f"{colour}: {plain[colour]} at scale 1, {doubled[colour]} at scale 2")


class ScreenSaverTest(DesktopCase):
    def setUp(self):
        super().setUp()
        self.x = self.keep(Xvfb(), lambda: self.x.close())
        self.bus = self.keep(SessionBus(), lambda: self.bus.close())
        self.env = self.bus.env(self.x.env)

    def test_held_off_only_while_pictures_show(self):
        started = time.monotonic()
        idle_before = x_idle_ms(self.x.display)
        receiver = self.receiver(self.env, "receiver")
        receiver.wait_serving()
        self.assertIsNotNone(self.x.find_window("^Tavoli"))
        time.sleep(2)
        self.assertEqual(self.bus.calls(), [], "the screen saver was held off while waiting")
        # Nothing resets the X server's idle time either: it grew all the while.
        grown = x_idle_ms(self.x.display) - idle_before
        self.assertGreater(grown, (time.monotonic() - started) * 1000 - 500, "the idle time was reset")

        self.cast(3)
        cast_ended = time.monotonic()
        inhibits = self.bus.calls("Inhibit")  # while the pictures showed
        self.assertEqual(len(inhibits), 1, self.bus.calls())
        self.assertEqual(inhibits[0]["args"][:2], ["Orrin Receiver", "Showing a cast"])
        released = wait_until(lambda: self.bus.calls("UnInhibit"), timeout=6)
        self.assertTrue(released, "not let go after the sender left")
        self.assertLess(released[0]["time"] - cast_ended, 5.0)
        self.assertEqual(released[0]["args"], [inhibits[0]["args"][2]])  # its own cookie
        self.assertEqual(receiver.terminate(), 0)

    def test_no_screensaver_holds_it_off_for_the_whole_run(self):
        receiver = self.receiver(self.env, "receiver", ["--no-screensaver"])
        receiver.wait_serving()
        self.assertTrue(wait_until(lambda: self.bus.calls("Inhibit"), timeout=10), self.bus.calls())
        self.cast(2)
        time.sleep(1.5)  # where the sender's leaving would have let it go
        calls = self.bus.calls()
        # SDL also pokes the screen saver now and then (SimulateUserActivity) while it holds it off.
        self.assertEqual([c["method"] for c in calls if c["method"] != "SimulateUserActivity"], ["Inhibit"], calls)
        self.assertEqual(calls[0]["args"][:2], ["Orrin Receiver", "Keeping the screen on (--no-screensaver)"])
        self.assertEqual(receiver.terminate(), 0)


if __name__ == "__main__":
    RECEIVER, CAST, ARTIFACTS = sys.argv[1], sys.argv[2], sys.argv[3]
    os.makedirs(ARTIFACTS, exist_ok=True)
    unittest.main(argv=[sys.argv[0]] + sys.argv[4:], verbosity=2)
