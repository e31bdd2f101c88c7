#!/usr/bin/env python3
"""End-to-end: `borvan32 --make-sfx` writes a program for Linux that extracts the archive
behind it (into a folder, listing, testing, replacing only with -o, asking a password on the
terminal), refuses unsafe names, symbolic-linked folders and damaged data without leaving
anything behind, and is at the same time a plain zip archive for 7-Zip, bsdtar, Python's
zipfile and borvan32 itself. Make .EXE File in the window writes the same program."""
import os
import pty
import random
import select
import shutil
import signal
import stat
import struct
import subprocess
import sys
import tempfile
import termios
import time
import unittest
import zipfile
import zlib

BORVAN32 = os.environ.get("BORVAN32", "borvan32")
SEVENZIP = shutil.which("7zz")
BSDTAR = shutil.which("bsdtar")
# A build machine without a peer must fail, not pass with the peer's checks left out.
if os.environ.get("CI") and not (SEVENZIP and BSDTAR):
    raise SystemExit("7zz or bsdtar is missing (CI is set): install 7zip and libarchive-tools")

SOURCE = os.environ.get("SOURCE_DIR", os.path.join(os.path.dirname(__file__), ".."))


def run(*args, cwd=None, timeout=120):
    return subprocess.run(list(args), cwd=cwd, capture_output=True, text=True, timeout=timeout)


def borvan(*args, cwd=None):
    return run(BORVAN32, *args, cwd=cwd)


def write(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)


def files_below(folder):
    found = {}
    for root, _, names in os.walk(folder):
        for n in names:
            p = os.path.join(root, n)
            if os.path.islink(p):
                continue
            with open(p, "rb") as f:
                found[os.path.relpath(p, folder)] = f.read()
    return found


def run_on_terminal(argv, answers, cwd, timeout=60):
    """Runs argv with a pseudo-terminal as its controlling terminal, typing each answer after
    the next "Password" prompt (None types Ctrl+C); returns (exit status, everything it
    printed, whether the terminal echoes again)."""
    pid, fd = pty.fork()
    if pid == 0:
        try:
            os.chdir(cwd)
            os.execv(argv[0], argv)
        finally:
            os._exit(127)
    out = b""
    pending = list(answers)
    deadline = time.monotonic() + timeout
    prompts_seen = 0
    while True:
        left = deadline - time.monotonic()
        if left <= 0:
            os.kill(pid, signal.SIGKILL)
            break
        ready, _, _ = select.select([fd], [], [], left)
        if not ready:
            continue
        try:
            chunk = os.read(fd, 4096)
        except OSError:
            break
        if not chunk:
            break
        out += chunk
        while pending and out.count(b"Password") > prompts_seen:
            prompts_seen += 1
            answer = pending.pop(0)
            os.write(fd, b"\x03" if answer is None else answer.encode() + b"\n")
    _, status = os.waitpid(pid, 0)
    echo_at_end = bool(termios.tcgetattr(fd)[3] & termios.ECHO)
    os.close(fd)
    return os.waitstatus_to_exitcode(status), out.decode(errors="replace"), echo_at_end


def zip64_archive(members):
    """Stored members whose central offsets and sizes all defer to 0x0001 fields, with a
    64-bit end record and locator, offsets counting from the first byte."""
    out, central = bytearray(), bytearray()
    for name, data in members:
        crc, n, offset = zlib.crc32(data), len(data), len(out)
        out += struct.pack("<IHHHHHIIIHH", 0x04034B50, 45, 0, 0, 0, 0x21, crc, n, n,
                           len(name), 0) + name + data
        extra = struct.pack("<HHQQQ", 1, 24, n, n, offset)
        central += struct.pack("<IHHHHHHIIIHHHHHII", 0x02014B50, 0x031E, 45, 0, 0, 0, 0x21,
                               crc, 0xFFFFFFFF, 0xFFFFFFFF, len(name), len(extra), 0, 0, 0,
                               0o100644 << 16, 0xFFFFFFFF) + name + extra
    cd_offset = len(out)
    out += central
    at = len(out)
    out += struct.pack("<IQHHIIQQQQ", 0x06064B50, 44, 45, 45, 0, 0, len(members), len(members),
                       len(central), cd_offset)
    out += struct.pack("<IIQI", 0x07064B50, 0, at, 1)
    out += struct.pack("<IHHHHIIH", 0x06054B50, 0, 0, 0xFFFF, 0xFFFF, 0xFFFFFFFF, 0xFFFFFFFF, 0)
    return bytes(out)


