"""End-to-end tests of capability negotiation and message tags, driven headless.

A scripted server on loopback shows exactly what the client sends and answers with chosen
capability lists and tagged lines; a real InspIRCd with its IRCv3 modules checks that the
negotiation ends in registration. Every wait is bounded.
"""
import os
import shutil
import subprocess
import sys
import tempfile
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from chat_connection_test import IDENTITY, Client, ScriptedServer, options  # noqa: E402
from chat_parser_server_test import Vesk  # noqa: E402
from chat_tls_test import INSPIRCD, OPENSSL, Certificates, InspIRCd, PlainUser  # noqa: E402
from chat_sasl_test import ATHEME, ServicesNet  # noqa: E402

CI = bool(os.environ.get("CI"))


class CapabilityTests(unittest.TestCase):
    def start(self, env_tz=None):
        srv = ScriptedServer()
        self.addCleanup(srv.stop)
        if env_tz:
            os.environ["TZ"] = env_tz
        try:
            c = Client(["-s", "127.0.0.1:%d" % srv.port], IDENTITY)
        finally:
            os.environ.pop("TZ", None)
        self.addCleanup(c.kill)
        peer = srv.accept(10)
        self.assertEqual(peer.read_line(10), "CAP LS 302\r")
        return srv, c, peer

    def test_negotiation_table(self):
        cases = [
            # name, server lines, what the client must request (None: nothing), then END
            # sasl is asked for only when section [SASL] sets a mechanism.
            ("multi-line LS", [":s CAP * LS * :away-notify server-time=x\r\n",
                               ":s CAP * LS :message-tags sasl\r\n"],
             "CAP REQ :server-time message-tags away-notify"),
            ("nothing wanted", [":s CAP * LS :sasl foo draft/unknown\r\n"], None),
            ("garbage names", [":s CAP * LS :\x01\x02 server-time\x7f ===  ;;;\r\n"], None),
        ]
        for name, lines, request in cases:
            with self.subTest(name):
                srv, c, peer = self.start()
                for line in lines:
                    peer.send(line)
                if request:
                    self.assertEqual(peer.read_until("CAP ", 10), request + "\r")
                    peer.send(":s CAP tester ACK :%s\r\n" % request.split(":", 1)[1])
                    c.expect(r"^\*\*\* Capabilities enabled: ", 10)
                self.assertEqual(peer.read_until("CAP ", 10), "CAP END\r")
                if name == "garbage names":
                    c.expect(r"^\*\*\* Skipped 4 malformed capability names from the server$", 10)

    def test_nak_ends_and_unterminated_list_times_out(self):
        srv, c, peer = self.start()
        peer.send(":s CAP * LS :server-time\r\n")
        self.assertEqual(peer.read_until("CAP ", 10), "CAP REQ :server-time\r")
        peer.send(":s CAP tester NAK :server-time\r\n")
        self.assertEqual(peer.read_until("CAP ", 10), "CAP END\r")

        srv, c, peer = self.start()
        peer.send(":s CAP * LS * :server-time\r\n")  # "more follows", and nothing does
        start = time.monotonic()
        c.expect(r"^\*\*\* Capability negotiation did not finish", 25)
        self.assertLess(time.monotonic() - start, 20)
        self.assertEqual(peer.read_until("CAP ", 10), "CAP END\r")

    def test_hostile_negotiation_ends_with_a_message(self):
        cases = [
            # name, server lines, the status line that must come, what the client sends next
            ("list over 16 KiB", [":s CAP * LS * :%s\r\n" % ("x" * 400)] * 45,
             r"^\*\*\* The server's capability list is too long; going on without it$",
             "CAP END"),
            ("acks and naks of what was never asked",
             [":s CAP * LS :server-time\r\n", None,
              ":s CAP tester ACK :sasl echo-message -multi-prefix\r\n"
              ":s CAP tester NAK :batch\r\n:s CAP tester ACK :server-time\r\n"],
             r"^\*\*\* Capabilities enabled: server-time$", "CAP END"),
            ("an AUTHENTICATE nobody asked for", [
                "AUTHENTICATE +\r\n:s CAP\r\n:s CAP *\r\n:s CAP * LS\r\n"
                ":s CAP * LS :sasl=\x01\x02,,, server-time\r\n"],
             None, "CAP REQ :server-time"),
        ]
        for name, lines, message, then in cases:
            with self.subTest(name):
                srv, c, peer = self.start()
                for line in lines:
                    if line is None:
                        self.assertEqual(peer.read_until("CAP ", 10), "CAP REQ :server-time\r")
                        continue
                    peer.send(line)
                if message:
                    c.expect(message, 15)
                self.assertEqual(peer.read_until("CAP ", 10), then + "\r")
                self.assertFalse([s for s in c.seen if "AUTHENTICATE" in s])
                c.type("/echo still-alive")
                c.expect(r"still-alive", 10)

    def test_server_time_stamps_lines_in_local_time(self):
        srv, c, peer = self.start(env_tz="EST5")
        peer.send(":s CAP * LS :server-time message-tags\r\n")
        peer.read_until("CAP REQ", 10)
        peer.send(":s CAP tester ACK :server-time message-tags\r\n")
        peer.read_until("CAP END", 10)
        peer.send(":s 001 tester :Welcome\r\n")
        c.expect("Welcome", 10)
        c.type("/timestamp on")
        c.expect(r"Time-stamp is ON", 10)
        # 10:20 UTC is 5:20 five hours west; escaped and unknown tags around it are skipped.
        peer.send("@a=b\\:c\\s;time=2020-01-02T10:20:30.000Z;+x=\\\\ :w!u@h PRIVMSG tester "
                  ":tagged hello\r\n")
        self.assertEqual(c.expect(r"tagged hello", 10, window="w"), "[5:20] <w> tagged hello")
        # Tags may take up to 8191 bytes in front of an ordinary line.
        peer.send("@x=" + "y" * 8000 + ";time=2020-01-02T10:20:30.000Z :w!u@h PRIVMSG tester "
                  ":long tags\r\n")
        self.assertEqual(c.expect(r"long tags", 10, window="w"), "[5:20] <w> long tags")
        # A malformed time falls back to the clock.
        peer.send("@time=2020-13-02T10:20:30Z :w!u@h PRIVMSG tester :bad time\r\n")
        self.assertNotEqual(c.expect(r"bad time", 10, window="w"), "[5:20] <w> bad time")


