#!/usr/bin/python3
"""Several senders in one window, and senders that wait to be let in: the real receiver
under a private Xvfb, real orrin-cast senders with solid colours and tones, a real
websockets client for the senders that are refused.

Run by CTest:  senders_e2e.py <receiver> <orrin-cast> <artifact dir> <Class.case>
"""
import array
import asyncio
import os
import re
import signal
import subprocess
import sys
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import receiver_process  # noqa: E402
from receiver_process import wait_until  # noqa: E402
from x11_session import Xvfb  # noqa: E402

RECEIVER = CAST = ARTIFACTS = ""
INFO_CAPTION_BAR = (60, 90, 150)
FOCUS_FRAME = (0, 160, 255)
RED, BLUE, GREEN, YELLOW = (220, 30, 30), (30, 30, 220), (30, 200, 30), (230, 220, 20)
WAITING_TITLE = "Tavoli网投屏接受客户端 - 等待连接..."


def hex_colour(colour):
    return "".join(f"{c:02x}" for c in colour)


def tone_hz(pcm):
    """The frequency of a pure tone, from its zero crossings (16 kHz samples)."""
    crossings = sum(1 for a, b in zip(pcm, pcm[1:]) if (a < 0) != (b < 0))
    return crossings * 16000 / 2 / len(pcm)


