#!/usr/bin/env python3
"""Split archives end to end (headless, and in the window in tmux): volumes borvan32 writes
with --split (NAME.z01 ... NAME.zip) extracted byte for byte by 7zz and read back by
borvan32; 7zz's numbered pieces (x.zip.001) and a spanned set made here read by borvan32; a
missing or foreign volume named with status 2; sizes below the minimum and updates of a
split archive refused."""
import os
import random
import shutil
import struct
import subprocess
import sys
import tempfile
import unittest
import zipfile

SOURCE = os.environ.get("SOURCE_DIR", os.path.join(os.path.dirname(__file__), ".."))
sys.path.insert(0, os.path.join(SOURCE, "platform", "tui", "demo"))
from tmux_harness import Tmux, build_dir  # noqa: E402

BORVAN32 = os.environ.get("BORVAN32") or os.path.join(build_dir(), "archiver", "borvan32")
HAVE_7ZZ = shutil.which("7zz") is not None


def run(*args, cwd=None):
    return subprocess.run([BORVAN32, *args], cwd=cwd, capture_output=True, text=True,
                          stdin=subprocess.DEVNULL, timeout=300)


def need_7zz():
    if not HAVE_7ZZ and not os.environ.get("CI"):
        raise unittest.SkipTest("7zz missing")


def make_tree(root, seed, small_files=40):
    """A big incompressible file (larger than any volume tested), a compressible one and many
    small files; returns {relative path: bytes}."""
    r = random.Random(seed)
    files = {
        "src/big.bin": bytes(r.getrandbits(8) for _ in range(300000)),
        "src/text/long.txt": b"".join(b"line %d of the text\n" % i for i in range(20000)),
        "src/empty.txt": b"",
    }
    for i in range(small_files):
        files["src/small/f%04d.txt" % i] = (b"small %d %d\n" % (seed, i)) * r.randint(1, 40)
    for name, data in files.items():
        path = os.path.join(root, name)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(data)
    return files


def contents(folder, prefix):
    """The bytes of every file in the folder whose name starts with the prefix."""
    found = {}
    for name in os.listdir(folder):
        if name.startswith(prefix):
            with open(os.path.join(folder, name), "rb") as f:
                found[name] = f.read()
    return found


def spanned_set(members, base, volume_size):
    """A spanned set made here, cut at every volume_size bytes (headers too): base.z01, ...,
    base.zip, with disk numbers and per-volume offsets; the end record is kept whole in the
    last volume."""
    with zipfile.ZipFile(base + ".tmp", "w", zipfile.ZIP_DEFLATED) as z:
        for name, data in members.items():
            z.writestr(name, data)
    with open(base + ".tmp", "rb") as f:
        plain = f.read()
    os.unlink(base + ".tmp")
    end = plain.rfind(b"PK\x05\x06")
    count, cd_size, cd_offset = struct.unpack("<HII", plain[end + 10:end + 20])
    stream_cd = 4 + cd_offset
    stream_end = stream_cd + cd_size
    total = stream_end + 22
    cuts = list(range(volume_size, total, volume_size))
    # The end record stays whole: a cut inside it moves to its start.
    cuts = [c if not stream_end < c < total else stream_end for c in cuts if c != total]
    cuts = sorted(set(c for c in cuts if 0 < c < total))

    def place(pos):
        disk = sum(1 for c in cuts if c <= pos)
        return disk, pos - (cuts[disk - 1] if disk else 0)

    cd = bytearray(plain[cd_offset:cd_offset + cd_size])
    at = 0
    first_cd = place(stream_cd)
    on_last = 0
    last_disk = len(cuts)
    for _ in range(count):
        offset = struct.unpack("<I", cd[at + 42:at + 46])[0]
        disk, rel = place(4 + offset)
        struct.pack_into("<H", cd, at + 34, disk)
        struct.pack_into("<I", cd, at + 42, rel)
        if place(stream_cd + at)[0] == last_disk:
            on_last += 1
        n, x, c = struct.unpack("<HHH", cd[at + 28:at + 34])
        at += 46 + n + x + c
    end_record = struct.pack("<IHHHHIIH", 0x06054B50, last_disk, first_cd[0], on_last, count,
                             cd_size, first_cd[1], 0)
    stream = b"PK\x07\x08" + plain[:cd_offset] + bytes(cd) + end_record
    bounds = [0] + cuts + [len(stream)]
    names = []
    for i in range(len(bounds) - 1):
        name = base + (".zip" if i == len(bounds) - 2 else ".z%02d" % (i + 1))
        with open(name, "wb") as f:
            f.write(stream[bounds[i]:bounds[i + 1]])
        names.append(name)
    return names


