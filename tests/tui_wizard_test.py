"""The wizard of the archive manager in tmux: Ctrl+W (and the File menu) opens it over the
window; unpacking an archive made by Python's zipfile into a folder named after it, byte for
byte; packing a folder with subfolders into a new archive that zipfile and 7zz read back;
Back keeping each choice; Cancel leaving nothing written; clear refusals for a missing
archive, a folder that cannot be made and an empty choice; and the start-up with Wizard=1,
from which Full Manager leads to the window."""
import configparser
import gzip
import io
import os
import shutil
import subprocess
import sys
import tarfile
import tempfile
import unittest
import zipfile

SOURCE = os.environ.get("SOURCE_DIR", os.path.join(os.path.dirname(__file__), ".."))
sys.path.insert(0, os.path.join(SOURCE, "platform", "tui", "demo"))
from tmux_harness import Tmux, build_dir, wait_until  # noqa: E402

BORVAN = os.environ.get("BORVAN32") or os.path.join(build_dir(), "archiver", "borvan32")

MEMBERS = {
    "readme.txt": b"unpacked by the wizard\n" * 30,
    "docs/guide.md": b"# guide\n" + bytes(range(32, 127)) * 20,
    "docs/deep/data.bin": bytes((i * 7 + 3) & 0xFF for i in range(70000)),
}

WINDOW = "[ new ]"  # the manager's toolbar: the full window is on screen
TASK = "What would you like to do?"


