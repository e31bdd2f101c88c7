"""End-to-end tests of the notify list, the ignore list, the URL catcher, the channel
information asked for with /channel, and the popups file.

vesk32 runs headless against a real ngircd on loopback with small IRC clients of our own as
the other users, or against a scripted server where the server must offer MONITOR (ngircd
does not).
"""
import os
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import chat_connection_test as base  # noqa: E402  (scripted server, client driver, ngircd)
import chat_parser_server_test as parser  # noqa: E402  (the small IRC client of our own)
from tmux_harness import read_text, wait_text, wait_until  # noqa: E402


@unittest.skipUnless(base.NGIRCD or os.environ.get("CI"), "ngircd is not installed")
class WithNgircd(unittest.TestCase):
    def setUp(self):
        self.dir = parser.tempfile.mkdtemp(prefix="vesk-lists-")
        self.port = base.free_port()
        helper = base.NgircdTests("start_ngircd")
        helper.dir = self.dir
        self.ngircd = helper.start_ngircd(self.port)
        self.peers = []
        self.c = base.Client(["-s", "127.0.0.1:%d" % self.port, "-n", "tester"])
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

    def test_notify_reports_arrival_and_departure_with_ison(self):
        c = self.c
        c.type("/notify on")
        c.expect(r"^\*\*\* Notify is ON$")
        c.type("/notify -a alice an old friend")
        c.expect(r"^\*\*\* Added alice to notify list$")
        c.type("/notify")
        c.expect(r"^\*\*\* No one in your notify list is on IRC$")
        alice = self.peer("alice")
        c.type("/notify")
        c.expect(r"^\*\*\* alice is on IRC \(an old friend\)$")
        c.type("/notify -s")
        c.expect(r"^alice$", window="Notify List")
        alice.send("QUIT :bye\r\n")
        alice.read_until("ERROR")
        alice.close()
        self.peers.remove(alice)
        # A change of the list checks again without forgetting who was on.
        c.type("@@Status Window\t/notify -a zed")
        c.expect(r"^\*\*\* alice has left IRC$")
        c.type("@@Status Window\t/notify -r zed")
        c.expect(r"^\*\*\* Removed zed from notify list$")
        self.assertEqual(c.finish(), 0)

    def test_ignored_messages_and_ctcp_do_not_show(self):
        c = self.c
        alice, bob = self.peer("alice"), self.peer("bob")
        c.type("/ignore alice")
        c.expect(r"^\*\*\* Added alice!\*@\* to ignore list$")
        alice.send("PRIVMSG tester :the secret words\r\n")
        alice.send("PRIVMSG tester :\x01VERSION\x01\r\n")
        alice.send("NOTICE tester :a quiet notice\r\n")
        # The server passes on alice's lines before it answers her ping, so bob's marker,
        # sent after the answer, reaches us behind them (two connections keep no order).
        alice.send("PING :sync\r\n")
        alice.read_until("PONG")
        bob.send("PRIVMSG tester :marker from bob\r\n")
        c.expect(r"^<bob> marker from bob$", window="bob")
        self.assertFalse(any("secret words" in l or "quiet notice" in l or "VERSION" in l
                             for l in c.seen), "\n".join(c.seen))
        # No CTCP answer went back to alice: nothing from us comes before our marker.
        c.type("/msg alice after")
        heard = [alice.read_until("")]
        while "PRIVMSG alice :after" not in heard[-1]:
            heard.append(alice.read_until(""))
        self.assertFalse(any("VERSION" in line for line in heard), heard)
        # Lifting the ignore for private messages lets them through again.
        c.type("/ignore -rp alice")
        c.expect(r"^\*\*\* Updated ignore switches for alice!\*@\*$")
        alice.send("PRIVMSG tester :now you hear me\r\n")
        c.expect(r"^<alice> now you hear me$", window="alice")
        self.assertEqual(c.finish(), 0)

    def test_url_in_a_channel_message_reaches_the_url_list(self):
        c = self.c
        alice = self.peer("alice")
        c.type("/url on")
        c.expect(r"^\*\*\* URL Catcher is ON$")
        c.type("/join #room")
        c.expect(r"^\*\*\* Now talking in #room$", window="#room")
        alice.send("JOIN #room\r\n")
        alice.read_until("366")
        alice.send("PRIVMSG #room :see http://example.org/page, and www.example.net; ok\r\n")
        c.expect(r"http://example\.org/page", window="#room")
        c.type("/url")
        c.expect(r"^ \? +http://example\.org/page +URL:http://example\.org/page$",
                 window="URL List")
        c.expect(r"^ \? +www\.example\.net +URL:www\.example\.net$", window="URL List")
        c.type("/url hide")
        # The list is kept in the settings file.
        ini = os.path.join(c.dir, "vesk32", "vesk.ini")
        text = wait_text(ini, lambda t: "[WWW]" in t, what="the URL list in the settings")
        self.assertIn("URL:http://example.org/page", text)
        self.assertEqual(c.finish(), 0)

    def test_channel_shows_the_ban_list(self):
        c = self.c
        c.type("/join #bans")
        c.expect(r"^\*\*\* Now talking in #bans$", window="#bans")
        c.type("@@#bans\t/mode #bans +b bad!*@*.example")
        c.expect(r"bad!\*@\*\.example", window="#bans")
        c.type("@@#bans\t/channel")
        c.expect(r"^\*\*\* Retrieving #bans channel info\.\.\.$", window="#bans")
        c.expect(r"^\*\*\* #bans ban list$", window="#bans")
        c.expect(r"^    bad!\*@\*\.example$", window="#bans")
        c.expect(r"^\*\*\* You are a Channel Operator and can change these settings$",
                 window="#bans")
        self.assertEqual(c.finish(), 0)