@unittest.skipUnless(OPENSSL and (INSPIRCD or CI), "inspircd or openssl is not installed")
class InspIRCdCapabilityTests(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.dir = tempfile.mkdtemp(prefix="vesk-cap-")
        cls.ircd = InspIRCd(cls.dir, Certificates(cls.dir))

    @classmethod
    def tearDownClass(cls):
        cls.ircd.stop()
        shutil.rmtree(cls.dir, ignore_errors=True)

    def test_echo_message_and_multi_prefix_on_a_real_server(self):
        c = Vesk(["-s", "127.0.0.1:%d" % self.ircd.port], IDENTITY)
        self.addCleanup(c.kill)
        text = c.expect(r"^\*\*\* Capabilities enabled: ", 15)
        for name in ("echo-message", "message-tags", "multi-prefix", "server-time"):
            self.assertIn(name, text)
        c.expect(r"Welcome", 15)
        c.type("/join #mp")
        c.expect_nicks("#mp", ["@tester"], 15)
        user = PlainUser(self.ircd.port, "watcher")
        self.addCleanup(user.close)
        user.send("JOIN #mp\r\n")
        user.wait("JOIN")

        # Our own message appears once, when the server echoes it.
        c.type("@@#mp\thello echo")
        self.assertIn("hello echo", user.wait("PRIVMSG #mp"))
        c.expect(r"hello echo$", 15, window="#mp")
        with self.assertRaises(AssertionError):
            c.expect(r"hello echo$", 1.0, window="#mp")
        c.type("@@#mp\t/me waves back")
        c.expect(r"^\* tester waves back$", 15, window="#mp")

        # An operator given a voice keeps it after losing the operator mark.
        c.type("/mode #mp +v tester")
        user.wait("MODE #mp +v")
        c.expect_nicks("#mp", ["@tester", "watcher"], 15)
        c.type("/mode #mp -o tester")
        user.wait("MODE #mp -o")
        c.expect_nicks("#mp", ["+tester", "watcher"], 15)


# Users' addresses shown beside joins, quits shown in channels, the address cache kept.
SHOW_AND_CACHE = options(options={2: 1}, options2={17: 1}, options4={23: 1, 25: 1})
ALL_CAPS = ("batch away-notify account-notify extended-join chghost userhost-in-names "
            "invite-notify setname account-tag")


class SessionCapabilityTests(unittest.TestCase):
    """What each capability changes, against a scripted server that sends its lines."""

    def start(self):
        srv = ScriptedServer()
        self.addCleanup(srv.stop)
        c = Vesk(["-s", "127.0.0.1:%d" % srv.port], IDENTITY + SHOW_AND_CACHE)
        self.addCleanup(c.kill)
        peer = srv.accept(10)
        peer.read_until("CAP LS", 10)
        peer.send(":s CAP * LS :%s\r\n" % ALL_CAPS)
        request = peer.read_until("CAP REQ", 10).rstrip("\r").split(":", 1)[1]
        self.assertEqual(sorted(request.split()), sorted(ALL_CAPS.split()))
        peer.send(":s CAP tester ACK :%s\r\n" % request)
        peer.read_until("CAP END", 10)
        peer.send(":s 001 tester :Welcome\r\n")
        c.expect("Welcome", 10)
        c.type("/join #v3")
        peer.read_until("JOIN #v3", 10)
        peer.send(":tester!t@me.host JOIN #v3 * :Joe Tester\r\n"
                  ":s 353 tester = #v3 :@tester!t@me.host +bob!b@bob.host carol!c@carol.host\r\n"
                  ":s 366 tester #v3 :End of /NAMES list.\r\n")
        # userhost-in-names: the names are bare in the nick list.
        c.expect_nicks("#v3", ["@tester", "+bob", "carol"], 10)
        return c, peer

    def test_each_capability_shows_its_change(self):
        c, peer = self.start()
        cases = [
            # what the server sends, what #v3 shows
            (":dave!d@dave.host JOIN #v3 dave-acct :Dave Real",
             r"^\*\*\* dave \(d@dave\.host\) has joined #v3 \[account dave-acct\]$"),
            (":erin!e@erin.host JOIN #v3 * :Erin",
             r"^\*\*\* erin \(e@erin\.host\) has joined #v3 \[not logged in\]$"),
            (":bob!b@bob.host AWAY :gone fishing", r"^\*\*\* bob is away \(gone fishing\)$"),
            (":bob!b@bob.host AWAY", r"^\*\*\* bob is back$"),
            (":carol!c@carol.host ACCOUNT carol-acct",
             r"^\*\*\* carol is logged in as carol-acct$"),
            (":carol!c@carol.host ACCOUNT *", r"^\*\*\* carol logged out$"),
            (":carol!c@carol.host CHGHOST cc new.example",
             r"^\*\*\* carol changes host to cc@new\.example$"),
            (":bob!b@bob.host SETNAME :Robert the Second",
             r'^\*\*\* bob changes real name to "Robert the Second"$'),
            (":bob!b@bob.host INVITE frank #v3", r"^\*\*\* bob invited frank to #v3$"),
            ("@account=bob-acct :bob!b@bob.host PRIVMSG #v3 :tagged", r"^<bob> tagged$"),
        ]
        for line, shown in cases:
            with self.subTest(line):
                peer.send(line + "\r\n")
                c.expect(shown, 10, window="#v3")
        c.expect_nicks("#v3", ["@tester", "+bob", "carol", "dave", "erin"], 10)
        # account-tag: a private message names the sender's account when it is new or another.
        for account, text in (("bob-acct", "psst"), ("bob-acct", "again"), ("imposter", "hi")):
            peer.send("@account=%s :bob!b@bob.host PRIVMSG tester :%s\r\n" % (account, text))
            c.expect(r"^<bob> %s$" % text, 10, window="bob")
        shown = [line for line in c.seen if line.startswith("bob\t*** bob is logged in as")]
        self.assertEqual(shown, ["bob\t*** bob is logged in as bob-acct",
                                 "bob\t*** bob is logged in as imposter"])
        # Someone else's invitation is not ours: nothing is joined.
        self.assertTrue(c.absent(r"invites you", 0.5))
        # The address cache has the new host and the names' hosts without asking the server.
        for nick, mask in (("carol", "cc@new.example"), ("bob", "b@bob.host")):
            c.type("/ignore %s 0" % nick)
            text = c.expect(r"^\*\*\* Added .* to ignore list$", 10, window="#v3")
            self.assertIn(mask, text)
        c.type("/quote PING :done")
        while True:
            line = peer.read_line(10)
            self.assertNotRegex(line, r"^(WHO|WHOIS|USERHOST) ")
            if line.startswith("PING :done"):
                break

    def test_netsplit_and_netjoin_batches_are_one_line_each(self):
        c, peer = self.start()
        peer.send(":s BATCH +s1 netsplit hub.net leaf.net\r\n"
                  "@batch=s1 :bob!b@bob.host QUIT :hub.net leaf.net\r\n"
                  "@batch=s1 :carol!c@carol.host QUIT :hub.net leaf.net\r\n"
                  "@batch=s1 :zed!z@z.host QUIT :hub.net leaf.net\r\n"
                  ":s BATCH -s1\r\n")
        self.assertEqual(c.expect(r"Netsplit", 10, window="#v3"),
                         "*** Netsplit hub.net leaf.net: bob, carol quit")
        c.expect(r"^\*\*\* Netsplit hub\.net leaf\.net: bob, carol, zed quit$", 10)
        c.expect_nicks("#v3", ["@tester"], 10)
        peer.send(":s BATCH +j1 netjoin hub.net leaf.net\r\n"
                  "@batch=j1 :bob!b@bob.host JOIN #v3\r\n"
                  "@batch=j1 :carol!c@carol.host JOIN #v3\r\n"
                  ":s BATCH -j1\r\n")
        self.assertEqual(c.expect(r"Netjoin", 10, window="#v3"),
                         "*** Netjoin hub.net leaf.net: bob, carol joined")
        c.expect_nicks("#v3", ["@tester", "bob", "carol"], 10)
        # None of the batched lines was shown on its own.
        self.assertFalse([line for line in c.seen if "has quit" in line or "has joined" in line])

    def test_batches_that_never_end_or_make_no_sense(self):
        c, peer = self.start()
        # More open batches than the bound, an unknown kind, an end without a start, a
        # reference to a batch that is not open: lines outside a known batch show as usual.
        peer.send("".join(":s BATCH +x%d netsplit a b\r\n" % i for i in range(40)) +
                  ":s BATCH +odd chathistory #v3\r\n:s BATCH -nosuch\r\n:s BATCH\r\n:s BATCH +\r\n"
                  "@batch=odd :bob!b@bob.host PRIVMSG #v3 :in an odd batch\r\n"
                  "@batch=x39 :bob!b@bob.host QUIT :beyond the bound\r\n"
                  "@batch=x1 :carol!c@carol.host QUIT :split\r\n")
        c.expect(r"^<bob> in an odd batch$", 10, window="#v3")
        c.expect(r"bob has quit IRC \(beyond the bound\)$", 10, window="#v3")
        c.expect_nicks("#v3", ["@tester"], 10)
        c.type("/echo still-alive")
        c.expect(r"still-alive", 10)


IRCV3_MODULES = """<module name="ircv3_chghost">
<module name="chghost">
<module name="ircv3_invitenotify">
<module name="ircv3_accounttag">
<module name="ircv3_batch">
<module name="uhnames">
<module name="namesx">
<module name="setname">
<setname operonly="no">
<class name="all" commands="*" privs="*" usermodes="*" chanmodes="*">
<type name="Admin" classes="all">
<oper name="boss" password="bosspw" host="*@*" type="Admin">
"""


@unittest.skipUnless((INSPIRCD and ATHEME and OPENSSL) or CI,
                     "inspircd, atheme-services or openssl is not installed")
class RealServerCapabilityTests(unittest.TestCase):
    """InspIRCd's IRCv3 modules with Atheme accounts: what another user's changes look like."""

    @classmethod
    def setUpClass(cls):
        cls.dir = tempfile.mkdtemp(prefix="vesk-v3-")
        cls.net = ServicesNet(cls.dir, Certificates(cls.dir), IRCV3_MODULES)

    @classmethod
    def tearDownClass(cls):
        cls.net.stop()
        shutil.rmtree(cls.dir, ignore_errors=True)

    def test_another_users_changes_without_who(self):
        self.net.register("someone", "pw-someone")  # waits until the services are linked
        c = Vesk(["-s", "127.0.0.1:%d" % self.net.port], IDENTITY + SHOW_AND_CACHE)
        self.addCleanup(c.kill)
        text = c.expect(r"^\*\*\* Capabilities enabled: ", 15)
        for name in ALL_CAPS.split():
            self.assertIn(name, text.split())
        c.expect(r"Welcome", 15)
        c.type("/join #real")
        c.expect_nicks("#real", ["@tester"], 15)
        watcher = PlainUser(self.net.port, "watcher")
        self.addCleanup(watcher.close)
        third = PlainUser(self.net.port, "third")
        self.addCleanup(third.close)
        steps = [
            ("JOIN #real", r"^\*\*\* watcher \(\S+\) has joined #real \[not logged in\]$"),
            ("PRIVMSG NickServ :REGISTER pw-watcher watcher@example.com",
             r"^\*\*\* watcher is logged in as watcher$"),
            ("AWAY :lunch", r"^\*\*\* watcher is away \(lunch\)$"),
            ("AWAY", r"^\*\*\* watcher is back$"),
            ("SETNAME :Wat Cher", r'^\*\*\* watcher changes real name to "Wat Cher"$'),
            # (only a channel operator may invite here: we give watcher the mark first)
            (None, r"^\*\*\* tester sets #real mode: \+o watcher$"),
            ("INVITE third #real", r"^\*\*\* watcher invited third to #real$"),
            ("OPER boss bosspw\r\nCHGHOST watcher new.host.test",
             r"^\*\*\* watcher changes host to \S+@new\.host\.test$"),
        ]
        for line, shown in steps:
            with self.subTest(line):
                if line:
                    watcher.send(line + "\r\n")
                else:
                    c.type("/mode #real +o watcher")
                c.expect(shown, 15, window="#real")
        # The names come with their addresses (userhost-in-names); the list shows the nicks.
        c.type("/names #real")
        c.expect(r"watcher!\S+@new\.host\.test", 15)
        c.expect_nicks("#real", ["@tester", "@watcher"], 15)
        c.type("/ignore watcher 0")
        self.assertIn("new.host.test",
                      c.expect(r"^\*\*\* Added .* to ignore list$", 10, window="#real"))


if __name__ == "__main__":
    unittest.main()
