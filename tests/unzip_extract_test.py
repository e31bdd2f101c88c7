#!/usr/bin/env python3
"""borvan32 -l / -t / -e on archives made by independent tools (Python's zipfile, 7-Zip)."""
import io
import os
import random
import struct
import shutil
import subprocess
import sys
import tempfile
import time
import unittest
import zipfile
import zlib

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
        # Into one file, where lines to standard output are written in blocks, the error
        # still comes after the lines of the members before it.
        with open(self.path("both.txt"), "w") as both:
            subprocess.run([BORVAN32, "-t", self.path("crc.zip")], stdout=both, stderr=both,
                           stdin=subprocess.DEVNULL, timeout=120)
        with open(self.path("both.txt")) as both:
            lines = both.read().splitlines()
        bad = [i for i, line in enumerate(lines) if "Bad CRC" in line]
        self.assertEqual(len(bad), 1, lines)
        self.assertEqual(lines[:bad[0]], ["Testing readme.txt", "Testing deep.md", "Testing raw.bin"])

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


def deflate(data):
    c = zlib.compressobj(6, zlib.DEFLATED, -15)
    return c.compress(data) + c.flush()


STREAMED = [("a.txt", b"alpha " * 900, True), ("b.txt", b"beta " * 50, False),
            ("c.txt", b"gamma " * 700, True)]


def streamed_archive(variant, zero):
    """Members flagged as followed by a data descriptor: the descriptor missing ("none"),
    without signature ("plain"), signed, or with 64-bit sizes ("wide"); local sizes given or
    zero. Returns the archive and its members without the directory."""
    body, cd = b"", b""
    for name, data, flagged in STREAMED:
        name = name.encode()
        comp, crc = deflate(data), zlib.crc32(data)
        lz = zero and flagged
        local = struct.pack("<IHHHHHIIIHH", 0x04034b50, 20, 8 if flagged else 0, 8, 0, 0x5021,
                            0 if lz else crc, 0 if lz else len(comp), 0 if lz else len(data),
                            len(name), 0) + name + comp
        if flagged:
            local += {"none": b"", "plain": struct.pack("<III", crc, len(comp), len(data)),
                      "signed": struct.pack("<IIII", 0x08074b50, crc, len(comp), len(data)),
                      "wide": struct.pack("<IIQQ", 0x08074b50, crc, len(comp), len(data))}[variant]
        cd += struct.pack("<IHHHHHHIIIHHHHHII", 0x02014b50, 20, 20, 8 if flagged else 0, 8, 0,
                          0x5021, crc, len(comp), len(data), len(name), 0, 0, 0, 0, 0,
                          len(body)) + name
        body += local
    n = len(STREAMED)
    end = struct.pack("<IHHHHIIH", 0x06054b50, 0, 0, n, n, len(cd), len(body), 0)
    return body + cd + end, body


def set_sizes(data, compressed=None, uncompressed=None, local=True, central=True):
    """Rewrites the sizes of a one-member archive's local and central headers."""
    data = bytearray(data)
    cd = struct.unpack("<I", data[-6:-2])[0] if data[-22:-18] == b"PK\x05\x06" else None
    for at, on in ((14, local), (cd + 16 if cd is not None else None, central)):
        if at is None or not on:
            continue
        if compressed is not None:
            data[at + 4:at + 8] = struct.pack("<I", compressed)
        if uncompressed is not None:
            data[at + 8:at + 12] = struct.pack("<I", uncompressed)
    return bytes(data)


