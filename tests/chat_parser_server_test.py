"""End-to-end tests of the chat client's server message parser, driven headless.

A scripted server on loopback sends captured and hostile lines; a real ngircd with two small
Python clients plays a channel. What vesk32 shows is read from its standard output
("window<TAB>text"); its nick lists from standard error ("nicklist<TAB>channel<TAB>entries").
"""
import os
import re
import shutil
import socket
import subprocess
import sys
import tempfile
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import chat_connection_test as base  # noqa: E402  (the scripted server and the client driver)


class Vesk(base.Client):
    """The headless client with its nick lists read back from standard error."""

    def nicklist(self, channel):
        self.stderr.flush()
        last = None
        with open(os.path.join(self.dir, "stderr"), "rb") as f:
            for raw in f:
                parts = raw.decode("utf-8", "replace").rstrip("\n").split("\t")
                if len(parts) == 3 and parts[0] == "nicklist" and parts[1] == channel:
                    last = parts[2].split(" ") if parts[2] else []
        return last

    def expect_nicks(self, channel, nicks, timeout=5.0):
        deadline = time.monotonic() + base.slack(timeout)
        while time.monotonic() < deadline:
            if self.nicklist(channel) == nicks:
                return
            time.sleep(0.05)
        self.fail_nicks(channel, nicks)

    def fail_nicks(self, channel, nicks):
        raise AssertionError("nick list of %s is %r, wanted %r" % (channel, self.nicklist(channel), nicks))


