"""The whole picture path against its ceilings, measured in one run; prints one table.

usage: /usr/bin/python3 bench/pipeline_bench.py BIN_DIR DATA_DIR [all|pacing|sound|memory|sessions]

  decode   decode_bench: our bytes-to-Picture against tjbench -yuv on the same files
  ingest   orrin-cast sending masked frames as fast as it can into the receiver (decoding
           off) and into two ceilings: a plain TCP sink and a Boost.Beast WebSocket sink
  pacing   1080x2400 and 1920x1080 at 30 and 60 fps under Xvfb (defaults and --max-fps 60):
           pictures received, shown, never shown, gaps between presents, delay (last byte
           received -> SDL_RenderPresent returned) against decode + the present floor that
           present_floor measures on the same renderer, CPU per shown picture. With
           BENCH_PACING_VIEWERS=N each case runs again turn about with --share and N viewers
           of /stream.mjpg (one of them never reads)
  sound    a steady, a bursty (3 frames every 60 ms) and a 0.5 %-fast sender through SDL's
           disk driver: gaps and inserted silence in what was played, queued delay
  steady   1080x2400 at 50 fps: CPU, pictures shown per second, drops, resident memory
  memory   (only when asked for: about 7 minutes) resident memory over 5,000
           connect/cast/disconnect cycles with a window, then the sessions part
  sessions resident memory over 5,000 short sessions at about 300 a second, windowless
           (SDL's offscreen driver): one picture of five sizes in turn, a ping, close
  record   1080x2400 at 30 fps with --record against the same cast without: CPU and memory
  senders  1, 2 and 4 senders at 1080x2400 30 fps in tiles (--senders): shown per sender per
           second, CPU, resident memory (bench/senders_bench.py)

`all` (the default) runs everything but memory.

The receiver binds its fixed ports, so run this in a private network namespace
(bench/run_all.sh does). Durations and rounds come from the environment (see DEFAULTS).
"""
import os
import re
import signal
import statistics
import socket
import subprocess
import sys
import threading
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "e2e"))
from x11_session import Xvfb  # noqa: E402

DEFAULTS = {
    "BENCH_DECODE_SECONDS": "1.5", "BENCH_DECODE_ROUNDS": "5",
    "BENCH_INGEST_SECONDS": "3", "BENCH_INGEST_ROUNDS": "3",
    "BENCH_PACING_SECONDS": "12", "BENCH_PACING_ROUNDS": "2",
    "BENCH_SOUND_SECONDS": "10", "BENCH_SOUND_ROUNDS": "1",
    "BENCH_MEMORY_CYCLES": "5000", "BENCH_SESSIONS": "5000", "BENCH_SESSIONS_ROUNDS": "3",
    "BENCH_STEADY_SECONDS": "60", "BENCH_STEADY_ROUNDS": "1",
    "BENCH_RECORD_SECONDS": "20", "BENCH_RECORD_ROUNDS": "2",
    "BENCH_SENDERS_SECONDS": "15", "BENCH_SENDERS_ROUNDS": "2",
}


def setting(name, kind=float):
    return kind(os.environ.get(name, DEFAULTS[name]))


BIN, DATA = sys.argv[1], sys.argv[2]
MODE = sys.argv[3] if len(sys.argv) > 3 else "all"
RECEIVER = os.path.join(BIN, "orrin-receiver")
CAST = os.path.join(BIN, "orrin-cast")
SERVER_UP = "WebSocket服务器已启动"
SUMMARY = re.compile(r"stats summary: ([\d.]+) s, received (\d+) \((\d+) bytes\), shown (\d+), dropped (\d+)"
                     r"(?:, (\w+) p50 ([\d.]+) p99 ([\d.]+) ms)+")
TIMING = re.compile(r"(\w+) p50 ([\d.]+) p99 ([\d.]+) ms")
SENT = re.compile(r"sent (\d+) pictures .* in ([\d.]+) s: [\d.]+ fps, ([\d.]+) MB/s")


def log(text):
    print(text, flush=True)


def cast(*args):
    result = subprocess.run([CAST, "127.0.0.1:" + str(args[0]), *map(str, args[1:]), "--quiet"],
                            capture_output=True, text=True, timeout=600)
    match = SENT.search(result.stderr)
    if result.returncode != 0 or not match:
        raise RuntimeError("orrin-cast failed: " + result.stderr)
    return int(match.group(1)), float(match.group(2)), float(match.group(3))


