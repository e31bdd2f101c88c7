#!/usr/bin/env python3
"""borvan32 on ARJ, LZH and ARC archives end to end: archives made by the ARJ port and arc
(LZH files written here from the header layout, lhasa only extracts), listed by borvan32's
own readers and extracted through the Debian programs; a failing archiver's exit code as its
message; hostile names refused; and the virus scan with clamscan and a signature made here."""
import os
import shutil
import stat
import struct
import subprocess
import tempfile
import unittest
import zipfile
import zlib

BORVAN32 = os.environ.get("BORVAN32", "borvan32")


def need(tool):
    """Skips without the tool, but fails when CI is set: a build machine must have it."""
    if shutil.which(tool):
        return
    if os.environ.get("CI"):
        raise AssertionError(tool + " is missing (CI is set)")
    raise unittest.SkipTest(tool + " is missing")


def rows(listing):
    """(name, path) of the listed rows (between the column titles and the total)."""
    lines = listing.decode().splitlines()
    return [(line.split("\t")[0], line.split("\t")[6]) for line in lines[1:-1]]


def crc16(data):
    crc = 0
    for b in data:
        crc ^= b
        for _ in range(8):
            crc = (crc >> 1) ^ 0xA001 if crc & 1 else crc >> 1
    return crc


def lzh_level0(name, data):
    """One stored (-lh0-) member with a level 0 header."""
    h = b"-lh0-" + struct.pack("<IIIBB", len(data), len(data), 0x52644A63, 0x20, 0)
    h += bytes([len(name)]) + name + struct.pack("<H", crc16(data))
    return bytes([len(h), sum(h) & 0xFF]) + h + data


def lzh_level2(name, folder, data):
    """One stored member with a level 2 header whose extended headers name it."""
    parts = [b"\x01" + name] + ([b"\x02" + folder] if folder else [])
    sizes = [len(p) + 2 for p in parts] + [0]
    body = b"".join(p + struct.pack("<H", n) for p, n in zip(parts, sizes[1:]))
    h = struct.pack("<H", 26 + len(body)) + b"-lh0-"
    h += struct.pack("<IIIBB", len(data), len(data), 1614849546, 0x20, 2)
    h += struct.pack("<H", crc16(data)) + b"U" + struct.pack("<H", sizes[0])
    return h + body + data


class Base(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="other_formats_e2e_")
        self.addCleanup(shutil.rmtree, self.dir, True)
        self.config = self.path("config")
        os.makedirs(os.path.join(self.config, "borvan32"))
        self.env = dict(os.environ, XDG_CONFIG_HOME=self.config, TMPDIR=self.path())

    def path(self, *names):
        return os.path.join(self.dir, *names)

    def write(self, name, data):
        os.makedirs(os.path.dirname(self.path(name)), exist_ok=True)
        with open(self.path(name), "wb") as f:
            f.write(data)
        return self.path(name)

    def read(self, *names):
        with open(self.path(*names), "rb") as f:
            return f.read()

    def run_borvan(self, *args, cwd=None):
        return subprocess.run([BORVAN32, *args], capture_output=True, cwd=cwd or self.dir,
                              stdin=subprocess.DEVNULL, timeout=120, env=self.env)

    def settings(self, text):
        with open(os.path.join(self.config, "borvan32", "borvan32.ini"), "w") as f:
            f.write(text)

    def leftovers(self):
        """Private scan folders or output captures left in the temporary folder."""
        return [n for n in os.listdir(self.dir) if n.startswith(("borvan-scan.", "bvout", "BVS"))]