@unittest.skipUnless(base.NGIRCD or os.environ.get("CI"), "ngircd is not installed")
class AlarmSounds(unittest.TestCase):
    """Alarms set to their sound run the configured player with the sound file as its one
    argument; an alarm whose sound is missing beeps instead."""

    def test_query_and_invite_alarms_run_the_player(self):
        self.dir = parser.tempfile.mkdtemp(prefix="vesk-alarms-")
        self.addCleanup(parser.shutil.rmtree, self.dir, ignore_errors=True)
        port = base.free_port()
        helper = base.NgircdTests("start_ngircd")
        helper.dir = self.dir
        ngircd = helper.start_ngircd(port)
        self.addCleanup(ngircd.wait)
        self.addCleanup(ngircd.kill)
        played = os.path.join(self.dir, "played.txt")
        player = os.path.join(self.dir, "fake player.sh")
        with open(player, "w") as f:
            f.write('#!/bin/sh\nprintf "%%s|%%s\\n" "$#" "$1" >> "%s"\n' % played)
        os.chmod(player, 0o755)
        waves = os.path.join(self.dir, "sounds")
        os.makedirs(waves)
        for name in ("new query.wav", "invite.wav"):
            open(os.path.join(waves, name), "wb").close()
        # options2: the query alarm (15th field) and the invite alarm (22nd) play sounds.
        ini = ("[Options]\noptions2=5,50,0,0,0,0,0,0,1,1,1,1,0,0,2,1,1,1,0,0,0,2\n"
               "[Dirs]\nwaves=%s\n[Sound]\nplayer=%s\n"
               "[Waves]\nquery=new query.wav\ninvite=invite.wav\n" % (waves, player))
        c = base.Client(["-s", "127.0.0.1:%d" % port, "-n", "tester"], ini)
        self.addCleanup(c.kill)
        c.expect(r"^Welcome to the Internet Relay Network tester")
        alice = parser.IrcPeer(port, "alice")
        self.addCleanup(alice.close)
        alice.send("PRIVMSG tester :hello there\r\n")
        c.expect(r"^<alice> hello there$", window="alice")
        # Each player runs on its own: the second alarm waits for the first one's line, or
        # the two could write in either order.
        wait_until(lambda: read_text(played).endswith("\n"), what="the query alarm's player")
        alice.send("JOIN #party\r\nINVITE tester #party\r\n")
        wait_until(lambda: read_text(played).count("\n") >= 2, what="the invite alarm's player")
        self.assertEqual(read_text(played).splitlines(),
                         ["1|" + os.path.join(waves, "new query.wav"),
                          "1|" + os.path.join(waves, "invite.wav")])
        self.assertEqual(c.finish(), 0)


class WithMonitor(unittest.TestCase):
    """A scripted server that offers MONITOR: arrivals and departures come without polling."""

    def test_monitor_replies_announce_arrival_and_departure(self):
        server = base.ScriptedServer()
        c = base.Client(["-s", "127.0.0.1:%d" % server.port, "-n", "tester"])
        try:
            c.type("/notify on")
            c.type("/notify -a alice")
            peer = server.accept()
            base.welcome(peer)
            peer.send(":srv 005 tester MONITOR=100 :are supported\r\n")
            peer.send(":srv 376 tester :End of MOTD\r\n")
            self.assertEqual(peer.read_until("MONITOR C").strip(), "MONITOR C")
            self.assertEqual(peer.read_until("MONITOR +").strip(), "MONITOR + alice")
            peer.read_until("ISON")
            peer.send(":srv 303 tester :\r\n")
            c.expect(r"^\*\*\* No one in your notify list is on IRC$")
            peer.send(":srv 730 tester :alice!a@host.example\r\n")
            c.expect(r"^\*\*\* alice is on IRC$")
            peer.send(":srv 731 tester :alice\r\n")
            c.expect(r"^\*\*\* alice has left IRC$")
        finally:
            c.kill()
            server.stop()


