#!/usr/bin/env python3
"""Long headless runs: an existing file survives a failed or stopped replacement (zip with 1, 2
and 8 decoding threads, gzip), and the progress meter on standard error (forced into a pipe,
absent from a pipe by default, and drawn and cleared in a terminal under tmux)."""
import gzip
import os
import random
import re
import shlex
import shutil
import signal
import struct
import subprocess
import sys
import tempfile
import time
import unittest
import zipfile
import zlib

SOURCE = os.environ.get("SOURCE_DIR", os.path.join(os.path.dirname(__file__), ".."))
sys.path.insert(0, os.path.join(SOURCE, "platform", "tui", "demo"))
from tmux_harness import Tmux, build_dir, wait_until  # noqa: E402

BORVAN32 = os.environ.get("BORVAN32") or os.path.join(build_dir(), "archiver", "borvan32")
OLD = b"the old file, which must survive\n" * 100
NEW = b"new member content\n" * 5000
THREADS = (1, 2, 8)


def run(*args, threads=1, timeout=300):
    env = dict(os.environ, BORVAN32_UNZIP_THREADS=str(threads))
    return subprocess.run([BORVAN32, *args], capture_output=True, stdin=subprocess.DEVNULL,
                          timeout=timeout, env=env)


# Traditional PKWARE encryption, written from the format's description: lets a test make a
# member whose password check byte a wrong password happens to pass.
def _crc_table():
    table = []
    for n in range(256):
        c = n
        for _ in range(8):
            c = (c >> 1) ^ 0xEDB88320 if c & 1 else c >> 1
        table.append(c)
    return table


CRC_TABLE = _crc_table()


class ZipKeys:
    def __init__(self, password):
        self.k = [0x12345678, 0x23456789, 0x34567890]
        for c in password:
            self.update(c)

    def update(self, c):
        k = self.k
        k[0] = CRC_TABLE[(k[0] ^ c) & 0xFF] ^ (k[0] >> 8)
        k[1] = ((k[1] + (k[0] & 0xFF)) * 134775813 + 1) & 0xFFFFFFFF
        k[2] = CRC_TABLE[(k[2] ^ (k[1] >> 24)) & 0xFF] ^ (k[2] >> 8)

    def stream(self):
        t = (self.k[2] | 2) & 0xFFFF
        return ((t * (t ^ 1)) >> 8) & 0xFF

    def encrypt(self, data):
        out = bytearray()
        for p in data:
            out.append(p ^ self.stream())
            self.update(p)
        return bytes(out)

    def decrypt(self, data):
        out = bytearray()
        for c in data:
            p = c ^ self.stream()
            self.update(p)
            out.append(p)
        return bytes(out)


def build_zip(path, members):
    """members: (name, data, password or None); deflated, with a central directory."""
    body, central = bytearray(), bytearray()
    for name, data, password in members:
        crc = zlib.crc32(data)
        comp = zlib.compressobj(6, zlib.DEFLATED, -15)
        packed = comp.compress(data) + comp.flush()
        flags = 0
        if password:
            flags = 1
            head = bytes(range(11)) + bytes([crc >> 24])
            packed = ZipKeys(password).encrypt(head + packed)
        raw = name.encode()
        fields = (20, flags, 8, 0x6000, 0x5821, crc, len(packed), len(data), len(raw))
        central += struct.pack("<IH", 0x02014B50, 20) + struct.pack("<HHHHHIIIH", *fields)
        central += struct.pack("<HHHHII", 0, 0, 0, 0, 0o100644 << 16, len(body)) + raw
        body += struct.pack("<I", 0x04034B50) + struct.pack("<HHHHHIIIH", *fields)
        body += struct.pack("<H", 0) + raw + packed
    end = struct.pack("<IHHHHIIH", 0x06054B50, 0, 0, len(members), len(members), len(central),
                      len(body), 0)
    with open(path, "wb") as f:
        f.write(bytes(body + central + end))


