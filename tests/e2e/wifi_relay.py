#!/usr/bin/python3
"""A TCP relay that delays bytes the way a Wi-Fi link does.

usage: wifi_relay.py LISTEN_HOST LISTEN_PORT TARGET_HOST TARGET_PORT PROFILE [--seed N]

Each chunk read from one side waits a base delay plus a heavy-tailed share of jitter
(the jitter scale times min(Pareto(alpha = 2) - 1, 8)) and never overtakes the chunk before
it; on a link with stalls nothing moves, either way, for the stall's length once per period
(a phone's background scan). Order and bytes are kept. Profiles:

  good   3 ms + jitter scale 5 ms
  busy   5 ms + jitter scale 15 ms, 150 ms stall every 5 s
  clean  no delay (a plain relay)

Prints "relay ready" once listening, and after each connection the longest time the link
carried nothing toward the target while it was open ("longest quiet toward the target: N
ms"); runs until killed.
"""
import argparse
import random
import socket
import threading
import time
import collections

PROFILES = {
    "good": dict(base=0.003, scale=0.005, stall=0.0, every=5.0),
    "busy": dict(base=0.005, scale=0.015, stall=0.150, every=5.0),
    "clean": dict(base=0.0, scale=0.0, stall=0.0, every=5.0),
}


class Direction:
    """Bytes from `source` to `sink`, each chunk released at its time."""

    def __init__(self, source, sink, profile, rng, epoch):
        self.source, self.sink, self.p, self.rng, self.epoch = source, sink, profile, rng, epoch
        self.queue = collections.deque()
        self.ready = threading.Condition()
        self.done = False
        self.last_release = 0.0
        self.last_sent = None
        self.longest_quiet = 0.0  # seconds between two chunks handed on

    def delay(self):
        jitter = min(self.rng.paretovariate(2.0) - 1.0, 8.0)
        return self.p["base"] + self.p["scale"] * jitter

    def out_of_stall(self, t):
        """The first moment at or after t outside a stall."""
        if self.p["stall"] <= 0:
            return t
        phase = (t - self.epoch) % self.p["every"]
        start = self.p["every"] / 2  # stalls sit mid-period
        if start <= phase < start + self.p["stall"]:
            return t + (start + self.p["stall"] - phase)
        return t

    def read(self):
        try:
            while True:
                data = self.source.recv(65536)
                if not data:
                    break
                now = time.monotonic()
                release = self.out_of_stall(max(now + self.delay(), self.last_release))
                self.last_release = release
                with self.ready:
                    self.queue.append((release, data))
                    self.ready.notify()
        except OSError:
            pass
        with self.ready:
            self.done = True
            self.ready.notify()

    def write(self):
        try:
            while True:
                with self.ready:
                    while not self.queue and not self.done:
                        self.ready.wait()
                    if not self.queue:
                        break
                    release, data = self.queue[0]
                wait = release - time.monotonic()
                if wait > 0:
                    time.sleep(wait)
                # A stall that began meanwhile holds the chunk too.
                hold = self.out_of_stall(time.monotonic()) - time.monotonic()
                if hold > 0:
                    time.sleep(hold)
                with self.ready:
                    self.queue.popleft()
                self.sink.sendall(data)
                now = time.monotonic()
                if self.last_sent is not None:
                    self.longest_quiet = max(self.longest_quiet, now - self.last_sent)
                self.last_sent = now
            self.sink.shutdown(socket.SHUT_WR)
        except OSError:
            pass


def serve(client, args, profile, seed):
    try:
        upstream = socket.create_connection((args.target_host, args.target_port), timeout=10)
    except OSError:
        client.close()
        return
    upstream.settimeout(None)
    for s in (client, upstream):
        s.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
    epoch = EPOCH
    rng = random.Random(seed)
    threads = []
    directions = []
    for source, sink in ((client, upstream), (upstream, client)):
        d = Direction(source, sink, profile, random.Random(rng.random()), epoch)
        directions.append(d)
        threads += [threading.Thread(target=d.read, daemon=True), threading.Thread(target=d.write, daemon=True)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    client.close()
    upstream.close()
    print(f"longest quiet toward the target: {directions[0].longest_quiet * 1000:.0f} ms", flush=True)


EPOCH = time.monotonic()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("listen_host")
    parser.add_argument("listen_port", type=int)
    parser.add_argument("target_host")
    parser.add_argument("target_port", type=int)
    parser.add_argument("profile", choices=sorted(PROFILES))
    parser.add_argument("--seed", type=int, default=1)
    args = parser.parse_args()
    listener = socket.socket()
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind((args.listen_host, args.listen_port))
    listener.listen(16)
    print("relay ready", flush=True)
    n = 0
    while True:
        client, _ = listener.accept()
        n += 1
        threading.Thread(target=serve, args=(client, args, PROFILES[args.profile], args.seed * 1000 + n),
                         daemon=True).start()


if __name__ == "__main__":
    main()
