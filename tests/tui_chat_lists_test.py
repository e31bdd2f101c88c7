"""The list and channel dialogs of the full-screen client, driven in tmux: Channel Central on
a real ngircd (the ban list, Unban and Apply), the channel-list options with their password
lock, the finger dialog against a local responder, the popup editor, and an alarm that plays
its sound through the configured player program."""
import os
import socket
import subprocess
import sys
import tempfile
import threading
import time
import unittest

SOURCE = os.environ.get("SOURCE_DIR", os.path.join(os.path.dirname(__file__), ".."))
sys.path.insert(0, os.path.join(SOURCE, "platform", "tui", "demo"))
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from tmux_harness import Tmux, build_dir, slack, wait_until  # noqa: E402
import chat_connection_test as base  # noqa: E402  (ngircd, free ports)
import chat_parser_server_test as parser  # noqa: E402  (the small IRC client of our own)
from tui_chat_test import ScriptedServer  # noqa: E402

VESK32 = os.environ.get("VESK32", os.path.join(build_dir(), "chat", "vesk32"))


def read_text(path):
    with open(path, errors="replace") as f:
        return f.read()


def wait_file_without(path, unwanted, timeout=5.0):
    """The file's text once it no longer contains `unwanted` (or at the deadline)."""
    deadline = time.monotonic() + slack(timeout)
    while unwanted in read_text(path) and time.monotonic() < deadline:
        time.sleep(0.05)
    return read_text(path)


def wait_file(path, wanted, timeout=5.0):
    """The file's text once it contains `wanted` (or whatever it holds at the deadline)."""
    deadline = time.monotonic() + slack(timeout)
    text = ""
    while time.monotonic() < deadline:
        if os.path.exists(path):
            with open(path, errors="replace") as f:
                text = f.read()
            if wanted in text:
                break
        time.sleep(0.05)
    return text


class Screen(unittest.TestCase):
    """vesk32 on an 80x24 terminal with its own settings file in a fresh folder."""

    def start(self, server_port, settings="", env=None):
        if not os.path.exists(VESK32):
            self.fail("vesk32 is not built")
        self.home = tempfile.mkdtemp(prefix="vesk-tui-lists-")
        self.ini = os.path.join(self.home, "vesk.ini")
        with open(self.ini, "w") as f:
            # The channels folder would pop up after the MOTD (options5 field 20).
            f.write("[Vesk]\nnick=tester\nanick=tester_\nuser=Test User\nemail=t@localhost\n"
                    "[Options]\noptions5=,,,,,,,,,,,,,,,,,,,0\n" + settings)
        self.t = Tmux([VESK32, "-i", self.ini, "-s", "127.0.0.1:%d" % server_port], 80, 24,
                      env={"LANG": "C.UTF-8", "TERM": "screen", "XDG_CONFIG_HOME": self.home,
                           "PATH": os.environ.get("PATH", "/usr/bin:/bin"), **(env or {})})
        self.addCleanup(self.t.close)
        return self.t

    def type(self, line):
        self.t.keys("C-u")
        self.t.text(line)
        self.t.keys("Enter")


@unittest.skipUnless(base.NGIRCD or os.environ.get("CI"), "ngircd is not installed")
class ChannelCentralOnNgircd(Screen):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="vesk-tui-ngircd-")
        self.port = base.free_port()
        helper = base.NgircdTests("start_ngircd")
        helper.dir = self.dir
        self.ngircd = helper.start_ngircd(self.port)
        self.addCleanup(self.stop_ngircd)

    def stop_ngircd(self):
        if self.ngircd.poll() is None:
            self.ngircd.kill()
            self.ngircd.wait()

    def test_ban_list_unban_and_apply(self):
        t = self.start(self.port)
        t.wait_for("Status: tester")
        watcher = parser.IrcPeer(self.port, "watcher")
        self.addCleanup(watcher.close)
        self.type("/join #bans")
        t.wait_for("Now talking in #bans")
        for mask in ("bad!*@*.example", "worse!*@*", "worst!*@*"):
            self.type("/mode #bans +b " + mask)
        t.wait_for("worst!*@*")
        watcher.send("JOIN #bans\r\n")
        watcher.read_until("366")
        self.type("/channel")
        # The dialog may show before the server's answers have all come: wait for the last.
        s = t.wait_for(lambda s: "Channel Central" in s and "Channel Operator" in s)
        self.assertIn("#bans ban list", s)
        self.assertIn("You are a Channel Operator and can change these settings", s)
        for mask in ("bad!*@*.example", "worse!*@*", "worst!*@*"):
            self.assertIn(mask, s)
        # Choose the first and the third mask and lift them with one line.
        t.keys("M-b")
        for key in ("Space", "Down", "Down", "Space"):
            t.keys(key)
            time.sleep(0.2)
        t.keys("M-u")
        lifted = []
        while len(lifted) < 2:
            lifted += watcher.read_until("MODE #bans -b").split()[4:]
        self.assertEqual(sorted(lifted), ["bad!*@*.example", "worst!*@*"])
        s = t.wait_for(lambda s: "worst!*@*" not in s.split("ban list")[1])
        self.assertIn("worse!*@*", s)
        # Apply: a new topic and "Moderated" checked.
        t.keys("M-o", "C-u")
        t.text("fresh topic")
        t.keys("M-m")
        t.keys("M-a")
        t.wait_gone("Channel Central")
        self.assertIn("TOPIC #bans :fresh topic", watcher.read_until("TOPIC"))
        # The server passes on only what changed.
        self.assertRegex(watcher.read_until("MODE #bans +").strip(), r"MODE #bans \+m$")


