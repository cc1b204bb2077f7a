#!/usr/bin/python3
"""`cmake --install` into a temporary prefix, then the distribution's own checks on what it put there.

Run by CTest:  install_test.py <build dir> <artifact dir>
The installed file list and every validator's output are kept in the artifact directory.
"""
import configparser
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import unittest

BUILD = ""
ARTIFACTS = ""

ICON_SIZES = (16, 22, 24, 32, 48, 64, 128, 256)
EXPECTED = {
    "bin/orrin-receiver", "bin/orrin-cast",
    "share/applications/orrin-receiver.desktop",
    "share/metainfo/org.orrin.receiver.metainfo.xml",
    "share/icons/hicolor/scalable/apps/orrin-receiver.svg",
    "share/man/man1/orrin-receiver.1.gz", "share/man/man1/orrin-cast.1.gz",
    "lib/systemd/user/orrin-receiver.service",
    "lib/firewalld/services/orrin-receiver.xml",
    "etc/ufw/applications.d/orrin-receiver",
    "share/doc/orrin/copyright", "share/doc/orrin/changelog.gz",
} | {f"share/icons/hicolor/{n}x{n}/apps/orrin-receiver.png" for n in ICON_SIZES}
PORTS = {"9959/tcp", "8888/udp", "8889/tcp"}


class InstallTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.prefix = tempfile.mkdtemp(prefix="orrin-install-")
        subprocess.run(["cmake", "--install", BUILD, "--prefix", cls.prefix], check=True, capture_output=True)
        cls.files = sorted(os.path.relpath(os.path.join(d, f), cls.prefix)
                           for d, _, names in os.walk(cls.prefix) for f in names)
        with open(os.path.join(ARTIFACTS, "installed-files.txt"), "w") as out:
            out.write("\n".join(cls.files) + "\n")
        cls.report = open(os.path.join(ARTIFACTS, "validators.txt"), "w")

    @classmethod
    def tearDownClass(cls):
        cls.report.close()
        shutil.rmtree(cls.prefix)

    def path(self, relative):
        return os.path.join(self.prefix, relative)

    def validate(self, *command, env=None):
        """Runs a validator; it must exist, succeed and say nothing but its success line."""
        self.assertIsNotNone(shutil.which(command[0]), command[0] + " is not installed (scripts/setup-deps.sh)")
        result = subprocess.run(list(command), capture_output=True, text=True, timeout=60,
                                env=dict(os.environ, **(env or {})))
        output = (result.stdout + result.stderr).strip()
        self.report.write(f"$ {' '.join(os.path.relpath(c, self.prefix) if c.startswith(self.prefix) else c for c in command)}"
                          f"\n{output}\n(exit {result.returncode})\n\n")
        self.report.flush()
        self.assertEqual(result.returncode, 0, output)
        return output

    def test_every_file_in_its_place(self):
        self.assertEqual(set(self.files), EXPECTED)
        for program in ("bin/orrin-receiver", "bin/orrin-cast"):
            self.assertTrue(os.access(self.path(program), os.X_OK))

    def test_launcher_and_appstream_data_pass_their_validators(self):
        desktop = self.path("share/applications/orrin-receiver.desktop")
        self.assertEqual(self.validate("desktop-file-validate", desktop), "")  # not even a hint
        entry = configparser.ConfigParser(interpolation=None)
        entry.optionxform = str
        entry.read(desktop, encoding="utf-8")
        self.assertEqual(entry["Desktop Entry"]["Name[zh_CN]"], "Tavoli网投屏接受客户端")
        self.assertEqual(entry["Desktop Entry"]["Exec"], "orrin-receiver --quiet")
        self.assertIn("Video", entry["Desktop Entry"]["Categories"].split(";"))
        output = self.validate("appstreamcli", "validate", "--no-net", "--pedantic",
                               self.path("share/metainfo/org.orrin.receiver.metainfo.xml"))
        self.assertIn("Validation was successful", output)
        self.assertNotIn("pedantic", output)

    def test_user_service_passes_systemd_analyze_and_starts_the_installed_program(self):
        unit = self.path("lib/systemd/user/orrin-receiver.service")
        # The unit's Documentation= names the manual page: let man find the installed one.
        self.assertEqual(self.validate("systemd-analyze", "verify", unit, env={"MANPATH": self.path("share/man")}), "")
        with open(unit) as f:
            self.assertIn(f"ExecStart={self.path('bin/orrin-receiver')} --quiet\n", f.read())

    def test_manual_pages_render_without_warnings(self):
        for page in ("orrin-receiver", "orrin-cast"):
            result = subprocess.run(["man", "--warnings", "-l", self.path(f"share/man/man1/{page}.1.gz")],
                                    capture_output=True, text=True, env=dict(os.environ, MANWIDTH="80"), timeout=60)
            self.report.write(f"$ man --warnings -l {page}.1.gz\n(stderr: {result.stderr.strip() or 'none'})\n\n")
            self.assertEqual(result.returncode, 0)
            self.assertEqual(result.stderr, "")
            self.assertIn("EXIT STATUS", result.stdout)

    def test_firewall_profiles_open_the_three_ports(self):
        firewalld = self.path("lib/firewalld/services/orrin-receiver.xml")
        self.validate("xmllint", "--noout", firewalld)
        import xml.etree.ElementTree as ET
        ports = {f"{p.get('port')}/{p.get('protocol')}" for p in ET.parse(firewalld).getroot().iter("port")}
        self.assertEqual(ports, PORTS)
        ufw = configparser.ConfigParser(interpolation=None)
        ufw.read(self.path("etc/ufw/applications.d/orrin-receiver"))
        self.assertEqual(set(ufw["Orrin Receiver"]["ports"].split("|")), PORTS)
        self.assertTrue(ufw["Orrin Receiver"]["title"])

    def test_icons_have_their_sizes(self):
        for n in ICON_SIZES:
            with open(self.path(f"share/icons/hicolor/{n}x{n}/apps/orrin-receiver.png"), "rb") as f:
                head = f.read(24)
            self.assertEqual(head[:8], b"\x89PNG\r\n\x1a\n")
            self.assertEqual(struct.unpack(">II", head[16:24]), (n, n))
        self.validate("xmllint", "--noout", self.path("share/icons/hicolor/scalable/apps/orrin-receiver.svg"))

    def test_installed_programs_tell_their_version(self):
        for program in ("orrin-receiver", "orrin-cast"):
            output = subprocess.run([self.path("bin/" + program), "--version"], capture_output=True, text=True,
                                    check=True, timeout=30).stdout
            self.report.write(f"$ {program} --version\n{output}\n")
            self.assertRegex(output, rf"^{program} \d+\.\d+\.\d+( \(.+\))?\n$")


if __name__ == "__main__":
    BUILD = sys.argv[1]
    ARTIFACTS = sys.argv[2]
    os.makedirs(ARTIFACTS, exist_ok=True)
    unittest.main(argv=[sys.argv[0]] + sys.argv[3:], verbosity=2)
