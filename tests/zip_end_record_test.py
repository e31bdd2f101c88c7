#!/usr/bin/env python3
"""The zip end record wherever a writer leaves it: behind a comment of up to 65,535 bytes,
followed by the padding bsdtar writes to a pipe, or followed by a comment that holds a fake end
record. borvan32 lists, tests and extracts each archive byte for byte."""
import os
import random
import shutil
import struct
import subprocess
import tempfile
import unittest
import zipfile

BORVAN32 = os.environ.get("BORVAN32", "borvan32")
HAVE_BSDTAR = shutil.which("bsdtar") is not None

FILES = {
    "readme.txt": b"the end record is found\n" * 200,
    "data/noise.bin": bytes(random.Random(7).getrandbits(8) for _ in range(40000)),
    "empty.txt": b"",
}


def run(*args, cwd=None):
    return subprocess.run([BORVAN32, *args], cwd=cwd, capture_output=True, text=True,
                          stdin=subprocess.DEVNULL, timeout=120)


def need(tool, present):
    if not present and not os.environ.get("CI"):
        raise unittest.SkipTest(tool + " missing")


def fake_end_record(entries=0, size=0, offset=0):
    return b"PK\x05\x06" + struct.pack("<HHHHIIH", 0, 0, entries, entries, size, offset, 0)


class EndRecordTest(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="end_record_")
        self.addCleanup(shutil.rmtree, self.dir, True)
        self.src = os.path.join(self.dir, "src")
        for name, data in FILES.items():
            path = os.path.join(self.src, name)
            os.makedirs(os.path.dirname(path), exist_ok=True)
            with open(path, "wb") as f:
                f.write(data)

    def python_zip(self, name, comment, trailer=b""):
        path = os.path.join(self.dir, name)
        with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED) as z:
            for member, data in FILES.items():
                z.writestr(member, data)
            z.comment = comment
        with open(path, "ab") as f:
            f.write(trailer)
        return path

    def bsdtar_zip_through_pipe(self, name):
        need("bsdtar", HAVE_BSDTAR)
        path = os.path.join(self.dir, name)
        with open(path, "wb") as out:
            tar = subprocess.Popen(["bsdtar", "--format", "zip", "-cf", "-", *sorted(FILES)],
                                   cwd=self.src, stdout=subprocess.PIPE)
            cat = subprocess.run(["cat"], stdin=tar.stdout, stdout=out, timeout=60)
            tar.stdout.close()
            self.assertEqual(tar.wait(timeout=60), 0)
            self.assertEqual(cat.returncode, 0)
        # A pipe is written in whole blocks: the end record is far from the file's end.
        with open(path, "rb") as f:
            data = f.read()
        self.assertGreater(len(data) - data.rfind(b"PK\x05\x06"), 5120)
        return path

    def check_archive(self, path):
        listed = run("-l", path)
        self.assertEqual(listed.returncode, 0, listed.stdout + listed.stderr)
        for name in FILES:
            self.assertIn(os.path.basename(name), listed.stdout)
        tested = run("-t", path)
        self.assertEqual(tested.returncode, 0, tested.stdout + tested.stderr)
        target = os.path.join(self.dir, "out_" + os.path.basename(path))
        extracted = run("-e", path, target)
        self.assertEqual(extracted.returncode, 0, extracted.stdout + extracted.stderr)
        for name, data in FILES.items():
            with open(os.path.join(target, name), "rb") as f:
                self.assertEqual(f.read(), data, name)

    def test_archives_whose_end_record_lies_far_from_the_end(self):
        # The last flag: Python's zipfile reads the archive too (it takes a fake record in a
        # comment for the real one, so it is no oracle there).
        cases = [
            ("comment of 60,000 bytes", lambda: self.python_zip("c60000.zip", b"c" * 60000),
             True),
            ("comment of 65,535 bytes", lambda: self.python_zip("cmax.zip", b"m" * 65535), True),
            ("comment ending in a fake end record",
             lambda: self.python_zip("fake_last.zip", b"see " + fake_end_record()), False),
            ("fake end record claiming members, then text",
             lambda: self.python_zip("fake_members.zip",
                                     b"x" * 3000 + fake_end_record(2, 92, 10) + b"y" * 40),
             False),
            ("comment and padding behind it",
             lambda: self.python_zip("padded.zip", b"note", bytes(20000)), True),
            ("bsdtar written to a pipe", lambda: self.bsdtar_zip_through_pipe("piped.zip"), True),
        ]
        for what, make, python_reads in cases:
            with self.subTest(what):
                path = make()
                if python_reads:
                    self.assertEqual(len(zipfile.ZipFile(path).namelist()), len(FILES))
                self.check_archive(path)

    def test_comment_is_shown_whole(self):
        comment = b"A long comment. " * 3750  # 60,000 bytes
        path = self.python_zip("shown.zip", comment)
        listed = run("-l", "--json", path)
        self.assertEqual(listed.returncode, 0, listed.stderr)
        self.assertIn("A long comment. " * 100, listed.stdout)

    def test_end_record_beyond_the_longest_comment_is_not_an_archive(self):
        path = self.python_zip("far.zip", b"", b"z" * (65535 + 23))
        listed = run("-l", path)
        self.assertNotEqual(listed.returncode, 0)
        self.assertIn("does not appear to be a valid archive", listed.stdout + listed.stderr)


if __name__ == "__main__":
    unittest.main()
