"""The chat client's dialogs and frame commands in the real program (vesk32 on a terminal in
tmux, and headless): the prompt, file dialog, cut buffer and nick selection behind the
command language's identifiers, help, the font dialog, the user-information view, function
keys, double-clicks, and every frame command that cannot do its work saying so."""
import os
import subprocess
import sys
import tempfile
import unittest

SOURCE = os.environ.get("SOURCE_DIR", os.path.join(os.path.dirname(__file__), ".."))
sys.path.insert(0, os.path.join(SOURCE, "platform", "tui", "demo"))
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from tmux_harness import Tmux, build_dir  # noqa: E402
from tui_chat_test import ScriptedServer  # noqa: E402

VESK32 = os.environ.get("VESK32", os.path.join(build_dir(), "chat", "vesk32"))

ALIASES = [
    '/F5 /echo five $?="Say what"',
    "/sn /echo selected $snicks",
    "/cbt /echo clip $cb",
    '/pick /echo picked $file="Pick one"',
    "/ask /echo got $$?",
]


def write_settings(home):
    ini = os.path.join(home, "vesk.ini")
    with open(ini, "w") as f:
        # The channels folder would pop up after the MOTD (options5 field 20).
        f.write("[Vesk]\nnick=tester\nanick=tester_\nuser=Test User\nemail=t@localhost\n"
                "[Options]\noptions5=,,,,,,,,,,,,,,,,,,,0\n"
                "[Clicks]\nstatus=/echo clicked the status window\n")
    aliases = os.path.join(home, "aliases.ini")
    with open(aliases, "w") as f:
        f.write("[Aliases]\n")
        for i, a in enumerate(ALIASES):
            f.write("alias%d=%s\n" % (i, a))
    return ini, aliases