class PopupsFile(unittest.TestCase):
    def test_load_and_save_popups(self):
        c = base.Client([])
        try:
            path = os.path.join(c.dir, "my popups.ini")
            with open(path, "w") as f:
                f.write("[lPopup]\nlp0=Op:/mode # +o $1 $2 $3\n[mPopup]\nmp0=Hi:/echo hi\n")
            c.type('/load -p "%s"' % path)
            c.expect(r"^\*\*\* Loaded popups from .*my popups\.ini$")
            saved = os.path.join(c.dir, "copy.ini")
            c.type('/save -p "%s"' % saved)
            c.expect(r"^\*\*\* Saved popups to .*copy\.ini$")
            c.type("/load -p")
            c.expect(r"^\*\*\* Invalid parameters$")
            with open(saved) as f:
                text = f.read()
            self.assertEqual(c.finish(), 0)
            self.assertIn("Op:/mode # +o $1 $2 $3", text)
            self.assertIn("[mPopup]", text)
        finally:
            c.kill()


class NickListPopupOnScreen(unittest.TestCase):
    """The full-screen client in tmux: Shift+F10 on a chosen nick opens the nick-list popup."""

    def test_nick_list_popup_item_sends_the_mode_line(self):
        source = os.environ.get("SOURCE_DIR", os.path.join(os.path.dirname(__file__), ".."))
        sys.path.insert(0, os.path.join(source, "platform", "tui", "demo"))
        from tmux_harness import Tmux  # noqa: E402
        import tui_chat_test as screen  # noqa: E402  (the scripted server of the screen tests)
        if not os.path.exists(base.VESK32):
            self.fail("vesk32 is not built")
        server = screen.ScriptedServer()
        self.addCleanup(server.close)
        home = parser.tempfile.mkdtemp()
        ini = os.path.join(home, "vesk.ini")
        # A stand-in browser that writes down each argument it was given.
        browser = os.path.join(home, "browser.sh")
        opened = os.path.join(home, "opened.txt")
        with open(browser, "w") as f:
            f.write('#!/bin/sh\nfor a in "$@"; do printf "%%s\\n" "$a" >> "%s"; done\n' % opened)
        os.chmod(browser, 0o755)
        with open(ini, "w") as f:
            f.write("[Vesk]\nnick=tester\nanick=tester_\nuser=Test User\nemail=t@localhost\n"
                    "[lPopup]\nlp0=Op:/mode # +o $1 $2 $3\n"
                    "[bPopup]\nbp0=Tools\nbp1=Hello:/echo hello from the bar\n"
                    "[Files]\nbrowser=%s\n"
                    "[Options]\noptions5=,,,,,,,,,,,,,,,,,,,0\n" % browser)  # no folder on connect
        t = Tmux([base.VESK32, "-i", ini, "-s", "127.0.0.1:%d" % server.port], 80, 24,
                 env={"LANG": "C.UTF-8", "TERM": "screen", "XDG_CONFIG_HOME": home})
        self.addCleanup(t.close)
        t.wait_for("End of MOTD")
        server.send(":tester!t@h JOIN #test")
        server.send(":irc.test 353 tester = #test :@alice +bob tester")
        server.send(":irc.test 366 tester #test :End of /NAMES list.")
        t.wait_for("2:#test")
        t.keys("M-2")
        t.wait_for(lambda s: any(line.rstrip().endswith("|+bob") for line in s.splitlines()))
        t.keys("S-Down", "S-Down")  # chooses the first nick, then the one below it
        t.keys("S-F10")
        t.wait_for("Op")
        t.keys("Enter")
        self.assertEqual(server.wait_received(b"MODE #test +"), b"MODE #test +o bob")
        # The menu-bar menu has the title its first line gives.
        t.wait_for("Tools")
        # A caught address opens from the URL window's menu, as one argument, no shell.
        t.keys("/url on", "Enter")
        server.send(":bob!b@h PRIVMSG #test :look http://example.org/a?b=1&c=$HOME|`x` now")
        t.wait_for("look http")
        t.keys("/url", "Enter")
        t.wait_for("URL:http://example.org")
        t.keys("S-F10")
        t.wait_for("Open")
        t.keys("Enter")
        t.wait_for("example.org/a?b=1")
        t.keys("Enter")
        # The stand-in's redirection makes the file before its printf fills it: wait for
        # the whole line.
        got = wait_text(opened, lambda t: t.endswith("\n"), what="the browser's argument")
        self.assertEqual(got, "http://example.org/a?b=1&c=$HOME|`x`\n")
        # The channels folder: a name typed in is added with "#" in front and joined.
        t.keys("M-j")
        t.wait_for("Channels Folder")
        t.text("chat")
        t.keys("M-a")
        t.wait_for("#chat")
        t.keys("M-j")
        self.assertEqual(server.wait_received(b"JOIN #chat"), b"JOIN #chat")
        wait_until(lambda: "ch0=#chat" in read_text(ini), what="the channels folder saved")


if __name__ == "__main__":
    unittest.main()