class ListOptionsAndLock(Screen):
    def setUp(self):
        self.server = ScriptedServer()
        self.addCleanup(self.server.close)

    def test_listing_filter_and_password_lock(self):
        t = self.start(self.server.port)
        t.wait_for("End of MOTD")
        t.keys("M-l")
        s = t.wait_for("List Channels")
        self.assertIn("Lock", s)
        t.text("Linux")
        t.keys("M-l")  # List!
        self.server.wait_received(b"LIST")
        t.wait_gone("List Channels")
        self.server.send(":irc.test 321 tester Channel :Users Name")
        for name, users, topic in (("#linux", 12, "kernel talk"), ("#cooking", 4, "linux"),
                                   ("#linuxfans", 3, "penguins")):
            self.server.send(":irc.test 322 tester %s %d :%s" % (name, users, topic))
        self.server.send(":irc.test 323 tester :End of /LIST")
        s = t.wait_for("2/3 Channels")
        self.assertIn("#linuxfans", s)
        self.assertNotIn("#cooking", s)
        # From the list window the button filters again: now in topics too, above 3 users.
        t.keys("M-l")
        t.wait_for("Relist!")
        t.keys("M-t", "M-n", "C-u")
        t.text("4")
        t.keys("M-r")
        # The title reads as before, so wait for the new rows rather than the title.
        s = t.wait_for(lambda s: "2/3 Channels" in s and "#cooking" in s)
        self.assertNotIn("#linuxfans", s)
        # A password of four characters is refused with the reason; five lock the options.
        t.keys("M-l")
        t.wait_for("Relist!")
        t.keys("M-h", "M-k")
        t.wait_for("Enter a password to lock options.")
        t.text("abcd")
        t.keys("Tab")
        t.text("abcd")
        t.keys("Enter")
        t.wait_for("longer than 4 characters")
        t.text("s3cret")
        t.keys("Tab")
        t.text("s3cret")
        t.keys("Enter")
        t.wait_gone("Lock Options")
        s = t.wait_for("Unlock")
        # The exclusion box cannot be changed while locked.
        t.keys("M-h")
        self.assertEqual(t.screen().count("[X] Hide channels"), 1)
        t.keys("Escape")  # Cancel stores the choices too
        t.wait_gone("Relist!")
        self.assertIn("lock=", wait_file(self.ini, "lock="))
        # Unlocking needs the very password.
        t.keys("M-l")
        t.wait_for("Unlock")
        t.keys("M-k")
        t.wait_for("Enter a password to unlock options.")
        t.text("S3CRET")
        t.keys("Enter")
        time.sleep(0.3)
        self.assertIn("Enter a password to unlock options.", t.screen())
        t.text("s3cret")
        t.keys("Enter")
        t.wait_gone("Lock Options")
        t.wait_for("Lock")
        self.assertNotIn("Unlock", t.screen())
        t.keys("Escape")
        t.wait_gone("Relist!")
        self.assertNotIn("lock=", wait_file_without(self.ini, "lock="))


class FingerResponder:
    """A finger responder on loopback: answers each query line with a reply naming it."""

    def __init__(self):
        self.sock = socket.socket()
        self.sock.bind(("127.0.0.1", 0))
        self.sock.listen(4)
        self.port = self.sock.getsockname()[1]
        self.queries = []
        threading.Thread(target=self._run, daemon=True).start()

    def _run(self):
        while True:
            try:
                conn, _ = self.sock.accept()
            except OSError:
                return
            with conn:
                conn.settimeout(5)
                query = b""
                while not query.endswith(b"\n"):
                    part = conn.recv(100)
                    if not part:
                        break
                    query += part
                self.queries.append(query)
                name = query.strip().decode() or "the host"
                conn.sendall(b"Login: %s\tPlan: tests\r\n" % name.encode())

    def close(self):
        self.sock.close()


