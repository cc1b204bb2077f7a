#!/usr/bin/python3
"""The shared view (--share) of the real orrin-receiver, opened by real clients: Chromium,
ffprobe, Prometheus, raw sockets and hostile ones.

Run by CTest, one case per test:  share_e2e.py <receiver> <orrin-cast> <artifact dir> <Class.case>
The receiver runs without a display, in the private network namespace of its test.
"""
import json
import os
import signal
import socket
import subprocess
import sys
import tempfile
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import receiver_process  # noqa: E402
from receiver_process import headless_env, wait_until  # noqa: E402
from share_clients import (CastSession, Chromium, Prometheus, StreamViewer, body, http_get,  # noqa: E402
                           mean_colour, status_line)

RECEIVER = ""
CAST = ""
ARTIFACTS = ""
SHARE_PORT = 8080
COLOUR = (30, 144, 255)  # dodger blue: far from black, grey and the page's own colours


def windowless_env():
    env = {"SDL_AUDIODRIVER": "dummy"}
    if receiver_process.under_wine(RECEIVER):
        env["SDL_VIDEODRIVER"] = "offscreen"
    return headless_env(**env)


def solid_jpeg(path, colour=COLOUR, size="320x240"):
    subprocess.run(["convert", "-size", size, "xc:rgb(%d,%d,%d)" % colour, "-quality", "90", path], check=True)
    with open(path, "rb") as f:
        return f.read()


def metric(text, name):
    for line in text.splitlines():
        if line.startswith(name + " "):
            return float(line.split()[1])
    return None


class ShareCase(unittest.TestCase):
    def setUp(self):
        self.receiver = None
        self.cleanups = []
        self.dir = tempfile.mkdtemp(prefix="orrin-share-")

    def tearDown(self):
        for cleanup in reversed(self.cleanups):
            cleanup()
        if self.receiver is not None:
            self.receiver.stop()

    def start(self, *args, share=f"127.0.0.1:{SHARE_PORT}"):
        name = self.id().rsplit(".", 1)[-1]
        self.receiver = receiver_process.Receiver(RECEIVER, windowless_env(),
                                                  os.path.join(ARTIFACTS, name + ".log"), ["--share", share, *args])
        self.receiver.wait_serving()
        self.assertTrue(self.receiver.wait_log("Shared view on http://"), self.receiver.log())

    def sender(self, *args):
        process = subprocess.Popen([CAST, "127.0.0.1", "--quiet", *args], stdout=subprocess.DEVNULL,
                                   stderr=subprocess.PIPE)
        self.cleanups.append(lambda: (process.kill(), process.wait()))
        return process

    def metrics(self):
        return body(http_get(SHARE_PORT, "/metrics")).decode()


