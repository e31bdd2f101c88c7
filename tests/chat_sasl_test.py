"""End-to-end tests of SASL logons, driven headless.

InspIRCd (its sasl and services_account modules) is linked to Atheme services, both started
here with their own configuration in a temporary folder; accounts are registered through
NickServ, and a client certificate made with openssl is added with NickServ CERT ADD for
EXTERNAL. A scripted server shows the exact exchange (400-byte pieces, CAP END only after the
result) and plays the servers that never end it. Every wait is bounded.
"""
import base64
import os
import re
import resource
import shutil
import socket
import subprocess
import sys
import tempfile
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from chat_connection_test import IDENTITY, Client, ScriptedServer, free_port  # noqa: E402
from chat_tls_test import INSPIRCD, INSPIRCD_COMMON, OPENSSL, Certificates, PlainUser  # noqa: E402

CI = bool(os.environ.get("CI"))
ATHEME = shutil.which("atheme-services")
PASSWORD = "Sesame-Pw-4711"


def sasl_section(mechanism, user="", password="", required=0, timeout=None):
    text = "[SASL]\nmechanism=%s\nrequired=%d\n" % (mechanism, required)
    if user:
        text += "user=%s\n" % user
    if password:
        text += "password=%s\n" % password
    if timeout:
        text += "timeout=%d\n" % timeout
    return text


ATHEME_CONF = """loadmodule "modules/protocol/inspircd";
loadmodule "modules/backend/opensex";
loadmodule "modules/crypto/pbkdf2v2";
loadmodule "modules/nickserv/main";
loadmodule "modules/nickserv/register";
loadmodule "modules/nickserv/identify";
loadmodule "modules/nickserv/cert";
loadmodule "modules/saslserv/main";
loadmodule "modules/saslserv/plain";
loadmodule "modules/saslserv/external";
pbkdf2v2 { };
serverinfo {
    name = "services.test"; desc = "Test services"; numeric = "00A"; recontime = 1;
    netname = "TestNet"; hidehostsuffix = "users.test"; adminname = "admin";
    adminemail = "admin@example.com"; registeremail = "noreply@example.com"; mta = "/bin/true";
    loglevel = { error; info; }; maxlogins = 5; maxusers = 50; mdlimit = 30; emaillimit = 10;
    emailtime = 300; auth = none; casemapping = rfc1459;
};
uplink "irc.test" { host = "127.0.0.1"; password = "linkpw"; port = %(link)d; };
nickserv { nick = "NickServ"; user = "NickServ"; host = "services.test"; real = "Nicks";
    maxnicks = 5; expire = 30; };
saslserv { nick = "SaslServ"; user = "SaslServ"; host = "services.test"; real = "SASL"; };
general { flood_msgs = 0; flood_time = 10; ratelimit_uses = 0; ratelimit_period = 60;
    commit_interval = 5; uplink_sendq_limit = 1048576; language = "en"; };
"""


