#!/usr/bin/env python3
"""The methods other archivers write, end to end: Deflate64 (9), bzip2 (12), LZMA (14) and zstd
(93) members made by Python's zipfile, 7zz and the zstd program, listed with their method's
name, tested and extracted byte-exact by borvan32; damaged streams and unknown methods end with
a clean error for the member and nothing left on disk."""
import json
import os
import random
import shutil
import struct
import subprocess
import tempfile
import unittest
import zipfile
import zlib

BORVAN32 = os.environ.get("BORVAN32", "borvan32")
HAVE_7ZZ = shutil.which("7zz") is not None
HAVE_ZSTD = shutil.which("zstd") is not None


def run(*args, cwd=None):
    return subprocess.run([BORVAN32, *args], cwd=cwd, capture_output=True, text=True,
                          stdin=subprocess.DEVNULL, timeout=120)


def need(tool, present):
    if not present and not os.environ.get("CI"):
        raise unittest.SkipTest(tool + " missing")


def payload():
    rnd = random.Random(30)
    block = rnd.randbytes(50000)
    return {
        "text.txt": b"the methods other archivers write\n" * 3000,
        # A block seen again 50,000 bytes later: only Deflate64's window reaches that far back,
        # and its matches of more than 258 bytes take length code 285's 16 extra bits.
        "far.bin": block + rnd.randbytes(3000) + block + block,
        "empty": b"",
    }


def hand_zip(members):
    """An archive of (name, method, flags, crc, size, data) members, headers written by hand."""
    out, central = bytearray(), bytearray()
    for name, method, flags, crc, size, data in members:
        offset = len(out)
        out += struct.pack("<IHHHHHIIIHH", 0x04034B50, 63, flags, method, 0, 0x21, crc, len(data),
                           size, len(name), 0) + name + data
        central += struct.pack("<IHHHHHHIIIHHHHHII", 0x02014B50, 63, 63, flags, method, 0, 0x21,
                               crc, len(data), size, len(name), 0, 0, 0, 0, 0, offset) + name
    cd = len(out)
    out += central + struct.pack("<IHHHHIIH", 0x06054B50, 0, 0, len(members), len(members),
                                 len(central), cd, 0)
    return bytes(out)


def raw_members(path):
    """(name, method, flags, crc, size, compressed bytes) of each member of an archive."""
    with open(path, "rb") as f:
        raw = f.read()
    result = []
    with zipfile.ZipFile(path) as z:
        for info in z.infolist():
            at = info.header_offset
            n, x = struct.unpack("<HH", raw[at + 26:at + 30])
            start = at + 30 + n + x
            result.append((info.filename.encode(), info.compress_type, info.flag_bits & ~8,
                           info.CRC, info.file_size, raw[start:start + info.compress_size]))
    return result


class Fixture(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="zip_methods_")
        self.addCleanup(shutil.rmtree, self.dir, True)

    def path(self, *parts):
        return os.path.join(self.dir, *parts)

    def files(self):
        src = self.path("src")
        os.makedirs(src, exist_ok=True)
        for name, data in payload().items():
            with open(os.path.join(src, name), "wb") as f:
                f.write(data)
        return src

    def python_archive(self, label, method):
        path = self.path(label + ".zip")
        with zipfile.ZipFile(path, "w", method) as z:
            for name, data in payload().items():
                z.writestr(name, data)
        return path

    def seven_zip_archive(self, label, method):
        path = self.path(label + ".zip")
        r = subprocess.run(["7zz", "a", "-tzip", "-mm=" + method, path, *payload()],
                           cwd=self.files(), capture_output=True, text=True)
        self.assertEqual(r.returncode, 0, r.stdout + r.stderr)
        return path

    def zstd_archive(self, label):
        """zstd frames from the zstd program, in headers written by hand."""
        src = self.files()
        members = []
        for name, data in payload().items():
            frame = subprocess.run(["zstd", "-q", "-c", "-19", os.path.join(src, name)],
                                   capture_output=True, check=True).stdout
            members.append((name.encode(), 93, 0, zlib.crc32(data), len(data), frame))
        path = self.path(label + ".zip")
        with open(path, "wb") as f:
            f.write(hand_zip(members))
        return path

    def methods_listed(self, archive):
        r = run("-l", "--json", archive)
        self.assertEqual(r.returncode, 0, r.stdout + r.stderr)
        return {m["name"]: m["method"] for m in json.loads(r.stdout)["members"]}


class PeerMembers(Fixture):
    def test_members_of_each_method_list_test_and_extract(self):
        cases = [("zipfile_bzip2", "bzip2", lambda: self.python_archive("pb", zipfile.ZIP_BZIP2)),
                 ("zipfile_lzma", "lzma", lambda: self.python_archive("pl", zipfile.ZIP_LZMA))]
        if HAVE_7ZZ or os.environ.get("CI"):
            cases += [("7zz_deflate64", "deflate64",
                       lambda: self.seven_zip_archive("sd", "Deflate64")),
                      ("7zz_bzip2", "bzip2", lambda: self.seven_zip_archive("sb", "BZip2")),
                      ("7zz_lzma", "lzma", lambda: self.seven_zip_archive("sl", "LZMA"))]
        if HAVE_ZSTD or os.environ.get("CI"):
            cases.append(("zstd_by_hand", "zstd", lambda: self.zstd_archive("zs")))
        want = payload()
        for label, method, make in cases:
            with self.subTest(label):
                archive = make()
                listed = self.methods_listed(archive)
                self.assertEqual(set(listed), set(want))
                for name, data in want.items():
                    if data:  # writers store an empty file whatever the method
                        self.assertEqual(listed[name], method, name)
                r = run("-t", archive)
                self.assertEqual(r.returncode, 0, r.stdout + r.stderr)
                out = self.path("out_" + label)
                r = run("-e", archive, out)
                self.assertEqual(r.returncode, 0, r.stdout + r.stderr)
                for name, data in want.items():
                    with open(os.path.join(out, name), "rb") as f:
                        self.assertEqual(f.read(), data, name)