class ShareTest(ShareCase):
    def test_the_shared_view_answers_its_status(self):
        self.start()
        answer = http_get(SHARE_PORT, "/status")
        self.assertEqual(status_line(answer), "HTTP/1.1 200 OK", answer)
        status = json.loads(body(answer))
        self.assertEqual(status["senders"], [])
        self.assertIn("version", status)

    def test_a_browser_shows_the_cast_names_the_sender_and_plays_its_sound(self):
        self.start()
        solid = os.path.join(self.dir, "solid.jpg")
        solid_jpeg(solid)
        self.sender("--jpeg", solid, "--fps", "15", "--tone", "440", "--duration", "60")
        self.assertTrue(wait_until(lambda: json.loads(body(http_get(SHARE_PORT, "/status")))["senders"]))
        browser = Chromium(ARTIFACTS)
        self.cleanups.append(browser.close)
        browser.call("Page.navigate", url=f"http://127.0.0.1:{SHARE_PORT}/")
        line = wait_until(lambda: (browser.evaluate("document.getElementById('status').textContent") or "")
                          .startswith("Sender 127.0.0.1:") and browser.evaluate(
                              "document.getElementById('status').textContent"), timeout=20, step=0.2)
        self.assertTrue(line, browser.evaluate("document.body.innerText"))
        self.assertIn("320×240", line)
        browser.click(400, 300)  # the gesture that lets the page start its sound
        self.assertTrue(wait_until(lambda: (browser.evaluate("window.orrinSoundSamples") or 0) > 16000,
                                   timeout=20, step=0.2), browser.evaluate("document.body.innerText"))
        shot = os.path.join(ARTIFACTS, "share_browser.png")
        # The picture is letterboxed in the middle of the 800x600 page above the status line.
        self.assertTrue(wait_until(lambda: browser.screenshot(shot) or
                                   all(abs(a - b) <= 12 for a, b in zip(mean_colour(shot, 300, 200, 200, 150), COLOUR)),
                                   timeout=10, step=0.5), mean_colour(shot, 300, 200, 200, 150))
        self.assertEqual(mean_colour(shot, 0, 20, 40, 40), (0, 0, 0))  # the letterbox bars stay black

    def test_ffprobe_reads_the_stream_and_the_snapshot_is_the_last_picture_sent(self):
        self.start()
        pictures = [solid_jpeg(os.path.join(self.dir, f"{i}.jpg"), colour=(40 * i, 100, 200), size="160x120")
                    for i in range(3)]
        cast = CastSession()
        self.cleanups.append(cast.close)
        for picture in pictures:
            cast.picture(picture)
            time.sleep(0.1)
        self.assertTrue(wait_until(lambda: body(http_get(SHARE_PORT, "/snapshot.jpg")) == pictures[-1], timeout=10))
        sender = self.sender("--pattern", "320x240", "--fps", "25", "--duration", "60")
        self.assertTrue(wait_until(lambda: metric(self.metrics(), "orrin_connections_total") == 2))
        probe = subprocess.run(
            ["ffprobe", "-v", "error", "-rw_timeout", "5000000", "-count_frames", "-read_intervals", "%+#10",
             "-show_entries", "stream=codec_name,width,height,nb_read_frames", "-of", "json",
             f"http://127.0.0.1:{SHARE_PORT}/stream.mjpg"], capture_output=True, text=True, timeout=60)
        self.assertEqual(probe.returncode, 0, probe.stderr)
        stream = json.loads(probe.stdout)["streams"][0]
        self.assertEqual((stream["codec_name"], stream["width"], stream["height"]), ("mjpeg", 320, 240))
        self.assertGreaterEqual(int(stream["nb_read_frames"]), 10)
        self.assertIsNone(sender.poll())

    def test_prometheus_scrapes_the_metrics_and_promtool_finds_no_problem(self):
        self.start()
        self.sender("--pattern", "320x240", "--fps", "25", "--tone", "440", "--duration", "60")
        server = Prometheus(ARTIFACTS, f"127.0.0.1:{SHARE_PORT}")
        self.cleanups.append(server.close)
        result = wait_until(lambda: [r for r in server.query("orrin_pictures_received_total")
                                     if float(r["value"][1]) > 0], timeout=30, step=0.5)
        self.assertTrue(result, server.query("up"))
        self.assertEqual(result[0]["metric"], {"__name__": "orrin_pictures_received_total", "job": "orrin",
                                               "instance": f"127.0.0.1:{SHARE_PORT}"})
        self.assertTrue(wait_until(lambda: server.query("histogram_quantile(0.5, orrin_decode_seconds_bucket)"),
                                   timeout=10, step=0.5))
        check = subprocess.run(["promtool", "check", "metrics"], input=self.metrics(), capture_output=True, text=True)
        self.assertEqual((check.returncode, check.stdout + check.stderr), (0, ""))


class ViewerLimitTest(ShareCase):
    def test_eight_viewers_one_stalled_the_others_keep_the_rate_and_the_ninth_is_turned_away(self):
        self.start()
        self.sender("--pattern", "640x360", "--fps", "30", "--duration", "60")
        self.assertTrue(wait_until(lambda: (metric(self.metrics(), "orrin_pictures_received_total") or 0) > 10))
        viewers = [StreamViewer(SHARE_PORT) for _ in range(8)]
        for viewer in viewers:
            self.cleanups.append(viewer.close)
            self.assertIn("multipart/x-mixed-replace", viewer.head())
        ninth = http_get(SHARE_PORT, "/stream.mjpg")
        self.assertEqual(status_line(ninth), "HTTP/1.1 503 Service Unavailable", ninth)
        # viewers[0] never reads again. The others read for three seconds, one after another
        # within each round, as eight browsers would.
        before = metric(self.metrics(), "orrin_pictures_received_total")
        counts = [0] * 8
        end = time.monotonic() + 3
        while time.monotonic() < end:
            for i, viewer in enumerate(viewers[1:], start=1):
                counts[i] += viewer.drain(0.05)
        received = metric(self.metrics(), "orrin_pictures_received_total") - before
        self.assertGreater(received, 60)
        for i in range(1, 8):
            self.assertGreater(counts[i], 0.8 * received, (counts, received))

    def test_a_token_is_asked_for_and_outsiders_are_closed(self):
        self.start("--share-token", "room-42")
        self.assertEqual(status_line(http_get(SHARE_PORT, "/status")), "HTTP/1.1 401 Unauthorized")
        self.assertEqual(status_line(http_get(SHARE_PORT, "/stream.mjpg?token=room-41")), "HTTP/1.1 401 Unauthorized")
        page = http_get(SHARE_PORT, "/?token=room-42")
        self.assertEqual(status_line(page), "HTTP/1.1 200 OK")
        self.assertIn(b"Set-Cookie: orrin_share_token=room-42;", page)
        self.assertEqual(status_line(http_get(SHARE_PORT, "/metrics", "Cookie: orrin_share_token=room-42\r\n")),
                         "HTTP/1.1 200 OK")
        self.assertEqual(self.receiver.terminate(), 0)
        # The loopback address is outside 10.77.0.0/16: its connections end unanswered.
        self.start("--allow", "10.77.0.0/16")
        self.assertEqual(http_get(SHARE_PORT, "/status"), b"")


