#!/usr/bin/python3
"""orrin-cast against the real orrin-receiver on loopback, as a person would use the two.

Run by CTest, one case per test:  cast_e2e.py <receiver> <orrin-cast> <artifact dir> <Class.case>
The receiver runs without a display (it then serves the cast link, discovery, decoding and
sound only), except where a case looks at the window under a private Xvfb.
"""
import base64
import hashlib
import os
import signal
import socket
import struct
import subprocess
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import receiver_process  # noqa: E402
from receiver_process import headless_env, wait_until  # noqa: E402
from x11_session import Xvfb  # noqa: E402

RECEIVER = ""
CAST = ""
ARTIFACTS = ""

EXIT_BAD_INPUT, EXIT_CONNECT_FAILED, EXIT_HANDSHAKE_REFUSED, EXIT_CONNECTION_LOST = 2, 3, 4, 5


def windowless_env(**extra):
    """No window: on Linux no display at all. Under Wine a Windows program has no such mode
    (without X it cannot make a window and fails), so SDL's offscreen driver is named."""
    if receiver_process.under_wine(RECEIVER):
        extra.setdefault("SDL_VIDEODRIVER", "offscreen")
    return headless_env(**extra)


def serving_receiver(env, name):
    # --verbose: every picture has its lines, and the cases count them.
    receiver = receiver_process.Receiver(RECEIVER, env, os.path.join(ARTIFACTS, name + ".log"), ["--verbose"])
    receiver.wait_serving()
    return receiver


def cast(*args, timeout=60):
    return subprocess.run([CAST, *args], capture_output=True, text=True, timeout=timeout)


def sound_bytes(seconds, seed):
    """16-bit samples with no zero among them: SDL's disk driver writes silence as zeros."""
    samples = []
    value = seed * 7919 + 1
    for _ in range(int(16000 * seconds)):
        value = (value * 1103515245 + 12345) & 0x7FFFFFFF
        sample = (value >> 8) % 20000 - 10000
        samples.append(sample if sample != 0 else 1)
    return struct.pack("<%dh" % len(samples), *samples)


