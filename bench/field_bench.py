#!/usr/bin/python3
"""The field table: a 1280x720 pattern at 30 fps with a 440 Hz tone for 30 s through a
Wi-Fi-like link (tests/e2e/wifi_relay.py, profiles "good" and "busy"), for the receiver under
test and, with BENCH_BEFORE_BIN, an earlier build; medians of BENCH_FIELD_ROUNDS (3) rounds
(BENCH_FIELD_LINKS picks the links, "good busy" by default).

usage: field_bench.py BIN_DIR OUT_DIR      (root: network namespaces)

Figures: sound gaps per minute and inserted silence (runs of zero samples in the disk
driver's output), queued sound delay p50/p99 (the once-a-second --stats lines), pictures
decoded of those sent (--verbose decode lines), and, from the --stats summary at exit, the
pictures shown of those sent, the longest gap between new pictures on the screen and the
gaps over 50 ms. The receiver runs its window on SDL's offscreen driver, so pictures are
painted and presented as on a desktop.
"""
import os
import re
import select
import statistics
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests", "e2e"))
sys.path.insert(0, HERE)
import lan_e2e  # noqa: E402
import receiver_process  # noqa: E402
from lan_e2e import NET2, DECODED, Lan  # noqa: E402
from pipeline_bench import silence_runs  # noqa: E402

RELAY = os.path.join(HERE, "..", "tests", "e2e", "wifi_relay.py")
SECONDS = float(os.environ.get("BENCH_FIELD_SECONDS", "30"))
ROUNDS = int(os.environ.get("BENCH_FIELD_ROUNDS", "3"))
PROFILES = os.environ.get("BENCH_FIELD_LINKS", "good busy").split()
def one_round(binary, cast, profile, out_dir, tag):
    lan = Lan()
    try:
        audio = os.path.join(out_dir, f"field-{tag}.raw")
        env = receiver_process.headless_env(SDL_AUDIODRIVER="disk", SDL_DISKAUDIOFILE=audio,
                                            SDL_VIDEODRIVER="offscreen")
        receiver = receiver_process.Receiver("ip", env, os.path.join(out_dir, f"field-{tag}.log"),
                                             args=["netns", "exec", lan.r, binary, "--verbose", "--stats"])
        lan.processes.append(receiver.process)
        receiver.wait_serving()
        relay = subprocess.Popen(["ip", "netns", "exec", lan.q, "/usr/bin/python3", RELAY, "127.0.0.1", "19959",
                                  NET2[0], "9959", profile], stdout=subprocess.PIPE, text=True)
        lan.processes.append(relay)
        relay.stdout.readline()
        sent = int(SECONDS * 30)
        subprocess.run(["ip", "netns", "exec", lan.q, cast, "127.0.0.1:19959", "--pattern", "1280x720", "--fps", "30",
                        "--tone", "440", "--frames", str(sent), "--quiet"], capture_output=True, timeout=SECONDS + 60)
        time.sleep(1.5)
        receiver.terminate()
        # The relay's own figure: the longest the phone's side of the link stayed quiet,
        # against which the liveness pings (after 3 s of silence) are set.
        ready, _, _ = select.select([relay.stdout], [], [], 5)
        quiet = re.search(r"longest quiet toward the target: (\d+) ms", relay.stdout.readline() if ready else "")
        log = receiver.log()
        gaps, inserted, played = silence_runs(audio)
        queued = sorted(float(v) for v in re.findall(r"audio queued (\d+) ms", log))
        p = (lambda q: queued[min(len(queued) - 1, int(q * len(queued)))]) if queued else (lambda q: float("nan"))
        summary = re.search(r"stats summary: .*? shown (\d+),.*longest gap ([\d.]+) ms, gaps over 50 ms (\d+)", log)
        shown, longest, long_gaps = (int(summary[1]), float(summary[2]), int(summary[3])) if summary else \
            (0, float("nan"), -1)
        return {"gaps": gaps * 60 / max(played, 0.1), "silence": inserted, "p50": p(0.5), "p99": p(0.99),
                "decoded": 100.0 * log.count(DECODED) / sent, "shown": 100.0 * shown / sent,
                "longest": longest, "over50": long_gaps, "quiet": float(quiet[1]) if quiet else float("nan")}
    finally:
        lan.close()


def main():
    if os.geteuid() != 0:
        print("field bench: skipped, needs root (network namespaces)")
        return 0
    bin_dir, out_dir = (os.path.abspath(a) for a in sys.argv[1:3])
    os.makedirs(out_dir, exist_ok=True)
    versions = [("now", bin_dir)]
    if os.environ.get("BENCH_BEFORE_BIN"):
        versions.append(("before", os.path.abspath(os.environ["BENCH_BEFORE_BIN"])))
    cast = os.path.join(bin_dir, "orrin-cast")
    results = {}
    for r in range(ROUNDS):
        for profile in PROFILES:
            for name, directory in versions:
                m = one_round(os.path.join(directory, "orrin-receiver"), cast, profile, out_dir, f"{profile}-{name}-{r}")
                print(f"round {r + 1} {profile} {name}: {m}", file=sys.stderr, flush=True)
                results.setdefault((profile, name), []).append(m)
    print("| link | build | sound gaps per minute | inserted silence | queued delay p50/p99 | "
          "pictures decoded of sent | shown of sent | longest gap between pictures | gaps over 50 ms | "
          "longest link silence |")
    print("|---|---|---|---|---|---|---|---|---|---|")
    for (profile, name), runs in results.items():
        med = {k: statistics.median(x[k] for x in runs) for k in runs[0]}

        def spread(key, form):
            return "/".join(format(x[key], form) for x in runs)
        print(f"| {profile} | {name} | {med['gaps']:.1f} ({spread('gaps', '.1f')}) | "
              f"{med['silence']:.0f} ms ({spread('silence', '.0f')}) | "
              f"{med['p50']:.0f}/{med['p99']:.0f} ms ({spread('p99', '.0f')}) | "
              f"{med['decoded']:.1f} % ({spread('decoded', '.1f')}) | {med['shown']:.1f} % ({spread('shown', '.1f')}) | "
              f"{med['longest']:.0f} ms ({spread('longest', '.0f')}) | {med['over50']:.0f} ({spread('over50', 'd')}) | "
              f"{med['quiet']:.0f} ms ({spread('quiet', '.0f')}) |")
    print("(medians of the rounds; each round's figure in brackets)")
    return 0


if __name__ == "__main__":
    sys.exit(main())