class ServicesNet:
    """InspIRCd with a plain and a TLS client port, linked to Atheme for accounts."""

    def __init__(self, folder, certs, extra=""):
        self.dir = folder
        self.port, self.tls_port, link = free_port(), free_port(), free_port()
        conf = os.path.join(folder, "inspircd.conf")
        with open(conf, "w") as f:
            f.write(("""<server name="irc.test" description="Test" network="TestNet">
<admin name="Admin" nick="admin" email="admin@test">
<bind address="127.0.0.1" port="%(port)d" type="clients">
<bind address="127.0.0.1" port="%(tls)d" type="clients" sslprofile="main">
<bind address="127.0.0.1" port="%(link)d" type="servers">
<link name="services.test" ipaddr="127.0.0.1" port="%(link)d" allowmask="127.0.0.1"
  sendpass="linkpw" recvpass="linkpw">
<uline server="services.test" silent="yes">
<module name="spanningtree">
<module name="services_account">
<module name="sasl">
<sasl target="services.test">
<module name="cap">
<module name="ircv3">
<module name="sslinfo">
""" + INSPIRCD_COMMON + "%(extra)s") % {
            "extra": extra, "port": self.port, "tls": self.tls_port, "link": link,
            "cert": certs.path("server.pem"),
            "key": certs.path("server.key"), "dir": folder})
        no_core = lambda: resource.setrlimit(resource.RLIMIT_CORE, (0, 0))  # noqa: E731
        self.procs = [subprocess.Popen([INSPIRCD, "--runasroot", "--nofork", "--config=" + conf],
                                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                                       cwd=folder, preexec_fn=no_core)]
        try:
            self.wait_port(self.port)
        except BaseException:
            self.stop()
            raise
        aconf = os.path.join(folder, "atheme.conf")
        with open(aconf, "w") as f:
            f.write(ATHEME_CONF % {"link": link})
        self.procs.append(subprocess.Popen(
            [ATHEME, "-n", "-c", aconf, "-D", folder, "-l", os.path.join(folder, "atheme.log"),
             "-p", os.path.join(folder, "atheme.pid")],
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, cwd=folder, preexec_fn=no_core))

    def wait_port(self, port):
        deadline = time.monotonic() + 30
        while time.monotonic() < deadline:
            try:
                socket.create_connection(("127.0.0.1", port), timeout=1).close()
                return
            except OSError:
                time.sleep(0.1)
        raise AssertionError("inspircd did not start")

    def register(self, nick, password, cert_fingerprint=None):
        """Registers an account through NickServ (waiting for the services to link), and adds
        a certificate fingerprint to it."""
        user = PlainUser(self.port, nick)
        try:
            deadline = time.monotonic() + 30
            while True:
                user.send("PRIVMSG NickServ :REGISTER %s %s@example.com\r\n" % (password, nick))
                try:
                    user.wait("is now registered", 2)
                    break
                except (AssertionError, OSError):  # no answer yet: the services are linking
                    if time.monotonic() > deadline:
                        raise AssertionError("the services did not register %s" % nick)
            if cert_fingerprint:
                user.send("PRIVMSG NickServ :CERT ADD %s\r\n" % cert_fingerprint)
                user.wait("to your fingerprint list")
        finally:
            user.close()

    def stop(self):
        for p in reversed(self.procs):
            p.terminate()
            try:
                p.wait(timeout=10)
            except subprocess.TimeoutExpired:
                p.kill()
                p.wait()


def require_services(test):
    if not (INSPIRCD and ATHEME and OPENSSL):
        if CI:
            test.fail("inspircd, atheme-services or openssl is missing")
        test.skipTest("inspircd, atheme-services or openssl is missing")