def password_passing_check(right, check_byte):
    """A wrong password whose decrypted check byte still matches."""
    head = ZipKeys(right).encrypt(bytes(range(11)) + bytes([check_byte]))
    for i in range(100000):
        wrong = b"wrong%d" % i
        if ZipKeys(wrong).decrypt(head)[11] == check_byte:
            return wrong.decode()
    raise AssertionError("no such password")


def make_bad_crc_zip(folder, members):
    """good.zip and badcrc.zip, whose second member's CRC is wrong in both headers; returns
    good.zip's bytes and the offsets of that member's local and central headers."""
    good = os.path.join(folder, "good.zip")
    build_zip(good, members)
    with open(good, "rb") as f:
        good_data = f.read()
    data = bytearray(good_data)
    local = data.find(b"PK\x03\x04", 4)
    central = data.find(b"PK\x01\x02", data.find(b"PK\x01\x02") + 4)
    for at, crc_field in ((local, 14), (central, 16)):
        data[at + crc_field] ^= 0x5A
    with open(os.path.join(folder, "badcrc.zip"), "wb") as f:
        f.write(bytes(data))
    return good_data, local, central


def need_tmux(test):
    if not shutil.which("tmux"):
        if os.environ.get("CI"):
            test.fail("tmux missing")
        test.skipTest("tmux missing")


class Fixture(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="borvan_progress_")
        self.addCleanup(shutil.rmtree, self.dir, True)

    def path(self, *parts):
        return os.path.join(self.dir, *parts)

    def target_with_old_file(self, name, mode=0o640):
        out = self.path(name)
        os.makedirs(out)
        with open(os.path.join(out, "f.txt"), "wb") as f:
            f.write(OLD)
        os.chmod(os.path.join(out, "f.txt"), mode)
        return out

    def assert_old_file_intact(self, out, also=()):
        with open(os.path.join(out, "f.txt"), "rb") as f:
            self.assertEqual(f.read(), OLD, "the existing file was changed")
        self.assertEqual(os.stat(os.path.join(out, "f.txt")).st_mode & 0o777, 0o640)
        # Nothing half-written is left beside it.
        self.assertEqual(sorted(os.listdir(out)), sorted(["f.txt", *also]))