class ScriptedServerParserTests(unittest.TestCase):
    def setUp(self):
        self.srv = base.ScriptedServer()
        ini = base.IDENTITY + "host=TestSERVER:127.0.0.1:%d\n" % self.srv.port + base.options(options={1: 1})
        self.c = Vesk([], ini)
        self.peer = self.srv.accept()

    def tearDown(self):
        self.c.kill()
        self.srv.stop()

    def logon(self):
        p = self.peer
        p.read_until("USER ")
        # The nickname is taken: the alternate goes out once.
        p.send("@time=2024-05-01T10:00:00.000Z :irc.test 433 * tester :Nickname is already in use\r\n")
        self.assertEqual(p.read_until("NICK"), "NICK :tester_\r")
        p.send(":irc.test 001 tester_ :Welcome to the Test network tester_\r\n"
               ":irc.test 005 tester_ PREFIX=(ov)@+ CHANMODES=b,k,l,imnpst :are supported\r\n"
               ":irc.test 375 tester_ :- irc.test Message of the day -\r\n"
               ":irc.test 372 tester_ :- hello\r\n"
               ":irc.test 376 tester_ :End of /MOTD command.\r\n")
        self.c.expect(r"^Welcome to the Test network tester_$")
        self.c.expect(r"^End of /MOTD command\.$")

    def test_channel_session_as_the_user_sees_it(self):
        c, p = self.c, self.peer
        self.logon()
        c.type("/join #t")
        self.assertEqual(p.read_until("JOIN"), "JOIN #t\r")
        p.send(":tester_!u@h JOIN :#t\r\n:irc.test 332 tester_ #t :The topic\r\n"
               ":irc.test 353 tester_ = #t :@op +v tester_ zed Alpha\r\n"
               ":irc.test 366 tester_ #t :End of /NAMES list.\r\n")
        c.expect(r"^\*\*\* Now talking in #t$", window="#t")
        self.assertEqual(p.read_until("MODE"), "MODE #t\r")
        c.expect_nicks("#t", ["@op", "+v", "Alpha", "tester_", "zed"])

        steps = [
            (":bob!b@x.org JOIN #t", "#t", r"^\*\*\* bob \(b@x\.org\) has joined #t$"),
            ("@msgid=1 :bob!b@x.org PRIVMSG #t :hello all", "#t", r"^<bob> hello all$"),
            (":bob!b@x.org PRIVMSG #t :\x01ACTION waves\x01", "#t", r"^\* bob waves$"),
            (":bob!b@x.org NOTICE #t :note", "#t", r"^-bob:#t- note$"),
            (":op!o@y MODE #t +o-v+l bob v 10", "#t", r"^\*\*\* op sets #t mode: \+o-v\+l bob v 10$"),
            (":bob!b@x.org NICK bobby", "#t", r"^\*\*\* bob is now known as bobby$"),
            (":op!o@y TOPIC #t :new topic", "#t", r'^\*\*\* op changes topic to "new topic"$'),
            (":op!o@y KICK #t zed :behave", "#t", r"^\*\*\* zed was kicked by op \(behave\)$"),
            (":bobby!b@x.org PART #t :bye", "#t", r"^\*\*\* bobby \(b@x\.org\) has left #t$"),
            (":v!v@v QUIT :gone", "Status Window", r"^\*\*\* v \(v@v\) Quit \(gone\)$"),
            (":bob!b@x.org PRIVMSG tester_ :private hi", "bob", r"^<bob> private hi$"),
            (":irc.test NOTICE tester_ :server notice", "Status Window", r"^-irc\.test- server notice$"),
            (":srv 999 tester_ some thing :odd numeric", "Status Window", r"^thing odd numeric$"),
        ]
        lists = {4: ["@bob", "@op", "Alpha", "tester_", "v", "zed"],
                 5: ["@bobby", "@op", "Alpha", "tester_", "v", "zed"],
                 7: ["@bobby", "@op", "Alpha", "tester_", "v"], 8: ["@op", "Alpha", "tester_", "v"],
                 9: ["@op", "Alpha", "tester_"]}
        for i, (line, window, pattern) in enumerate(steps):
            p.send(line + "\r\n")
            c.expect(pattern, window=window)
            if lists.get(i):
                c.expect_nicks("#t", lists[i])
        self.assertEqual(c.finish(), 0)

    def test_ctcp_answers_and_their_limit(self):
        c, p = self.c, self.peer
        self.logon()
        p.send(":bob!b@x PRIVMSG tester_ :\x01VERSION\x01\r\n")
        self.assertEqual(p.read_until("NOTICE"), "NOTICE bob :\x01VERSION vesk32 v4.1 IRC Client\x01\r")
        c.expect(r"^\[bob VERSION\]$")
        p.send(":bob!b@x PRIVMSG tester_ :\x01PING 1234567\x01\r\n")
        self.assertEqual(p.read_until("NOTICE"), "NOTICE bob :\x01PING 1234567\x01\r")
        p.send(":bob!b@x PRIVMSG tester_ :\x01" "ECHO " + "e" * 600 + "\x01\r\n")
        echo = p.read_until("NOTICE")
        self.assertLessEqual(len(echo) + 1, 512)
        self.assertTrue(echo.endswith("e\x01\r"))
        # A flood from one sender gets nothing more; another sender still gets answers.
        p.send("".join(":bob!b@x PRIVMSG tester_ :\x01VERSION\x01\r\n" for _ in range(10)))
        p.send(":amy!a@x PRIVMSG tester_ :\x01TIME\x01\r\n")
        self.assertTrue(p.read_until("NOTICE").startswith("NOTICE amy :\x01TIME "))
        c.expect(r"^\[amy TIME\]$")
        self.assertEqual(c.finish(), 0)

    def test_hostile_lines_leave_the_client_working(self):
        c, p = self.c, self.peer
        self.logon()
        p.send(":x PRIVMSG tester_ " + "a " * 300 + "\r\n")
        p.send(":" + "n" * 600 + "!u@h PRIVMSG tester_ :hi\r\n")
        p.send(":srv 319 tester_ bob :" + "#c " * 200 + "\r\n")
        p.send(":srv 353 tester_ = #none\r\n:srv 353\r\n:srv 001\r\nPING\r\n")
        p.send(":a!b@c PRIVMSG tester_ :\x01DCC SEND x 1 2 3\x01\r\n")
        # Address 1 and port 3 are refused: the offer gets the parameter-error notice.
        self.assertEqual(p.read_until("NOTICE"), "NOTICE a :\x01DCC SEND Invalid parameters!\x01\r")
        p.send("PING :still-here\r\n")
        self.assertEqual(p.read_until("PONG :still"), "PONG :still-here\r")
        self.assertEqual(c.finish(), 0)


class IrcPeer:
    """A small IRC client of the test's own."""

    def __init__(self, port, nick):
        self.sock = socket.create_connection(("127.0.0.1", port), timeout=base.slack(5))
        self.peer = base.Peer(self.sock)
        self.nick = nick
        self.send("NICK %s\r\nUSER %s 0 * :%s\r\n" % (nick, nick, nick))
        self.read_until(" 001 ")

    def send(self, text):
        self.peer.send(text)

    def read_until(self, needle, timeout=5.0):
        deadline = time.monotonic() + base.slack(timeout)
        while True:
            line = self.peer.line_by(deadline).rstrip("\r")
            if line.startswith("PING"):
                self.send("PONG" + line[4:] + "\n")
            if needle in line:
                return line

    def close(self):
        self.peer.close()


