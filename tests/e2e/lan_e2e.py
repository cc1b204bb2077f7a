#!/usr/bin/python3
"""The real orrin-receiver on a LAN in a box: network namespaces joined by veth pairs.

usage: lan_e2e.py RECEIVER ORRIN_CAST ARTIFACT_DIR [Class.case ...]

The receiver runs in a namespace of its own with two networks, 10.77.1.0/24 (the phone's)
and 10.77.2.0/24 (a second phone's, or a stranger's), whose addresses exist only inside the
namespaces made here. Its /etc/hosts (through /etc/netns) maps the host name to 127.0.1.1,
as stock Debian does. Needs root for the namespaces: elsewhere it says "skipped: needs root"
and exits 77, which CTest reports as skipped.
"""
import atexit
import ctypes
import os
import secrets
import shutil
import signal
import socket
import struct
import subprocess
import sys
import threading
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "robust"))
import receiver_process  # noqa: E402
from receiver_process import wait_until  # noqa: E402
from hostile_e2e import handshake_request  # noqa: E402

RECEIVER = CAST = ARTIFACTS = ""
WS_PORT, UDP_PORT, TCP_PORT = 9959, 8888, 8889
PROBE = b"MIRALUX_DISCOVERY"
DECODED = "Successfully created HBITMAP"
ANSWER_LINE = "发送UDP发现响应到: "
CLONE_NEWNET = 0x40000000
LIBC = ctypes.CDLL(None, use_errno=True)

# Our side of each network and the host on the other side.
NET1 = ("10.77.1.1", "10.77.1.2", "10.77.1.255")
NET2 = ("10.77.2.1", "10.77.2.2", "10.77.2.255")


def run(*command, check=True):
    return subprocess.run(command, check=check, capture_output=True, text=True)


def in_namespace(name, work):
    """Runs `work` on a thread that has entered namespace `name`; sockets made there stay there."""
    outcome = {}

    def body():
        fd = os.open(f"/var/run/netns/{name}", os.O_RDONLY)
        try:
            if LIBC.setns(fd, CLONE_NEWNET) != 0:
                raise OSError(ctypes.get_errno(), "setns")
            outcome["value"] = work()
        except BaseException as error:  # handed to the caller
            outcome["error"] = error
        finally:
            os.close(fd)
    thread = threading.Thread(target=body)
    thread.start()
    thread.join()
    if "error" in outcome:
        raise outcome["error"]
    return outcome["value"]


def udp_socket(ns, port=0, broadcast=False):
    def make():
        s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        if broadcast:
            s.setsockopt(socket.SOL_SOCKET, socket.SO_BROADCAST, 1)
        s.bind(("0.0.0.0", port))
        return s
    return in_namespace(ns, make)


def tcp_connect(ns, address, port, timeout=10.0):
    return in_namespace(ns, lambda: socket.create_connection((address, port), timeout=timeout))


def answers(s, wait=1.5):
    """Every datagram that reaches `s` within `wait` seconds (from the first one on, 0.5 s of quiet ends it)."""
    got = []
    s.settimeout(wait)
    try:
        while True:
            data, source = s.recvfrom(4096)
            got.append((data.decode("utf-8", "replace"), source))
            s.settimeout(0.5)
    except (socket.timeout, ConnectionRefusedError):
        pass
    return got


def ip_field(answer):
    return dict(field.split("=", 1) for field in answer.split(":", 1)[1].split(";"))["IP"]


def closed_without_data(s, timeout=5.0):
    s.settimeout(timeout)
    try:
        return s.recv(4096) == b""
    except ConnectionResetError:
        return True
    except socket.timeout:
        return False


def spoofed_datagram(source, source_port, destination, payload):
    """An IPv4 header and a UDP header by hand: the source is whatever we say it is."""
    udp = struct.pack("!HHHH", source_port, UDP_PORT, 8 + len(payload), 0) + payload  # checksum 0: none
    header = struct.pack("!BBHHHBBH4s4s", 0x45, 0, 20 + len(udp), 0, 0, 64, socket.IPPROTO_UDP, 0,
                         socket.inet_aton(source), socket.inet_aton(destination))
    return header + udp  # the kernel fills in the header checksum


