"""The full-screen client in tmux against a scripted IRC server: the channels folder that pops
up once the MOTD has ended, and the URL list's menu with its entry dialog and the offer to set
the browser when it cannot be started."""
import os
import sys
import tempfile
import time
import unittest

SOURCE = os.environ.get("SOURCE_DIR", os.path.join(os.path.dirname(__file__), ".."))
sys.path.insert(0, os.path.join(SOURCE, "platform", "tui", "demo"))
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from tmux_harness import Tmux, build_dir  # noqa: E402
from tui_chat_test import ScriptedServer  # noqa: E402

VESK32 = os.environ.get("VESK32", os.path.join(build_dir(), "chat", "vesk32"))
IDENTITY = "[Vesk]\nnick=tester\nanick=tester_\nuser=Test User\nemail=t@localhost\n"
NO_FOLDER = "[Options]\noptions5=,,,,,,,,,,,,,,,,,,,0\n"  # field 20: folder on connect off


def eventually(read, wanted, timeout=5.0):
    """read() once it holds every wanted text (or whatever it holds at the deadline)."""
    deadline = time.monotonic() + timeout
    while True:
        text = read()
        if all(w in text for w in wanted) or time.monotonic() > deadline:
            return text
        time.sleep(0.05)


class Screen(unittest.TestCase):
    def start(self, settings):
        if not os.path.exists(VESK32):
            self.fail("vesk32 is not built")
        self.server = ScriptedServer()
        self.addCleanup(self.server.close)
        self.home = tempfile.mkdtemp(prefix="vesk-tui-fixes-")
        self.ini = os.path.join(self.home, "vesk.ini")
        with open(self.ini, "w") as f:
            f.write(IDENTITY + settings)
        self.t = Tmux([VESK32, "-i", self.ini, "-s", "127.0.0.1:%d" % self.server.port], 80, 24,
                      env={"LANG": "C.UTF-8", "TERM": "screen", "XDG_CONFIG_HOME": self.home})
        self.addCleanup(self.t.close)
        return self.t

    def saved(self, *wanted):
        def read():
            with open(self.ini) as f:
                return f.read()
        text = eventually(read, wanted)
        for w in wanted:
            self.assertIn(w, text)
        return text

    def type(self, line):
        self.t.keys("C-u")
        self.t.text(line)
        self.t.keys("Enter")


class FolderOnConnect(Screen):
    def test_folder_pops_up_after_the_motd_and_joins(self):
        t = self.start("[Channels]\nch0=#alpha\nch1=#beta\n")
        s = t.wait_for("Vesk Channels Folder", timeout=10)
        self.assertIn("End of MOTD", s)
        self.assertIn("#alpha", s)
        self.assertIn("[X] Pop up folder on connect", s)
        # Unticked and joined: the choice is kept for the next connection.
        t.keys("M-p")
        t.wait_for("[ ] Pop up folder on connect")
        t.keys("M-c")
        t.text("alpha")
        t.keys("M-j")
        self.assertEqual(self.server.wait_received(b"JOIN"), b"JOIN #alpha")
        t.wait_gone("Vesk Channels Folder")
        fields = self.saved("options5=").split("options5=")[1].split("\n")[0].split(",")
        self.assertEqual(fields[19], "0")

    def test_folder_stays_shut_when_the_option_is_off(self):
        t = self.start(NO_FOLDER + "[Channels]\nch0=#alpha\n")
        t.wait_for("End of MOTD", timeout=10)
        self.type("/echo typed-into-the-window")
        s = t.wait_for("typed-into-the-window")
        self.assertNotIn("Channels Folder", s)


class UrlList(Screen):
    def popup(self, *keys):
        self.t.keys("S-F10")
        self.t.wait_for("Change marker")
        self.t.keys(*keys)

    def test_menu_adds_edits_and_marks_entries(self):
        t = self.start(NO_FOLDER + "[WWW]\nw0=?:http://a.example/URL:http://a.example/\n")
        t.wait_for("End of MOTD", timeout=10)
        self.type("/url")
        t.wait_for("URL:http://a.example/")
        # Add: OK insists on every field.
        self.popup("a")
        t.wait_for("Vesk Add URL")
        t.keys("Enter")
        t.wait_for("Vesk Add URL")
        t.text("Example page")
        t.keys("M-a")
        t.text("http://b.example/")
        t.keys("Enter")  # no marker yet: the dialog stays
        time.sleep(0.3)
        t.wait_for("Vesk Add URL")
        t.keys("M-m")
        t.text("*")
        t.keys("Enter")
        t.wait_gone("Vesk Add URL")
        t.wait_for("Example page")
        self.saved("w1=*:Example pageURL:http://b.example/")
        # Edit the first entry (its fields come filled in), then every entry's marker at once
        # (only the marker can change): a field emptied, a new text typed, OK.
        for menu, title, shown, field, text, stored in (
                (("e", "Enter"), "Vesk Edit URL", "http://a.example/", "M-d", "Renamed",
                 ["w0=?:RenamedURL:http://a.example/"]),
                (("m", "End", "Enter"), "Vesk Change URL Marker", "<multiple selections>", "M-m",
                 "!", ["w0=!:RenamedURL:http://a.example/",
                       "w1=!:Example pageURL:http://b.example/"])):
            self.popup(*menu)
            self.assertIn(shown, t.wait_for(title))
            t.keys(field, "End", "C-u")
            t.text(text)
            t.keys("Enter")
            t.wait_gone(title)
            self.saved(*stored)

    def test_failed_open_offers_to_set_the_browser(self):
        opened = os.path.join(tempfile.mkdtemp(prefix="vesk-browser-"), "opened.txt")
        browser = os.path.join(os.path.dirname(opened), "browser.sh")
        with open(browser, "w") as f:
            f.write('#!/bin/sh\nprintf "%%s\\n" "$1" > "%s.part" && mv "%s.part" "%s"\n'
                    % (opened, opened, opened))
        os.chmod(browser, 0o755)
        t = self.start(NO_FOLDER + "[Files]\nbrowser=/nonexistent/browser\n"
                       "[WWW]\nw0=?:http://a.example/URL:http://a.example/\n")
        t.wait_for("End of MOTD", timeout=10)
        self.type("/url")
        t.wait_for("URL:http://a.example/")
        self.popup("o", "Enter")
        t.wait_for("Set the web browser program now?")
        t.keys("Enter")  # Yes
        t.wait_for("Web browser program:")
        t.text(browser)
        t.keys("Enter")
        with open(eventually(lambda: opened if os.path.exists(opened) else "", [opened])) as f:
            self.assertEqual(f.read(), "http://a.example/\n")
        self.saved("browser=" + browser)


if __name__ == "__main__":
    unittest.main()