class SplitFixture(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="split_e2e_")
        self.addCleanup(shutil.rmtree, self.dir, True)

    def path(self, *parts):
        return os.path.join(self.dir, *parts)

    def volumes(self, base):
        folder, stem = os.path.split(base)
        return sorted(n for n in os.listdir(folder or ".")
                      if n.startswith(stem + ".") and n != stem + ".zip")

    def check_extract(self, archive, files, target):
        result = run("-e", archive, target)
        self.assertEqual(result.returncode, 0, result.stdout + result.stderr)
        for name, data in files.items():
            with open(os.path.join(target, name), "rb") as f:
                self.assertEqual(f.read(), data, name)

    def check_read_by_borvan(self, archive, files, target):
        listed = run("-l", archive)
        self.assertEqual(listed.returncode, 0, listed.stderr)
        self.assertIn("Total %d files" % len(files), listed.stdout)
        tested = run("-t", archive)
        self.assertEqual(tested.returncode, 0, tested.stdout + tested.stderr)
        self.check_extract(archive, files, target)


class WritingTest(SplitFixture):
    def test_volumes_of_several_sizes_are_read_by_7zz_and_borvan32(self):
        need_7zz()
        work = self.path("w")
        os.makedirs(work)
        files = make_tree(work, 1, small_files=60)
        for split, limit in [("64k", 65536), ("100000", 100000), ("200K", 204800)]:
            with self.subTest(split):
                archive = os.path.join(work, "s%s.zip" % split)
                made = run("-a", "-r", "-p", "--split=" + split, archive, "src", cwd=work)
                self.assertEqual(made.returncode, 0, made.stdout + made.stderr)
                stem = archive[:-4]
                volumes = [stem + ".z%02d" % i for i in range(1, 100)
                           if os.path.exists(stem + ".z%02d" % i)] + [archive]
                self.assertGreaterEqual(len(volumes), 2)
                for v in volumes:
                    self.assertLessEqual(os.path.getsize(v), limit, v)
                with open(volumes[0], "rb") as f:
                    self.assertEqual(f.read(4), b"PK\x07\x08")
                # Outputs go outside the folder: -r would take their src folders next time.
                out = self.path("7zz_" + split)
                seven = subprocess.run(["7zz", "x", "-y", "-o" + out, archive],
                                       capture_output=True, text=True, timeout=300)
                self.assertEqual(seven.returncode, 0, seven.stdout + seven.stderr)
                for name, data in files.items():
                    with open(os.path.join(out, name), "rb") as f:
                        self.assertEqual(f.read(), data, name)
                self.check_read_by_borvan(archive, files, self.path("ours_" + split))
                # Opened by any of its volumes.
                self.assertEqual(run("-t", volumes[1]).returncode, 0)

    def test_many_small_files_spread_the_directory_over_volumes(self):
        need_7zz()
        work = self.path("many")
        os.makedirs(work)
        files = make_tree(work, 2, small_files=1500)
        archive = os.path.join(work, "many.zip")
        made = run("-a", "-r", "-p", "-e0", "--split=64k", archive, "src", cwd=work)
        self.assertEqual(made.returncode, 0, made.stdout + made.stderr)
        # The directory alone (1,503 headers) is larger than the last volume holds.
        with open(archive, "rb") as f:
            last = f.read()
        end = last.rfind(b"PK\x05\x06")
        disk, cd_disk = struct.unpack("<HH", last[end + 4:end + 8])
        self.assertLess(cd_disk, disk)
        seven = subprocess.run(["7zz", "t", archive], capture_output=True, text=True, timeout=300)
        self.assertEqual(seven.returncode, 0, seven.stdout + seven.stderr)
        self.check_read_by_borvan(archive, files, os.path.join(work, "out"))

    def test_an_archive_that_fits_one_volume_stays_one_file(self):
        work = self.path("one")
        os.makedirs(work)
        with open(os.path.join(work, "a.txt"), "wb") as f:
            f.write(b"short\n" * 100)
        made = run("-a", "--split=1m", "one.zip", "a.txt", cwd=work)
        self.assertEqual(made.returncode, 0, made.stderr)
        self.assertEqual(sorted(os.listdir(work)), ["a.txt", "one.zip"])
        self.assertEqual(zipfile.ZipFile(os.path.join(work, "one.zip")).read("a.txt"),
                         b"short\n" * 100)

    def test_sizes_that_are_refused(self):
        work = self.path("sizes")
        os.makedirs(work)
        with open(os.path.join(work, "a.txt"), "wb") as f:
            f.write(b"x" * 1000)
        for split in ["65535", "63k", "0", "", "12q", "k", "-5k", "99999999999999999g"]:
            with self.subTest(split):
                made = run("-a", "--split=" + split, "r.zip", "a.txt", cwd=work)
                self.assertEqual(made.returncode, 2, made.stdout + made.stderr)
                self.assertIn("--split", made.stderr)
                self.assertFalse(os.path.exists(os.path.join(work, "r.zip")))
        made = run("-a", "--split=65536", "r.zip", "a.txt", cwd=work)
        self.assertEqual(made.returncode, 0, made.stderr)
        self.assertIn("64k", run("--help").stdout + run("--help").stderr)

    def test_a_split_archive_is_not_updated(self):
        work = self.path("upd")
        os.makedirs(work)
        make_tree(work, 3, small_files=5)
        made = run("-a", "-r", "-p", "--split=64k", "u.zip", "src", cwd=work)
        self.assertEqual(made.returncode, 0, made.stderr)
        before = contents(work, "u.")
        with open(os.path.join(work, "new.txt"), "wb") as f:
            f.write(b"new\n")
        for args in [["-a", "u.zip", "new.txt"], ["-d", "u.zip", "src/empty.txt"],
                     ["-a", "u.z01", "new.txt"], ["-a", "--split=64k", "u.zip", "new.txt"]]:
            with self.subTest(args):
                result = run(*args, cwd=work)
                self.assertNotEqual(result.returncode, 0)
                self.assertIn("cannot update this Zip file because it spans disks",
                              result.stdout + result.stderr)
                self.assertEqual(contents(work, "u."), before)


