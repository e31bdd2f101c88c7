#!/usr/bin/env python3
"""borvan32 -l / -t / -e on the single-file kinds and tar: files made by gzip, compress, tar
and mscompress at their edge settings, the published KWAJ files, and hostile ones (names with
".." or folders, damaged trailers, truncated data); and the full-screen manager in tmux on a
tar inside gzip, a wrong gzip header CRC and a cut .Z file."""
import io
import os
import shutil
import struct
import subprocess
import sys
import tarfile
import tempfile
import time
import unittest
import zlib

BORVAN32 = os.environ.get("BORVAN32", "borvan32")
SOURCE_DIR = os.environ.get("SOURCE_DIR", os.path.join(os.path.dirname(__file__), ".."))
TESTDATA = os.environ.get("TESTDATA", os.path.join(SOURCE_DIR, "..", "shared", "testdata"))
KWAJ = os.path.join(TESTDATA, "kwaj")
sys.path.insert(0, os.path.join(SOURCE_DIR, "platform", "tui", "demo"))
from tmux_harness import Tmux  # noqa: E402


def run(*args, cwd=None):
    return subprocess.run([BORVAN32, *args], capture_output=True, cwd=cwd,
                          stdin=subprocess.DEVNULL, timeout=120)


def need(tool):
    """Skips without the tool, but fails when CI is set: a build machine must have it."""
    if shutil.which(tool):
        return
    if os.environ.get("CI"):
        raise AssertionError(tool + " is missing (CI is set)")
    raise unittest.SkipTest(tool + " is missing")


def rows(listing):
    """Names of the listed rows (between the column titles and the total)."""
    lines = listing.decode().splitlines()
    return [line.split("\t")[0] for line in lines[1:-1]]


TEXT = b"".join(b"line %d of a text that repeats itself\n" % (i % 113) for i in range(20000))


class Base(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="single_file_e2e_")
        self.addCleanup(shutil.rmtree, self.dir, True)
        self.out = self.path("out")
        os.mkdir(self.out)

    def path(self, *names):
        return os.path.join(self.dir, *names)

    def write(self, name, data):
        with open(self.path(name), "wb") as f:
            f.write(data)
        return self.path(name)

    def read(self, *names):
        with open(self.path(*names), "rb") as f:
            return f.read()


