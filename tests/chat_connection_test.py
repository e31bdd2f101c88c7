"""End-to-end tests of the chat client's server connection, driven headless.

A scripted IRC server written here plays the peer on a loopback port; a real ngircd is started
with a temporary configuration for the last group of tests. Every wait is bounded.
"""
import os
import queue
import re
import shutil
import socket
import subprocess
import sys
import tempfile
import threading
import time
import unittest

sys.path.insert(0, os.path.join(os.environ.get("SOURCE_DIR", os.path.join(os.path.dirname(
    os.path.abspath(__file__)), "..")), "platform", "tui", "demo"))
from tmux_harness import slack  # noqa: E402  (how far a deadline stretches on a slow machine)

VESK32 = os.environ.get("VESK32", "build/chat/vesk32")


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class Peer:
    """One accepted connection of the scripted server."""

    def __init__(self, sock):
        self.sock = sock
        self.buf = b""
        self.accepted_at = time.monotonic()

    def read_line(self, timeout=5.0):
        return self.line_by(time.monotonic() + slack(timeout))

    def line_by(self, deadline):
        """The next line, waiting until the monotonic time `deadline` at most."""
        while b"\n" not in self.buf:
            left = deadline - time.monotonic()
            if left <= 0:
                raise AssertionError("no line from the client; have %r" % self.buf)
            self.sock.settimeout(left)
            try:
                data = self.sock.recv(65536)
            except socket.timeout:
                continue
            if not data:
                raise AssertionError("client closed; have %r" % self.buf)
            self.buf += data
        line, self.buf = self.buf.split(b"\n", 1)
        return line.decode("utf-8", "replace")

    def read_until(self, prefix, timeout=5.0):
        deadline = time.monotonic() + slack(timeout)
        while True:
            line = self.line_by(deadline)
            if line.startswith(prefix):
                return line

    def send(self, data):
        self.sock.sendall(data if isinstance(data, bytes) else data.encode())

    def close(self):
        try:
            self.sock.close()
        except OSError:
            pass


class ScriptedServer:
    """Listens on a loopback port and hands out accepted connections in order."""

    def __init__(self, rcvbuf=None):
        self.sock = socket.socket()
        self.sock.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        if rcvbuf:
            self.sock.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, rcvbuf)
        self.sock.bind(("127.0.0.1", 0))
        self.sock.listen(8)
        self.port = self.sock.getsockname()[1]
        self.peers = queue.Queue()
        self.accepted = []
        self.running = True
        self.thread = threading.Thread(target=self._run, daemon=True)
        self.thread.start()

    def _run(self):
        self.sock.settimeout(0.1)
        while self.running:
            try:
                conn, _ = self.sock.accept()
            except socket.timeout:
                continue
            except OSError:
                return
            peer = Peer(conn)
            self.accepted.append(peer)
            self.peers.put(peer)

    def accept(self, timeout=5.0):
        try:
            return self.peers.get(timeout=slack(timeout))
        except queue.Empty:
            raise AssertionError("no connection on port %d" % self.port)

    def no_connection_within(self, seconds):
        try:
            self.peers.get(timeout=seconds)
        except queue.Empty:
            return True
        return False

    def stop(self):
        self.running = False
        self.sock.close()
        for p in self.accepted:
            p.close()


