"""The chat client's full-screen interface in tmux against a scripted IRC server on loopback:
connecting, typing and recalling lines, scrolling, hostile text from other users, wide
characters, the menus and a dialog, resizing (down to a few cells) and leaving by the menu."""
import os
import signal
import socket
import sys
import tempfile
import threading
import time
import unittest

SOURCE = os.environ.get("SOURCE_DIR", os.path.join(os.path.dirname(__file__), ".."))
sys.path.insert(0, os.path.join(SOURCE, "platform", "tui", "demo"))
from tmux_harness import Tmux, build_dir, slack  # noqa: E402

CLIENT = os.path.join(build_dir(), "chat", "terminal", "driver", "vesk32_tui")


class ScriptedServer:
    """Answers the registration and records what the client sends; lines can be pushed."""

    def __init__(self):
        self.listener = socket.socket()
        self.listener.bind(("127.0.0.1", 0))
        self.listener.listen(1)
        self.listener.settimeout(60)  # a client under the sanitizers on a busy machine starts slowly
        self.port = self.listener.getsockname()[1]
        self.received = []
        self.conn = None
        self.lock = threading.Lock()
        self.thread = threading.Thread(target=self._run, daemon=True)
        self.thread.start()

    def _run(self):
        try:
            self.conn, _ = self.listener.accept()
        except OSError:
            return
        buf = b""
        welcomed = False
        while True:
            try:
                data = self.conn.recv(4096)
            except OSError:
                return
            if not data:
                return
            buf += data
            while b"\n" in buf:
                line, buf = buf.split(b"\n", 1)
                line = line.rstrip(b"\r")
                with self.lock:
                    self.received.append(line)
                if line.startswith(b"USER") and not welcomed:
                    welcomed = True
                    self.send(":irc.test 001 tester :Welcome to the test network")
                    self.send(":irc.test 376 tester :End of MOTD command")

    def send(self, line):
        data = line.encode("utf-8") if isinstance(line, str) else line
        self.conn.sendall(data + b"\r\n")

    def wait_received(self, prefix, timeout=5.0):
        deadline = time.monotonic() + slack(timeout)
        while time.monotonic() < deadline:
            with self.lock:
                for line in self.received:
                    if line.startswith(prefix):
                        return line
            time.sleep(0.02)
        raise AssertionError("server never got %r; got %r" % (prefix, self.received))

    def close(self):
        for s in (self.conn, self.listener):
            if s:
                s.close()


def start_client(test, server, cols, rows, client=CLIENT):
    """The full-screen client as user "tester" on the scripted server, once it is welcomed."""
    home = tempfile.mkdtemp()
    ini = os.path.join(home, "vesk.ini")
    with open(ini, "w") as f:
        # The channels folder would pop up after the MOTD (options5 field 20).
        f.write("[Vesk]\nnick=tester\nanick=tester_\nuser=Test User\nemail=t@localhost\n"
                "[Options]\noptions5=,,,,,,,,,,,,,,,,,,,0\n")
    t = Tmux([client, "-i", ini, "-s", "127.0.0.1:%d" % server.port], cols, rows,
             env={"LANG": "C.UTF-8", "TERM": "screen", "XDG_CONFIG_HOME": home})
    test.addCleanup(t.close)
    t.wait_for("End of MOTD")
    return t


