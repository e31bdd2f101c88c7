"""The terminal toolkit's widgets, driven in tmux through the demo program: menus by F10 and
Alt+letter with nested popups, a dialog with fields and buttons, message boxes with Help,
resizing during a dialog, bracketed paste, the input line's history, the list view's sorting
and selection, and stray escape sequences that must never reach a field."""
import os
import sys
import unittest

sys.path.insert(0, os.path.join(os.environ.get("SOURCE_DIR", os.path.join(os.path.dirname(__file__), "..")),
                                "platform", "tui", "demo"))
from tmux_harness import Tmux, build_dir  # noqa: E402

DEMO = os.path.join(build_dir(), "platform", "tui", "demo", "tui_demo")


class DemoTest(unittest.TestCase):
    def setUp(self):
        if not os.path.exists(DEMO):
            self.skipTest("tui_demo not built")
        self.t = Tmux([DEMO], 80, 24, env={"LANG": "C.UTF-8", "TERM": "screen"})
        self.addCleanup(self.t.close)
        self.t.wait_for("ready")

    def test_menus_open_by_letter_and_f10_and_run_commands(self):
        t = self.t
        t.keys("M-e", "Down", "Right")  # Edit, then the nested Sort popup
        t.wait_for("By Size")
        t.keys("z")  # its letter runs "By Size"
        s = t.wait_for("Size*")
        self.assertNotIn("By Size", s)
        t.keys("F10", "Right", "Right", "Enter")  # bar highlighted, moved to Help, opened
        t.wait_for("About...")
        t.keys("Escape")
        t.wait_gone("About...")
        t.keys("M-e", "a")  # Select All
        t.wait_for("sel=40")

    def test_dialog_fields_and_buttons(self):
        t = self.t
        t.keys("F2")
        t.wait_for("Sample Dialog")
        t.keys("h\u00e9llo \u4e2d", "Tab", "Space", "M-s", "Enter")
        t.wait_for("dialog 1 name=h\u00e9llo \u4e2d remember=1 radio=13")
        t.keys("F2")
        t.wait_for("Sample Dialog")
        t.keys("Tab", "Tab", "Tab", "Tab", "Down", "Down", "Enter")  # Enter on the list: OK
        t.wait_for("list=2")
        t.keys("F2")
        t.wait_for("Sample Dialog")
        t.keys("typed", "Escape")
        s = t.wait_for("dialog 2 name=typed")
        self.assertNotIn("Sample Dialog", s)

    def test_message_box_help_and_answers(self):
        t = self.t
        t.keys("M-f", "m")
        t.wait_for("Keep the changes?")
        t.keys("F1")
        t.keys("n")
        s = t.wait_for("message 7")
        self.assertIn("help shown", s)
        self.assertNotIn("Keep the changes?", s)

    def test_resizing_keeps_the_dialog_and_tiny_screens_survive(self):
        t = self.t
        t.keys("F2")
        t.wait_for("Sample Dialog")
        t.resize(50, 15)
        s = t.wait_for("50x15")
        self.assertIn("Sample Dialog", s)
        for cols, rows in ((12, 4), (1, 1), (30, 3), (80, 24)):
            t.resize(cols, rows)
            t.wait_for(lambda s, r=rows: len(s.splitlines()) <= r)
            self.assertFalse(t.dead(), "the program died at %dx%d" % (cols, rows))
        s = t.wait_for("80x24")
        self.assertIn("Sample Dialog", s)
        t.keys("Escape")
        t.wait_for("dialog 2")

    def test_paste_history_and_stray_sequences(self):
        t = self.t
        t.text("\x1b[200~one\r\ntwo\x1b[201~")
        t.wait_for("pasted: two")
        self.assertIn("pasted: one", t.screen())
        # A sequence the program does not know vanishes; typing goes on after it.
        t.text("\x1b[99x\x1b[?1;2cok")
        t.keys("Enter")
        s = t.wait_for("typed: ok")
        self.assertNotIn("[99x", s)
        self.assertNotIn("typed: ^[", s)
        t.keys("Up")
        t.wait_for(lambda s: s.splitlines()[-2].startswith("ok"))
        t.keys("Up")  # already the oldest: stays
        t.keys("Down", "x", "Enter")
        t.wait_for("typed: x")

    def test_text_viewer_scrolls_and_closes(self):
        t = self.t
        t.keys("M-h", "c")
        s = t.wait_for("topic line 1 ")
        self.assertIn("Contents", s.splitlines()[0])
        t.keys("PageDown", "PageDown")
        s = t.wait_for(lambda s: "topic line 1 " not in s)
        t.keys("End")
        t.wait_for("topic line 100")
        t.keys("Escape")
        s = t.wait_gone("topic line")
        self.assertIn("command 12", s)

    def test_file_dialog_lists_filters_and_navigates(self):
        import tempfile
        root = os.path.realpath(tempfile.mkdtemp())
        os.mkdir(os.path.join(root, "sub"))
        for name in ("a.txt", "c.zip", "sub/b.txt", "R&D.txt"):
            open(os.path.join(root, name), "w").close()
        t = Tmux(["sh", "-c", "cd %s && exec %s" % (root, DEMO)], 80, 24, env={"LANG": "C.UTF-8"})
        self.addCleanup(t.close)
        t.wait_for("ready")
        t.keys("M-f", "o")
        # The dialog may be caught half drawn on a busy machine: wait for its list too.
        s = t.wait_for(lambda s: "Folder: " + root in s and "a.txt" in s)
        self.assertIn("sub/", s)
        self.assertIn("a.txt", s)
        self.assertIn("R&D.txt", s)
        self.assertNotIn("c.zip", s)
        t.keys("Tab", "Down", "Enter")  # from "..", down to "sub/", into it
        t.wait_for("Folder: " + root + "/sub")
        t.keys("Down", "Enter")
        t.wait_for("opened " + root + "/sub/b.txt")
        t.keys("M-f", "o")
        t.wait_for("Folder: " + root)
        t.keys("sub/../a.txt", "Enter")  # a typed name counts from the folder shown
        t.wait_for("opened " + root + "/a.txt")

    def test_toolbar_and_input_box(self):
        t = self.t
        s = t.screen().splitlines()
        self.assertTrue(s[1].startswith("[ new ] [ open ] [ add ]"))  # the hidden one takes no room
        t.click(19, 1)  # "add" is disabled: nothing happens
        t.click(2, 1)
        t.wait_for("command 10")
        self.assertNotIn("command 11", t.screen())
        t.keys("M-f", "r")
        t.wait_for("New name for R&D:")  # the prompt's "&" is shown, not taken as a letter
        t.keys("C-u", "report.txt", "Enter")
        t.wait_for("renamed report.txt")
        t.keys("M-f", "r")
        t.wait_for("New name")
        t.keys("zzz", "Escape")
        t.wait_gone("New name")
        self.assertNotIn("renamed report.txtzzz", t.screen())

    def test_list_keyboard_and_mouse(self):
        t = self.t
        t.keys("Tab", "Space", "S-Down", "S-Down")
        t.wait_for("sel=3")
        t.keys("Enter")
        t.wait_for("activate 0-\u4e2d\u6587.txt")
        t.click(75, 2)  # the Size header sorts
        t.wait_for("Size*")
        t.double_click(3, 4)  # a double click activates the row
        t.wait_for(lambda s: s.count("activate") >= 2)


if __name__ == "__main__":
    unittest.main()