class Gzip(Base):
    def test_levels_names_and_members(self):
        need("gzip")
        src = self.write("doc.txt", TEXT)
        cases = []
        for level in ("-1", "-9"):
            packed = self.path("doc%s.txt.gz" % level)
            with open(packed, "wb") as f:
                subprocess.run(["gzip", level, "-c", src], stdout=f, check=True)
            cases.append((packed, "doc.txt", TEXT))  # the stored name wins
        bare = self.path("bare.txt.gz")  # no stored name: derived from the file's name
        with open(bare, "wb") as f:
            subprocess.run(["gzip", "-n", "-c", src], stdout=f, check=True)
        cases.append((bare, "bare.txt", TEXT))
        joined = self.write("joined.txt.gz", self.read("doc-1.txt.gz") + self.read("bare.txt.gz"))
        cases.append((joined, "doc.txt", TEXT + TEXT))  # every member in turn
        for packed, name, content in cases:
            with self.subTest(packed=os.path.basename(packed)):
                r = run("-l", packed)
                self.assertEqual(r.returncode, 0, r.stderr)
                self.assertEqual(rows(r.stdout), [name])
                self.assertEqual(run("-t", packed).returncode, 0)
                r = run("-e", "-o", packed, self.out)
                self.assertEqual(r.returncode, 0, r.stderr)
                self.assertEqual(self.read("out", name), content)

    def test_name_question_headless(self):
        need("gzip")
        self.write("report", TEXT)
        subprocess.run(["gzip", "-n", self.path("report")], check=True)
        packed = self.path("report.gz")
        r = run("-t", packed)  # a test needs no name: nothing is asked
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertNotIn(b"Please enter", r.stdout + r.stderr)
        # Nobody to answer: the name gzip gives the file, and the output says so.
        for args in (["-e"], ["-e", "--yes"]):
            with self.subTest(args=args):
                shutil.rmtree(self.out)
                r = run(*args, packed, self.out)
                self.assertEqual(r.returncode, 0, r.stderr)
                self.assertIn(b"Please enter the full name of the file contained within the "
                              b"archive report.gz.", r.stderr)
                self.assertIn(b"(answered report)", r.stderr)
                self.assertEqual(os.listdir(self.out), ["report"])
                self.assertEqual(self.read("out", "report"), TEXT)

    def test_hostile_names_and_damage(self):
        need("gzip")
        src = self.write("x.txt", TEXT)
        good = subprocess.run(["gzip", "-n", "-c", src], capture_output=True, check=True).stdout
        # A stored name with folders and "..": only its last part is created, in the target.
        evil = bytearray(good[:10])
        evil[3] |= 0x08
        evil += b"../../escaped.txt\0" + good[10:]
        self.write("evil.gz", bytes(evil))
        r = run("-e", "evil.gz", "out", cwd=self.dir)
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertEqual(os.listdir(self.out), ["escaped.txt"])
        self.assertFalse(os.path.exists(os.path.join(self.dir, "..", "escaped.txt")))
        damaged = bytearray(good)
        damaged[-8] ^= 0xFF  # the trailer's CRC
        self.write("damaged.txt.gz", bytes(damaged))
        self.assertNotEqual(run("-t", self.path("damaged.txt.gz")).returncode, 0)
        self.write("cut.txt.gz", good[: len(good) // 2])
        self.assertNotEqual(run("-t", self.path("cut.txt.gz")).returncode, 0)
        for flags, message in [(0x20, b"Cannot open encrypted gzip file"),
                               (0x02, b"corrupted input -- header CRC"),  # data taken as CRC
                               (0x40, b"Cannot open gzip file with reserved bytes")]:
            with self.subTest(flags=flags):
                bad = bytearray(good)
                bad[3] = flags
                self.write("bad.txt.gz", bytes(bad))
                r = run("-l", self.path("bad.txt.gz"))
                self.assertNotEqual(r.returncode, 0)
                self.assertIn(message, r.stderr)

    def test_header_crc_in_every_path(self):
        body = zlib.compressobj(9, zlib.DEFLATED, -15)
        deflated = body.compress(TEXT) + body.flush()
        trailer = struct.pack("<II", zlib.crc32(TEXT), len(TEXT))

        def member(name, crc_delta=0):
            head = b"\x1f\x8b\x08\x0a" + struct.pack("<I", 1700000000) + b"\x00\x03"
            head += name + b"\0"
            head += struct.pack("<H", (zlib.crc32(head) + crc_delta) & 0xFFFF)
            return head + deflated + trailer

        self.write("good.gz", member(b"inner.txt"))
        self.write("bad.gz", member(b"inner.txt", 1))
        self.write("second.gz", member(b"inner.txt") + member(b"inner.txt", 1))
        need("gzip")  # the peer reads the header CRC, and refuses a wrong one
        self.assertEqual(subprocess.run(["gzip", "-t", self.path("good.gz")]).returncode, 0)
        self.assertNotEqual(subprocess.run(["gzip", "-t", self.path("bad.gz")],
                                           capture_output=True).returncode, 0)
        r = run("-l", self.path("good.gz"))
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertEqual(rows(r.stdout), ["inner.txt"])
        self.assertEqual(run("-t", self.path("good.gz")).returncode, 0)
        r = run("-e", self.path("good.gz"), self.out)
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertEqual(self.read("out", "inner.txt"), TEXT)
        shutil.rmtree(self.out)
        for name, args, message in [
                ("bad.gz", ["-l"], b"corrupted input -- header CRC"),
                ("bad.gz", ["-t"], b"corrupted input -- header CRC"),
                ("second.gz", ["-t"], b"Damaged gzip file inner.txt: Bad header CRC"),
                ("second.gz", ["-e"], b"Damaged gzip file inner.txt: Bad header CRC")]:
            with self.subTest(name=name, args=args):
                r = run(*args, self.path(name), *([self.out] if args == ["-e"] else []))
                self.assertNotEqual(r.returncode, 0)
                self.assertIn(message, r.stderr)
                self.assertFalse(os.path.exists(self.path("out", "inner.txt")))

    def test_tar_inside_in_one_step(self):
        need("gzip")
        need("compress")
        tree = self.path("tree")
        os.makedirs(os.path.join(tree, "sub"))
        with open(os.path.join(tree, "a.txt"), "wb") as f:
            f.write(b"alpha\n")
        with open(os.path.join(tree, "sub", "b.txt"), "wb") as f:
            f.write(TEXT)
        plain = self.path("plain.tar")
        subprocess.run(["tar", "-cf", plain, "-C", tree, "a.txt", "sub/b.txt"], check=True)
        made = []
        for name, tool in [("t1.tar.gz", ["gzip", "-c"]), ("t2.tgz", ["gzip", "-n", "-c"]),
                           ("t3.tar.Z", ["compress", "-c"]), ("t4.taz", ["compress", "-c"])]:
            with open(self.path(name), "wb") as f:
                subprocess.run(tool + [plain], stdout=f, check=True)
            made.append(name)
        # A stored name ending in ".tar" counts as well as the archive's own name.
        with open(self.path("stored.gz"), "wb") as f:
            subprocess.run(["gzip", "-N", "-c", plain], stdout=f, check=True)
        made.append("stored.gz")
        # python's tarfile stores the archive's own name ("t5.tgz") in the gzip header.
        with tarfile.open(self.path("t5.tgz"), "w:gz") as t:
            t.add(os.path.join(tree, "a.txt"), "a.txt")
            t.add(os.path.join(tree, "sub", "b.txt"), "sub/b.txt")
        made.append("t5.tgz")
        for name in made:
            with self.subTest(archive=name):
                r = run("-l", self.path(name))
                self.assertEqual(r.returncode, 0, r.stderr)
                self.assertEqual(rows(r.stdout), ["a.txt", "b.txt"])
                r = run("-t", self.path(name))
                self.assertEqual(r.returncode, 0, r.stderr)
                self.assertIn(b"Testing b.txt", r.stdout)
                out = self.path("out", name)
                r = run("-e", self.path(name), out)
                self.assertEqual(r.returncode, 0, r.stderr)
                self.assertEqual(self.read("out", name, "a.txt"), b"alpha\n")
                self.assertEqual(self.read("out", name, "sub", "b.txt"), TEXT)
                self.assertFalse(os.path.exists(os.path.join(out, "plain.tar")))
        # Damage inside is found before anything is taken as the tar.
        damaged = bytearray(self.read("t1.tar.gz"))
        damaged[-8] ^= 0xFF
        self.write("damaged.tar.gz", bytes(damaged))
        for args in (["-t"], ["-e"]):
            with self.subTest(damaged=args):
                r = run(*args, self.path("damaged.tar.gz"),
                        *([self.path("out", "damaged")] if args == ["-e"] else []))
                self.assertNotEqual(r.returncode, 0)
                self.assertIn(b"Bad CRC", r.stderr)
                self.assertFalse(os.path.exists(self.path("out", "damaged", "a.txt")))
        # A ".tar.gz" that holds no tar stays one compressed file.
        self.write("notar.tar", TEXT)
        with open(self.path("notar.tar.gz"), "wb") as f:
            subprocess.run(["gzip", "-n", "-c", self.path("notar.tar")], stdout=f, check=True)
        r = run("-l", self.path("notar.tar.gz"))
        self.assertEqual(rows(r.stdout), ["notar.tar"], r.stderr)


class UnixCompress(Base):
    def test_every_width(self):
        need("compress")
        src = self.write("data.txt", TEXT + os.urandom(50000) + TEXT)
        # Not 9: ncompress's own -b9 output does not read back with compress -d or gzip -d.
        for bits in range(10, 17):
            with self.subTest(bits=bits):
                packed = self.path("data.txt.Z")
                with open(packed, "wb") as f:
                    subprocess.run(["compress", "-b%d" % bits, "-c", src], stdout=f, check=True)
                r = run("-l", packed)
                self.assertEqual(rows(r.stdout), ["data.txt"], r.stderr)
                r = run("-e", "-o", packed, self.out)
                self.assertEqual(r.returncode, 0, r.stderr)
                self.assertEqual(self.read("out", "data.txt"), self.read("data.txt"))

    def test_truncated_file_fails_without_output(self):
        need("compress")
        src = self.write("data.txt", TEXT)
        packed = subprocess.run(["compress", "-c", src], capture_output=True, check=True).stdout
        # Cuts inside the first (9-bit) codes: 100 and 199 bytes of codes leave 8 bits over.
        for cut in (3 + 100, 3 + 199):
            with self.subTest(cut=cut):
                self.write("cut.txt.Z", packed[:cut])
                for args in (["-t"], ["-e"], ["-e", "-o"]):
                    r = run(*args, self.path("cut.txt.Z"), *([self.out] if "-e" in args else []))
                    self.assertEqual(r.returncode, 2, (args, r.stderr))
                    self.assertIn(b"corrupt input.", r.stderr)
                    self.assertEqual(os.listdir(self.out), [])
        self.write("whole.txt.Z", packed)
        self.assertEqual(run("-t", self.path("whole.txt.Z")).returncode, 0)


class Tar(Base):
    def make(self, name, fmt, members):
        with tarfile.open(self.path(name), "w", format=fmt) as t:
            for member, data, kind in members:
                info = tarfile.TarInfo(member)
                info.mtime = 1700000000
                if kind == "link":
                    info.type = tarfile.SYMTYPE
                    info.linkname = "a.txt"
                    t.addfile(info)
                else:
                    info.size = len(data)
                    t.addfile(info, io.BytesIO(data))
        return self.path(name)

    def test_forms_long_names_and_links(self):
        long_name = "folder/" + "n" * 150 + ".txt"
        members = [("a.txt", b"alpha\n", "file"), ("sub/b.bin", os.urandom(3000), "file"),
                   ("link", b"", "link"), (long_name, TEXT, "file")]
        for fmt, label in [(tarfile.USTAR_FORMAT, "ustar"), (tarfile.GNU_FORMAT, "gnu"),
                           (tarfile.PAX_FORMAT, "pax")]:
            with self.subTest(form=label):
                name = "n" * 150 + ".txt"
                if fmt == tarfile.USTAR_FORMAT:  # ustar names are split at a folder: keep it
                    members_here = members[:3] + [("folder/" + "u" * 90 + ".txt", TEXT, "file")]
                    name = "u" * 90 + ".txt"
                else:
                    members_here = members
                archive = self.make(label + ".tar", fmt, members_here)
                r = run("-l", archive)
                self.assertEqual(r.returncode, 0, r.stderr)
                self.assertEqual(rows(r.stdout), ["a.txt", "b.bin", name])
                self.assertEqual(run("-t", archive).returncode, 0)
                out = self.path("out", label)
                r = run("-e", archive, out)
                self.assertEqual(r.returncode, 0, r.stderr)
                self.assertEqual(self.read("out", label, "a.txt"), b"alpha\n")
                self.assertEqual(self.read("out", label, "folder", name), TEXT)
                self.assertFalse(os.path.lexists(os.path.join(out, "link")))  # no file

    def test_volume_label_and_pax_times(self):
        need("tar")
        need("bsdtar")
        files = self.path("files")
        os.mkdir(files)
        times = {"old.txt": -315619200, "future.txt": 10413792000, "now.txt": 1700000000}
        for name, when in times.items():
            with open(os.path.join(files, name), "wb") as f:
                f.write(name.encode() * 3)
            os.utime(os.path.join(files, name), (when, when))
        names = sorted(times)
        archives = {"label.tar": ["tar", "-V", "Backup 1", "-cf"],
                    "gnupax.tar": ["tar", "--format=pax", "-cf"],
                    "gnu.tar": ["tar", "--format=gnu", "-cf"],  # base-256 times
                    "bsdpax.tar": ["bsdtar", "--format=pax", "-cf"]}
        for name, command in archives.items():
            subprocess.run(command + [self.path(name), "-C", files] + names, check=True)
        with tarfile.open(self.path("pypax.tar"), "w", format=tarfile.PAX_FORMAT) as t:
            for member in names:
                info = tarfile.TarInfo(member)
                info.mtime = times[member] + 0.5
                data = member.encode() * 3
                info.size = len(data)
                t.addfile(info, io.BytesIO(data))
        # The pax time stands in for a header time that does not parse.
        data = bytearray(self.read("pypax.tar"))
        self.assertEqual(data[1024 + 156], ord("0"))  # the first member's own header
        data[1024 + 136:1024 + 148] = b"x" * 11 + b"\0"
        self.write("badfield.tar", bytes(data))
        for name in list(archives) + ["pypax.tar", "badfield.tar"]:
            with self.subTest(archive=name):
                r = run("-l", "--sort=name", self.path(name))
                self.assertEqual(r.returncode, 0, r.stderr)
                self.assertEqual(rows(r.stdout), ["future.txt", "now.txt", "old.txt"])
                self.assertEqual(run("-t", self.path(name)).returncode, 0)
                out = self.path("out", name)
                r = run("-e", self.path(name), out)
                self.assertEqual(r.returncode, 0, r.stderr)
                for member in names:
                    self.assertEqual(self.read("out", name, member), member.encode() * 3)
                    self.assertEqual(int(os.stat(os.path.join(out, member)).st_mtime),
                                     times[member], member)

    def test_hostile_and_damaged(self):
        archive = self.make("evil.tar", tarfile.USTAR_FORMAT,
                            [("../escaped.txt", b"x", "file"), ("/abs.txt", b"y", "file"),
                             ("ok.txt", b"fine", "file")])
        run("-e", archive, self.out)
        self.assertFalse(os.path.exists(self.path("escaped.txt")))
        self.assertFalse(os.path.exists("/abs.txt"))
        self.assertEqual(self.read("out", "ok.txt"), b"fine")
        data = bytearray(self.read("evil.tar"))
        data[512 * 2 + 124] = ord("9")  # the second header's size does not parse
        self.write("bad.tar", bytes(data))
        r = run("-l", self.path("bad.tar"))
        self.assertNotEqual(r.returncode, 0)
        self.assertIn(b"Error reading header after processing 1 entries", r.stderr)
        self.write("empty.tar", bytes(1024))
        r = run("-l", self.path("empty.tar"))
        self.assertIn(b"Invalid archive directory", r.stderr)

    def test_cannot_be_changed(self):
        archive = self.make("keep.tar", tarfile.USTAR_FORMAT, [("a.txt", b"a", "file")])
        before = self.read("keep.tar")
        self.write("new.txt", b"new")
        for args in (["-a", archive, "new.txt"], ["-d", archive, "a.txt"]):
            with self.subTest(args=args[0]):
                r = run(*args, cwd=self.dir)
                self.assertNotEqual(r.returncode, 0)
                self.assertIn(b"is a tar archive; this kind cannot be changed", r.stderr)
        self.assertEqual(self.read("keep.tar"), before)


class MsCompress(Base):
    def test_szdd_from_mscompress(self):
        need("mscompress")
        for name, content in [("notes.txt", TEXT), ("noise.bin", os.urandom(40000)),
                              ("empty.dat", b"")]:
            with self.subTest(name=name):
                self.write(name, content)
                subprocess.run(["mscompress", name], cwd=self.dir, check=True,
                               capture_output=True)
                packed = self.path(name + "_")
                r = run("-l", packed)
                self.assertEqual(r.returncode, 0, r.stderr)
                self.assertEqual(rows(r.stdout), [name])  # asked, answered with the default
                r = run("-e", "--yes", "-o", packed, self.out)
                self.assertEqual(r.returncode, 0, r.stderr)
                self.assertEqual(self.read("out", name), content)

    @unittest.skipUnless(os.path.isdir(KWAJ) or os.environ.get("CI"), "no KWAJ files")
    def test_published_kwaj(self):
        for file, name in [("f00.kwj", "f00.kwj"), ("f03.kwj", "f03.123"),
                           ("f83.kwj", "12345678.123"), ("f94.kwj", "12345678.123")]:
            with self.subTest(file=file):
                r = run("-l", os.path.join(KWAJ, file))
                self.assertEqual(r.returncode, 0, r.stderr)
                self.assertEqual(rows(r.stdout), [name])
                out = self.path("out", file)
                r = run("-e", os.path.join(KWAJ, file), out)
                self.assertEqual(r.returncode, 0, r.stderr)
                self.assertEqual(self.read("out", file, name), b"\xff")
        r = run("-l", os.path.join(KWAJ, "cve-2018-14681.kwj"))
        self.assertNotEqual(r.returncode, 0)
        self.assertIn(b"Either this file is corrupted or you need a newer version of "
                      b"LZEXPAND.DLL to handle this file", r.stderr)

    @unittest.skipUnless(os.path.isdir(KWAJ) or os.environ.get("CI"), "no KWAJ files")
    def test_every_published_kwaj_with_name_fields(self):
        # Names of up to 8 and extensions of up to 3 characters; a field that fills its
        # width without an end is cut to it; only an extension replaces the file's own.
        for file, name in [("f01.kwj", "f01.1"), ("f04.kwj", "f04.123"), ("f11.kwj", "1.1"),
                           ("f13.kwj", "1.123"), ("f33.kwj", "123.123"),
                           ("f84.kwj", "12345678.123")]:
            with self.subTest(file=file):
                r = run("-l", os.path.join(KWAJ, file))
                self.assertEqual(r.returncode, 0, r.stderr)
                self.assertEqual(rows(r.stdout), [name])
                self.assertEqual(r.stdout.decode().splitlines()[1].split("\t")[3], "1")
                self.assertEqual(run("-t", os.path.join(KWAJ, file)).returncode, 0)
                out = self.path("out", file)
                r = run("-e", os.path.join(KWAJ, file), out)
                self.assertEqual(r.returncode, 0, r.stderr)
                self.assertEqual(os.listdir(out), [name])
                self.assertEqual(self.read("out", file, name), b"\xff")

    def test_header_size_that_disagrees_with_the_data(self):
        need("mscompress")
        content = TEXT[:108894]
        self.write("big.txt", content)
        subprocess.run(["mscompress", "big.txt"], cwd=self.dir, check=True, capture_output=True)
        szdd = bytearray(self.read("big.txt_"))
        stored = bytes(b ^ 0xFF for b in content)
        kwaj_head = b"KWAJ\x88\xf0\x27\xd1" + struct.pack("<HHH", 1, 22, 0x0009)
        cases = []
        for claimed in (5000, 200000):
            szdd[10:14] = struct.pack("<I", claimed)
            cases.append(("s%d.txt_" % claimed, bytes(szdd), "s%d.txt" % claimed))
            kwaj = kwaj_head + struct.pack("<I", claimed) + b"k%d\0" % (claimed // 1000)
            cases.append(("k%d.kwj" % claimed, kwaj.ljust(22, b"\0") + stored,
                          "k%d" % (claimed // 1000)))
        for file, data, name in cases:
            with self.subTest(file=file):
                self.write(file, data)
                r = run("-t", self.path(file))
                self.assertNotEqual(r.returncode, 0)
                self.assertIn(b"Output file size does not match size in header", r.stderr)
                r = run("-e", "-o", self.path(file), self.out)
                self.assertNotEqual(r.returncode, 0)
                self.assertIn(b"Output file size does not match size in header", r.stderr)
                # Nothing is cut away: the file holds all the data there is.
                self.assertEqual(len(self.read("out", name)), len(content))

    def test_kwaj_method_3_passes_through(self):
        packed = self.write("old.kwj", b"KWAJ\x88\xf0\x27\xd1\x03\x00\x12\x00\x01\x00"
                            + (100).to_bytes(4, "little") + b"\0" * 4)
        r = run("-e", packed, self.out)
        self.assertIn(b"File not expanded: you need a more recent version of LZEXPAND.DLL "
                      b"for this file", r.stdout + r.stderr)


class Window(unittest.TestCase):
    """The full-screen manager in tmux reads these kinds through the same listing and engine
    as the headless forms."""
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
        self.t = Tmux([BORVAN32] + list(args), cols=100, rows=30, env=env)
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
