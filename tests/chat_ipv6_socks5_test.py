"""End-to-end tests of the chat client's SOCKS 5 relay and IPv6 connections, driven headless:
logon through microsocks with and without a password, a wrong password, a scripted relay that
checks the host name reaches it unresolved, and scripted relays that answer nonsense or stall.
Servers by IPv6 address: ngircd listening on [::1], reached with -s, /server and a server-list
entry. Every wait is bounded.
"""
import os
import shutil
import socket
import subprocess
import sys
import tempfile
import threading
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import chat_connection_test  # noqa: E402
from chat_connection_test import IDENTITY, Client, ScriptedServer, free_port  # noqa: E402
from chat_net_test import recv_exact  # noqa: E402

CI = bool(os.environ.get("CI"))
MICROSOCKS = shutil.which("microsocks")
NGIRCD = shutil.which("ngircd") or (os.path.exists("/usr/sbin/ngircd") and "/usr/sbin/ngircd")


def has_ipv6_loopback():
    try:
        with socket.socket(socket.AF_INET6) as s:
            s.bind(("::1", 0))
        return True
    except OSError:
        return False


def require_ngircd_and_ipv6(test):
    if not NGIRCD or not has_ipv6_loopback():
        if CI:
            test.fail("ngircd or the IPv6 loopback address is missing")
        test.skipTest("ngircd or the IPv6 loopback address is missing")


def free_port6():
    with socket.socket(socket.AF_INET6) as s:
        s.bind(("::1", 0))
        return s.getsockname()[1]


def socks5_ini(port, server, user="", password="", timeout=None):
    host, p = server.rsplit(":", 1)
    text = (IDENTITY + "host=Relayed:%s:%s\n" % (host, p) +
            "[Socks]\nEnabled=yes\nProtocol=5\nHostName=127.0.0.1\nPort=%d\n" % port)
    if user:
        text += "UserID=%s\nPassword=%s\n" % (user, password)
    if timeout:
        text += "Timeout=%d\n" % timeout
    return text


class FakeRelay:
    """Accepts one client; `script(conn)` plays the relay's side."""

    def __init__(self, script):
        self.sock = socket.socket()
        self.sock.bind(("127.0.0.1", 0))
        self.sock.listen(2)
        self.port = self.sock.getsockname()[1]
        self.script = script
        self.got = {}
        threading.Thread(target=self._run, daemon=True).start()

    def _run(self):
        self.sock.settimeout(15)
        try:
            conn, _ = self.sock.accept()
        except OSError:
            return
        with conn:
            try:
                self.script(conn, self.got)
            except (OSError, AssertionError):
                pass

    def stop(self):
        self.sock.close()