class HostileViewerTest(ShareCase):
    def test_idlers_trickers_and_junk_neither_stop_the_cast_nor_grow_the_receiver(self):
        self.start()
        self.sender("--pattern", "320x240", "--fps", "30", "--duration", "120")
        watcher = StreamViewer(SHARE_PORT)
        self.cleanups.append(watcher.close)
        self.assertIn("200 OK", watcher.head())
        self.assertGreater(watcher.drain(1), 10)
        baseline = self.receiver.usage()

        idlers = []
        for _ in range(200):
            s = socket.socket()
            s.setblocking(False)
            s.connect_ex(("127.0.0.1", SHARE_PORT))
            idlers.append(s)
        self.cleanups.append(lambda: [s.close() for s in idlers])
        trickler = socket.create_connection(("127.0.0.1", SHARE_PORT))
        self.cleanups.append(trickler.close)
        junk = {
            b"GARBAGE\r\n\r\n": None,
            b"GET /" + b"a" * 20000 + b" HTTP/1.1\r\n\r\n": None,
            b"GET / HTTP/1.1\r\n" + b"X-Big: " + b"b" * 20000 + b"\r\n\r\n": None,
            b"GET /../../../etc/passwd HTTP/1.1\r\n\r\n": b"HTTP/1.1 404",
            b"GET /%2e%2e/%2e%2e/etc/passwd HTTP/1.1\r\n\r\n": b"HTTP/1.1 404",
            b"POST /status HTTP/1.1\r\nContent-Length: 99999999999\r\n\r\n": b"HTTP/1.1 405",
        }
        pictures_during = 0
        trickled = b""
        trickler_cut = False
        for i, (request, expected) in enumerate(junk.items()):
            try:  # headers a byte a second: cut off, never served
                trickler.send(b"GET /status HTTP/1.1\r\n"[i:i + 1])
                trickler.setblocking(False)
                trickled += trickler.recv(65536)
                trickler_cut = True  # an orderly end (b"" read): the server closed it
            except BlockingIOError:
                pass
            except (BrokenPipeError, ConnectionResetError):
                trickler_cut = True
            with socket.create_connection(("127.0.0.1", SHARE_PORT), timeout=10) as s:
                try:
                    s.sendall(request)
                    answer = s.recv(65536)
                except (ConnectionResetError, BrokenPipeError, socket.timeout):
                    answer = b""
            self.assertNotIn(b"root:", answer)
            if expected is not None:
                self.assertTrue(answer.startswith(expected), answer[:200])
            else:
                self.assertFalse(answer.startswith(b"HTTP/1.1 200"), answer[:200])
            pictures_during += watcher.drain(1)
        self.assertGreater(pictures_during, 6 * 15, "the stream stalled under the attack")
        self.assertTrue(trickler_cut)
        self.assertNotIn(b" 200 OK", trickled)  # civetweb's 400, or nothing
        during = self.receiver.usage()
        self.assertLessEqual(during.threads, baseline.threads + 4, f"{baseline} -> {during}")
        if not os.environ.get("ORRIN_E2E_SANITIZED"):  # sanitizers hold freed memory back on purpose
            self.assertLess(during.rss_kib - baseline.rss_kib, 32 * 1024, f"{baseline} -> {during}")
        self.assertTrue(wait_until(lambda: json.loads(body(http_get(SHARE_PORT, "/status")))["senders"], timeout=20))

        started = time.monotonic()
        self.receiver.process.send_signal(signal.SIGTERM)
        self.assertEqual(self.receiver.wait_exit(5), 0)
        self.assertLess(time.monotonic() - started, 1.0)


if __name__ == "__main__":
    RECEIVER, CAST, ARTIFACTS = sys.argv[1], sys.argv[2], sys.argv[3]
    if not os.access(CAST, os.X_OK):
        sys.exit(f"no sender at {CAST}: build orrin-cast for this machine first (cmake --preset release)")
    os.makedirs(ARTIFACTS, exist_ok=True)
    unittest.main(argv=[sys.argv[0]] + sys.argv[4:], verbosity=2)