def stored_offsets(data):
    """The 64-bit end record's place and directory offset, and each member's local offset, as
    the archive stores them (no preamble worked out)."""
    end = data.rindex(b"PK\x05\x06")
    locator = end - 20
    assert data[locator:locator + 4] == b"PK\x06\x07"
    end64 = struct.unpack_from("<Q", data, locator + 8)[0]
    count, _, cd = struct.unpack_from("<QQQ", data, end64 + 32)
    offsets, pos = [], cd
    for _ in range(count):
        name_len, extra_len, comment_len = struct.unpack_from("<HHH", data, pos + 28)
        extra = data[pos + 46 + name_len:pos + 46 + name_len + extra_len]
        offsets.append(struct.unpack_from("<Q", extra, 4 + 16)[0])
        pos += 46 + name_len + extra_len + comment_len
    return end64, cd, offsets


class SfxFixture(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="sfx_test_")
        self.tree = os.path.join(self.dir, "tree")
        rng = random.Random(7)
        self.files = {
            "readme.txt": b"a text that deflates well\n" * 2000,
            "sub/deep/notes.txt": b"deep notes\n" * 50,
            "sub/empty": b"",
            "binary.bin": bytes(rng.getrandbits(8) for _ in range(70000)),
        }
        for name, data in self.files.items():
            write(os.path.join(self.tree, name), data)
        os.utime(os.path.join(self.tree, "readme.txt"), (981172800, 981172800))  # 2001-02-03

    def tearDown(self):
        shutil.rmtree(self.dir, ignore_errors=True)

    def make_archive(self, name="t.zip", extra=()):
        archive = os.path.join(self.dir, name)
        r = borvan("-a", "-r", "-p", *extra, archive, "tree", cwd=self.dir)
        self.assertEqual(r.returncode, 0, r.stdout + r.stderr)
        return archive

    def make_sfx(self, archive, output=None, *switches):
        args = ["--make-sfx", *switches, archive] + ([output] if output else [])
        r = borvan(*args, cwd=self.dir)
        self.assertEqual(r.returncode, 0, r.stdout + r.stderr)
        return output or archive[:-4]


