#!/usr/bin/python3
"""A long cast: orrin-cast streams a 1080x2400 test pattern at 30 pictures a second with a
tone to the real receiver under a private Xvfb, and the receiver's resident memory,
descriptors and threads are sampled every 10 s.

usage: soak.py RECEIVER ORRIN_CAST OUT_DIR MINUTES
Writes OUT_DIR/soak.csv, OUT_DIR/soak.png (ImageMagick draws it), OUT_DIR/receiver.log and
prints the growth per hour of each series (least-squares slope after the first minute).
Exits 1 if the receiver died, the sender failed, or pictures stopped arriving.
"""
import os
import signal
import subprocess
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "e2e"))
from receiver_process import Usage  # noqa: E402
from x11_session import Xvfb  # noqa: E402

SAMPLE_SECONDS = 10
DECODED = b"Successfully created HBITMAP"


class LogCounter:
    """Counts decoded pictures in the growing log without reading it again from the start."""

    def __init__(self, path):
        self.file = open(path, "rb")
        self.count = 0
        self.tail = b""

    def update(self):
        data = self.tail + self.file.read()
        cut = data.rfind(b"\n") + 1
        self.count += data[:cut].count(DECODED)
        self.tail = data[cut:]
        return self.count


def slope_per_hour(points):
    if len(points) < 2:
        return 0.0
    n = len(points)
    mt = sum(t for t, _ in points) / n
    mv = sum(v for _, v in points) / n
    var = sum((t - mt) ** 2 for t, _ in points)
    return 0.0 if var == 0 else sum((t - mt) * (v - mv) for t, v in points) / var * 3600


def plot(rows, path):
    """Three stacked panels (RSS MiB, descriptors, threads) against minutes."""
    width, panel, left, top = 900, 200, 90, 30
    height = top + 3 * panel + 40
    minutes = [r[0] / 60 for r in rows]
    span = max(minutes[-1], 1e-6)
    series = [("resident memory (MiB)", [r[1] / 1024 for r in rows], "#1f77b4"),
              ("descriptors", [r[2] for r in rows], "#d62728"),
              ("threads", [r[3] for r in rows], "#2ca02c")]
    draw = []
    for i, (name, values, colour) in enumerate(series):
        y0 = top + i * panel
        low, high = min(values), max(values)
        if high - low < 1:
            low, high = low - 1, high + 1
        inner = panel - 40
        points = " ".join(f"{left + (m / span) * (width - left - 20):.1f},{y0 + 10 + (high - v) / (high - low) * inner:.1f}"
                          for m, v in zip(minutes, values))
        draw += ["-stroke", "#888888", "-fill", "none",
                 "-draw", f"rectangle {left},{y0 + 10} {width - 20},{y0 + 10 + inner}",
                 "-stroke", colour, "-strokewidth", "2", "-draw", f"polyline {points}", "-strokewidth", "1",
                 "-stroke", "none", "-fill", "black",
                 "-annotate", f"+{left + 5}+{y0 + 5}", f"{name}: first {values[0]:.1f}, last {values[-1]:.1f}",
                 "-annotate", f"+5+{y0 + 18}", f"{high:.1f}",
                 "-annotate", f"+5+{y0 + 10 + inner}", f"{low:.1f}"]
    draw += ["-annotate", f"+{left}+{height - 10}", f"minutes 0 .. {span:.1f}   (sample every {SAMPLE_SECONDS} s)"]
    subprocess.run(["convert", "-size", f"{width}x{height}", "xc:white", "-pointsize", "13", *draw, path],
                   check=True, timeout=60)


def main():
    receiver_path, cast_path, out_dir, minutes = sys.argv[1], sys.argv[2], sys.argv[3], float(sys.argv[4])
    os.makedirs(out_dir, exist_ok=True)
    csv_path, png_path = os.path.join(out_dir, "soak.csv"), os.path.join(out_dir, "soak.png")
    log_path = os.path.join(out_dir, "receiver.log")
    x = Xvfb()
    env = dict(x.env, SDL_AUDIODRIVER="disk", SDL_DISKAUDIOFILE="/dev/null")
    log_file = open(log_path, "wb")
    receiver = subprocess.Popen([receiver_path, "--verbose"], env=env, stdout=log_file, stderr=subprocess.STDOUT)
    sender = None
    failed = []
    rows = []
    try:
        window = x.find_window("^Tavoli")
        if window is None:
            raise RuntimeError("no receiver window")
        x.key(window, "Return")  # dismiss the information box
        counter = LogCounter(log_path)
        seconds = minutes * 60
        sender = subprocess.Popen([cast_path, "127.0.0.1", "--pattern", "1080x2400", "--fps", "30", "--tone", "440",
                                   "--duration", str(seconds)],
                                  stdout=subprocess.DEVNULL, stderr=open(os.path.join(out_dir, "sender.log"), "wb"))
        start = time.monotonic()
        with open(csv_path, "w") as csv:
            csv.write("seconds,rss_kib,fds,threads,pictures_decoded\n")
            while True:
                now = time.monotonic() - start
                if receiver.poll() is not None:
                    failed.append(f"the receiver ended with {receiver.returncode}")
                    break
                held = Usage(receiver.pid)
                rss, fds, threads = held.rss_kib, held.fds, held.threads
                decoded = counter.update()
                rows.append((now, rss, fds, threads, decoded))
                csv.write(f"{now:.0f},{rss},{fds},{threads},{decoded}\n")
                csv.flush()
                if sender.poll() is not None or now >= seconds:
                    break
                time.sleep(max(0.0, start + len(rows) * SAMPLE_SECONDS - time.monotonic()))
        sender.wait(timeout=60)
        if sender.returncode != 0:
            failed.append(f"orrin-cast ended with {sender.returncode}")
    finally:
        if sender is not None and sender.poll() is None:
            sender.send_signal(signal.SIGINT)
            sender.wait(timeout=15)
        if receiver.poll() is None:
            receiver.send_signal(signal.SIGTERM)
            receiver.wait(timeout=15)
        log_file.close()
        x.close()

    if len(rows) >= 2:
        plot(rows, png_path)
        settled = [r for r in rows if r[0] >= 60] or rows
        duration = rows[-1][0]
        rate = (rows[-1][4] - rows[0][4]) / max(duration, 1)
        print(f"soak: {duration / 60:.1f} min, {len(rows)} samples, {rows[-1][4]} pictures decoded ({rate:.1f}/s)")
        for name, column, unit in (("RSS", 1, "KiB"), ("descriptors", 2, ""), ("threads", 3, "")):
            values = [r[column] for r in settled]
            print(f"  {name}: first {rows[0][column]} {unit}, after 1 min {values[0]} {unit}, last {values[-1]} {unit}, "
                  f"min {min(values)}, max {max(values)}, growth {slope_per_hour([(r[0], r[column]) for r in settled]):+.1f} "
                  f"{unit}/hour".replace("  ", " "))
        print(f"  csv: {csv_path}\n  plot: {png_path}")
        if rate < 10:
            failed.append(f"only {rate:.1f} pictures decoded per second")
    for line in failed:
        print("soak FAILED: " + line)
    sys.exit(1 if failed else 0)


if __name__ == "__main__":
    main()