class AthemeSaslTests(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.dir = tempfile.mkdtemp(prefix="vesk-sasl-")
        cls.net = None
        if INSPIRCD and ATHEME and OPENSSL:
            cls.certs = Certificates(cls.dir)
            cls.net = ServicesNet(cls.dir, cls.certs)
            try:
                cls.net.register("acct", PASSWORD)
                fp = cls.certs.fingerprint("client.pem").replace(":", "").lower()
                cls.net.register("certacct", "Other-Pw-99", fp)
            except BaseException:
                cls.tearDownClass()
                raise

    @classmethod
    def tearDownClass(cls):
        if cls.net:
            cls.net.stop()
        shutil.rmtree(cls.dir, ignore_errors=True)

    def setUp(self):
        require_services(self)

    def client(self, args, ini):
        c = Client(args, IDENTITY + ini)
        self.addCleanup(c.kill)
        return c

    def test_plain_logs_in_and_the_password_is_never_written(self):
        c = self.client([], sasl_section("PLAIN", "acct", PASSWORD))
        c.type("/debug on")
        c.expect(r"debug\.log is ON", 10)
        c.type("/log on")
        c.type("/server 127.0.0.1 %d" % self.net.port)
        c.expect(r"^\*\*\* SASL: logged in as acct$", 20)
        c.expect(r"Welcome", 15)
        # A raw exchange typed by hand is masked in the debug log as well.
        c.type("/quote AUTHENTICATE " + base64.b64encode(PASSWORD.encode()).decode())
        c.caught_up()
        c.type("/exit")
        c.proc.wait(timeout=15)  # the logs are complete once the program has ended
        secrets = [PASSWORD.encode(), base64.b64encode(b"acct\0acct\0" + PASSWORD.encode()),
                   base64.b64encode(PASSWORD.encode())]
        self.assertFalse([line for line in c.seen
                          if any(secret.decode() in line for secret in secrets)])
        written = 0
        for folder, _, files in os.walk(c.dir):
            for name in files:
                if name == "vesk.ini":
                    continue
                with open(os.path.join(folder, name), "rb") as f:
                    data = f.read()
                written += len(data)
                for secret in secrets:
                    self.assertNotIn(secret, data, name)
        self.assertGreater(written, 0)

    def test_wrong_password_refused_and_required_disconnects(self):
        for required in (0, 1):
            with self.subTest(required=required):
                c = self.client(["-s", "127.0.0.1:%d" % self.net.port],
                                sasl_section("PLAIN", "acct", "not-the-password", required))
                text = c.expect(r"^\*\*\* SASL authentication failed: ", 20)
                self.assertIn("SASL authentication failed", text.split(": ", 1)[1])
                if required:
                    self.assertRegex(text, r"; disconnecting \(required=1 in section \[SASL\]\)$")
                    self.assertTrue(c.absent(r"Welcome", 2.0))
                    c.type("/echo still-alive")
                    c.expect(r"still-alive", 10)
                else:
                    self.assertTrue(text.endswith("; going on without logging in"))
                    c.expect(r"Welcome", 15)

    def test_external_logs_in_with_the_client_certificate(self):
        c = self.client(["-s", "127.0.0.1:+%d" % self.net.tls_port],
                        sasl_section("EXTERNAL", required=1) +
                        "[TLS]\ncafile=%s\ncertfile=%s\n" % (self.certs.path("ca.pem"),
                                                            self.certs.path("client-both.pem")))
        c.expect(r"^\*\*\* TLS connection: ", 15)
        c.expect(r"^\*\*\* SASL: logged in as certacct$", 20)
        c.expect(r"Welcome", 15)


class SaslExchangeTests(unittest.TestCase):
    """The scripted server's side of the exchange."""

    def test_help_describes_the_section(self):
        c = Client([], IDENTITY)
        self.addCleanup(c.kill)
        c.type("/help sasl")
        for key in ("mechanism=NAME", "user=NAME", "password=TEXT", "required=0|1",
                    "timeout=SECONDS"):
            c.expect(r"^\s+" + re.escape(key), 10, window="Help")

    def start(self, ini):
        srv = ScriptedServer()
        self.addCleanup(srv.stop)
        c = Client(["-s", "127.0.0.1:%d" % srv.port], IDENTITY + ini)
        self.addCleanup(c.kill)
        peer = srv.accept(10)
        self.assertEqual(peer.read_line(10), "CAP LS 302\r")
        return c, peer

    def next_command(self, peer):
        """The next line that is not part of the logon (NICK, USER)."""
        while True:
            line = peer.read_line(10).rstrip("\r")
            if not line.startswith(("NICK ", "USER ")):
                return line

    def test_long_credentials_go_in_pieces_and_cap_end_waits_for_the_result(self):
        password = "p" * 500  # 510 raw bytes: 680 base64 bytes, two pieces
        c, peer = self.start(sasl_section("PLAIN", "longuser", password))
        peer.send(":s CAP * LS :server-time sasl\r\n")
        self.assertEqual(self.next_command(peer), "CAP REQ :server-time sasl")
        peer.send(":s CAP * ACK :server-time sasl\r\n")
        self.assertEqual(self.next_command(peer), "AUTHENTICATE PLAIN")
        peer.send("AUTHENTICATE +\r\n")
        pieces = [self.next_command(peer), self.next_command(peer)]
        encoded = base64.b64encode(b"longuser\0longuser\0" + password.encode()).decode()
        self.assertEqual(pieces, ["AUTHENTICATE " + encoded[:400], "AUTHENTICATE " + encoded[400:]])
        self.assertTrue(c.absent(r"CAP END", 0.5))
        peer.send(":s 900 tester tester!u@h longuser :You are now logged in as longuser\r\n"
                  ":s 903 tester :SASL authentication successful\r\n")
        self.assertEqual(self.next_command(peer), "CAP END")
        c.expect(r"^\*\*\* SASL: logged in as longuser$", 10)
        # A later login through the services is not called a SASL one.
        peer.send(":s 001 tester :Welcome\r\n"
                  ":s 900 tester tester!u@h other :You are now logged in as other\r\n")
        c.expect(r"^\*\*\* Logged in as other$", 10)
        self.assertFalse([line for line in c.seen if password in line or encoded[:40] in line])

    def test_exchanges_that_never_end_are_stopped(self):
        cases = [
            # name, ini, what the server does after AUTHENTICATE PLAIN, message, disconnects
            ("silent", sasl_section("PLAIN", "u", "pw", 0, timeout=2), None,
             r"^\*\*\* SASL authentication did not finish in 2 seconds; going on", False),
            ("silent, required", sasl_section("PLAIN", "u", "pw", 1, timeout=2), None,
             r"^\*\*\* SASL authentication did not finish in 2 seconds; disconnecting", True),
            ("endless challenges", sasl_section("PLAIN", "u", "pw", 0), "AUTHENTICATE +\r\n" * 5,
             r"^\*\*\* SASL authentication aborted: ", False),
        ]
        for name, ini, reply, message, disconnects in cases:
            with self.subTest(name):
                c, peer = self.start(ini)
                peer.send(":s CAP * LS :sasl=PLAIN,EXTERNAL\r\n")
                self.assertEqual(self.next_command(peer), "CAP REQ :sasl")
                peer.send(":s CAP * ACK :sasl\r\n")
                self.assertEqual(self.next_command(peer), "AUTHENTICATE PLAIN")
                started = time.monotonic()
                if reply:
                    peer.send(reply)
                    self.assertRegex(self.next_command(peer), r"^AUTHENTICATE [A-Za-z0-9+/=]+$")
                c.expect(message, 15)
                self.assertLess(time.monotonic() - started, 10)
                self.assertEqual(self.next_command(peer), "AUTHENTICATE *")
                if disconnects:
                    self.assertEqual(self.next_command(peer), "QUIT :SASL authentication failed")
                else:
                    self.assertEqual(self.next_command(peer), "CAP END")
                c.type("/echo still-alive")
                c.expect(r"still-alive", 10)

    def test_login_not_possible(self):
        cases = [
            # name, ini, server lines, message; required=1 always disconnects
            ("mechanism not offered", sasl_section("PLAIN", "u", "pw", 1),
             ":s CAP * LS :sasl=EXTERNAL,SCRAM-SHA-256\r\n",
             r"^\*\*\* SASL not possible: the server offers SASL EXTERNAL,SCRAM-SHA-256, not "
             r"PLAIN; disconnecting"),
            ("no sasl capability", sasl_section("PLAIN", "u", "pw", 1),
             ":s CAP * LS :server-time\r\n",
             r"^\*\*\* SASL not possible: the server does not offer it; disconnecting"),
            ("no capabilities at all", sasl_section("EXTERNAL", required=1),
             ":s 421 tester CAP :Unknown command\r\n:s 001 tester :Welcome here\r\n",
             r"^\*\*\* SASL not possible: the server registered us without it; disconnecting"),
            ("password missing", sasl_section("PLAIN", "u", "", 1),
             ":s CAP * LS :sasl\r\n",
             r"^\*\*\* SASL PLAIN needs user= and password= in section \[SASL\]; disconnecting"),
        ]
        for name, ini, lines, message in cases:
            with self.subTest(name):
                c, peer = self.start(ini)
                peer.send(lines)
                if "needs user=" in message:
                    self.assertEqual(self.next_command(peer), "CAP REQ :sasl")
                    peer.send(":s CAP * ACK :sasl\r\n")
                c.expect(message, 10)
                self.assertEqual(self.next_command(peer), "QUIT :SASL authentication failed")
                self.assertTrue(c.absent(r"Welcome", 0.5))


if __name__ == "__main__":
    unittest.main()