class MakeAndRunTest(SfxFixture):
    def test_extracts_lists_tests_and_reads_as_a_plain_zip(self):
        run_me = os.path.join(self.tree, "run.sh")
        write(run_me, b"#!/bin/sh\necho hi\n")
        os.chmod(run_me, 0o4755)  # setuid is never given back
        self.files["run.sh"] = b"#!/bin/sh\necho hi\n"
        archive = self.make_archive()
        # A stored member beside the deflated ones.
        write(os.path.join(self.dir, "stored.txt"), b"kept as it is\n" * 30)
        r = borvan("-a", "-e0", archive, "stored.txt", cwd=self.dir)
        self.assertEqual(r.returncode, 0, r.stderr)
        with zipfile.ZipFile(archive) as z:
            methods = {i.compress_type for i in z.infolist() if not i.is_dir()}
        self.assertEqual(methods, {zipfile.ZIP_STORED, zipfile.ZIP_DEFLATED})

        sfx = self.make_sfx(archive)
        self.assertEqual(sfx, os.path.join(self.dir, "t"))
        mode = os.stat(sfx).st_mode
        umask = os.umask(0)
        os.umask(umask)
        self.assertEqual(stat.S_IMODE(mode), 0o755 & ~umask)

        out = os.path.join(self.dir, "out")
        r = run(sfx, "-d", out)
        self.assertEqual(r.returncode, 0, r.stdout + r.stderr)
        expected = {os.path.join("tree", k): v for k, v in self.files.items()}
        expected["stored.txt"] = b"kept as it is\n" * 30
        self.assertEqual(files_below(out), expected)
        got = os.stat(os.path.join(out, "tree", "run.sh")).st_mode
        self.assertEqual(stat.S_IMODE(got), 0o755 & ~umask)
        mtime = os.stat(os.path.join(out, "tree", "readme.txt")).st_mtime
        self.assertLess(abs(mtime - 981172800), 3)

        # With no -d the current folder is the target.
        here = os.path.join(self.dir, "here")
        os.makedirs(here)
        self.assertEqual(run(sfx, cwd=here).returncode, 0)
        self.assertEqual(files_below(here), expected)

        r = run(sfx, "-l")
        self.assertEqual(r.returncode, 0, r.stderr)
        for name in ("tree/readme.txt", "tree/sub/empty", "tree/binary.bin", "stored.txt"):
            self.assertIn(name, r.stdout)
        r = run(sfx, "-t")
        self.assertEqual(r.returncode, 0, r.stdout + r.stderr)
        self.assertIn("No errors detected", r.stdout)

        # Every other reader takes it as a plain zip archive.
        with zipfile.ZipFile(sfx) as z:
            self.assertIsNone(z.testzip())
            self.assertEqual(z.read("tree/binary.bin"), self.files["binary.bin"])
        if SEVENZIP:
            r = run(SEVENZIP, "t", sfx)
            self.assertEqual(r.returncode, 0, r.stdout + r.stderr)
            self.assertIn("Everything is Ok", r.stdout)
            seven_out = os.path.join(self.dir, "seven")
            r = run(SEVENZIP, "x", "-o" + seven_out, sfx)
            self.assertEqual(r.returncode, 0, r.stdout + r.stderr)
            self.assertEqual(files_below(seven_out), expected)
        if BSDTAR:
            r = run(BSDTAR, "-tf", sfx)
            self.assertEqual(r.returncode, 0, r.stderr)
            self.assertIn("tree/binary.bin", r.stdout)
            tar_out = os.path.join(self.dir, "tar")
            os.makedirs(tar_out)
            r = run(BSDTAR, "-xf", sfx, "-C", tar_out)
            self.assertEqual(r.returncode, 0, r.stderr)
            self.assertEqual(files_below(tar_out), expected)

        # borvan32 opens it as the zip archive it is, with no question about a program.
        r = borvan("-l", sfx)
        self.assertEqual(r.returncode, 0, r.stdout + r.stderr)
        self.assertIn("binary.bin", r.stdout)
        self.assertNotIn("executable", r.stdout + r.stderr)
        self.assertEqual(borvan("-t", sfx).returncode, 0)
        again = os.path.join(self.dir, "again")
        r = borvan("-e", sfx, again)
        self.assertEqual(r.returncode, 0, r.stdout + r.stderr)
        self.assertEqual(files_below(again), expected)

    def test_small_and_needing_only_the_c_library(self):
        archive = self.make_archive()
        sfx = self.make_sfx(archive, os.path.join(self.dir, "small"))
        program = os.path.getsize(sfx) - os.path.getsize(archive)
        self.assertLess(program, 200 * 1024)
        r = run("ldd", sfx)
        self.assertEqual(r.returncode, 0, r.stderr)
        libraries = [line.split()[0] for line in r.stdout.splitlines() if line.strip()]
        for lib in libraries:
            self.assertTrue(lib.startswith(("linux-vdso", "libc.so", "/lib64/ld-linux",
                                            "/lib/ld-linux")), r.stdout)

    def test_64_bit_records_and_fields_are_moved_too(self):
        members = [(b"first.txt", b"one\n" * 10), (b"dir/second.bin", bytes(range(256)))]
        archive = os.path.join(self.dir, "wide.zip")
        write(archive, zip64_archive(members))
        sfx = self.make_sfx(archive)
        with open(sfx, "rb") as f:
            data = f.read()
        end64, cd, offsets = stored_offsets(data)
        # Every stored offset now counts from the program's first byte.
        self.assertEqual(data[end64:end64 + 4], b"PK\x06\x06")
        self.assertEqual(data[cd:cd + 4], b"PK\x01\x02")
        for offset in offsets:
            self.assertEqual(data[offset:offset + 4], b"PK\x03\x04")
        with zipfile.ZipFile(sfx) as z:
            self.assertIsNone(z.testzip())
        if SEVENZIP:
            r = run(SEVENZIP, "t", sfx)
            self.assertEqual(r.returncode, 0, r.stdout + r.stderr)
        out = os.path.join(self.dir, "out")
        r = run(sfx, "-d", out)
        self.assertEqual(r.returncode, 0, r.stdout + r.stderr)
        self.assertEqual(files_below(out), {n.decode(): d for n, d in members})

    def test_existing_files_are_kept_unless_o(self):
        sfx = self.make_sfx(self.make_archive())
        out = os.path.join(self.dir, "out")
        self.assertEqual(run(sfx, "-d", out).returncode, 0)
        mine = os.path.join(out, "tree", "readme.txt")
        write(mine, b"my own edit\n")
        r = run(sfx, "-d", out)
        self.assertEqual(r.returncode, 1, r.stdout + r.stderr)
        self.assertIn("tree/readme.txt", r.stderr)
        with open(mine, "rb") as f:
            self.assertEqual(f.read(), b"my own edit\n")
        r = run(sfx, "-o", "-d", out)
        self.assertEqual(r.returncode, 0, r.stdout + r.stderr)
        with open(mine, "rb") as f:
            self.assertEqual(f.read(), self.files["readme.txt"])

    def test_program_put_in_front_without_moving_the_offsets(self):
        archive = self.make_archive()
        sfx = self.make_sfx(archive)
        program = os.path.getsize(sfx) - os.path.getsize(archive)
        raw = os.path.join(self.dir, "raw")
        with open(sfx, "rb") as f, open(archive, "rb") as a, open(raw, "wb") as o:
            o.write(f.read(program) + a.read())
        os.chmod(raw, 0o755)
        out = os.path.join(self.dir, "out")
        r = run(raw, "-d", out)
        self.assertEqual(r.returncode, 0, r.stdout + r.stderr)
        self.assertEqual(files_below(out),
                         {os.path.join("tree", k): v for k, v in self.files.items()})