class ReadingTest(SplitFixture):
    def test_7zz_numbered_pieces(self):
        need_7zz()
        work = self.path("p")
        os.makedirs(work)
        files = make_tree(work, 4)
        made = subprocess.run(["7zz", "a", "-tzip", "-v100k", "x.zip", "src"], cwd=work,
                              capture_output=True, text=True, timeout=300)
        self.assertEqual(made.returncode, 0, made.stdout + made.stderr)
        pieces = sorted(n for n in os.listdir(work) if n.startswith("x.zip."))
        self.assertGreater(len(pieces), 2)
        for piece in [pieces[0], pieces[1], pieces[-1]]:
            with self.subTest(piece):
                self.check_read_by_borvan(os.path.join(work, piece), files,
                                          os.path.join(work, "out_" + piece))

    def test_spanned_set_made_here(self):
        need_7zz()
        work = self.path("h")
        os.makedirs(work)
        files = make_tree(work, 5, small_files=30)
        names = spanned_set(files, os.path.join(work, "h"), 70000)
        self.assertGreater(len(names), 3)
# 7zz is the oracle that the set is a sound spanned archive.
        seven = subprocess.run(["7zz", "t", names[-1]], capture_output=True, text=True,
                               timeout=300)
        self.assertEqual(seven.returncode, 0, seven.stdout + seven.stderr)
        self.check_read_by_borvan(names[-1], files, os.path.join(work, "out"))
        self.assertEqual(run("-t", names[0]).returncode, 0)


