"""End-to-end tests of the session features: the user-information view, /dns, Tab through the
nicks that wrote to us, the channels list, our own nickname across a reconnect, the lag probe,
the command character, the local host line and the perform list.

vesk32 runs headless against a real ngircd on loopback (with small IRC clients of our own as
the other users), or against a scripted server where the exact lines matter.
"""
import os
import re
import sys
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import chat_connection_test as base  # noqa: E402  (scripted server, client driver, ngircd)
import chat_parser_server_test as parser  # noqa: E402  (the small IRC client of our own)
from tmux_harness import wait_until  # noqa: E402


def stderr_line(client, prefix, timeout=5.0):
    """Waits for a line of the client's standard error that starts with the prefix."""
    path = os.path.join(client.dir, "stderr")

    def line():
        with open(path, "rb") as f:
            for raw in f.read().decode("utf-8", "replace").splitlines():
                if raw.startswith(prefix):
                    return raw
        return None
    return wait_until(line, timeout, "a stderr line starting with %r" % prefix)


def listed_channels(client):
    """The channel names shown in the channels list window so far, in order."""
    return [re.search(r"#\w+", line).group(0) for line in client.seen
            if line.startswith("Channels List\t") and "#" in line]


def stderr_count(client, prefix):
    with open(os.path.join(client.dir, "stderr"), "rb") as f:
        return sum(1 for raw in f.read().decode("utf-8", "replace").splitlines()
                   if raw.startswith(prefix))


@unittest.skipUnless(base.NGIRCD or os.environ.get("CI"), "ngircd is not installed")
class WithNgircd(unittest.TestCase):
    def setUp(self):
        self.dir = parser.tempfile.mkdtemp(prefix="vesk-features-")
        self.port = base.free_port()
        helper = base.NgircdTests("start_ngircd")
        helper.dir = self.dir
        self.ngircd = helper.start_ngircd(self.port)
        self.peers = []
        self.c = base.Client(["-s", "127.0.0.1:%d" % self.port, "-n", "tester,tester_"])
        self.c.expect(r"^Welcome to the Internet Relay Network tester")

    def tearDown(self):
        self.c.kill()
        for p in self.peers:
            p.close()
        if self.ngircd.poll() is None:
            self.ngircd.kill()
            self.ngircd.wait()
        parser.shutil.rmtree(self.dir, ignore_errors=True)

    def peer(self, nick):
        p = parser.IrcPeer(self.port, nick)
        self.peers.append(p)
        return p

    def test_user_information_view_and_later_replies(self):
        c = self.c
        alice = self.peer("alice")
        alice.send("JOIN #room\r\n")
        alice.read_until("366")
        c.type("/uwho alice")
        c.expect(r"^\* Retrieving alice user info\.\.\.$")
        c.expect(r"^Nick: alice$", window="User Information")
        c.expect(r"^Name: alice$", window="User Information")
        c.expect(r"^Machine: ~?alice@", window="User Information")
        c.expect(r"^Server: irc\.localhost ", window="User Information")
        c.expect(r"^Away: \(nope\)$", window="User Information")
        c.expect(r"^Chans: @?#room$", window="User Information")
        # The request is over: a CTCP answer and a plain WHOIS of the nick are shown again.
        alice.send("NOTICE tester :\x01VERSION other client 1.0\x01\r\n")
        c.expect(r"^\[alice VERSION reply\]: other client 1\.0$")
        c.type("/whois alice")
        c.expect(r"^alice is ~?alice@")
        # A second request works, and one for a nick nobody has says so.
        c.type("/uwho nobody")
        c.expect(r"^Nick: nobody \(No such user on IRC\)$", window="User Information")
        c.expect(r"^Name: \(no name\)$", window="User Information")
        # Without a nick the view opens with what it holds (nothing after the clear).
        c.type("/uwho")
        c.expect(r"^Machine: \(unknown\)$", window="User Information")
        self.assertEqual(c.finish(), 0)

    def test_dns_of_names_addresses_and_nicks(self):
        c = self.c
        self.peer("alice")
        c.type("/dns 127.0.0.1")
        c.expect(r"^\*\*\* Looking up 127\.0\.0\.1$")
        c.expect(r"^\*\*\* Resolved 127\.0\.0\.1 to \S+$")
        # A word without a dot is a nick first; nobody has it, so it is a host after all.
        c.type("/dns localhost")
        c.expect(r"^\*\*\* Looking up localhost$")
        c.expect(r"^\*\*\* Resolved localhost to (127\.0\.0\.1|::1)$")
        c.type("/dns no-such-host.invalid")
        c.type("/dns localhost")
        c.expect(r"^\*\*\* Still trying to resolve no-such-host\.invalid$|"
                 r"^\*\*\* Unable to resolve no-such-host\.invalid$")
        if not any("Unable to resolve no-such-host" in line for line in c.seen):
            c.expect(r"^\*\*\* Unable to resolve no-such-host\.invalid$")
        # A nick: its address comes from a who-is reply, which is not shown.
        c.type("/dns alice")
        c.expect(r"^\*\*\* Looking up 127\.0\.0\.1$")
        c.expect(r"^\*\*\* Resolved 127\.0\.0\.1 to \S+$")
        self.assertFalse(any(line.startswith("Status Window\talice is") for line in c.seen))
        c.type("/dns nobody")
        c.expect(r"^\*\*\* Unable to resolve nobody$")
        self.assertTrue(any("nobody No such nick" in line for line in c.seen))
        c.type("/dns ::1")
        c.expect(r"^\*\*\* Looking up ::1$")
        c.expect(r"^\*\*\* (Resolved ::1 to \S+|Unable to resolve ::1)$")
        self.assertEqual(c.finish(), 0)

    def test_tab_steps_through_who_wrote_last(self):
        c = self.c
        alice, bob = self.peer("alice"), self.peer("bob")
        # Nobody wrote yet: Tab offers nothing. The echo behind it shows it was taken before
        # alice's line can arrive (input and the server's lines come in on separate ways).
        c.type("\t")
        c.type("/echo tab-taken")
        c.expect(r"^tab-taken$")
        self.assertEqual(stderr_count(c, "input\t"), 0)
        alice.send("PRIVMSG tester :hello from alice\r\n")
        c.expect(r"^<alice> hello from alice$", window="alice")
        bob.send("PRIVMSG tester :hello from bob\r\n")
        c.expect(r"^<bob> hello from bob$", window="bob")
        c.type("\t")
        stderr_line(c, "input\t")
        self.assertTrue(stderr_line(c, "input\t").endswith("\t/msg bob "))
        c.type("\t")
        wait_until(lambda: stderr_count(c, "input\t") >= 2, what="the second Tab's line")
        lines = [line for line in open(os.path.join(c.dir, "stderr")).read().splitlines()
                 if line.startswith("input\t")]
        self.assertEqual([line.split("\t")[2] for line in lines], ["/msg bob ", "/msg alice "])
        c.type("/msg bob replying")
        self.assertIn("replying", bob.read_until("PRIVMSG"))
        self.assertEqual(c.finish(), 0)

    def test_channels_list_is_sorted_and_starts_empty(self):
        c = self.c
        zed = self.peer("zed")
        for channel in ("#zeta", "#Alpha", "#mid"):
            zed.send("JOIN %s\r\nTOPIC %s :about %s\r\n" % (channel, channel, channel[1:]))
            zed.read_until("TOPIC %s" % channel)
        c.type("/list")
        c.expect(r"^Listing channels$")
        c.expect(r"End of (/)?LIST")
        listed = listed_channels(c)
        self.assertEqual(listed, ["#Alpha", "#mid", "#zeta"])
        # A second listing shows each channel once more, in the same order, in a cleared window.
        c.seen.clear()
        c.type("/list")
        c.expect(r"End of (/)?LIST")
        listed = listed_channels(c)
        self.assertEqual(listed, ["#Alpha", "#mid", "#zeta"])
        self.assertEqual(c.finish(), 0)

    def test_lag_probe_is_answered_without_a_pong_line(self):
        c = self.c
        c.type("/echo marker-before")
        c.expect(r"^marker-before$")
        time.sleep(kLagWait)
        c.type("/echo marker-after")
        c.expect(r"^marker-after$")
        self.assertFalse(any("PONG from" in line for line in c.seen))
        self.assertEqual(c.finish(), 0)