class Socks5Tests(unittest.TestCase):
    def client(self, ini, args=()):
        c = Client(list(args), ini)
        self.addCleanup(c.kill)
        return c

    def microsocks(self, *auth):
        if not MICROSOCKS:
            if CI:
                self.fail("microsocks is missing")
            self.skipTest("microsocks is not installed")
        port = free_port()
        proc = subprocess.Popen([MICROSOCKS, "-i", "127.0.0.1", "-p", str(port)] + list(auth),
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.addCleanup(lambda: (proc.kill(), proc.wait()))
        deadline = time.monotonic() + 5
        while time.monotonic() < deadline:
            try:
                socket.create_connection(("127.0.0.1", port), timeout=1).close()
                return port
            except OSError:
                time.sleep(0.05)
        self.fail("microsocks did not start")

    def test_microsocks_logon_with_and_without_password_and_a_wrong_one(self):
        cases = (
            ((), "", "", None),
            (("-u", "joe", "-P", "s3cret"), "joe", "s3cret", None),
            (("-u", "joe", "-P", "s3cret"), "joe", "wrong",
             r"^\*\*\* SOCKS: User name or password refused$"),
            (("-u", "joe", "-P", "s3cret"), "", "",
             r"^\*\*\* SOCKS: The relay wants a user name and password$"),
        )
        for auth, user, password, error in cases:
            with self.subTest(auth=auth, user=user, password=password):
                relay = self.microsocks(*auth)
                server = ScriptedServer()
                self.addCleanup(server.stop)
                target = "127.0.0.1:%d" % server.port
                c = self.client(socks5_ini(relay, target, user, password), ["-s", target])
                if error:
                    c.expect(error, timeout=10)
                    self.assertTrue(server.no_connection_within(0.3))
                    continue
                c.expect(r"^\*\*\* SOCKS access granted, connecting\.\.\.$", timeout=10)
                peer = server.accept(timeout=10)
                self.assertTrue(peer.read_until("NICK ").strip().endswith("tester"))
                peer.send(":srv 001 tester :Welcome-through-socks5\r\n")
                c.expect("Welcome-through-socks5", timeout=10)

    def test_host_name_reaches_the_relay_unresolved(self):
        def script(conn, got):
            got["greeting"] = recv_exact(conn, 3)
            conn.sendall(b"\x05\x00")
            head = recv_exact(conn, 5)
            got["request"] = head + recv_exact(conn, head[4] + 2)
            conn.sendall(b"\x05\x00\x00\x01\x7f\x00\x00\x01\x04\x38"
                         b":srv 001 tester :Welcome-by-name\r\n")
            time.sleep(2)

        relay = FakeRelay(script)
        self.addCleanup(relay.stop)
        name = "irc.invalid"  # no resolver here knows it: only the relay may look it up
        c = self.client(socks5_ini(relay.port, name + ":6697"), ["-s", name + ":6697"])
        c.expect("Welcome-by-name", timeout=10)
        self.assertEqual(relay.got["greeting"], b"\x05\x01\x00")
        self.assertEqual(relay.got["request"],
                         b"\x05\x01\x00\x03" + bytes([len(name)]) + name.encode() + b"\x1a\x29")

    def test_nonsense_refusals_and_stalls_end_with_a_message(self):
        def answer(data, linger=3):
            def script(conn, got):
                recv_exact(conn, 3)
                conn.sendall(data)
                time.sleep(linger)
            return script

        def stall(conn, got):
            time.sleep(6)

        cases = (
            ("http answer", answer(b"HTTP/1.0 400 Bad Request\r\n\r\n"),
             r"^\*\*\* Invalid SOCKS reply$"),
            ("refused", answer(b"\x05\x00\x05\x05\x00\x01\x00\x00\x00\x00\x00\x00"),
             r"^\*\*\* SOCKS: Connection refused$"),
            ("host unreachable", answer(b"\x05\x00\x05\x04\x00\x01\x00\x00\x00\x00\x00\x00"),
             r"^\*\*\* SOCKS: Host unreachable$"),
            ("unknown code", answer(b"\x05\x00\x05\x7f\x00\x01\x00\x00\x00\x00\x00\x00"),
             r"^\*\*\* Invalid SOCKS reply$"),
            ("closes half way", answer(b"\x05\x00\x05\x00", linger=0),
             # Our request is still unread there: the close may come as a reset.
             r"^\*\*\* (Socket closed by|Error receiving from) SOCKS host$"),
            ("stalls", stall, r"^\*\*\* SOCKS host did not answer in time$"),
        )
        for what, script, message in cases:
            with self.subTest(what):
                relay = FakeRelay(script)
                self.addCleanup(relay.stop)
                c = self.client(socks5_ini(relay.port, "192.0.2.7:6667", timeout=2),
                                ["-s", "192.0.2.7:6667"])
                started = time.monotonic()
                c.expect(message, timeout=10)
                self.assertLess(time.monotonic() - started, 9)


class IPv6ServerTests(unittest.TestCase):
    def setUp(self):
        require_ngircd_and_ipv6(self)
        self.dir = tempfile.mkdtemp(prefix="vesk-ngircd6-")
        self.addCleanup(shutil.rmtree, self.dir, True)
        self.port = free_port6()
        conf = os.path.join(self.dir, "ngircd.conf")
        with open(conf, "w") as f:
            f.write("[Global]\n  Name = irc.localhost\n  Info = test\n  Listen = ::1\n"
                    "  Ports = %d\n  PidFile = %s/pid\n  MotdPhrase = Welcome over six.\n"
                    "[Options]\n  Ident = no\n  PAM = no\n  DNS = no\n" % (self.port, self.dir))
        proc = subprocess.Popen([NGIRCD, "-n", "-f", conf], stdout=subprocess.DEVNULL,
                                stderr=subprocess.DEVNULL)
        self.addCleanup(lambda: (proc.kill(), proc.wait()))
        deadline = time.monotonic() + 5
        while True:
            try:
                socket.create_connection(("::1", self.port), timeout=0.2).close()
                break
            except OSError:
                if time.monotonic() > deadline:
                    self.fail("ngircd did not start on [::1]")
                time.sleep(0.05)

    def client(self, ini, args=()):
        c = Client(list(args), ini)
        self.addCleanup(c.kill)
        return c

    def test_server_by_ipv6_address_three_ways(self):
        entry = "SixSERVER:[::1]:%d" % self.port
        cases = (
            ("-s", IDENTITY, ["-s", "[::1]:%d" % self.port], None),
            ("/server", IDENTITY, [], "/server [::1] %d" % self.port),
            ("list entry", IDENTITY + "[Servers]\nsv0=%s\n" % entry, [], "/server 1"),
        )
        for what, ini, args, command in cases:
            with self.subTest(what):
                c = self.client(ini, args)
                if command:
                    c.type(command)
                c.expect(r"Welcome over six\.", timeout=15)
                c.type("/quit")
                c.finish()

    def test_server_by_a_name_that_has_only_an_ipv6_address(self):
        # The name is known only from a hosts file of this test, mounted over /etc/hosts for
        # the client alone (a private mount namespace): it has no IPv4 address at all.
        unshare = shutil.which("unshare")
        if not unshare:
            self.skipTest("unshare is not installed")
        hosts = os.path.join(self.dir, "hosts")
        with open(hosts, "w") as f:
            f.write("127.0.0.1 localhost\n::1 six-only.test\n")
        wrapper = os.path.join(self.dir, "vesk-six")
        with open(wrapper, "w") as f:
            f.write("#!/bin/sh\nexec %s -m sh -c 'mount --bind %s /etc/hosts && exec \"$0\" \"$@\"' "
                    "%s \"$@\"\n" % (unshare, hosts, chat_connection_test.VESK32))
        os.chmod(wrapper, 0o755)
        probe = subprocess.run([unshare, "-m", "sh", "-c", "mount --bind %s /etc/hosts && "
                                "getent ahosts six-only.test" % hosts], capture_output=True,
                               text=True, timeout=10)
        if probe.returncode != 0:
            if CI:
                self.fail("no private mount namespace: %s" % probe.stderr)
            self.skipTest("no private mount namespace here")
        self.assertNotIn("127.0.0.1", probe.stdout)
        saved = chat_connection_test.VESK32
        chat_connection_test.VESK32 = wrapper
        try:
            c = self.client(IDENTITY, ["-s", "six-only.test:%d" % self.port])
        finally:
            chat_connection_test.VESK32 = saved
        c.expect(r"Welcome over six\.", timeout=15)

    def test_dcc_send_and_get_both_ways_over_ipv6(self):
        import chat_dcc_test as dcc
        peers = []
        for nick in ("alice", "bob"):
            getdir = os.path.join(self.dir, "get-" + nick)
            os.makedirs(getdir)
            c = self.client(dcc.vesk_ini(nick, getdir), ["-s", "[::1]:%d" % self.port])
            c.nick, c.getdir = nick, getdir
            c.expect(r"Welcome over six\.", timeout=15)
            peers.append(c)
        a, b = peers
        for size in (0, 4097, 300000):
            for x, y in ((a, b), (b, a)):
                name = "six%d-%s.bin" % (size, x.nick)
                path = dcc.make_file(os.path.join(self.dir, name), size, seed=size)
                x.type("/dcc send %s %s" % (y.nick, path))
                # The offer names our IPv6 address in text form.
                y.expect(r"^\*\*\* %s wants to send you: %s \(.*\) from ::1$" % (x.nick, name),
                         timeout=10)
                y.type("/dcc get %s" % x.nick)
                y.expect(r"^DCC Get completed", window="Get %s %s" % (x.nick, name), timeout=30)
                x.expect(r"^DCC Send completed$", window="Send %s %s" % (y.nick, name),
                         timeout=30)
                self.assertEqual(dcc.sha(os.path.join(y.getdir, name)), dcc.sha(path), name)

    def test_refused_ipv6_address_is_reported(self):
        c = self.client(IDENTITY, ["-s", "[::1]:%d" % free_port6()])
        c.expect(r"^\*\*\* Unable to connect to IRC server$", timeout=10)


class IPv6DccTests(unittest.TestCase):
    """A peer on [::1] offers a file with its address in text form; vesk32 gets it."""

    def test_get_from_an_ipv6_peer_and_malformed_addresses_refused(self):
        require_ngircd_and_ipv6(self)
        import chat_dcc_test as dcc
        import chat_parser_server_test as parser
        base = dcc.DccBase("folder")
        base.setUp()
        self.addCleanup(base.tearDown)
        alice = base.vesk("alice")
        mallory = parser.IrcPeer(base.port, "mallory")
        self.addCleanup(mallory.close)
        payload = bytes((i * 7 + 3) & 255 for i in range(70000))
        listener = socket.socket(socket.AF_INET6)
        listener.bind(("::1", 0))
        listener.listen(1)
        listener.settimeout(15)
        self.addCleanup(listener.close)
        got = {}

        def serve():
            try:
                conn, _ = listener.accept()
                with conn:
                    conn.sendall(payload)
                    acked = 0
                    conn.settimeout(10)
                    while acked < len(payload):
                        ack = recv_exact(conn, 4)
                        acked = int.from_bytes(ack, "big")
                    got["acked"] = acked
            except (OSError, AssertionError):
                pass

        threading.Thread(target=serve, daemon=True).start()
        for bad in ("::1::2", "::g", "[::1]", "1:2:3:4:5:6:7:8:9"):
            mallory.send("PRIVMSG alice :\x01DCC SEND a.bin %s 5000 10\x01\r\n" % bad)
            alice.expect(r"^DCC Send request from mallory was rejected due to parameter error$")
        mallory.send("PRIVMSG alice :\x01DCC SEND six.bin ::1 %d %d\x01\r\n"
                     % (listener.getsockname()[1], len(payload)))
        alice.expect(r"^\*\*\* mallory wants to send you: six\.bin \(", timeout=10)
        alice.type("/dcc get mallory")
        deadline = time.monotonic() + 20
        path = os.path.join(alice.getdir, "six.bin")
        while got.get("acked") != len(payload) and time.monotonic() < deadline:
            time.sleep(0.05)
        self.assertEqual(got.get("acked"), len(payload))
        with open(path, "rb") as f:
            self.assertEqual(f.read(), payload)


if __name__ == "__main__":
    unittest.main()
