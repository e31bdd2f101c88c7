#!/usr/bin/env python3
"""borvan32 -l / -t / -e on archives made by independent tools (Python's zipfile, 7-Zip)."""
import io
import os
import random
import shutil
import subprocess
import sys
import tempfile
import time
import unittest
import zipfile

BORVAN32 = os.environ.get("BORVAN32", "borvan32")
HAVE_7ZZ = shutil.which("7zz") is not None


def run(*args, cwd=None):
    return subprocess.run([BORVAN32, *args], cwd=cwd, capture_output=True, text=True,
                          stdin=subprocess.DEVNULL, timeout=120)


class Unseekable:
    """A write-only stream: zipfile then writes data descriptors and zero local sizes."""

    def __init__(self, f):
        self.f = f

    def write(self, b):
        return self.f.write(b)

    def flush(self):
        self.f.flush()


def local_mtime(date_time):
    return time.mktime(tuple(date_time) + (0, 0, -1))


class Fixture(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="unzip_e2e_")
        self.addCleanup(shutil.rmtree, self.dir, True)

    def path(self, *parts):
        return os.path.join(self.dir, *parts)

    def read(self, *parts):
        with open(self.path(*parts), "rb") as f:
            return f.read()


MEMBERS = [
    # name, date_time, data, method
    ("readme.txt", (2021, 3, 4, 5, 6, 8), b"hello archive\n" * 3000, zipfile.ZIP_DEFLATED),
    ("docs/guide/deep.md", (2019, 7, 1, 12, 30, 0), b"# deep\n" * 10, zipfile.ZIP_DEFLATED),
    ("raw.bin", (2000, 2, 29, 23, 59, 58), bytes(random.Random(1).getrandbits(8) for _ in range(70000)),
     zipfile.ZIP_STORED),
    ("empty.txt", (2010, 10, 10, 10, 10, 10), b"", zipfile.ZIP_DEFLATED),
    ("naïve/ümlaut.txt", (2015, 5, 5, 5, 5, 6), b"utf-8 name", zipfile.ZIP_DEFLATED),
]


def write_members(z):
    for name, when, data, method in MEMBERS:
        z.writestr(zipfile.ZipInfo(name, when), data, compress_type=method)
    z.writestr(zipfile.ZipInfo("folder/", (2010, 1, 1, 0, 0, 0)), b"")
    z.comment = b"archive comment"


