"""End-to-end tests of the chat client's remote refusals, dialog identifiers without a screen,
address masks, single-word messages, DCC corner cases and the `make chat` example scripts.

vesk32 runs headless against a real ngircd on loopback with small IRC clients of our own as
the other users, or against a scripted server where a line must come exactly as written.
"""
import os
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import chat_connection_test as base  # noqa: E402  (scripted server, client driver, ngircd)
import chat_dcc_test as dcc  # noqa: E402  (two vesk32 on ngircd, files to send)
import chat_parser_server_test as parser  # noqa: E402  (the small IRC client of our own)

SOURCE = os.environ.get("SOURCE_DIR", os.path.join(os.path.dirname(__file__), ".."))
# Remote commands (options3 field 7) and events (field 14) on.
REMOTE_ON = {"options3": {7: 1, 14: 1}}


def stderr_text(client):
    client.stderr.flush()
    with open(os.path.join(client.dir, "stderr"), errors="replace") as f:
        return f.read()


@unittest.skipUnless(base.NGIRCD or os.environ.get("CI"), "ngircd is not installed")
class OnNgircd(dcc.DccBase):
    """ngircd with its folder and clients (DccBase), and small peers of our own."""

    def client(self, ini_extra="", fields=None, nick="tester"):
        """A connected client; `fields` are its options (REMOTE_ON when None, none when {})."""
        fields = REMOTE_ON if fields is None else fields
        ini = (base.IDENTITY.replace("nick=tester", "nick=" + nick) +
               (base.options(**fields) if fields else "") + ini_extra)
        c = base.Client(["-s", "127.0.0.1:%d" % self.port, "-n", nick], ini)
        self.clients.append(c)
        c.expect(r"^Welcome to the Internet Relay Network %s" % nick, timeout=10)
        return c

    def peer(self, nick):
        p = parser.IrcPeer(self.port, nick)
        self.addCleanup(p.close)
        return p

    def test_remote_remove_is_refused_unless_files_are_allowed(self):
        for allowed, ini in ((False, ""), (True, "[Remote]\nfiles=1\n")):
            c = self.client("[Events]\ne0=1:on text:*wipe*:*:/remove victim.txt\n" + ini)
            victim = os.path.join(c.dir, "vesk32", "victim.txt")
            with open(victim, "w") as f:
                f.write("keep me\n")
            mallory = self.peer("mallory%d" % allowed)
            mallory.send("PRIVMSG tester :wipe\r\n")
            if allowed:
                c.type("/echo marker")
                c.expect(r"^marker$")
                for _ in range(100):
                    if not os.path.exists(victim):
                        break
                    parser.time.sleep(0.05)
                self.assertFalse(os.path.exists(victim))
            else:
                c.expect(r"^\*\*\* Remote command refused: /remove$")
                self.assertTrue(os.path.exists(victim))
            self.assertEqual(c.finish(), 0)
            self.clients.remove(c)

    def test_dialog_identifiers_say_they_cannot_show_and_drop_the_line(self):
        c = self.client("[Aliases]\nalias0=/ask /echo asked $?=\"Your name?\" end\n"
                        "alias1=/pick /echo picked $file end\n"
                        "alias2=/folder /echo chose $dir end\n")
        for command in ("/ask", "/pick", "/folder"):
            c.type(command)
        c.type("/echo after")
        c.expect(r"^after$")
        self.assertFalse(any(w in line for line in c.seen for w in ("asked", "picked", "chose")),
                         "\n".join(c.seen))
        self.assertEqual(stderr_text(c).count("System Error: Unable to display dialog"), 3,
                         stderr_text(c))
        self.assertEqual(c.finish(), 0)

    def test_masks_with_an_address_part_match_the_whole_address(self):
        # Peers are nick!~nick@127.0.0.1 here (no ident, no DNS on this server).
        c = self.client("[Users]\nu0=9:plain\nu1=5:cool*@*\nu2=7:*@127.0.0.1\n"
                        "[Events]\ne0=1:on text:*level*:*:/notice $nick level $level\n"
                        "[AutoOp]\nn0=cool*@*,#ops\nn1=*@127.0.0.1,#ops2\n",
                        {"options": {13: 1}, **REMOTE_ON})
        coolguy, other, plain = self.peer("coolguy"), self.peer("other"), self.peer("plain")
        # Ignore: a private message from a matching address is dropped, a notice is not.
        for mask in ("*@127.0.0.1", "cool*@*"):
            c.type("/ignore -p " + mask)
            c.expect(r"^\*\*\* Added %s to ignore list$" % parser.re.escape(mask))
            coolguy.send("PRIVMSG tester :hidden %s\r\nNOTICE tester :shown %s\r\n" % (mask, mask))
            c.expect(r"^-coolguy- shown %s$" % parser.re.escape(mask))
            self.assertFalse(any("hidden" in line for line in c.seen), "\n".join(c.seen))
            c.type("/ignore -r " + mask)
            c.expect(r"^\*\*\* Removed %s from ignore list$" % parser.re.escape(mask))
        # User list: the first entry that matches gives the level; a bare word is a nickname.
        for peer, level in ((coolguy, "5"), (other, "7"), (plain, "9")):
            peer.send("PRIVMSG tester :my level?\r\n")
            self.assertTrue(peer.read_until(" :level ").endswith(" :level " + level))
        # Auto-op: the joiner's whole address against each entry's mask.
        for channel, peer in (("#ops", coolguy), ("#ops2", other)):
            c.type("/join " + channel)
            c.expect(r"^\*\*\* Now talking in %s$" % channel, window=channel)
            peer.send("JOIN %s\r\n" % channel)
            peer.read_until("MODE %s +o %s" % (channel, peer.nick), timeout=14)
        self.assertEqual(c.finish(), 0)

    def test_example_scripts_greet_others_but_not_the_user(self):
        with open(os.path.join(SOURCE, "tools", "chat-example", "scripts.ini")) as f:
            scripts = f.read()
        c = self.client(scripts, fields={}, nick="newcomer")
        c.expect(r"^\*\*\* Now talking in #welcome$", window="#welcome")
        alice = self.peer("alice")
        alice.send("JOIN #welcome\r\n")
        self.assertIn(":Welcome to #welcome, alice!", alice.read_until("NOTICE alice"))
        c.type("/echo marker")
        c.expect(r"^marker$")
        self.assertFalse(any("Welcome to #welcome, newcomer" in line for line in c.seen),
                         "\n".join(c.seen))
        self.assertEqual(c.finish(), 0)