# Every Lan still standing, so that a run ended by a signal (CTest's time-out) or an error
# outside a test still removes its namespaces and /etc/netns entries.
LIVE_LANS = set()


def close_live_lans(*_):
    for lan in list(LIVE_LANS):
        lan.close()


def close_live_lans_and_exit(signum, _frame):
    close_live_lans()
    os._exit(128 + signum)


class Lan:
    """Three namespaces: the receiver's (r) with two veth links, a phone's (p) on the first and
    another host's (q) on the second. Names are unique per run; everything goes in `close`."""

    def __init__(self, hosts_maps_name=True, silent_dns=False):
        tag = secrets.token_hex(3)
        self.r, self.p, self.q = (f"orrin-{role}-{tag}" for role in "rpq")
        self.etc = f"/etc/netns/{self.r}"
        self.made = []
        self.processes = []  # started inside the namespaces; killed before they go
        LIVE_LANS.add(self)
        try:
            for ns in (self.r, self.p, self.q):
                run("ip", "netns", "add", ns)
                self.made.append(ns)
                self.ns(ns, "ip", "link", "set", "lo", "up")
            # The second network first: interface order alone would then pick it, and the
            # default route (on the first) has to win.
            self.link(self.q, f"vr2{tag}", f"vq2{tag}", NET2)
            self.link(self.p, f"vr1{tag}", f"vp1{tag}", NET1)
            self.ns(self.r, "ip", "route", "add", "default", "via", NET1[1])
            self.ns(self.p, "ip", "route", "add", "default", "dev", f"vp1{tag}")
            self.ns(self.q, "ip", "route", "add", "default", "dev", f"vq2{tag}")
            os.makedirs(self.etc, exist_ok=True)
            hostname = socket.gethostname()
            with open(os.path.join(self.etc, "hosts"), "w") as f:
                f.write("127.0.0.1 localhost\n" + (f"127.0.1.1 {hostname}\n" if hosts_maps_name else ""))
            if silent_dns:
                # A name server on the phone's network that never answers (no such host).
                with open(os.path.join(self.etc, "resolv.conf"), "w") as f:
                    f.write("nameserver 10.77.1.53\noptions timeout:2 attempts:2\n")
        except BaseException:
            self.close()
            raise

    def ns(self, name, *command):
        return run("ip", "netns", "exec", name, *command)

    def link(self, other, ours, theirs, net):
        run("ip", "link", "add", ours, "type", "veth", "peer", "name", theirs)
        run("ip", "link", "set", ours, "netns", self.r)
        run("ip", "link", "set", theirs, "netns", other)
        self.ns(self.r, "ip", "addr", "add", net[0] + "/24", "dev", ours)
        self.ns(self.r, "ip", "link", "set", ours, "up")
        self.ns(other, "ip", "addr", "add", net[1] + "/24", "dev", theirs)
        self.ns(other, "ip", "link", "set", theirs, "up")

    def close(self):
        for process in self.processes:
            if process.poll() is None:
                process.kill()
                process.wait()
        for ns in reversed(self.made):
            run("ip", "netns", "del", ns, check=False)  # takes its veth ends with it
        self.made = []
        shutil.rmtree(self.etc, ignore_errors=True)
        LIVE_LANS.discard(self)


