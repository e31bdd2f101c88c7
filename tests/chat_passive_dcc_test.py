"""End-to-end tests of passive (reverse) DCC sends, driven headless through ngircd.

Passive offers name port 0 and a token: the receiver listens and answers with its own address,
a port and the same token, and the sender connects. Two vesk32 processes send to each other
both ways; a test-written peer checks the exact lines on the wire and plays the other side.
Every wait is bounded.
"""
import os
import re
import shutil
import socket
import subprocess
import sys
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import chat_connection_test as base  # noqa: E402
from chat_dcc_test import DccBase, make_file, sha, wait_for  # noqa: E402
from chat_net_test import recv_exact  # noqa: E402
from chat_parser_server_test import IrcPeer  # noqa: E402

CI = bool(os.environ.get("CI"))
IRSSI = shutil.which("irssi")
TMUX = shutil.which("tmux")


def ctcp_from(peer, pattern, timeout=10.0):
    """The next CTCP that the peer gets whose text matches; the match."""
    rx = re.compile(pattern)
    deadline = time.monotonic() + base.slack(timeout)
    while True:
        line = peer.peer.line_by(deadline).rstrip("\r")
        if line.startswith("PING"):
            peer.send("PONG" + line[4:] + "\r\n")
        m = rx.search(line)
        if m:
            return m


def address_number(host):
    return int.from_bytes(socket.inet_aton(host), "big")


@unittest.skipUnless(base.NGIRCD or CI, "ngircd is not installed")
class PassiveDcc(DccBase):
    def test_passive_sends_both_ways_between_two_clients(self):
        a, b = self.vesk("alice"), self.vesk("bob")
        src = self.folder("src")
        for size in (0, 4097, 300000):
            for x, y in ((a, b), (b, a)):
                name = "p%d-%s.bin" % (size, x.nick)
                path = make_file(os.path.join(src, name), size, seed=size + 1)
                x.type("/dcc send -p %s %s" % (y.nick, path))
                x.expect(r"^Waiting for the receiver to answer \(passive DCC\)\.\.\.$",
                         window="Send %s %s" % (y.nick, name))
                shown = "%d bytes" % size if size else r"\[unknown\]"  # 0: no size given
                y.expect(r"^\*\*\* %s wants to send you: %s \(%s\)" % (x.nick, name, shown),
                         timeout=10)
                y.type("/dcc get %s" % x.nick)
                get = "Get %s %s" % (x.nick, name)
                y.expect(r"^Waiting for the sender to connect \(passive DCC\)\.\.\.$", window=get)
                y.expect(r"^DCC Get completed", window=get, timeout=30)
                x.expect(r"^DCC Send completed$", window="Send %s %s" % (y.nick, name),
                         timeout=30)
                self.assertEqual(sha(os.path.join(y.getdir, name)), sha(path), name)

    def test_the_exchange_on_the_wire(self):
        alice = self.vesk("alice")
        mallory = IrcPeer(self.port, "mallory")
        self.addCleanup(mallory.close)
        payload = bytes((i * 13 + 5) & 255 for i in range(70000))

        # Mallory offers passively; alice's /dcc get listens and answers with the token.
        mallory.send("PRIVMSG alice :\x01DCC SEND in.bin 16843009 0 %d 4242\x01\r\n"
                     % len(payload))
        alice.expect(r"^\*\*\* mallory wants to send you: in\.bin \(70000 bytes\)", timeout=10)
        alice.type("/dcc get mallory")
        m = ctcp_from(mallory, r"\x01DCC SEND in\.bin (\d+) (\d+) 70000 4242\x01")
        self.assertEqual(int(m.group(1)), address_number("127.0.0.1"))
        with socket.create_connection(("127.0.0.1", int(m.group(2))), timeout=10) as conn:
            conn.sendall(payload)
            acked = 0
            while acked < len(payload):
                acked = int.from_bytes(recv_exact(conn, 4), "big")
        alice.expect(r"^DCC Get completed", window="Get mallory in.bin", timeout=20)
        with open(os.path.join(alice.getdir, "in.bin"), "rb") as f:
            self.assertEqual(f.read(), payload)

        # Alice offers passively; mallory listens and answers; alice connects and sends.
        path = os.path.join(self.folder("src"), "out.bin")
        with open(path, "wb") as f:
            f.write(payload[:5000])
        alice.type("/dcc send -p mallory %s" % path)
        m = ctcp_from(mallory, r"\x01DCC SEND out\.bin (\d+) 0 5000 (\d+)\x01")
        token = m.group(2)
        listener = socket.socket()
        listener.bind(("127.0.0.1", 0))
        listener.listen(1)
        listener.settimeout(base.slack(10))
        self.addCleanup(listener.close)
        # An answer with another token is a new offer, not the answer: alice does not connect.
        mallory.send("PRIVMSG alice :\x01DCC SEND out.bin %d %d 5000 %d\x01\r\n"
                     % (address_number("127.0.0.1"), listener.getsockname()[1], int(token) + 1))
        alice.expect(r"^\*\*\* mallory wants to send you: out\.bin", timeout=10)
        mallory.send("PRIVMSG alice :\x01DCC SEND out.bin %d %d 5000 %s\x01\r\n"
                     % (address_number("127.0.0.1"), listener.getsockname()[1], token))
        conn, _ = listener.accept()
        with conn:
            conn.settimeout(base.slack(10))
            got = b""
            while len(got) < 5000:
                data = conn.recv(65536)
                if not data:
                    break
                got += data
                conn.sendall(len(got).to_bytes(4, "big"))
        self.assertEqual(got, payload[:5000])
        alice.expect(r"^DCC Send completed$", window="Send mallory out.bin", timeout=20)


