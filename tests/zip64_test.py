#!/usr/bin/env python3
"""ZIP64 archives end to end: archives with 64-bit records made by Python's zipfile and bsdtar
listed, tested, extracted and updated by borvan32; archives borvan32 writes with more than
65,535 members read back by zipfile, 7zz and bsdtar; hostile 64-bit fields refused cleanly.
LONG_TESTS=1 adds a member over 4 GiB written by borvan32 and checked by zipfile and 7zz."""
import io
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import time
import unittest
import zipfile
import zlib

BORVAN32 = os.environ.get("BORVAN32", "borvan32")
HAVE_BSDTAR = shutil.which("bsdtar") is not None
HAVE_7ZZ = shutil.which("7zz") is not None


def run(*args, cwd=None, timeout=300):
    return subprocess.run([BORVAN32, *args], cwd=cwd, capture_output=True, text=True,
                          stdin=subprocess.DEVNULL, timeout=timeout)


def need(tool, present):
    if not present and not os.environ.get("CI"):
        raise unittest.SkipTest(tool + " missing")


class Unseekable(io.RawIOBase):
    """A sink zipfile cannot seek in: it streams members with data descriptors."""

    def __init__(self):
        super().__init__()
        self.data = bytearray()

    def writable(self):
        return True

    def write(self, b):
        self.data += b
        return len(b)


def zip64_block(*values):
    body = b"".join(struct.pack("<Q", v) for v in values)
    return struct.pack("<HH", 1, len(body)) + body


def hand_zip(members, end64=None, end_count=None, locator_at=None):
    """A stored-member archive with the headers given. Each member is a dict: name, data,
    and optionally csize/usize/offset (32-bit fields) and local_extra/central_extra. end64
    adds a 64-bit end record with these overrides (count, size, offset); end_count replaces
    the end record's 16-bit count; locator_at replaces the offset the locator names."""
    out = bytearray()
    central = bytearray()
    for m in members:
        data = m["data"]
        crc = zlib.crc32(data)
        offset = len(out)
        lx = m.get("local_extra", b"")
        cs, us = m.get("csize", len(data)), m.get("usize", len(data))
        out += struct.pack("<IHHHHHIIIHH", 0x04034B50, 45, 0, 0, 0, 0x21, crc,
                           m.get("local_csize", cs), m.get("local_usize", us),
                           len(m["name"]), len(lx)) + m["name"] + lx + data
        cx = m.get("central_extra", b"")
        central += struct.pack("<IHHHHHHIIIHHHHHII", 0x02014B50, 45, 45, 0, 0, 0, 0x21, crc, cs,
                               us, len(m["name"]), len(cx), 0, 0, 0, 0,
                               m.get("offset", offset)) + m["name"] + cx
    cd_offset = len(out)
    out += central
    count = len(members)
    if end64 is not None:
        at = len(out)
        out += struct.pack("<IQHHIIQQQQ", 0x06064B50, 44, 45, 45, 0, 0,
                           end64.get("count", count), end64.get("count", count),
                           end64.get("size", len(central)), end64.get("offset", cd_offset))
        out += struct.pack("<IIQI", 0x07064B50, 0, at if locator_at is None else locator_at, 1)
        cd32 = 0xFFFFFFFF
    else:
        cd32 = cd_offset
    n = count if end_count is None else end_count
    out += struct.pack("<IHHHHIIH", 0x06054B50, 0, 0, n, n, len(central), cd32, 0)
    return bytes(out)


class Fixture(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="zip64_")
        self.addCleanup(shutil.rmtree, self.dir, True)

    def path(self, *parts):
        return os.path.join(self.dir, *parts)

    def write(self, name, data):
        with open(self.path(name), "wb") as f:
            f.write(data)
        return self.path(name)

    def assert_ok(self, r):
        self.assertEqual(r.returncode, 0, (r.stdout + r.stderr)[-2000:])

    def extract_and_compare(self, archive, expected):
        out = self.path("out_" + os.path.basename(archive))
        self.assert_ok(run("-t", archive))
        self.assert_ok(run("-e", archive, out))
        for name, data in expected.items():
            with open(os.path.join(out, name), "rb") as f:
                self.assertEqual(f.read(), data, name)

    def listed_sizes(self, archive):
        r = run("-l", archive)
        self.assert_ok(r)
        rows = {}
        for line in r.stdout.splitlines()[1:]:
            cols = line.split("\t")
            if len(cols) >= 6:
                rows[cols[0]] = int(cols[3].replace(",", ""))
        return rows