class LanTest(unittest.TestCase):
    RECEIVER_ARGS = []
    LAN_OPTIONS = {}

    def setUp(self):
        self.lan = Lan(**self.LAN_OPTIONS)
        self.addCleanup(self.lan.close)
        self.receiver = self.start_receiver(self.RECEIVER_ARGS)

    def start_receiver(self, args):
        env = receiver_process.headless_env(SDL_AUDIODRIVER="disk", SDL_DISKAUDIOFILE="/dev/null")
        binary = ["ip", "netns", "exec", self.lan.r, RECEIVER]
        # Class and case: cases of one name in two classes may run at once.
        log = os.path.join(ARTIFACTS, "lan-" + "-".join(self.id().split(".")[-2:]) + ".log")
        # --verbose: every decoded picture has its line, and the cases count them.
        receiver = receiver_process.Receiver(binary[0], env, log, args=[*binary[1:], "--verbose", *args])
        self.lan.processes.append(receiver.process)
        self.addCleanup(receiver.terminate)
        receiver.wait_serving()
        return receiver

    def cast(self, ns, address, *extra, seconds=6):
        """orrin-cast from namespace `ns`: a moving test picture at 10 per second, for `seconds`
        unless `extra` says --frames."""
        length = [] if "--frames" in extra else ["--duration", str(seconds)]
        process = subprocess.Popen(["ip", "netns", "exec", ns, CAST, address, "--pattern", "320x240", "--fps", "10",
                                    *length, "--quiet", *extra],
                                   stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
        self.lan.processes.append(process)
        return process

    def finished(self, process, timeout=60):
        output, _ = process.communicate(timeout=timeout)
        return process.returncode, output

    def udp_probe(self, ns, destination, broadcast=False):
        s = udp_socket(ns, broadcast=broadcast)
        with s:
            s.sendto(PROBE, (destination, UDP_PORT))
            return answers(s)

    def tcp_probe(self, ns, address):
        with tcp_connect(ns, address, TCP_PORT) as s:
            s.sendall(PROBE)
            s.settimeout(5)
            data = b""
            while chunk := s.recv(4096):
                data += chunk
            return data.decode("utf-8", "replace")


class AddressTest(LanTest):
    def test_probes_are_answered_with_the_address_on_the_phones_network(self):
        for ns, (ours, _, subnet) in ((self.lan.p, NET1), (self.lan.q, NET2)):
            for destination in ("255.255.255.255", subnet, ours):
                got = self.udp_probe(ns, destination, broadcast=True)
                self.assertEqual(len(got), 1, (destination, got))
                self.assertEqual(ip_field(got[0][0]), ours, destination)
                self.assertEqual(got[0][1], (ours, UDP_PORT))
            self.assertEqual(ip_field(self.tcp_probe(ns, ours)), ours)

    def test_the_start_up_log_names_the_default_route_address(self):
        self.assertTrue(self.receiver.wait_log("投屏接收端已启动"))
        line = [l for l in self.receiver.log().splitlines() if "投屏接收端已启动" in l][0]
        self.assertIn("IP地址: " + NET1[0] + "，", line)

    def test_a_phone_on_the_lan_casts_to_the_address_it_was_told(self):
        told = ip_field(self.udp_probe(self.lan.p, "255.255.255.255", broadcast=True)[0][0])
        code, output = self.finished(self.cast(self.lan.p, told, "--frames", "10"))
        self.assertEqual(code, 0, output)
        self.assertTrue(wait_until(lambda: self.receiver.count(DECODED) >= 8, 10))


class SilentResolverTest(LanTest):
    """Host name not in /etc/hosts and a name server that never answers."""
    LAN_OPTIONS = {"hosts_maps_name": False, "silent_dns": True}

    def test_answers_do_not_wait_for_the_resolver(self):
        for _ in range(3):
            s = udp_socket(self.lan.p)
            with s:
                start = time.monotonic()
                s.sendto(PROBE, (NET1[0], UDP_PORT))
                s.settimeout(20)
                data, _ = s.recvfrom(4096)
                waited = time.monotonic() - start
            print(f"answer after {waited:.2f} s", file=sys.stderr)
            self.assertEqual(ip_field(data.decode()), NET1[0])
            # The name server's time-out is 2 s a try; a loaded machine still answers in far less.
            self.assertLess(waited, 1.5)


class Stranger(threading.Thread):
    """A host that knocks on port 9959 every 100–300 ms: silent connects, HTTP GETs and half
    handshakes, each held open a little and then dropped."""

    def __init__(self, ns, address):
        super().__init__(daemon=True)
        self.ns, self.address = ns, address
        self.stop = threading.Event()
        self.knocks = 0

    def run(self):
        held = []
        kinds = (b"", b"GET / HTTP/1.1\r\nHost: receiver\r\n\r\n", handshake_request()[:60])
        while not self.stop.is_set():
            try:
                s = tcp_connect(self.ns, self.address, WS_PORT, timeout=2)
                if kinds[self.knocks % 3]:
                    s.sendall(kinds[self.knocks % 3])
                held.append(s)
                self.knocks += 1
            except OSError:
                pass
            while len(held) > 3:
                held.pop(0).close()
            self.stop.wait(0.1 + (self.knocks % 3) * 0.1)
        for s in held:
            s.close()


class StrangerTest(LanTest):
    def test_knocks_during_a_cast_do_not_end_it(self):
        stranger = Stranger(self.lan.q, NET2[0])
        phone = self.cast(self.lan.p, NET1[0], seconds=6)
        self.assertTrue(self.receiver.wait_log("WebSocket握手成功"))
        stranger.start()
        code, output = self.finished(phone)
        stranger.stop.set()
        stranger.join()
        self.assertEqual(code, 0, output)  # 5 would be "connection lost"
        self.assertGreaterEqual(stranger.knocks, 15)
        # About 60 pictures went out; a loaded machine may drop some at the 20 ms throttle,
        # but a cast cut after two pictures is far below this.
        self.assertGreaterEqual(self.receiver.count(DECODED), 30)
        self.assertEqual(self.receiver.count("WebSocket握手成功"), 1)

    def test_a_second_phone_that_completes_its_handshake_takes_over(self):
        first = self.cast(self.lan.p, NET1[0], seconds=30)
        self.assertTrue(self.receiver.wait_log(DECODED))
        second = self.cast(self.lan.q, NET2[0], "--frames", "10")
        code, output = self.finished(first)
        self.assertEqual(code, 5, output)  # connection lost: replaced
        code, output = self.finished(second)
        self.assertEqual(code, 0, output)
        self.assertEqual(self.receiver.count("WebSocket握手成功"), 2)


class PendingLimitTest(LanTest):
    def test_only_a_few_handshakes_wait_and_the_oldest_goes_first(self):
        phone = self.cast(self.lan.p, NET1[0], seconds=6)
        self.assertTrue(self.receiver.wait_log(DECODED))
        silent = [tcp_connect(self.lan.q, NET2[0], WS_PORT) for _ in range(8)]
        # The first four are closed, oldest first, as newer ones arrive; the last four wait.
        self.assertTrue(all(closed_without_data(s, 10) for s in silent[:4]))
        for s in silent[4:]:
            s.settimeout(0.3)
            self.assertRaises(socket.timeout, s.recv, 1)
        code, output = self.finished(phone)
        self.assertEqual(code, 0, output)
        for s in silent:
            s.close()


class HoldTest(LanTest):
    RECEIVER_ARGS = ["--hold"]

    def test_a_newcomer_is_refused_while_the_phone_casts(self):
        phone = self.cast(self.lan.p, NET1[0], seconds=6)
        self.assertTrue(self.receiver.wait_log(DECODED))
        for _ in range(3):
            with tcp_connect(self.lan.q, NET2[0], WS_PORT) as s:
                s.sendall(handshake_request())
                s.settimeout(5)
                received = b""
                while chunk := s.recv(4096):
                    received += chunk
                head, _, rest = received.partition(b"\r\n\r\n")
                self.assertTrue(head.startswith(b"HTTP/1.1 101"), head)
                # One unmasked close frame: status 1013 and its reason, then the connection ends.
                self.assertEqual(rest, b"\x88\x11" + struct.pack(">H", 1013) + b"try again later")
        code, output = self.finished(phone)
        self.assertEqual(code, 0, output)
        # One line for the first refusal of a source, then every 100th.
        self.assertEqual(self.receiver.count("Sender refused, another one is casting: " + NET2[1]), 1)
        # Once the phone is done the next sender is taken.
        code, output = self.finished(self.cast(self.lan.q, NET2[0], "--frames", "3"))
        self.assertEqual(code, 0, output)


class AllowTest(LanTest):
    RECEIVER_ARGS = ["--allow", "10.77.1.0/24,192.168.0.0/16"]

    def test_only_the_allowed_network_is_answered_and_served(self):
        self.assertEqual(len(self.udp_probe(self.lan.p, NET1[0])), 1)
        self.assertEqual(self.udp_probe(self.lan.q, NET2[0]), [])
        self.assertEqual(self.udp_probe(self.lan.q, "255.255.255.255", broadcast=True), [])
        with tcp_connect(self.lan.q, NET2[0], TCP_PORT) as s:
            s.sendall(PROBE)
            self.assertTrue(closed_without_data(s))
        phone = self.cast(self.lan.p, NET1[0], seconds=4)
        self.assertTrue(self.receiver.wait_log(DECODED))
        for _ in range(40):
            with tcp_connect(self.lan.q, NET2[0], WS_PORT) as s:
                s.sendall(handshake_request())
                self.assertTrue(closed_without_data(s))
        code, output = self.finished(phone)
        self.assertEqual(code, 0, output)
        log = self.receiver.log()
        self.assertNotIn("客户端连接: " + NET2[1], log)
        refused = [l for l in log.splitlines() if "Connection from outside the allowed networks closed" in l]
        self.assertGreaterEqual(len(refused), 1)
        self.assertLessEqual(len(refused), 5)  # thinned: 40 WebSocket knocks and a few probes


class DiscoveryAbuseTest(LanTest):
    def spoof(self, source, destination, source_port=40000, count=1):
        def send():
            with socket.socket(socket.AF_INET, socket.SOCK_RAW, socket.IPPROTO_RAW) as raw:
                raw.setsockopt(socket.SOL_SOCKET, socket.SO_BROADCAST, 1)
                for _ in range(count):
                    raw.sendto(spoofed_datagram(source, source_port, destination, PROBE), (destination, 0))
        in_namespace(self.lan.p, send)

    def test_a_spoofed_broadcast_source_is_not_answered(self):
        # Whoever listens on the phone's network would get the answer if one were sent.
        listener = udp_socket(self.lan.p, port=40000, broadcast=True)
        with listener:
            self.spoof(NET1[2], "255.255.255.255")  # to ff:ff:ff:ff:ff:ff, from the subnet broadcast
            self.spoof(NET1[2], NET1[0])
            self.spoof("224.0.0.1", NET1[0])
            self.assertEqual(answers(listener), [])
        self.assertNotIn(ANSWER_LINE + NET1[2], self.receiver.log())
        # A privileged source port (echo, chargen, DNS…) is not answered either.
        low = udp_socket(self.lan.p, port=999)
        with low:
            low.sendto(PROBE, (NET1[0], UDP_PORT))
            self.assertEqual(answers(low), [])
        self.assertEqual(len(self.udp_probe(self.lan.p, NET1[0])), 1)

    def test_a_probe_flood_gets_few_answers_and_few_lines(self):
        s = udp_socket(self.lan.p)
        with s:
            s.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 1 << 22)
            start = time.monotonic()
            for _ in range(2000):
                s.sendto(PROBE, (NET1[0], UDP_PORT))
            took = time.monotonic() - start
            got = answers(s)
        self.assertGreaterEqual(len(got), 1)
        self.assertLessEqual(len(got), 5 + 5 * (took + 2))
        lines = self.receiver.count(ANSWER_LINE)
        self.assertLessEqual(lines, 10)
        print(f"flood: 2000 probes in {took:.2f} s, {len(got)} answers, {lines} answer lines", file=sys.stderr)
        # Another host on the same network is served as usual meanwhile.
        self.assertEqual(len(self.udp_probe(self.lan.q, NET2[0])), 1)


def main():
    global RECEIVER, CAST, ARTIFACTS
    if os.geteuid() != 0:
        print("skipped: needs root")
        return 77
    if shutil.which("ip") is None or run("ip", "netns", "list", check=False).returncode != 0:
        print("skipped: needs network namespaces (iproute2's ip netns)")
        return 77
    RECEIVER, CAST, ARTIFACTS = (os.path.abspath(a) for a in sys.argv[1:4])
    atexit.register(close_live_lans)
    for signum in (signal.SIGTERM, signal.SIGINT, signal.SIGHUP):
        signal.signal(signum, close_live_lans_and_exit)
    os.makedirs(ARTIFACTS, exist_ok=True)
    names = sys.argv[4:]
    suite = unittest.defaultTestLoader.loadTestsFromNames(names, sys.modules[__name__]) if names else \
        unittest.defaultTestLoader.loadTestsFromModule(sys.modules[__name__])
    result = unittest.TextTestRunner(verbosity=2).run(suite)
    return 0 if result.wasSuccessful() else 1


if __name__ == "__main__":
    sys.exit(main())
