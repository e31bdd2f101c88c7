"""End-to-end tests of the scripts' finer points and the settings file: identifiers glued to
other text, entries chained with ":>", the channel key of mode entries, the notify event, the
settings older files kept in section "Text", and the settings file made and kept at exit.

vesk32 runs headless, against a real ngircd on loopback with small IRC clients of our own as
the other users where a server is needed.
"""
import os
import stat
import subprocess
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import chat_connection_test as base  # noqa: E402  (client driver, ngircd)
import chat_parser_server_test as parser  # noqa: E402  (the small IRC client of our own)

# Remote commands (options3 field 7) and events (field 14) on.
REMOTE_ON = {"options3": {7: 1, 14: 1}}


@unittest.skipUnless(base.NGIRCD or os.environ.get("CI"), "ngircd is not installed")
class ScriptsOnAServer(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="vesk-script-settings-")
        self.addCleanup(parser.shutil.rmtree, self.dir, True)
        self.port = base.free_port()
        helper = base.NgircdTests("start_ngircd")
        helper.dir = self.dir
        ngircd = helper.start_ngircd(self.port)
        self.addCleanup(lambda: (ngircd.kill(), ngircd.wait()))

    def client(self, ini_extra, fields=None, args=None):
        ini = base.IDENTITY + base.options(**(fields or REMOTE_ON)) + ini_extra
        c = base.Client(args or ["-s", "127.0.0.1:%d" % self.port, "-n", "tester,tester_"], ini)
        self.addCleanup(c.kill)
        return c

    def peer(self, nick):
        p = parser.IrcPeer(self.port, nick)
        self.addCleanup(p.close)
        return p

    def test_glued_identifiers_and_chained_entries(self):
        c = self.client("[Aliases]\nalias0=/greet /notice $nick <$parms> x$nick =$nick\n"
                        "[Events]\ne0=1:on text:*hello*:*:/greet\n"
                        "e1=1:on text:*chain*:*:/msg $nick first :> SECOND again\n"
                        "[Commands]\nc0=1:SECOND:/msg $nick second $parms\n")
        c.expect(r"^Welcome to the Internet Relay Network tester")
        alice = self.peer("alice")
        alice.send("PRIVMSG tester :hello there\r\n")
        self.assertIn(":<hello there> xalice =alice", alice.read_until("NOTICE alice"))
        alice.send("PRIVMSG tester :chain\r\n")
        self.assertIn(":first", alice.read_until("PRIVMSG alice"))
        self.assertIn(":second again", alice.read_until("PRIVMSG alice"))
        self.assertEqual(c.finish(), 0)

    def test_mode_entry_removes_the_key_just_set(self):
        c = self.client("[Events]\ne0=1:on mode:#k:-k\n")
        c.expect(r"^Welcome to the Internet Relay Network tester")
        c.type("/join #k")
        c.expect(r"^\*\*\* Now talking in #k$", window="#k")
        alice = self.peer("alice")
        alice.send("JOIN #k\r\n")
        alice.read_until("366")
        c.type("/mode #k +o alice")
        alice.read_until("MODE #k +o alice")
        alice.send("MODE #k +k letmein\r\n")
        line = alice.read_until("MODE #k -k")
        self.assertTrue(line.startswith(":tester!"), line)
        self.assertEqual(c.finish(), 0)

    def test_notify_arrival_runs_the_notify_event(self):
        bob = self.peer("bob")
        # Notify on (options field 6) with bob on the list.
        fields = dict(REMOTE_ON, options={6: 1})
        c = self.client("[Notify]\nn0=bob\n[Events]\ne0=1:on notify:*:/msg $nick welcome back $nick\n",
                        fields)
        c.expect(r"^\*\*\* bob is on IRC$", timeout=10)
        self.assertIn(":welcome back bob", bob.read_until("PRIVMSG bob", timeout=5))
        self.assertEqual(c.finish(), 0)

    def test_old_keys_are_converted_and_used(self):
        c = self.client("[Text]\n; kept\nhosts=127.0.0.1:%d\nwwwbrowser=true\n"
                        "dclick=/lusers::/whois $$1\n" % self.port,
                        args=["-n", "tester,tester_"])
        c.type("/server 1")
        c.expect(r"^Welcome to the Internet Relay Network tester", timeout=10)
        with open(os.path.join(c.dir, "vesk32", "vesk.ini")) as f:
            saved = f.read()
        self.assertEqual(c.finish(), 0)
        self.assertIn("sv0=127.0.0.1SERVER:127.0.0.1:%d" % self.port, saved)
        self.assertIn("browser=true", saved)
        self.assertIn("query=/whois $$1", saved)
        self.assertIn("; kept", saved)
        for old in ("hosts=", "wwwbrowser=", "dclick="):
            self.assertNotIn(old, saved)


class SettingsAtExit(unittest.TestCase):
    """No server: the client starts with an empty configuration folder and ends at once."""

    def run_client(self, home, lines):
        env = dict(os.environ, XDG_CONFIG_HOME=home)
        done = subprocess.run([base.VESK32, "--headless", "-n", "tester"], env=env,
                              input="".join(line + "\n" for line in lines).encode(),
                              stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=30)
        self.assertEqual(done.returncode, 0, done.stderr)
        return done.stdout.decode("utf-8", "replace")

    def test_the_first_exit_creates_the_file_and_later_ones_keep_comments(self):
        home = tempfile.mkdtemp(prefix="vesk-first-exit-")
        self.addCleanup(parser.shutil.rmtree, home, True)
        folder = os.path.join(home, "vesk32")
        ini = os.path.join(folder, "vesk.ini")
        out = self.run_client(home, ["/alias /one /echo from one"])
        self.assertIn("* Alias /one set", out)
        self.assertEqual(stat.S_IMODE(os.stat(folder).st_mode), 0o700)
        self.assertEqual(stat.S_IMODE(os.stat(ini).st_mode), 0o600)
        with open(ini) as f:
            saved = f.read()
        self.assertIn("alias0=/one /echo from one", saved)
        self.assertIn("options=", saved)
        self.assertNotIn("nick=tester", saved)  # the command line's nick is not a setting

        with open(ini, "w") as f:
            f.write(saved.replace("[Aliases]\n", "[Aliases]\n; my first alias\n"))
        out = self.run_client(home, ["/alias /zero /echo from zero", "/one"])
        self.assertIn("from one", out)
        with open(ini) as f:
            saved = f.read()
        self.assertIn("; my first alias\nalias0=/one /echo from one\nalias1=/zero /echo from zero",
                      saved)


if __name__ == "__main__":
    unittest.main()