class Client:
    """vesk32 --headless with its own settings folder; stdout lines are collected."""

    def __init__(self, args, ini="", env_extra=None):
        self.dir = tempfile.mkdtemp(prefix="vesk-test-")
        os.makedirs(os.path.join(self.dir, "vesk32"))
        with open(os.path.join(self.dir, "vesk32", "vesk.ini"), "w") as f:
            f.write(ini)
        # Logs and received files stay inside the test's folder too.
        env = dict(os.environ, XDG_CONFIG_HOME=self.dir,
                   XDG_STATE_HOME=os.path.join(self.dir, "state"),
                   XDG_DOWNLOAD_DIR=os.path.join(self.dir, "downloads"))
        env.update(env_extra or {})
        self.stderr = open(os.path.join(self.dir, "stderr"), "wb")
        self.proc = subprocess.Popen([VESK32, "--headless"] + args, stdin=subprocess.PIPE,
                                     stdout=subprocess.PIPE, stderr=self.stderr, env=env)
        self.lines = queue.Queue()
        self.seen = []
        threading.Thread(target=self._read, daemon=True).start()

    def _read(self):
        for raw in self.proc.stdout:
            self.lines.put(raw.decode("utf-8", "replace").rstrip("\n"))
        self.lines.put(None)

    def expect(self, pattern, timeout=5.0, window="Status Window"):
        """Waits for a line of `window` whose text matches the regular expression."""
        return self.expect_by(pattern, time.monotonic() + slack(timeout), window)

    def expect_by(self, pattern, deadline, window="Status Window"):
        """As expect, waiting until the monotonic time `deadline` at most."""
        rx = re.compile(pattern)
        while True:
            left = deadline - time.monotonic()
            if left <= 0:
                raise AssertionError("no line matching %r; saw:\n%s" % (pattern, "\n".join(self.seen)))
            try:
                line = self.lines.get(timeout=left)
            except queue.Empty:
                continue
            if line is None:
                raise AssertionError("client ended; saw:\n%s" % "\n".join(self.seen))
            self.seen.append(line)
            name, _, text = line.partition("\t")
            if name == window and rx.search(text):
                return text

    def absent(self, pattern, seconds):
        """True when no line matching the pattern arrives within the time."""
        try:
            self.expect_by(pattern, time.monotonic() + seconds)
        except AssertionError:
            return True
        return False

    def type(self, line):
        self.proc.stdin.write((line + "\n").encode())
        self.proc.stdin.flush()

    def caught_up(self, timeout=5.0):
        """Waits until every line typed so far has been taken: typed lines are taken in order,
        so an echo typed behind them shows once they are. Whatever another process or the
        server sees next comes after them."""
        self.marks = getattr(self, "marks", 0) + 1
        self.type("/echo caught-up-%d" % self.marks)
        self.expect(r"^caught-up-%d$" % self.marks, timeout)

    def finish(self, timeout=10.0):
        try:
            self.proc.stdin.close()
        except OSError:
            pass
        try:
            return self.proc.wait(timeout=slack(timeout))
        finally:
            self.kill()

    def kill(self):
        if self.proc.poll() is None:
            self.proc.kill()
            self.proc.wait()
        for f in (self.proc.stdin, self.proc.stdout, self.stderr):
            try:
                f.close()
            except OSError:
                pass
        shutil.rmtree(self.dir, ignore_errors=True)


IDENTITY = "[Vesk]\nnick=tester\nanick=tester_\nuser=Joe Tester\nemail=joe@example.org\n"


def options(**fields):
    """A settings "Options" section setting positional fields by (key, index)."""
    keys = {"options": 26, "options2": 22, "options3": 25, "options4": 29, "options5": 20}
    text = "[Options]\n"
    for key, values in fields.items():
        row = [""] * keys[key]
        for index, value in values.items():
            row[index - 1] = str(value)
        text += "%s=%s\n" % (key, ",".join(row))
    return text


def welcome(peer, nick="tester"):
    peer.read_until("USER ")
    peer.send(":srv 001 %s :Welcome-token\r\n" % nick)


