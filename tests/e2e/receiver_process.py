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


class Receiver:
    """The binary with stdout and stderr both in one log file, kept as an artifact."""

    def __init__(self, binary, env, log_path, args=()):
        self.log_path = log_path
        self.log_file = open(log_path, "wb")
        self.process = subprocess.Popen([binary, *args], env=env, stdout=self.log_file, stderr=subprocess.STDOUT)

    def log(self):
        with open(self.log_path, "rb") as f:
            return f.read().decode("utf-8", "replace")

    def wait_log(self, text, timeout=30.0):
        return wait_until(lambda: text in self.log(), timeout)

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
