#!/usr/bin/env python3
"""End-to-end: member names as borvan32 writes, finds and prints them. Names outside ASCII
are written as UTF-8 with flag bit 11 (Python's zipfile, 7-Zip and bsdtar extract them under
their real names); an archive named without an extension is opened as given when that file
exists; a line feed or other control character in a member name is spelt out in every line
of the output, so that one row stays one line, in the headless front end and in the window."""
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
import zipfile
import zlib

SOURCE = os.environ.get("SOURCE_DIR", os.path.join(os.path.dirname(__file__), ".."))
sys.path.insert(0, os.path.join(SOURCE, "platform", "tui", "demo"))
from tmux_harness import Tmux, build_dir  # noqa: E402

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from other_formats_test import lzh_level0, need  # noqa: E402

BORVAN32 = os.environ.get("BORVAN32") or os.path.join(build_dir(), "archiver", "borvan32")
CONTROL = bytes(range(32)) + b"\x7f"


def out_lines(r):
    """Lines of standard output and standard error, checked free of control bytes but TAB."""
    lines = (r.stdout + r.stderr).split(b"\n")
    for line in lines:
        assert not any(c in CONTROL and c != 9 for c in line), line
    return [line.decode() for line in lines if line]


def listed(r):
    """(name, path) of each row of -l, checking every row has exactly the seven columns."""
    lines = r.stdout.decode().split("\n")
    assert lines[0].startswith("Name\t") and lines[-2].startswith("Total "), r.stdout
    rows = [line.split("\t") for line in lines[1:-2]]
    for row in rows:
        assert len(row) == 7, row
    return [(row[0], row[6]) for row in rows]


class Base(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="member_names_")
        self.addCleanup(shutil.rmtree, self.dir, True)
        self.config = self.path("config")
        os.makedirs(os.path.join(self.config, "borvan32"))
        self.env = dict(os.environ, XDG_CONFIG_HOME=self.config, TMPDIR=self.path(),
                        LC_ALL="C.UTF-8")

    def path(self, *names):
        return os.path.join(self.dir, *names)

    def write(self, name, data):
        path = self.path(name)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(data)
        return path

    def run_borvan(self, *args):
        return subprocess.run([BORVAN32, *args], capture_output=True, cwd=self.dir,
                              stdin=subprocess.DEVNULL, timeout=120, env=self.env)


class NamesOutsideAscii(Base):
    NAMES = ["plain.txt", "caf\u00e9.txt", "\u65e5\u672c/\u540d\u524d.txt"]

    def test_written_as_utf8_and_extracted_by_peers_under_their_names(self):
        for i, name in enumerate(self.NAMES):
            self.write(os.path.join("src", name), b"member %d\n" % i)
        r = self.run_borvan("-a", "-r", "-p", "u.zip", "src")
        self.assertEqual(r.returncode, 0, r.stderr)
        archive = self.path("u.zip")
        with zipfile.ZipFile(archive) as z:
            flags = {i.filename: i.flag_bits & 0x800 for i in z.infolist()}
        self.assertEqual(flags, {"src/plain.txt": 0, "src/caf\u00e9.txt": 0x800,
                                 "src/\u65e5\u672c/\u540d\u524d.txt": 0x800})
        expected = sorted(os.path.join("src", n).encode() for n in self.NAMES)
        peers = [("7zz", lambda out: ["7zz", "x", "-o" + out, archive]),
                 ("bsdtar", lambda out: ["bsdtar", "-xf", archive, "-C", out])]
        for tool, argv in peers:
            with self.subTest(peer=tool):
                need(tool)
                out = self.path("by-" + tool)
                os.mkdir(out)
                p = subprocess.run(argv(out), capture_output=True, env=self.env, timeout=120)
                self.assertEqual(p.returncode, 0, p.stdout + p.stderr)
                found = sorted(os.path.relpath(os.path.join(d, f), out.encode())
                               for d, _, fs in os.walk(out.encode()) for f in fs)
                self.assertEqual(found, expected)

    def test_reading_keeps_cp437_names_without_the_flag(self):
        # "caf\x82" is CP437 for "cafe" with an acute accent; the name has no flag bit 11.
        with zipfile.ZipFile(self.path("old.zip"), "w") as z:
            z.writestr("cafX.txt", b"old\n")
        with open(self.path("old.zip"), "rb") as f:
            self.write("old.zip", f.read().replace(b"cafX", b"caf\x82"))
        r = self.run_borvan("-l", "old.zip")
        self.assertEqual(listed(r), [("caf\u00e9.txt", "")])
        # Freshening finds the old member under that name; it comes back as UTF-8.
        self.write("caf\u00e9.txt", b"new\n")
        os.utime(self.path("caf\u00e9.txt"), (time.time() + 100, time.time() + 100))
        r = self.run_borvan("-f", "old.zip", "caf\u00e9.txt")
        self.assertEqual(r.returncode, 0, r.stderr)
        with zipfile.ZipFile(self.path("old.zip")) as z:
            self.assertEqual([(i.filename, i.flag_bits & 0x800) for i in z.infolist()],
                             [("caf\u00e9.txt", 0x800)])
            self.assertEqual(z.read("caf\u00e9.txt"), b"new\n")


