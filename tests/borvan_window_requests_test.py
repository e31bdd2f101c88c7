"""The archive manager's window in tmux, where a request can cost files: the Delete dialog
never deleting the archive by accident, 8.3 names off by default and never overwriting each
other, command lines ending with the status their headless run gives, and the meter moving
while a large file is compressed."""
import os
import re
import subprocess
import sys
import time
import unittest
import zipfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from borvan_window_test import BORVAN, WindowFixture, make_archive  # noqa: E402
from tmux_harness import Tmux  # noqa: E402


class WindowRequestsTest(WindowFixture):
    def quit(self, t):
        t.keys("C-q")
        t.wait_for(lambda s: t.dead(), timeout=10)

    def press(self, t, keys, then):
        """Sends tmux keys (a list) or literal text (a string), then waits for `then`."""
        if isinstance(keys, str):
            t.text(keys)
        else:
            t.keys(*keys)
        return t.wait_for(then)

    def start_for_status(self, *args):
        """Starts the manager through a shell that keeps its exit status in a file."""
        self.status_file = os.path.join(self.dir, "status")
        if os.path.exists(self.status_file):
            os.remove(self.status_file)
        script = '"$0" "$@"; echo $? > "%s"' % self.status_file
        self.t = Tmux(["sh", "-c", script, BORVAN] + list(args), cols=100, rows=30, env=self.env())
        return self.t

    def exit_status(self):
        with open(self.status_file) as f:
            return int(f.read())

    def test_delete_dialog_takes_typed_names_and_keeps_the_archive_by_default(self):
        with zipfile.ZipFile(self.archive, "a") as z:
            z.writestr("readme.txt", "read me\n")
        t = self.start("t.zip")
        t.wait_for("Total 4 files")
        # "readme.txt" holds the letters of Entire Archive and of the Delete button; typed in
        # the dialog they are a name, and the name wins over the selected row.
        for keys, then in ((["Home", "Space"], "Selected 1 file"), (["C-d"], "Entire Archive"),
                           ("readme.txt", "readme.txt"), (["Enter"], "Total 3 files")):
            self.press(t, keys, then)
        self.assertEqual(self.names(), ["big.bin", "dir/bee.txt", "hello.txt"])

        # Entire Archive chosen on purpose still asks, and Enter alone answers No.
        for answer, kept in (("Enter", True), ("y", False)):
            t.keys("C-d")
            t.wait_for("Entire Archive")
            t.keys("M-e", "Enter")
            t.wait_for("Delete the archive")
            t.keys(answer)
            t.wait_gone("Delete the archive")
            if kept:
                t.wait_for("Total 3 files")
            else:
                t.wait_for('Choose "New" to create')
            self.assertEqual(os.path.exists(self.archive), kept)
        self.quit(t)

    def write_cmake_files(self):
        for name, text in (("CMakeLists.txt", b"first\n"), ("CMakeListsOld.txt", b"second\n")):
            with open(os.path.join(self.dir, name), "wb") as f:
                f.write(text)

    def test_add_keeps_long_names_unless_8_3_is_chosen(self):
        self.write_cmake_files()
        t = self.start("t.zip")
        t.wait_for("Total 3 files")
        screen = self.press(t, ["C-a"], "Store Filenames In DOS 8.3 Format")
        self.assertIn("[ ] Store Filenames In DOS 8.3 Format", screen)
        self.press(t, "CMakeLists.txt", "CMakeLists.txt")
        self.press(t, ["Enter"], "Total 4 files")
        self.assertIn("CMakeLists.txt", self.names())
        self.quit(t)

    def test_an_8_3_clash_is_refused_naming_both_files(self):
        self.write_cmake_files()
        # Both files shorten to CMAKELIS.TXT: as a member already there, or as two new names.
        for member in (True, False):
            with self.subTest(member=member):
                make_archive(self.archive)
                if member:
                    with zipfile.ZipFile(self.archive, "a") as z:
                        z.writestr("CMAKELIS.TXT", "stored before\n")
                t = self.start("t.zip", cols=160)
                try:
                    t.wait_for("Total %d files" % (4 if member else 3))
                    t.keys("C-a")
                    screen = t.wait_for("Store Filenames In DOS 8.3 Format")
                    t.text("CMakeLists.txt CMakeListsOld.txt")
                    if "[X] Store Filenames" not in screen:
                        t.keys("M-8")
                    t.wait_for("[X] Store Filenames In DOS 8.3 Format")
                    t.keys("Enter")
                    t.wait_for("Warnings were issued")
                    t.keys("y")
                    t.wait_for("not added: CMakeListsOld.txt (its 8.3 name CMAKELIS.TXT is "
                               "already taken by CMakeLists.txt)")
                    t.keys("Escape")
                    t.wait_for("Total 4 files")
                    with zipfile.ZipFile(self.archive) as z:
                        self.assertEqual(z.read("CMAKELIS.TXT"), b"first\n")
                    self.quit(t)
                finally:
                    t.close()
                    self.t = None

    def test_two_files_for_one_member_end_the_run_naming_both(self):
        # Without 8.3 names: a/x.txt and b/x.txt would both replace the member x.txt.
        for folder in ("a", "b"):
            os.makedirs(os.path.join(self.dir, folder))
            with open(os.path.join(self.dir, folder, "x.txt"), "w") as f:
                f.write("from %s\n" % folder)
        with zipfile.ZipFile(self.archive, "a") as z:
            z.writestr("x.txt", "stored before\n")
        with open(self.archive, "rb") as f:
            before = f.read()
        r = subprocess.run([BORVAN, "-a", "t.zip", "a/x.txt", "b/x.txt"], cwd=self.dir,
                           env=self.env(), stdin=subprocess.DEVNULL, capture_output=True,
                           text=True, timeout=60)
        self.assertEqual(r.returncode, 16, r.stderr)
        for line in ("name in zip file repeated: x.txt", "first full name: a/x.txt",
                     "second full name: b/x.txt"):
            self.assertIn(line, r.stderr)
        with open(self.archive, "rb") as f:
            self.assertEqual(f.read(), before)

    def test_command_lines_end_with_the_status_of_their_headless_run(self):
        os.makedirs(os.path.join(self.dir, "taken"))
        with open(os.path.join(self.dir, "taken", "hello.txt"), "w") as f:
            f.write("already here\n")
        with open(os.path.join(self.dir, "plain_file"), "w") as f:
            f.write("not a folder\n")
        cases = [
            # arguments, what shows, keys that answer it, status (None: the headless one)
            (["-e", "t.zip", "fine"], "Total 3 files", [], 0),
            (["-e", "missing.zip", "out2"], "does not exist", ["Enter"], None),
            (["-e", "t.zip", "plain_file/out"], "Could not create directory", ["Enter"], None),
            # The error, then the question about the warning before it.
            (["-a", "t.zip", "absent.txt"], "Nothing to do", ["Enter", "n"], None),
            (["-e", "-r", "t.zip"], '"-r" is not an option of', ["Enter"], None),
            # Cancel stops the run: headless has no such answer (it skips the file).
            (["-e", "t.zip", "taken"], "Confirm File Replace", ["Escape"], 2),
        ]
        for args, shows, keys, status in cases:
            with self.subTest(args=args):
                if status is None:
                    r = subprocess.run([BORVAN] + args, cwd=self.dir, env=self.env(),
                                       stdin=subprocess.DEVNULL, capture_output=True, text=True,
                                       timeout=60)
                    status = r.returncode
                    self.assertNotEqual(status, 0)
                    if "-r" in args:  # headless names the refused switch too
                        self.assertIn('validation error: "-r"', r.stderr)
                t = self.start_for_status(*args)
                try:
                    t.wait_for(shows, timeout=10)
                    for key in keys:
                        t.keys(key)
                    t.wait_for(lambda s: "┐" not in s, timeout=10)  # no box left open
                    self.quit(t)
                    self.assertEqual(self.exit_status(), status)
                finally:
                    t.close()
                    self.t = None

    def test_the_meter_moves_while_a_large_file_is_compressed(self):
        # Text-like and varied, so that maximum compression takes its time over it.
        words = [("w%05d " % i).encode() for i in range(40000)]
        big = os.path.join(self.dir, "big.txt")
        with open(big, "wb") as f:
            for i in range(48 * 1024 * 1024 // (7 * 997)):
                f.write(b"".join(words[(i * 7919 + k * 31) % 40000] for k in range(997)))
        t = self.start_for_status("-a", "-ex", "new.zip", "big.txt")
        seen = set()
        deadline = time.monotonic() + 120
        while time.monotonic() < deadline:
            screen = t.screen()
            if "Total 1 file" in screen:
                break
            bottom = screen.rstrip("\n").splitlines()[-1] if screen.strip() else ""
            seen.update(int(p) for p in re.findall(r"(\d+)%", bottom))
            time.sleep(0.05)
        t.wait_for("Total 1 file", timeout=10)
        self.assertTrue(any(0 < p < 100 for p in seen), "meter showed only %s" % sorted(seen))
        self.quit(t)
        self.assertEqual(self.exit_status(), 0)
        with zipfile.ZipFile(os.path.join(self.dir, "new.zip")) as z:
            self.assertIsNone(z.testzip())


if __name__ == "__main__":
    unittest.main()