PAYLOAD = {"a.txt": b"hello zip64\n" * 3000, "b.bin": bytes(range(256)) * 40, "c.txt": b"c"}


def python_archive(path, streamed, method=zipfile.ZIP_DEFLATED):
    sink = Unseekable() if streamed else open(path, "wb")
    with zipfile.ZipFile(sink, "w", method) as z:
        for name, data in PAYLOAD.items():
            with z.open(name, "w", force_zip64=True) as f:
                f.write(data)
    if streamed:
        with open(path, "wb") as f:
            f.write(sink.data)
    else:
        sink.close()


class PeerArchives(Fixture):
    def test_zip64_archives_from_peers_list_test_and_extract(self):
        """Each maker's ZIP64 form: 64-bit local fields, 24-byte descriptors, end records."""
        makers = [("zipfile_seekable", lambda p: python_archive(p, False)),
                  ("zipfile_streamed", lambda p: python_archive(p, True)),
                  ("zipfile_stored_streamed",
                   lambda p: python_archive(p, True, zipfile.ZIP_STORED))]
        if HAVE_BSDTAR or os.environ.get("CI"):
            makers.append(("bsdtar_streamed", self.bsdtar_streamed))
        for label, make in makers:
            with self.subTest(label):
                archive = self.path(label + ".zip")
                make(archive)
                self.assertEqual(self.listed_sizes(archive),
                                 {k: len(v) for k, v in PAYLOAD.items()})
                self.extract_and_compare(archive, PAYLOAD)

    def bsdtar_streamed(self, archive):
        src = self.path("bsd_src")
        os.makedirs(src, exist_ok=True)
        for name, data in PAYLOAD.items():
            with open(os.path.join(src, name), "wb") as f:
                f.write(data)
        # Written to a pipe: every member is streamed, with 64-bit descriptors; -b 1 keeps the
        # block padding after the end record short.
        p = subprocess.run("bsdtar --format zip --options zip:zip64 -b 1 -cf - %s | cat > %s"
                           % (" ".join(PAYLOAD), archive), shell=True, cwd=src)
        self.assertEqual(p.returncode, 0)
        with open(archive, "rb") as f:
            self.assertIn(b"PK\x06\x06", f.read())

    def test_update_delete_and_freshen_keep_zip64_archives_whole(self):
        new = self.write("new.txt", b"added later\n")
        cases = [("add", ["-a"], [new], {**PAYLOAD, "new.txt": b"added later\n"}),
                 ("delete", ["-d"], ["b.bin"], {k: v for k, v in PAYLOAD.items() if k != "b.bin"}),
                 ("freshen", ["-f"], ["c.txt"], {**PAYLOAD, "c.txt": b"fresh"})]
        for streamed in (False, True):
            for label, switch, names, want in cases:
                with self.subTest(label, streamed=streamed):
                    archive = self.path("%s_%d.zip" % (label, streamed))
                    python_archive(archive, streamed)
                    if label == "freshen":
                        c = self.write("c.txt", b"fresh")
                        later = time.time() + 10
                        os.utime(c, (later, later))
                    r = run(*switch, archive, *names, cwd=self.dir)
                    self.assert_ok(r)
                    with zipfile.ZipFile(archive) as z:
                        self.assertIsNone(z.testzip())
                        self.assertEqual({n: z.read(n) for n in z.namelist()}, want)
                    if HAVE_7ZZ:
                        t = subprocess.run(["7zz", "t", archive], capture_output=True, text=True)
                        self.assertEqual(t.returncode, 0, t.stdout)
                    self.extract_and_compare(archive, want)

    def test_small_archives_carry_no_64_bit_records(self):
        for name, data in PAYLOAD.items():
            self.write(name, data)
        archive = self.path("small.zip")
        self.assert_ok(run("-a", archive, *PAYLOAD, cwd=self.dir))
        with open(archive, "rb") as f:
            raw = f.read()
        self.assertNotIn(b"PK\x06\x06", raw)
        self.assertNotIn(b"PK\x06\x07", raw)
        with zipfile.ZipFile(archive) as z:
            for info in z.infolist():
                self.assertLessEqual(info.extract_version, 20, info.filename)
                self.assertNotIn(b"\x01\x00", info.extra[:2], info.filename)