class DamagedMembers(Fixture):
    def sources(self):
        """A healthy raw member of each method."""
        found = {}
        for method, label in ((zipfile.ZIP_BZIP2, "b"), (zipfile.ZIP_LZMA, "l")):
            for m in raw_members(self.python_archive(label, method)):
                if m[0] == b"far.bin":
                    found[method] = m
        if HAVE_7ZZ or os.environ.get("CI"):
            for m in raw_members(self.seven_zip_archive("d", "Deflate64")):
                if m[0] == b"far.bin":
                    found[9] = m
        if HAVE_ZSTD or os.environ.get("CI"):
            for m in raw_members(self.zstd_archive("z")):
                if m[0] == b"far.bin":
                    found[93] = m
        return found

    def test_damaged_streams_are_an_error_for_the_member(self):
        good = (b"first.txt", 0, 0, zlib.crc32(b"ok\n"), 3, b"ok\n")
        for method, (name, _, flags, crc, size, data) in self.sources().items():
            # A stream that cannot be decoded to its declared end leaves nothing; one that
            # decodes whole but fails its CRC is kept, as a deflated one is.
            faults = [
                ("ends early", (name, method, flags, crc, size, data[:len(data) // 2]),
                 "ZIP damaged: file far.bin", False),
                ("bad CRC", (name, method, flags, crc ^ 1, size, data), "Bad CRC", True),
                ("declared shorter than its data", (name, method, flags, crc, size - 1, data),
                 "ZIP damaged: file far.bin", False),
                ("garbage", (name, method, flags, crc, size, bytes(len(data))),
                 "ZIP damaged: file far.bin", False),
            ]
            for label, bad, message, kept in faults:
                with self.subTest(method=method, fault=label):
                    archive = self.path("bad.zip")
                    with open(archive, "wb") as f:
                        f.write(hand_zip([good, bad]))
                    r = run("-t", archive)
                    self.assertNotEqual(r.returncode, 0, r.stdout)
                    self.assertIn(message, r.stdout + r.stderr)
                    out = self.path("out_bad")
                    shutil.rmtree(out, True)
                    r = run("-e", archive, out)
                    self.assertNotEqual(r.returncode, 0, r.stdout)
                    self.assertIn(message, r.stdout + r.stderr)
                    self.assertEqual(os.path.exists(os.path.join(out, "far.bin")), kept)
                    with open(os.path.join(out, "first.txt"), "rb") as f:
                        self.assertEqual(f.read(), b"ok\n")

    def test_hostile_lzma_headers(self):
        """The zip LZMA header is read before anything is decoded."""
        props = bytes([0x5D]) + struct.pack("<I", 0xFFFFFFFF)
        cases = [("properties of 4 bytes", b"\x09\x14\x04\x00" + props[:4], 10,
                  "invalid compressed data"),
                 ("header cut short", b"\x09\x14\x05", 10, "compressed data ends early"),
                 ("lc/lp/pb out of range", b"\x09\x14\x05\x00\xE1" + props[1:], 10,
                  "invalid compressed data"),
                 # A 4 GiB dictionary for a member of 2 GiB: more than any member may take.
                 ("dictionary too large", b"\x09\x14\x05\x00" + props, 2 << 30,
                  "its window is larger than a member may use")]
        for label, data, size, message in cases:
            with self.subTest(label):
                archive = self.path("lzma.zip")
                with open(archive, "wb") as f:
                    f.write(hand_zip([(b"l.bin", 14, 2, 0, size, data)]))
                r = run("-e", archive, self.path("out_l"))
                self.assertNotEqual(r.returncode, 0)
                self.assertIn("ZIP damaged: file l.bin: " + message, r.stdout + r.stderr)
                self.assertFalse(os.path.exists(self.path("out_l", "l.bin")))

    def test_unknown_methods_stay_unknown(self):
        for method in (7, 95, 97, 98, 200):
            with self.subTest(method=method):
                archive = self.path("unknown.zip")
                with open(archive, "wb") as f:
                    f.write(hand_zip([(b"u.bin", method, 0, 0, 4, b"abcd")]))
                r = run("-t", archive)
                self.assertNotEqual(r.returncode, 0)
                self.assertIn("unknown compression", r.stdout + r.stderr)
                r = run("-e", archive, self.path("out_u"))
                self.assertNotEqual(r.returncode, 0)
                self.assertFalse(os.path.exists(self.path("out_u", "u.bin")))


if __name__ == "__main__":
    unittest.main()