class FingerDialogAndMenu(Screen):
    def test_dialog_fingers_and_the_tools_menu_keeps_the_address(self):
        responder = FingerResponder()
        self.addCleanup(responder.close)
        server = ScriptedServer()
        self.addCleanup(server.close)
        t = self.start(server.port, "[Ports]\nfinger=%d\n" % responder.port)
        t.wait_for("End of MOTD")
        t.keys("M-g")
        t.wait_for("Vesk Finger")
        t.keys("Enter")  # nothing to finger yet: a beep, the dialog stays
        time.sleep(0.3)
        self.assertIn("Vesk Finger", t.screen())
        t.text("alice@127.0.0.1")
        t.keys("Enter")
        s = t.wait_for("End of finger session")
        self.assertIn("Login: alice", s)
        self.assertIn("Attempting to finger alice@127.0.0.1", s)
        # The Tools menu offers the address; choosing it fingers again.
        t.keys("M-t")
        # The address is on the screen already: wait for the menu around it.
        s = t.wait_for(lambda s: "Aliases" in s and "alice@127.0.0.1" in s)
        rows = s.splitlines()
        first = next(i for i, line in enumerate(rows) if "Aliases" in line)
        row = next(i for i, line in enumerate(rows) if "alice@127.0.0.1" in line)
        t.keys(*["Down"] * (row - first))
        t.keys("Enter")
        wait_until(lambda: len(responder.queries) >= 2, what="the second finger query")
        self.assertEqual(responder.queries, [b"alice\r\n", b"alice\r\n"])
        self.assertIn("f0=alice@127.0.0.1", wait_file(self.ini, "f0="))
        # Clear empties the list and its section.
        t.keys("M-g")
        t.wait_for("Vesk Finger")
        t.keys("M-l")
        t.keys("Escape")
        t.wait_gone("Vesk Finger")
        self.assertNotIn("f0=", wait_file_without(self.ini, "f0="))
        t.keys("M-t")
        s = t.wait_for("Finger...")
        self.assertNotIn("alice@127.0.0.1", s.split("Finger...")[1].split("Timer")[0])
        t.keys("Escape")


class PopupEditor(Screen):
    """The popup editor hands a menu's lines to the user's own editor (a script here)."""

    def test_edit_the_nick_list_menu_and_the_300_line_limit(self):
        server = ScriptedServer()
        self.addCleanup(server.close)
        tools = tempfile.mkdtemp(prefix="vesk-editor-")
        many = os.path.join(tools, "many")
        editor = os.path.join(tools, "edit.sh")
        with open(editor, "w") as f:
            f.write('#!/bin/sh\n'
                    'if [ -e "%s" ]; then\n'
                    '  i=0; while [ $i -lt 305 ]; do echo "Item$i:/echo $i" >> "$1"; '
                    'i=$((i+1)); done\n'
                    'else\n'
                    '  printf "%%s\\n" "Op:/mode # +o \\$1 \\$2 \\$3" >> "$1"\n'
                    'fi\n' % many)
        os.chmod(editor, 0o755)
        t = self.start(server.port, "[Remote]\neditor=1\n", env={"VISUAL": editor})
        t.wait_for("End of MOTD")
        t.keys("M-p")
        t.wait_for("Vesk Popups")
        t.keys("M-n")  # the nick-list menu
        t.wait_for("0 of 300 lines")
        t.keys("M-d")
        s = t.wait_for("1 of 300 lines")
        self.assertIn("Op:/mode # +o $1 $2 $3", s)
        t.keys("Enter")  # OK
        t.wait_gone("Vesk Popups")
        self.assertIn("lp0=Op:/mode # +o $1 $2 $3", wait_file(self.ini, "lp0="))
        # A list past 300 lines keeps 300 and says so.
        open(many, "w").close()
        t.keys("M-p")
        t.wait_for("Vesk Popups")
        t.keys("M-s", "M-d")
        t.wait_for("the last 5 lines were left out")
        t.keys("Enter")
        t.wait_for("300 of 300 lines")
        t.keys("Escape")  # Cancel: the status menu is as it was
        t.wait_gone("Vesk Popups")
        self.assertNotIn("mp0=", read_text(self.ini))


if __name__ == "__main__":
    unittest.main()