class ChatScreenTest(unittest.TestCase):
    def setUp(self):
        if not os.path.exists(CLIENT):
            self.skipTest("vesk32_tui not built")
        self.server = ScriptedServer()
        self.addCleanup(self.server.close)
        self.t = start_client(self, self.server, 80, 24)
        self.t.wait_for("Status: tester")

    def test_screen_parts_typing_and_recall(self):
        t = self.t
        s = t.screen().splitlines()
        self.assertIn("File", s[0])
        self.assertIn("Status Window", s[1])
        self.assertTrue(s[-3].startswith("1:Status Window"))
        self.assertTrue(s[-2].startswith("Status: tester"))
        t.keys("/privmsg bob :hello \u4e2d\u6587", "Enter")
        self.assertEqual(self.server.wait_received(b"PRIVMSG bob"),
                         "PRIVMSG bob :hello \u4e2d\u6587".encode())
        t.wait_for(lambda s: s.splitlines()[-1].strip() == "")
        t.keys("Up")  # the window's history brings the line back
        t.wait_for(lambda s: s.splitlines()[-1].startswith("/privmsg bob :hello"))
        t.keys("C-u", "/privmsg carol :x", "C-Up")
        t.wait_for(lambda s: s.splitlines()[-1].startswith("/privmsg bob"))
        # A pasted block runs line by line, each line on its own.
        t.keys("C-u")
        t.text("\x1b[200~/privmsg dave :one\r\n/privmsg erin :two\x1b[201~")
        self.server.wait_received(b"PRIVMSG dave :one")
        self.server.wait_received(b"PRIVMSG erin :two")

    def test_text_from_others_never_drives_the_terminal(self):
        t = self.t
        self.server.send(b":evil!e@h NOTICE tester :\x1b[2J\x1b]2;pwned\x07\x9b31mboom\x0fend")
        s = t.wait_for("boom")
        self.assertIn("File", s.splitlines()[0])  # the screen was not cleared
        self.assertIn("End of MOTD", s)
        title = t._tmux("display-message", "-p", "-t", "main", "#{pane_title}").stdout
        self.assertNotIn("pwned", title)

    def test_scrolling_and_wide_characters(self):
        t = self.t
        for i in range(60):
            self.server.send(":irc.test NOTICE tester :numbered line %02d" % i)
        t.wait_for("numbered line 59")
        t.keys("PageUp")
        s = t.wait_for("-MORE-")
        self.assertNotIn("numbered line 59", s)
        t.keys("C-Home")
        t.wait_for("numbered line 00")
        t.keys("End")  # with an empty input line: back to the newest
        s = t.wait_for("numbered line 59")
        self.assertNotIn("-MORE-", s)
        t.resize(41, 24)
        t.wait_for(lambda s: len(s.splitlines()[0]) <= 41)
        self.server.send(":irc.test NOTICE tester :" + "\u4e2d" * 50 + " tail")
        s = t.wait_for("tail")
        self.assertEqual(s.count("\u4e2d"), 50)  # every wide character whole, none lost

    def test_menu_dialog_resize_and_narrow_screens(self):
        t = self.t
        t.keys("F10", "Enter")
        t.wait_for("Connect")
        t.keys("Escape")
        t.wait_gone("Options...")
        t.keys("M-h", "a")
        t.wait_for("About vesk32")
        t.resize(50, 15)
        s = t.wait_for(lambda s: len(s.splitlines()[0]) <= 50 and "About vesk32" in s)
        for cols, rows in ((20, 4), (5, 2), (1, 1), (80, 24)):
            t.resize(cols, rows)
            t.wait_for(lambda s, r=rows: len(s.splitlines()) <= r)
            self.assertFalse(t.dead(), "died at %dx%d" % (cols, rows))
        s = t.wait_for("About vesk32")
        t.keys("Enter")
        s = t.wait_gone("About vesk32")
        self.assertIn("Status: tester", s)
        t.keys("M-w")  # the Window menu lists the windows
        t.wait_for("1 Status Window")
        t.keys("Escape")

    def test_window_bar_marks_and_switching(self):
        t = self.t
        self.server.send(":tester!t@h JOIN #test")
        t.wait_for("2:#test", timeout=5)
        # The title line: the channel's topic with its formatting as attributes, not codes.
        self.server.send(b":irc.test 332 tester #test :A \x02bold\x02 \x034topic")
        t.wait_for(lambda s: s.splitlines()[1].startswith("#test") and "A bold topic" in s.splitlines()[1])
        t.keys("M-1")
        # The key and the server's line come by different ways: the line must find the
        # status window shown, or it marks nothing.
        t.wait_for(lambda s: s.splitlines()[1].startswith("Status Window"))
        self.server.send(":bob!b@h PRIVMSG #test :hello there")
        t.wait_for("2:#test+")
        t.keys("C-n")
        s = t.wait_for("hello there")
        self.assertNotIn("2:#test+", s)
        t.keys("M-Left")
        t.wait_for(lambda s: "hello there" not in s)
        # The channel's nick list shows as a pane at the right, and hides on a narrow screen.
        self.server.send(":irc.test 353 tester = #test :@alice +bob tester")
        self.server.send(":irc.test 366 tester #test :End of /NAMES list.")
        t.keys("M-2")
        in_pane = lambda s: any(line.rstrip().endswith("|@alice") for line in s.splitlines())
        s = t.wait_for(in_pane)
        self.assertTrue(any(line.rstrip().endswith("|+bob") for line in s.splitlines()))
        t.resize(30, 24)
        t.wait_for(lambda s: not in_pane(s) and len(s.splitlines()[0]) <= 30)

    def test_exit_from_the_menu(self):
        t = self.t
        t.keys("M-f", "x")
        self.server.wait_received(b"QUIT")
        t.wait_for(lambda s: t.dead())

    def test_sigterm_leaves_through_the_exit_path(self):
        t = self.t
        os.kill(t.program_pid(CLIENT), signal.SIGTERM)
        self.server.wait_received(b"QUIT")
        t.wait_for(lambda s: t.dead())


if __name__ == "__main__":
    unittest.main()