@unittest.skipUnless(base.NGIRCD or os.environ.get("CI"), "ngircd is not installed")
class NgircdParserTests(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="vesk-ngircd-")
        self.procs = []
        self.peers = []
        self.port = base.free_port()
        helper = base.NgircdTests("start_ngircd")
        helper.dir = self.dir
        self.procs.append(helper.start_ngircd(self.port))

    def tearDown(self):
        for p in self.peers:
            p.close()
        for p in self.procs:
            if p.poll() is None:
                p.kill()
                p.wait()
        shutil.rmtree(self.dir, ignore_errors=True)

    def peer(self, nick):
        p = IrcPeer(self.port, nick)
        self.peers.append(p)
        return p

    def test_channel_with_two_other_users(self):
        alice = self.peer("tester")  # takes our nickname first
        alice.send("JOIN #t\r\n")
        alice.read_until("366")
        c = Vesk(["-s", "127.0.0.1:%d" % self.port, "-n", "tester,tester_"])
        try:
            c.expect(r"tester Nickname already in use|tester Nickname is already in use")
            c.expect(r"^Welcome to the Internet Relay Network tester_")
            alice.send("NICK alice\r\n")
            c.type("/join #t")
            c.expect(r"^\*\*\* Now talking in #t$", window="#t")
            c.expect_nicks("#t", ["@alice", "tester_"])

            bob = self.peer("bob")
            bob.send("JOIN #t\r\n")
            c.expect(r"^\*\*\* bob \(~?bob@[^)]+\) has joined #t$", window="#t")
            c.expect_nicks("#t", ["@alice", "bob", "tester_"])

            alice.send("PRIVMSG #t :hello channel\r\n")
            c.expect(r"^<alice> hello channel$", window="#t")
            alice.send("PRIVMSG #t :\x01ACTION waves\x01\r\n")
            c.expect(r"^\* alice waves$", window="#t")
            alice.send("NOTICE #t :heads up\r\n")
            c.expect(r"^-alice:#t- heads up$", window="#t")
            alice.send("PRIVMSG tester_ :just you\r\n")
            c.expect(r"^<alice> just you$", window="alice")

            alice.send("MODE #t +ov-o+l bob tester_ bob 10\r\n")
            c.expect(r"^\*\*\* alice sets #t mode: \+ov-o\+l bob tester_ bob 10$", window="#t")
            c.expect_nicks("#t", ["@alice", "+tester_", "bob"])
            alice.send("TOPIC #t :fresh topic\r\n")
            c.expect(r'^\*\*\* alice changes topic to "fresh topic"$', window="#t")

            bob.send("NICK bobby\r\n")
            c.expect(r"^\*\*\* bob is now known as bobby$", window="#t")
            c.expect_nicks("#t", ["@alice", "+tester_", "bobby"])
            alice.send("KICK #t bobby :out\r\n")
            c.expect(r"^\*\*\* bobby was kicked by alice \(out\)$", window="#t")
            c.expect_nicks("#t", ["@alice", "+tester_"])
            bob.send("JOIN #t\r\n")
            c.expect(r"^\*\*\* bobby \(.*\) has joined #t$", window="#t")
            bob.send("PART #t :later\r\n")
            c.expect(r"^\*\*\* bobby \(.*\) has left #t$", window="#t")
            bob.send("JOIN #t\r\n")
            c.expect(r"has joined #t$", window="#t")
            bob.send("QUIT :gone home\r\n")
            c.expect(r"^\*\*\* bobby has quit IRC \(.*gone home.*\)$", window="#t")
            c.expect(r"^\*\*\* bobby \(.*\) Quit \(.*gone home.*\)$")
            c.expect_nicks("#t", ["@alice", "+tester_"])

            alice.send("PRIVMSG tester_ :\x01VERSION\x01\r\n")
            line = alice.read_until("NOTICE")
            self.assertTrue(line.endswith("NOTICE alice :\x01VERSION vesk32 v4.1 IRC Client\x01"), line)
            alice.send("PRIVMSG tester_ :\x01PING 987654\x01\r\n")
            line = alice.read_until("PING 987654")
            self.assertTrue(line.endswith(":\x01PING 987654\x01"), line)
            c.expect(r"^\[alice PING\]$")
            self.assertEqual(c.finish(), 0)
        finally:
            c.kill()


if __name__ == "__main__":
    unittest.main()
