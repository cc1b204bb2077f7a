"""Clients of the shared view for the end-to-end cases (/usr/bin/python3): raw HTTP, a cast
sender that keeps its connection open, a Chromium driven through its DevTools protocol and a
Prometheus server. Each one is the real program or a real socket; nothing is imitated."""
import asyncio
import json
import os
import shutil
import socket
import struct
import subprocess
import tempfile
import time
import urllib.request

import websockets

from receiver_process import wait_until


def end_process(process):
    process.terminate()
    try:
        process.wait(10)
    except subprocess.TimeoutExpired:
        process.kill()
        process.wait()


def connect(loop, url):
    """A WebSocket client on `loop` (python3-websockets; made inside the loop it runs on)."""
    async def opening():
        return await websockets.connect(url, max_size=None)
    return loop.run_until_complete(opening())


def http_get(port, target, headers="", timeout=5.0, host="127.0.0.1"):
    """One request over a fresh connection; the whole answer as bytes ("" when closed unanswered)."""
    with socket.create_connection((host, port), timeout=timeout) as s:
        s.sendall(f"GET {target} HTTP/1.1\r\nHost: receiver\r\n{headers}\r\n".encode())
        chunks = []
        try:
            while True:
                chunk = s.recv(65536)
                if not chunk:
                    break
                chunks.append(chunk)
        except (ConnectionResetError, socket.timeout):
            pass
        return b"".join(chunks)


def status_line(answer):
    return answer.split(b"\r\n", 1)[0].decode("latin-1") if answer else ""


def body(answer):
    return answer.split(b"\r\n\r\n", 1)[1] if b"\r\n\r\n" in answer else b""


class StreamViewer:
    """A viewer of /stream.mjpg that reads (or not) on its own thread-free schedule."""

    def __init__(self, port, target="/stream.mjpg"):
        self.sock = socket.create_connection(("127.0.0.1", port), timeout=5)
        self.sock.sendall(f"GET {target} HTTP/1.1\r\nHost: receiver\r\n\r\n".encode())
        self.received = b""

    def head(self):
        while b"\r\n\r\n" not in self.received:
            chunk = self.sock.recv(4096)
            if not chunk:
                break
            self.received += chunk
        return self.received.split(b"\r\n\r\n", 1)[0].decode("latin-1")

    def drain(self, seconds):
        """Reads for `seconds`; returns the number of picture parts that began meanwhile."""
        before = self.received.count(b"--orrin-picture\r\n")
        self.sock.settimeout(0.1)
        end = time.monotonic() + seconds
        while time.monotonic() < end:
            try:
                chunk = self.sock.recv(1 << 20)
            except socket.timeout:
                continue
            if not chunk:
                break
            self.received += chunk
        return self.received.count(b"--orrin-picture\r\n") - before

    def close(self):
        self.sock.close()


class CastSession:
    """A sender made of python3-websockets: pictures (and sound) sent when asked, the link held
    open in between, so a case knows exactly which picture was the last."""

    def __init__(self, port=9959):
        self.loop = asyncio.new_event_loop()
        self.ws = connect(self.loop, f"ws://127.0.0.1:{port}/")
        self.stamp = 0

    def send(self, kind, content):
        self.stamp += 1
        message = struct.pack(">BI", kind, self.stamp & 0xFFFFFFFF) + content
        self.loop.run_until_complete(self.ws.send(message))

    def picture(self, jpeg):
        self.send(0, jpeg)

    def close(self):
        try:
            self.loop.run_until_complete(self.ws.close())
        except websockets.exceptions.ConnectionClosed:
            pass  # replaced by a later sender, or the receiver has gone
        self.loop.close()


