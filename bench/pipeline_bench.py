"""The whole picture path against its ceilings, measured in one run; prints one table.

usage: /usr/bin/python3 bench/pipeline_bench.py BIN_DIR DATA_DIR

  decode   decode_bench: our bytes-to-Picture against tjbench -yuv on the same files
  ingest   orrin-cast sending masked frames as fast as it can into the receiver (decoding
           off) and into two ceilings: a plain TCP sink and a Boost.Beast WebSocket sink
  delay    last byte received -> SDL_RenderPresent returned, 1080x2400 at 30 fps, Xvfb
  steady   1080x2400 at 50 fps: CPU, pictures shown per second, drops, resident memory
  record   1080x2400 at 30 fps with --record against the same cast without: CPU and memory

The receiver binds its fixed ports, so run this in a private network namespace
(bench/run_all.sh does). Durations and rounds come from the environment (see DEFAULTS).
"""
import os
import re
import signal
import statistics
import subprocess
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "e2e"))
from x11_session import Xvfb  # noqa: E402

DEFAULTS = {
    "BENCH_DECODE_SECONDS": "1.5", "BENCH_DECODE_ROUNDS": "5",
    "BENCH_INGEST_SECONDS": "3", "BENCH_INGEST_ROUNDS": "3",
    "BENCH_DELAY_SECONDS": "20", "BENCH_DELAY_ROUNDS": "2",
    "BENCH_STEADY_SECONDS": "60", "BENCH_STEADY_ROUNDS": "1",
    "BENCH_RECORD_SECONDS": "20", "BENCH_RECORD_ROUNDS": "2",
}


def setting(name, kind=float):
    return kind(os.environ.get(name, DEFAULTS[name]))


BIN, DATA = sys.argv[1], sys.argv[2]
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


def wait_for_line(path, text, process, timeout=20):
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

    def __init__(self, name, args, env):
        self.log_path = os.path.join(DATA, name + ".log")
        self.log_file = open(self.log_path, "w")
        self.process = subprocess.Popen([RECEIVER, "--stats", *args], env=env, stdout=self.log_file,
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


def cast_on_screen(name, fps, seconds, receiver_args=()):
    """Casts 1080x2400 pictures at `fps` into the receiver under Xvfb; returns what it saw."""
    session = Xvfb()
    try:
        receiver = Receiver(name, list(receiver_args), session.env)
        pid = receiver.process.pid
        time.sleep(1.0)  # the window is up and painted once
        cpu_before, wall_before = process_cpu_seconds(pid), time.monotonic()
        sender = subprocess.Popen([CAST, "127.0.0.1:9959", "--pattern", "1080x2400", "--quality", "85",
                                   "--pregenerate", "30", "--fps", str(fps), "--duration", str(seconds), "--quiet"],
                                  stderr=subprocess.PIPE, text=True)
        rss = []
        while sender.poll() is None:
            rss.append(status_kib(pid, "VmRSS"))
            time.sleep(1.0)
        cpu = (process_cpu_seconds(pid) - cpu_before) / (time.monotonic() - wall_before) * 100
        peak = status_kib(pid, "VmHWM")
        match = SENT.search(sender.stderr.read())
        if sender.returncode != 0 or not match:
            raise RuntimeError("orrin-cast failed")
        summary = receiver.stop()
        summary.update(cpu=cpu, rss=rss, peak_kib=peak, sent=int(match.group(1)), cast_seconds=float(match.group(2)))
        return summary
    finally:
        session.close()


def bench_delay(decode_ms):
    seconds = setting("BENCH_DELAY_SECONDS")
    runs = []
    for r in range(setting("BENCH_DELAY_ROUNDS", int)):
        log(f"== delay: 1080x2400 at 30 fps for {seconds:g} s under Xvfb (round {r + 1}) ==")
        s = cast_on_screen(f"delay_{r}", 30, seconds)
        log(f"  decode p50 {s['decode'][0]:.1f} p99 {s['decode'][1]:.1f} ms (scale 1/{s['scale']}), upload p50 "
            f"{s['upload'][0]:.1f} p99 {s['upload'][1]:.1f}, draw+present p50 {s['draw'][0]:.1f} p99 "
            f"{s['draw'][1]:.1f}, delay p50 {s['delay'][0]:.1f} p99 {s['delay'][1]:.1f} ms; shown {s['shown']} "
            f"of {s['sent']}")
        runs.append(s)
    p50 = statistics.median(s["delay"][0] for s in runs)
    p99 = statistics.median(s["delay"][1] for s in runs)
    dec = statistics.median(s["decode"][0] for s in runs)
    limit = dec + 4
    row("delay p50, 30 fps (ms)", f"{p50:.1f}", f"decode {dec:.1f} + 4", f"{p50 / limit:.2f}x", "<= 1.0x",
        "met" if p50 <= limit else "MISSED", spread([s["delay"][0] for s in runs]))
    row("delay p99, 30 fps (ms)", f"{p99:.1f}", "-", "-", "(report)", "-", spread([s["delay"][1] for s in runs]))
    for key, label in (("decode", "decode"), ("upload", "upload"), ("draw", "draw+present")):
        row(f"  {label} p50/p99 (ms)", f"{statistics.median(s[key][0] for s in runs):.1f}/"
            f"{statistics.median(s[key][1] for s in runs):.1f}", "-", "-", "(report)",
            f"scale 1/{runs[0]['scale']}" if key == "decode" else "-", "-")


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


def bench_record():
    """The cost of recording: the same cast with and without --record, rounds alternating."""
    seconds = setting("BENCH_RECORD_SECONDS")
    cpu_ratios, rss_ratios, plain, recorded = [], [], [], []
    for r in range(setting("BENCH_RECORD_ROUNDS", int)):
        log(f"== record: 1080x2400 at 30 fps for {seconds:g} s, without and with --record (round {r + 1}) ==")
        base = cast_on_screen(f"record_off_{r}", 30, seconds)
        path = os.path.join(DATA, f"record_{r}.mkv")
        rec = cast_on_screen(f"record_on_{r}", 30, seconds, ["--record", path])
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
    decode_ms = bench_decode()
    bench_ingest()
    bench_delay(decode_ms)
    bench_steady()
    bench_record()
    header = ("measure", "figure", "ceiling (same run)", "ratio", "target", "verdict", "spread of ratio")
    widths = [max(len(r[i]) for r in rows + [header]) for i in range(len(header))]
    log("")
    log(f"== summary ({time.monotonic() - started:.0f} s; machine: {machine()}) ==")
    for r in [header] + rows:
        log("  ".join(c.ljust(w) for c, w in zip(r, widths)).rstrip())


if __name__ == "__main__":
    main()