class ReplacingExistingFiles(Fixture):
    def zip_cases(self):
        """name -> (archive, extra switches); each fails at f.txt after a.txt was extracted."""
        cases = {}
        members = [("a.txt", b"first member\n" * 3000, None), ("f.txt", NEW, None),
                   ("z.txt", b"last\n", None)]
        good_data, local, central = make_bad_crc_zip(self.dir, members)
        cases["bad CRC"] = (self.path("badcrc.zip"), [])

        crc = zlib.crc32(NEW)
        enc = [members[0], ("f.txt", NEW, b"SECRET"), members[2]]
        build_zip(self.path("locked.zip"), enc)
        wrong = password_passing_check(b"SECRET", crc >> 24)
        cases["wrong password"] = (self.path("locked.zip"), ["--password=" + wrong])

        # f.txt's compressed size says it ends half way through its deflate stream.
        data = bytearray(good_data)
        for at, size_field in ((local, 18), (central, 20)):
            size = struct.unpack_from("<I", data, at + size_field)[0]
            struct.pack_into("<I", data, at + size_field, size // 2)
        with open(self.path("truncated.zip"), "wb") as f:
            f.write(bytes(data))
        cases["truncated member"] = (self.path("truncated.zip"), [])
        return cases

    def test_a_failed_zip_member_leaves_the_existing_file_as_it_was(self):
        for what, (archive, switches) in self.zip_cases().items():
            for threads in THREADS:
                with self.subTest(what=what, threads=threads):
                    out = self.target_with_old_file("%s-%d" % (what.replace(" ", "_"), threads))
                    r = run("-e", "-o", *switches, archive, out, threads=threads)
                    self.assertEqual(r.returncode, 2, r.stderr)
                    self.assertIn(b"f.txt", r.stderr)
                    self.assert_old_file_intact(out, also=["a.txt"])

    def test_a_failed_gzip_file_leaves_the_existing_file_as_it_was(self):
        packed = gzip.compress(NEW, mtime=0)
        bad_crc = bytearray(packed)
        bad_crc[-8] ^= 0xFF
        cases = {
            "bad trailer CRC": (bytes(bad_crc), b"Bad CRC"),
            "no trailer": (packed[:-8], b"its trailer is missing"),
            "cut in the data": (packed[:len(packed) // 2], b"Damaged gzip file"),
        }
        for what, (data, message) in cases.items():
            with self.subTest(what=what):
                archive = self.path("f.txt.gz")
                with open(archive, "wb") as f:
                    f.write(data)
                out = self.target_with_old_file(what.replace(" ", "_"))
                r = run("-e", "-o", archive, out)
                self.assertEqual(r.returncode, 2, r.stderr)
                self.assertIn(message, r.stderr)
                self.assert_old_file_intact(out)

    def test_a_complete_member_replaces_the_file_and_keeps_its_permissions(self):
        build_zip(self.path("ok.zip"), [("a.txt", b"a", None), ("f.txt", NEW, None)])
        with open(self.path("f.txt.gz"), "wb") as f:
            f.write(gzip.compress(NEW, mtime=0))
        for archive in ("ok.zip", "f.txt.gz"):
            for threads in THREADS:
                with self.subTest(archive=archive, threads=threads):
                    out = self.target_with_old_file("ok-%s-%d" % (archive, threads))
                    r = run("-e", "-o", self.path(archive), out, threads=threads)
                    self.assertEqual(r.returncode, 0, r.stderr)
                    with open(os.path.join(out, "f.txt"), "rb") as f:
                        self.assertEqual(f.read(), NEW)
                    self.assertEqual(os.stat(os.path.join(out, "f.txt")).st_mode & 0o777, 0o640)
                    names = ["f.txt", "a.txt"] if archive == "ok.zip" else ["f.txt"]
                    self.assertEqual(sorted(os.listdir(out)), sorted(names))

    def test_a_stop_while_replacing_leaves_the_existing_file_as_it_was(self):
        # A member big enough that its writing is caught in the middle: the stop comes once
        # the new data has begun to appear beside the old file. Before it, a small member, or
        # one large enough to be still with a helper thread when the replacing one begins.
        big = bytes(192 << 20)
        before = {"a.txt": b"a", "a.bin": os.urandom(1 << 20) * 16}
        for first, data in before.items():
            archive = self.path("big-%s.zip" % first)
            build_zip(archive, [(first, data, None), ("f.txt", big, None)])
            for threads in THREADS:
                with self.subTest(first=first, threads=threads):
                    self.stop_while_replacing(archive, first, threads)

    def stop_while_replacing(self, archive, first, threads):
        for attempt in range(4):
            out = self.target_with_old_file("stop-%s-%d-%d" % (first, threads, attempt))
            env = dict(os.environ, BORVAN32_UNZIP_THREADS=str(threads))
            p = subprocess.Popen([BORVAN32, "-e", "-o", archive, out], env=env,
                                 stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                 stderr=subprocess.PIPE)
            deadline = time.monotonic() + 60
            while p.poll() is None and time.monotonic() < deadline:
                names = os.listdir(out)
                if len(names) > 2 and first in names:  # the old file, the new data beside it
                    p.send_signal(signal.SIGTERM)
                    break
                time.sleep(0.001)
            err = p.communicate(timeout=120)[1]
            if p.returncode == 0:
                continue  # the member was complete before the stop: try again
            self.assertEqual(p.returncode, -signal.SIGTERM, err)
            self.assert_old_file_intact(out, also=[first])
            break
        else:
            self.fail("the run always ended before it could be stopped")

    def test_the_window_keeps_the_existing_file_when_a_member_fails(self):
        need_tmux(self)
        members = [("a.txt", b"first member\n" * 3000, None), ("f.txt", NEW, None),
                   ("z.txt", b"last\n", None)]
        make_bad_crc_zip(self.dir, members)
        out = self.target_with_old_file("out")
        config = self.path("config")
        os.makedirs(os.path.join(config, "borvan32"))
        with open(os.path.join(config, "borvan32", "borvan32.ini"), "w") as f:
            f.write("[directories]\ngzExtractTo=1\nExtractTo=%s\n" % out)
        runtime = self.path("run")
        os.makedirs(runtime, mode=0o700)
        env = {"XDG_CONFIG_HOME": config, "XDG_RUNTIME_DIR": runtime, "HOME": self.dir,
               "LC_ALL": "C.UTF-8", "XDG_DATA_HOME": self.path("data")}
        t = Tmux([BORVAN32, self.path("badcrc.zip")], cols=100, rows=30, env=env)
        self.addCleanup(t.close)
        t.wait_for("Total 3 files")
        t.text("\x1f")  # every row
        t.wait_for("Selected 3 files")
        t.keys("C-e")
        t.wait_for("Extract To:")
        t.keys("Enter")
        t.wait_for("Confirm File Replace")
        t.keys("y")
        t.wait_for("Bad CRC")
        # The run ends once the message is acknowledged.
        t.keys("Enter")
        t.wait_for(lambda s: "Bad CRC" not in s and "Selected 3 files" in s)
        self.assert_old_file_intact(out, also=["a.txt"])


def meter_lines(stderr):
    """The meter's drawings in what was written to standard error, and everything else."""
    drawn, other = [], []
    for piece in re.split(rb"[\r\n]", stderr):
        text = piece.decode().strip()
        if not text:
            continue
        (drawn if re.match(r"^\d+%  ", text) else other).append(text)
    return drawn, other


class ProgressMeter(Fixture):
    def make_sources(self, count=3, mib=12):
        src = self.path("src")
        os.makedirs(src)
        chunk = os.urandom(1 << 20)
        for i in range(count):
            with open(os.path.join(src, "m%d.bin" % i), "wb") as f:
                for _ in range(mib):
                    f.write(chunk)
        return src

    def make_archive(self, src, stored=False):
        archive = self.path("big.zip")
        method = zipfile.ZIP_STORED if stored else zipfile.ZIP_DEFLATED
        with zipfile.ZipFile(archive, "w", method, compresslevel=1) as z:
            for name in sorted(os.listdir(src)):
                z.write(os.path.join(src, name), name)
        return archive

    def test_forced_into_a_pipe_the_meter_rises_to_100(self):
        src = self.make_sources()
        archive = self.make_archive(src)
        with open(self.path("small.gz"), "wb") as f:
            with gzip.GzipFile("small", "wb", fileobj=f, mtime=0) as g:
                g.write(os.urandom(50000))
        cases = [
            ("-e", ["-e", "--progress", archive, "OUT"], b"Extracting m2.bin"),
            ("-t", ["-t", "--progress", archive], b"Testing m2.bin"),
            ("-a", ["-a", "--progress", "OUT.zip"] +
             [os.path.join(src, n) for n in sorted(os.listdir(src))], b"Adding m2.bin"),
            # Forced, even for a small single file.
            ("gzip", ["-e", "--progress", self.path("small.gz"), "OUT"], b"Extracting small"),
        ]
        for what, args, status in cases:
            for threads in (1, 2):
                with self.subTest(what=what, threads=threads):
                    out = self.path("out-%s-%d" % (what, threads))
                    r = run(*[a.replace("OUT", out) for a in args], threads=threads)
                    self.assertEqual(r.returncode, 0, r.stderr)
                    self.assertIn(status, r.stdout)
                    self.assertNotIn(b"\r", r.stdout)
                    drawn, other = meter_lines(r.stderr)
                    self.assertEqual(other, [])
                    percents = [int(d.split("%")[0]) for d in drawn]
                    self.assertGreaterEqual(len(percents), 2, drawn)
                    self.assertEqual(percents, sorted(percents), drawn)
                    self.assertLess(percents[0], 100)
                    self.assertEqual(percents[-1], 100, drawn)
                    for d in drawn:
                        self.assertRegex(d, r"^\d+%  [\d.]+ [KMG]?i?B of [\d.]+ [KMG]?i?B  ")
                    # Taken away at the end: the last thing written is a clearing.
                    self.assertRegex(r.stderr, rb"\r +\r$")

    def test_into_a_pipe_there_is_no_meter_unless_forced(self):
        src = self.make_sources()
        archive = self.make_archive(src)
        for args in (["-e", archive, self.path("out")], ["-t", archive],
                     ["-e", "--no-progress", "-o", archive, self.path("out")],
                     ["-a", self.path("new.zip"), os.path.join(src, "m0.bin")]):
            with self.subTest(args=args[:2]):
                r = run(*args)
                self.assertEqual(r.returncode, 0, r.stderr)
                self.assertEqual(r.stderr, b"")

    def test_a_failure_clears_the_meter_before_its_message(self):
        src = self.make_sources()
        archive = self.make_archive(src)
        with open(archive, "rb") as f:
            data = bytearray(f.read())
        at = data.find(b"m2.bin") + 6 + 5000  # inside the last member's deflate data
        data[at:at + 64] = bytes(64)
        with open(self.path("bad.zip"), "wb") as f:
            f.write(bytes(data))
        r = run("-t", "--progress", self.path("bad.zip"))
        self.assertEqual(r.returncode, 2)
        # The error is a line of its own, after a clearing, never after a meter drawing.
        error = r.stderr.rindex(b"ZIP damaged: file m2.bin")
        self.assertRegex(r.stderr[:error], rb"\r +\r$")
        self.assertTrue(r.stderr.endswith(b"\n"), r.stderr[-80:])

    def test_in_a_terminal_the_meter_shows_and_the_screen_ends_clean(self):
        need_tmux(self)
        # Text of random words inflates slowly enough, on one thread, for the meter to come up
        # on any machine; noise would be stored and copied at the speed of the disk.
        rng = random.Random(7)
        words = [bytes(rng.choice(b"abcdefghijklmnopqrstuvwxyz") for _ in range(rng.randint(2, 9)))
                 for _ in range(5000)]
        block = b" ".join(rng.choice(words) for _ in range(200000))
        archive = self.path("big.zip")
        with zipfile.ZipFile(archive, "w", zipfile.ZIP_DEFLATED, compresslevel=1) as z:
            for i in range(4):
                z.writestr("m%d.bin" % i, block * 80)
        out = self.path("out")
        raw = self.path("pane.raw")
        # The run waits for a key so that the pane's output is recorded from its first byte;
        # the shell stays afterwards, since a pane that ends scrolls for tmux's own notice.
        command = ("read -r _; BORVAN32_UNZIP_THREADS=1 %s --headless -e %s %s; "
                   "echo run ended $?; read -r _" % (BORVAN32, archive, out))
        t = Tmux(["bash", "--norc", "-c", command], cols=80, rows=20)
        self.addCleanup(t.close)
        t._tmux("pipe-pane", "-o", "-t", "main", "cat >> %s" % shlex.quote(raw))
        t.keys("Enter")
        screen = t.wait_for("run ended 0", timeout=300)
        lines = [line for line in screen.splitlines() if line.strip()]
        self.assertEqual(lines, ["Extracting m%d.bin" % i for i in range(4)] + ["run ended 0"],
                         screen)
        # The recording catches up with the screen.
        def recorded():
            if not os.path.exists(raw):
                return b""
            with open(raw, "rb") as f:
                return f.read()

        stream = wait_until(lambda: b"run ended 0" in recorded() and recorded(), timeout=10,
                            what="the pane's recording")
        drawn = re.findall(rb"\r( *\d+%  [^\r\n]* of [\d.]+ MiB  [^\r\n]*)", stream)
        self.assertTrue(drawn, stream[:2000])
        # Each drawing goes back to the line's start, so a message never lands behind it.
        for line in re.findall(rb"Extracting m\d\.bin[^\n]*", stream):
            self.assertRegex(line, rb"^Extracting m\d\.bin\r?$")


if __name__ == "__main__":
    unittest.main(verbosity=1)