def wait_for_line(path, text, process, timeout=60):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        if process.poll() is not None:
            raise RuntimeError(f"{process.args[0]} ended early; see {path}")
        with open(path, encoding="utf-8", errors="replace") as f:
            if text in f.read():
                return
        time.sleep(0.05)
    raise RuntimeError(f"no '{text}' from {process.args[0]} within {timeout} s; see {path}")


class Receiver:
    """orrin-receiver with --stats, its log in a file; stopped with SIGTERM (the close path)."""

    def __init__(self, name, args, env, binary=RECEIVER):
        self.log_path = os.path.join(DATA, name + ".log")
        self.log_file = open(self.log_path, "w")
        self.process = subprocess.Popen([binary, "--stats", *args], env=env, stdout=self.log_file,
                                        stderr=subprocess.STDOUT)
        wait_for_line(self.log_path, SERVER_UP, self.process)

    def stop(self):
        self.process.send_signal(signal.SIGTERM)
        self.process.wait(timeout=30)
        self.log_file.close()
        with open(self.log_path, encoding="utf-8", errors="replace") as f:
            text = f.read()
        match = SUMMARY.search(text)
        if not match:
            raise RuntimeError("no statistics summary in " + self.log_path)
        line = text[match.start():text.index("\n", match.start()) if "\n" in text[match.start():] else None]
        summary = {"seconds": float(match.group(1)), "received": int(match.group(2)),
                   "bytes": int(match.group(3)), "shown": int(match.group(4)), "dropped": int(match.group(5))}
        for name, p50, p99 in TIMING.findall(line):
            summary[name] = (float(p50), float(p99))
        scales = re.findall(r"\(scale 1/(\d)\)", text)
        summary["scale"] = scales[-1] if scales else "1"
        summary["log"] = text
        return summary


def spread(values):
    return f"{min(values):.2f}..{max(values):.2f}" if len(values) > 1 else "-"


rows = []  # (measure, figure, ceiling, ratio, target, verdict, spread)


def row(*cells):
    rows.append(tuple(str(c) for c in cells))


# ---------------------------------------------------------------------------- decode
def bench_decode():
    log("== decode: CreateBitmapFromJPEG against tjbench -yuv ==")
    result = subprocess.run([os.path.join(BIN, "decode_bench"), DATA, os.environ.get("BENCH_DECODE_SECONDS", "1.5"),
                             os.environ.get("BENCH_DECODE_ROUNDS", "5")], capture_output=True, text=True)
    sys.stdout.write("".join(l + "\n" for l in result.stdout.splitlines() if not l.startswith("RESULT")))
    if result.returncode != 0:
        raise RuntimeError("decode_bench failed: " + result.stderr)
    decode_ms = {}
    for line in result.stdout.splitlines():
        parts = line.split()
        if parts[:2] == ["RESULT", "decode"]:
            size, ours, tj, ratio, low, high, paired = parts[2], *map(float, parts[3:])
            decode_ms[size] = ours
            row(f"decode {size} (ms/picture)", f"{ours:.2f}", f"tjbench {tj:.2f}", f"{ratio:.2f}x", "<= 1.10x",
                "met" if ratio <= 1.10 else "MISSED", f"{low:.2f}..{high:.2f} (paired {paired:.2f}x)")
        elif parts[:2] == ["RESULT", "scaled"]:
            d, ms, full = parts[2], float(parts[3]), float(parts[4])
            row(f"decode 1080x2400 at 1/{d} (ms)", f"{ms:.2f}", f"full size {full:.2f}", f"{ms / full:.2f}x",
                "(saving)", f"{100 * (1 - ms / full):.0f}% saved", "-")
    return decode_ms


# ---------------------------------------------------------------------------- ingest
def sink(binary, port):
    process = subprocess.Popen([os.path.join(BIN, binary), str(port)], stdout=subprocess.PIPE, text=True)
    if process.stdout.readline().strip() != "listening":
        raise RuntimeError(binary + " did not start")
    return process