def click_on(t, screen, text):
    """Clicks the middle of the first place `text` shows on the screen."""
    for y, line in enumerate(screen.splitlines()):
        x = line.find(text)
        if x >= 0:
            t.click(x + len(text) // 2, y)
            return
    raise AssertionError("%r is not on the screen:\n%s" % (text, screen))


class WizardFixture(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory()
        self.dir = os.path.realpath(self.tmp.name)
        self.config = os.path.join(self.dir, "config")
        os.makedirs(os.path.join(self.config, "borvan32"))
        self.ini = os.path.join(self.config, "borvan32", "borvan32.ini")
        self.runtime = os.path.join(self.dir, "run")
        os.makedirs(self.runtime, mode=0o700)
        self.archive = os.path.join(self.dir, "t.zip")
        with zipfile.ZipFile(self.archive, "w", zipfile.ZIP_DEFLATED) as z:
            for name, data in MEMBERS.items():
                z.writestr(name, data)
        self.src = os.path.join(self.dir, "src")
        self.files = {
            "a.txt": b"first file\n" * 100,
            "sub/b.bin": bytes(range(256)) * 300,
            "sub/deeper/c.txt": b"third, two folders down\n",
        }
        for rel, data in self.files.items():
            path = os.path.join(self.src, rel)
            os.makedirs(os.path.dirname(path), exist_ok=True)
            with open(path, "wb") as f:
                f.write(data)
        self.old_cwd = os.getcwd()
        os.chdir(self.dir)
        self.t = None

    def tearDown(self):
        if self.t:
            self.t.close()
        os.chdir(self.old_cwd)
        self.tmp.cleanup()

    def write_settings(self, text):
        with open(self.ini, "w") as f:
            f.write(text)

    def setting(self, section, key):
        c = configparser.ConfigParser(interpolation=None)
        c.optionxform = str
        c.read(self.ini)
        return c.get(section, key, fallback=None)

    def start(self, *args):
        env = {"XDG_CONFIG_HOME": self.config, "XDG_RUNTIME_DIR": self.runtime,
               "TMPDIR": self.dir, "LC_ALL": "C.UTF-8", "HOME": self.dir,
               "XDG_DATA_HOME": os.path.join(self.dir, "data"), "PAGER": "",
               "DISPLAY": "", "WAYLAND_DISPLAY": ""}
        self.t = Tmux([BORVAN] + list(args), cols=100, rows=30, env=env)
        return self.t

    def open_wizard(self):
        t = self.start()
        t.wait_for(WINDOW)
        t.keys("C-w")
        t.wait_for(TASK)
        return t

    def written(self, folder):
        found = {}
        for root, _, files in os.walk(folder):
            for name in files:
                path = os.path.join(root, name)
                with open(path, "rb") as f:
                    found[os.path.relpath(path, folder)] = f.read()
        return found


class WizardUnpackTest(WizardFixture):
    def test_unpack_into_the_folder_named_after_the_archive_with_back_keeping_choices(self):
        t = self.open_wizard()
        t.keys("Enter")  # Unpack is the first choice
        t.wait_for("Which archive do you want to unpack?")
        t.text(self.archive)
        t.keys("Enter")
        screen = t.wait_for("Where do you want the files?")
        target = os.path.join(self.dir, "t")
        self.assertIn(target, screen)
        self.assertIn("t.zip holds 3 files", screen)
        self.assertIn("Step 3 of 3", screen)

        # Back shows the archive chosen; Next again keeps the default folder.
        t.keys("M-b")
        screen = t.wait_for("Which archive do you want to unpack?")
        self.assertIn(self.archive, screen)
        t.keys("Enter")
        t.wait_for("Where do you want the files?")
        self.assertFalse(os.path.exists(target))  # nothing is written before Go

        t.keys("M-g")
        screen = t.wait_for("Files in the folder: 3", timeout=15)
        self.assertIn("Errors: none", screen)
        self.assertEqual(self.written(target), MEMBERS)

        # The folder listing, then the full manager with the archive open.
        t.keys("M-s")
        screen = t.wait_for("docs/deep/data.bin")
        self.assertIn("readme.txt", screen)
        t.keys("Escape")
        t.wait_for("Files in the folder: 3")
        t.keys("M-f")
        screen = t.wait_for("Total 3 files")
        self.assertIn("Borvan - %s" % self.archive, screen)

    def test_other_kinds_unpack_through_the_window_paths(self):
        """tar and gzip through the engine, ARJ through its program: each into its folder."""
        data = {"top.txt": b"top of the tar\n", "dir/sub/x.bin": bytes(range(256)) * 40}
        tar = os.path.join(self.dir, "k.tar")
        with tarfile.open(tar, "w") as t:
            for name, blob in data.items():
                info = tarfile.TarInfo(name)
                info.size = len(blob)
                t.addfile(info, io.BytesIO(blob))
        gz = os.path.join(self.dir, "notes.txt.gz")
        with gzip.open(gz, "wb") as g:
            g.write(b"gzip notes\n" * 100)
        cases = [(tar, os.path.join(self.dir, "k"), data),
                 (gz, os.path.join(self.dir, "notes.txt"), {"notes.txt": b"gzip notes\n" * 100})]
        if shutil.which("arj") or os.environ.get("CI"):
            arj_src = os.path.join(self.dir, "arjsrc")
            os.makedirs(arj_src)
            members = {"one.txt": b"first member\n" * 50, "r.bin": bytes(range(200)) * 90}
            for name, blob in members.items():
                with open(os.path.join(arj_src, name), "wb") as f:
                    f.write(blob)
            subprocess.run(["arj", "a", "-y", "../t.arj"] + sorted(members), cwd=arj_src,
                           check=True, capture_output=True)
            cases.append((os.path.join(self.dir, "t.arj"), os.path.join(self.dir, "t"), members))
        t = self.start()
        t.wait_for(WINDOW)
        for archive, folder, want in cases:
            with self.subTest(archive=os.path.basename(archive)):
                t.keys("C-w")
                t.wait_for(TASK)
                t.keys("Enter")
                t.wait_for("Which archive do you want to unpack?")
                t.keys("C-e", "C-u")
                t.text(archive)
                t.keys("Enter")
                self.assertIn(folder, t.wait_for("Where do you want the files?"))
                t.keys("M-g")
                screen = t.wait_for("Files in the folder: %d" % len(want), timeout=15)
                self.assertIn("Errors: none", screen)
                self.assertEqual(self.written(folder), want)
                t.keys("Escape")
                t.wait_for(WINDOW)

    def test_stop_during_the_run_is_asked_and_said(self):
        many = os.path.join(self.dir, "many.zip")
        count = 8000
        with zipfile.ZipFile(many, "w") as z:
            for i in range(count):
                z.writestr("d%02d/f%05d.txt" % (i % 40, i), "x")
        t = self.open_wizard()
        t.keys("Enter")
        t.wait_for("Which archive do you want to unpack?")
        t.text(many)
        t.keys("Enter")
        t.wait_for("Where do you want the files?")
        t.keys("M-g")
        # The page changes with every file: the key goes as soon as Stop shows, not once
        # the screen holds still.
        wait_until(lambda: "[ Stop ]" in t.screen(), timeout=15, what="the Stop button")
        t.keys("s")
        t.wait_for("Stop the current operation?", timeout=15)
        t.keys("Enter")
        screen = t.wait_for("The unpacking was stopped.", timeout=15)
        self.assertNotIn("Files in the folder", screen)
        self.assertLess(len(self.written(os.path.join(self.dir, "many"))), count)

    def test_refusals_are_said_and_the_step_stays(self):
        with open(os.path.join(self.dir, "plain.txt"), "w") as f:
            f.write("a file where a folder would go\n")
        t = self.open_wizard()
        t.keys("Enter")
        t.wait_for("Which archive do you want to unpack?")
        t.keys("Enter")
        t.wait_for("Choose the archive to unpack.")
        t.keys("Enter")
        t.wait_for("Which archive do you want to unpack?")
        missing = os.path.join(self.dir, "missing.zip")
        t.text(missing)
        t.keys("Enter")
        t.wait_for("does not exist")
        t.keys("Enter")
        # The typed path is still there: correct it.
        t.wait_for(lambda s: "does not exist" not in s and "missing.zip" in s)
        t.keys("C-e", "C-u")
        t.text(self.archive)
        t.keys("Enter")
        t.wait_for("Where do you want the files?")
        # A folder below a file cannot be made.
        t.keys("C-e", "C-u")
        t.text(os.path.join(self.dir, "plain.txt", "out"))
        t.keys("Enter")
        t.wait_for("is a file, not a folder")
        t.keys("Enter")
        t.wait_for("Where do you want the files?")
        self.assertTrue(os.path.isfile(os.path.join(self.dir, "plain.txt")))

        # The menu item reaches the wizard as Ctrl+W does; Escape cancels, nothing is written.
        t.keys("Escape")
        t.wait_for(WINDOW)
        self.assertFalse(os.path.exists(os.path.join(self.dir, "t")))
        t.keys("M-f")
        t.wait_for("Wizard...")
        t.keys("w")
        t.wait_for(TASK)


class WizardPackTest(WizardFixture):
    def to_archive_step(self):
        """The wizard on its pack task's second step, with the source folder chosen."""
        t = self.open_wizard()
        t.keys("p", "Enter")
        t.wait_for("Which files and folders?")
        t.text(self.src)
        t.keys("Enter")
        return t, t.wait_for("What is the new archive to be called?")

    def test_pack_a_folder_with_subfolders(self):
        t = self.open_wizard()
        t.keys("p", "Enter")
        t.wait_for("Which files and folders?")
        t.keys("Enter")
        t.wait_for("Choose the files or folders to pack.")
        t.keys("Enter")
        t.wait_for("Which files and folders?")
        t.text(self.src)
        t.keys("Enter")
        screen = t.wait_for("What is the new archive to be called?")
        made = os.path.join(self.dir, "src.zip")
        self.assertIn(made, screen)
        # Back shows the folder in the list, kept.
        t.keys("M-b")
        screen = t.wait_for("Which files and folders?")
        self.assertIn(self.src + "/", screen)
        t.keys("M-n")
        t.wait_for("What is the new archive to be called?")
        t.keys("Enter")
        t.wait_for("How much compression?")
        t.keys("M-x")  # Maximum
        t.keys("M-g")
        screen = t.wait_for("Files in the archive: 3", timeout=15)
        self.assertIn("Errors: none", screen)

        with zipfile.ZipFile(made) as z:
            self.assertIsNone(z.testzip())
            got = {n[len("src/"):]: z.read(n) for n in z.namelist() if not n.endswith("/")}
            self.assertTrue(all(n.startswith("src/") for n in z.namelist()), z.namelist())
        self.assertEqual(got, self.files)
        seven = shutil.which("7zz")
        if seven:
            r = subprocess.run([seven, "t", made], capture_output=True, text=True)
            self.assertEqual(r.returncode, 0, r.stdout + r.stderr)
        elif os.environ.get("CI"):
            self.fail("7zz is missing")

        # Full Manager opens the new archive in the window.
        t.keys("M-f")
        screen = t.wait_for("Borvan - %s" % made)
        self.assertIn(WINDOW, screen)

    def test_cancel_on_the_last_step_writes_nothing(self):
        t, _ = self.to_archive_step()
        t.keys("Enter")
        t.wait_for("How much compression?")
        t.keys("Escape")
        t.wait_for(WINDOW)
        self.assertEqual(sorted(os.listdir(self.dir)),
                         ["config", "run", "src", "t.zip"])
        self.assertEqual(self.written(self.src), self.files)

    def test_a_name_of_another_kind_is_refused(self):
        t, _ = self.to_archive_step()
        t.keys("C-e", "C-u")
        t.text(os.path.join(self.dir, "out.tar"))
        t.keys("Enter")
        t.wait_for("makes zip archives")
        t.keys("Enter")
        t.wait_for("What is the new archive to be called?")
        self.assertFalse(os.path.exists(os.path.join(self.dir, "out.tar")))


class WizardStartTest(WizardFixture):
    def test_start_with_the_wizard_and_leave_for_the_manager(self):
        self.write_settings("[Borvan]\nWizard=1\n")
        t = self.start()
        screen = t.wait_for(TASK)
        self.assertNotIn(WINDOW, screen)
        self.assertIn("[X] Start with the wizard", screen.replace("[x]", "[X]"))
        # The mouse works the steps as it does every dialog: Pack, Next, Back, Full Manager.
        click_on(t, screen, "Pack files")
        screen = t.wait_for("(*) Pack files")
        click_on(t, screen, "Next")
        screen = t.wait_for("Which files and folders?")
        click_on(t, screen, "[ Back ]")
        screen = t.wait_for(TASK)
        self.assertIn("(*) Pack files", screen)  # the choice is kept
        click_on(t, screen, "[ Full Manager ]")
        t.wait_for(WINDOW)
        self.assertEqual(self.setting("Borvan", "Wizard"), "1")  # kept unless unchecked
        t.keys("C-q")
        wait_until(t.dead, timeout=5, what="the program ended")

    def test_unchecking_turns_the_start_off_and_cancel_at_start_ends(self):
        self.write_settings("[Borvan]\nWizard=1\n")
        t = self.start()
        t.wait_for(TASK)
        t.keys("s")  # the check box
        t.wait_for(lambda s: "[ ] Start with the wizard" in s)
        t.keys("M-f")
        t.wait_for(WINDOW)
        self.assertEqual(self.setting("Borvan", "Wizard"), "0")
        t.close()

        # Started with the wizard, Cancel ends the program; "/nowizard" starts the window.
        self.write_settings("[Borvan]\nWizard=1\n")
        t = self.start()
        t.wait_for(TASK)
        t.keys("Escape")
        wait_until(t.dead, timeout=5, what="the program ended")
        t.close()
        t = self.start("/nowizard")
        t.wait_for(WINDOW)
        self.assertNotIn(TASK, t.screen())


if __name__ == "__main__":
    unittest.main()
