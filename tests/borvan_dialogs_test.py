"""The archive manager's dialogs on a real terminal, driven in tmux through the dialogs demo:
the Add dialog's file list and choices, the password prompt with its confirmation and
refusals, the Extract and Delete choices, the Open dialog's archive kinds, and the archive
file operations (copy, move, rename, delete) with their overwrite question."""
import os
import shutil
import sys
import tempfile
import unittest
import zipfile

sys.path.insert(0, os.path.join(os.environ.get("SOURCE_DIR", os.path.join(os.path.dirname(__file__), "..")),
                                "platform", "tui", "demo"))
from tmux_harness import Tmux, build_dir  # noqa: E402

DEMO = os.path.join(build_dir(), "archiver", "shell", "dialogs", "demo", "dialogs_demo")


class DialogsTest(unittest.TestCase):
    def setUp(self):
        if not os.path.exists(DEMO):
            if os.environ.get("CI"):
                self.fail("dialogs_demo not built")
            self.skipTest("dialogs_demo not built")
        self.dir = tempfile.mkdtemp(prefix="borvan_dialogs_")
        self.addCleanup(shutil.rmtree, self.dir, True)

    def run_demo(self, *args, cols=80, rows=24):
        # The pane must outlive the demo so that the line it prints at the end can be read.
        argv = ["sh", "-c", '"$0" "$@"; sleep 60', DEMO] + list(args)
        t = Tmux(argv, cols, rows, env={"LANG": "C.UTF-8", "TERM": "screen"})
        self.addCleanup(t.close)
        return t

    def result(self, t):
        screen = t.wait_for("result ")
        # The result line may wrap at the pane's edge.
        text = "".join(screen.split("\n"))
        return text[text.index("result ") + 7:].rstrip()

    def write(self, name, data=b"x"):
        path = os.path.join(self.dir, name)
        with open(path, "wb") as f:
            f.write(data)
        return path

    def test_add_takes_typed_and_marked_names_and_the_choices(self):
        self.write("a.txt")
        self.write("b.txt")
        os.mkdir(os.path.join(self.dir, "sub"))
        self.write("sub/c.txt")
        t = self.run_demo("add", self.dir)
        t.wait_for("Add to: /demo/a.zip")
        t.wait_for("Store Filenames In DOS 8.3 Format")
        # A typed name; then in the list: into sub/, mark c.txt; Alt+R, Alt+M to compression.
        t.keys("typed.dat", "Tab", "Down", "Enter")
        t.wait_for("Folder: " + self.dir + "/sub")
        # Alt+M reaches the first compression radio; each Down selects the next one.
        t.keys("End", "Space", "M-r", "M-m", "Down", "Down", "Enter")
        self.assertEqual(self.result(t), "names=typed.dat|c.txt folder=%s/sub action=0 "
                         "compression=2 recurse=1 encryption=0 password=" % self.dir)

    def test_add_without_names_says_so_and_escape_cancels(self):
        t = self.run_demo("add", self.dir)
        t.wait_for("Add to:")
        t.keys("Enter")
        t.wait_for("Type the names of the files to add")
        t.keys("Enter")
        t.wait_gone("Type the names")
        t.keys("Escape")
        self.assertEqual(self.result(t), "cancelled")

    def test_a_dialog_survives_a_tiny_terminal(self):
        self.write("a.txt")
        t = self.run_demo("add", self.dir)
        t.wait_for("Add to:")
        for cols, rows in ((20, 6), (3, 2), (60, 12), (80, 24)):
            t.resize(cols, rows)
            t.keys("x")
        t.wait_for("Store Filenames In DOS 8.3 Format")
        t.keys("Enter")
        self.assertIn("names=xxxx ", self.result(t))

    def test_password_for_adding_is_typed_twice(self):
        t = self.run_demo("password-add")
        s = t.wait_for("Mask Password")
        self.assertIn("other local users", s)
        t.keys("secret")
        s = t.wait_for("******")
        self.assertNotIn("secret", s)
        t.keys("Enter")
        t.wait_for("Please reenter your password:")
        t.keys("wrong", "Enter")
        t.wait_for("The password you typed is incorrect")
        t.keys("Enter")
        t.wait_gone("incorrect")
        t.keys("Escape")  # back to the first prompt, which keeps its text
        t.wait_gone("Please reenter")
        t.keys("Enter")
        t.wait_for("Please reenter your password:")
        t.keys("secret", "Enter")
        self.assertEqual(self.result(t), "password=secret mask=1")

    def test_password_refusals_and_unmasked_entry(self):
        t = self.run_demo("password-arj")
        t.wait_for("Mask Password")
        t.keys("two words", "Enter")
        t.wait_for("Spaces are not allowed in passwords")
        t.keys("Enter")
        t.keys("BSpace", "BSpace", "BSpace", "BSpace", "BSpace", "BSpace", "caf\u00e9", "Enter")
        t.wait_for("Characters with ASCII values 128 or higher")
        t.keys("Enter")
        t.keys("BSpace", "e", "Tab", "Space")  # masking off shows the text
        t.wait_for("twocafe")
        t.keys("Enter")
        self.assertEqual(self.result(t), "password=twocafe mask=0")

    def test_extract_choices(self):
        t = self.run_demo("extract", "/out/here/")
        t.wait_for("Extract To:")
        t.wait_for("Use Folder Names")
        t.keys("M-i", "Tab", "*.c *.h", "M-o", "M-u", "Enter")
        self.assertEqual(self.result(t), "target=/out/here which=2 patterns=*.c|*.h "
                         "overwrite=1 folders=0")

    def test_delete_by_pattern(self):
        t = self.run_demo("delete")
        t.wait_for("Entire Archive")
        # The focus starts in the name field: the pattern is typed straight away.
        t.keys("*.bak", "Enter")
        self.assertEqual(self.result(t), "which=2 patterns=*.bak")

    def test_open_lists_archives_by_kind(self):
        zipfile.ZipFile(os.path.join(self.dir, "plain.zip"), "w").close()
        import gzip
        with gzip.open(os.path.join(self.dir, "notes.gz"), "wb") as f:
            f.write(b"text")
        self.write("readme.txt", b"not an archive")
        with zipfile.ZipFile(os.path.join(self.dir, "noext"), "w") as z:
            z.writestr("m.txt", "m")
        t = self.run_demo("open", self.dir)
        s = t.wait_for("plain.zip")
        self.assertNotIn("readme.txt", s)
        rows = {line.strip("│ ").split()[0]: line.strip("│ ").split()[-1]
                for line in s.splitlines() if "notes.gz" in line or "noext" in line or "plain.zip" in line}
        self.assertEqual(rows, {"notes.gz": "gzip", "noext": "zip", "plain.zip": "zip"})
        t.keys("M-l")
        t.wait_for("readme.txt")
        t.keys("BTab", "Down", "Enter")  # from the check box back to the list: "..", noext
        self.assertEqual(self.result(t), "path=%s/noext" % self.dir)

    def test_copy_asks_before_replacing_and_keeps_the_original(self):
        data = os.urandom(200000)
        src = self.write("arch.zip", data)
        other = self.write("other.zip", b"keep")
        t = self.run_demo("copy", src)
        t.wait_for("Copy Archive")
        t.keys("C-u", other, "Enter")
        t.wait_for("already exists")
        t.keys("n")  # not replaced: asked again
        t.wait_for("Copy Archive")
        t.keys("C-u", os.path.join(self.dir, "copy.zip"), "Enter")
        self.assertEqual(self.result(t), "path=%s/copy.zip" % self.dir)
        with open(os.path.join(self.dir, "copy.zip"), "rb") as f:
            self.assertEqual(f.read(), data)
        with open(other, "rb") as f:
            self.assertEqual(f.read(), b"keep")
        with open(src, "rb") as f:
            self.assertEqual(f.read(), data)
        self.assertEqual(sorted(os.listdir(self.dir)), ["arch.zip", "copy.zip", "other.zip"])

    def test_move_rename_and_delete_the_archive_file(self):
        src = self.write("arch.zip", b"zipdata")
        os.mkdir(os.path.join(self.dir, "dest"))
        t = self.run_demo("move", src)
        t.wait_for("Move Archive")
        t.keys("C-u", os.path.join(self.dir, "dest"), "Enter")
        moved = os.path.join(self.dir, "dest", "arch.zip")
        self.assertEqual(self.result(t), "path=" + moved)
        self.assertFalse(os.path.exists(src))
        t = self.run_demo("rename", moved)
        t.wait_for("Rename Archive")
        t.keys("C-u", "../escape.zip", "Enter")
        t.wait_for("Type a new name without a folder.")
        t.keys("Enter")
        t.wait_for("Rename Archive")
        t.keys("C-u", "new name.zip", "Enter")
        renamed = os.path.join(self.dir, "dest", "new name.zip")
        self.assertEqual(self.result(t), "path=" + renamed)
        t = self.run_demo("delete-archive", renamed)
        t.wait_for("Delete the archive")
        t.keys("n")
        self.assertEqual(self.result(t), "kept")
        self.assertTrue(os.path.exists(renamed))
        t = self.run_demo("delete-archive", renamed)
        t.wait_for("Delete the archive")
        t.keys("y")
        self.assertEqual(self.result(t), "deleted")
        self.assertFalse(os.path.exists(renamed))

    def test_last_output_shows_the_log_safely(self):
        t = self.run_demo("log", "Action: Add\nname\x1b[2Jevil\nlast line")
        s = t.wait_for("last line")
        self.assertIn("Action: Add", s)
        self.assertIn("^[[2Jevil", s)
        t.keys("Escape")
        self.assertEqual(self.result(t), "shown")


if __name__ == "__main__":
    unittest.main()