def bench_ingest():
    seconds = setting("BENCH_INGEST_SECONDS")
    rounds = setting("BENCH_INGEST_ROUNDS", int)
    headless = {k: v for k, v in os.environ.items() if k not in ("DISPLAY", "WAYLAND_DISPLAY", "SDL_VIDEODRIVER")}
    for size in (256 * 1024, 1024 * 1024):
        log(f"== ingest: {size // 1024} KiB masked frames, {rounds} rounds of {seconds:g} s ==")
        rates = {"tcp": [], "beast": [], "receiver": []}
        vs_beast, vs_tcp = [], []
        for r in range(rounds):
            round_rates = {}
            # Rotate the order so a busy moment does not always hit the same peer.
            for name in (["tcp", "beast", "receiver"] * 2)[r % 3:r % 3 + 3]:
                args = ("--raw-size", size, "--fps", 0, "--duration", seconds)
                if name == "receiver":
                    # --close: the sender's time ends when the receiver has read the last frame.
                    receiver = Receiver(f"ingest_{size}_{r}", ["--no-decode"], headless)
                    sent, _, rate = cast(9959, *args, "--close")
                    summary = receiver.stop()
                    if summary["received"] != sent:
                        raise RuntimeError(f"receiver counted {summary['received']} of {sent} frames")
                else:
                    process = sink("tcp_sink" if name == "tcp" else "beast_sink", 19001)
                    # Beast answers a close frame; the plain sink only sees the end of the stream.
                    _, _, rate = cast(19001, *args, *(["--close"] if name == "beast" else []))
                    process.wait(timeout=30)
                round_rates[name] = rate
                rates[name].append(rate)
            vs_beast.append(round_rates["receiver"] / round_rates["beast"])
            vs_tcp.append(round_rates["receiver"] / round_rates["tcp"])
            log(f"  round {r + 1}: receiver {round_rates['receiver']:.0f} MB/s, Beast {round_rates['beast']:.0f}, "
                f"TCP {round_rates['tcp']:.0f}")
        ours = statistics.median(rates["receiver"])
        rb, rt = statistics.median(vs_beast), statistics.median(vs_tcp)
        label = f"ingest {size // 1024} KiB (MB/s)"
        row(label, f"{ours:.0f}", f"Beast {statistics.median(rates['beast']):.0f}", f"{rb:.2f}x", ">= 1.0x",
            "met" if rb >= 1.0 else "MISSED", spread(vs_beast))
        row(label, f"{ours:.0f}", f"raw TCP {statistics.median(rates['tcp']):.0f}", f"{rt:.2f}x", ">= 0.7x",
            "met" if rt >= 0.7 else "MISSED", spread(vs_tcp))


# ---------------------------------------------------------------------------- on screen
def process_cpu_seconds(pid):
    with open(f"/proc/{pid}/stat") as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def status_kib(pid, key):
    with open(f"/proc/{pid}/status") as f:
        for line in f:
            if line.startswith(key + ":"):
                return int(line.split()[1])
    return 0


SHARE_PORT = 8080


class StreamViewers:
    """`count` viewers of the shared view's MJPEG stream: the first never reads after its
    request, the others read and discard on threads of their own until closed."""

    def __init__(self, count):
        self.stop = threading.Event()
        self.sockets = [socket.create_connection(("127.0.0.1", SHARE_PORT), timeout=5) for _ in range(count)]
        for s in self.sockets:
            s.sendall(b"GET /stream.mjpg HTTP/1.1\r\nHost: receiver\r\n\r\n")
        self.threads = [threading.Thread(target=self.read, args=(s,)) for s in self.sockets[1:]]
        for t in self.threads:
            t.start()

    def read(self, s):
        s.settimeout(0.2)
        while not self.stop.is_set():
            try:
                if not s.recv(1 << 20):
                    return
            except socket.timeout:
                continue
            except OSError:
                return

    def close(self):
        self.stop.set()
        for t in self.threads:
            t.join()
        for s in self.sockets:
            s.close()


def cast_on_screen(name, fps, seconds, size="1080x2400", receiver_args=(), binary=RECEIVER, viewers=0):
    """Casts `size` pictures at `fps` into the receiver under Xvfb; returns what it saw."""
    session = Xvfb()
    watching = None
    try:
        if viewers:
            receiver_args = [*receiver_args, "--share", f"127.0.0.1:{SHARE_PORT}"]
        receiver = Receiver(name, list(receiver_args), session.env, binary)
        pid = receiver.process.pid
        time.sleep(1.0)  # the window is up and painted once
        if viewers:
            watching = StreamViewers(viewers)
        cpu_before, wall_before = process_cpu_seconds(pid), time.monotonic()
        sender = subprocess.Popen([CAST, "127.0.0.1:9959", "--pattern", size, "--quality", "85",
                                   "--pregenerate", "30", "--fps", str(fps), "--duration", str(seconds), "--quiet"],
                                  stderr=subprocess.PIPE, text=True)
        rss = []
        while sender.poll() is None:
            rss.append(status_kib(pid, "VmRSS"))
            time.sleep(1.0)
        cpu_seconds = process_cpu_seconds(pid) - cpu_before
        cpu = cpu_seconds / (time.monotonic() - wall_before) * 100
        if watching:
            watching.close()
            watching = None
        peak = status_kib(pid, "VmHWM")
        match = SENT.search(sender.stderr.read())
        if sender.returncode != 0 or not match:
            raise RuntimeError("orrin-cast failed")
        summary = receiver.stop()
        summary.update(cpu=cpu, cpu_seconds=cpu_seconds, rss=rss, peak_kib=peak, sent=int(match.group(1)),
                       cast_seconds=float(match.group(2)))
        gaps = re.search(r"longest gap ([\d.]+) ms, gaps over 50 ms (\d+)", summary["log"])
        summary["longest_gap"], summary["long_gaps"] = (float(gaps.group(1)), int(gaps.group(2))) if gaps else (0, 0)
        renderer = re.search(r"Renderer: (\S+)", summary["log"])
        summary["renderer"] = renderer.group(1) if renderer else "?"
        summary["floor"] = present_floor(session, size, summary["scale"], fps)
        return summary
    finally:
        if watching:
            watching.close()
        session.close()


