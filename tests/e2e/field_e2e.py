#!/usr/bin/python3
"""The receiver and a phone on a Wi-Fi-like link: network namespaces, and a relay of ours
(wifi_relay.py) in the phone's namespace that delays its bytes as Wi-Fi does.

usage: field_e2e.py RECEIVER ORRIN_CAST ARTIFACT_DIR [Class.case ...]

The phone reaches the receiver (10.77.2.1) through the relay on 127.0.0.1:19959 of its own
namespace; a second phone on the other network casts directly. Cutting the link drops every
packet between the two in the receiver's namespace (nftables): no FIN, no RST, as a phone
that walks out of range. Root only: elsewhere "skipped: needs root", exit 77.
"""
import atexit
import os
import signal
import subprocess
import sys
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import lan_e2e  # noqa: E402
from lan_e2e import NET1, NET2, DECODED, LanTest  # noqa: E402
from receiver_process import wait_until  # noqa: E402

RELAY = os.path.join(os.path.dirname(os.path.abspath(__file__)), "wifi_relay.py")
RELAY_PORT = 19959
GONE = "Sender gone, connection closed"
IDLE_PHONE = r'''
import asyncio, sys, websockets
async def main():
    async with websockets.connect("ws://127.0.0.1:%d/", compression=None, ping_interval=None) as ws:
        await ws.send(bytes([0, 0, 0, 0, 1]) + open(sys.argv[1], "rb").read())
        print("sent", flush=True)
        await asyncio.sleep(float(sys.argv[2]))   # idle: the library answers pings by itself
        await asyncio.wait_for(await ws.ping(b"here"), 10)  # the receiver still answers too
        print("still open", flush=True)
asyncio.run(main())
''' % RELAY_PORT


class FieldTest(LanTest):
    PROFILE = "good"

    def setUp(self):
        super().setUp()
        relay = subprocess.Popen(["ip", "netns", "exec", self.lan.q, "/usr/bin/python3", RELAY, "127.0.0.1",
                                  str(RELAY_PORT), NET2[0], "9959", self.PROFILE],
                                 stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
        self.lan.processes.append(relay)
        self.assertEqual(relay.stdout.readline().strip(), "relay ready")

    def cut_link(self):
        """Every packet between the receiver and the phone's network dropped, both ways."""
        rules = (f"table inet fieldcut {{ chain in {{ type filter hook input priority 0; ip saddr {NET2[1]} drop; }} ; "
                 f"chain out {{ type filter hook output priority 0; ip daddr {NET2[1]} drop; }} ; }}")
        self.lan.ns(self.lan.r, "nft", "add " + rules)

    def released_after_cut(self):
        """Casts through the relay, cuts the link mid-cast, and returns the seconds until the
        receiver let the phone go (None when it did not within 30 s)."""
        phone = self.cast(self.lan.q, f"127.0.0.1:{RELAY_PORT}", seconds=60)
        self.assertTrue(self.receiver.wait_log(DECODED, 20))
        time.sleep(1)
        self.cut_link()
        cut = time.monotonic()
        if not self.receiver.wait_log(GONE, 30):
            return None
        released = time.monotonic() - cut
        print(f"released {released:.1f} s after the cut", file=sys.stderr)
        phone.kill()
        return released


class CutLinkTest(FieldTest):
    def test_a_phone_whose_link_is_cut_is_released_and_the_next_phone_casts(self):
        released = self.released_after_cut()
        self.assertIsNotNone(released, self.receiver.log()[-3000:])
        self.assertLess(released, 15)
        self.assertTrue(self.receiver.wait_log("客户端处理线程已退出"))
        before = self.receiver.count(DECODED)
        code, output = self.finished(self.cast(self.lan.p, NET1[0], "--frames", "10"))
        self.assertEqual(code, 0, output)
        self.assertTrue(wait_until(lambda: self.receiver.count(DECODED) >= before + 8, 10))


class CutLinkHoldTest(CutLinkTest):
    RECEIVER_ARGS = ["--hold"]


class IdlePhoneTest(FieldTest):
    SECONDS = float(os.environ.get("FIELD_IDLE_SECONDS", "60"))

    def start_receiver(self, args):
        # A window (SDL's offscreen driver) so the screen-off rule runs.
        saved = lan_e2e.receiver_process.headless_env
        lan_e2e.receiver_process.headless_env = lambda **extra: dict(saved(**extra), SDL_VIDEODRIVER="offscreen")
        try:
            return super().start_receiver(args)
        finally:
            lan_e2e.receiver_process.headless_env = saved

    def test_an_idle_phone_that_answers_pings_stays_with_the_screen_off_screen(self):
        picture = os.path.join(lan_e2e.ARTIFACTS, "idle-phone.jpg")
        subprocess.run(["convert", "-size", "64x48", "xc:gray", picture], check=True)
        phone = subprocess.Popen(["ip", "netns", "exec", self.lan.q, "/usr/bin/python3", "-c", IDLE_PHONE, picture,
                                  str(self.SECONDS)], stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
        self.lan.processes.append(phone)
        self.assertTrue(self.receiver.wait_log("WebSocket握手成功", 20))
        self.assertTrue(self.receiver.wait_log("投屏设备可能已息屏，进入等待状态", 10), self.receiver.log()[-2000:])
        output, _ = phone.communicate(timeout=self.SECONDS + 30)
        self.assertEqual(phone.returncode, 0, output)
        self.assertIn("still open", output)
        self.assertNotIn(GONE, self.receiver.log())
        self.assertEqual(self.receiver.count("投屏设备可能已息屏"), 1)  # screen off the whole time


def main():
    if os.geteuid() != 0:
        print("skipped: needs root (network namespaces, nftables)")
        return 77
    lan_e2e.RECEIVER, lan_e2e.CAST, lan_e2e.ARTIFACTS = (os.path.abspath(a) for a in sys.argv[1:4])
    atexit.register(lan_e2e.close_live_lans)
    for signum in (signal.SIGTERM, signal.SIGINT, signal.SIGHUP):
        signal.signal(signum, lan_e2e.close_live_lans_and_exit)
    os.makedirs(lan_e2e.ARTIFACTS, exist_ok=True)
    names = sys.argv[4:]
    suite = (unittest.defaultTestLoader.loadTestsFromNames(names, sys.modules[__name__]) if names
             else unittest.defaultTestLoader.loadTestsFromModule(sys.modules[__name__]))
    result = unittest.TextTestRunner(verbosity=2).run(suite)
    return 0 if result.wasSuccessful() else 1


if __name__ == "__main__":
    sys.exit(main())
