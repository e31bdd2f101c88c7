"""End-to-end tests of the chat client's network helpers, driven headless: logon through a
SOCKS 4 relay (a scripted one and a real dante server in front of ngircd), the ident
responder queried from this process, and finger both ways (our client against a scripted
finger server, the system's finger client against our responder). Every wait is bounded.
"""
import os
import shutil
import socket
import struct
import subprocess
import sys
import tempfile
import threading
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from chat_connection_test import (IDENTITY, Client, ScriptedServer, free_port,  # noqa: E402
                                  options)
from tmux_harness import slack, wait_until  # noqa: E402

CI = bool(os.environ.get("CI"))
DANTED = shutil.which("danted") or (os.path.exists("/usr/sbin/danted") and "/usr/sbin/danted")
NGIRCD = shutil.which("ngircd") or (os.path.exists("/usr/sbin/ngircd") and "/usr/sbin/ngircd")
FINGER = shutil.which("finger")


def recv_exact(sock, n, timeout=5.0):
    sock.settimeout(slack(timeout))
    data = b""
    while len(data) < n:
        chunk = sock.recv(n - len(data))
        if not chunk:
            raise AssertionError("peer closed after %r" % data)
        data += chunk
    return data


def recv_all(sock, timeout=5.0):
    sock.settimeout(slack(timeout))
    data = b""
    while True:
        chunk = sock.recv(4096)
        if not chunk:
            return data
        data += chunk


class ScriptedRelay:
    """A SOCKS 4 relay that plays the IRC server itself once it has granted the request."""

    def __init__(self, code=90, trickle=True, early=b":srv NOTICE AUTH :*** early-bytes\r\n"):
        self.sock = socket.socket()
        self.sock.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        self.sock.bind(("127.0.0.1", 0))
        self.sock.listen(2)
        self.port = self.sock.getsockname()[1]
        self.code, self.trickle, self.early = code, trickle, early
        self.request = None
        self.lines = []
        self.done = threading.Event()
        threading.Thread(target=self._run, daemon=True).start()

    def _run(self):
        self.sock.settimeout(slack(10))
        try:
            conn, _ = self.sock.accept()
        except OSError:
            return
        with conn:
            head = recv_exact(conn, 8)
            uid = b""
            while not uid.endswith(b"\0"):
                uid += recv_exact(conn, 1)
            self.request = head + uid
            reply = bytes([0, self.code, 0, 0, 0, 0, 0, 0])
            if self.trickle:
                # One byte at a time, then the server's first line right behind the last.
                for b in reply[:-1]:
                    conn.sendall(bytes([b]))
                    time.sleep(0.05)
                conn.sendall(reply[-1:] + self.early)
            else:
                conn.sendall(reply)
            if self.code != 90:
                self.done.set()
                time.sleep(1)
                return
            buf = b""
            conn.settimeout(slack(5))
            try:
                while b"USER " not in buf:
                    data = conn.recv(4096)
                    if not data:
                        break
                    buf += data
                self.lines = buf.decode().split("\r\n")
                conn.sendall(b":srv 001 tester :Welcome-through-relay\r\n")
                self.done.set()
                time.sleep(2)
            except OSError:
                pass

    def stop(self):
        self.sock.close()


def socks_ini(port, userid="joe", server="192.0.2.7:6667"):
    host, p = server.split(":")
    return (IDENTITY + "host=Relayed:%s:%s\n" % (host, p) +
            "[Socks]\nEnabled=yes\nHostName=127.0.0.1\nPort=%d\nUserID=%s\n" % (port, userid))