class BrokenSetTest(SplitFixture):
    def make_ours(self, name, seed):
        work = self.path(name)
        os.makedirs(work)
        make_tree(work, seed, small_files=200)
        made = run("-a", "-r", "-p", "-e0", "--split=64k", name + ".zip", "src", cwd=work)
        self.assertEqual(made.returncode, 0, made.stderr)
        return work

    def test_missing_volume_is_named(self):
        need_7zz()
        work = self.make_ours("m", 6)
        seven = subprocess.run(["7zz", "a", "-tzip", "-v100k", "p.zip", "src"], cwd=work,
                               capture_output=True, text=True, timeout=300)
        self.assertEqual(seven.returncode, 0)
        cases = [("m.zip", "m.z02"), ("m.z01", "m.z02"), ("p.zip.001", "p.zip.002"),
                 ("p.zip.003", "p.zip.002")]
        for opened, removed in cases:
            with self.subTest(opened=opened, removed=removed):
                hold = os.path.join(work, "held")
                os.rename(os.path.join(work, removed), hold)
                try:
                    for command in ["-l", "-t", "-e"]:
                        args = [command, opened] + ([os.path.join(work, "out")]
                                                    if command == "-e" else [])
                        result = run(*args, cwd=work)
                        self.assertEqual(result.returncode, 2, result.stdout + result.stderr)
                        self.assertIn("Cannot find volume " + removed, result.stderr)
                    self.assertFalse(os.path.exists(os.path.join(work, "out")))
                finally:
                    os.rename(hold, os.path.join(work, removed))

    def test_volume_of_another_set_is_refused(self):
        need_7zz()
        a = self.make_ours("a", 7)
        b = self.make_ours("b", 8)
        # The last volume before a.zip that holds local headers, taken from the other set.
        swapped = [n for n in self.volumes(os.path.join(a, "a"))
                   if b"PK\x03\x04" in contents(a, n)[n]][-1]
        shutil.copy(os.path.join(b, "b" + swapped[1:]), os.path.join(a, swapped))
        for command in ["-l", "-t", "-e"]:
            with self.subTest(command):
                args = [command, "a.zip"] + (["out"] if command == "-e" else [])
                result = run(*args, cwd=a)
                self.assertEqual(result.returncode, 2, result.stdout + result.stderr)
                self.assertIn(swapped + " does not belong to this archive", result.stderr)
                self.assertFalse(os.path.exists(os.path.join(a, "out")))
        # Numbered pieces: one of another size, and one of the same size from elsewhere.
        for work, name in [(a, "q"), (b, "r")]:
            seven = subprocess.run(["7zz", "a", "-tzip", "-v100k", name + ".zip", "src"],
                                   cwd=work, capture_output=True, text=True, timeout=300)
            self.assertEqual(seven.returncode, 0)
        shutil.copy(os.path.join(b, "r.zip.002"), os.path.join(a, "q.zip.002"))
        # A piece of the same size holding only member data shows when the data is checked.
        result = run("-t", "q.zip.001", cwd=a)
        self.assertEqual(result.returncode, 2, result.stdout + result.stderr)
        self.assertRegex(result.stderr, "does not belong to this archive|Bad CRC|damaged")
        with open(os.path.join(a, "q.zip.002"), "ab") as f:
            f.write(b"longer")
        result = run("-l", "q.zip.001", cwd=a)
        self.assertEqual(result.returncode, 2, result.stdout + result.stderr)
        self.assertIn("q.zip.002 does not belong to this archive", result.stderr)