class PythonArchives(Fixture):
    def make(self):
        with zipfile.ZipFile(self.path("plain.zip"), "w") as z:
            write_members(z)
        with open(self.path("streamed.zip"), "wb") as f:
            with zipfile.ZipFile(Unseekable(f), "w") as z:
                write_members(z)
        with open(self.path("sfx.zip"), "wb") as f:
            f.write(b"MZ" + bytes(5000) + self.read("plain.zip"))
        # A name stored in CP437 (no UTF-8 flag): byte 0x81 is u with diaeresis.
        with zipfile.ZipFile(self.path("cp.zip"), "w") as z:
            z.writestr(zipfile.ZipInfo("XuX.txt", (2011, 1, 1, 1, 1, 2)), b"cp437")
        data = self.read("cp.zip").replace(b"XuX.txt", b"X\x81X.txt")
        with open(self.path("cp437.zip"), "wb") as f:
            f.write(data)

    def check_tree(self, out):
        for name, when, data, _ in MEMBERS:
            target = os.path.join(out, name)
            with open(target, "rb") as f:
                self.assertEqual(f.read(), data, name)
            self.assertEqual(os.stat(target).st_mtime, local_mtime(when), name)
        self.assertFalse(os.path.exists(os.path.join(out, "folder")))

    def test_extract_test_and_list(self):
        self.make()
        for archive in ("plain.zip", "streamed.zip", "sfx.zip"):
            with self.subTest(archive=archive):
                out = self.path("out_" + archive)
                r = run("-e", self.path(archive), out)
                self.assertEqual(r.returncode, 0, r.stderr)
                self.assertIn("Extracting deep.md", r.stdout)
                self.check_tree(out)
                r = run("-t", self.path(archive))
                self.assertEqual(r.returncode, 0, r.stderr)
                self.assertEqual(r.stdout.count("Testing "), len(MEMBERS))
                r = run("-l", self.path(archive))
                self.assertEqual(r.returncode, 0, r.stderr)
                lines = r.stdout.splitlines()
                self.assertEqual(lines[0].split("\t"), ["Name", "Date", "Time", "Size", "Ratio",
                                                        "Packed", "Path"])
                self.assertEqual(lines[1].split("\t")[:4], ["readme.txt", "03/04/21", "05:06",
                                                            "42,000"])
                self.assertEqual(lines[2].split("\t")[-1], "docs/guide")
                self.assertEqual(lines[-1], "Total 5 files, 110KB")

        r = run("-e", self.path("cp437.zip"), self.path("cp"))
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertEqual(self.read("cp", "X\u00fcX.txt"), b"cp437")

    def test_sort_and_extension_and_default_target(self):
        self.make()
        shutil.copy(self.path("plain.zip"), self.path("noext.zip"))
        r = run("-l", "--sort=size", "noext", cwd=self.dir)
        self.assertEqual(r.returncode, 0, r.stderr)
        names = [l.split("\t")[0] for l in r.stdout.splitlines()[1:-1]]
        self.assertEqual(names, ["raw.bin", "readme.txt", "deep.md", "ümlaut.txt", "empty.txt"])
        os.mkdir(self.path("here"))
        r = run("-e", "-j", "../noext", cwd=self.path("here"))
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertEqual(sorted(os.listdir(self.path("here"))),
                         ["deep.md", "empty.txt", "raw.bin", "readme.txt", "ümlaut.txt"])

    def test_overwrite_choices(self):
        self.make()
        out = self.path("o")
        os.makedirs(out)
        with open(os.path.join(out, "readme.txt"), "w") as f:
            f.write("mine")
        r = run("-e", self.path("plain.zip"), out)
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertEqual(self.read("o", "readme.txt"), b"mine")  # headless answers skip
        self.assertIn("readme.txt", r.stderr)
        r = run("-e", "--yes", self.path("plain.zip"), out)
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertEqual(self.read("o", "readme.txt"), MEMBERS[0][2])
        with open(os.path.join(out, "readme.txt"), "w") as f:
            f.write("mine")
        r = run("-e", "-o", self.path("plain.zip"), out)
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertEqual(self.read("o", "readme.txt"), MEMBERS[0][2])

    def test_damage_and_unsafe_names(self):
        self.make()
        data = bytearray(self.read("plain.zip"))
        at = data.find(MEMBERS[2][2][:32])  # inside the stored member
        data[at + 100] ^= 0xFF
        with open(self.path("crc.zip"), "wb") as f:
            f.write(data)
        r = run("-t", self.path("crc.zip"))
        self.assertNotEqual(r.returncode, 0)
        self.assertIn("ZIP damaged: file raw.bin: Bad CRC", r.stderr)

        with zipfile.ZipFile(self.path("evil.zip"), "w") as z:
            for name in ["../up.txt", "/etc-abs.txt", "a/../../up2.txt", "fine.txt"]:
                z.writestr(name, b"x")
        out = self.path("safe")
        r = run("-e", self.path("evil.zip"), out)
        self.assertEqual(r.returncode, 2, r.stderr)  # members were left out
        self.assertEqual(sorted(os.listdir(out)), ["etc-abs.txt", "fine.txt"])
        self.assertFalse(os.path.exists(self.path("up.txt")))
        self.assertIn("../up.txt", r.stderr)

        # A cut archive fails cleanly, wherever it is cut before its comment.
        whole = self.read("plain.zip")
        body = len(whole) - len(b"archive comment")
        for cut in [c for c in range(1, body, max(1, body // 40))] + [body - 1]:
            with open(self.path("cut.zip"), "wb") as f:
                f.write(whole[:cut])
            r = run("-t", self.path("cut.zip"))
            self.assertNotEqual(r.returncode, 0, cut)
            self.assertLess(r.returncode, 128, cut)

    def test_long_names_and_upper_case_extension(self):
        with zipfile.ZipFile(self.path("LONG.ZIP"), "w") as z:
            z.writestr("first.txt", b"1")
            z.writestr("d" * 200 + "/" + "e" * 80, b"too long for a row")
            z.writestr("n" * 400, b"too long for a path")
            z.writestr("last.txt", b"2")
        r = run("-l", self.path("LONG"))  # only the upper-case name exists
        self.assertNotEqual(r.returncode, 0)
        self.assertIn("first.txt", r.stdout)
        self.assertNotIn("last.txt", r.stdout)
        r = run("-e", self.path("LONG"), self.path("out"))
        self.assertEqual(r.returncode, 2, r.stderr)  # the overlong name was left out
        self.assertEqual(sorted(os.listdir(self.path("out"))), ["d" * 200, "first.txt", "last.txt"])
        self.assertEqual(self.read("out", "d" * 200, "e" * 80), b"too long for a row")
        self.assertIn("longer than 303 characters", r.stderr)

    def test_empty_archive(self):
        open(self.path("empty.zip"), "wb").close()
        r = run("-l", self.path("empty.zip"))
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertEqual(r.stdout.splitlines()[-1], "Total 0 files, 0 bytes")
        self.assertEqual(run("-t", self.path("empty.zip")).returncode, 0)
        r = run("-l", self.path("missing.zip"))
        self.assertNotEqual(r.returncode, 0)

    def test_parameter_errors(self):
        for args in (["-e"], ["-l", "-x", "a.zip"], ["-t", "-o", "a.zip"], ["-l", "--sort=bogus", "a"]):
            r = run(*args)
            self.assertEqual(r.returncode, 2, args)
            self.assertIn("Borvan parameter validation error", r.stderr)
        for args in (["--help"], ["--version"]):
            self.assertEqual(run(*args).returncode, 0)


@unittest.skipUnless(HAVE_7ZZ, "7zz missing")
class SevenZipArchives(Fixture):
    def make_sources(self):
        src = self.path("src")
        rng = random.Random(5)
        files = {
            "text.txt": "".join(rng.choice(["alpha ", "beta ", "gamma\n"]) for _ in range(60000)).encode(),
            "sub/random.bin": bytes(rng.getrandbits(8) for _ in range(100000)),
            "sub/deeper/zeros.dat": bytes(300000),
            "tiny.txt": b"t",
        }
        stamp = 1600000000  # even seconds survive the 2-second MS-DOS time
        for rel, data in files.items():
            p = os.path.join(src, rel)
            os.makedirs(os.path.dirname(p), exist_ok=True)
            with open(p, "wb") as f:
                f.write(data)
            os.utime(p, (stamp, stamp))
            stamp += 86400 + 2
        return src, files

    def seven(self, src, archive, *options):
        subprocess.run(["7zz", "a", "-tzip", *options, archive, "."], cwd=src, check=True,
                       capture_output=True, timeout=120)

    def test_levels(self):
        src, files = self.make_sources()
        for level in ("-mx=1", "-mx=5", "-mx=9"):
            with self.subTest(level=level):
                archive = self.path("l%s.zip" % level[-1])
                self.seven(src, archive, level)
                out = self.path("out" + level[-1])
                r = run("-e", archive, out)
                self.assertEqual(r.returncode, 0, r.stderr)
                for rel, data in files.items():
                    self.assertEqual(self.read(out, rel), data, rel)
                    self.assertEqual(os.stat(os.path.join(out, rel)).st_mtime,
                                     os.stat(os.path.join(src, rel)).st_mtime, rel)
                self.assertEqual(run("-t", archive).returncode, 0)

    def test_zipcrypto(self):
        src, files = self.make_sources()
        archive = self.path("enc.zip")
        self.seven(src, archive, "-mem=ZipCrypto", "-pSECRET")
        r = run("-l", archive)
        self.assertIn("text.txt+", r.stdout)
        r = run("-e", "--password=SECRET", archive, self.path("ok"))
        self.assertEqual(r.returncode, 0, r.stderr)
        for rel, data in files.items():
            self.assertEqual(self.read("ok", rel), data, rel)
        r = run("-e", "--password=wrong", archive, self.path("bad"))
        self.assertNotEqual(r.returncode, 0)
        self.assertIn("-- the specified password is incorrect", r.stderr)
        self.assertEqual(r.stderr.count("Error:"), 1)  # the first encrypted member ends the run
        r = run("-t", archive)
        self.assertNotEqual(r.returncode, 0)
        self.assertIn("-- the file is encrypted and its password wasn't specified", r.stderr)


if __name__ == "__main__":
    unittest.main(verbosity=1)