class ManyMembers(Fixture):
    COUNT = 65537

    def test_more_than_65535_members_both_ways(self):
        """zipfile's archive read by borvan32; borvan32's rewrite of it read by the peers."""
        archive = self.path("many.zip")
        made = io.BytesIO()  # one write instead of two per member
        with zipfile.ZipFile(made, "w") as z:
            for i in range(self.COUNT):
                z.writestr("m/%05d" % i, b"%d" % i)
        self.write("many.zip", made.getvalue())
        r = run("-l", archive)
        self.assert_ok(r)
        self.assertEqual(r.stdout.splitlines()[-1].split(",")[0], "Total %d files" % self.COUNT)
        # Deleting one member makes borvan32 write all the others: 65,536 of them, which the
        # 16-bit count of the end record cannot hold.
        self.assert_ok(run("-d", archive, "m/00007"))
        with open(archive, "rb") as f:
            f.seek(-22, os.SEEK_END)
            self.assertEqual(struct.unpack("<H", f.read(22)[10:12])[0], 0xFFFF)
        with zipfile.ZipFile(archive) as z:
            names = z.namelist()
            self.assertEqual(len(names), self.COUNT - 1)
            self.assertNotIn("m/00007", names)
            self.assertEqual(z.read("m/65536"), b"65536")
        if HAVE_7ZZ or os.environ.get("CI"):
            t = subprocess.run(["7zz", "t", archive], capture_output=True, text=True)
            self.assertEqual(t.returncode, 0, t.stdout[-500:])
            self.assertIn("Files: %d" % (self.COUNT - 1), t.stdout)
        if HAVE_BSDTAR or os.environ.get("CI"):
            t = subprocess.run(["bsdtar", "-tf", archive], capture_output=True, text=True)
            self.assertEqual(t.returncode, 0, t.stderr)
            self.assertEqual(len(t.stdout.splitlines()), self.COUNT - 1)


