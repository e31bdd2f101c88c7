"""End-to-end tests of the chat client's TLS links, driven headless.

A real InspIRCd (Debian's, with its GnuTLS module) serves plain and TLS ports on loopback with
certificates that the test makes with openssl: a small CA, a server certificate it signs, and a
client certificate. A python ssl server plays the peer where the test must see exactly what
the client sent (nothing in clear after a refusal) or must misbehave (a stalled handshake, a
plain-text server on a TLS port). Every wait is bounded.
"""
import os
import re
import resource
import shutil
import socket
import ssl
import subprocess
import sys
import tempfile
import threading
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from chat_connection_test import IDENTITY, Client, free_port  # noqa: E402

CI = bool(os.environ.get("CI"))
INSPIRCD = shutil.which("inspircd") or (os.path.exists("/usr/sbin/inspircd") and "/usr/sbin/inspircd")
OPENSSL = shutil.which("openssl")


def run(*args):
    subprocess.run(args, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=60)


class Certificates:
    """A CA, a server certificate for 127.0.0.1 it signs, a self-signed one and a client one."""

    def __init__(self, folder):
        self.dir = folder
        p = self.path
        run(OPENSSL, "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", p("ca.key"),
            "-out", p("ca.pem"), "-days", "2", "-subj", "/CN=Vesk Test CA")
        self.signed("server", "/CN=127.0.0.1", "subjectAltName=IP:127.0.0.1,DNS:localhost")
        self.signed("wrongname", "/CN=other.example", "subjectAltName=DNS:other.example")
        self.signed("client", "/CN=tester", None)
        run(OPENSSL, "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", p("self.key"),
            "-out", p("self.pem"), "-days", "2", "-subj", "/CN=127.0.0.1")
        with open(p("client-both.pem"), "w") as out:
            for name in ("client.pem", "client.key"):
                with open(p(name)) as f:
                    out.write(f.read())

    def path(self, name):
        return os.path.join(self.dir, name)

    def signed(self, name, subject, extension):
        p = self.path
        run(OPENSSL, "req", "-newkey", "rsa:2048", "-nodes", "-keyout", p(name + ".key"), "-out",
            p(name + ".csr"), "-subj", subject)
        args = [OPENSSL, "x509", "-req", "-in", p(name + ".csr"), "-CA", p("ca.pem"), "-CAkey",
                p("ca.key"), "-CAcreateserial", "-out", p(name + ".pem"), "-days", "2"]
        if extension:
            with open(p(name + ".ext"), "w") as f:
                f.write(extension + "\n")
            args += ["-extfile", p(name + ".ext")]
        run(*args)

    def fingerprint(self, name):
        out = subprocess.run([OPENSSL, "x509", "-in", self.path(name), "-noout", "-fingerprint",
                              "-sha256"], check=True, capture_output=True, text=True).stdout
        return out.strip().split("=", 1)[1]


class FakeTlsServer:
    """Accepts one connection at a time; records the handshake result and every byte received
    after it. mode "tls" serves `cert`; "silent" never answers; "plain" talks plain IRC."""

    def __init__(self, mode, cert=None, key=None, client_ca=None):
        self.mode = mode
        self.sock = socket.socket()
        self.sock.bind(("127.0.0.1", 0))
        self.sock.listen(4)
        self.port = self.sock.getsockname()[1]
        self.context = None
        if mode == "tls":
            self.context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
            self.context.load_cert_chain(cert, key)
            if client_ca:
                self.context.verify_mode = ssl.CERT_REQUIRED
                self.context.load_verify_locations(client_ca)
        self.received = b""
        self.handshake_done = threading.Event()
        self.closed = threading.Event()
        self.peer_cert = None
        self.conns = []
        threading.Thread(target=self._run, daemon=True).start()

    def _run(self):
        try:
            conn, _ = self.sock.accept()
        except OSError:
            return
        self.conns.append(conn)
        conn.settimeout(15)
        try:
            if self.mode == "silent":
                conn.recv(65536)
                self.closed.wait(30)
                return
            if self.mode == "plain":
                conn.sendall(b":fake NOTICE * :*** plain text here\r\n" * 20)
                self.closed.wait(30)
                return
            tls = self.context.wrap_socket(conn, server_side=True)
            self.conns.append(tls)
            self.peer_cert = tls.getpeercert(binary_form=True)
            self.handshake_done.set()
            while True:
                data = tls.recv(65536)
                if not data:
                    break
                self.received += data
        except (OSError, ssl.SSLError):
            pass
        finally:
            self.closed.set()

    def stop(self):
        self.closed.set()
        for c in self.conns + [self.sock]:
            try:
                c.close()
            except OSError:
                pass


