"""The real orrin-receiver as a child process, for the end-to-end drivers (/usr/bin/python3)."""
import signal
import subprocess
import time


def wait_until(condition, timeout=10.0, step=0.05):
    """Polls `condition` until it gives a true value or `timeout` seconds pass; returns its last value."""
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        value = condition()
        if value:
            return value
        time.sleep(step)
    return condition()


class Receiver:
    """The binary with stdout and stderr both in one log file, kept as an artifact."""

    def __init__(self, binary, env, log_path, args=()):
        self.log_path = log_path
        self.log_file = open(log_path, "wb")
        self.process = subprocess.Popen([binary, *args], env=env, stdout=self.log_file, stderr=subprocess.STDOUT)

    def log(self):
        with open(self.log_path, "rb") as f:
            return f.read().decode("utf-8", "replace")

    def wait_log(self, text, timeout=10.0):
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