class Arj(Base):
    def make(self):
        need("arj")
        self.write("src/one two.txt", b"first member\n" * 50)
        self.write("src/sub/b.bin", os.urandom(3000))
        self.write("src/-r", b"dash")
        subprocess.run(["arj", "a", "-r", "-y", "../t.arj", "one two.txt", "sub", "--", "-r"],
                       cwd=self.path("src"), check=True, capture_output=True)
        return self.path("t.arj")

    def test_listed_and_extracted(self):
        arj = self.make()
        r = self.run_borvan("-l", arj)
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertEqual(sorted(rows(r.stdout)), [("-r", ""), ("b.bin", "sub"),
                                                   ("one two.txt", "")])
        self.assertIn(b"Total 3 files", r.stdout)
        os.mkdir(self.path("out"))
        r = self.run_borvan("-e", arj, "out")
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertEqual(self.read("out", "one two.txt"), self.read("src", "one two.txt"))
        self.assertEqual(self.read("out", "sub", "b.bin"), self.read("src", "sub", "b.bin"))
        self.assertEqual(self.read("out", "-r"), b"dash")
        # Again without -o: ARJ keeps the files and its warning code becomes the message.
        self.write("out/-r", b"mine")
        r = self.run_borvan("-e", arj, "out")
        self.assertEqual(r.returncode, 1)
        self.assertIn(b"Error 1:\nWarning: e.g. file not found, negative answer to prompt",
                      r.stderr)
        self.assertEqual(self.read("out", "-r"), b"mine")
        r = self.run_borvan("-e", "-o", "-j", arj, "flat")
        self.assertEqual(r.returncode, 1)
        self.assertIn(b'Could not find the folder "flat"', r.stderr)
        os.mkdir(self.path("flat"))
        r = self.run_borvan("-e", "-o", "-j", arj, "flat")
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertEqual(sorted(os.listdir(self.path("flat"))), ["-r", "b.bin", "one two.txt"])

    def test_configured_program_and_its_failures(self):
        arj = self.make()
        fake = self.write("bin/fakearj", b"#!/bin/sh\necho 'fake says no'\nexit 6\n")
        os.chmod(fake, 0o755)
        os.mkdir(self.path("out"))
        for program, code, message in (
                # The archiver's own code is named; the status is that of any error.
                (fake, 2, b"Error 6:\nCannot open archive or file"),
                ("", 1, b"ARJ not installed in Options/Program Locations dialog box"),
                ("no-such-arj", 1, b"ARJ not installed in Options/Program Locations dialog box")):
            with self.subTest(program=program):
                self.settings("[Programs]\narj=%s\n" % program)
                r = self.run_borvan("-e", arj, "out")
                self.assertEqual(r.returncode, code, r.stderr)
                self.assertIn(message, r.stderr)
        self.assertEqual(os.listdir(self.path("out")), [])

    def test_damaged_and_hostile(self):
        arj = self.make()
        data = bytearray(self.read("t.arj"))
        cut = self.write("cut.arj", bytes(data[:len(data) // 2]))
        r = self.run_borvan("-l", cut)
        self.assertNotEqual(r.returncode, 0)
        self.assertIn(b"Cannot read file or unexpected end of file", r.stderr)
        data[60] ^= 0xFF  # inside the first file header
        bad = self.write("bad.arj", bytes(data))
        r = self.run_borvan("-e", bad, ".")
        self.assertNotEqual(r.returncode, 0)
        self.assertIn(b"Header CRC error", r.stderr)
        # A member named with "..": the listing shows it, the extraction refuses to start.
        self.write("hsrc/aa/evil.txt", b"evil")
        subprocess.run(["arj", "a", "-y", "../h.arj", "aa/evil.txt"], cwd=self.path("hsrc"),
                       check=True, capture_output=True)
        data = bytearray(self.read("h.arj"))
        start = data.index(b"\x60\xea", 4 + (data[2] | data[3] << 8) + 4)
        size = data[start + 2] | data[start + 3] << 8
        basic = bytes(data[start + 4:start + 4 + size]).replace(b"aa/evil.txt", b"../evil.txt")
        data[start + 4:start + 4 + size] = basic
        data[start + 4 + size:start + 8 + size] = struct.pack("<I", zlib.crc32(basic))
        evil = self.write("evil.arj", bytes(data))
        listing = self.run_borvan("-l", evil)
        self.assertEqual(listing.returncode, 0, listing.stderr)
        self.assertEqual(rows(listing.stdout), [("evil.txt", "..")])
        os.mkdir(self.path("target"))
        r = self.run_borvan("-e", "-o", evil, "target")
        self.assertNotEqual(r.returncode, 0)
        self.assertIn(b"leads out of the target folder (../evil.txt)", r.stderr)
        self.assertEqual(os.listdir(self.path("target")), [])


class Lzh(Base):
    def make(self):
        data = (lzh_level0(b"a.txt", b"hello\n") + lzh_level0(b"DOS\\B.TXT", b"dos path") +
                lzh_level2(b"c d.txt", b"lvl2\xffsub", b"level two") + b"\0")
        return self.write("t.lzh", data)

    def test_listed_and_extracted_with_lhasa(self):
        lzh = self.make()
        r = self.run_borvan("-l", lzh)
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertEqual(rows(r.stdout), [("a.txt", ""), ("B.TXT", "DOS"),
                                          ("c d.txt", "lvl2/sub")])
        need("lha")
        os.mkdir(self.path("out"))
        r = self.run_borvan("-e", lzh, "out")
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertEqual(self.read("out", "a.txt"), b"hello\n")
        self.assertEqual(self.read("out", "lvl2", "sub", "c d.txt"), b"level two")
        # Without -o the existing files stay and are named; the missing one arrives.
        self.write("out/a.txt", b"mine")
        shutil.rmtree(self.path("out", "lvl2"))
        r = self.run_borvan("-e", lzh, "out")
        self.assertEqual(r.returncode, 1)
        self.assertIn(b"files already exists\n", r.stderr)
        kept = r.stderr.decode().split("files already exists\n")[1].split()
        self.assertEqual(sorted(kept), ["a.txt", "dos/b.txt"])
        self.assertEqual(self.read("out", "a.txt"), b"mine")
        self.assertEqual(self.read("out", "lvl2", "sub", "c d.txt"), b"level two")
        r = self.run_borvan("-e", "-o", lzh, "out")
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertEqual(self.read("out", "a.txt"), b"hello\n")
        self.assertEqual(sorted(os.listdir(self.path("out"))), ["a.txt", "dos", "lvl2"])

    def test_climbing_names_refused(self):
        need("lha")
        lzh = self.write("evil.lzh", lzh_level0(b"..\\..\\evil.txt", b"x") + b"\0")
        os.mkdir(self.path("out"))
        r = self.run_borvan("-l", lzh)
        self.assertEqual(r.returncode, 0, r.stderr)
        r = self.run_borvan("-e", "-o", lzh, "out")
        self.assertNotEqual(r.returncode, 0)
        self.assertIn(b"leads out of the target folder (../../evil.txt)", r.stderr)
        self.assertFalse(os.path.exists(self.path("evil.txt")))


class Arc(Base):
    def make(self):
        need("arc")
        self.write("src/a.txt", b"hello hello hello\n" * 40)
        self.write("src/z.bin", bytes(20000))
        subprocess.run(["arc", "a", "../t.arc", "a.txt", "z.bin"], cwd=self.path("src"),
                       check=True, capture_output=True)
        return self.path("t.arc")

    def test_listed_and_extracted_by_each_extractor(self):
        arc = self.make()
        r = self.run_borvan("-l", arc)
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertEqual(rows(r.stdout), [("a.txt", ""), ("z.bin", "")])
        for program in ("nomarch", "arc"):
            with self.subTest(program=program):
                need(program)
                self.settings("[Programs]\narc=%s\n" % program)
                out = self.path("out-" + program)
                os.mkdir(out)
                r = self.run_borvan("-e", "-o", arc, out)
                self.assertEqual(r.returncode, 0, r.stderr)
                self.assertEqual(self.read(out, "a.txt"), self.read("src", "a.txt"))
                self.assertEqual(self.read(out, "z.bin"), bytes(20000))
                # Without -o an existing file stays (arc would otherwise ask forever and
                # nomarch replace it); the new one arrives.
                self.write(os.path.join(out, "a.txt"), b"mine")
                os.remove(os.path.join(out, "z.bin"))
                r = self.run_borvan("-e", arc, out)
                self.assertEqual(r.returncode, 1, r.stderr)
                self.assertIn(b"Error extracting\na.txt", r.stderr)
                self.assertEqual(self.read(out, "a.txt"), b"mine")
                self.assertEqual(self.read(out, "z.bin"), bytes(20000))
                self.assertEqual(sorted(os.listdir(out)), ["a.txt", "z.bin"])

    def test_failing_extractor(self):
        arc = self.make()
        fake = self.write("bin/fakearc", b"#!/bin/sh\necho 'cannot do that'\nexit 3\n")
        os.chmod(fake, 0o755)
        self.settings("[Programs]\narc=%s\n" % fake)
        r = self.run_borvan("-e", arc, ".")
        self.assertEqual(r.returncode, 2)  # an error, whatever code the extractor gave
        self.assertIn(b"Error extracting\ncannot do that", r.stderr)


class VirusScan(Base):
    SIGNATURE = b"borvan-e2e-test-signature"

    def setUp(self):
        super().setUp()
        need("clamscan")
        self.write("sig/test.ndb", b"BorvanE2ESig:0:*:" + self.SIGNATURE.hex().encode() + b"\n")
        self.settings("[Programs]\nscan=clamscan\nscanp=--no-summary -d %s -r %%d\n" %
                      self.path("sig", "test.ndb"))

    def test_planted_signature_found_in_each_kind(self):
        infected = b"xx " + self.SIGNATURE + b" xx"
        archives = []
        with zipfile.ZipFile(self.path("t.zip"), "w", zipfile.ZIP_DEFLATED) as z:
            z.writestr("clean.txt", "clean")
            z.writestr("deep/infected.bin", infected)
        archives.append(("zip", self.path("t.zip")))
        self.write("lzh.lzh", lzh_level0(b"infected.bin", infected) + b"\0")
        if shutil.which("lha"):
            archives.append(("lzh", self.path("lzh.lzh")))
        if shutil.which("arj"):
            self.write("asrc/infected.bin", infected)
            subprocess.run(["arj", "a", "-y", "../t.arj", "infected.bin"],
                           cwd=self.path("asrc"), check=True, capture_output=True)
            archives.append(("arj", self.path("t.arj")))
        for kind, archive in archives:
            with self.subTest(kind=kind):
                r = self.run_borvan("--headless", "/vscan", archive)
                self.assertEqual(r.returncode, 1, r.stdout + r.stderr)
                self.assertIn(b"BorvanE2ESig", r.stdout)
                self.assertIn(b"Virus scanning operation complete.", r.stdout)
                self.assertEqual(self.leftovers(), [])

    def test_clean_archive(self):
        with zipfile.ZipFile(self.path("c.zip"), "w") as z:
            z.writestr("clean.txt", "nothing here")
        r = self.run_borvan("--headless", "/vscan", self.path("c.zip"))
        self.assertEqual(r.returncode, 0, r.stdout + r.stderr)
        self.assertIn(b"Virus scanning operation complete.", r.stdout)
        self.assertEqual(self.leftovers(), [])

    def test_scanner_missing(self):
        with zipfile.ZipFile(self.path("c.zip"), "w") as z:
            z.writestr("clean.txt", "nothing here")
        self.settings("[Programs]\nscan=no-such-scanner\n")
        r = self.run_borvan("--headless", "/vscan", self.path("c.zip"))
        self.assertEqual(r.returncode, 2)
        self.assertIn(b"Virus scanner not installed", r.stderr)


def desktop_exec(value):
    """The arguments of a desktop entry's Exec value: string escapes, then the quoting."""
    text, i = "", 0
    while i < len(value):
        if value[i] == "\\" and i + 1 < len(value):
            text += {"s": " ", "n": "\n", "t": "\t", "r": "\r"}.get(value[i + 1], value[i + 1])
            i += 2
        else:
            text += value[i]
            i += 1
    args, cur, started, quoted, i = [], "", False, False, 0
    while i < len(text):
        c = text[i]
        if c == "%" and text[i + 1:i + 2] == "%":
            cur, started, i = cur + "%", True, i + 2
            continue
        if quoted and c == "\\":
            cur, i = cur + text[i + 1], i + 2
            continue
        if c == '"':
            quoted, started = not quoted, True
        elif c == " " and not quoted:
            if started:
                args.append(cur)
            cur, started = "", False
        else:
            if not quoted:
                assert c not in "\t\n'\\><~|&;$*?#()`", "unquoted %r in %r" % (c, text)
            cur, started = cur + c, True
        i += 1
    if started:
        args.append(cur)
    return args


class CheckOut(Base):
    HOSTILE = ['a"; touch pwned; echo ".txt', "$(touch pwned)`id`%f.txt"]

    def setUp(self):
        super().setUp()
        self.home = self.path("home")
        os.makedirs(os.path.join(self.home, "CheckOut"))
        fake = self.write("bin/xdg-open", b"#!/bin/sh\nexit 0\n")
        os.chmod(fake, 0o755)
        self.env.update(HOME=self.home, XDG_DATA_HOME=os.path.join(self.home, "data"),
                        PATH=self.path("bin") + os.pathsep + os.environ["PATH"])
        self.group = os.path.join(self.home, "data", "applications", "borvan-checkout", "My Group")
        self.folder = os.path.join(self.home, "CheckOut", "t")
        with zipfile.ZipFile(self.path("t.zip"), "w") as z:
            z.writestr("readme.txt", "read me")
            for name in self.HOSTILE:
                z.writestr(name, "hostile")
            z.writestr("data.bin", "data")
            z.writestr("sub/inner.zip", "not really")

    def launchers(self):
        found = {}
        for name in sorted(os.listdir(self.group)):
            with open(os.path.join(self.group, name)) as f:
                keys = dict(line.split("=", 1) for line in f if "=" in line)
            found[keys["Name"].strip()] = desktop_exec(keys["Exec"].rstrip("\n"))
        return found

    def test_group_made_asked_again_and_deleted(self):
        r = self.run_borvan("--checkout=My Group", "t.zip", self.folder + "/")
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertIn(b"4 launchers in", r.stdout)
        launchers = self.launchers()
        self.assertEqual(sorted(launchers), sorted(["readme.txt", "sub/inner.zip"] + self.HOSTILE))
        for name in self.HOSTILE + ["readme.txt"]:
            self.assertEqual(launchers[name], ["xdg-open", os.path.join(self.folder, name)])
        self.assertEqual(launchers["sub/inner.zip"][1:],
                         ["/ni", os.path.join(self.folder, "sub", "inner.zip")])
        self.assertEqual(self.read(self.folder, self.HOSTILE[0]), b"hostile")
        self.assertFalse(os.path.exists(os.path.join(self.folder, "pwned")))
        # Both exist now: the question is refused headless unless --yes answers it.
        r = self.run_borvan("--checkout=My Group", "t.zip", self.folder)
        self.assertEqual(r.returncode, 1)
        self.assertIn(b"Group My Group already exists.  If you continue all icons in this "
                      b"group will be deleted.", r.stderr)
        self.assertIn(b"Do you want to continue? (answered No", r.stderr)
        r = self.run_borvan("--checkout=My Group", "--icons=2", "--yes", "t.zip", self.folder)
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertEqual(len(self.launchers()), 2)
        r = self.run_borvan("--checkout-delete=My Group", self.folder)
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertFalse(os.path.exists(self.group))
        self.assertFalse(os.path.exists(self.folder))
        self.assertTrue(os.path.isdir(os.path.join(self.home, "CheckOut")))

    def test_refused_folders_and_choices(self):
        theirs = os.path.join(self.home, "CheckOut", "theirs")
        os.makedirs(theirs)
        with open(os.path.join(theirs, "precious"), "w") as f:
            f.write("keep")
        invalid = b"Invalid CheckOut folder.  Cannot specify "
        for args, message in (
                (["--checkout=G", "t.zip", "/"], invalid),
                (["--checkout=G", "t.zip", self.home], invalid),
                (["--checkout=G", "t.zip", self.path()], invalid),
                (["--checkout=G", "t.zip", os.path.join(self.home, "CheckOut", "..")],
                 invalid),
                (["--checkout=G", "--icons=51", "t.zip", self.folder], b"Icon maximum is 50"),
                (["--checkout=../G", "t.zip", self.folder], b"Invalid group name"),
                (["--checkout=G", "--yes", "t.zip", theirs], b"was not made by CheckOut"),
                (["--checkout-delete=G", theirs], b"was not made by CheckOut"),
                (["--checkout-delete=G", self.home], invalid)):
            with self.subTest(args=args):
                r = self.run_borvan(*args)
                self.assertEqual(r.returncode, 1, r.stdout)
                self.assertIn(message, r.stderr)
        with open(os.path.join(theirs, "precious")) as f:
            self.assertEqual(f.read(), "keep")

    def test_data_only_archive_makes_no_group(self):
        with zipfile.ZipFile(self.path("d.zip"), "w") as z:
            z.writestr("data.bin", "data")
        r = self.run_borvan("--checkout=My Group", "d.zip", self.folder)
        self.assertEqual(r.returncode, 1)
        self.assertIn(b"No programs, documents, or special files; no icons created", r.stderr)
        self.assertFalse(os.path.exists(self.group))


if __name__ == "__main__":
    unittest.main()
