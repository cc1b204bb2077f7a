"""The real orrin-receiver as a child process, for the end-to-end drivers (/usr/bin/python3).

A receiver path ending in ".exe" is the Windows build: it runs as `wine64 <exe> args` in a Wine
prefix of its own (see `Wine`), and the drivers read its log as they read the Linux one.
"""
import atexit
import fcntl
import os
import shutil
import signal
import subprocess
import time


def wait_until(condition, timeout=30.0, step=0.05):
    """Polls `condition` until it gives a true value or `timeout` seconds pass; returns its last value."""
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        value = condition()
        if value:
            return value
        time.sleep(step)
    return condition()


def headless_env(**extra):
    """The environment without any display: the receiver then serves without a window."""
    env = {k: v for k, v in os.environ.items() if k not in ("DISPLAY", "WAYLAND_DISPLAY", "SDL_VIDEODRIVER")}
    env.update(extra)
    return env


class Usage:
    """What a process holds, read from /proc: resident memory, threads, open descriptors."""

    def __init__(self, pid):
        status = open(f"/proc/{pid}/status").read()
        fields = dict(line.split(":", 1) for line in status.splitlines() if ":" in line)
        self.rss_kib = int(fields["VmRSS"].split()[0])
        self.threads = int(fields["Threads"])
        self.fds = len(os.listdir(f"/proc/{pid}/fd"))

    def __str__(self):
        return f"RSS {self.rss_kib / 1024:.1f} MiB, {self.threads} threads, {self.fds} fds"


class Wine:
    """Runs the Windows receiver under Wine, in a prefix only the end-to-end drivers use.

    The prefix is $WINEPREFIX when set, else <dir>/prefix-e2e with <dir> = $ORRIN_WINEPREFIX_DIR
    or the build tree's wine/ beside bin/ (where scripts/wine-run.sh keeps its prefixes). It is
    made once: a copy of wine-run.sh's booted prefix when there is one, else `wineboot -i`,
    under the same lock file, so parallel first runs do not race.

    Wine's sockets are made by the wineserver, so they live in the network namespace the
    wineserver started in: each driver ends any wineserver of the prefix before its first
    start and its own when it exits. (A process cannot tell a private namespace from the
    machine's here: /proc/1/ns is not readable in every container.)
    """

    _ready = set()

    def __init__(self, exe):
        self.exe = exe
        self.loader = next((p for p in ("/usr/lib/wine/wine64", shutil.which("wine64"), shutil.which("wine"))
                            if p and os.access(p, os.X_OK)), None)
        if self.loader is None:
            raise RuntimeError("Wine is not installed (Debian: apt-get install --no-install-recommends wine64)")
        self.server = next((p for p in ("/usr/lib/wine/wineserver", shutil.which("wineserver"))
                            if p and os.access(p, os.X_OK)), "wineserver")
        base = os.environ.get("ORRIN_WINEPREFIX_DIR") or os.path.join(
            os.path.dirname(os.path.dirname(os.path.abspath(exe))), "wine")
        self.base = base
        self.prefix = os.environ.get("WINEPREFIX") or os.path.join(base, "prefix-e2e")

    def env(self, env):
        env = dict(env)
        env.setdefault("WINEDEBUG", "-all")
        env["WINEARCH"] = "win64"
        env["WINEPREFIX"] = self.prefix
        # No Mono or Gecko installers (nothing here needs them, and there is no network for
        # them), and no debugger window on a crash: the process ends and the case fails at once.
        env["WINEDLLOVERRIDES"] = "mscoree,mshtml,winedbg.exe=" + (";" + env["WINEDLLOVERRIDES"] if env.get("WINEDLLOVERRIDES")
                                                      else "")
        return env

    def command(self, args):
        return [self.loader, self.exe, *args]

    def prepare(self, env):
        if self.prefix in Wine._ready:
            return
        env = self.env(env)
        env.pop("DISPLAY", None)  # booting needs no screen
        os.makedirs(self.base, exist_ok=True)
        with open(os.path.join(self.base, "boot.lock"), "w") as lock:
            fcntl.flock(lock, fcntl.LOCK_EX)
            if not os.path.exists(os.path.join(self.prefix, ".booted")):
                shutil.rmtree(self.prefix, ignore_errors=True)
                booted = os.path.join(self.base, "prefix")
                if os.path.exists(os.path.join(booted, ".booted")) and booted != self.prefix:
                    subprocess.run(["cp", "-a", booted, self.prefix], check=True, timeout=120)
                else:
                    subprocess.run([self.loader, "wineboot", "-i"], env=env, stdout=subprocess.DEVNULL,
                                   stderr=subprocess.DEVNULL, check=True, timeout=300)
                    subprocess.run([self.server, "-w"], env=env, check=True, timeout=120)
                open(os.path.join(self.prefix, ".booted"), "w").close()
        # A wineserver left from another run may sit in another network namespace (the
        # tests run in private ones): end it, so ours starts here, and end ours at exit.
        subprocess.run([self.server, "-k"], env=env, stderr=subprocess.DEVNULL, timeout=30)
        atexit.register(subprocess.run, [self.server, "-k"], env=env, stderr=subprocess.DEVNULL, timeout=30)
        Wine._ready.add(self.prefix)


