"""The archive manager's full-screen window in tmux, on archives made by Python's zipfile:
opening from the command line, rows and totals, selecting and extracting the selection,
adding and deleting members, sorting, testing, viewing a member (and its private folder
going away at exit), the archive vanishing behind the window, and resizing."""
import binascii
import glob
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time
import unittest
import zipfile

SOURCE = os.environ.get("SOURCE_DIR", os.path.join(os.path.dirname(__file__), ".."))
sys.path.insert(0, os.path.join(SOURCE, "platform", "tui", "demo"))
from tmux_harness import Tmux, build_dir, wait_text, wait_until  # noqa: E402

BORVAN = os.environ.get("BORVAN32") or os.path.join(build_dir(), "archiver", "borvan32")


def make_archive(path):
    with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED) as z:
        z.writestr("hello.txt", "hello world\n" * 50)
        z.writestr("dir/bee.txt", "bee\n")
        z.writestr("big.bin", bytes(range(256)) * 40)


class WindowFixture(unittest.TestCase):
    """A private folder with t.zip, settings, runtime and view folders; `start` runs the
    manager there in tmux."""

    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory()
        self.dir = self.tmp.name
        self.archive = os.path.join(self.dir, "t.zip")
        make_archive(self.archive)
        self.config = os.path.join(self.dir, "config")
        self.out = os.path.join(self.dir, "out")
        os.makedirs(os.path.join(self.config, "borvan32"))
        os.makedirs(self.out)
        # Extract into our own folder without typing it: the configured extract folder.
        with open(os.path.join(self.config, "borvan32", "borvan32.ini"), "w") as f:
            f.write("[directories]\ngzExtractTo=1\nExtractTo=%s\n" % self.out)
        self.runtime = os.path.join(self.dir, "run")
        os.makedirs(self.runtime, mode=0o700)
        self.viewtmp = os.path.join(self.dir, "viewtmp")
        os.makedirs(self.viewtmp)
        self.old_cwd = os.getcwd()
        os.chdir(self.dir)
        self.t = None

    def tearDown(self):
        if self.t:
            self.t.close()
        os.chdir(self.old_cwd)
        self.tmp.cleanup()

    def start(self, *args, cols=100, rows=30):
        self.t = Tmux([BORVAN] + list(args), cols=cols, rows=rows, env=self.env())
        return self.t

    def env(self):
        return {"XDG_CONFIG_HOME": self.config, "XDG_RUNTIME_DIR": self.runtime,
                "TMPDIR": self.viewtmp, "LC_ALL": "C.UTF-8", "HOME": self.dir,
                "XDG_DATA_HOME": os.path.join(self.dir, "data"),
                # No pager and no desktop unless a test sets them: View uses its own viewer.
                "PAGER": "", "DISPLAY": "", "WAYLAND_DISPLAY": ""}

    def names(self):
        with zipfile.ZipFile(self.archive) as z:
            return sorted(z.namelist())