kLagWait = 5


class WithScriptedServer(unittest.TestCase):
    def setUp(self):
        self.srv = base.ScriptedServer()
        self.clients = []

    def tearDown(self):
        for c in self.clients:
            c.kill()
        self.srv.stop()

    def client(self, ini_extra="", options=None):
        ini = (base.IDENTITY + "host=TestSERVER:127.0.0.1:%d\n" % self.srv.port +
               base.options(**(options or {"options": {1: 1}})) + ini_extra)
        c = base.Client([], ini)
        self.clients.append(c)
        return c

    def test_own_nick_change_is_used_on_reconnect_but_not_saved(self):
        c = self.client("[Connection]\nreconnectdelay=1\n",
                        {"options": {1: 1}, "options4": {5: 1}})
        c.expect(r"^Local host: \S+ \(\d+\.\d+\.\d+\.\d+\)$")
        p = self.srv.accept()
        base.welcome(p)
        c.expect(r"^Welcome-token$")
        p.send(":tester!u@h NICK :renamed\r\n")
        c.expect(r"^\*\*\* Your nick is now renamed$")
        p.close()
        c.expect(r"^\*\*\* Reconnecting in 1 seconds\.\.\.$")
        second = self.srv.accept(4)
        self.assertEqual(second.read_until("NICK"), "NICK renamed\r")
        second.read_until("USER ")
        second.send(":srv 001 renamed :Welcome-again\r\n")
        c.expect(r"^Welcome-again$")
        self.assertEqual(c.finish(), 0)
        # (the client removed its folder on exit; the settings never held the session's nick)

    def test_command_character_perform_list_and_lag_probe(self):
        c = self.client("[Text]\ncommandchar=.\n[Perform]\np0=/join #perf\np1=.mode $me +i\n",
                        {"options": {1: 1, 19: 1}})
        p = self.srv.accept()
        base.welcome(p)
        c.expect(r"^Welcome-token$")
        p.send(":srv 376 tester :End of MOTD\r\n")
        self.assertEqual(p.read_until("JOIN"), "JOIN #perf\r")
        self.assertEqual(p.read_until("MODE"), "MODE tester +i\r")
        c.type(".join #dot")
        self.assertEqual(p.read_until("JOIN"), "JOIN #dot\r")
        # The lag probe follows the message of the day; its answer is not shown, another is.
        probe = p.read_until("PING", timeout=kLagWait + 3).rstrip("\r")
        self.assertRegex(probe, r"^PING :LAG\d+$")
        p.send(":srv PONG srv :%s\r\n:srv PONG srv :other\r\n" % probe[len("PING :"):])
        c.expect(r"^\*\*\* PONG from srv$")
        self.assertEqual(sum("PONG from" in line for line in c.seen), 1)
        self.assertEqual(c.finish(), 0)


if __name__ == "__main__":
    unittest.main()
