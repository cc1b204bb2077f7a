"""Several senders at once: 1, 2 and 4 senders casting 1080x2400 at 30 fps into one window
under Xvfb (--senders N), each picture decoded for its tile. Figures: pictures shown per
sender per second (the run's shown count over senders and cast time), the receiver's CPU
and its resident memory. Called from pipeline_bench.py (mode `senders`, also in `all`)."""
import statistics
import subprocess
import time

from x11_session import Xvfb


def one_run(tools, name, senders, seconds):
    session = Xvfb()
    try:
        args = ["--senders", str(senders)] if senders > 1 else []
        receiver = tools.Receiver(name, args, session.env)
        pid = receiver.process.pid
        time.sleep(1.0)
        casts = []
        for _ in range(senders):
            casts.append(subprocess.Popen([tools.CAST, "127.0.0.1:9959", "--pattern", "1080x2400", "--quality", "85",
                                           "--pregenerate", "30", "--fps", "30", "--duration", str(seconds),
                                           "--quiet"], stderr=subprocess.PIPE, text=True))
            time.sleep(0.3)  # each takes its tile in turn
        time.sleep(2.0)  # every sender is pregenerated and casting
        cpu_before, wall_before = tools.process_cpu_seconds(pid), time.monotonic()
        rss = []
        while all(c.poll() is None for c in casts):
            rss.append(tools.status_kib(pid, "VmRSS"))
            time.sleep(1.0)
        cpu = (tools.process_cpu_seconds(pid) - cpu_before) / (time.monotonic() - wall_before) * 100
        sent_seconds = []
        for c in casts:
            _, err = c.communicate(timeout=60)
            match = tools.SENT.search(err)
            if c.returncode != 0 or not match:
                raise RuntimeError("orrin-cast failed: " + err)
            sent_seconds.append(float(match.group(2)))
        summary = receiver.stop()
        per_sender = summary["shown"] / senders / statistics.median(sent_seconds)
        return per_sender, cpu, statistics.median(rss[2:] or rss), summary["scale"]
    finally:
        session.close()


def bench(tools, seconds, rounds):
    results = {}
    for r in range(rounds):
        for senders in (1, 2, 4):
            tools.log(f"== senders: {senders} x 1080x2400 at 30 fps for {seconds:g} s under Xvfb (round {r + 1}) ==")
            shown, cpu, rss, scale = one_run(tools, f"senders_{senders}_{r}", senders, seconds)
            tools.log(f"  shown {shown:.1f} per sender per second, CPU {cpu:.0f}%, RSS {rss / 1024:.1f} MiB, "
                      f"decoded at 1/{scale}")
            results.setdefault(senders, []).append((shown, cpu, rss))
    one_rss = statistics.median(v[2] for v in results[1])
    for senders, runs in results.items():
        shown = statistics.median(v[0] for v in runs)
        cpu = statistics.median(v[1] for v in runs)
        rss = statistics.median(v[2] for v in runs)
        target = ">= 29/s, < 150% CPU" if senders == 4 else "(report)"
        met = "met" if shown >= 29 and cpu < 150 else "MISSED"
        tools.row(f"{senders} sender(s) 1080x2400@30: shown per sender/s", f"{shown:.1f}", "30 sent", f"{shown / 30:.2f}x",
                  target, met if senders == 4 else "-", tools.spread([v[0] for v in runs]))
        tools.row(f"  CPU, RSS (MiB; x of one sender)", f"{cpu:.0f}%", f"{rss / 1024:.0f} MiB",
                  f"{rss / one_rss:.2f}x", "RSS < 4x of one" if senders == 4 else "(report)",
                  ("met" if rss < 4 * one_rss else "MISSED") if senders == 4 else "-",
                  tools.spread([v[1] for v in runs]))
