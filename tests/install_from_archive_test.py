"""End-to-end tests of borvan32 --install / --uninstall: the setup program found at the top of
the archive runs only after the question, in a private temporary folder that is removed, with
PREFIX set; what it wrote is recorded and --uninstall removes exactly the files left unchanged.
"""
import os
import shutil
import subprocess
import sys
import tempfile
import unittest
import zipfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import borvan_window_test as window  # noqa: E402  (the manager in tmux)

BORVAN32 = os.environ.get("BORVAN32", "borvan32")

SETUP = """#!/bin/sh
mkdir -p "$PREFIX/bin" "$PREFIX/share/tool"
cp tool "$PREFIX/bin/tool"
cp doc/readme "$PREFIX/share/tool/readme"
echo "installed into $PREFIX"
"""


def add(z, name, data, mode=0o644):
    info = zipfile.ZipInfo(name)
    info.create_system = 3  # Unix, so that the mode travels
    info.external_attr = (0o100000 | mode) << 16
    z.writestr(info, data)


class InstallFromArchive(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="install-")
        self.addCleanup(shutil.rmtree, self.dir, True)
        self.home = os.path.join(self.dir, "home")
        self.tmp = os.path.join(self.dir, "tmp")
        os.makedirs(self.home)
        os.makedirs(self.tmp)
        self.prefix = os.path.join(self.home, ".local")
        self.env = {k: v for k, v in os.environ.items() if not k.startswith("XDG_")}
        self.env.update(HOME=self.home, TMPDIR=self.tmp,
                        XDG_STATE_HOME=os.path.join(self.dir, "state"))

    def archive(self, name, setup=("install.sh", SETUP, 0o755)):
        path = os.path.join(self.dir, name)
        with zipfile.ZipFile(path, "w") as z:
            if setup:
                add(z, *setup)
            add(z, "tool", "#!/bin/sh\necho hi\n", 0o755)
            add(z, "doc/readme", "read me\n")
        return path

    def borvan(self, *args):
        return subprocess.run([BORVAN32, *args], env=self.env, capture_output=True, text=True,
                              timeout=120, stdin=subprocess.DEVNULL)

    def test_install_asks_records_and_uninstall_keeps_changed_files(self):
        archive = self.archive("tool.zip")
        # No terminal and no --yes: the question is answered No and nothing runs.
        r = self.borvan("--install", archive)
        self.assertEqual(r.returncode, 1, r.stdout + r.stderr)
        self.assertIn("Setup program: ./install.sh in " + self.tmp, r.stdout)
        self.assertIn("with PREFIX=" + self.prefix, r.stdout)
        self.assertIn("Run ./install.sh? (answered No; --yes answers Yes)", r.stderr)
        self.assertFalse(os.path.exists(self.prefix))
        self.assertEqual(os.listdir(self.tmp), [])

        r = self.borvan("--install", "--yes", archive)
        self.assertEqual(r.returncode, 0, r.stdout + r.stderr)
        self.assertIn("installed into " + self.prefix, r.stdout)
        self.assertIn('2 files written under %s; "borvan32 --uninstall tool" removes them'
                      % self.prefix, r.stdout)
        with open(os.path.join(self.prefix, "share", "tool", "readme")) as f:
            self.assertEqual(f.read(), "read me\n")
        self.assertEqual(os.listdir(self.tmp), [])  # the unpacked files are gone
        self.assertEqual(self.borvan("--uninstall").stdout, "tool\n")

        # A file of the user's beside it, and one installed file changed since: both stay.
        with open(os.path.join(self.prefix, "bin", "mine"), "w") as f:
            f.write("mine\n")
        with open(os.path.join(self.prefix, "share", "tool", "readme"), "a") as f:
            f.write("my notes\n")
        r = self.borvan("--uninstall", "tool")
        self.assertEqual(r.returncode, 1, r.stdout + r.stderr)
        self.assertIn("Removed %s/bin/tool" % self.prefix, r.stdout)
        self.assertIn("Kept %s/share/tool/readme (changed since the install)" % self.prefix,
                      r.stderr)
        self.assertEqual(sorted(os.listdir(os.path.join(self.prefix, "bin"))), ["mine"])
        self.assertTrue(os.path.exists(os.path.join(self.prefix, "share", "tool", "readme")))

    def test_missing_or_unusable_setup_and_damaged_records(self):
        for name, setup, why in (
                ("none.zip", None, "there is no setup, install.sh or install at its top"),
                ("plain.zip", ("install.sh", SETUP, 0o644), "install.sh is not executable")):
            with self.subTest(name):
                r = self.borvan("--install", "--yes", self.archive(name, setup))
                self.assertEqual(r.returncode, 1, r.stdout + r.stderr)
                self.assertIn("Nothing to install from %s: %s" % (os.path.join(self.dir, name),
                                                                    why), r.stderr)
                self.assertFalse(os.path.exists(self.prefix))
                self.assertEqual(os.listdir(self.tmp), [])
        # A setup program that fails is an error; what it wrote is still recorded.
        failing = ("setup", "#!/bin/sh\nmkdir -p \"$PREFIX\"\necho x > \"$PREFIX/half\"\n"
                            "exit 3\n", 0o755)
        r = self.borvan("--install", "--yes", self.archive("fail.zip", failing))
        self.assertEqual(r.returncode, 2, r.stdout + r.stderr)
        self.assertIn("./setup ended with status 3", r.stderr)
        # A record that names a path outside its prefix removes nothing.
        victim = os.path.join(self.dir, "victim")
        with open(victim, "w") as f:
            f.write("keep\n")
        records = os.path.join(self.dir, "state", "borvan32", "installs")
        st = os.stat(victim)
        with open(os.path.join(records, "fail.list"), "a") as f:
            f.write("file\t%d\t%d\t../../victim\n" % (st.st_size, st.st_mtime_ns))
        r = self.borvan("--uninstall", "fail")
        self.assertEqual(r.returncode, 2, r.stdout + r.stderr)
        self.assertIn("is damaged; nothing removed", r.stderr)
        self.assertTrue(os.path.exists(victim))
        self.assertTrue(os.path.exists(os.path.join(self.prefix, "half")))
        r = self.borvan("--uninstall", "../fail")
        self.assertEqual(r.returncode, 1)