class HostileFields(Fixture):
    def test_contradicting_or_short_64_bit_fields_are_refused_cleanly(self):
        good = {"name": b"good.txt", "data": b"fine\n"}
        wide = dict(good, csize=0xFFFFFFFF, usize=0xFFFFFFFF,
                    central_extra=zip64_block(5, 5), local_extra=zip64_block(5, 5),
                    local_csize=0xFFFFFFFF, local_usize=0xFFFFFFFF)
        # Whole-archive faults: nothing can be trusted, nothing is extracted.
        archive_faults = [
            ("end count contradicts the 64-bit one", hand_zip([good], end64={"count": 1},
                                                              end_count=3)),
            ("locator names no record", hand_zip([good], end64={}, locator_at=3)),
            ("64-bit field too short", hand_zip([dict(wide, central_extra=zip64_block(5))])),
            ("directory past the records", hand_zip([good], end64={"offset": 1 << 40})),
        ]
        for label, data in archive_faults:
            with self.subTest(label):
                archive = self.write("bad.zip", data)
                out = self.path("out_bad")
                for args in (["-l", archive], ["-t", archive], ["-e", archive, out]):
                    r = run(*args)
                    self.assertNotEqual(r.returncode, 0, label + ": " + r.stdout)
                self.assertFalse(os.path.exists(os.path.join(out, "good.txt")), label)
        # Member faults: the error names the member, which leaves nothing behind; the member
        # before it is extracted whole.
        member_faults = [
            ("size past the end of the archive",
             dict(wide, name=b"big.txt", central_extra=zip64_block(5, 1 << 40),
                  local_extra=zip64_block(5, 1 << 40))),
            ("local 64-bit sizes differ from the central ones",
             dict(wide, name=b"big.txt", local_extra=zip64_block(5, 6))),
        ]
        for label, bad in member_faults:
            with self.subTest(label):
                archive = self.write("member.zip", hand_zip([good, bad], end64={}))
                out = self.path("out_member")
                shutil.rmtree(out, True)
                r = run("-e", archive, out)
                self.assertNotEqual(r.returncode, 0, label)
                self.assertIn("big.txt", r.stdout + r.stderr)
                self.assertFalse(os.path.exists(os.path.join(out, "big.txt")), label)
                with open(os.path.join(out, "good.txt"), "rb") as f:
                    self.assertEqual(f.read(), b"fine\n")
                self.assertNotEqual(run("-t", archive).returncode, 0, label)

    def test_hand_made_64_bit_fields_are_honoured(self):
        """Every field that may defer to the 0x0001 block, in the documented order."""
        data = b"sixty-four\n"
        n = len(data)
        m = {"name": b"w.txt", "data": data, "csize": 0xFFFFFFFF, "usize": 0xFFFFFFFF,
             "offset": 0xFFFFFFFF, "central_extra": zip64_block(n, n, 0), "local_csize": n,
             "local_usize": n}
        archive = self.write("w.zip", hand_zip([m], end64={}))
        with zipfile.ZipFile(archive) as z:
            self.assertEqual(z.read("w.txt"), data)  # the peer agrees it is well formed
        self.assertEqual(self.listed_sizes(archive), {"w.txt": n})
        self.extract_and_compare(archive, {"w.txt": data})


@unittest.skipUnless(os.environ.get("LONG_TESTS"), "LONG_TESTS=1 runs the 4 GiB member")
class OverFourGiB(Fixture):
    SIZE = (4 << 30) + 12345

    def test_member_over_4_gib_written_and_checked_by_peers(self):
        big = self.path("big.bin")
        with open(big, "wb") as f:  # zeros, sparse on disk, deflated fast
            f.truncate(self.SIZE)
        small = self.write("small.txt", b"after the big one\n")
        archive = self.path("big.zip")
        started = time.time()
        self.assert_ok(run("-a", archive, "big.bin", "small.txt", cwd=self.dir, timeout=3600))
        print("\nwrite: %.0f s" % (time.time() - started), file=sys.stderr)
        os.unlink(big)
        with zipfile.ZipFile(archive) as z:
            info = z.getinfo("big.bin")
            self.assertEqual(info.file_size, self.SIZE)
            self.assertEqual(z.read("small.txt"), b"after the big one\n")
            crc, total = 0, 0
            with z.open("big.bin") as f:
                while chunk := f.read(1 << 22):
                    crc = zlib.crc32(chunk, crc)
                    total += len(chunk)
            self.assertEqual((total, crc), (self.SIZE, info.CRC))
        if HAVE_7ZZ or os.environ.get("CI"):
            t = subprocess.run(["7zz", "t", archive], capture_output=True, text=True)
            self.assertEqual(t.returncode, 0, t.stdout)
        if shutil.which("bsdtar") or os.environ.get("CI"):
            # bsdtar reads the member whole (its CRC checked) and counts what it got.
            with subprocess.Popen(["bsdtar", "-xOf", archive, "big.bin"],
                                  stdout=subprocess.PIPE) as p:
                total = 0
                while chunk := p.stdout.read(1 << 22):
                    total += len(chunk)
            self.assertEqual((p.returncode, total), (0, self.SIZE))
        self.assertEqual(self.listed_sizes(archive)["big.bin"], self.SIZE)
        started = time.time()
        self.assert_ok(run("-t", archive, timeout=3600))
        print("test: %.0f s" % (time.time() - started), file=sys.stderr)


if __name__ == "__main__":
    unittest.main()
