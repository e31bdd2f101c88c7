"""End-to-end tests of the command language: lines typed into vesk32 --headless reach the
server as the user meant them, and text from other users never runs as commands.

A scripted server on loopback captures the exact lines; a real ngircd with a second client of
our own checks that the other side sees the effect of each command.
"""
import os
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import chat_connection_test as base  # noqa: E402  (scripted server, client driver, ngircd)
import chat_parser_server_test as parser  # noqa: E402  (the small IRC client of our own)


class TypedCommandsOnTheWire(unittest.TestCase):
    def setUp(self):
        self.srv = base.ScriptedServer()
        ini = base.IDENTITY + "host=TestSERVER:127.0.0.1:%d\n" % self.srv.port + base.options(options={1: 1})
        self.c = base.Client([], ini)
        self.p = self.srv.accept()
        base.welcome(self.p)
        self.c.expect(r"^Welcome-token$")

    def tearDown(self):
        self.c.kill()
        self.srv.stop()

    def sends(self, typed, *expected):
        self.c.type(typed)
        for line in expected:
            self.assertEqual(self.p.read_line().rstrip("\r"), line)

    def test_a_session_from_the_input_line(self):
        c, p = self.c, self.p
        self.sends("/join #t", "JOIN #t")
        p.send(":tester!u@h JOIN :#t\r\n:irc.test 353 tester = #t :@tester alice\r\n"
               ":irc.test 366 tester #t :End of /NAMES list.\r\n")
        c.expect(r"^\*\*\* Now talking in #t$", window="#t")
        p.read_until("MODE #t")
        self.sends("@@#t\thello | world", "PRIVMSG #t :hello | world")
        c.expect(r"hello \| world$", window="#t")
        self.sends("@@#t\t/me waves", "PRIVMSG #t :\x01ACTION waves\x01")
        c.expect(r"^\* tester waves$", window="#t")
        self.sends("/msg alice $me %x", "PRIVMSG alice :$me %x")
        self.sends("/notice alice psst", "NOTICE alice :psst")
        self.sends("/ctcp alice version", "PRIVMSG alice :\x01VERSION\x01")
        self.sends("/topic #t a new topic", "TOPIC #t :a new topic")
        self.sends("/mode #t +o alice", "MODE #t +o alice")
        self.sends("/kick #t alice go away", "KICK #t alice :go away")
        self.sends("/whois alice", "WHOIS alice")
        self.sends("/away back soon", "AWAY :back soon")
        self.sends("/nick other", "NICK :other")
        self.sends("/raw -q PING :x", "PING :x")

        # A long message goes out in several lines, none cut by the server.
        text = " ".join("w%03d" % i for i in range(130))
        c.type("@@#t\t" + text)
        got = []
        while len(" ".join(got)) < len(text):
            line = p.read_line().rstrip("\r")
            self.assertTrue(line.startswith("PRIVMSG #t :"), line)
            # Room for our address in front when the server relays it, and CR LF.
            self.assertLessEqual(len(line) + 2 + 80, 512)
            got.append(line[len("PRIVMSG #t :"):])
        self.assertEqual(" ".join(got), text)
        self.assertGreaterEqual(len(got), 2)

        # Other users' words are shown, never run.
        p.send(":alice!a@h PRIVMSG #t :$me %x | /quit now\r\n:alice!a@h PRIVMSG tester :/join #evil\r\n")
        c.expect(r"^<alice> \$me %x \| /quit now$", window="#t")
        self.sends("/away", "AWAY")

        c.type("/quit see you")
        self.assertEqual(p.read_until("QUIT"), "QUIT :see you\r")

    def test_commands_check_their_arguments(self):
        c = self.c
        c.type("/msg")
        c.expect(r"^\*\*\* No nick specified$")
        c.type("/join")
        c.expect(r"^\*\*\* No channel specified$")
        c.type("/flood 1 x 2")
        c.expect(r"^\*\*\* Invalid flood parameters$")
        c.type("/echo 3 -s shown while connected")
        c.expect(r"^shown while connected$")
        c.type("hello")
        c.expect(r"^\*\*\* You're not on a channel$")
        self.sends("/foo a b", "FOO a b")


@unittest.skipUnless(base.NGIRCD or os.environ.get("CI"), "ngircd is not installed")
class CommandsSeenByAnotherClient(unittest.TestCase):
    def setUp(self):
        self.dir = parser.tempfile.mkdtemp(prefix="vesk-script-")
        self.port = base.free_port()
        helper = base.NgircdTests("start_ngircd")
        helper.dir = self.dir
        self.ngircd = helper.start_ngircd(self.port)
        self.peers = []

    def tearDown(self):
        for p in self.peers:
            p.close()
        if self.ngircd.poll() is None:
            self.ngircd.kill()
            self.ngircd.wait()
        parser.shutil.rmtree(self.dir, ignore_errors=True)

    def test_operator_session(self):
        c = base.Client(["-s", "127.0.0.1:%d" % self.port, "-n", "tester,tester_"])
        try:
            c.expect(r"^Welcome to the Internet Relay Network tester")
            c.type("/join #s")
            c.expect(r"^\*\*\* Now talking in #s$", window="#s")
            alice = parser.IrcPeer(self.port, "alice")
            self.peers.append(alice)
            alice.send("JOIN #s\r\n")
            alice.read_until("366")
            c.expect(r"alice .* has joined #s$", window="#s")

            c.type("@@#s\thi alice")
            self.assertTrue(alice.read_until("PRIVMSG #s").endswith("PRIVMSG #s :hi alice"))
            c.type("@@#s\t/me grins")
            self.assertTrue(alice.read_until("ACTION").endswith(":\x01ACTION grins\x01"))
            c.type("/msg alice private words")
            self.assertTrue(alice.read_until("PRIVMSG alice").endswith(":private words"))
            c.type("/notice alice a notice")
            self.assertTrue(alice.read_until("NOTICE alice").endswith(":a notice"))
            c.type("/topic #s fresh topic")
            self.assertTrue(alice.read_until("TOPIC").endswith("TOPIC #s :fresh topic"))
            c.type("/mode #s +o alice")
            self.assertIn("MODE #s +o alice", alice.read_until("MODE"))
            c.type("/nick tester2")
            self.assertIn("NICK", alice.read_until("NICK"))
            c.type("/away out to lunch")
            c.expect(r"You have been marked as being away")
            alice.send("WHOIS tester2\r\n")
            self.assertTrue(alice.read_until(" 301 ").endswith(":out to lunch"))
            c.type("/whois alice")
            c.expect(r"alice")
            c.type("/kick #s alice behave")
            self.assertTrue(alice.read_until("KICK").endswith("KICK #s alice :behave"))
            alice.send("JOIN #s\r\n")
            alice.read_until("366")
            c.type("/quit good night")
            self.assertIn("good night", alice.read_until("QUIT"))
            self.assertEqual(c.finish(), 0)
        finally:
            c.kill()


if __name__ == "__main__":
    unittest.main()
