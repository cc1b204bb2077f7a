"""The real orrin-receiver as a child process, for the end-to-end drivers (/usr/bin/python3)."""
import os
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


# The lines that say the cast link and both discovery listeners are up.
SERVING_LINES = ("WebSocket服务器启动成功", "UDP广播监听线程已启动", "TCP发现服务线程已启动")


class Receiver:
    """The binary with stdout and stderr both in one log file, kept as an artifact."""

    def __init__(self, binary, env, log_path, args=()):
        self.log_path = log_path
        self.log_file = open(log_path, "wb")
        self.process = subprocess.Popen([binary, *args], env=env, stdout=self.log_file, stderr=subprocess.STDOUT)

    def log(self):
        with open(self.log_path, "rb") as f:
            return f.read().decode("utf-8", "replace")

    def count(self, text):
        return self.log().count(text)

    def wait_log(self, text, timeout=30.0):
        return wait_until(lambda: text in self.log(), timeout)

    def wait_serving(self):
        """Waits for the cast link and discovery; raises with the log if they do not come up."""
        if not wait_until(lambda: all(line in self.log() for line in SERVING_LINES)):
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
        """SIGTERM (the orderly close path); killed if it does not end in time. Returns the exit code."""
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
