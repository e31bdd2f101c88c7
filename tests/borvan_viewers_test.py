"""End-to-end tests of View in the manager without a configured viewer: a text member goes to
the user's $PAGER, anything else to the desktop's program for its type (xdg-open) when there is
a desktop; each sees a private copy, which is gone when the manager ends.
"""
import glob
import os
import shutil
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import borvan_window_test as window  # noqa: E402  (the manager in tmux)


@unittest.skipUnless(shutil.which("tmux") or os.environ.get("CI"), "tmux is missing")
class DesktopViewers(window.WindowFixture):
    def setUp(self):
        super().setUp()
        self.bin = os.path.join(self.dir, "bin")
        os.makedirs(self.bin)
        self.seen = os.path.join(self.dir, "seen")
        # Stand-ins that record a copy of what their last argument names, then the arguments
        # they got: the test reads the copy as soon as the line appears, so the copy comes first.
        for name in ("xdg-open", "pager"):
            with open(os.path.join(self.bin, name), "w") as f:
                f.write('#!/bin/sh\nfor last do :; done\ncat "$last" >> "%s.data"\n'
                        'printf "%%s %%s\\n" "%s" "$*" >> "%s"\n'
                        % (self.seen, name, self.seen))
            os.chmod(os.path.join(self.bin, name), 0o755)
        self.extra = {}

    def env(self):
        env = super().env()
        env["PATH"] = self.bin + ":" + os.environ.get("PATH", "/usr/bin:/bin")
        env.update(self.extra)
        return env

    def seen_lines(self, count):
        def lines():
            if not os.path.exists(self.seen):
                return None
            with open(self.seen) as f:
                found = f.read().splitlines()
            return found if len(found) >= count else None
        return window.wait_until(lines, what="%d viewer runs" % count)

    def test_text_goes_to_the_pager_and_other_files_to_the_desktop(self):
        self.extra = {"PAGER": "pager -R", "DISPLAY": ":99"}
        t = self.start("t.zip")
        t.wait_for("Total 3 files")
        t.keys("C-v")  # hello.txt, the first row
        lines = self.seen_lines(1)
        self.assertTrue(lines[0].startswith("pager -R " + self.viewtmp), lines)
        t.wait_for("Total 3 files")
        t.keys("End", "C-v")  # big.bin
        lines = self.seen_lines(2)
        self.assertTrue(lines[1].startswith("xdg-open " + self.viewtmp), lines)
        self.assertTrue(lines[1].endswith("/big.bin"), lines)
        with open(self.seen + ".data", "rb") as f:
            self.assertEqual(f.read(), b"hello world\n" * 50 + bytes(range(256)) * 40)
        t.wait_for("Total 3 files")
        t.keys("C-q")
        t.wait_for(lambda s: t.dead(), timeout=5)
        # The private copies go with the manager.
        self.assertEqual(glob.glob(os.path.join(self.viewtmp, "*", "*")), [])

    def test_without_a_desktop_other_files_are_refused_with_the_way_out(self):
        self.extra = {"PAGER": ""}
        t = self.start("t.zip")
        t.wait_for("Total 3 files")
        t.keys("End", "C-v")
        t.wait_for("is not a text file.  Name a viewer program")
        self.assertFalse(os.path.exists(self.seen))
        t.keys("Enter")
        t.keys("C-q")
        t.wait_for(lambda s: t.dead(), timeout=5)


if __name__ == "__main__":
    unittest.main()