class WindowTest(SplitFixture):
    """The window opens a split archive by any of its volumes, and says which one is missing."""

    def start(self, work, *args):
        config = os.path.join(work, "config")
        runtime = os.path.join(work, "run")
        os.makedirs(os.path.join(config, "borvan32"), exist_ok=True)
        os.makedirs(runtime, mode=0o700, exist_ok=True)
        env = {"XDG_CONFIG_HOME": config, "XDG_RUNTIME_DIR": runtime, "LC_ALL": "C.UTF-8",
               "HOME": work, "XDG_DATA_HOME": os.path.join(work, "data"), "PAGER": "",
               "DISPLAY": "", "WAYLAND_DISPLAY": ""}
        t = Tmux([BORVAN32, *args], cols=100, rows=30, env=env)
        self.addCleanup(t.close)
        return t

    def test_open_test_and_a_missing_volume(self):
        work = self.path("win")
        os.makedirs(work)
        files = make_tree(work, 9, small_files=20)
        made = run("-a", "-r", "-p", "--split=64k", "w.zip", "src", cwd=work)
        self.assertEqual(made.returncode, 0, made.stderr)
        t = self.start(work, os.path.join(work, "w.z02"))
        t.wait_for("Total %d files" % len(files))
        t.keys("C-t")
        t.wait_for("ended without errors")
        t.keys("C-q")
        t.wait_for(lambda s: t.dead(), timeout=10)
        os.rename(os.path.join(work, "w.z03"), os.path.join(work, "held"))
        t = self.start(work, os.path.join(work, "w.zip"))
        t.wait_for("Cannot find volume " + os.path.join(work, "w.z03"))

    def test_the_add_dialog_writes_volumes(self):
        need_7zz()
        work = self.path("win")
        os.makedirs(work)
        with open(os.path.join(work, "first.txt"), "w") as f:
            f.write("already there\n")
        made = run("-a", "w.zip", "first.txt", cwd=work)
        self.assertEqual(made.returncode, 0, made.stderr)
        data = {}
        for i in range(3):
            name = "part%d.bin" % i
            data[name] = os.urandom(90000)
            with open(os.path.join(work, name), "wb") as f:
                f.write(data[name])
        t = self.start(work, os.path.join(work, "w.zip"))
        t.wait_for("Total 1 file")
        t.keys("C-a")
        t.wait_for("Split into volumes of:")
        t.text(" ".join(os.path.join(work, "part%d.bin" % i) for i in range(3)))
        # A size too small is refused in the dialog, which stays open.
        t.keys("M-v")
        t.text("12k")
        t.keys("Enter")
        t.wait_for("A volume must hold at least 64k")
        t.keys("Enter")
        t.keys("M-v", "BSpace", "BSpace", "BSpace")
        t.text("64k")
        t.keys("Enter")
        t.wait_for("Total 4 files")
        volumes = sorted(n for n in os.listdir(work) if n.startswith("w.z"))
        self.assertEqual(volumes[-1], "w.zip")
        self.assertGreaterEqual(len(volumes), 5, volumes)
        for n in volumes:
            self.assertLessEqual(os.path.getsize(os.path.join(work, n)), 64 * 1024, n)
        out = os.path.join(work, "out")
        seven = subprocess.run(["7zz", "x", "-o" + out, os.path.join(work, "w.zip")],
                               capture_output=True, text=True)
        self.assertEqual(seven.returncode, 0, seven.stdout + seven.stderr)
        for name, content in data.items():
            with open(os.path.join(out, name), "rb") as f:
                self.assertEqual(f.read(), content, name)
        t.keys("C-q")
        t.wait_for(lambda s: t.dead(), timeout=10)


if __name__ == "__main__":
    unittest.main()