class NetTests(unittest.TestCase):
    def setUp(self):
        self.clients, self.closers = [], []

    def tearDown(self):
        for c in self.clients:
            c.kill()
        for f in self.closers:
            f()

    def client(self, ini, args=()):
        c = Client(list(args), ini)
        self.clients.append(c)
        return c

    def test_relay_reply_one_byte_at_a_time_then_server_bytes(self):
        relay = ScriptedRelay()
        self.closers.append(relay.stop)
        c = self.client(socks_ini(relay.port), ["-s", "192.0.2.7:6667"])
        c.expect(r"^\*\*\* SOCKS access granted, connecting\.\.\.$", timeout=8)
        # The bytes that came with the grant belong to the session, not to the relay.
        c.expect(r"early-bytes")
        c.expect(r"Welcome-through-relay")
        self.assertTrue(relay.done.wait(slack(5)))
        self.assertEqual(relay.request, b"\x04\x01" + struct.pack(">H", 6667) +
                         socket.inet_aton("192.0.2.7") + b"joe\0")
        self.assertTrue(any(l.startswith("NICK tester") for l in relay.lines), relay.lines)

    def test_relay_refusals(self):
        for code, text in ((92, r"^\*\*\* SOCKS: No Identd$"),
                           (91, r"^\*\*\* SOCKS: Rejected/Failed$"),
                           (93, r"^\*\*\* SOCKS: UserID is bad$"),
                           (7, r"^\*\*\* Invalid SOCKS reply$")):
            relay = ScriptedRelay(code=code, trickle=False)
            self.closers.append(relay.stop)
            c = self.client(socks_ini(relay.port, userid=""), ["-s", "192.0.2.7:6667"])
            c.expect(text, timeout=8)
            self.assertTrue(relay.done.wait(slack(5)))
            # With an empty user id the request is nine bytes, ending in one zero byte.
            self.assertEqual(len(relay.request), 9)
            self.assertEqual(relay.request[-1:], b"\0")

    def test_relay_that_closes_or_is_missing(self):
        port = free_port()  # nobody listens here
        c = self.client(socks_ini(port), ["-s", "192.0.2.7:6667"])
        c.expect(r"^\*\*\* Unable to connect to SOCKS host$", timeout=8)
        c.kill()
        srv = socket.socket()
        srv.bind(("127.0.0.1", 0))
        srv.listen(1)
        self.closers.append(srv.close)

        def close_early():
            conn, _ = srv.accept()
            recv_exact(conn, 9)
            conn.sendall(b"\x00\x5a\x00")  # three bytes of eight, then the end
            conn.close()
        threading.Thread(target=close_early, daemon=True).start()
        c = self.client(socks_ini(srv.getsockname()[1], userid=""), ["-s", "192.0.2.7:6667"])
        c.expect(r"^\*\*\* Socket closed by SOCKS host$", timeout=8)

    def ident_client(self, srv, ident_port):
        ini = (IDENTITY + "host=Test:127.0.0.1:%d\n" % srv.port +
               "[Ident]\nactive=yes\nuserid=joeuser\nport=%d\n" % ident_port +
               options(options={4: 1}))
        return self.client(ini, ["-s", "127.0.0.1:%d" % srv.port])

    def ident_ask(self, port, query, timeout=5.0):
        with socket.create_connection(("127.0.0.1", port), timeout=timeout) as s:
            if query:
                s.sendall(query)
            return recv_all(s, timeout)

    def test_ident_answers_only_for_our_connection(self):
        srv = ScriptedServer()
        self.closers.append(srv.stop)
        iport = free_port()
        c = self.ident_client(srv, iport)
        peer = srv.accept()
        peer.read_until("USER ")
        ours = peer.sock.getpeername()[1]
        cases = [
            (b"%d, %d\r\n" % (ours, srv.port),
             b"%d, %d : USERID : UNIX : joeuser\r\n" % (ours, srv.port)),
            (b"%d , %d\r\n" % (ours, srv.port + 1),
             b"%d, %d : ERROR : NO-USER\r\n" % (ours, srv.port + 1)),
            (b"0, %d\r\n" % srv.port, b"0, %d : ERROR : INVALID-PORT\r\n" % srv.port),
            (b"garbage, more\r\n", b"0, 0 : ERROR : INVALID-PORT\r\n"),
            (b"no comma here\r\n", b""),
        ]
        for query, reply in cases:
            self.assertEqual(self.ident_ask(iport, query), reply, query)
        # A query cut into pieces is answered once its line is complete.
        with socket.create_connection(("127.0.0.1", iport), timeout=5) as s:
            s.sendall(b"%d," % ours)
            time.sleep(0.2)
            s.sendall(b" %d\r\n" % srv.port)
            self.assertEqual(recv_all(s), b"%d, %d : USERID : UNIX : joeuser\r\n" % (ours, srv.port))
        c.expect(r"^\*\*\* Identd request from 127\.0\.0\.1$")
        c.expect(r"^\*\*\* Identd replied: %d, %d : USERID : UNIX : joeuser$" % (ours, srv.port))

    def test_ident_port_in_use_is_reported_and_logon_goes_on(self):
        taken = socket.socket()
        taken.bind(("0.0.0.0", 0))
        taken.listen(1)
        self.closers.append(taken.close)
        srv = ScriptedServer()
        self.closers.append(srv.stop)
        c = self.ident_client(srv, taken.getsockname()[1])
        c.expect(r"^\*\*\* Identd unable to listen on port %d$" % taken.getsockname()[1])
        peer = srv.accept()
        peer.read_until("USER ")

    def test_finger_client_against_a_scripted_server(self):
        srv = socket.socket()
        srv.bind(("127.0.0.1", 0))
        srv.listen(2)
        self.closers.append(srv.close)
        got = []

        def serve():
            for reply in (b"Login: joe\tName: Joe\r\nPlan:\r\n\r\nnone\r\n", b"host info\n"):
                conn, _ = srv.accept()
                got.append(recv_exact(conn, 1))
                conn.settimeout(2)
                while not got[-1].endswith(b"\n"):
                    got[-1] += conn.recv(100)
                conn.sendall(reply)
                conn.close()
        threading.Thread(target=serve, daemon=True).start()
        ini = IDENTITY + "[Ports]\nfinger=%d\n" % srv.getsockname()[1]
        c = self.client(ini)
        c.type("/finger joe@127.0.0.1")
        w = "Finger Window"
        c.expect(r"^Trying 127\.0\.0\.1$", window=w)
        c.expect(r"^Attempting to finger joe@127\.0\.0\.1$", window=w)
        # The tab fills to column 16: six blanks after the ten characters before it.
        c.expect(r"^Login: joe      Name: Joe$", window=w)
        c.expect(r"^none$", window=w)
        c.expect(r"^End of finger session$", window=w)
        c.type("/finger @127.0.0.1")
        c.expect(r"^Attempting to finger @127\.0\.0\.1$", window=w)
        c.expect(r"^host info$", window=w)
        c.expect(r"^End of finger session$", window=w)
        self.assertEqual(got, [b"joe\r\n", b"\r\n"])
        # The recent addresses are kept newest first in the settings.
        c.finish()

    def finger_server_client(self, port, reply_file):
        ini = (IDENTITY + "[Ports]\nfingerserver=%d\n[Files]\nfinger=%s\n" % (port, reply_file) +
               options(options4={29: 1}))
        return self.client(ini)

    def write_reply_file(self):
        d = tempfile.mkdtemp(prefix="vesk-finger-")
        self.closers.append(lambda: shutil.rmtree(d, ignore_errors=True))
        path = os.path.join(d, "finger.txt")
        with open(path, "w") as f:
            f.write("[joe]\nJoe's plan: test things\n[default]\nNobody here by that name\n")
        return path

    def finger_ask(self, port, query):
        with socket.create_connection(("127.0.0.1", port), timeout=5) as s:
            s.sendall(query)
            return recv_all(s)

    def test_responder_sections_and_a_silent_peer(self):
        port = free_port()
        c = self.finger_server_client(port, self.write_reply_file())

        def ask_once_listening():
            try:
                return self.finger_ask(port, b"joe\r\n")
            except ConnectionRefusedError:
                return None
        reply = wait_until(ask_once_listening, what="the finger responder")
        self.assertEqual(reply, b"Joe's plan: test things\r\n")
        self.assertEqual(self.finger_ask(port, b"ann\r\n"), b"Nobody here by that name\r\n")
        self.assertEqual(self.finger_ask(port, b"\r\n"), b"Nobody here by that name\r\n")
        c.expect(r"^\* Finger server query \[joe\] by 127\.0\.0\.1$")
        c.expect(r"^\* Finger server query \[default\] by 127\.0\.0\.1$")

    @unittest.skipUnless(os.environ.get("VESK_SLOW_TESTS") or CI, "waits out two idle time-outs")
    def test_silent_peers_are_dropped_and_both_responders_go_on(self):
        fport, iport = free_port(), free_port()
        srv = ScriptedServer()
        self.closers.append(srv.stop)
        ini = (IDENTITY + "host=Test:127.0.0.1:%d\n" % srv.port +
               "[Ident]\nactive=yes\nuserid=joeuser\nport=%d\n" % iport +
               "[Ports]\nfingerserver=%d\n[Files]\nfinger=%s\n" % (fport, self.write_reply_file()) +
               options(options4={29: 1}))
        c = self.client(ini, ["-s", "127.0.0.1:%d" % srv.port])
        peer = srv.accept()
        peer.read_until("USER ")
        peer.send(":srv 001 tester :Welcome\r\n")
        silent = [socket.create_connection(("127.0.0.1", p), timeout=5) for p in (fport, iport)]
        self.closers.extend(s.close for s in silent)
        start = time.monotonic()
        for s in silent:
            self.assertEqual(recv_all(s, timeout=45), b"")
        self.assertGreater(time.monotonic() - start, 29)
        ours = peer.sock.getpeername()[1]
        self.assertEqual(self.ident_ask(iport, b"%d, %d\r\n" % (ours, srv.port)),
                         b"%d, %d : USERID : UNIX : joeuser\r\n" % (ours, srv.port))
        self.assertEqual(self.finger_ask(fport, b"joe\r\n"), b"Joe's plan: test things\r\n")
        c.kill()

    @unittest.skipUnless((FINGER and os.geteuid() == 0) or CI,
                         "needs the finger client and port 79")
    def test_system_finger_client_against_our_responder(self):
        self.assertTrue(FINGER, "finger is not installed")
        c = self.finger_server_client(79, self.write_reply_file())

        def finger_once_listening():
            out = subprocess.run([FINGER, "joe@127.0.0.1"], capture_output=True, timeout=20)
            return out.stdout if b"Joe's plan" in out.stdout else None
        self.assertIn(b"Joe's plan: test things",
                      wait_until(finger_once_listening, what="an answer to finger"))
        c.expect(r"^\* Finger server query \[joe\]")