class SafetyTest(SfxFixture):
    def test_names_leading_outside_are_refused(self):
        archive = os.path.join(self.dir, "bad.zip")
        with zipfile.ZipFile(archive, "w") as z:
            z.writestr("../evil", b"escaped\n")
            z.writestr("dir/../../evil2", b"escaped\n")
            z.writestr("ok.txt", b"fine\n")
            z.writestr(zipfile.ZipInfo("/abs_evil"), b"anchored inside\n")
        sfx = self.make_sfx(archive)
        work = os.path.join(self.dir, "work")
        out = os.path.join(work, "out")
        os.makedirs(out)
        r = run(sfx, "-d", out)
        self.assertEqual(r.returncode, 1, r.stdout + r.stderr)
        self.assertIn("../evil", r.stderr)
        self.assertEqual(sorted(os.listdir(work)), ["out"])
        self.assertFalse(os.path.exists(os.path.join(self.dir, "evil")))
        self.assertFalse(os.path.exists("/abs_evil"))
        self.assertEqual(files_below(out), {"ok.txt": b"fine\n", "abs_evil": b"anchored inside\n"})

    def test_a_symbolic_linked_folder_is_never_written_through(self):
        archive = os.path.join(self.dir, "link.zip")
        with zipfile.ZipFile(archive, "w") as z:
            z.writestr("link/planted.txt", b"planted\n")
            z.writestr("ok.txt", b"fine\n")
        sfx = self.make_sfx(archive)
        outside = os.path.join(self.dir, "outside")
        out = os.path.join(self.dir, "out")
        os.makedirs(outside)
        os.makedirs(out)
        os.symlink(outside, os.path.join(out, "link"))
        r = run(sfx, "-d", out)
        self.assertEqual(r.returncode, 1, r.stdout + r.stderr)
        self.assertEqual(os.listdir(outside), [])
        self.assertEqual(files_below(out), {"ok.txt": b"fine\n"})

    def test_link_members_are_made_only_when_they_stay_inside(self):
        def link(name, target):
            info = zipfile.ZipInfo(name)
            info.create_system = 3
            info.external_attr = (stat.S_IFLNK | 0o777) << 16
            return info, target
        archive = os.path.join(self.dir, "links.zip")
        with zipfile.ZipFile(archive, "w") as z:
            z.writestr("ok.txt", b"fine\n")
            z.writestr(*link("inner", "ok.txt"))
            z.writestr(*link("sub/up", "../ok.txt"))
            z.writestr(*link("escape", "../outside"))
            z.writestr(*link("absolute", "/etc"))
            # A later member may not use a link made earlier to leave the folder either.
            z.writestr("escape/planted.txt", b"planted\n")
        sfx = self.make_sfx(archive)
        out = os.path.join(self.dir, "out")
        r = run(sfx, "-d", out)
        self.assertEqual(r.returncode, 1, r.stdout + r.stderr)
        self.assertEqual(os.readlink(os.path.join(out, "inner")), "ok.txt")
        self.assertEqual(os.readlink(os.path.join(out, "sub", "up")), "../ok.txt")
        for refused in ("escape", "absolute"):
            self.assertFalse(os.path.islink(os.path.join(out, refused)), refused)
            self.assertIn(refused, r.stderr)
        # With the link refused, the later member makes a plain folder of that name inside.
        self.assertFalse(os.path.exists(os.path.join(self.dir, "outside")))
        self.assertTrue(os.path.isfile(os.path.join(out, "escape", "planted.txt")))

    def test_damaged_data_is_an_error_with_no_partial_file(self):
        archive = self.make_archive()
        sfx = self.make_sfx(archive)
        with zipfile.ZipFile(sfx) as z:
            info = z.getinfo("tree/readme.txt")
        with open(sfx, "r+b") as f:
            f.seek(info.header_offset + 26)
            name_len = int.from_bytes(f.read(2), "little")
            extra_len = int.from_bytes(f.read(2), "little")
            middle = info.header_offset + 30 + name_len + extra_len + info.compress_size // 2
            f.seek(middle)
            byte = f.read(1)
            f.seek(middle)
            f.write(bytes([byte[0] ^ 0x55]))
        out = os.path.join(self.dir, "out")
        r = run(sfx, "-d", out)
        self.assertEqual(r.returncode, 2, r.stdout + r.stderr)
        self.assertIn("tree/readme.txt", r.stderr)
        found = files_below(out)
        self.assertNotIn(os.path.join("tree", "readme.txt"), found)
        self.assertEqual(found[os.path.join("tree", "binary.bin")], self.files["binary.bin"])
        self.assertEqual([n for n in found if ".sfx-" in n], [])
        r = run(sfx, "-t")
        self.assertEqual(r.returncode, 2)


