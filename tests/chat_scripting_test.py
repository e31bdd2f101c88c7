"""End-to-end tests of the scripting: events and CTCP replies answering other users, auto-op
after its delay, timers, the refusals that protect against a hostile user, and the script
lists kept across a restart.

vesk32 runs headless against a real ngircd on loopback, with small IRC clients of our own as
the other users.
"""
import os
import sys
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import chat_connection_test as base  # noqa: E402  (client driver, ngircd)
import chat_parser_server_test as parser  # noqa: E402  (the small IRC client of our own)

# Remote commands (options3 field 7) and events (field 14) on.
REMOTE_ON = {"options3": {7: 1, 14: 1}}


@unittest.skipUnless(base.NGIRCD or os.environ.get("CI"), "ngircd is not installed")
class Scripting(unittest.TestCase):
    def setUp(self):
        self.dir = parser.tempfile.mkdtemp(prefix="vesk-scripting-")
        self.port = base.free_port()
        helper = base.NgircdTests("start_ngircd")
        helper.dir = self.dir
        self.ngircd = helper.start_ngircd(self.port)
        self.peers = []
        self.clients = []

    def tearDown(self):
        for c in self.clients:
            c.kill()
        for p in self.peers:
            p.close()
        if self.ngircd.poll() is None:
            self.ngircd.kill()
            self.ngircd.wait()
        parser.shutil.rmtree(self.dir, ignore_errors=True)

    def client(self, ini_extra="", fields=None):
        ini = (base.IDENTITY + "host=Local:127.0.0.1:%d\n" % self.port +
               base.options(**(fields or REMOTE_ON)) + ini_extra)
        c = base.Client(["-s", "127.0.0.1:%d" % self.port, "-n", "tester,tester_"], ini)
        self.clients.append(c)
        c.expect(r"^Welcome to the Internet Relay Network tester")
        return c

    def peer(self, nick):
        p = parser.IrcPeer(self.port, nick)
        self.peers.append(p)
        return p

    def ini_path(self, c):
        return os.path.join(c.dir, "vesk32", "vesk.ini")

    def test_events_and_ctcp_replies_answer_other_users(self):
        c = self.client("[Events]\n"
                        "e0=1:on text:*hello*:*:/msg $nick hi $nick, you said: $parms\n"
                        "e1=1:on join:#room:/notice $nick welcome to $chan\n"
                        "[Commands]\n"
                        "c0=1:WHOAMI:/notice $nick you are $nick at level $level\n"
                        "c1=1:PING:!\n")
        alice = self.peer("alice")
        alice.send("PRIVMSG tester :well hello there\r\n")
        self.assertIn(":hi alice, you said: well hello there", alice.read_until("PRIVMSG alice"))
        bob = self.peer("bob")
        bob.send("PRIVMSG tester :\x01WHOAMI\x01\r\n")
        self.assertIn(":you are bob at level 1", bob.read_until("NOTICE bob"))
        # A "!" entry answers nothing and keeps the built-in reply from going out.
        bob.send("PRIVMSG tester :\x01PING 77\x01\r\nPRIVMSG tester :\x01WHOAMI\x01\r\n")
        reply = bob.read_until("NOTICE bob")
        self.assertNotIn("PING", reply)
        c.type("/join #room")
        c.expect(r"^\*\*\* Now talking in #room$", window="#room")
        carol = self.peer("carol")
        carol.send("JOIN #room\r\n")
        self.assertIn(":welcome to #room", carol.read_until("NOTICE carol"))
        self.assertEqual(c.finish(), 0)

    def test_hostile_text_runs_nothing(self):
        victim = os.path.join(self.dir, "victim.txt")
        c = self.client("[Events]\n"
                        "e0=1:on text:*echo*:*:/msg $nick $parms\n"
                        "e1=1:on text:*wipe*:*:/remove victim.txt\n"
                        "e2=1:on text:*later*:*:/timer5 1 1 /msg $nick $parms\n"
                        "[Variables]\nv0=%secret 42\n")
        with open(os.path.join(c.dir, "vesk32", "victim.txt"), "w") as f:
            f.write("keep me\n")
        victim = os.path.join(c.dir, "vesk32", "victim.txt")
        mallory = self.peer("mallory")
        hostile = "echo $me %secret | /join #evil :$:/quit $read vesk.ini"
        mallory.send("PRIVMSG tester :%s\r\n" % hostile)
        self.assertIn(":" + hostile, mallory.read_until("PRIVMSG mallory"))
        mallory.send("PRIVMSG tester :wipe\r\n")
        c.expect(r"^\*\*\* Remote command refused: /remove$")
        self.assertTrue(os.path.exists(victim))
        later = "later $me %secret | /join #evil2"
        mallory.send("PRIVMSG tester :%s\r\n" % later)
        self.assertIn(":" + later, mallory.read_until("PRIVMSG mallory", timeout=8))
        c.expect(r"^\* Timer5 halted$")
        c.type("/echo still-here")
        c.expect(r"^still-here$")
        self.assertFalse(any("#evil" in line.split("\t")[0] for line in c.seen))
        self.assertEqual(c.finish(), 0)

    def test_timer_fires_the_right_number_of_times(self):
        c = self.client()
        alice = self.peer("alice")
        c.type("/timer1 3 1 /msg alice tick")
        c.expect(r"^\* Timer1 activated$")
        for _ in range(3):
            self.assertIn(":tick", alice.read_until("PRIVMSG alice", timeout=4))
        c.expect(r"^\* Timer1 halted$", timeout=4)
        c.type("/timers")
        c.expect(r"^\* No active timers$")
        self.assertEqual(c.finish(), 0)

    def test_auto_op_after_its_delay(self):
        fields = dict(REMOTE_ON)
        fields["options"] = {13: 1}
        c = self.client("[AutoOp]\nn0=bob,#ops\n", fields)
        c.type("/join #ops")
        c.expect(r"^\*\*\* Now talking in #ops$", window="#ops")
        # The server tells us our names in #ops before anyone can join after us.
        bob = self.peer("bob")
        # Timed from before the join: the op may be read late, but never sent sooner.
        joined = time.monotonic()
        bob.send("JOIN #ops\r\n")
        line = bob.read_until("MODE #ops +o bob", timeout=14)
        waited = time.monotonic() - joined
        self.assertIn("tester", line)
        self.assertGreaterEqual(waited, 2.5)
        alice = self.peer("alice")
        alice.send("JOIN #ops\r\n")
        alice.read_until("366")
        c.type("/auto -a alice #ops")
        c.expect(r"^\*\*\* Updated auto-op channels for alice$|^\*\*\* Added alice to auto-op list$")
        self.assertEqual(c.finish(), 0)

    def test_saved_scripts_survive_a_restart(self):
        c = self.client()
        for line in ("/alias /hi /msg $1 hello from an alias",
                     "/auser 5,10 bob",
                     "/auto -a *!*@friends.example #ops",
                     "/events on"):
            c.type(line)
        c.expect(r"^\* Added bob to user list$")
        c.type("/save -e events.ini")
        c.expect(r"^\*\*\* Saved events to .*events\.ini$")
        c.proc.stdin.close()
        self.assertEqual(c.proc.wait(timeout=10), 0)
        with open(self.ini_path(c)) as f:
            saved = f.read()
        self.assertIn("alias0=/hi /msg $1 hello from an alias", saved)
        self.assertIn("u0=5,10:bob", saved)
        self.assertIn("n0=*!*@friends.example,#ops", saved)
        c.kill()

        again = base.Client(["-s", "127.0.0.1:%d" % self.port, "-n", "tester,tester_"], saved)
        self.clients.append(again)
        again.expect(r"^Welcome to the Internet Relay Network tester")
        alice = self.peer("alice")
        again.type("/hi alice")
        self.assertIn(":hello from an alias", alice.read_until("PRIVMSG alice"))
        again.type("/ulist 5")
        again.expect(r"^5,10:bob$")
        again.type("/events")
        again.expect(r"^\*\*\* Events are on$")
        self.assertEqual(again.finish(), 0)


