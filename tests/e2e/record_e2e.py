#!/usr/bin/python3
"""Recording, saving the picture and the overlay, against the real orrin-receiver.

Run by CTest, one case per test:  record_e2e.py <receiver> <orrin-cast> <artifact dir> <Class.case>
The full-disk case mounts a small tmpfs in a mount namespace of its own (root only).
Files are checked with Debian's ffprobe and ffmpeg.
"""
import ctypes
import json
import os
import signal
import subprocess
import sys
import tempfile
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import receiver_process  # noqa: E402
from receiver_process import headless_env, wait_until  # noqa: E402
from x11_session import Xvfb  # noqa: E402

RECEIVER = ""
CAST = ""
ARTIFACTS = ""
SOUND_FRAME_BYTES = 640  # orrin-cast sends sound in 20 ms frames


def probe(path):
    result = subprocess.run(["ffprobe", "-v", "error", "-count_packets", "-show_streams", "-of", "json", path],
                            capture_output=True, text=True, timeout=60)
    return result.returncode, json.loads(result.stdout or "{}").get("streams", []), result.stderr


def decode_errors(path):
    """What ffmpeg says at error level while decoding the whole file (nothing for a sound file)."""
    result = subprocess.run(["ffmpeg", "-nostdin", "-v", "error", "-i", path, "-f", "null", "-"],
                            capture_output=True, text=True, timeout=120)
    # Pictures keep the times they arrived at, and on a busy machine two can be a millisecond
    # apart: ffmpeg's null output then complains of its own rounded timestamps. That is about
    # its output, not the file; every decoding fault is still reported.
    lines = [line for line in result.stderr.splitlines()
             if "non monotonically increasing dts to muxer" not in line]
    return "\n".join(lines).strip() or ("" if result.returncode == 0 else f"exit {result.returncode}")


def sound_bytes_in(path):
    result = subprocess.run(["ffmpeg", "-nostdin", "-v", "error", "-i", path, "-map", "0:a", "-f", "s16le", "-"],
                            capture_output=True, timeout=120)
    return len(result.stdout)


def saved_line(log, path):
    """The receiver's closing line for `path`: pictures written and pictures dropped."""
    for line in log.splitlines():
        if "Recording saved: " + path + " (" in line:
            numbers = line.split(" (")[1]
            return int(numbers.split(" pictures,")[0]), int(numbers.split("s of sound, ")[1].split(" ")[0])
    return None


def make_jpeg(path, size, colour):
    subprocess.run(["convert", "-size", size, "xc:" + colour, "-quality", "90", path], check=True, timeout=30)