class Chromium:
    """Debian's chromium, headless, driven over the DevTools protocol (a WebSocket)."""

    def __init__(self, artifacts, width=800, height=600, port=9222):
        self.profile = tempfile.mkdtemp(prefix="orrin-chromium-")
        args = ["chromium", "--headless=new", "--no-sandbox", "--disable-gpu", "--no-first-run",
                "--disable-background-networking", "--disable-component-update", "--mute-audio",
                f"--user-data-dir={self.profile}", f"--window-size={width},{height}",
                f"--remote-debugging-port={port}", "--remote-allow-origins=*", "about:blank"]
        self.log = open(os.path.join(artifacts, "chromium.log"), "wb")
        self.process = subprocess.Popen(args, stdout=self.log, stderr=subprocess.STDOUT)
        self.port = port
        url = wait_until(self._page_socket, timeout=30, step=0.2)
        if not url:
            raise RuntimeError("chromium did not open its DevTools port")
        self.loop = asyncio.new_event_loop()
        self.ws = connect(self.loop, url)
        self.next_id = 0

    def _page_socket(self):
        try:
            with urllib.request.urlopen(f"http://127.0.0.1:{self.port}/json/list", timeout=1) as r:
                pages = [t for t in json.load(r) if t.get("type") == "page"]
        except OSError:
            return None
        return pages[0]["webSocketDebuggerUrl"] if pages else None

    def call(self, method, **params):
        async def exchange():
            self.next_id += 1
            await self.ws.send(json.dumps({"id": self.next_id, "method": method, "params": params}))
            while True:
                answer = json.loads(await self.ws.recv())
                if answer.get("id") == self.next_id:
                    if "error" in answer:
                        raise RuntimeError(f"{method}: {answer['error']}")
                    return answer.get("result", {})
        return self.loop.run_until_complete(asyncio.wait_for(exchange(), 30))

    def evaluate(self, expression):
        result = self.call("Runtime.evaluate", expression=expression, returnByValue=True)
        return result.get("result", {}).get("value")

    def click(self, x, y):
        for kind in ("mousePressed", "mouseReleased"):
            self.call("Input.dispatchMouseEvent", type=kind, x=x, y=y, button="left", clickCount=1)

    def screenshot(self, path):
        import base64
        data = self.call("Page.captureScreenshot", format="png")["data"]
        with open(path, "wb") as f:
            f.write(base64.b64decode(data))

    def close(self):
        try:
            self.loop.run_until_complete(self.ws.close())
        finally:
            self.loop.close()
            end_process(self.process)
            self.log.close()
            shutil.rmtree(self.profile, ignore_errors=True)


def mean_colour(png, x, y, w, h):
    """The mean (r, g, b) of a region of a PNG, by ImageMagick."""
    out = subprocess.run(["convert", png, "-crop", f"{w}x{h}+{x}+{y}", "+repage", "-resize", "1x1!", "-depth", "8",
                          "txt:-"], capture_output=True, text=True, check=True).stdout
    values = out.splitlines()[1].split("(", 1)[1].split(")", 1)[0].split(",")
    return tuple(round(float(v)) for v in values[:3])


class Prometheus:
    """Debian's prometheus scraping one target every second, with its data in a temporary folder."""

    def __init__(self, artifacts, target, params=None, port=9090):
        self.dir = tempfile.mkdtemp(prefix="orrin-prometheus-")
        config = os.path.join(self.dir, "prometheus.yml")
        params_text = "".join(f"    params:\n      {k}: ['{v}']\n" for k, v in (params or {}).items())
        with open(config, "w") as f:
            f.write("global:\n  scrape_interval: 1s\n  evaluation_interval: 1s\n"
                    "scrape_configs:\n  - job_name: orrin\n    metrics_path: /metrics\n"
                    f"{params_text}    static_configs:\n      - targets: ['{target}']\n")
        self.port = port
        self.log = open(os.path.join(artifacts, "prometheus.log"), "wb")
        self.process = subprocess.Popen(
            ["prometheus", f"--config.file={config}", f"--storage.tsdb.path={self.dir}/data",
             f"--web.listen-address=127.0.0.1:{port}"], stdout=self.log, stderr=subprocess.STDOUT)

    def query(self, expression):
        url = f"http://127.0.0.1:{self.port}/api/v1/query?query=" + urllib.request.quote(expression)
        try:
            with urllib.request.urlopen(url, timeout=2) as r:
                return json.load(r)["data"]["result"]
        except OSError:
            return []

    def close(self):
        end_process(self.process)
        self.log.close()
        shutil.rmtree(self.dir, ignore_errors=True)