class ArchiveWithoutExtension(Base):
    """A self-extractor is often named without an extension: the file of that very name is
    the archive, and ".zip" is tried only when it does not exist."""

    def make_sfx(self, name, members):
        buf = io.BytesIO()
        with zipfile.ZipFile(buf, "w", zipfile.ZIP_DEFLATED) as z:
            for n, d in members.items():
                z.writestr(n, d)
        # A program in front of the zip data, as in a self-extractor.
        return self.write(name, b"\x7fELF" + bytes(2000) + buf.getvalue())

    def names(self, name):
        with zipfile.ZipFile(self.path(name)) as z:
            return sorted(z.namelist())

    def test_every_headless_command_opens_the_name_as_given(self):
        self.write("new.txt", b"new\n")
        for decoy in (False, True):
            with self.subTest(decoy=decoy):
                self.make_sfx("tool", {"a.txt": b"a\n", "b.txt": b"b\n"})
                if decoy:  # a "tool.zip" beside it must not be taken instead
                    self.make_sfx("tool.zip", {"decoy.txt": b"no\n"})
                r = self.run_borvan("-l", "tool")
                self.assertEqual(r.returncode, 0, r.stderr)
                self.assertEqual(listed(r), [("a.txt", ""), ("b.txt", "")])
                r = self.run_borvan("-t", "tool")
                self.assertEqual(r.returncode, 0, r.stderr)
                self.assertIn(b"Testing b.txt", r.stdout)
                shutil.rmtree(self.path("out"), ignore_errors=True)
                r = self.run_borvan("-e", "tool", "out")
                self.assertEqual(r.returncode, 0, r.stderr)
                self.assertEqual(sorted(os.listdir(self.path("out"))), ["a.txt", "b.txt"])
                r = self.run_borvan("-a", "tool", "new.txt")
                self.assertEqual(r.returncode, 0, r.stderr)
                r = self.run_borvan("-d", "tool", "a.txt")
                self.assertEqual(r.returncode, 0, r.stderr)
                self.assertEqual(self.names("tool"), ["b.txt", "new.txt"])
                if decoy:
                    self.assertEqual(self.names("tool.zip"), ["decoy.txt"])
                else:
                    self.assertFalse(os.path.exists(self.path("tool.zip")))
                for n in ("tool", "tool.zip"):
                    if os.path.exists(self.path(n)):
                        os.remove(self.path(n))

    def test_zip_is_tried_when_the_name_is_missing_or_a_folder(self):
        self.make_sfx("kit.zip", {"k.txt": b"k\n"})
        os.mkdir(self.path("box"))
        self.make_sfx("box.zip", {"x.txt": b"x\n"})
        for name, rows in (("kit", [("k.txt", "")]), ("box", [("x.txt", "")])):
            with self.subTest(name=name):
                r = self.run_borvan("-l", name)
                self.assertEqual(r.returncode, 0, r.stderr)
                self.assertEqual(listed(r), rows)
        r = self.run_borvan("-l", "nothing")
        self.assertEqual(r.returncode, 1)
        self.assertIn(b"Can't open input file: nothing.zip", r.stderr)