@unittest.skipUnless((base.NGIRCD and IRSSI and TMUX) or CI, "ngircd, irssi or tmux is missing")
class PassiveWithIrssi(DccBase):
    """irssi's -passive sends and its answers to ours (irssi runs in a private tmux server)."""

    def setUp(self):
        super().setUp()
        self.home = self.folder("irssi")
        self.got = self.folder("irssi-get")
        self.socket = os.path.join(self.dir, "tmux.sock")
        subprocess.run([TMUX, "-S", self.socket, "new-session", "-d", "-x", "160", "-y", "50",
                        "%s --home=%s -n ivan" % (IRSSI, self.home)], check=True, timeout=10)
        try:
            wait_for(lambda: "Irssi" in self.screen(), 10, "irssi's screen")
        except BaseException:
            self.tearDown()
            raise

    def tearDown(self):
        # Before the folder with the tmux socket goes, or the tmux server and irssi stay.
        subprocess.run([TMUX, "-S", self.socket, "kill-server"], stderr=subprocess.DEVNULL,
                       timeout=10)
        super().tearDown()

    def screen(self):
        return subprocess.run([TMUX, "-S", self.socket, "capture-pane", "-p", "-S", "-200"],
                              capture_output=True, text=True, timeout=10).stdout

    def irssi(self, line):
        subprocess.run([TMUX, "-S", self.socket, "send-keys", "-l", line], check=True, timeout=10)
        subprocess.run([TMUX, "-S", self.socket, "send-keys", "Enter"], check=True, timeout=10)

    def test_passive_sends_both_ways_with_irssi(self):
        a = self.vesk("alice")
        self.irssi("/set dcc_download_path %s" % self.got)
        self.irssi("/connect 127.0.0.1 %d" % self.port)
        wait_for(lambda: "Welcome" in self.screen(), 15, "irssi on the server")
        src = self.folder("src")
        for size in (1, 4097, 300000):
            # Our passive offer: irssi's /dcc get listens and answers; we connect.
            name = "to-irssi-%d.bin" % size
            path = make_file(os.path.join(src, name), size, seed=size + 2)
            a.type("/dcc send -p ivan %s" % path)
            wait_for(lambda: name in self.screen(), 10, "irssi seeing the offer")
            # irssi shows the offer a moment before it can take a /dcc get for it; on a busy
            # machine the first get may find nothing, so it is typed again (a second get of
            # an offer already taken changes nothing).
            for attempt in range(3):
                self.irssi("/dcc get alice %s" % name)
                try:
                    a.expect(r"^DCC Send completed$", window="Send ivan %s" % name, timeout=10)
                    break
                except AssertionError:
                    if attempt == 2:
                        raise AssertionError("no send completed; irssi shows:\n" + self.screen())
            got = os.path.join(self.got, name)
            wait_for(lambda: os.path.exists(got) and os.path.getsize(got) == size, 10, name)
            self.assertEqual(sha(got), sha(path))
            # irssi's passive offer: our /dcc get listens and answers; irssi connects.
            name = "from-irssi-%d.bin" % size
            path = make_file(os.path.join(src, name), size, seed=size + 3)
            self.irssi("/dcc send -passive alice %s" % path)
            a.expect(r"^\*\*\* ivan wants to send you: %s \(%d bytes\)" % (name, size),
                     timeout=10)
            a.type("/dcc get ivan")
            a.expect(r"^DCC Get completed", window="Get ivan %s" % name, timeout=30)
            self.assertEqual(sha(os.path.join(a.getdir, name)), sha(path))


if __name__ == "__main__":
    unittest.main()