def under_wine(binary):
    return binary.lower().endswith(".exe")


def native_path(binary, path):
    """`path` as the receiver names files: under Wine drive Z: is the Unix root (as `winepath -w`)."""
    return "Z:" + os.path.abspath(path).replace("/", "\\") if under_wine(binary) else path


# Wine's first start in a prefix (its registry, fonts, the wineserver) takes several seconds more.
def start_timeout(binary):
    return 90.0 if under_wine(binary) else 30.0


# The lines that say the cast link and both discovery listeners are up.
SERVING_LINES = ("WebSocket服务器启动成功", "UDP广播监听线程已启动", "TCP发现服务线程已启动")


class Receiver:
    """The binary with stdout and stderr both in one log file, kept as an artifact."""

    def __init__(self, binary, env, log_path, args=()):
        self.log_path = log_path
        self.wine = Wine(binary) if under_wine(binary) else None
        self.start_timeout = start_timeout(binary)
        command = [binary, *args]
        if self.wine is not None:
            self.wine.prepare(env)
            env = self.wine.env(env)
            command = self.wine.command(args)
        self.log_file = open(log_path, "wb")
        # Under Wine the pid is the Windows process itself (the loader execs into it).
        self.process = subprocess.Popen(command, env=env, stdout=self.log_file, stderr=subprocess.STDOUT)

    def log(self):
        with open(self.log_path, "rb") as f:
            # Wine writes CR LF; the drivers split and compare lines as on Linux.
            return f.read().decode("utf-8", "replace").replace("\r\n", "\n")

    def count(self, text):
        return self.log().count(text)

    def wait_log(self, text, timeout=30.0):
        return wait_until(lambda: text in self.log(), timeout)

    def wait_serving(self):
        """Waits for the cast link and discovery; raises with the log if they do not come up."""
        if not wait_until(lambda: all(line in self.log() for line in SERVING_LINES), self.start_timeout):
            raise RuntimeError("the receiver did not start:\n" + self.log())

    def usage(self):
        return Usage(self.process.pid)

    def alive(self):
        return self.process.poll() is None

    def wait_exit(self, timeout=15.0):
        try:
            return self.process.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            return None

    def terminate(self, timeout=15.0):
        """SIGTERM (the orderly close path on Linux; under Wine it just ends the process);
        killed if it does not end in time. Returns the exit code."""
        if self.process.poll() is None:
            self.process.send_signal(signal.SIGTERM)
            if self.wait_exit(timeout) is None:
                self.process.kill()
                self.process.wait()
        self.log_file.close()
        return self.process.returncode

    def stop(self):
        if self.process.poll() is None:
            self.process.kill()
            self.process.wait()
        self.log_file.close()
