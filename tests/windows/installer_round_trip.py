#!/usr/bin/python3
"""The Windows installer's round trip under Wine, as a person on Windows would take it.

    installer_round_trip.py <setup.exe> <the zip's folder> <orrin-cast (Linux)> <work dir>

In a fresh Wine prefix (a copy of the booted one that no other test has used, else a new
one): install silently (/S), check the files against the zip's folder, the Start-menu
shortcuts and the uninstall entry; start the installed receiver on a private X server and
cast to it with our Linux sender; uninstall silently and check that nothing of Orrin is
left in the prefix: no file, no shortcut, no registry key.
"""
import os
import shutil
import subprocess
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "e2e"))
import receiver_process  # noqa: E402
from receiver_process import wait_until  # noqa: E402
from x11_session import Xvfb  # noqa: E402

SETUP = STAGE = CAST = WORK = ""
UNINSTALL_KEY = r"HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Orrin"
PROGRAMS = ("orrin-receiver.exe", "orrin-cast.exe")


def tree(root):
    """Every path under `root`, relative to it (lower case: Windows does not tell case apart)."""
    found = set()
    for directory, dirs, files in os.walk(root):
        for name in dirs + files:
            found.add(os.path.relpath(os.path.join(directory, name), root).lower())
    return found


class InstallerRoundTrip(unittest.TestCase):
    def setUp(self):
        self.wine = receiver_process.Wine(os.path.join(WORK, "unused.exe"))
        os.makedirs(WORK, exist_ok=True)
        self.prefix = tempfile.mkdtemp(prefix="prefix-install-", dir=WORK)
        os.rmdir(self.prefix)
        booted = os.path.join(self.wine.base, "prefix")
        if os.path.exists(os.path.join(booted, ".booted")):
            subprocess.run(["cp", "-a", booted, self.prefix], check=True, timeout=120)
        self.wine.prefix = self.prefix
        # Wine's menu builder would copy the shortcuts into this machine's own menus.
        self.env = self.wine.env(dict(os.environ, WINEDLLOVERRIDES="winemenubuilder.exe=d"))
        self.env.pop("DISPLAY", None)
        if not os.path.exists(os.path.join(self.prefix, ".booted")):
            self.run_wine("wineboot", "-i")
            open(os.path.join(self.prefix, ".booted"), "w").close()
        self.wait_for_wine()
        self.drive = os.path.join(self.prefix, "drive_c")
        self.install_dir = os.path.join(self.drive, "Program Files", "Orrin")
        self.menu = os.path.join(self.drive, "ProgramData", "Microsoft", "Windows", "Start Menu", "Programs", "Orrin")

    def tearDown(self):
        subprocess.run([self.wine.server, "-k"], env=self.env, stderr=subprocess.DEVNULL, timeout=30)
        shutil.rmtree(self.prefix, ignore_errors=True)

    def run_wine(self, *args, timeout=180):
        return subprocess.run([self.wine.loader, *args], env=self.env, capture_output=True, timeout=timeout)

    def wait_for_wine(self):
        """Until every process of the prefix has ended (an uninstaller goes on in a copy of
        itself) and the registry is on disk."""
        subprocess.run([self.wine.server, "-w"], env=self.env, timeout=180, check=True)

    def uninstall_entry(self, value):
        result = self.run_wine("reg", "query", UNINSTALL_KEY, "/v", value)
        if result.returncode != 0:
            return None
        for line in result.stdout.decode("utf-8", "replace").splitlines():
            parts = line.split(None, 2)
            if len(parts) == 3 and parts[0] == value:
                return parts[2].strip()
        return None

    def test_install_cast_uninstall(self):
        before = tree(self.drive)

        # Install, silently.
        result = self.run_wine(SETUP, "/S")
        self.assertEqual(result.returncode, 0, result.stderr.decode("utf-8", "replace"))
        self.wait_for_wine()
        for name in PROGRAMS + ("README.txt",):
            with open(os.path.join(self.install_dir, name), "rb") as got, open(os.path.join(STAGE, name), "rb") as want:
                self.assertEqual(got.read(), want.read(), name)
        self.assertTrue(os.path.isfile(os.path.join(self.install_dir, "uninstall.exe")))
        licences = sorted(os.listdir(os.path.join(STAGE, "licences")))
        self.assertEqual(sorted(os.listdir(os.path.join(self.install_dir, "licences"))), licences)
        self.assertEqual({name.lower() for name in os.listdir(self.menu)},
                         {"orrin receiver.lnk", "uninstall orrin.lnk"})
        with open(os.path.join(self.menu, "Orrin Receiver.lnk"), "rb") as link:
            target = link.read().lower()  # the link names its target in ANSI or UTF-16
        self.assertTrue(b"orrin-receiver.exe" in target or "orrin-receiver.exe".encode("utf-16-le") in target)
        self.assertTrue((self.uninstall_entry("DisplayName") or "").startswith("Orrin "))
        self.assertEqual(self.uninstall_entry("UninstallString"), '"C:\\Program Files\\Orrin\\uninstall.exe"')
        self.assertEqual(self.uninstall_entry("InstallLocation"), "C:\\Program Files\\Orrin")

        # The installed receiver, started from where the installer put it, takes a cast.
        self.cast_to_the_installed_receiver()

        # Uninstall, silently: nothing of Orrin is left.
        result = self.run_wine(os.path.join(self.install_dir, "uninstall.exe"), "/S")
        self.assertEqual(result.returncode, 0, result.stderr.decode("utf-8", "replace"))
        self.wait_for_wine()
        left = sorted(path for path in tree(self.drive) - before if "orrin" in path)
        self.assertEqual(left, [], "left behind in C:")
        self.assertFalse(os.path.exists(self.install_dir))
        self.assertFalse(os.path.exists(self.menu))
        self.assertIsNone(self.uninstall_entry("DisplayName"), "the uninstall entry is still there")

    def cast_to_the_installed_receiver(self):
        x = Xvfb()
        receiver = None
        try:
            os.environ["WINEPREFIX"] = self.prefix  # the receiver's Wine finds this prefix
            env = dict(self.env, DISPLAY=x.display)
            receiver = receiver_process.Receiver(os.path.join(self.install_dir, "orrin-receiver.exe"), env,
                                                 os.path.join(WORK, "installed-receiver.log"), ["--verbose"])
            receiver.wait_serving()
            sender = subprocess.run([CAST, "127.0.0.1", "--quiet", "--pattern", "640x360", "--fps", "20", "--frames",
                                     "40"], capture_output=True, text=True, timeout=120)
            self.assertEqual(sender.returncode, 0, sender.stderr)
            self.assertTrue(wait_until(lambda: receiver.count("Successfully created HBITMAP") >= 20, timeout=30),
                            receiver.log())
        finally:
            if receiver is not None:
                receiver.terminate()
            x.close()
            os.environ.pop("WINEPREFIX", None)
        self.wait_for_wine()


if __name__ == "__main__":
    SETUP, STAGE, CAST, WORK = (os.path.abspath(a) for a in sys.argv[1:5])
    unittest.main(argv=[sys.argv[0]] + sys.argv[5:], verbosity=2)