class PasswordTest(SfxFixture):
    def test_password_is_asked_on_the_terminal(self):
        archive = self.make_archive(extra=("--password=opensesame",))
        with zipfile.ZipFile(archive) as z:
            self.assertTrue(all(i.flag_bits & 1 for i in z.infolist() if not i.is_dir()))
        sfx = self.make_sfx(archive)
        out = os.path.join(self.dir, "out")
        status, text, echo = run_on_terminal([sfx, "-d", out], ["opensesame"], self.dir)
        self.assertEqual(status, 0, text)
        self.assertNotIn("opensesame", text)  # typed without echo
        self.assertEqual(files_below(out),
                         {os.path.join("tree", k): v for k, v in self.files.items()})

        wrong = os.path.join(self.dir, "wrong")
        status, text, echo = run_on_terminal([sfx, "-d", wrong], ["no", "nope", "never"], self.dir)
        self.assertEqual(status, 2, text)
        self.assertIn("wrong password", text)
        self.assertEqual(files_below(wrong), {})


    def test_ctrl_c_at_the_question_leaves_no_partial_file(self):
        sfx = self.make_sfx(self.make_archive(extra=("--password=opensesame",)))
        out = os.path.join(self.dir, "out")
        status, text, echo = run_on_terminal([sfx, "-d", out], [None], self.dir)
        self.assertEqual(status, 2, text)
        self.assertTrue(echo)
        self.assertEqual(files_below(out), {})
        leftovers = [f for _, _, fs in os.walk(out) for f in fs]
        self.assertEqual(leftovers, [])


