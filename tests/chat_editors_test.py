"""The built-in script editor and the Timer dialog of the full-screen client (vesk32 on a
terminal in tmux): an alias typed into the editor works at once and is still there after /save
and a restart; leaving with changes asks first; the Timer dialog counts the time on line while
connected and starts a scripted timer from its form."""
import os
import re
import sys
import tempfile
import shutil
import unittest

SOURCE = os.environ.get("SOURCE_DIR", os.path.join(os.path.dirname(__file__), ".."))
sys.path.insert(0, os.path.join(SOURCE, "platform", "tui", "demo"))
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from tmux_harness import Tmux, build_dir, wait_text  # noqa: E402
from tui_chat_test import ScriptedServer  # noqa: E402

VESK32 = os.environ.get("VESK32", os.path.join(build_dir(), "chat", "vesk32"))
IDENTITY = "[Vesk]\nnick=tester\nanick=tester_\nuser=Test User\nemail=t@localhost\n"


@unittest.skipUnless(shutil.which("tmux"), "tmux is not installed")
class EditorsOnScreen(unittest.TestCase):
    def setUp(self):
        if not os.path.exists(VESK32):
            self.fail("vesk32 not built")
        self.home = tempfile.mkdtemp(prefix="vesk-editors-")
        self.addCleanup(shutil.rmtree, self.home, True)
        os.makedirs(os.path.join(self.home, "vesk32"))
        self.ini = os.path.join(self.home, "vesk32", "vesk.ini")

    def start(self, settings, server=None):
        with open(self.ini, "w") as f:
            f.write(IDENTITY + settings)
        argv = [VESK32, "-i", self.ini]
        if server:
            argv += ["-s", "127.0.0.1:%d" % server.port]
        # No $EDITOR may take over: the built-in editor is the default.
        t = Tmux(argv, 100, 30, env={"LANG": "C.UTF-8", "TERM": "screen",
                                     "XDG_CONFIG_HOME": self.home, "VISUAL": "false"})
        self.addCleanup(t.close)
        t.wait_for("Status Window")
        return t

    def type(self, t, line):
        t.keys("C-u")
        t.text(line)
        t.keys("Enter")

    def saved(self):
        with open(self.ini) as f:
            return f.read()

    def test_alias_typed_in_the_editor_works_and_survives_a_restart(self):
        long_body = "/echo " + "L" * 300 + " end of a long alias"
        t = self.start("[Aliases]\nalias0=/old /echo old alias\nalias1=/long %s\n" % long_body)
        t.keys("M-a")
        t.wait_for("Vesk Aliases: 2 entries")
        t.wait_for("/old /echo old alias")
        t.keys("C-End", "Enter")
        t.text("/greet /echo hello from the built-in editor")
        t.wait_for("Line 3/3")
        t.keys("C-s")
        t.wait_gone("Vesk Aliases")
        self.type(t, "/greet")
        t.wait_for("hello from the built-in editor")
        # The long definition went through the editor whole.
        self.type(t, "/long")
        t.wait_for("end of a long alias")
        self.type(t, "/save")
        saved = wait_text(self.ini, lambda text: "alias2=" in text)
        self.assertIn("alias2=/greet /echo hello from the built-in editor", saved)
        self.assertIn("alias1=/long " + long_body, saved)
        t.close()

        again = Tmux([VESK32, "-i", self.ini], 100, 30,
                     env={"LANG": "C.UTF-8", "TERM": "screen", "XDG_CONFIG_HOME": self.home})
        self.addCleanup(again.close)
        again.wait_for("Status Window")
        self.type(again, "/greet")
        again.wait_for("hello from the built-in editor")

    def test_leaving_with_changes_asks_and_too_long_a_line_is_refused(self):
        t = self.start("[Aliases]\nalias0=/old /echo old alias\n")
        t.keys("M-a")
        t.wait_for("Vesk Aliases: 1 entries")
        t.keys("C-End", "Enter")
        t.text("/dropped /echo never kept")
        t.keys("Escape")
        t.wait_for("Keep the changes?")
        t.keys("n")
        t.wait_gone("Vesk Aliases")
        self.type(t, "/dropped")
        self.assertNotIn("never kept", t.wait_for("Status Window"))
        self.assertNotIn("/dropped", self.saved())

        # A line the list cannot hold is refused in the editor, where it can still be fixed.
        t.keys("M-a")
        t.wait_for("Vesk Aliases: 1 entries")
        t.keys("C-End", "Enter")
        t.text("/big /echo " + "x" * 690)
        t.keys("C-s")
        t.wait_for("Line 2 is longer than 699 characters")
        t.keys("Home")
        for _ in range(8):  # "/big /ec" goes: the line now fits
            t.keys("Delete")
        t.keys("C-s")
        t.wait_gone("Vesk Aliases")
        self.assertIn("alias1=ho " + "x" * 690, self.saved())

    def test_timer_dialog_counts_time_on_line_and_starts_a_timer(self):
        server = ScriptedServer()
        self.addCleanup(server.close)
        # options2: the on-line timer on (field 3), a count of 1:02:03 from an earlier run.
        # options5: the channels folder does not pop up after the MOTD (field 20).
        t = self.start("[Options]\noptions2=5,50,1,0,1,2,3\noptions5=,,,,,,,,,,,,,,,,,,,0\n"
                       "[Text]\nlastreset=Mon Jan 05 10:00:00 2026\n",
                       server)
        t.wait_for("End of MOTD")
        # Each connection starts the count again, and the status line shows hours and minutes.
        t.wait_for("(00:00)")
        t.keys("M-i")
        s = t.wait_for(lambda s: "Vesk Timer" in s and "On-line time: " in s)
        first = re.search(r"On-line time: (\d\d:\d\d:\d\d)", s).group(1)
        self.assertNotIn("Mon Jan 05", s)  # the connection reset it
        # The count goes on while the dialog is open.
        t.wait_for(lambda screen: "On-line time: " in screen and
                   re.search(r"On-line time: (\d\d:\d\d:\d\d)", screen).group(1) != first,
                   timeout=5)
        # Every timer as a line of text in the editor: a line added there starts a timer.
        t.keys("M-x")
        t.wait_for("Vesk Timers")
        t.text("/timer7 12:00")
        t.keys("C-s")
        t.wait_for("Line 1: * Invalid timer parameters")
        t.keys("C-y")
        t.text("/timer7 0 100 /echo seven")
        t.keys("C-s")
        t.wait_for("Timer7 100s delay /echo seven")
        t.keys("M-t", "M-h")  # the list, then Halt on its row
        t.wait_gone("Timer7 100s delay")
        t.keys("M-n")
        t.wait_for("Vesk New Timer")
        t.keys("C-u")
        t.text("3")
        for field in ("", "2", "1"):  # time of day, repetitions, interval
            t.keys("Tab", "C-u")
            if field:
                t.text(field)
        t.keys("Tab")
        t.text("/echo tick from the timer dialog")
        t.keys("Enter")
        t.wait_for("Timer3 2 time(s) 1s delay /echo tick from the timer dialog")
        t.keys("Tab")  # on to the list; the keep-counting radio is chosen by its letter
        t.keys("M-k")
        t.keys("Enter")  # OK
        t.wait_gone("Vesk Timer")
        t.wait_for("* Timer3 halted", timeout=8)
        s = t.screen()
        self.assertEqual(s.count("tick from the timer dialog"), 2)
        saved = self.saved()
        self.assertRegex(saved, r"options2=5,50,1,1,")
        self.assertRegex(saved, r"lastreset=\w\w\w \w\w\w \d\d \d\d:\d\d:\d\d \d\d\d\d")


if __name__ == "__main__":
    unittest.main()