def present_floor(session, size, scale, fps):
    """p50 of upload + draw + present of the picture size the receiver decoded, on the same display."""
    width, height = (int(v) // int(scale) for v in size.split("x"))
    result = subprocess.run([os.path.join(BIN, "present_floor"), str(width), str(height), str(fps), "4"],
                            env=session.env, capture_output=True, text=True, timeout=60)
    match = re.search(r"RESULT floor ([\d.]+) ([\d.]+)", result.stdout)
    if result.returncode != 0 or not match:
        raise RuntimeError("present_floor failed: " + result.stderr)
    return float(match.group(1))


PACING_CASES = [("1080x2400", 30, ()), ("1920x1080", 30, ()), ("1080x2400", 60, ()), ("1920x1080", 60, ()),
                ("1080x2400", 60, ("--max-fps", "60")), ("1920x1080", 60, ("--max-fps", "60"))]


def versions():
    """The receiver under test, and with BENCH_BEFORE_BIN set an earlier build run turn about with it
    (the same load for both on a shared machine)."""
    before = os.environ.get("BENCH_BEFORE_BIN")
    if not before:
        return [("", RECEIVER)]
    return [(" [now]", RECEIVER), (" [before]", os.path.join(before, "orrin-receiver"))]


def bench_pacing():
    seconds = setting("BENCH_PACING_SECONDS")
    rounds = setting("BENCH_PACING_ROUNDS", int)
    table = []
    only = os.environ.get("BENCH_PACING_ONLY")  # e.g. "0,4": some of the cases, by position
    cases = [PACING_CASES[int(i)] for i in only.split(",")] if only else PACING_CASES
    for size, fps, args in cases:
        runs_of = {}
        share_viewers = int(os.environ.get("BENCH_PACING_VIEWERS", "0"))
        for r, (tag, binary), viewers in ((r, v, n) for r in range(rounds) for v in versions()
                                          for n in ([0, share_viewers] if share_viewers else [0])):
            if args and not receiver_knows("--max-fps", binary):
                continue
            if viewers and not receiver_knows("--share", binary):
                continue
            label = (f"{size} at {fps}" + (" " + " ".join(args) if args else "") + tag +
                     (f" [{viewers} viewers]" if viewers else ""))
            log(f"== pacing: {label} for {seconds:g} s under Xvfb (round {r + 1}) ==")
            try:
                s = cast_on_screen(f"pacing_{size}_{fps}{'_max' if args else ''}{tag.strip(' []')}"
                                   f"{'_viewers' if viewers else ''}_{r}", fps, seconds, size, args, binary, viewers)
            except RuntimeError as error:  # a receiver that never came up on a crowded machine
                log(f"  round left out: {error}")
                continue
            t = s["cast_seconds"]
            m = {"received": s["received"] / t, "shown": s["shown"] / t,
                 "never": 100.0 * max(0, s["received"] - s["dropped"] - s["shown"]) / max(1, s["received"] - s["dropped"]),
                 "gap": s["longest_gap"], "gaps": s["long_gaps"] * 20 / t, "p50": s["delay"][0],
                 "p99": s["delay"][1], "decode": s["decode"][0], "floor": s["floor"],
                 "cpu": 1000 * s["cpu_seconds"] / max(1, s["shown"])}
            log(f"  received {m['received']:.1f}/s, shown {m['shown']:.1f}/s, never shown {m['never']:.1f}%, "
                f"longest gap {m['gap']:.0f} ms, gaps > 50 ms {m['gaps']:.1f} per 20 s, delay p50 {m['p50']:.1f} "
                f"p99 {m['p99']:.1f} ms (decode {m['decode']:.1f}, floor {m['floor']:.1f}, scale 1/{s['scale']}, "
                f"{s['renderer']}), CPU {m['cpu']:.1f} ms per shown picture")
            runs_of.setdefault(label, []).append(m)
        for label, runs in runs_of.items():
            pacing_rows(table, label, fps, args, runs)
    log("")
    log("pacing table (medians of %d rounds; spread min..max)" % rounds)
    log("| input | received/s | shown/s | never shown | longest gap | gaps > 50 ms per 20 s | delay p50/p99 (ms) "
        "| decode + floor (ms) | CPU per shown picture (ms) |")
    log("|---|---|---|---|---|---|---|---|---|")
    for label, med, runs in table:
        log(f"| {label} | {med['received']:.1f} | {med['shown']:.1f} ({spread([r['shown'] for r in runs])}) | "
            f"{med['never']:.1f} % | {med['gap']:.0f} ms ({spread([r['gap'] for r in runs])}) | {med['gaps']:.1f} | "
            f"{med['p50']:.1f}/{med['p99']:.1f} | {med['decode']:.1f} + {med['floor']:.1f} | {med['cpu']:.1f} |")


def pacing_rows(table, label, fps, args, runs):
    med = {k: statistics.median(r[k] for r in runs) for k in runs[0]}
    table.append((label, med, runs))
    limit = med["decode"] + med["floor"] + 2
    row(f"pacing {label}: shown/s", f"{med['shown']:.1f}", f"received {med['received']:.1f}",
        f"{med['shown'] / med['received']:.2f}x", pacing_target(fps, args), pacing_verdict(fps, args, med),
        spread([r["shown"] / r["received"] for r in runs]))
    row("  never shown (%) / longest gap (ms)", f"{med['never']:.1f}/{med['gap']:.0f}", "-", "-",
        "0/<50" if fps == 30 else "(report)",
        ("met" if med["never"] < 0.5 and med["gap"] < 50 else "MISSED") if fps == 30 else "-",
        f"{spread([r['never'] for r in runs])} / {spread([r['gap'] for r in runs])}")
    row("  delay p50 (ms)", f"{med['p50']:.1f}", f"decode {med['decode']:.1f} + floor {med['floor']:.1f} + 2",
        f"{med['p50'] / limit:.2f}x", "<= 1.0x", "met" if med["p50"] <= limit else "MISSED",
        spread([r["p50"] / (r["decode"] + r["floor"] + 2) for r in runs]))


def receiver_knows(option, binary=RECEIVER):
    result = subprocess.run([binary, "--help"], capture_output=True, text=True, timeout=10)
    return option in result.stdout


def pacing_target(fps, args):
    if args:
        return ">= 55/s"
    return "all kept" if fps == 30 else ">= 29.5/s"


def pacing_verdict(fps, args, med):
    if args:
        return "met" if med["shown"] >= 55 else "MISSED"
    return "met" if med["shown"] >= (0.98 * med["received"] if fps == 30 else 29.5) else "MISSED"


def bench_steady():
    seconds = setting("BENCH_STEADY_SECONDS")
    for r in range(setting("BENCH_STEADY_ROUNDS", int)):
        log(f"== steady: 1080x2400 at 50 fps for {seconds:g} s under Xvfb (round {r + 1}) ==")
        s = cast_on_screen(f"steady_{r}", 50, seconds)
        shown_rate = s["shown"] / s["cast_seconds"]
        sent_rate = s["sent"] / s["cast_seconds"]
        rss = s["rss"]
        settled = rss[min(5, len(rss) - 1)] if rss else 0
        growth = (rss[-1] - settled) / 1024 if rss else 0
        log(f"  receiver CPU {s['cpu']:.0f}% of one core, shown {shown_rate:.1f}/s of {sent_rate:.1f}/s sent, "
            f"dropped by the throttle {s['dropped']}, RSS after 5 s {settled / 1024:.1f} MiB, final "
            f"{rss[-1] / 1024 if rss else 0:.1f} MiB, peak {s['peak_kib'] / 1024:.1f} MiB")
        log("  RSS each second (MiB): " + " ".join(f"{v / 1024:.0f}" for v in rss))
        row(f"steady 50 fps: shown/s (run {r + 1})", f"{shown_rate:.1f}", f"sent {sent_rate:.1f}",
            f"{shown_rate / 50:.2f}x", ">= 50/s", "met" if shown_rate >= 49.5 else "MISSED", "-")
        row("  dropped by the throttle", s["dropped"], f"of {s['sent']}", "-", "(report)", "-", "-")
        row("  receiver CPU (% of a core)", f"{s['cpu']:.0f}", "-", "-", "(report)", "-", "-")
        row("  RSS after 5 s / final / peak (MiB)", f"{settled / 1024:.0f}/{rss[-1] / 1024 if rss else 0:.0f}/"
            f"{s['peak_kib'] / 1024:.0f}", "-", "-", "flat", "met" if growth < 4 else "MISSED",
            f"{growth:+.1f} MiB after 5 s")


# ---------------------------------------------------------------------------- sound
SOUND_CASES = [("steady", ()), ("bursty", ("--sound-burst", "3")), ("0.5 % fast", ("--sound-clock", "1.005"))]
GAP_SAMPLES = 4  # a run of this many zero samples is silence the receiver put in (a tone has none)


def silence_runs(path):
    """Runs of zero samples between the first and the last sound in a disk-driver file: (count, ms)."""
    import array
    samples = array.array("h")
    with open(path, "rb") as f:
        samples.frombytes(f.read())
    first = next((i for i, v in enumerate(samples) if v != 0), None)
    if first is None:
        return 0, 0.0, 0
    last = len(samples) - 1
    while samples[last] == 0:
        last -= 1
    runs, inserted, run = 0, 0, 0
    for v in samples[first:last + 1]:
        if v == 0:
            run += 1
            continue
        if run >= GAP_SAMPLES:
            runs += 1
            inserted += run
        run = 0
    return runs, inserted / 16.0, (last - first + 1) / 16000.0


def sound_run(name, args, r, seconds, headless, binary):
    log(f"== sound: {name} sender, 440 Hz for {seconds:g} s through the disk driver (round {r + 1}) ==")
    stem = f"sound_{name.split()[0]}{'_before' if 'before' in name else ''}_{r}"
    out = os.path.join(DATA, stem + ".raw")
    if os.path.exists(out):
        os.remove(out)
    env = dict(headless, SDL_AUDIODRIVER="disk", SDL_DISKAUDIOFILE=out)
    receiver = Receiver(stem, [], env, binary)
    began = time.monotonic()
    cast(9959, "--tone", 440, "--duration", seconds, *args)
    time.sleep(1.5)  # what is queued plays out
    summary = receiver.stop()
    # The disk driver paces itself with sleeps: on a busy machine it runs slower than a sound
    # card would, and the queue has that to make up as well.
    device_rate = os.path.getsize(out) / 32000 / (time.monotonic() - began)
    gaps, inserted, played = silence_runs(out)
    queued = [float(v) for v in re.findall(r"audio queued (\d+) ms", summary["log"])]
    if "audio" in summary:
        p50, p99 = summary["audio"]
    else:  # a receiver without per-buffer samples: its once-a-second lines
        p50, p99 = statistics.median(queued), max(queued)
    m = {"gaps": gaps * 10 / max(played, 0.1), "inserted": inserted * 10 / max(played, 0.1),
         "p50": p50, "p99": p99, "played": played, "rate": device_rate}
    log(f"  played {played:.1f} s, {gaps} gaps with {inserted:.0f} ms of inserted silence, queued delay "
        f"p50 {p50:.0f} p99 {p99:.0f} ms; the disk device ran at {device_rate:.3f}x real time")
    return m


def bench_sound():
    seconds = setting("BENCH_SOUND_SECONDS")
    headless = {k: v for k, v in os.environ.items() if k not in ("DISPLAY", "WAYLAND_DISPLAY", "SDL_VIDEODRIVER")}
    table = []
    for case, args in SOUND_CASES:
        runs_of = {}
        for r in range(setting("BENCH_SOUND_ROUNDS", int)):
            for tag, binary in versions():
                name = case + tag
                runs_of.setdefault(name, []).append(sound_run(name, args, r, seconds, headless, binary))
        for name, runs in runs_of.items():
            med = {k: statistics.median(r[k] for r in runs) for k in runs[0]}
            table.append((name, med))
            fast = name.startswith("0.5")
            row(f"sound {name}: gaps per 10 s", f"{med['gaps']:.1f}", f"silence {med['inserted']:.0f} ms", "-",
                "(report)" if fast else "0", "-" if fast else ("met" if med["gaps"] == 0 else "MISSED"),
                spread([r["gaps"] for r in runs]))
            row("  queued delay p50/p99 (ms)", f"{med['p50']:.0f}/{med['p99']:.0f}", f"device {med['rate']:.3f}x",
                "-", "p99 <= 150", "met" if med["p99"] <= 150 else "MISSED", spread([r["p99"] for r in runs]))
    log("")
    log("| sender | gaps per 10 s | inserted silence per 10 s | queued delay p50/p99 | disk device rate |")
    log("|---|---|---|---|---|")
    for name, med in table:
        log(f"| {name} | {med['gaps']:.1f} | {med['inserted']:.0f} ms | {med['p50']:.0f}/{med['p99']:.0f} ms | "
            f"{med['rate']:.3f}x |")


# ---------------------------------------------------------------------------- memory
def ws_cycle(jpeg, pictures):
    """One sender: connect, handshake, `pictures` video messages 25 ms apart, close."""
    import base64
    import socket
    import struct
    with socket.create_connection(("127.0.0.1", 9959), timeout=10) as sock:
        key = base64.b64encode(os.urandom(16)).decode()
        sock.sendall(("GET / HTTP/1.1\r\nHost: 127.0.0.1:9959\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
                      f"Sec-WebSocket-Key: {key}\r\nSec-WebSocket-Version: 13\r\n\r\n").encode())
        answer = b""
        while b"\r\n\r\n" not in answer:
            chunk = sock.recv(4096)
            if not chunk:
                raise RuntimeError("the receiver closed the connection during the handshake")
            answer += chunk
        if b" 101 " not in answer.split(b"\r\n", 1)[0]:
            raise RuntimeError("handshake refused: " + answer[:80].decode(errors="replace"))
        payload = b"\x00" + struct.pack(">I", 0) + jpeg
        # An all-zero mask leaves the payload as it is: the receiver unmasks all the same.
        frame = b"\x82\xff" + struct.pack(">Q", len(payload)) + b"\x00\x00\x00\x00" + payload
        sound = b"\x01" + struct.pack(">I", 0) + bytes(640)
        sock.sendall(b"\x82" + bytes([0x80 | 126]) + struct.pack(">H", len(sound)) + b"\x00\x00\x00\x00" + sound)
        for i in range(pictures):
            sock.sendall(frame)
            time.sleep(0.025)
        sock.sendall(b"\x88\x80\x00\x00\x00\x00")  # close, no body


def bench_memory():
    cycles = setting("BENCH_MEMORY_CYCLES", int)
    os.makedirs(DATA, exist_ok=True)
    subprocess.run([os.path.join(BIN, "decode_bench"), DATA, "0.05", "1"], capture_output=True, timeout=120)
    jpegs = []
    for size in ("1080x2400", "1920x1080"):  # phones of both kinds, so textures change size
        with open(os.path.join(DATA, f"photo_{size}_420_q85.jpg"), "rb") as f:
            jpegs.append(f.read())
    session = Xvfb()
    try:
        receiver = Receiver("memory", [], dict(session.env, SDL_AUDIODRIVER="disk", SDL_DISKAUDIOFILE="/dev/null"))
        pid = receiver.process.pid
        time.sleep(1.0)
        log(f"== memory: {cycles} connect/cast/disconnect cycles of 3 pictures and a sound frame, 1080x2400 and "
            "1920x1080 in turn, with a window ==")
        points = []
        started = time.monotonic()
        for i in range(1, cycles + 1):
            ws_cycle(jpegs[i % 2], 3)
            if i == 100 or i % 250 == 0 or i == cycles:
                time.sleep(0.3)  # the last sender's thread is gone
                points.append((i, status_kib(pid, "VmRSS") / 1024))
                log(f"  after {i} cycles: RSS {points[-1][1]:.1f} MiB ({time.monotonic() - started:.0f} s)")
        receiver.stop()
    finally:
        session.close()
    base = next(v for n, v in points if n == 100)
    final = points[-1][1]
    row(f"RSS after {cycles} cycles (MiB)", f"{final:.0f}", f"after 100: {base:.0f}", f"{final - base:+.0f} MiB",
        "<= +32 MiB", "met" if final - base <= 32 else "MISSED",
        f"{min(v for _, v in points):.0f}..{max(v for _, v in points):.0f} MiB")


def bench_sessions():
    import quick_sessions
    count = setting("BENCH_SESSIONS", int)
    rises, bases, finals = {}, {}, {}
    for r in range(setting("BENCH_SESSIONS_ROUNDS", int)):
        for tag, binary in versions():
            log(f"== sessions{tag}: {count} short sessions, about 300 a second, windowless (round {r + 1}) ==")
            points = quick_sessions.run(os.path.dirname(binary), DATA, count, log=log)
            base = next(v for n, v in points if n == 100)
            rises.setdefault(tag, []).append(points[-1][1] - base)
            bases.setdefault(tag, []).append(base)
            finals.setdefault(tag, []).append(points[-1][1])
    for tag, runs in rises.items():
        row(f"RSS over {count} short sessions{tag} (MiB)", f"{statistics.median(finals[tag]):.0f}",
            f"after 100: {statistics.median(bases[tag]):.0f}", f"{statistics.median(runs):+.1f} MiB", "<= +32 MiB",
            "met" if max(runs) <= 32 else "MISSED", " ".join(f"{v:+.1f}" for v in runs))


def bench_record():
    """The cost of recording: the same cast with and without --record, rounds alternating."""
    seconds = setting("BENCH_RECORD_SECONDS")
    cpu_ratios, rss_ratios, plain, recorded = [], [], [], []
    for r in range(setting("BENCH_RECORD_ROUNDS", int)):
        log(f"== record: 1080x2400 at 30 fps for {seconds:g} s, without and with --record (round {r + 1}) ==")
        base = cast_on_screen(f"record_off_{r}", 30, seconds)
        path = os.path.join(DATA, f"record_{r}.mkv")
        rec = cast_on_screen(f"record_on_{r}", 30, seconds, receiver_args=["--record", path])
        saved = re.search(r"Recording saved: .* \((\d+) pictures, [\d.]+ s of sound, (\d+) pictures dropped\)",
                          rec["log"])
        size = os.path.getsize(path) if os.path.exists(path) else 0
        os.remove(path) if os.path.exists(path) else None
        base_rss = statistics.median(base["rss"][3:] or base["rss"])
        rec_rss = statistics.median(rec["rss"][3:] or rec["rss"])
        cpu_ratios.append(rec["cpu"] / base["cpu"])
        rss_ratios.append(rec_rss / base_rss)
        plain.append((base["cpu"], base_rss, base["peak_kib"]))
        recorded.append((rec["cpu"], rec_rss, rec["peak_kib"]))
        log(f"  without: CPU {base['cpu']:.0f}%, RSS median {base_rss / 1024:.1f} MiB, peak {base['peak_kib'] / 1024:.1f}"
            f" MiB; with: CPU {rec['cpu']:.0f}%, RSS median {rec_rss / 1024:.1f} MiB, peak "
            f"{rec['peak_kib'] / 1024:.1f} MiB; file {size / 1e6:.1f} MB, "
            f"{saved.group(1) if saved else '?'} pictures written, {saved.group(2) if saved else '?'} dropped, "
            f"shown {rec['shown']} of {rec['sent']}")
    cpu = statistics.median(cpu_ratios)
    rss = statistics.median(rss_ratios)
    row("record 30 fps: CPU with/without", f"{statistics.median(c for c, _, _ in recorded):.0f}%",
        f"{statistics.median(c for c, _, _ in plain):.0f}% without", f"{cpu:.2f}x", "(report)", "-", spread(cpu_ratios))
    row("  RSS median with/without (MiB)", f"{statistics.median(m for _, m, _ in recorded) / 1024:.0f}",
        f"{statistics.median(m for _, m, _ in plain) / 1024:.0f} without", f"{rss:.2f}x", "(report)", "-",
        spread(rss_ratios))


def bench_senders():
    import senders_bench
    senders_bench.bench(sys.modules[__name__], setting("BENCH_SENDERS_SECONDS"), setting("BENCH_SENDERS_ROUNDS", int))


def machine():
    model = "unknown CPU"
    with open("/proc/cpuinfo") as f:
        for line in f:
            if line.startswith("model name"):
                model = line.split(":", 1)[1].strip()
                break
    return f"{os.cpu_count()} CPUs ({model}), load at start {os.getloadavg()[0]:.2f}"


def main():
    os.makedirs(DATA, exist_ok=True)
    log("machine: " + machine())
    started = time.monotonic()
    if MODE == "memory":
        bench_memory()
        bench_sessions()
    elif MODE == "sessions":
        bench_sessions()
    elif MODE == "pacing":
        bench_pacing()
    elif MODE == "sound":
        bench_sound()
    elif MODE == "record":
        bench_record()
    elif MODE == "senders":
        bench_senders()
    else:
        bench_decode()
        bench_ingest()
        bench_pacing()
        bench_sound()
        bench_steady()
        bench_record()
        bench_senders()
    header = ("measure", "figure", "ceiling (same run)", "ratio", "target", "verdict", "spread of ratio")
    widths = [max(len(r[i]) for r in rows + [header]) for i in range(len(header))]
    log("")
    log(f"== summary ({time.monotonic() - started:.0f} s; machine: {machine()}) ==")
    for r in [header] + rows:
        log("  ".join(c.ljust(w) for c, w in zip(r, widths)).rstrip())


if __name__ == "__main__":
    main()