class RecordTest(unittest.TestCase):
    def setUp(self):
        self.receiver = None
        self.scratch = tempfile.TemporaryDirectory()
        self.dir = self.scratch.name

    def tearDown(self):
        if self.receiver is not None:
            self.receiver.terminate()
        self.scratch.cleanup()

    def start(self, args, env=None):
        name = self.id().split(".")[-1]
        # Sound goes to SDL's dummy device: a missing sound card retried on every frame
        # would slow the sender's thread down and bunch its pictures.
        env = dict(env or headless_env(), SDL_AUDIODRIVER="dummy")
        # --verbose: the cases count every decoded picture by its line.
        self.receiver = receiver_process.Receiver(RECEIVER, env, os.path.join(ARTIFACTS, name + ".log"),
                                                  ["--verbose", *args])
        self.receiver.wait_serving()

    def cast(self, *args, timeout=90):
        return subprocess.run([CAST, "127.0.0.1", "--quiet", *args], capture_output=True, text=True, timeout=timeout)

    def check_tracks(self, path):
        code, streams, err = probe(path)
        self.assertEqual(code, 0, err)
        kinds = {s["codec_type"]: s for s in streams}
        self.assertEqual(len(streams), 2, streams)
        self.assertEqual(kinds["video"]["codec_name"], "mjpeg")
        self.assertEqual(kinds["audio"]["codec_name"], "pcm_s16le")
        self.assertEqual(kinds["audio"]["sample_rate"], "16000")
        self.assertEqual(kinds["audio"]["channels"], 1)
        return int(kinds["video"]["nb_read_packets"])

    def test_a_cast_with_a_rotation_is_recorded_whole_one_file_per_sender(self):
        path = os.path.join(self.dir, "cast.mkv")
        self.start(["--record", path])
        # A phone turning: the same cast switches between a landscape and a portrait picture.
        wide, tall = os.path.join(self.dir, "wide.jpg"), os.path.join(self.dir, "tall.jpg")
        make_jpeg(wide, "480x320", "red")
        make_jpeg(tall, "320x480", "blue")
        sent = self.cast("--jpeg", wide, wide, wide, tall, tall, tall, "--fps", "25", "--frames", "75",
                         "--tone", "440")
        self.assertEqual(sent.returncode, 0, sent.stderr)
        sound_frames = int(sent.stderr.split(" pictures and ")[1].split(" sound frames")[0])
        self.assertTrue(self.receiver.wait_log("Recording saved: " + path), self.receiver.log())
        accepted, dropped = saved_line(self.receiver.log(), path)
        self.assertEqual(dropped, 0)
        self.assertEqual(accepted, self.receiver.count("Successfully created HBITMAP"))
        self.assertGreaterEqual(accepted, 60)  # 75 sent 40 ms apart; a loaded machine may bunch a few

        self.assertEqual(self.check_tracks(path), accepted)
        self.assertEqual(decode_errors(path), "")
        # Every byte of sound sent is in the file: within 50 ms (1600 bytes) of what was sent.
        self.assertLessEqual(abs(sound_bytes_in(path) - sound_frames * SOUND_FRAME_BYTES), 1600)

        # The next sender of the run gets its own file.
        again = self.cast("--pattern", "320x240", "--fps", "25", "--frames", "10")
        self.assertEqual(again.returncode, 0, again.stderr)
        second = os.path.join(self.dir, "cast-2.mkv")
        self.assertTrue(self.receiver.wait_log("Recording saved: " + second), self.receiver.log())
        self.assertEqual(decode_errors(second), "")
        self.assertEqual(self.check_tracks(path), accepted)  # the first file is left as it was

    def test_sigkill_leaves_a_file_that_decodes_to_within_a_second(self):
        path = os.path.join(self.dir, "killed.mkv")
        self.start(["--record", path])
        sender = subprocess.Popen([CAST, "127.0.0.1", "--quiet", "--pattern", "640x480", "--fps", "25", "--tone", "300",
                                   "--duration", "60"], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        try:
            self.assertTrue(wait_until(lambda: self.receiver.count("Successfully created HBITMAP") >= 100, 60),
                            self.receiver.log())
            accepted = self.receiver.count("Successfully created HBITMAP")
            self.receiver.process.kill()
            self.receiver.process.wait()
        finally:
            sender.kill()
            sender.wait()
        self.assertEqual(decode_errors(path), "")
        pictures = self.check_tracks(path)
        # A cluster is written about once a second: at most about 1.5 s of 25 pictures a second is lost.
        self.assertGreaterEqual(pictures, accepted - 40, (pictures, accepted))
        self.assertLessEqual(pictures, accepted + 3)

    def test_a_full_disk_ends_the_recording_with_one_line_and_the_cast_goes_on(self):
        disk = os.path.join(self.dir, "small")
        os.mkdir(disk)
        if os.geteuid() != 0:
            self.skipTest("mounting a tmpfs needs root")
        # A mount namespace of this process's own: the tmpfs is seen by it and its children only.
        if ctypes.CDLL(None, use_errno=True).unshare(0x00020000) != 0:  # CLONE_NEWNS
            self.skipTest("no mount namespace: " + os.strerror(ctypes.get_errno()))
        subprocess.run(["mount", "--make-rprivate", "/"], check=True)
        subprocess.run(["mount", "-t", "tmpfs", "-o", "size=3m", "tmpfs", disk], check=True)
        try:
            path = os.path.join(disk, "full.mkv")
            self.start(["--record", path])
            sender = subprocess.Popen([CAST, "127.0.0.1", "--quiet", "--pattern", "640x480", "--quality", "95",
                                       "--fps", "25", "--tone", "300", "--duration", "60"],
                                      stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            try:
                self.assertTrue(self.receiver.wait_log("Recording stopped: ", 60), self.receiver.log())
                at_error = self.receiver.count("Successfully created HBITMAP")
                # The cast goes on: pictures keep being decoded and shown.
                self.assertTrue(wait_until(lambda: self.receiver.count("Successfully created HBITMAP") >= at_error + 25,
                                           20), self.receiver.log())
                self.assertTrue(sender.poll() is None)
            finally:
                sender.kill()
                sender.wait()
            log = self.receiver.log()
            errors = [line for line in log.splitlines() if "Recording" in line and "ERROR" in line]
            self.assertEqual(len(errors), 1, errors)
            self.assertIn("No space left on device", errors[0])
            self.assertIn(path, errors[0])
            self.assertTrue(self.receiver.alive())
            self.assertEqual(decode_errors(path), "")
            self.assertGreater(self.check_tracks(path), 10)
        finally:
            if self.receiver is not None:
                self.receiver.terminate()
                self.receiver = None
            subprocess.run(["umount", disk], check=False)

    def test_keys_overlay_capture_and_recording_windowed_and_full_screen(self):
        x = Xvfb()
        pictures = os.path.join(self.dir, "Pictures")
        videos = os.path.join(self.dir, "Videos")
        os.mkdir(pictures)
        os.mkdir(videos)
        sender = None
        try:
            env = dict(x.env, XDG_PICTURES_DIR=pictures, XDG_VIDEOS_DIR=videos)
            self.start([], env)
            window = x.find_window("^Tavoli")
            self.assertIsNotNone(window)
            x.key(window, "Return")  # the information box
            # One JPEG, sent again and again: whatever is on screen is exactly these bytes.
            jpeg = os.path.join(self.dir, "green.jpg")
            make_jpeg(jpeg, "1080x2400", "#208040")
            sender = subprocess.Popen([CAST, "127.0.0.1", "--quiet", "--jpeg", jpeg, "--fps", "20", "--tone", "500",
                                       "--duration", "60"], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            self.assertTrue(wait_until(lambda: self.receiver.count("Successfully created HBITMAP") >= 10),
                            self.receiver.log())
            gx, gy, w, h = x.geometry(window)
            corner = (gx + w - 250, gy + 10, gx + w - 10, gy + 150)  # the overlay's corner, in black bars

            def dark(screen):
                return screen.count((0, 0, 0), *corner, tolerance=8)

            area = (corner[2] - corner[0]) * (corner[3] - corner[1])
            before = x.screenshot(os.path.join(ARTIFACTS, "overlay-off.png"))
            self.assertEqual(dark(before), area)  # letterbox bars: all black
            x.key(window, "i")
            time.sleep(2.5)  # a second of figures, then a repaint
            shown = x.screenshot(os.path.join(ARTIFACTS, "overlay-windowed.png"))
            self.assertLess(dark(shown), area * 0.97)  # text drawn into the corner
            self.assertIn("Overlay shown", self.receiver.log())

            x.key(window, "s")
            self.assertTrue(self.receiver.wait_log("Picture saved: " + pictures), self.receiver.log())
            saved = [os.path.join(pictures, f) for f in os.listdir(pictures)]
            self.assertEqual(len(saved), 1)
            with open(saved[0], "rb") as got, open(jpeg, "rb") as sent:
                self.assertEqual(got.read(), sent.read())

            x.key(window, "r")
            self.assertTrue(self.receiver.wait_log("Recording to " + videos), self.receiver.log())
            x.key(window, "F11")
            time.sleep(2.5)
            x.screenshot(os.path.join(ARTIFACTS, "overlay-fullscreen.png"))
            x.key(window, "r")
            self.assertTrue(self.receiver.wait_log("Recording saved: " + videos), self.receiver.log())
            recorded = [os.path.join(videos, f) for f in os.listdir(videos)]
            self.assertEqual(len(recorded), 1)
            self.assertRegex(os.path.basename(recorded[0]), r"^orrin-\d{8}-\d{6}\.mkv$")
            self.assertEqual(decode_errors(recorded[0]), "")

            x.key(window, "Escape")
            x.key(window, "i")
            time.sleep(1.5)
            hidden = x.screenshot(os.path.join(ARTIFACTS, "overlay-hidden-again.png"))
            gx, gy, w, h = x.geometry(window)
            corner = (gx + w - 250, gy + 10, gx + w - 10, gy + 150)
            self.assertEqual(dark(hidden), area)
        finally:
            if sender is not None:
                sender.kill()
                sender.wait()
            if self.receiver is not None:
                self.receiver.terminate()
                self.receiver = None
            x.close()


if __name__ == "__main__":
    RECEIVER, CAST, ARTIFACTS = sys.argv[1], sys.argv[2], sys.argv[3]
    os.makedirs(ARTIFACTS, exist_ok=True)
    unittest.main(argv=[sys.argv[0]] + sys.argv[4:], verbosity=2)