@unittest.skipUnless(shutil.which("tmux") or os.environ.get("CI"), "tmux is missing")
class InstallFromTheWindow(window.WindowFixture):
    def test_ctrl_g_asks_before_the_setup_program_runs(self):
        with zipfile.ZipFile(self.archive, "w") as z:
            add(z, "install.sh", SETUP, 0o755)
            add(z, "tool", "#!/bin/sh\necho hi\n", 0o755)
            add(z, "doc/readme", "read me\n")
        prefix = os.path.join(self.dir, ".local")  # the fixture's HOME is its folder
        t = self.start("t.zip")
        t.wait_for("Total 3 files")
        # Answered No first: nothing runs and the window comes back.
        t.keys("C-g")
        t.wait_for("Run ./install.sh? [y/N]")
        t.text("n")
        t.keys("Enter")
        t.wait_for("Press Enter to return to borvan32.")
        self.assertFalse(os.path.exists(prefix))
        t.keys("Enter")
        t.wait_for("Nothing was installed.")
        t.keys("Enter")
        t.keys("C-g")
        t.wait_for("Run ./install.sh? [y/N]")
        t.text("y")
        t.keys("Enter")
        t.wait_for("Press Enter to return to borvan32.")
        t.keys("Enter")
        t.wait_for("The install ended without errors.")
        with open(os.path.join(prefix, "share", "tool", "readme")) as f:
            self.assertEqual(f.read(), "read me\n")
        t.keys("Enter")
        t.keys("C-q")
        t.wait_for(lambda s: t.dead(), timeout=5)


if __name__ == "__main__":
    unittest.main()
