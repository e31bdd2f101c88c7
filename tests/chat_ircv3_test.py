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
from chat_connection_test import IDENTITY, Client, ScriptedServer  # noqa: E402
from chat_parser_server_test import Vesk  # noqa: E402
from chat_tls_test import INSPIRCD, OPENSSL, Certificates, InspIRCd, PlainUser  # noqa: E402

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
            ("multi-line LS", [":s CAP * LS * :away-notify server-time=x\r\n",
                               ":s CAP * LS :message-tags sasl\r\n"],
             "CAP REQ :server-time message-tags"),
            ("nothing wanted", [":s CAP * LS :away-notify foo\r\n"], None),
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


if __name__ == "__main__":
    unittest.main()
