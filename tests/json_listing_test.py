#!/usr/bin/env python3
"""`borvan32 -l --json` end to end: the document read back with python's json module and
compared with what zipfile, tarfile, gzip and the ARJ, ARC and LZH headers say; names that are
not UTF-8 or hold a line feed; encrypted members and folders; --sort; and errors, which leave
standard output empty with the exit status of the column listing."""
import datetime
import gzip
import io
import json
import os
import re
import shutil
import struct
import subprocess
import tarfile
import tempfile
import unittest
import zipfile
import zlib

BORVAN32 = os.environ.get("BORVAN32", "borvan32")
TESTDATA = os.environ.get("TESTDATA", os.path.join(os.path.dirname(__file__), "..", "..",
                                                   "shared", "testdata"))


def need(tool):
    """Skips without the tool, but fails when CI is set: a build machine must have it."""
    if shutil.which(tool):
        return
    if os.environ.get("CI"):
        raise AssertionError(tool + " is missing (CI is set)")
    raise unittest.SkipTest(tool + " is missing")


def utc(seconds):
    return datetime.datetime.fromtimestamp(seconds, datetime.timezone.utc).strftime(
        "%Y-%m-%dT%H:%M:%SZ")


def crc16(data):
    crc = 0
    for b in data:
        crc ^= b
        for _ in range(8):
            crc = (crc >> 1) ^ 0xA001 if crc & 1 else crc >> 1
    return crc


def lzh_level0(name, data, attribute=0x20):
    """One stored (-lh0-) member with a level 0 header (MS-DOS time 2010-06-15 12:30:20)."""
    h = b"-lh0-" + struct.pack("<IIIBB", len(data), len(data), 0x3CCF63CA, attribute, 0)
    h += bytes([len(name)]) + name + struct.pack("<H", crc16(data))
    return bytes([len(h), sum(h) & 0xFF]) + h + data