class HardCases(Fixture):
    def write(self, name, data):
        with open(self.path(name), "wb") as f:
            f.write(data)
        return self.path(name)

    def test_streamed_members_are_never_lost(self):
        for variant in ("none", "plain", "signed", "wide"):
            for zero in (False, True):
                with self.subTest(variant=variant, zero=zero):
                    whole, _ = streamed_archive(variant, zero)
                    archive = self.write("s_%s_%d.zip" % (variant, zero), whole)
                    self.assertIsNone(zipfile.ZipFile(archive).testzip())
                    r = run("-t", archive)
                    self.assertEqual(r.returncode, 0, r.stderr)
                    self.assertEqual(r.stdout.splitlines(),
                                     ["Testing a.txt", "Testing b.txt", "Testing c.txt"])
                    out = self.path("o_%s_%d" % (variant, zero))
                    r = run("-e", archive, out)
                    self.assertEqual(r.returncode, 0, r.stderr)
                    for name, data, _ in STREAMED:
                        self.assertEqual(self.read(out, name), data, name)

    def test_missing_archive_and_damaged_directory(self):
        for cmd in ("-l", "-t"):
            r = run(cmd, self.path("missing.zip"))
            self.assertNotEqual(r.returncode, 0)
            self.assertIn("Can't open input file: " + self.path("missing.zip"), r.stderr)
        with zipfile.ZipFile(self.path("three.zip"), "w") as z:
            for n in ("one", "two", "three"):
                z.writestr(n, n)
        data = bytearray(self.read("three.zip"))
        second = data.find(b"PK\x01\x02", data.find(b"PK\x01\x02") + 4)
        data[second] = ord("X")
        r = run("-l", self.write("bad.zip", data))
        self.assertNotEqual(r.returncode, 0)
        self.assertIn("Invalid archive directory.  Running PKZIPFIX may correct this problem",
                      r.stderr)

    def test_declared_sizes(self):
        with zipfile.ZipFile(self.path("big.zip"), "w", zipfile.ZIP_DEFLATED) as z:
            z.writestr("big.bin", bytes(300000))
        with zipfile.ZipFile(self.path("st.zip"), "w") as z:
            z.writestr("st.txt", b"twenty bytes of data")
        cases = [
            ("big.zip", dict(uncompressed=10), "its data is longer than its declared size"),
            ("big.zip", dict(uncompressed=300001), "its data is shorter than its declared size"),
            ("st.zip", dict(uncompressed=10), "its stored size differs from its declared size"),
            ("st.zip", dict(compressed=10), "its stored size differs from its declared size"),
        ]
        for i, (source, sizes, message) in enumerate(cases):
            with self.subTest(case=i):
                archive = self.write("bad%d.zip" % i, set_sizes(self.read(source), **sizes))
                r = run("-t", archive)
                self.assertEqual(r.returncode, 2, r.stderr)
                self.assertIn(message, r.stderr)
                out = self.path("out%d" % i)
                r = run("-e", archive, out)
                self.assertEqual(r.returncode, 2, r.stderr)
                self.assertIn(message, r.stderr)
                self.assertEqual(os.listdir(out) if os.path.isdir(out) else [], [])

    def test_folder_links_leaving_the_target(self):
        with zipfile.ZipFile(self.path("l.zip"), "w") as z:
            z.writestr("out/escaped.txt", b"no")
            z.writestr("in/kept.txt", b"yes")
        os.makedirs(self.path("elsewhere"))
        os.makedirs(self.path("t", "sub"))
        os.symlink(self.path("elsewhere"), self.path("t", "out"))
        os.symlink("sub", self.path("t", "in"))
        r = run("-e", self.path("l.zip"), self.path("t"))
        self.assertEqual(r.returncode, 2, r.stderr)
        self.assertIn("Warning: skipping out/escaped.txt: its folder ", r.stderr)
        self.assertEqual(os.listdir(self.path("elsewhere")), [])
        # A link that stays inside is not written through either.
        self.assertFalse(os.path.exists(self.path("t", "sub", "kept.txt")))
        self.assertIn("Warning: skipping in/kept.txt: its folder ", r.stderr)

    def test_empty_files_beside_attribute_folders(self):
        with zipfile.ZipFile(self.path("f.zip"), "w") as z:
            info = zipfile.ZipInfo("attrfolder")
            info.external_attr = 0x10
            z.writestr(info, b"")
            z.writestr("empty.txt", b"")
            z.writestr("full.txt", b"full")
        r = run("-e", self.path("f.zip"), self.path("f"))
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertEqual(sorted(os.listdir(self.path("f"))), ["empty.txt", "full.txt"])
        self.assertEqual(self.read("f", "empty.txt"), b"")

    def test_long_accented_names(self):
        name = "\u00e9" * 100 + "/" + "\u00e8" * 99 + ".txt"  # 204 characters, 404 bytes
        with zipfile.ZipFile(self.path("u.zip"), "w") as z:
            z.writestr(name, b"accents")
        r = run("-e", self.path("u.zip"), self.path("u"))
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertEqual(self.read("u", name), b"accents")

    def test_preambles(self):
        with zipfile.ZipFile(self.path("plain.zip"), "w", zipfile.ZIP_DEFLATED) as z:
            write_members(z)
        plain = self.read("plain.zip")
        stub = b"#!/bin/sh\nexit 0\n" + bytes(range(256)) * 40
        raw = self.write("raw.zip", stub + plain)  # offsets count from the zip data
        shifted = self.write("shifted.zip", stub)  # offsets count from the file
        with zipfile.ZipFile(shifted, "a") as z, zipfile.ZipFile(self.path("plain.zip")) as p:
            for info in p.infolist():
                z.writestr(info, p.read(info))
        end = plain.rfind(b"PK\x05\x06")
        n, cd_size, cd_off = struct.unpack("<8xHxxII", plain[end:end + 20])
        rec64 = struct.pack("<IQHHIIQQQQ", 0x06064b50, 44, 45, 45, 0, 0, n, n, cd_size, cd_off)
        loc = struct.pack("<IIQI", 0x07064b50, 0, cd_off + cd_size, 1)
        z64 = self.write("z64.zip", stub + plain[:end] + rec64 + loc + plain[end:])
        for archive in (raw, shifted, z64):
            with self.subTest(archive=os.path.basename(archive)):
                self.assertIsNone(zipfile.ZipFile(archive).testzip())
                if HAVE_7ZZ:
                    self.assertEqual(subprocess.run(["7zz", "t", "-tzip", archive], capture_output=True)
                                     .returncode, 0)
                r = run("-l", archive)
                self.assertEqual(r.returncode, 0, r.stderr)
                self.assertEqual(len(r.stdout.splitlines()), len(MEMBERS) + 2)
                r = run("-t", archive)
                self.assertEqual(r.returncode, 0, r.stderr)
                self.assertEqual(r.stdout.count("Testing "), len(MEMBERS))
                out = archive + ".out"
                r = run("-e", archive, out)
                self.assertEqual(r.returncode, 0, r.stderr)
                for name, _, data, _ in MEMBERS:
                    self.assertEqual(self.read(out, name), data, name)


@unittest.skipUnless(HAVE_7ZZ or os.environ.get("CI"), "7zz missing")
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

    @staticmethod
    def rejected_password(archive):
        with zipfile.ZipFile(archive) as z:
            first = min((i for i in z.infolist() if i.flag_bits & 1), key=lambda i: i.header_offset)
            for n in range(256):
                candidate = "wrong%d" % n
                try:
                    z.open(first, pwd=candidate.encode()).close()
                except RuntimeError:  # the check byte does not match
                    return candidate
        raise AssertionError("every candidate password passed the check")

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
        # One wrong password in 256 passes the one-byte check of a member's encryption header
        # and then fails as damaged data; take one that the first encrypted member rejects.
        r = run("-e", "--password=" + self.rejected_password(archive), archive, self.path("bad"))
        self.assertNotEqual(r.returncode, 0)
        self.assertIn("-- the specified password is incorrect", r.stderr)
        self.assertEqual(r.stderr.count("Error:"), 1)  # the first encrypted member ends the run
        r = run("-t", archive)
        self.assertNotEqual(r.returncode, 0)
        self.assertIn("-- the file is encrypted and its password wasn't specified", r.stderr)


if __name__ == "__main__":
    unittest.main(verbosity=1)