def last_sound(path, samples=8000):
    """The last `samples` samples of sound in the disk driver's file, the silence between
    the device's buffers left out (whole runs of it: a tone has zero samples of its own)."""
    pcm = array.array("h")
    with open(path, "rb") as f:
        data = f.read()
    pcm.frombytes(data[-16000 * 2 * 4:][: len(data[-16000 * 2 * 4:]) // 2 * 2])
    heard = []
    for start in range(0, len(pcm) - 63, 64):
        block = pcm[start:start + 64]
        if any(block):
            heard.extend(block)
    return heard[-samples:]


class SendersTest(unittest.TestCase):
    def setUp(self):
        self.x = Xvfb()
        self.receiver = None
        self.senders = []

    def tearDown(self):
        for sender in self.senders:
            if sender.poll() is None:
                sender.send_signal(signal.SIGINT)
                sender.communicate(timeout=15)
        if self.receiver is not None:
            self.receiver.stop()
        self.x.close()

    def shot(self, name):
        return self.x.screenshot(os.path.join(ARTIFACTS, f"{self.id().split('.')[-1]}-{name}.png"))

    def start(self, *args, env=None):
        name = self.id().split(".")[-1]
        self.receiver = receiver_process.Receiver(RECEIVER, dict(self.x.env, **(env or {})),
                                                  os.path.join(ARTIFACTS, name + ".log"), args)
        window = self.x.find_window("^Tavoli", timeout=self.receiver.start_timeout)
        self.assertIsNotNone(window, self.receiver.log())
        self.assertTrue(wait_until(lambda: self.x.window_name(window) == WAITING_TITLE))
        geometry = self.x.geometry(window)
        x, y, w, h = geometry
        self.assertTrue(wait_until(lambda: self.shot("box").count(INFO_CAPTION_BAR, x, y, x + w, y + h) > 5000))
        self.x.key(window, "Return")
        return window, geometry

    def cast(self, colour, tone=None, fps=15):
        args = [CAST, "127.0.0.1", "--pattern", "540x1200", "--colour", hex_colour(colour), "--quality", "95",
                "--fps", str(fps), "--duration", "120", "--quiet"]
        if tone:
            args += ["--tone", str(tone)]
        sender = subprocess.Popen(args, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
        self.senders.append(sender)
        return sender

    def shows(self, name, geometry, expected):
        """Waits until every (colour, (left, top, right, bottom)) of `expected`, relative to the
        drawing area, is mostly that colour; returns the last screen."""
        x, y, _, _ = geometry
        last = {}

        def check():
            last["screen"] = screen = self.shot(name)
            return all(screen.count(colour, x + l, y + t, x + r, y + b, 12) >= 0.95 * (r - l) * (b - t)
                       for colour, (l, t, r, b) in expected)
        self.assertTrue(wait_until(check, timeout=20), f"{name}: not shown\n" + self.receiver.log()[-3000:])
        return last["screen"]

    def test_tiles_focus_sound_zoom_and_a_leaving_sender(self):
        played = os.path.join(ARTIFACTS, "senders-played.raw")
        if os.path.exists(played):
            os.remove(played)
        recording = os.path.join(ARTIFACTS, "senders.mkv")
        files = [recording] + [recording.replace(".mkv", f"-{n}.mkv") for n in (2, 3, 4, 5)]
        for path in files:
            if os.path.exists(path):
                os.remove(path)
        window, geometry = self.start("--senders", "4", "--record", recording,
                                      env=dict(SDL_AUDIODRIVER="disk", SDL_DISKAUDIOFILE=played, SDL_DISKAUDIODELAY="5"))
        x, y, w, h = geometry
        self.assertEqual((w, h), (1200, 800))
        # Two: 600x800 tiles, each 540x1200 picture 360x800 in the middle of its own.
        red = self.cast(RED, tone=440)
        self.shows("one", geometry, [(RED, (470, 100, 730, 700))])  # alone it fills the window
        self.cast(BLUE, tone=1000)
        screen = self.shows("two", geometry, [(RED, (140, 100, 460, 700)), (BLUE, (740, 100, 1060, 700))])
        self.assertEqual(screen.count((0, 0, 0), x + 10, y + 10, x + 110, y + 600), 100 * 590)  # letterboxed
        self.assertEqual(screen.count(BLUE, x, y, x + 600, y + h, 12), 0)
        # The focus frame: the first sender's tile, then Tab and 2 move it, 1 brings it back.
        self.assertGreater(screen.count(FOCUS_FRAME, x + 10, y, x + 590, y + 4), 2000)
        self.assertEqual(screen.count(FOCUS_FRAME, x + 610, y, x + 1190, y + 4), 0)
        self.x.key(window, "Tab")
        self.assertTrue(wait_until(lambda: self.shot("tab").count(FOCUS_FRAME, x + 610, y, x + 1190, y + 4) > 2000))
        self.x.key(window, "1")
        self.assertTrue(wait_until(lambda: self.shot("key1").count(FOCUS_FRAME, x + 10, y, x + 590, y + 4) > 2000))
        # Only the focused sender is heard.
        time.sleep(1.5)
        self.assertAlmostEqual(tone_hz(last_sound(played)), 440, delta=30)
        self.x.key(window, "2")
        self.assertTrue(wait_until(lambda: abs(tone_hz(last_sound(played, 4000)) - 1000) < 40, timeout=10),
                        tone_hz(last_sound(played, 4000)))
        time.sleep(1)
        self.assertAlmostEqual(tone_hz(last_sound(played)), 1000, delta=40)

        # Four: a 2x2 grid of 600x400 tiles, each picture 180x400 in its middle.
        self.cast(GREEN)
        self.shows("three", geometry, [(GREEN, (250, 450, 350, 750))])
        yellow = self.cast(YELLOW)
        self.shows("four", geometry, [(RED, (250, 50, 350, 350)), (BLUE, (850, 50, 950, 350)),
                                      (GREEN, (250, 450, 350, 750)), (YELLOW, (850, 450, 950, 750))])
        # Z: the focused (blue) one alone, and back.
        self.x.key(window, "z")
        screen = self.shows("zoomed", geometry, [(BLUE, (470, 100, 730, 700))])
        self.assertEqual(screen.count(RED, x, y, x + w, y + h, 12), 0)
        self.x.key(window, "z")
        self.shows("unzoomed", geometry, [(RED, (250, 50, 350, 350)), (YELLOW, (850, 450, 950, 750))])
        # One leaves: its tile is free, the others stay where they are.
        yellow.send_signal(signal.SIGINT)
        yellow.communicate(timeout=15)
        self.assertTrue(wait_until(lambda: self.shot("left").count(YELLOW, x + 600, y + 400, x + w, y + h, 12) == 0,
                                   timeout=20))
        self.shows("others", geometry, [(RED, (250, 50, 350, 350)), (BLUE, (850, 50, 950, 350)),
                                        (GREEN, (250, 450, 350, 750))])
        self.assertIsNone(red.poll())

        # Recorded side by side: a file per sender, in the order they came, each its colour.
        for sender in self.senders:
            sender.send_signal(signal.SIGINT)
            sender.communicate(timeout=15)
        self.assertTrue(wait_until(lambda: self.receiver.log().count("Recording saved: ") == 4, timeout=20),
                        self.receiver.log()[-3000:])
        self.receiver.stop()
        self.assertFalse(os.path.exists(files[4]))
        for path, colour in zip(files, (RED, BLUE, GREEN, YELLOW)):
            pixel = subprocess.run(["ffmpeg", "-nostdin", "-v", "error", "-i", path, "-frames:v", "1",
                                    "-vf", "crop=2:2:270:600", "-f", "rawvideo", "-pix_fmt", "rgb24", "-"],
                                   capture_output=True, timeout=60).stdout
            self.assertEqual(len(pixel), 12, path)
            for got, want in zip(pixel[:3], colour):
                self.assertAlmostEqual(got, want, delta=20, msg=path)

    def test_approval_prompt_preview_yes_no_and_time_out(self):
        import websockets.client
        import websockets.exceptions

        window, geometry = self.start("--approve", "--stats", env=dict(ORRIN_APPROVE_TIMEOUT_MS="3000"))
        x, y, w, h = geometry
        picture = os.path.join(ARTIFACTS, "approve-blue.jpg")
        subprocess.run(["convert", "-size", "540x1200", f"xc:rgb{BLUE}", "-quality", "95", picture],
                       check=True, timeout=20)
        with open(picture, "rb") as f:
            blue = f.read()

        async def stranger(source, while_waiting):
            """Casts from `source` until closed; returns the close code it was given."""
            async with websockets.client.connect("ws://127.0.0.1:9959/", local_addr=(source, 0)) as ws:
                try:
                    for _ in range(400):
                        await ws.send(bytes([0, 0, 0, 0, 1]) + blue)
                        await asyncio.sleep(0.1)
                        await asyncio.get_running_loop().run_in_executor(None, while_waiting)
                except websockets.exceptions.ConnectionClosed:
                    pass
                await ws.wait_closed()
                return ws.close_code

        # A newcomer: the prompt with its preview (blue in the middle square); N refuses it.
        answered = []

        def say_no():
            if answered:
                return
            screen = self.shot("prompt")
            if screen.count(BLUE, x + 560, y + 280, x + 640, y + 420, 12) > 0.95 * 80 * 140:
                self.assertEqual(screen.count(BLUE, x, y, x + 400, y + h, 12), 0)  # nowhere else
                answered.append(True)
                self.x.key(window, "n")
        self.assertEqual(asyncio.run(stranger("127.0.0.2", say_no)), 1008)
        self.assertTrue(answered)
        self.assertTrue(self.receiver.wait_log("Sender refused, not approved: 127.0.0.2:"))
        self.assertIn("(refused by the user)", self.receiver.log())

        # Y lets a sender in; its pictures keep coming while another waits, who is refused
        # when the time is up.
        red = self.cast(RED)
        self.assertTrue(self.receiver.wait_log("等待允许投屏: 127.0.0.1:"))
        self.x.key(window, "y")
        self.shows("admitted", geometry, [(RED, (470, 100, 730, 700))])
        before = len(self.receiver.log())
        self.assertEqual(asyncio.run(stranger("127.0.0.3", lambda: None)), 1008)
        log = self.receiver.log()
        self.assertIn("Sender refused, not approved: 127.0.0.3:", log)
        self.assertIn("(no answer in 3 s)", log)
        self.assertIn("等待允许投屏: 127.0.0.3:", log[before:])
        # The red sender went on meanwhile: its pictures were shown every second of the wait.
        shown = [int(n) for n in re.findall(r"stats: received \d+, shown (\d+)", log[before:])]
        self.assertGreaterEqual(len(shown), 2, log[before:])
        self.assertTrue(all(n >= 8 for n in shown[:-1]), shown)
        self.assertIsNone(red.poll())
        # An address let in once is let in again without asking.
        red.send_signal(signal.SIGINT)
        red.communicate(timeout=15)
        self.cast(YELLOW)
        self.shows("again", geometry, [(YELLOW, (470, 100, 730, 700))])
        self.assertEqual(self.receiver.count("等待允许投屏: 127.0.0.1:"), 1)

    def test_approve_without_a_display_is_refused_at_start(self):
        env = receiver_process.headless_env()
        self.receiver = receiver_process.Receiver(RECEIVER, env, os.path.join(ARTIFACTS, "approve-headless.log"),
                                                  ["--approve"])
        self.assertEqual(self.receiver.wait_exit(), 1)
        self.assertIn("--approve needs a window", self.receiver.log())


if __name__ == "__main__":
    RECEIVER, CAST, ARTIFACTS = sys.argv[1], sys.argv[2], sys.argv[3]
    os.makedirs(ARTIFACTS, exist_ok=True)
    unittest.main(argv=[sys.argv[0]] + sys.argv[4:], verbosity=2)