class ControlCharacters(Base):
    """Names that hold a line feed, a tab, a carriage return or an escape."""

    ZIP_NAMES = ["a\nb.txt", "t\tx/c\x1bd.txt", "cr\rname.txt", "d\ne/f.txt"]
    SHOWN = [("a^Jb.txt", ""), ("c^[d.txt", "t^Ix"), ("cr^Mname.txt", ""), ("f.txt", "d^Je")]

    def make_zip(self, name="c.zip", stored=False):
        with zipfile.ZipFile(self.path(name), "w",
                             zipfile.ZIP_STORED if stored else zipfile.ZIP_DEFLATED) as z:
            for n in self.ZIP_NAMES:
                z.writestr(n, b"data of %r\n" % n)
        return self.path(name)

    def test_zip_rows_and_every_message_stay_one_line(self):
        self.make_zip()
        r = self.run_borvan("-l", "c.zip")
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertEqual(listed(r), self.SHOWN)
        r = self.run_borvan("-t", "c.zip")
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertEqual(out_lines(r), ["Testing a^Jb.txt", "Testing c^[d.txt",
                                        "Testing cr^Mname.txt", "Testing f.txt"])
        r = self.run_borvan("-e", "c.zip", "out")
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertEqual(out_lines(r), ["Extracting a^Jb.txt", "Extracting c^[d.txt",
                                        "Extracting cr^Mname.txt", "Extracting f.txt"])
        for n in self.ZIP_NAMES:  # the files keep their real names
            self.assertTrue(os.path.isfile(os.path.join(self.path("out"), n)), n)
        # Again: the overwrite question names each file on its one line.
        r = self.run_borvan("-e", "c.zip", "out")
        self.assertIn("Replace the existing file out/t^Ix/c^[d.txt? (answered No; --yes "
                      "answers Yes)", out_lines(r))
        self.assertIn("Replace the existing file out/d^Je/f.txt? (answered No; --yes "
                      "answers Yes)", out_lines(r))

    def test_zip_writer_messages(self):
        self.write("src/a\nb.txt", b"one\n")
        self.write("src/e\x1bf.txt", b"two\n")
        r = self.run_borvan("-a", "-p", "w.zip", "src/a\nb.txt", "src/e\x1bf.txt", "gone\nname")
        self.assertEqual(out_lines(r), ["Adding src/a^Jb.txt", "Adding src/e^[f.txt",
                                        "Warning: name not matched: gone^Jname"])
        r = self.run_borvan("-d", "w.zip", "src/a\nb.txt")
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertEqual(out_lines(r), ["deleting src/a^Jb.txt"])
        r = self.run_borvan("-a", "-p", "--password=pw", "s.zip", "src/e\x1bf.txt")
        self.assertEqual(r.returncode, 0, r.stderr)
        r = self.run_borvan("-t", "s.zip")
        self.assertNotEqual(r.returncode, 0)
        self.assertEqual(out_lines(r), ["Error: src/e^[f.txt -- the file is encrypted and its "
                                        "password wasn't specified"])

    def test_engine_refusals_and_damage(self):
        # A stored member with a wrong CRC, and a name that climbs out of the target.
        path = self.make_zip("bad.zip", stored=True)
        with open(path, "rb") as f:
            data = bytearray(f.read())
        at = data.index(b"data of 'a\\nb.txt'")
        data[at] ^= 0x20
        self.write("bad.zip", bytes(data))
        r = self.run_borvan("-t", "bad.zip")
        self.assertNotEqual(r.returncode, 0)
        self.assertTrue(any(line.startswith("ZIP damaged: file a^Jb.txt: Bad CRC")
                            for line in out_lines(r)), r.stderr)
        with zipfile.ZipFile(self.path("up.zip"), "w") as z:
            z.writestr("../x\ny.txt", b"up\n")
        r = self.run_borvan("-e", "up.zip", "out")
        self.assertIn("Warning: skipping ../x^Jy.txt: its path leaves the target folder",
                      out_lines(r))

    def test_other_kinds_list_and_extract_one_row_per_line(self):
        data = b"hello\n"
        with tarfile.open(self.path("t.tar"), "w") as t:
            for n in ("a\nb.txt", "t\tx/c\x1bd.txt"):
                info = tarfile.TarInfo(n)
                info.size = len(data)
                t.addfile(info, io.BytesIO(data))
        head = b"\x1f\x8b\x08\x08" + struct.pack("<I", 1700000000) + b"\x00\x03g\nname.txt\x00"
        c = zlib.compressobj(6, zlib.DEFLATED, -15)
        self.write("g.gz", head + c.compress(data) + c.flush() +
                   struct.pack("<II", zlib.crc32(data), len(data)))
        # Unix compress and Microsoft Compress files name their member after themselves.
        need("compress")
        need("mscompress")
        with open(self.path("u\nz.txt.Z"), "wb") as f:
            subprocess.run(["compress", "-c", "-f"], input=data, stdout=f, check=True)
        self.write("m\ns.txt", data)
        subprocess.run(["mscompress", "m\ns.txt"], cwd=self.dir, check=True, capture_output=True)
        cases = [("t.tar", [("a^Jb.txt", ""), ("c^[d.txt", "t^Ix")],
                  ["Extracting a^Jb.txt", "Extracting c^[d.txt"]),
                 ("g.gz", [("g^Jname.txt", "")], ["Extracting g^Jname.txt"]),
                 ("u\nz.txt.Z", [("u^Jz.txt", "")], ["Extracting u^Jz.txt"]),
                 ("m\ns.txt_", [("m^Js.txt", "")],
                  ["Extracting m^Js.txt",
                   "Please enter the full name of the file contained within the archive "
                   "m^Js.txt_.  For example, if the contents are a DOC file, a recommended "
                   "filename is m^Js.DOC. (answered m^Js.txt)"])]
        for archive, rows, extracted in cases:
            with self.subTest(archive=archive):
                r = self.run_borvan("-l", archive)
                self.assertEqual(r.returncode, 0, r.stderr)
                self.assertEqual(listed(r), rows)
                r = self.run_borvan("-e", "--yes", archive, "x-" + archive.replace("\n", "_"))
                self.assertEqual(r.returncode, 0, r.stderr)
                self.assertEqual(out_lines(r), extracted)

    def test_program_kinds_list_one_row_per_line(self):
        # One member named "abc.txt" made by each program, then renamed "a\nc.txt" in place;
        # their readers show the control character as "_" or spelt out, on the row's one line.
        self.write("src/abc.txt", b"hello\n")
        cases = []
        need("arj")
        subprocess.run(["arj", "a", "-y", "../t.arj", "abc.txt"], cwd=self.path("src"),
                       check=True, capture_output=True)
        with open(self.path("t.arj"), "rb") as f:
            data = bytearray(f.read())
        start = data.index(b"\x60\xea", 4 + (data[2] | data[3] << 8) + 4)
        size = data[start + 2] | data[start + 3] << 8
        basic = bytes(data[start + 4:start + 4 + size]).replace(b"abc.txt", b"a\nc.txt")
        data[start + 4:start + 4 + size] = basic
        data[start + 4 + size:start + 8 + size] = struct.pack("<I", zlib.crc32(basic))
        cases.append(self.write("t.arj", bytes(data)))
        need("arc")
        subprocess.run(["arc", "a", "../t.arc", "abc.txt"], cwd=self.path("src"), check=True,
                       capture_output=True)
        with open(self.path("t.arc"), "rb") as f:
            data = f.read()
        data = data.replace(b"ABC.TXT\0", b"A\nC.TXT\0").replace(b"abc.txt\0", b"a\nc.txt\0")
        cases.append(self.write("t.arc", data))
        cases.append(self.write("t.lzh", lzh_level0(b"a\nc.txt", b"hello\n")))
        for archive in cases:
            with self.subTest(archive=os.path.basename(archive)):
                r = self.run_borvan("-l", archive)
                self.assertEqual(r.returncode, 0, r.stderr)
                self.assertIn(listed(r), ([("a_c.txt", "")], [("A_C.TXT", "")],
                                          [("a^Jc.txt", "")], [("A^JC.TXT", "")]))