# What every InspIRCd of the tests has: the TLS profile, a lenient connect class, and its
# pid file, log and resolver in the test's folder.
INSPIRCD_COMMON = """<module name="ssl_gnutls">
<sslprofile name="main" provider="gnutls" certfile="%(cert)s" keyfile="%(key)s" hash="sha256"
  requestclientcert="yes">
<connect allow="*" timeout="60" pingfreq="120" recvq="8192" sendq="262144" threshold="1000"
  commandrate="1000000" localmax="100" globalmax="100" useident="no" limit="1000"
  resolvehostnames="no">
<pid file="%(dir)s/inspircd.pid">
<log method="file" type="* -USERINPUT -USEROUTPUT" level="default" target="%(dir)s/ircd.log">
<dns server="127.0.0.1" timeout="1">
"""


class InspIRCd:
    """InspIRCd with one plain and one TLS client port, the IRCv3 modules loaded."""

    def __init__(self, folder, certs):
        self.dir = folder
        self.port = free_port()
        self.tls_port = free_port()
        conf = os.path.join(folder, "inspircd.conf")
        with open(conf, "w") as f:
            f.write(("""<server name="irc.test" description="Test" network="TestNet">
<admin name="Admin" nick="admin" email="admin@test">
<bind address="127.0.0.1" port="%(port)d" type="clients">
<bind address="127.0.0.1" port="%(tls)d" type="clients" sslprofile="main">
""" + INSPIRCD_COMMON + """<module name="cap">
<module name="ircv3">
<module name="ircv3_servertime">
<module name="ircv3_echomessage">
<module name="ircv3_capnotify">
<module name="ircv3_ctctags">
<module name="namesx">
<module name="sslinfo">
""") % {"port": self.port, "tls": self.tls_port, "cert": certs.path("server.pem"),
       "key": certs.path("server.key"), "dir": folder})
        # Its own folder and no core file: the packaged daemon may crash while shutting down.
        self.proc = subprocess.Popen([INSPIRCD, "--runasroot", "--nofork", "--config=" + conf],
                                     stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                                     cwd=folder, preexec_fn=lambda: resource.setrlimit(
                                         resource.RLIMIT_CORE, (0, 0)))
        deadline = time.monotonic() + 30
        while time.monotonic() < deadline:
            try:
                socket.create_connection(("127.0.0.1", self.tls_port), timeout=1).close()
                return
            except OSError:
                if self.proc.poll() is not None:
                    break
                time.sleep(0.1)
        raise AssertionError("inspircd did not start")

    def stop(self):
        self.proc.terminate()
        try:
            self.proc.wait(timeout=10)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            self.proc.wait()


class PlainUser:
    """A plain-text IRC user on the server, to see what the client sends to a channel."""

    def __init__(self, port, nick):
        self.sock = socket.create_connection(("127.0.0.1", port), timeout=10)
        self.buf = b""
        self.send("NICK %s\r\nUSER %s 0 * :%s\r\n" % (nick, nick, nick))
        self.wait(" 001 ")

    def send(self, text):
        self.sock.sendall(text.encode())

    def wait(self, needle, timeout=15.0):
        deadline = time.monotonic() + timeout
        while True:
            for line in self.buf.split(b"\r\n")[:-1]:
                text = line.decode("utf-8", "replace")
                if text.startswith("PING "):
                    self.send("PONG " + text[5:] + "\r\n")
                if needle in text:
                    self.buf = self.buf[self.buf.index(line) + len(line) + 2:]
                    return text
            left = deadline - time.monotonic()
            if left <= 0:
                raise AssertionError("no %r; have %r" % (needle, self.buf))
            self.sock.settimeout(left)
            data = self.sock.recv(65536)
            if not data:
                raise AssertionError("server closed; have %r" % self.buf)
            self.buf += data

    def close(self):
        self.sock.close()


