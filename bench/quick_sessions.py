"""Resident memory over many short sessions, windowless.

Each session: connect, handshake, one picture (one of five sizes, 96x64 to 1280x720, in
turn), a ping, wait for its pong, close frame, close. Sessions follow one another at about
300 a second. The receiver runs with SDL's offscreen video driver and the dummy audio driver.
What a session leaves behind shows as the rise of the receiver's resident memory from the
100th session to the last.

Used by pipeline_bench.py (its `memory` part); can run alone:
  /usr/bin/python3 bench/quick_sessions.py BIN_DIR DATA_DIR [SESSIONS] [extra receiver args]
in a private network namespace (the receiver binds its fixed ports).
"""
import base64
import os
import signal
import socket
import struct
import subprocess
import sys
import time

SIZES = ("96x64", "320x240", "640x360", "960x540", "1280x720")
RATE = 300.0  # sessions per second
SERVER_UP = "WebSocket服务器已启动"


def make_jpegs(data_dir):
    """One camera-like JPEG (4:2:0, quality 85) per size, made with ImageMagick."""
    jpegs = []
    for size in SIZES:
        path = os.path.join(data_dir, f"session_{size}.jpg")
        if not os.path.exists(path):
            subprocess.run(["convert", "-size", size, "-seed", "7", "plasma:fractal", "-sampling-factor", "2x2",
                            "-quality", "85", path], check=True, timeout=60)
        with open(path, "rb") as f:
            jpegs.append(f.read())
    return jpegs


def frame(opcode, payload):
    """A masked client frame (an all-zero mask leaves the payload as it is)."""
    if len(payload) < 126:
        length = bytes([0x80 | len(payload)])
    elif len(payload) < 65536:
        length = bytes([0x80 | 126]) + struct.pack(">H", len(payload))
    else:
        length = bytes([0x80 | 127]) + struct.pack(">Q", len(payload))
    return bytes([0x80 | opcode]) + length + b"\x00\x00\x00\x00" + payload


def receive_until(sock, done):
    data = b""
    while not done(data):
        chunk = sock.recv(65536)
        if not chunk:
            raise RuntimeError("the receiver closed the connection early")
        data += chunk
    return data


def session(jpeg_frame, ping_frame):
    with socket.create_connection(("127.0.0.1", 9959), timeout=10) as sock:
        key = base64.b64encode(os.urandom(16)).decode()
        sock.sendall(("GET / HTTP/1.1\r\nHost: 127.0.0.1:9959\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
                      f"Sec-WebSocket-Key: {key}\r\nSec-WebSocket-Version: 13\r\n\r\n").encode())
        answer = receive_until(sock, lambda d: b"\r\n\r\n" in d)
        if b" 101 " not in answer.split(b"\r\n", 1)[0]:
            raise RuntimeError("handshake refused: " + answer[:80].decode(errors="replace"))
        sock.sendall(jpeg_frame + ping_frame)
        # The pong (0x8A, 4-byte body) comes after the picture went through the receiver.
        rest = answer.split(b"\r\n\r\n", 1)[1]
        if len(rest) < 6:
            rest += receive_until(sock, lambda d: len(rest) + len(d) >= 6)
        if rest[:2] != b"\x8a\x04":
            raise RuntimeError(f"expected a pong, got {rest[:8]!r}")
        sock.sendall(b"\x88\x80\x00\x00\x00\x00")  # close, no body


def rss_mib(pid):
    with open(f"/proc/{pid}/status") as f:
        for line in f:
            if line.startswith("VmRSS:"):
                return int(line.split()[1]) / 1024
    return 0.0


def run(bin_dir, data_dir, sessions, receiver_args=(), log=print):
    """Runs the sessions against a fresh receiver; returns [(sessions done, RSS MiB)]."""
    os.makedirs(data_dir, exist_ok=True)
    frames = [frame(2, b"\x00" + struct.pack(">I", 0) + j) for j in make_jpegs(data_dir)]
    ping = frame(9, b"orrn")
    env = {k: v for k, v in os.environ.items() if k not in ("DISPLAY", "WAYLAND_DISPLAY")}
    env.update(SDL_VIDEODRIVER="offscreen", SDL_AUDIODRIVER="dummy")
    log_path = os.path.join(data_dir, "quick_sessions.log")
    with open(log_path, "w") as log_file:
        receiver = subprocess.Popen([os.path.join(bin_dir, "orrin-receiver"), *receiver_args], env=env,
                                    stdout=log_file, stderr=subprocess.STDOUT)
        try:
            deadline = time.monotonic() + 30
            while SERVER_UP not in open(log_path, encoding="utf-8", errors="replace").read():
                if receiver.poll() is not None or time.monotonic() > deadline:
                    raise RuntimeError("the receiver did not start; see " + log_path)
                time.sleep(0.05)
            points = [(0, rss_mib(receiver.pid))]
            log(f"  before the first session: RSS {points[0][1]:.1f} MiB")
            started = time.monotonic()
            paused = 0.0  # the pauses for readings are left out of the pace
            for i in range(1, sessions + 1):
                session(frames[i % len(frames)], ping)
                ahead = started + paused + i / RATE - time.monotonic()
                if ahead > 0:
                    time.sleep(ahead)
                if i == 100 or i % 1000 == 0 or i == sessions:
                    rate = i / (time.monotonic() - started - paused)
                    time.sleep(0.3)  # the last sender's thread is gone
                    paused += 0.3
                    points.append((i, rss_mib(receiver.pid)))
                    log(f"  after {i} sessions: RSS {points[-1][1]:.1f} MiB ({rate:.0f} sessions/s)")
            return points
        finally:
            receiver.send_signal(signal.SIGTERM)
            receiver.wait(timeout=30)


if __name__ == "__main__":
    result = run(sys.argv[1], sys.argv[2], int(sys.argv[3]) if len(sys.argv) > 3 else 5000, sys.argv[4:])
    base = next(v for n, v in result if n == 100)
    print(f"RESULT rise {result[-1][1] - base:+.1f} MiB (after 100: {base:.1f}, after {result[-1][0]}: "
          f"{result[-1][1]:.1f})")