class WindowList(Base):
    def start(self, *args):
        env = {"XDG_CONFIG_HOME": self.config, "XDG_RUNTIME_DIR": self.path("run"),
               "TMPDIR": self.dir, "LC_ALL": "C.UTF-8", "HOME": self.dir}
        os.makedirs(self.path("run"), mode=0o700, exist_ok=True)
        t = Tmux([BORVAN32] + list(args), cols=100, rows=20, env=env)
        self.addCleanup(t.close)
        return t

    def test_rows_stay_rows_and_a_name_without_extension_opens(self):
        with zipfile.ZipFile(self.path("names.zip"), "w") as z:
            for n in ("a\nb.txt", "c\x1bd.txt", "d\ne/f.txt"):
                z.writestr(n, b"x\n")
        shutil.copy(self.path("names.zip"), self.path("sfxkit"))
        os.chdir(self.dir)
        self.addCleanup(os.chdir, os.path.dirname(os.path.abspath(__file__)))
        t = self.start("sfxkit")
        screen = t.wait_for("Total 3 files")
        lines = screen.splitlines()
        first = next(i for i, line in enumerate(lines) if "a^Jb.txt" in line)
        self.assertIn("c^[d.txt", lines[first + 1])
        self.assertIn("f.txt", lines[first + 2])
        self.assertIn("d^Je", lines[first + 2])
        # The window's test opens the archive under the name it was given.
        t.keys("C-t")
        t.wait_for("ended without errors")
        # New Archive with that name offers the existing file instead of making "sfxkit.zip".
        t.keys("C-n")
        t.wait_for("File name:")
        t.text("sfxkit")
        t.keys("Enter")
        t.wait_for("sfxkit already exists")
        t.keys("Enter")
        t.wait_for(lambda s: "already exists" not in s and "Total 3 files" in s)
        self.assertFalse(os.path.exists(self.path("sfxkit.zip")))
        t.keys("C-q")
        t.wait_for(lambda s: t.dead(), timeout=5)
        # A command line run inside the window: extract from the name as given.
        t = self.start("-e", "sfxkit", "wout")
        t.wait_for("Total 3 files")
        deadline = time.monotonic() + 10
        while time.monotonic() < deadline and not os.path.isfile(self.path("wout", "d\ne", "f.txt")):
            time.sleep(0.05)
        self.assertEqual(sorted(os.listdir(self.path("wout"))), ["a\nb.txt", "c\x1bd.txt", "d\ne"])


if __name__ == "__main__":
    unittest.main(argv=[sys.argv[0]], verbosity=1)