class JsonListing(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="json_listing_e2e_")
        self.addCleanup(shutil.rmtree, self.dir, True)
        config = self.path("config")
        os.makedirs(os.path.join(config, "borvan32"))
        self.env = dict(os.environ, XDG_CONFIG_HOME=config, TMPDIR=self.path())

    def path(self, *names):
        return os.path.join(self.dir, *names)

    def write(self, name, data):
        os.makedirs(os.path.dirname(self.path(name)), exist_ok=True)
        with open(self.path(name), "wb") as f:
            f.write(data)
        return self.path(name)

    def read(self, path):
        with open(path, "rb") as f:
            return f.read()

    def run_borvan(self, *args):
        return subprocess.run([BORVAN32, *args], capture_output=True, cwd=self.dir,
                              stdin=subprocess.DEVNULL, timeout=120, env=self.env)

    def listing(self, archive, *switches):
        """The JSON document, checked for what every document must hold."""
        r = self.run_borvan("-l", "--json", *switches, archive)
        self.assertEqual(r.returncode, 0, r.stderr)
        doc = json.loads(r.stdout)
        about = doc["archive"]
        self.assertEqual(about["path"], archive)
        self.assertTrue(about["complete"])
        self.assertEqual(about["file_size"], os.path.getsize(archive))
        members = doc["members"]
        self.assertEqual(about["member_count"], len(members))
        self.assertEqual(about["folder_count"], sum(m["folder"] for m in members))
        # Only members carry "name" (the shell completion picks names by that key).
        self.assertNotIn("name", about)
        self.assertEqual(len(re.findall(rb'"name": *"', r.stdout)), len(members))
        for m in members:
            # The escape round-trips: the name's bytes are the stored bytes, or their
            # conversion from the OEM code page.
            raw = bytes.fromhex(m["raw_name"])
            name = m["name"].encode("utf-8", "surrogateescape")
            slashes = raw.replace(b"\\", b"/")
            self.assertIn(name, (slashes, slashes.replace(b"\xff", b"/"),  # LZH separators
                                 raw.decode("cp437").encode()), m)
        return doc

    def by_name(self, doc):
        return {m["name"]: m for m in doc["members"]}

    def test_zip_members_match_zipfile(self):
        path = self.path("t.zip")
        with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED) as z:
            z.comment = b"the comment"
            z.writestr("dir/", b"")
            z.writestr(zipfile.ZipInfo("dir/pa1.txt", (2019, 5, 6, 7, 8, 10)), b"a" * 5000)
            z.writestr(zipfile.ZipInfo("line\nfeed.txt", (2001, 2, 3, 4, 5, 6)), b"lf")
            z.writestr(zipfile.ZipInfo("cafX.txt", (2002, 12, 31, 23, 59, 58)), b"cp437")
            z.writestr("na\u00efve \u20ac.txt", b"utf-8 flagged")
            z.writestr(zipfile.ZipInfo("secret.bin"), b"garbled", zipfile.ZIP_STORED)
        data = bytearray(self.read(path))
        # A name in the OEM code page: 0x82 is e-acute, and no UTF-8 flag is set.
        data = data.replace(b"cafX.txt", b"caf\x82.txt")
        # An encrypted member: flag bit 0 in its local and central headers.
        for sig, at in ((b"PK\x03\x04", 6), (b"PK\x01\x02", 8)):
            pos = data.find(sig)
            while pos >= 0:
                name_at = pos + (30 if at == 6 else 46)
                if data[name_at:name_at + 10] == b"secret.bin":
                    data[pos + at] |= 1
                pos = data.find(sig, pos + 4)
        with open(path, "wb") as f:
            f.write(data)
        doc = self.listing(path)
        got = self.by_name(doc)
        with zipfile.ZipFile(path) as z:
            infos = z.infolist()
            self.assertEqual(doc["archive"]["comment"], z.comment.decode())
        self.assertEqual(doc["archive"]["kind"], "zip")
        self.assertEqual(sorted(got), sorted(i.filename for i in infos))
        self.assertIn("caf\u00e9.txt", got)
        self.assertEqual(got["caf\u00e9.txt"]["raw_name"], b"caf\x82.txt".hex())
        self.assertIn("line\nfeed.txt", got)
        self.assertIn(b'"line\\nfeed.txt"', self.run_borvan("-l", "--json", path).stdout)
        for i in infos:
            m = got[i.filename]
            with self.subTest(name=i.filename):
                self.assertEqual(m["size"], i.file_size)
                self.assertEqual(m["packed"], i.compress_size)
                self.assertEqual(m["crc32"], "%08x" % i.CRC)
                self.assertEqual(m["modified"], "%04d-%02d-%02dT%02d:%02d:%02d" % i.date_time)
                self.assertEqual(m["method"],
                                 {zipfile.ZIP_STORED: "stored",
                                  zipfile.ZIP_DEFLATED: "deflated"}[i.compress_type])
                self.assertEqual(m["encrypted"], bool(i.flag_bits & 1))
                self.assertEqual(m["folder"], i.is_dir())
                self.assertEqual(m["attributes"], i.external_attr & 0xFF)
                self.assertEqual(m["mode"], "%04o" % (i.external_attr >> 16 & 0o7777))
        self.assertTrue(got["secret.bin"]["encrypted"])
        self.assertTrue(got["dir/"]["folder"])
        files = [m for m in doc["members"] if not m["folder"]]
        self.assertEqual(doc["archive"]["file_count"], len(files))
        self.assertEqual(doc["archive"]["size"], sum(m["size"] for m in files))
        self.assertEqual(doc["archive"]["packed"], sum(m["packed"] for m in files))

    def make_tar(self, mode, name):
        path = self.path(name)
        with tarfile.open(path, mode, format=tarfile.GNU_FORMAT,
                          encoding="utf-8", errors="surrogateescape") as t:
            def add(member, data=None):
                t.addfile(member, None if data is None else io.BytesIO(data))
            folder = tarfile.TarInfo("sub")
            folder.type, folder.mode, folder.mtime = tarfile.DIRTYPE, 0o750, 1600000001
            add(folder)
            for member_name, data, when in (("sub/one.txt", b"1" * 700, 1234567891),
                                            ("bad\udcff\udc82.txt", b"latin", 1500000000),
                                            ("new\nline", b"lf", 1700000003)):
                info = tarfile.TarInfo(member_name)
                info.size, info.mtime, info.mode = len(data), when, 0o640
                add(info, data)
            link = tarfile.TarInfo("link")
            link.type, link.linkname = tarfile.SYMTYPE, "sub/one.txt"
            add(link)
        return path

    def test_tar_kinds_match_tarfile(self):
        kinds = [("w", "t.tar", "tar"), ("w:gz", "t.tar.gz", "tar+gzip")]
        if shutil.which("compress"):
            kinds.append((None, "t.tar.Z", "tar+compress"))
        elif os.environ.get("CI"):
            raise AssertionError("compress is missing (CI is set)")
        for mode, name, kind in kinds:
            with self.subTest(kind=kind):
                if mode:
                    path = self.make_tar(mode, name)
                else:
                    plain = self.make_tar("w", "plain.tar")
                    with open(self.path(name), "wb") as out:
                        subprocess.run(["compress", "-c", plain], stdout=out, check=True)
                    path = self.path(name)
                doc = self.listing(path)
                self.assertEqual(doc["archive"]["kind"], kind)
                got = self.by_name(doc)
                with tarfile.open(self.path("plain.tar" if not mode else name),
                                  encoding="utf-8", errors="surrogateescape") as t:
                    infos = [i for i in t.getmembers() if i.isfile() or i.isdir()]
                expected = [i.name + ("/" if i.isdir() else "") for i in infos]
                self.assertEqual([m["name"] for m in doc["members"]], expected)
                self.assertEqual(got["bad\udcff\udc82.txt"]["raw_name"],
                                 b"bad\xff\x82.txt".hex())
                for i in infos:
                    m = got[i.name + ("/" if i.isdir() else "")]
                    self.assertEqual(m["modified"], utc(i.mtime))
                    self.assertEqual(m["size"], i.size)
                    self.assertEqual(m["mode"], "%04o" % i.mode)
                    self.assertEqual(m["folder"], i.isdir())
                    self.assertIsNone(m["crc32"])

    def test_single_file_kinds(self):
        data = b"single file data\n" * 30
        with open(self.path("note.txt.gz"), "wb") as raw:
            with gzip.GzipFile("note.txt", "wb", fileobj=raw, mtime=1600000123) as g:
                g.write(data)
        doc = self.listing(self.path("note.txt.gz"))
        self.assertEqual(doc["archive"]["kind"], "gzip")
        [m] = doc["members"]
        self.assertEqual((m["name"], m["size"], m["method"], m["modified"]),
                         ("note.txt", None, "deflated", utc(1600000123)))
        self.assertIsNone(doc["archive"]["size"])
        cases = [("compress", ["compress", "-c"], "a.txt.Z", "compress", "lzw", None),
                 ("mscompress", ["mscompress"], "a.txt_", "szdd", "lzss", len(data))]
        for tool, command, made, kind, method, size in cases:
            with self.subTest(kind=kind):
                need(tool)
                self.write("a.txt", data)
                if kind == "szdd":
                    subprocess.run(command + ["a.txt"], cwd=self.dir, check=True,
                                   capture_output=True)
                else:
                    with open(self.path(made), "wb") as out:
                        subprocess.run(command + ["a.txt"], cwd=self.dir, stdout=out, check=True)
                doc = self.listing(self.path(made))
                self.assertEqual(doc["archive"]["kind"], kind)
                [m] = doc["members"]
                self.assertEqual((m["name"], m["method"], m["size"]), ("a.txt", method, size))
                self.assertEqual(m["packed"], os.path.getsize(self.path(made)))
        kwaj = os.path.join(TESTDATA, "kwaj", "f00.kwj")
        if os.path.exists(kwaj):
            doc = self.listing(kwaj)
            self.assertEqual(doc["archive"]["kind"], "kwaj")

    def test_program_kinds(self):
        one, two = b"first member\n" * 50, os.urandom(3000)
        self.write("src/one.txt", one)
        self.write("src/sub/two.bin", two)
        os.utime(self.path("src/one.txt"), (1600000000, 1600000000))
        lzh = self.write("t.lzh", lzh_level0(b"LZH\\A.TXT", one) + lzh_level0(b"B.BIN", two) +
                         b"\x00")
        doc = self.listing(lzh)
        self.assertEqual(doc["archive"]["kind"], "lzh")
        self.assertEqual([(m["name"], m["size"], m["crc16"], m["method"], m["modified"],
                           m["attributes"]) for m in doc["members"]],
                         [("LZH/A.TXT", len(one), "%04x" % crc16(one), "-lh0-",
                           "2010-06-15T12:30:20", 0x20),
                          ("B.BIN", len(two), "%04x" % crc16(two), "-lh0-",
                           "2010-06-15T12:30:20", 0x20)])
        self.assertEqual(doc["members"][0]["raw_name"], b"LZH\\A.TXT".hex())
        subdir = os.path.join(TESTDATA, "lzh", "lha_unix114i", "h2_subdir.lzh")
        if os.path.exists(subdir):
            doc = self.listing(subdir)
            self.assertEqual([(m["name"], m["folder"]) for m in doc["members"]],
                             [("subdir/", True), ("subdir/subdir2/", True),
                              ("subdir/subdir2/hello.txt", False)])
        need("arj")
        subprocess.run(["arj", "a", "-r", "-y", "../t.arj", "one.txt", "sub"],
                       cwd=self.path("src"), check=True, capture_output=True)
        doc = self.listing(self.path("t.arj"))
        self.assertEqual(doc["archive"]["kind"], "arj")
        got = self.by_name(doc)
        self.assertEqual(sorted(got), ["one.txt", "sub/two.bin"])
        for name, data in (("one.txt", one), ("sub/two.bin", two)):
            self.assertEqual(got[name]["size"], len(data))
            self.assertEqual(got[name]["crc32"], "%08x" % zlib.crc32(data))
        self.assertEqual(got["one.txt"]["modified"], utc(1600000000))
        need("arc")
        subprocess.run(["arc", "a", "../t.arc", "one.txt"], cwd=self.path("src"), check=True,
                       capture_output=True)
        doc = self.listing(self.path("t.arc"))
        [m] = doc["members"]
        self.assertEqual((doc["archive"]["kind"], m["name"], m["size"], m["crc16"]),
                         ("arc", "one.txt", len(one), "%04x" % crc16(one)))

    def test_sort_orders_the_members_as_the_columns(self):
        path = self.path("s.zip")
        with zipfile.ZipFile(path, "w") as z:
            for name, size, when in (("b/zz.txt", 10, (2020, 1, 1, 0, 0, 0)),
                                     ("aa.doc", 300, (2021, 1, 1, 0, 0, 0)),
                                     ("mm.bin", 20, (2019, 1, 1, 0, 0, 0))):
                z.writestr(zipfile.ZipInfo(name, when), b"x" * size)
        for order, expected in (("name", ["aa.doc", "mm.bin", "b/zz.txt"]),
                                ("size", ["aa.doc", "mm.bin", "b/zz.txt"]),
                                ("date", ["aa.doc", "b/zz.txt", "mm.bin"]),
                                ("original", ["b/zz.txt", "aa.doc", "mm.bin"])):
            with self.subTest(order=order):
                doc = self.listing(path, "--sort=" + order)
                self.assertEqual([m["name"] for m in doc["members"]], expected)
                columns = self.run_borvan("-l", "--sort=" + order, path).stdout.decode()
                rows = [line.split("\t") for line in columns.splitlines()[1:-1]]
                self.assertEqual([(r[6] + "/" if r[6] else "") + r[0] for r in rows], expected)

    def test_errors_put_nothing_on_standard_output(self):
        good = self.path("g.zip")
        with zipfile.ZipFile(good, "w") as z:
            z.writestr("a.txt", b"a" * 100)
        data = self.read(good)
        broken = self.write("broken.zip", data[:40] + data[60:])
        self.write("junk.zip", b"not an archive at all" * 10)
        for archive in ("missing.zip", "junk.zip", broken):
            with self.subTest(archive=archive):
                columns = self.run_borvan("-l", archive)
                r = self.run_borvan("-l", "--json", archive)
                self.assertNotEqual(r.returncode, 0)
                self.assertEqual((r.returncode, r.stderr), (columns.returncode, columns.stderr))
                self.assertEqual(r.stdout, b"")
        r = self.run_borvan("-t", "--json", good)
        self.assertEqual(r.returncode, 2)
        self.assertEqual(r.stdout, b"")

    def test_listing_cut_short_is_a_whole_document_marked_incomplete(self):
        path = self.path("cut.tar")
        with tarfile.open(path, "w", format=tarfile.USTAR_FORMAT) as t:
            for name in ("first.txt", "second.txt"):
                info = tarfile.TarInfo(name)
                info.size = 3
                t.addfile(info, io.BytesIO(b"abc"))
        data = bytearray(self.read(path))
        data[1024 + 124:1024 + 136] = b"zzzzzzzzzzz\0"  # the second header's size
        with open(path, "wb") as f:
            f.write(data)
        columns = self.run_borvan("-l", path)
        r = self.run_borvan("-l", "--json", path)
        self.assertEqual((r.returncode, r.stderr), (columns.returncode, columns.stderr))
        self.assertEqual(r.returncode, 1)
        doc = json.loads(r.stdout)
        self.assertFalse(doc["archive"]["complete"])
        self.assertEqual(doc["archive"]["error"], "Error reading header after processing 1 entries")
        self.assertEqual([m["name"] for m in doc["members"]], ["first.txt"])

    def test_help_names_json(self):
        r = subprocess.run([BORVAN32, "--help"], capture_output=True, timeout=30)
        self.assertIn(b"--json", r.stdout)


if __name__ == "__main__":
    unittest.main()