class WindowTest(WindowFixture):
    def test_open_select_extract_sort_test_and_view(self):
        t = self.start("t.zip")
        screen = t.wait_for("Total 3 files")
        for text in ("Borvan - %s" % self.archive, "Name", "Date", "Time", "Size", "Ratio", "Packed", "Path",
                     "hello.txt", "bee.txt", "big.bin", "Selected 0 files, 0 bytes",
                     "[ new ]", "[ extract ]"):
            self.assertIn(text, screen)

        # Two rows selected with Space, then extracted through the Extract dialog.
        t.keys("Space", "Down", "Space")
        t.wait_for("Selected 2 files, 604 bytes")
        t.keys("C-e")
        t.wait_for("Extract To:")
        t.keys("Enter")
        t.wait_for(lambda s: "Extract To:" not in s and "Total 3 files" in s)
        found = sorted(os.path.relpath(os.path.join(r, f), self.out)
                       for r, _, fs in os.walk(self.out) for f in fs)
        self.assertEqual(found, ["dir/bee.txt", "hello.txt"])
        with open(os.path.join(self.out, "hello.txt")) as f:
            self.assertEqual(f.read(), "hello world\n" * 50)

        # Ctrl+\ clears the selection, Ctrl+/ (sent as 0x1f) selects every row.
        t.text("\x1c")
        t.wait_for("Selected 0 files")
        t.text("\x1f")
        t.wait_for("Selected 3 files")
        t.text("\x1c")

        # Sort by size from the Options menu: the largest row comes first.
        t.keys("M-o")
        t.wait_for("Save Settings Now")
        t.keys("o")
        t.wait_for("Sort by Size")
        t.keys("s")
        screen = t.wait_for(lambda s: "Sort by Size" not in s and "Total 3" in s)
        rows = [line.split()[0] for line in screen.splitlines()[4:7]]
        self.assertEqual(rows, ["big.bin", "hello.txt", "bee.txt"])

        # Test the archive.
        t.keys("C-t")
        t.wait_for("ended without errors")

        # Enter on a text member views it; the viewer closes with Escape.
        t.keys("Home", "Down", "Enter")
        t.wait_for("hello world")
        views = glob.glob(os.path.join(self.viewtmp, "borvan32-view-*"))
        self.assertEqual(len(views), 1)
        self.assertEqual(os.stat(views[0]).st_mode & 0o777, 0o700)
        t.keys("Escape")
        t.wait_for("Total 3 files")

        # Leaving removes the view folder.
        t.keys("C-q")
        t.wait_for(lambda s: t.dead(), timeout=5)
        self.assertEqual(glob.glob(os.path.join(self.viewtmp, "borvan32-view-*")), [])

    def test_add_and_delete_members(self):
        with open(os.path.join(self.dir, "added.txt"), "w") as f:
            f.write("added by the Add dialog\n")
        t = self.start("t.zip")
        t.wait_for("Total 3 files")
        t.keys("C-a")
        t.wait_for("File name:")
        t.text("added.txt")
        t.keys("Enter")
        t.wait_for("Total 4 files")
        # "Store Filenames In DOS 8.3 Format" is off unless chosen: the name is kept as it is.
        self.assertEqual(self.names(), ["added.txt", "big.bin", "dir/bee.txt", "hello.txt"])
        with zipfile.ZipFile(self.archive) as z:
            self.assertEqual(z.read("added.txt"), b"added by the Add dialog\n")

        # Delete the row under the cursor's selection: the first row (hello.txt).
        t.keys("Home", "Space")
        t.wait_for("Selected 1 file, 600 bytes")
        t.keys("C-d")
        t.wait_for("Entire Archive")
        t.keys("Enter")
        screen = t.wait_for("Total 3 files")
        self.assertNotIn("hello.txt", screen)
        self.assertEqual(self.names(), ["added.txt", "big.bin", "dir/bee.txt"])
        with zipfile.ZipFile(self.archive) as z:
            self.assertIsNone(z.testzip())
        t.keys("C-q")
        t.wait_for(lambda s: t.dead(), timeout=5)

    def test_vanished_archive_closes_and_commands_without_archive_say_so(self):
        t = self.start("t.zip")
        t.wait_for("Total 3 files")
        os.remove(self.archive)
        t.keys("C-e")
        t.wait_for("no longer exists ... closing archive")
        t.keys("Enter")
        screen = t.wait_for('Choose "New" to create or "Open" to open an archive')
        self.assertNotIn("hello.txt", screen)
        self.assertIn("Borvan", screen)
        # The wizard needs no open archive; Escape leaves it for the window.
        t.keys("C-w")
        t.wait_for("What would you like to do?")
        t.keys("Escape")
        t.wait_gone("What would you like to do?")
        t.keys("C-q")
        t.wait_for(lambda s: t.dead(), timeout=5)

    def test_command_line_extract_runs_inside_the_window(self):
        t = self.start("-e", "t.zip", "cmdline_out")
        t.wait_for("Total 3 files")
        target = os.path.join(self.dir, "cmdline_out")
        # The members come out one by one: wait for the last name rather than the first.
        wait_until(lambda: os.path.isdir(target) and len(os.listdir(target)) >= 3,
                   what="the extracted members")
        self.assertEqual(sorted(os.listdir(target)), ["big.bin", "dir", "hello.txt"])
        self.assertFalse(t.dead())
        t.keys("C-q")
        t.wait_for(lambda s: t.dead(), timeout=5)

    def test_a_command_line_that_does_not_parse_says_so(self):
        t = self.start("-e", "-r", "t.zip")
        t.wait_for("Borvan parameter validation error")
        t.keys("Enter")
        screen = t.wait_for('Choose "New" to create or "Open" to open an archive')
        self.assertNotIn("hello.txt", screen)
        t.keys("C-q")
        t.wait_for(lambda s: t.dead(), timeout=5)

    def test_a_key_during_a_run_asks_whether_to_stop(self):
        t = self.start("t.zip")
        t.wait_for("Total 3 files")
        # The second key arrives while the test runs: it asks the stop question.
        t.keys("C-t", "x")
        t.wait_for("Stop the current operation?")
        t.keys("Enter")
        t.wait_for("t.zip stopped")
        # No answers the question and the run goes on to its end.
        t.keys("C-t", "x")
        t.wait_for("Stop the current operation?")
        t.keys("Right", "Enter")
        t.wait_for("ended without errors")
        t.keys("C-q")
        t.wait_for(lambda s: t.dead(), timeout=5)

    def test_mouse_toolbar_header_and_double_click(self):
        t = self.start("t.zip")
        screen = t.wait_for("Total 3 files")
        lines = screen.splitlines()
        # A click on the "Size" title sorts by size.
        t.click(lines[3].index("Size"), 3)
        screen = t.wait_for(lambda s: s.splitlines()[4].startswith("big.bin"))
        # A double click on a row views it.
        row = next(i for i, line in enumerate(screen.splitlines()) if line.startswith("hello.txt"))
        t.double_click(2, row)
        t.wait_for("hello world")
        t.keys("Escape")
        t.wait_for("Total 3 files")
        # The "extract" button opens the Extract dialog.
        t.click(lines[2].index("extract"), 2)
        t.wait_for("Extract To:")
        t.keys("Escape")
        t.wait_gone("Extract To:")
        t.keys("C-q")
        t.wait_for(lambda s: t.dead(), timeout=5)

    def test_a_viewed_file_changed_is_offered_back_on_close(self):
        t = self.start("t.zip")
        t.wait_for("Total 3 files")
        t.keys("Enter")  # the first row: hello.txt
        t.wait_for("hello world")
        t.keys("Escape")
        t.wait_for("Total 3 files")
        (view,) = glob.glob(os.path.join(self.viewtmp, "borvan32-view-*"))
        with open(os.path.join(view, "hello.txt"), "w") as f:
            f.write("edited while viewed\n")
        t.keys("C-l")
        t.wait_for("hello.txt was changed after it was extracted for viewing")
        t.keys("Enter")
        t.wait_for('Choose "New" to create')
        with zipfile.ZipFile(self.archive) as z:
            self.assertEqual(z.read("hello.txt"), b"edited while viewed\n")
            self.assertIsNone(z.testzip())
        self.assertEqual(glob.glob(os.path.join(self.viewtmp, "borvan32-view-*")), [])
        t.keys("C-q")
        t.wait_for(lambda s: t.dead(), timeout=5)

    def test_arj_archive_through_its_program(self):
        if not shutil.which("arj"):
            if os.environ.get("CI"):
                self.fail("arj is not installed")
            self.skipTest("arj is not installed")
        src = os.path.join(self.dir, "src")
        os.makedirs(src)
        for name, text in (("alpha.txt", "alpha text\n"), ("beta.txt", "beta\n")):
            with open(os.path.join(src, name), "w") as f:
                f.write(text)
        arj = os.path.join(self.dir, "x.arj")
        subprocess.run(["arj", "a", arj, "alpha.txt", "beta.txt"], cwd=src, check=True,
                       stdout=subprocess.DEVNULL)
        t = self.start("x.arj")
        screen = t.wait_for("Total 2 files")
        self.assertIn("alpha.txt", screen)
        # View runs the program into the private folder; the built-in viewer shows the text.
        t.keys("Enter")
        t.wait_for("alpha text")
        t.keys("Escape")
        t.wait_for("Total 2 files")
        t.keys("C-e")
        t.wait_for("Extract To:")
        t.keys("Enter")
        # A file shows by its name before its bytes are in: wait for the whole text.
        wait_until(lambda: len(os.listdir(self.out)) >= 2, 10, "both members")
        wait_text(os.path.join(self.out, "beta.txt"), lambda text: text == "beta\n", 10)
        self.assertEqual(sorted(os.listdir(self.out)), ["alpha.txt", "beta.txt"])
        # Delete the selected member through the program.
        t.keys("Down", "Space")
        t.wait_for("Selected 1 file")
        t.keys("C-d")
        t.wait_for("Entire Archive")
        t.keys("Enter")
        screen = t.wait_for("Total 1 file,")
        self.assertNotIn("beta.txt", screen)
        t.keys("C-q")
        t.wait_for(lambda s: t.dead(), timeout=5)

    def test_checkout_extracts_into_its_folder_and_makes_launchers(self):
        t = self.start("t.zip")
        t.wait_for("Total 3 files")
        t.keys("C-c")
        t.wait_for("Group Name:")
        t.keys("Enter")
        t.wait_for(lambda s: "launchers made" in s or "no icons created" in s, timeout=10)
        folder = os.path.join(self.dir, "CheckOut", "t")
        self.assertTrue(os.path.isfile(os.path.join(folder, "hello.txt")))
        self.assertTrue(os.path.isfile(os.path.join(folder, "dir", "bee.txt")))
        t.keys("Enter")
        t.keys("C-q")
        t.wait_for(lambda s: t.dead(), timeout=5)

    def test_configured_viewer_gets_an_argument_vector_never_a_shell(self):
        name = "x $(touch PWNED) ;touch PWNED2; `touch PWNED3`.txt"
        with zipfile.ZipFile(self.archive, "w") as z:
            z.writestr(name, "viewed by a program\n")
        viewer = os.path.join(self.dir, "viewer.sh")
        copy = os.path.join(self.dir, "viewed_copy")
        with open(viewer, "w") as f:
            f.write('#!/bin/sh\ncp "$1" "%s"\n' % copy)
        os.chmod(viewer, 0o755)
        with open(os.path.join(self.config, "borvan32", "borvan32.ini"), "a") as f:
            f.write("[Programs]\nviewer=%s\n" % viewer)
        t = self.start("t.zip")
        t.wait_for("Total 1 file,")
        t.keys("C-v")
        # The copy is there by name before cp has written it: wait for its end.
        self.assertEqual(wait_text(copy, lambda text: text.endswith("\n")),
                         "viewed by a program\n")
        self.assertEqual(glob.glob(os.path.join(self.dir, "PWNED*")), [])
        # The window comes back after the viewer.
        t.keys("Down")
        t.wait_for("Total 1 file,")
        t.keys("C-q")
        t.wait_for(lambda s: t.dead(), timeout=5)

    def test_overwrite_question_and_uuencode(self):
        t = self.start("t.zip")
        t.wait_for("Total 3 files")
        t.keys("Space")  # hello.txt
        t.keys("C-e")
        t.wait_for("Extract To:")
        t.keys("Enter")
        target = os.path.join(self.out, "hello.txt")
        t.wait_for(lambda s: "Extract To:" not in s and os.path.exists(target))
        with open(target, "w") as f:
            f.write("mine\n")
        # No keeps the existing file; Yes replaces it.
        for answer, want in (("n", "mine\n"), ("y", "hello world\n" * 50)):
            t.keys("C-e")
            t.wait_for("Extract To:")
            t.keys("Enter")
            t.wait_for("Confirm File Replace")
            t.keys(answer)
            t.wait_gone("Confirm File Replace")
            t.wait_for("Total 3 files")
            with open(target) as f:
                self.assertEqual(f.read(), want)
        t.keys("C-u")
        t.wait_for("UUencoded to")
        t.keys("Enter")
        with open(self.archive + ".uue", "rb") as f:
            lines = f.read().splitlines()
        self.assertEqual(lines[0], b"begin 644 t.zip")
        self.assertEqual(lines[-1], b"end")

        decoded = b"".join(binascii.a2b_uu(line) for line in lines[1:-1])
        with open(self.archive, "rb") as f:
            self.assertEqual(decoded, f.read())
        t.keys("C-q")
        t.wait_for(lambda s: t.dead(), timeout=5)

    def test_recent_archives_reopen_and_are_kept_on_exit(self):
        t = self.start("t.zip")
        t.wait_for("Total 3 files")
        t.keys("C-l")
        t.wait_for('Choose "New" to create')
        t.keys("M-f")
        recent = lambda s: re.search(r"│ 1 \S*/t\.zip ", s)  # noqa: E731 (shortened when long)
        t.wait_for(recent)
        t.keys("1")
        t.wait_for("Total 3 files")
        t.keys("C-q")
        t.wait_for(lambda s: t.dead(), timeout=5)
        with open(os.path.join(self.config, "borvan32", "borvan32.ini")) as f:
            ini = f.read()
        self.assertIn("[filemenu]\nfilemenu1=%s\n" % self.archive, ini)
        # The next start lists it in the File menu.
        t.close()
        t = self.t = self.start()
        t.wait_for('Choose "New" to create')
        t.keys("M-f")
        t.wait_for(recent)
        t.keys("Escape")
        t.wait_for(lambda s: not recent(s))
        t.keys("C-q")
        t.wait_for(lambda s: t.dead(), timeout=5)

    def test_favorite_folders_are_kept_in_the_settings(self):
        t = self.start("t.zip")
        t.wait_for("Total 3 files")
        t.keys("C-f")
        t.wait_for("Favorite Zip Folders")
        t.keys("M-a")  # Add Current Folder: the open archive's folder
        t.wait_gone("Favorite Zip Folders")
        # The list is written once the dialog has closed (the screen may show that first).
        ini_path = os.path.join(self.config, "borvan32", "borvan32.ini")
        wanted = "[WizDir]\nWizDir1=%s\n" % self.dir
        self.assertIn(wanted, wait_text(ini_path, lambda text: wanted in text))
        # Open from the favourite folder: the Open dialog starts there.
        t.keys("C-f")
        t.wait_for("Favorite Zip Folders")
        t.keys("Enter")
        t.wait_for(lambda s: "Open Archive" in s and "Folder: " + self.dir in s)
        t.keys("Escape")
        t.wait_for(lambda s: "Open Archive" not in s and "Total 3 files" in s)
        t.keys("C-q")
        t.wait_for(lambda s: t.dead(), timeout=5)

    def test_resizing_down_to_a_few_cells(self):
        t = self.start("t.zip", cols=80, rows=24)
        t.wait_for("Total 3 files")
        for cols, rows in ((30, 8), (10, 4), (2, 2), (1, 1), (120, 40)):
            t.resize(cols, rows)
            time.sleep(0.2)
            self.assertFalse(t.dead(), "died at %dx%d" % (cols, rows))
        screen = t.wait_for("Total 3 files")
        self.assertIn("hello.txt", screen)
        # The menu opens and draws at the new size too.
        t.keys("F10", "Enter")
        t.wait_for("Open Archive...")
        t.keys("Escape")
        t.wait_gone("Open Archive...")
        t.keys("C-q")
        t.wait_for(lambda s: t.dead(), timeout=5)


if __name__ == "__main__":
    unittest.main()
