"""The chat client's full screen under a flood, in tmux: tens of thousands of lines and
membership changes arrive in one burst into a channel shown with its nick pane. Frames are
spaced while the lines keep coming, so what must hold is that the screen ends on the flood's
last line and last membership, that typing shows while the flood runs, and that a line after
a quiet spell still shows at once."""
import os
import sys
import threading
import time
import unittest

SOURCE = os.environ.get("SOURCE_DIR", os.path.join(os.path.dirname(__file__), ".."))
sys.path.insert(0, os.path.join(SOURCE, "platform", "tui", "demo"))
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from tmux_harness import build_dir  # noqa: E402
from tui_chat_test import ScriptedServer, start_client  # noqa: E402

# The shipped program: on a terminal it runs the full-screen front end.
CLIENT = os.environ.get("VESK32") or os.path.join(build_dir(), "chat", "vesk32")
LINES = 40000
MEMBERS = 300


def flood_lines():
    """The burst: channel text with joins, parts and nick changes among it, then one member
    shown at the top of the pane quits and the last line names itself."""
    out = []
    for i in range(LINES):
        who = "m%03d" % (i % MEMBERS)
        if i % 20 == 7:
            out.append(":x%d!x@h JOIN #flood" % i)
        elif i % 20 == 8:
            out.append(":x%d!x@h PART #flood :gone" % (i - 1))
        elif i % 20 == 9:
            out.append(":%s!m@h NICK %s_" % (who, who))
            out.append(":%s_!m@h NICK %s" % (who, who))
        else:
            out.append(":%s!m@h PRIVMSG #flood :line %06d of the flood %s" % (who, i, "x" * (i % 90)))
    out.append(":aaop!a@h QUIT :bye")
    out.append(":m001!m@h PRIVMSG #flood :the very last line of the flood")
    return ("\r\n".join(out) + "\r\n").encode()


class ChatFloodTest(unittest.TestCase):
    def setUp(self):
        if not os.path.exists(CLIENT):
            self.skipTest("vesk32 not built")
        self.server = ScriptedServer()
        self.addCleanup(self.server.close)
        self.t = start_client(self, self.server, 100, 30, CLIENT)
        self.server.send(":tester!t@h JOIN #flood")
        names = " ".join(["@aaop", "tester"] + ["m%03d" % i for i in range(MEMBERS)])
        self.server.send(":irc.test 353 tester = #flood :" + names)
        self.server.send(":irc.test 366 tester #flood :End of /NAMES list.")
        self.t.wait_for(lambda s: any(l.rstrip().endswith("|@aaop") for l in s.splitlines()))

    def test_the_screen_ends_on_the_last_line_and_typing_shows_during_the_flood(self):
        t = self.t
        burst = flood_lines()
        sender = threading.Thread(target=lambda: self.server.conn.sendall(burst), daemon=True)
        sender.start()
        t.wait_for("line 0", timeout=10)  # the flood has begun
        t.text("typed while it pours")
        t.wait_for(lambda s: s.splitlines()[-1].startswith("typed while it pours"), timeout=10)
        s = t.wait_for("the very last line of the flood", timeout=60)
        sender.join(timeout=60)
        rows = s.splitlines()
        # The last line is on the bottom text row, the pane lost the member who quit, and the
        # typed text is still on the input line.
        self.assertIn("the very last line of the flood", rows[-4])
        s = t.wait_for(lambda s: not any(l.rstrip().endswith("|@aaop") for l in s.splitlines()))
        self.assertTrue(any("|m000" in l for l in s.splitlines()), s)
        self.assertTrue(s.splitlines()[-1].startswith("typed while it pours"))
        # After the flood a single line shows by itself, and a resize redraws everything.
        self.server.send(":m002!m@h PRIVMSG #flood :after the quiet")
        t.wait_for("after the quiet", timeout=2)
        t.resize(70, 20)
        s = t.wait_for(lambda s: len(s.splitlines()[0]) <= 70 and "after the quiet" in s)
        self.assertTrue(any("|m000" in l for l in s.splitlines()), s)
        self.assertFalse(t.dead())

    def test_scrolling_back_during_a_flood_keeps_the_view(self):
        t = self.t
        for i in range(40):
            self.server.send(":m001!m@h PRIVMSG #flood :before %02d" % i)
        t.wait_for("before 39")
        t.keys("PageUp")
        t.wait_for("-MORE-")
        burst = flood_lines()
        self.server.conn.sendall(burst)
        time.sleep(0.5)
        s = t.wait_for("-MORE-")
        self.assertNotIn("the very last line of the flood", s)
        t.keys("C-End")
        t.wait_for("the very last line of the flood", timeout=60)

    def test_menus_windows_and_resizes_leave_nothing_stale(self):
        t = self.t
        for i in range(40):
            self.server.send(":m%03d!m@h PRIVMSG #flood :row %02d %s" % (i, i, "=" * (i * 2)))
        # The lag figure and the window marks move by themselves: compare the rest.
        steady = lambda s: s.splitlines()[:-3] + s.splitlines()[-1:]
        before = steady(t.wait_for("row 39"))
        # Each detour must end on exactly the screen it left: a frame that redraws only what
        # changed would show leftovers of the menu, the other window or the other size.
        detours = [
            ("menu", lambda: (t.keys("F10", "Enter"), t.wait_for("Close"), t.keys("Escape"))),
            ("window", lambda: (t.keys("M-1"), t.wait_gone("row 39"), t.keys("M-2"))),
            ("resize", lambda: (t.resize(60, 12), t.wait_for(lambda s: len(s.splitlines()) <= 12),
                                t.resize(100, 30))),
            ("repaint", lambda: t.keys("C-l")),
        ]
        for name, detour in detours:
            with self.subTest(name):
                detour()
                s = t.wait_for(lambda s: steady(s) == before, timeout=3)
                self.assertEqual(steady(s), before)
        # A shorter buffer blanks the rows its old lines held.
        t.keys("/clear", "Enter")
        s = t.wait_gone("row 39")
        self.assertNotIn("row ", s)


if __name__ == "__main__":
    unittest.main()