DANTE_CONF = """logoutput: stderr
internal: 127.0.0.1 port = %(port)d
external: 127.0.0.1
clientmethod: none
socksmethod: none
%(users)s
client pass { from: 127.0.0.0/8 to: 0.0.0.0/0 }
%(rules)s
"""


@unittest.skipUnless((DANTED and NGIRCD) or CI, "dante-server and ngircd are needed")
class DanteTests(unittest.TestCase):
    def setUp(self):
        self.assertTrue(DANTED, "dante-server is not installed")
        self.assertTrue(NGIRCD, "ngircd is not installed")
        self.dir = tempfile.mkdtemp(prefix="vesk-dante-")
        self.procs, self.clients = [], []

    def tearDown(self):
        for c in self.clients:
            c.kill()
        for p in self.procs:
            if p.poll() is None:
                p.kill()
                p.wait()
        shutil.rmtree(self.dir, ignore_errors=True)

    def wait_port(self, port, what):
        deadline = time.monotonic() + slack(8)
        while time.monotonic() < deadline:
            try:
                socket.create_connection(("127.0.0.1", port), timeout=0.2).close()
                return
            except OSError:
                time.sleep(0.05)
        self.fail("%s did not start" % what)

    def start_ngircd(self):
        port = free_port()
        conf = os.path.join(self.dir, "ngircd.conf")
        with open(conf, "w") as f:
            f.write("[Global]\n  Name = irc.localhost\n  Info = test\n  Listen = 127.0.0.1\n"
                    "  Ports = %d\n  PidFile = %s/ngircd.pid\n  MotdPhrase = Relayed welcome.\n"
                    "[Options]\n  Ident = no\n  PAM = no\n  DNS = no\n" % (port, self.dir))
        self.procs.append(subprocess.Popen([NGIRCD, "-n", "-f", conf], stdout=subprocess.DEVNULL,
                                           stderr=subprocess.DEVNULL))
        self.wait_port(port, "ngircd")
        return port

    def start_dante(self, irc_port, allow):
        port = free_port()
        verb = "pass" if allow else "block"
        rules = ("socks %s { from: 127.0.0.0/8 to: 127.0.0.1/32 port = %d command: connect }\n"
                 "socks block { from: 0.0.0.0/0 to: 0.0.0.0/0 }\n" % (verb, irc_port))
        # Run as root here, dante wants the users it switches to named; as anyone else it
        # stays the user it was started as.
        users = "user.privileged: root\nuser.unprivileged: nobody\n" if os.geteuid() == 0 else ""
        conf = os.path.join(self.dir, "danted-%d.conf" % port)
        with open(conf, "w") as f:
            f.write(DANTE_CONF % {"port": port, "rules": rules, "users": users})
        with open(os.path.join(self.dir, "danted-%d.log" % port), "wb") as log:
            self.procs.append(subprocess.Popen([DANTED, "-f", conf, "-p",
                                                os.path.join(self.dir, "danted-%d.pid" % port)],
                                               stdout=log, stderr=log))
        self.wait_port(port, "danted")
        return port

    def test_logon_through_dante_and_a_rejecting_rule(self):
        irc = self.start_ngircd()
        relay = self.start_dante(irc, True)
        ini = socks_ini(relay, userid="joe", server="127.0.0.1:%d" % irc)
        c = Client(["-s", "127.0.0.1:%d" % irc], ini)
        self.clients.append(c)
        c.expect(r"^\*\*\* SOCKS access granted, connecting\.\.\.$", timeout=10)
        c.expect(r"Relayed welcome", timeout=10)

        refusing = self.start_dante(irc, False)
        ini = socks_ini(refusing, userid="joe", server="127.0.0.1:%d" % irc)
        c = Client(["-s", "127.0.0.1:%d" % irc], ini)
        self.clients.append(c)
        c.expect(r"^\*\*\* SOCKS: Rejected/Failed$", timeout=10)


if __name__ == "__main__":
    unittest.main()