class OnScriptedServer(unittest.TestCase):
    def setUp(self):
        self.srv = base.ScriptedServer()
        self.c = base.Client([], base.IDENTITY + "host=TestSERVER:127.0.0.1:%d\n" % self.srv.port +
                             base.options(options={1: 1}, **REMOTE_ON) +
                             "[Events]\ne0=1:on text:*word*:*:/echo got [$parms] from $nick\n")
        self.p = self.srv.accept()

    def tearDown(self):
        self.c.kill()
        self.srv.stop()

    def test_single_word_message_without_colon_reaches_the_events(self):
        p, c = self.p, self.c
        base.welcome(p)
        c.expect(r"^Welcome-token$")
        p.send(":tester!t@h JOIN :#t\r\n")
        c.expect(r"^\*\*\* Now talking in #t$", window="#t")
        for line, shown, window, got in (
                (":x!y@z PRIVMSG #t word", "<x> word", "#t", r"got \[word\] from x"),
                (":v!y@z PRIVMSG tester keyword", "<v> keyword", "v", r"got \[keyword\] from v")):
            p.send(line + "\r\n")
            c.expect(r"^%s$" % shown, window=window)
            c.expect(r"^%s$" % got)
        self.assertEqual(c.finish(), 0)

    def test_dcc_offer_before_our_nick_is_confirmed_is_handled(self):
        p, c = self.p, self.c
        p.read_until("USER ")
        # The offer comes ahead of the welcome; a channel's offer is still nobody's.
        p.send(":bob!b@h PRIVMSG tester :\x01DCC SEND f.txt 2130706433 5000 10\x01\r\n"
               ":bob!b@h PRIVMSG #t :\x01DCC SEND g.txt 2130706433 5001 10\x01\r\n")
        c.expect(r"^\*\*\* bob wants to send you: f\.txt \(10 bytes\) from 127\.0\.0\.1$")
        c.expect(r"^\*\*\* DCC request from bob to #t ignored$")
        self.assertEqual(c.finish(), 0)


@unittest.skipUnless(base.NGIRCD or os.environ.get("CI"), "ngircd is not installed")
class DccCorners(dcc.DccBase):
    def test_empty_file_get_completes_like_any_other(self):
        a, b = self.vesk("alice"), self.vesk("bob")
        path = os.path.join(self.folder("src"), "empty.txt")
        open(path, "wb").close()
        a.type("/dcc send bob %s" % path)
        b.expect(r"^\*\*\* alice wants to send you: empty\.txt \(", timeout=10)
        b.type("/dcc get alice")
        b.expect(r"^DCC Get completed$", window="Get alice empty.txt", timeout=15)
        self.assertEqual(os.path.getsize(os.path.join(b.getdir, "empty.txt")), 0)

    def test_file_server_get_ignores_letter_case(self):
        a, b = self.vesk("alice"), self.vesk("bob")
        home = self.folder("served")
        dcc.make_file(os.path.join(home, "ReadMe.txt"), 500)
        a.type("/fserve bob 2 %s" % home)
        b.expect(r"^\*\*\* alice wants to DCC Chat with you", timeout=10)
        b.type("/dcc chat alice")
        w = "Chat with alice"
        b.expect(r"<alice> \[.*served\]$", window=w, timeout=10)
        b.type("@@%s\tget README.TXT" % w)
        b.expect(r"^\*\*\* alice wants to send you: ReadMe\.txt \(500 bytes\)", timeout=10)
        b.type("/dcc get alice")
        b.expect(r"^DCC Get completed$", window="Get alice ReadMe.txt", timeout=15)
        self.assertEqual(dcc.sha(os.path.join(b.getdir, "ReadMe.txt")),
                         dcc.sha(os.path.join(home, "ReadMe.txt")))


if __name__ == "__main__":
    unittest.main()