class TerminalDialogsTest(unittest.TestCase):
    def setUp(self):
        if not os.path.exists(VESK32):
            self.fail("vesk32 not built")
        self.server = ScriptedServer()
        self.addCleanup(self.server.close)
        self.home = tempfile.mkdtemp()
        ini, aliases = write_settings(self.home)
        self.t = Tmux([VESK32, "-i", ini, "-s", "127.0.0.1:%d" % self.server.port], 80, 24,
                      env={"LANG": "C.UTF-8", "TERM": "screen", "XDG_CONFIG_HOME": self.home})
        self.addCleanup(self.t.close)
        self.t.wait_for("End of MOTD")
        self.t.wait_for("Status: tester")
        self.type("/load -a " + aliases)

    def type(self, line):
        self.t.keys("C-u")
        self.t.text(line)
        self.t.keys("Enter")

    def test_prompt_function_keys_and_help(self):
        t = self.t
        t.keys("F5")  # the alias /F5 asks through the prompt dialog
        t.wait_for("Say what")
        t.text("hello there")
        t.keys("Enter")
        t.wait_for("five hello there")
        self.type("/ask")  # Cancel on a required value: the line does not run
        t.wait_for("Parameters")
        t.keys("Escape")
        s = t.wait_gone("Parameters")
        self.assertNotIn("got", s)
        t.keys("F1")  # no alias /F1: the help contents
        s = t.wait_for("Type /help followed by a word")
        self.assertIn("vesk32 help", s.splitlines()[1])  # a page reads from its top
        t.keys("Escape")
        t.wait_gone("Type /help followed by a word")
        self.type("/help ident")  # partial key search
        t.wait_for("$snicks      the nicknames selected")
        t.keys("Escape")
        t.wait_gone("$snicks")
        t.keys("M-h", "c")  # Help > Contents
        t.wait_for("Topics:")
        t.keys("Escape")

    def test_font_dialog_takes_sizes_5_to_30(self):
        t = self.t
        self.type("/font")
        t.wait_for("Face:")
        t.keys("Tab")  # to the size field
        t.keys("BSpace", "BSpace", "BSpace")
        t.text("40")
        t.keys("Enter")
        t.wait_for("Size must be between 5 and 30 points.")
        t.keys("Enter")
        t.wait_gone("Size must be between")
        t.wait_for("Face:")  # the dialog stays open
        t.keys("BSpace", "BSpace")
        t.text("9")
        t.keys("Enter")
        t.wait_gone("Face:")
        with open(os.path.join(self.home, "vesk.ini")) as f:
            t.keys("Escape")
        self.type("/exit")
        t.wait_for(lambda s: t.dead(), timeout=8)
        with open(os.path.join(self.home, "vesk.ini")) as f:
            self.assertIn("fstatus=FixedSys,9", f.read())

    def test_user_information_view(self):
        t = self.t
        self.type("/uwho bob")
        self.server.wait_received(b"WHOIS bob")
        self.server.send(b":irc.test 311 tester bob bobby example.org * :Bob \x1b[2J\x034Builder")
        self.server.send(":irc.test 312 tester bob irc.test :Test server")
        self.server.send(":irc.test 318 tester bob :End of /WHOIS list.")
        s = t.wait_for("User Information: bob")
        self.assertIn("Name: Bob [2JBuilder", s)  # the escape and colour codes are gone
        self.assertIn("File", s.splitlines()[0])
        self.assertIn("bobby@example.org", s)
        t.keys("Enter")
        t.wait_gone("User Information")

    def test_nick_selection_double_clicks_and_tab(self):
        t = self.t
        t.double_click(10, 5)  # the status window's text: its click command
        t.wait_for("clicked the status window")
        self.server.send(":tester!t@h JOIN #test")
        self.server.send(":irc.test 353 tester = #test :@alice +bob tester")
        self.server.send(":irc.test 366 tester #test :End of /NAMES list.")
        s = t.wait_for(lambda s: any(l.rstrip().endswith("|@alice") for l in s.splitlines()))
        rows = s.splitlines()
        alice_row = next(i for i, l in enumerate(rows) if l.rstrip().endswith("|@alice"))
        pane_x = rows[alice_row].rstrip().rindex("|") + 1
        t.click(pane_x + 1, alice_row + 1)  # bob, below alice
        self.type("/sn")
        t.keys("S-Up")  # the selection moves up to alice
        self.type("/sn")
        t.click(pane_x + 1, alice_row + 2, 16)  # Ctrl+click adds the row below bob
        self.type("/sn")
        t.keys("M-1")  # echoed where /echo puts its text
        s = t.wait_for("selected alice,tester")
        self.assertIn("selected bob", s)
        self.assertIn("selected alice\n", s)
        t.keys("M-2")
        t.double_click(pane_x + 1, alice_row + 1)  # /query $$1 with the bare nick
        t.wait_for(lambda s: s.splitlines()[1].startswith("bob"))
        # Tab answers the last nick that wrote privately.
        self.server.send(":carol!c@h PRIVMSG tester :psst")
        t.wait_for("carol+")
        t.keys("C-u", "Tab")
        t.wait_for(lambda s: s.splitlines()[-1].startswith("/msg carol"))

    def test_cut_buffer_and_file_dialog(self):
        t = self.t
        t.keys("C-u")
        t.text("\x1b[200~pasted words\x1b[201~")  # a paste is remembered as the cut buffer
        t.wait_for(lambda s: s.splitlines()[-1].startswith("pasted words"))
        self.type("/cbt")
        t.wait_for("clip pasted words")
        chosen = os.path.join(self.home, "chosen.txt")
        open(chosen, "w").close()
        self.type("/pick")
        t.wait_for("Pick one")
        t.text(chosen)
        t.keys("Enter")
        t.wait_for("picked " + chosen)
        self.type("/pick")  # Cancel gives no value
        t.wait_for("Pick one")
        t.keys("Escape")
        s = t.wait_gone("Pick one")
        self.assertEqual(s.count("picked "), 1)

    def test_frame_commands_work_or_say_why_not(self):
        t = self.t
        t.keys("M-f")
        s = t.wait_for("Disconnect")  # connected: the first item disconnects
        self.assertNotIn("Cancel Connect", s)
        t.keys("Escape")
        # Setup, Options and Timer open their dialogs (their suites test what is inside).
        for key, title in (("M-e", "Vesk Setup"), ("M-o", "Vesk Options"), ("M-i", "Vesk Timer")):
            t.keys(key)
            t.wait_for(title)
            t.keys("Escape")
            t.wait_gone(title)
        t.keys("M-w", "t")
        t.wait_for("Windows fill the screen one at a time")
        t.keys("M-d", "o")  # DCC options: the Options dialog on its DCC page
        t.wait_for("\u2500\u2500 DCC \u2500\u2500")
        t.keys("Escape")
        t.wait_gone("Vesk Options")
        t.keys("M-f", "c")  # Disconnect
        t.wait_for(lambda s: "Status: tester" not in s)
        t.keys("M-f")
        t.wait_for("Connect")
        t.keys("Escape")


    def test_status_bar_shows_the_lag(self):
        probe = self.server.wait_received(b"PING :LAG", timeout=10)
        self.server.send(b":irc.test PONG irc.test :" + probe.split(b":", 1)[1])
        s = self.t.wait_for("  lag ")
        status = s.splitlines()[-2]
        self.assertRegex(status, r"^Status: tester \[\+\] on irc\.test  lag \d+\.\ds")


class HeadlessDialogsTest(unittest.TestCase):
    def run_lines(self, lines):
        home = tempfile.mkdtemp()
        ini, aliases = write_settings(home)
        text = "/load -a %s\n%s\n" % (aliases, "\n".join(lines))
        return subprocess.run([VESK32, "--headless", "-i", ini], input=text, capture_output=True,
                              text=True, timeout=20,
                              env=dict(os.environ, XDG_CONFIG_HOME=home, LANG="C.UTF-8"))

    def test_help_font_prompt_and_commands(self):
        r = self.run_lines(["/help JOIN", "/font", "/ask", "/echo after", "/help nothing-like-it"])
        out = r.stdout.splitlines()
        self.assertIn("Help\t/join", out)
        self.assertIn("Help\t/join #channel[,#channel...] [keys]", out)
        self.assertIn("Status Window\t*** Font: FixedSys, 12 points", out)
        # Nobody can answer a prompt: the line is abandoned and says why.
        self.assertIn("System Error: Unable to display dialog", r.stderr)
        self.assertFalse(any(l.startswith("Status Window\tgot") for l in out))
        self.assertIn("Status Window\tafter", out)
        self.assertIn('Help\tNo help topic begins with "nothing-like-it"; the contents follow.', out)


if __name__ == "__main__":
    unittest.main()
