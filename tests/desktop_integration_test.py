"""End-to-end tests of borvan32 --integrate / --unintegrate: the desktop entry and the default
application for the archive kinds (as xdg-mime sees them), the file-manager actions that really
pack and unpack, and removal of exactly what was written, with the user's own files kept.
"""
import os
import shutil
import subprocess
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import borvan_window_test as window  # noqa: E402  (the manager in tmux)

BORVAN32 = os.environ.get("BORVAN32", "borvan32")
CI = os.environ.get("CI")


def tree(root):
    found = {}
    for base, dirs, files in os.walk(root):
        for name in dirs + files:
            path = os.path.join(base, name)
            if os.path.isdir(path):
                found[os.path.relpath(path, root)] = None
            else:
                with open(path, "rb") as f:
                    found[os.path.relpath(path, root)] = f.read()
    return found


class Integration(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="integrate-")
        self.addCleanup(shutil.rmtree, self.dir, True)
        self.home = os.path.join(self.dir, "home")
        self.data = os.path.join(self.home, ".local", "share")
        os.makedirs(self.data)
        self.env = {k: v for k, v in os.environ.items() if not k.startswith("XDG_")}
        self.env["HOME"] = self.home

    def borvan(self, *args, cwd=None):
        return subprocess.run([BORVAN32, *args], env=self.env, cwd=cwd, capture_output=True,
                              text=True, timeout=60, stdin=subprocess.DEVNULL)

    def write(self, rel, text):
        path = os.path.join(self.home, rel)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "w") as f:
            f.write(text)

    def test_integrate_then_unintegrate_leaves_only_the_users_files(self):
        # The user's own things: a default for tar, another line of theirs, and an action of
        # the same name as ours.
        self.write(".local/share/applications/mimeapps.list",
                   "[Default Applications]\napplication/x-tar=other.desktop\n"
                   "text/plain=editor.desktop\n")
        self.write(".local/share/nemo/actions/borvan32-add-to-archive.nemo_action", "mine\n")
        before = tree(self.home)

        r = self.borvan("--integrate")
        self.assertEqual(r.returncode, 0, r.stdout + r.stderr)
        self.assertIn("Left alone (not written by borvan32): " + self.data +
                      "/nemo/actions/borvan32-add-to-archive.nemo_action", r.stdout)
        self.assertIn("Left alone: application/x-tar opens with other.desktop", r.stdout)
        entry = os.path.join(self.data, "applications", "borvan32.desktop")
        with open(entry) as f:
            text = f.read()
        self.assertIn("Exec=%s %%f" % os.path.realpath(BORVAN32), text)
        self.assertIn("application/zip;", text)
        if shutil.which("desktop-file-validate"):
            v = subprocess.run(["desktop-file-validate", entry], capture_output=True, text=True)
            self.assertEqual(v.returncode, 0, v.stdout + v.stderr)
        if shutil.which("xdg-mime") or CI:
            q = subprocess.run(["xdg-mime", "query", "default", "application/zip"], env=self.env,
                               capture_output=True, text=True, timeout=30)
            self.assertEqual(q.stdout.strip(), "borvan32.desktop", q.stderr)
        # Running it again rewrites its own files and is still clean.
        self.assertEqual(self.borvan("--integrate").returncode, 0)

        r = self.borvan("--unintegrate")
        self.assertEqual(r.returncode, 0, r.stdout + r.stderr)
        self.assertEqual(tree(self.home), before)
        r = self.borvan("--unintegrate")
        self.assertIn("Nothing to remove", r.stdout)

    def test_actions_pack_and_unpack_the_selection(self):
        self.assertEqual(self.borvan("--integrate").returncode, 0)
        work = os.path.join(self.dir, "work")
        os.makedirs(os.path.join(work, "photos", "2026"))
        self.write("../work/photos/2026/a.txt", "first\n")
        self.write("../work/-notes.txt", "second\n")
        scripts = os.path.join(self.data, "nautilus", "scripts")
        add = os.path.join(scripts, "Add to archive (borvan32)")
        extract = os.path.join(scripts, "Extract here (borvan32)")
        # A file manager passes the selection as full paths; a name may begin with "-".
        r = subprocess.run([add, os.path.join(work, "photos"), os.path.join(work, "-notes.txt")],
                           env=self.env, capture_output=True, text=True, timeout=60)
        self.assertEqual(r.returncode, 0, r.stdout + r.stderr)
        archive = os.path.join(work, "photos.zip")
        listing = self.borvan("-l", archive).stdout
        self.assertIn("a.txt", listing)
        self.assertIn("-notes.txt", listing)
        shutil.rmtree(os.path.join(work, "photos"))
        os.unlink(os.path.join(work, "-notes.txt"))
        r = subprocess.run([extract, archive], env=self.env, capture_output=True, text=True,
                           timeout=60)
        self.assertEqual(r.returncode, 0, r.stdout + r.stderr)
        with open(os.path.join(work, "photos", "2026", "a.txt")) as f:
            self.assertEqual(f.read(), "first\n")
        with open(os.path.join(work, "-notes.txt")) as f:
            self.assertEqual(f.read(), "second\n")
        # A damaged archive is an error the file manager sees.
        with open(archive, "r+b") as f:
            f.seek(0)
            f.write(b"garbage!")
        r = subprocess.run([extract, archive], env=self.env, capture_output=True, text=True,
                           timeout=60)
        self.assertNotEqual(r.returncode, 0)

    def test_a_damaged_record_removes_nothing_outside_the_data_folder(self):
        self.assertEqual(self.borvan("--integrate").returncode, 0)
        outside = os.path.join(self.dir, "outside.txt")
        with open(outside, "w") as f:
            f.write("keep\n")
        with open(os.path.join(self.data, "borvan32", "integration.list"), "a") as f:
            f.write("file %s\nfile %s/../../outside.txt\n" % (outside, self.data))
        r = self.borvan("--unintegrate")
        self.assertIn("Skipped (outside", r.stdout)
        self.assertTrue(os.path.exists(outside))
        self.assertFalse(os.path.exists(os.path.join(self.data, "applications",
                                                     "borvan32.desktop")))


@unittest.skipUnless(shutil.which("tmux") or CI, "tmux is missing")
class FromTheWindow(window.WindowFixture):
    def test_the_options_menu_adds_and_removes_the_integration(self):
        data = os.path.join(self.dir, "data")
        entry = os.path.join(data, "applications", "borvan32.desktop")
        t = self.start("t.zip")
        t.wait_for("Total 3 files")
        for answer, exists in (("Enter", True), ("Right", False)):  # Yes, then No
            t.keys("M-o")
            t.wait_for("Save Settings Now")
            t.keys("m")
            t.wait_for("Add borvan32 to the desktop")
            t.keys(answer)
            if answer == "Right":
                t.keys("Enter")
            t.wait_for("Wrote" if exists else "Removed")
            self.assertEqual(os.path.exists(entry), exists)
            t.keys("Enter")
            t.wait_for(lambda s: "Wrote" not in s and "Removed" not in s and "Total 3" in s)
        self.assertEqual(os.listdir(data), [])


if __name__ == "__main__":
    unittest.main()
