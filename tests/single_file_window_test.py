"""The full-screen manager in tmux on the single-file kinds, which it reads through the same
listing and engine as the headless forms: a tar inside gzip listed, tested and extracted as
that tar; a gzip header CRC checked; a Unix-compress file cut short refused."""
import io
import os
import shutil
import subprocess
import sys
import tarfile
import tempfile
import time
import unittest

SOURCE = os.environ.get("SOURCE_DIR", os.path.join(os.path.dirname(__file__), ".."))
sys.path.insert(0, os.path.join(SOURCE, "platform", "tui", "demo"))
from tmux_harness import Tmux, build_dir  # noqa: E402

BORVAN = os.environ.get("BORVAN32") or os.path.join(build_dir(), "archiver", "borvan32")
TEXT = b"".join(b"line %d of a text that repeats itself\n" % (i % 113) for i in range(20000))


def need(tool):
    """Skips without the tool, but fails when CI is set: a build machine must have it."""
    if shutil.which(tool):
        return
    if os.environ.get("CI"):
        raise AssertionError(tool + " is missing (CI is set)")
    raise unittest.SkipTest(tool + " is missing")


class SingleFileWindowTest(unittest.TestCase):
    def setUp(self):
        need("tmux")
        self.tmp = tempfile.TemporaryDirectory()
        self.dir = self.tmp.name
        self.config = os.path.join(self.dir, "config")
        os.makedirs(os.path.join(self.config, "borvan32"))
        self.runtime = os.path.join(self.dir, "run")
        os.makedirs(self.runtime, mode=0o700)
        self.t = None

    def tearDown(self):
        if self.t:
            self.t.close()
        self.tmp.cleanup()

    def path(self, *names):
        return os.path.join(self.dir, *names)

    def start(self, *args):
        env = {"XDG_CONFIG_HOME": self.config, "XDG_RUNTIME_DIR": self.runtime,
               "TMPDIR": self.dir, "LC_ALL": "C.UTF-8", "HOME": self.dir}
        self.t = Tmux([BORVAN] + list(args), cols=100, rows=30, env=env)
        return self.t

    def quit(self):
        self.t.keys("C-q")
        self.t.wait_for(lambda s: self.t.dead(), timeout=20)

    def test_tar_inside_gzip_is_listed_tested_and_extracted_as_the_tar(self):
        with tarfile.open(self.path("pack.tar.gz"), "w:gz") as t:
            for name, data in (("a.txt", b"alpha\n"), ("sub/b.txt", TEXT)):
                info = tarfile.TarInfo(name)
                info.size = len(data)
                info.mtime = 1700000000
                t.addfile(info, io.BytesIO(data))
        t = self.start(self.path("pack.tar.gz"))
        screen = t.wait_for("Total 2 files", timeout=20)
        self.assertIn("a.txt", screen)
        self.assertIn("b.txt", screen)
        t.keys("C-t")
        t.wait_for("ended without errors", timeout=20)
        self.quit()
        # The command line's extraction runs inside the window, on the tar's members.
        target = self.path("out")
        t = self.start("-e", self.path("pack.tar.gz"), target)
        t.wait_for("Total 2 files", timeout=20)
        deadline = time.monotonic() + 20
        want = os.path.join(target, "sub", "b.txt")
        while time.monotonic() < deadline and not (
                os.path.exists(want) and os.path.getsize(want) == len(TEXT)):
            time.sleep(0.05)
        with open(want, "rb") as f:
            self.assertEqual(f.read(), TEXT)
        with open(os.path.join(target, "a.txt"), "rb") as f:
            self.assertEqual(f.read(), b"alpha\n")
        self.quit()

    def test_wrong_gzip_header_crc_and_cut_compress_file_are_refused(self):
        need("gzip")
        need("compress")
        with open(self.path("data.txt"), "wb") as f:
            f.write(TEXT)
        packed = subprocess.run(["gzip", "-n", "-c", self.path("data.txt")],
                                capture_output=True, check=True).stdout
        bad = bytearray(packed[:10]) + b"\0\0" + packed[10:]
        bad[3] |= 0x02  # a header CRC of 0 that cannot match
        with open(self.path("bad.txt.gz"), "wb") as f:
            f.write(bad)
        t = self.start(self.path("bad.txt.gz"))
        t.wait_for("corrupted input -- header CRC", timeout=20)
        t.keys("Enter")
        self.quit()

        z = subprocess.run(["compress", "-c", self.path("data.txt")],
                           capture_output=True, check=True).stdout
        with open(self.path("cut.txt.Z"), "wb") as f:
            f.write(z[:3 + 100])  # 8 bits of a 9-bit code left over
        t = self.start(self.path("cut.txt.Z"))
        t.wait_for("Total 1 file", timeout=20)
        t.keys("C-t")
        t.wait_for("corrupt input.", timeout=20)
        t.keys("Enter")
        t.wait_for(lambda s: "corrupt input." not in s, timeout=20)
        self.quit()


if __name__ == "__main__":
    unittest.main()