@unittest.skipUnless(OPENSSL and (INSPIRCD or CI), "inspircd or openssl is not installed")
class TlsTests(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.dir = tempfile.mkdtemp(prefix="vesk-tls-")
        cls.certs = Certificates(cls.dir)
        cls.ircd = InspIRCd(cls.dir, cls.certs)

    @classmethod
    def tearDownClass(cls):
        cls.ircd.stop()
        shutil.rmtree(cls.dir, ignore_errors=True)

    def setUp(self):
        self.clients = []
        self.cleanups = []

    def tearDown(self):
        for c in self.clients:
            c.kill()
        for f in self.cleanups:
            f()

    def client(self, args, tls_section=""):
        c = Client(args, IDENTITY + tls_section)
        self.clients.append(c)
        return c

    def fake(self, *args, **kw):
        s = FakeTlsServer(*args, **kw)
        self.cleanups.append(s.stop)
        return s

    def test_trusted_through_cafile_joins_and_talks(self):
        user = PlainUser(self.ircd.port, "watcher")
        self.cleanups.append(user.close)
        user.send("JOIN #tls\r\n")
        user.wait("JOIN")
        c = self.client(["-s", "127.0.0.1:+%d" % self.ircd.tls_port],
                        "[TLS]\ncafile=%s\n" % self.certs.path("ca.pem"))
        c.expect(r"^\*\*\* Connecting to 127\.0\.0\.1 \(\+%d\)$" % self.ircd.tls_port, 15)
        c.expect(r"^\*\*\* TLS connection: TLSv1\.[23], \S+, certificate verified$", 15)
        c.expect(r"Welcome", 15)
        c.type("/join #tls")
        user.wait("JOIN :#tls")
        c.type("/msg #tls hello over tls")
        self.assertIn("hello over tls", user.wait("PRIVMSG #tls"))

    def test_server_list_entry_and_server_command_take_the_plus(self):
        cases = [
            ([], "host=Secure SERVER:127.0.0.1:+%d\n" % self.ircd.tls_port),
            (["-s", "127.0.0.1:%d" % self.ircd.port], ""),
        ]
        for args, host in cases:
            with self.subTest(args=args):
                c = Client(args, IDENTITY + host + "[Options]\noptions=1\n[TLS]\ncafile=%s\n"
                           % self.certs.path("ca.pem"))
                self.clients.append(c)
                if not args:
                    c.expect(r"^\*\*\* TLS connection: ", 15)
                    c.expect(r"Welcome", 15)
                else:
                    # Connected in plain text first; /server switches to the TLS port.
                    c.type("/server")
                    c.expect(r"Welcome", 15)
                    c.type("/server 127.0.0.1 +%d" % self.ircd.tls_port)
                    c.expect(r"^\*\*\* TLS connection: ", 15)
                    c.expect(r"Welcome", 15)
                c.kill()

    def test_unknown_issuer_is_refused_with_reason_and_fingerprint(self):
        fp = self.certs.fingerprint("server.pem")
        c = self.client(["-s", "127.0.0.1:+%d" % self.ircd.tls_port])
        text = c.expect(r"^\*\*\* TLS certificate of 127\.0\.0\.1 refused: ", 15)
        self.assertIn("local issuer", text)
        self.assertIn(fp, text)
        self.assertIn("fingerprint=" + fp, text)
        self.assertTrue(c.absent(r"Welcome", 1.0))

        # Pinning that fingerprint connects, in any of the forms people copy it in.
        for pin in (fp, fp.replace(":", "").lower()):
            with self.subTest(pin=pin):
                p = self.client(["-s", "127.0.0.1:+%d" % self.ircd.tls_port],
                                "[TLS]\nfingerprint=%s\n" % pin)
                p.expect(r"^\*\*\* TLS connection: .*certificate pinned$", 15)
                p.expect(r"Welcome", 15)

    def test_refusals_send_nothing(self):
        ca = "[TLS]\ncafile=%s\n" % self.certs.path("ca.pem")
        other_fp = self.certs.fingerprint("self.pem")
        cases = [
            ("self-signed", ("self.pem", "self.key"), "", r"self-signed certificate"),
            ("wrong name", ("wrongname.pem", "wrongname.key"), ca, r"mismatch"),
            ("other pin", ("server.pem", "server.key"), "[TLS]\nfingerprint=%s\n" % other_fp,
             r"not the pinned certificate"),
        ]
        for name, (cert, key), section, reason in cases:
            with self.subTest(name):
                srv = self.fake("tls", self.certs.path(cert), self.certs.path(key))
                c = self.client(["-s", "127.0.0.1:+%d" % srv.port], section)
                text = c.expect(r"^\*\*\* TLS certificate of 127\.0\.0\.1 refused: ", 15)
                self.assertRegex(text, reason)
                self.assertIn(self.certs.fingerprint(cert), text)
                self.assertTrue(srv.closed.wait(15), "connection not closed")
                self.assertEqual(srv.received, b"")

    def test_client_certificate_is_presented(self):
        srv = self.fake("tls", self.certs.path("server.pem"), self.certs.path("server.key"),
                        client_ca=self.certs.path("ca.pem"))
        c = self.client(["-s", "127.0.0.1:+%d" % srv.port],
                        "[TLS]\ncafile=%s\ncertfile=%s\n" % (self.certs.path("ca.pem"),
                                                            self.certs.path("client-both.pem")))
        c.expect(r"^\*\*\* TLS connection: ", 15)
        self.assertTrue(srv.handshake_done.wait(15))
        self.assertIsNotNone(srv.peer_cert)
        deadline = time.monotonic() + 15
        while b"USER " not in srv.received and time.monotonic() < deadline:
            time.sleep(0.05)
        self.assertIn(b"NICK tester\r\n", srv.received)

    def test_bad_peers_end_with_a_message_in_bounded_time(self):
        cases = [
            ("silent", "[TLS]\ntimeout=2\n", r"^\*\*\* TLS handshake timed out"),
            ("plain", "", r"^\*\*\* TLS handshake with 127\.0\.0\.1 failed: "),
        ]
        for mode, section, pattern in cases:
            with self.subTest(mode):
                srv = self.fake(mode)
                # No connect time-out of its own: only the handshake limit applies.
                c = self.client(["-s", "127.0.0.1:+%d" % srv.port],
                                section + "[Options]\noptions5=,,,,,,,,,,,,,,,,0\n")
                start = time.monotonic()
                c.expect(pattern, 15)
                self.assertLess(time.monotonic() - start, 12)
                c.type("/echo still-alive")
                c.expect(r"still-alive", 10)

    def test_unusable_settings_refuse_before_connecting_in_clear(self):
        cases = [
            ("[TLS]\nfingerprint=12:34\n", r"not a SHA-256 fingerprint"),
            ("[TLS]\ncafile=/nonexistent/ca.pem\n", r"cannot read cafile"),
            ("[TLS]\ncertfile=/nonexistent/me.pem\n", r"cannot use certfile"),
        ]
        for section, pattern in cases:
            with self.subTest(section):
                srv = self.fake("tls", self.certs.path("server.pem"), self.certs.path("server.key"))
                c = self.client(["-s", "127.0.0.1:+%d" % srv.port], section)
                c.expect(pattern, 15)
                self.assertEqual(srv.received, b"")

    def test_help_describes_the_settings(self):
        c = self.client([])
        c.type("/help tls")
        for key in ("cafile=PATH", "fingerprint=HEX", "certfile=PATH", "timeout=SECONDS"):
            c.expect(r"^\s+" + re.escape(key), 10, window="Help")


if __name__ == "__main__":
    unittest.main()