class RefusalTest(SfxFixture):
    def test_what_the_program_cannot_extract_is_refused_at_creation(self):
        bz = os.path.join(self.dir, "bz.zip")
        with zipfile.ZipFile(bz, "w") as z:
            z.writestr("plain.txt", b"fine\n")
            z.writestr("packed.txt", b"x" * 1000, zipfile.ZIP_BZIP2)
        lzma = os.path.join(self.dir, "lzma.zip")
        with zipfile.ZipFile(lzma, "w") as z:
            z.writestr("squeezed.txt", b"y" * 1000, zipfile.ZIP_LZMA)
        aes = os.path.join(self.dir, "aes.zip")
        r = borvan("-a", "--password=pw", "--encrypt=aes256", aes, "tree/readme.txt",
                   cwd=self.dir)
        self.assertEqual(r.returncode, 0, r.stdout + r.stderr)
        notzip = os.path.join(self.dir, "notes.zip")
        write(notzip, b"just some text\n" * 10)
        cases = [(bz, "packed.txt", "bzip2"), (lzma, "squeezed.txt", "LZMA"),
                 (aes, "readme.txt", "AES"), (notzip, "not a zip archive", "")]
        for archive, part1, part2 in cases:
            before = sorted(os.listdir(self.dir))
            r = borvan("--make-sfx", archive, os.path.join(self.dir, "out"))
            self.assertEqual(r.returncode, 2, r.stdout + r.stderr)
            self.assertIn(part1, r.stderr)
            self.assertIn(part2, r.stderr)
            self.assertEqual(sorted(os.listdir(self.dir)), before)

    def test_an_existing_output_is_replaced_only_with_o(self):
        archive = self.make_archive()
        output = os.path.join(self.dir, "t")
        write(output, b"someone's file\n")
        r = borvan("--make-sfx", archive)
        self.assertEqual(r.returncode, 2)
        self.assertIn("already exists", r.stderr)
        with open(output, "rb") as f:
            self.assertEqual(f.read(), b"someone's file\n")
        self.make_sfx(archive, None, "-o")
        self.assertEqual(run(output, "-t").returncode, 0)


class WindowTest(SfxFixture):
    def test_make_exe_file_writes_a_working_program(self):
        sys.path.insert(0, os.path.join(SOURCE, "platform", "tui", "demo"))
        from tmux_harness import Tmux  # noqa: E402
        archive = self.make_archive()
        config = os.path.join(self.dir, "config")
        runtime = os.path.join(self.dir, "run")
        os.makedirs(os.path.join(config, "borvan32"))
        os.makedirs(runtime, mode=0o700)
        env = {"XDG_CONFIG_HOME": config, "XDG_RUNTIME_DIR": runtime, "LC_ALL": "C.UTF-8",
               "HOME": self.dir, "XDG_DATA_HOME": os.path.join(self.dir, "data"),
               "DISPLAY": "", "WAYLAND_DISPLAY": ""}
        t = Tmux([BORVAN32, archive], cols=100, rows=30, env=env)
        try:
            t.wait_for("readme.txt", timeout=30)
            t.keys("C-k")
            t.wait_for("Self-extracting program to write:", timeout=15)
            t.keys("Enter")
            t.wait_for("Made the self-extracting archive", timeout=30)
            t.keys("Enter")
            # A second time the file is there: replaced only after the question.
            t.keys("C-k")
            t.wait_for("Self-extracting program to write:", timeout=15)
            t.keys("Enter")
            t.wait_for("Replace it?", timeout=15)
            t.keys("n")
        finally:
            t.close()
        sfx = os.path.join(self.dir, "t")
        # The program opens in the window as the zip archive it also is, with no question.
        t = Tmux([BORVAN32, sfx], cols=100, rows=30, env=env)
        try:
            screen = t.wait_for("readme.txt", timeout=30)
            self.assertNotIn("executable", screen)
        finally:
            t.close()
        out = os.path.join(self.dir, "out")
        r = run(sfx, "-d", out)
        self.assertEqual(r.returncode, 0, r.stdout + r.stderr)
        self.assertEqual(files_below(out),
                         {os.path.join("tree", k): v for k, v in self.files.items()})


if __name__ == "__main__":
    unittest.main()
