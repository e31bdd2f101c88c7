"""The full-screen client's nick list pane in tmux against a scripted IRC server: members with
several marks (multi-prefix names) keep the lower mark when they lose the higher one."""
import os
import sys
import unittest

SOURCE = os.environ.get("SOURCE_DIR", os.path.join(os.path.dirname(__file__), ".."))
sys.path.insert(0, os.path.join(SOURCE, "platform", "tui", "demo"))
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from tui_chat_fixes_test import NO_FOLDER, Screen  # noqa: E402


def in_pane(entry):
    """True for a screen whose nick list pane (at the right, after "|") shows the entry."""
    return lambda s: any(line.rstrip().endswith("|" + entry) for line in s.splitlines())


class MultiPrefixPane(Screen):
    def test_an_operator_with_a_voice_keeps_it_after_losing_the_operator_mark(self):
        t = self.start(NO_FOLDER)
        t.wait_for("End of MOTD", timeout=10)
        self.server.send(":irc.test 005 tester PREFIX=(ohv)@%+ :are supported by this server")
        self.server.send(":tester!t@h JOIN #mp")
        t.wait_for("2:#mp", timeout=10)
        self.server.send(":irc.test 353 tester = #mp :@+bob @tester +%carol dave")
        self.server.send(":irc.test 366 tester #mp :End of /NAMES list.")
        t.keys("M-2")
        t.wait_for(in_pane("@bob"), timeout=10)
        steps = [
            # the mode change, the entries the pane must then show
            ("-o bob", ["+bob", "%carol"]),
            ("-h carol", ["+bob", "+carol"]),
            ("+o dave", ["@dave", "+bob"]),
            ("-v bob", ["bob", "@dave"]),
        ]
        for change, entries in steps:
            with self.subTest(change):
                self.server.send(":op!o@h MODE #mp " + change)
                for entry in entries:
                    t.wait_for(in_pane(entry), timeout=10)


if __name__ == "__main__":
    unittest.main()