SOURCE = os.environ.get("SOURCE_DIR", os.path.join(os.path.dirname(__file__), ".."))
sys.path.insert(0, os.path.join(SOURCE, "platform", "tui", "demo"))
from tmux_harness import Tmux, read_text, wait_until  # noqa: E402


@unittest.skipUnless(parser.shutil.which("tmux"), "tmux is not installed")
class Editors(unittest.TestCase):
    """The alias and remote editors of the full-screen client, with an "editor" that changes
    the file the way a user would."""

    def start(self, editor):
        home = parser.tempfile.mkdtemp(prefix="vesk-editors-")
        self.addCleanup(parser.shutil.rmtree, home, True)
        os.makedirs(os.path.join(home, "vesk32"))
        self.ini = os.path.join(home, "vesk32", "vesk.ini")
        with open(self.ini, "w") as f:
            # The user's own editor instead of the built-in one.
            f.write(base.IDENTITY + "[Aliases]\nalias0=/old /echo old alias\n"
                    "[Remote]\neditor=1\n")
        t = Tmux([base.VESK32, "-i", self.ini], 80, 24,
                 env={"LANG": "C.UTF-8", "TERM": "screen", "XDG_CONFIG_HOME": home,
                      "VISUAL": editor})
        self.addCleanup(t.close)
        t.wait_for("Status Window")
        return t

    def test_alias_editor_changes_and_saves_the_list(self):
        t = self.start("sed -i -e 's/old alias/edited alias/' -e '$a /greet /echo hello from the editor'")
        t.keys("M-a")
        # The editor runs with the terminal handed over: keys typed meanwhile would reach
        # the terminal's line editing, not the program. The saved list shows it is back.
        wait_until(lambda: "alias1=/greet" in read_text(self.ini), what="the edited aliases")
        t.keys("/greet", "Enter")
        t.wait_for("hello from the editor")
        t.keys("/old", "Enter")
        t.wait_for("edited alias")
        with open(self.ini) as f:
            saved = f.read()
        self.assertIn("alias0=/old /echo edited alias", saved)
        self.assertIn("alias1=/greet /echo hello from the editor", saved)

    def test_remote_editor_refuses_a_faulty_text(self):
        t = self.start("sed -i -e '1i stray line'")
        t.keys("M-r")
        t.wait_for("comes before the first list header")


if __name__ == "__main__":
    unittest.main()