def wav_file(path, pcm, rate=16000, channels=1, bits=16):
    header = struct.pack("<4sI4s4sIHHIIHH4sI", b"RIFF", 36 + len(pcm), b"WAVE", b"fmt ", 16, 1, channels, rate,
                         rate * channels * bits // 8, channels * bits // 8, bits, b"data", len(pcm))
    with open(path, "wb") as f:
        f.write(header + pcm)


def strip_silence(raw):
    samples = struct.unpack("<%dh" % (len(raw) // 2), raw[:len(raw) // 2 * 2])
    return struct.pack("<%dh" % sum(1 for s in samples if s != 0), *(s for s in samples if s != 0))


class CastTest(unittest.TestCase):
    def setUp(self):
        self.receiver = None
        self.scratch = tempfile.TemporaryDirectory()

    def tearDown(self):
        if self.receiver is not None:
            self.receiver.terminate()
        self.scratch.cleanup()

    def start(self, env=None):
        self.receiver = serving_receiver(env or windowless_env(), self.id().split(".")[-1])

    def test_handshake_answer_is_exactly_the_upgrade(self):
        self.start()
        # RFC 6455's own sample key first, then an empty key and one longer than a line of
        # Base64: the digest and its text come from the platform's crypto, and any slip
        # (a terminating zero hashed, a line break in the text) shows in these bytes.
        keys = [("dGhlIHNhbXBsZSBub25jZQ==", "s3pPLMBiTxaQ9kYGzzhZRbK+xOo=")]
        for key in ("", "k" * 300):
            digest = hashlib.sha1((key + "258EAFA5-E914-47DA-95CA-C5AB0DC85B11").encode()).digest()
            keys.append((key, base64.b64encode(digest).decode()))
        for key, accept in keys:
            with socket.create_connection(("127.0.0.1", 9959), timeout=10) as link:
                link.sendall(("GET / HTTP/1.1\r\nHost: 127.0.0.1:9959\r\nUpgrade: websocket\r\n"
                              "Connection: Upgrade\r\nSec-WebSocket-Key: " + key + "\r\n"
                              "Sec-WebSocket-Version: 13\r\n\r\n").encode())
                answer = b""
                while not answer.endswith(b"\r\n\r\n"):
                    chunk = link.recv(4096)
                    self.assertTrue(chunk, answer)
                    answer += chunk
                self.assertEqual(answer.decode(), "HTTP/1.1 101 Switching Protocols\r\nUpgrade: websocket\r\n"
                                 "Connection: Upgrade\r\nSec-WebSocket-Accept: " + accept + "\r\n\r\n")
                # The link is open: a masked ping is answered with its pong.
                link.sendall(bytes([0x89, 0x84, 1, 2, 3, 4]) + bytes(b ^ m for b, m in zip(b"tick", b"\1\2\3\4")))
                self.assertEqual(link.recv(64), bytes([0x8A, 4]) + b"tick")

    def test_discovery_lists_the_receiver_over_udp_and_tcp(self):
        self.start()
        for extra in ([], ["--tcp"]):
            result = cast("--discover", "--probe-to", "127.0.0.1", "--timeout", "1", *extra)
            self.assertEqual(result.returncode, 0, result.stderr)
            lines = result.stdout.splitlines()
            self.assertEqual(len(lines), 1, result.stdout)  # both probes answered alike: one receiver
            fields = dict(part.split("=", 1) for part in lines[0].split("\t"))
            self.assertTrue(fields["NAME"].endswith(" (Windows)"), lines[0])
            self.assertEqual(fields["PORT"], "9959")
            self.assertRegex(fields["IP"], r"^\d+\.\d+\.\d+\.\d+$")

    def test_fragmented_pictures_arrive_whole_and_decode(self):
        self.start()
        result = cast("127.0.0.1", "--pattern", "640x480", "--fps", "20", "--frames", "10", "--fragment", "3")
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertIn("sent 10 pictures", result.stderr)
        self.assertTrue(wait_until(lambda: self.receiver.log().count("Successfully created HBITMAP") == 10),
                        self.receiver.log())
        log = self.receiver.log()
        sizes = [int(line.split("data_size=")[1]) for line in log.splitlines() if "Processing frame: type=0" in line]
        decoded = [int(line.split("(")[1].split(" ")[0]) for line in log.splitlines() if "Successfully created" in line]
        self.assertEqual(sizes, decoded)  # every message whole: the size sent is the size decoded
        self.assertNotIn("Failed to create", log)

    def test_pattern_pictures_show_at_their_size(self):
        x = Xvfb()
        sender = None
        try:
            self.start(x.env)
            window = x.find_window("^Tavoli")
            self.assertIsNotNone(window)
            x.key(window, "Return")  # dismiss the information box
            sender = subprocess.Popen([CAST, "127.0.0.1", "--pattern", "1280x720", "--fps", "30", "--duration", "20"],
                                      stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
            self.assertTrue(wait_until(lambda: self.receiver.log().count("Successfully created HBITMAP") >= 30),
                            self.receiver.log())
            # 1280x720 letterboxed into the window: picture height = width * 9 / 16, bars above and below.
            gx, gy, w, h = x.geometry(window)
            drawn = w * 720 // 1280
            top = (h - drawn) // 2
            screen = x.screenshot(os.path.join(ARTIFACTS, "cast-pattern-1280x720.png"))
            self.assertEqual(screen.count((0, 0, 0), gx, gy, gx + w, gy + top - 1), w * (top - 1))
            self.assertEqual(screen.count((0, 0, 0), gx, gy + top + 2, gx + w, gy + top + drawn - 2), 0)
            self.assertEqual(screen.count((0, 0, 0), gx, gy + top + drawn + 1, gx + w, gy + h),
                             w * (h - top - drawn - 1))
        finally:
            if sender is not None:
                sender.send_signal(signal.SIGINT)
                sender.communicate(timeout=15)
            self.receiver.terminate()
            self.receiver = None
            x.close()

    def test_wav_sound_arrives_in_order(self):
        played = os.path.join(self.scratch.name, "played.raw")
        sound = dict(SDL_AUDIODRIVER="disk", SDL_DISKAUDIOFILE=receiver_process.native_path(RECEIVER, played))
        # SDL's getenv on Windows hands out one buffer for every variable: its disk driver
        # reads the delay after the file name and would then write to a file named "5".
        # There the device keeps its own pace.
        if not receiver_process.under_wine(RECEIVER):
            sound["SDL_DISKAUDIODELAY"] = "5"
        self.start(windowless_env(**sound))
        pcm = sound_bytes(1.5, 3)
        wav = os.path.join(self.scratch.name, "sound.wav")
        wav_file(wav, pcm)
        result = cast("127.0.0.1", "--wav", wav)
        self.assertEqual(result.returncode, 0, result.stderr)
        # A device slower than the sender (a disk driver on a busy machine) makes the receiver
        # cut a few ms at a time to hold the delay down: the sound keeps its order, and the
        # first quarter second, before any cut can come, arrives exactly.
        self.assertTrue(wait_until(lambda: os.path.exists(played) and
                                   len(strip_silence(open(played, "rb").read())) >= len(pcm) * 9 // 10))
        heard = strip_silence(open(played, "rb").read())
        self.assertLessEqual(len(heard), len(pcm))
        self.assertEqual(heard[:8000], pcm[:8000])

        stereo = os.path.join(self.scratch.name, "stereo.wav")
        wav_file(stereo, pcm, rate=44100, channels=2)
        refused = cast("127.0.0.1", "--wav", stereo)
        self.assertEqual(refused.returncode, EXIT_BAD_INPUT)
        self.assertIn("16000 Hz mono 16-bit", refused.stderr)

    def test_exit_codes_tell_failures_apart(self):
        self.start()
        not_jpeg = os.path.join(self.scratch.name, "note.jpg")
        with open(not_jpeg, "w") as f:
            f.write("hello")
        result = cast("127.0.0.1", "--jpeg", not_jpeg)
        self.assertEqual(result.returncode, EXIT_BAD_INPUT)
        self.assertIn("is not a JPEG file", result.stderr)
        self.assertEqual(cast("127.0.0.1", "--jpeg", "/nonexistent.jpg").returncode, EXIT_BAD_INPUT)
        self.assertEqual(cast("127.0.0.1:70000", "--ping").returncode, EXIT_BAD_INPUT)
        self.assertEqual(cast("127.0.0.1:9", "--ping").returncode, EXIT_CONNECT_FAILED)
        # The TCP discovery port answers something that is not a handshake.
        self.assertEqual(cast("127.0.0.1:8889", "--ping").returncode, EXIT_HANDSHAKE_REFUSED)
        ping = cast("127.0.0.1", "--ping", "--close")
        self.assertEqual(ping.returncode, 0, ping.stderr)
        self.assertIn("pong received", ping.stderr)
        self.assertTrue(wait_until(lambda: "收到关闭帧" in self.receiver.log()))

    def test_a_killed_receiver_gives_connection_lost(self):
        self.start()
        sender = subprocess.Popen([CAST, "127.0.0.1", "--pattern", "320x240", "--fps", "30", "--duration", "30"],
                                  stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        self.assertTrue(wait_until(lambda: "Successfully created HBITMAP" in self.receiver.log()))
        self.receiver.process.kill()
        self.receiver.process.wait()
        _, err = sender.communicate(timeout=15)
        self.assertEqual(sender.returncode, EXIT_CONNECTION_LOST, err)
        self.assertIn("connection lost", err)


if __name__ == "__main__":
    RECEIVER, CAST, ARTIFACTS = sys.argv[1], sys.argv[2], sys.argv[3]
    if not os.access(CAST, os.X_OK):
        sys.exit(f"no sender at {CAST}: build orrin-cast for this machine first (cmake --preset release)")
    os.makedirs(ARTIFACTS, exist_ok=True)
    unittest.main(argv=[sys.argv[0]] + sys.argv[4:], verbosity=2)