class ScriptedServerTests(unittest.TestCase):
    def setUp(self):
        self.servers = []
        self.clients = []

    def tearDown(self):
        for c in self.clients:
            c.kill()
        for s in self.servers:
            s.stop()

    def server(self, **kw):
        s = ScriptedServer(**kw)
        self.servers.append(s)
        return s

    def client(self, args, ini=IDENTITY):
        c = Client(args, ini)
        self.clients.append(c)
        return c

    def test_logon_lines_stream_cutting_ping_and_quit(self):
        srv = self.server()
        ini = IDENTITY + "host=TestSERVER:127.0.0.1:%d:secret\n" % srv.port + options(options={1: 1})
        c = self.client([], ini)
        peer = srv.accept()
        # Capabilities are asked for first; a server that does not know CAP ignores it.
        self.assertEqual(peer.read_line(), "CAP LS 302\r")
        self.assertEqual(peer.read_line(), "PASS secret\r")
        self.assertEqual(peer.read_line(), "NICK tester\r")
        self.assertRegex(peer.read_line(), r'^USER joe "[^"]+" "127\.0\.0\.1" :Joe Tester\r$')
        c.expect(r"^\*\*\* Connecting to 127\.0\.0\.1 \(%d\)$" % srv.port)

        # A line cut across reads waits for its end; several lines in one read all arrive.
        peer.send(":srv 001 tester :Wel")
        time.sleep(0.2)
        peer.send("come-one\r\n:srv 002 tester :second-line\r\n:srv 003 tester :third-line\r\n")
        c.expect(r"Welcome-one")
        c.expect(r"second-line")
        c.expect(r"third-line")

        peer.send("PING :token123\r\n")
        self.assertEqual(peer.read_until("PONG"), "PONG :token123\r")
        c.expect(r"^PING\? PONG!$")

        # An overlong line passes its first 680 characters; the rest is never a line.
        head = ":srv 372 tester :"
        peer.send(head + "y" * 700 + " :smuggler!x@y PRIVMSG #c :smuggled\r\n:srv 372 tester :after-it\r\n")
        text = c.expect(r"yyyy")
        self.assertEqual(len(re.search(r"y+", text).group(0)), 680 - len(head))
        c.expect(r"after-it")
        self.assertNotIn("smuggled", "\n".join(c.seen))

        # Entered lines: a command goes raw; CR, LF and NUL never reach the wire.
        c.type("/privmsg bob :hi there")
        self.assertEqual(peer.read_line(), "PRIVMSG bob :hi there\r")
        c.type("plain text in the status window")
        c.expect(r"not on a channel")

        peer.send(":srv 372 tester :\x03" "4colour\x02 and \x07bell\r\n")
        c.expect(r"colour and bell$")

        self.assertEqual(c.finish(), 0)
        self.assertEqual(peer.read_until("QUIT"), "QUIT :Leaving\r")

    def test_refused_connection(self):
        port = free_port()
        c = self.client(["-s", "127.0.0.1:%d" % port])
        c.expect(r"^\*\*\* Unable to connect to IRC server$")
        c.expect(r"^\*\*\* \[10061\] Connection refused$")
        self.assertEqual(c.finish(), 0)

    def test_silent_servers_time_out_and_retry_through_the_group(self):
        a, b = self.server(), self.server()
        ini = (IDENTITY + "[Servers]\nsv0=ASERVER:127.0.0.1:%dGROUP:grp\n" % a.port +
               "sv1=OtherSERVER:127.0.0.1:1\nsv2=BSERVER:127.0.0.1:%dGROUP:grp\n" % b.port +
               "[Connection]\nretrydelay=100\n" + options(options5={15: 1, 16: 2, 17: 1}))
        c = self.client(["-s", "grp"], ini)
        c.expect(r"^\*\*\* Connecting to 127\.0\.0\.1 \(%d\)$" % a.port)
        a.accept(3)
        c.expect(r"^\*\*\* Connection attempt timed out\.\.\.$", timeout=4)
        c.expect(r"^\*\*\* Connect retry #1 \(127\.0\.0\.1\)$")
        b.accept(3)
        c.expect(r"^\*\*\* Connection attempt timed out\.\.\.$", timeout=4)
        c.expect(r"^\*\*\* Connect retry #2 \(127\.0\.0\.1\)$")
        a.accept(3)
        c.expect(r"^\*\*\* Connection attempt timed out\.\.\.$", timeout=4)
        self.assertTrue(c.absent(r"retry #3", 2.0))
        self.assertTrue(a.no_connection_within(0.1) and b.no_connection_within(0.1))
        self.assertEqual(c.finish(), 0)

    def test_time_out_applies_with_retries_off(self):
        srv = self.server()
        c = self.client(["-s", "127.0.0.1:%d" % srv.port], IDENTITY + options(options5={17: 1}))
        srv.accept(3)
        c.expect(r"^\*\*\* Connection attempt timed out\.\.\.$", timeout=4)
        self.assertTrue(c.absent(r"retry", 1.5))
        self.assertTrue(srv.no_connection_within(0.1))
        self.assertEqual(c.finish(), 0)

    def test_dropped_connection_reconnects_with_back_off(self):
        srv = self.server()
        ini = IDENTITY + "[Connection]\nreconnectdelay=1\nreconnectmax=8\n" + options(options4={5: 1})
        c = self.client(["-s", "127.0.0.1:%d" % srv.port], ini)
        first = srv.accept()
        first.read_until("USER ")
        first.send(":srv NOTICE AUTH :hello-first\r\n")
        c.expect(r"hello-first")
        # The wait is timed from the close: the line saying it may be read late on a busy
        # machine, but the new connection cannot come sooner than the wait after the close.
        closed = time.monotonic()
        first.close()
        c.expect(r"^\*\*\* Disconnected$")
        c.expect(r"^\*\*\* Reconnecting in 1 seconds\.\.\.$")
        second = srv.accept(4)
        self.assertGreaterEqual(second.accepted_at - closed, 0.9)
        second.read_until("NICK tester")
        second.read_until("USER ")
        second.send(":srv NOTICE AUTH :hello-again\r\n")
        c.expect(r"hello-again")
        second.close()
        c.expect(r"^\*\*\* Reconnecting in 2 seconds\.\.\.$")
        third = srv.accept(5)
        welcome(third)
        c.expect(r"Welcome-token")
        third.close()
        # The welcome started the wait over.
        c.expect(r"^\*\*\* Reconnecting in 1 seconds\.\.\.$")
        srv.accept(4)
        self.assertEqual(c.finish(), 0)

    def test_dropped_connection_without_reconnect(self):
        srv = self.server()
        c = self.client(["-s", "127.0.0.1:%d" % srv.port])
        peer = srv.accept()
        welcome(peer)
        c.expect(r"Welcome-token")
        peer.close()
        c.expect(r"^\*\*\* Disconnected$")
        self.assertTrue(srv.no_connection_within(2.0))
        self.assertEqual(c.finish(), 0)

    def test_queue_drains_in_order_when_the_server_reads_late(self):
        srv = self.server(rcvbuf=4096)
        c = self.client(["-s", "127.0.0.1:%d" % srv.port])
        peer = srv.accept()
        welcome(peer)
        c.expect(r"Welcome-token")
        count = 4000
        payload = "z" * 300
        for i in range(count):
            c.type("/privmsg #q :%05d %s" % (i, payload))
        time.sleep(1.0)  # the client's socket is full by now; the rest waits in its queue
        for i in range(count):
            line = peer.read_until("PRIVMSG", timeout=10)
            self.assertEqual(line, "PRIVMSG #q :%05d %s\r" % (i, payload))
        self.assertEqual(c.finish(), 0)


NGIRCD = shutil.which("ngircd")


@unittest.skipUnless(NGIRCD or os.environ.get("CI"), "ngircd is not installed")
class NgircdTests(unittest.TestCase):
    def start_ngircd(self, port):
        conf = os.path.join(self.dir, "ngircd.conf")
        # The server pings whoever has been quiet for 2 seconds, so a ping comes soon. It waits
        # long for the answer: the tests' own small clients answer only while a test reads
        # them, and a busy machine may keep a test away from one for a while.
        with open(conf, "w") as f:
            f.write("[Global]\n  Name = irc.localhost\n  Info = test\n  Listen = 127.0.0.1\n"
                    "  Ports = %d\n  PidFile = %s/pid\n  MotdPhrase = Welcome here.\n"
                    "[Limits]\n  PingTimeout = 2\n  PongTimeout = 120\n"
                    "[Options]\n  Ident = no\n  PAM = no\n  DNS = no\n" % (port, self.dir))
        proc = subprocess.Popen([NGIRCD, "-n", "-f", conf], stdout=subprocess.DEVNULL,
                                stderr=subprocess.DEVNULL)
        deadline = time.monotonic() + slack(5)
        while time.monotonic() < deadline:
            try:
                socket.create_connection(("127.0.0.1", port), timeout=0.2).close()
                return proc
            except OSError:
                time.sleep(0.05)
        proc.kill()
        self.fail("ngircd did not start")

    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="vesk-ngircd-")
        self.procs = []

    def tearDown(self):
        for p in self.procs:
            if p.poll() is None:
                p.kill()
                p.wait()
        shutil.rmtree(self.dir, ignore_errors=True)

    def test_welcome_ping_and_surviving_a_restart(self):
        port = free_port()
        self.procs.append(self.start_ngircd(port))
        ini = "[Connection]\nreconnectdelay=1\n" + options(options4={5: 1})
        c = Client(["-s", "127.0.0.1:%d" % port, "-n", "newcomer"], ini)
        try:
            c.expect(r"Welcome to the Internet Relay Network newcomer")
            c.expect(r"^PING\? PONG!$", timeout=10)
            self.procs[0].terminate()
            self.procs[0].wait(5)
            c.expect(r"^\*\*\* Disconnected$")
            self.procs.append(self.start_ngircd(port))
            c.expect(r"Welcome to the Internet Relay Network newcomer", timeout=15)
            self.assertEqual(c.finish(), 0)
        finally:
            c.kill()


if __name__ == "__main__":
    unittest.main()
