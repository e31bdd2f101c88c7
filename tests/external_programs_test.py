#!/usr/bin/env python3
"""borvan32 and the outside programs it runs, end to end: testing ARJ, LZH and ARC archives
through their archivers (headless and in the window), adding to and deleting from ARJ and LZH
archives headless (jlha for LZH, whichever LHA the PATH holds), self-extracting programs
listed after the run question is answered No, archivers stopped by SIGTERM or the window's
stop with their partial output removed, a runaway extraction stopped, a crash named by its
signal, virus scans that did not run, findings in the window, and CheckOut's folder rule and
launchers for nested archives."""
import os
import shutil
import signal
import struct
import subprocess
import sys
import tempfile
import time
import unittest
import zipfile

SOURCE = os.environ.get("SOURCE_DIR", os.path.join(os.path.dirname(__file__), ".."))
sys.path.insert(0, os.path.join(SOURCE, "platform", "tui", "demo"))
from tmux_harness import Tmux, build_dir  # noqa: E402

BORVAN32 = os.environ.get("BORVAN32") or os.path.join(build_dir(), "archiver", "borvan32")
TESTDATA = os.environ.get("TESTDATA", os.path.join(SOURCE, "..", "shared", "testdata"))


def need(tool):
    """Skips without the tool, but fails when CI is set: a build machine must have it."""
    if shutil.which(tool):
        return shutil.which(tool)
    if os.environ.get("CI"):
        raise AssertionError(tool + " is missing (CI is set)")
    raise unittest.SkipTest(tool + " is missing")


def rows(listing):
    """The (name, path) of each listed row."""
    lines = listing.decode().splitlines()
    return sorted((line.split("\t")[0], line.split("\t")[6]) for line in lines[1:-1])


def arc_member(method, name, data, orig, csize=None):
    """One ARC header and its data."""
    csize = len(data) if csize is None else csize
    return (b"\x1a" + bytes([method]) + name.ljust(13, b"\0") +
            struct.pack("<IHHHI", csize, 0x5A21, 0x6000, 0, orig) + data)


def wait_until(predicate, timeout=20.0):
    deadline = time.monotonic() + timeout
    while not predicate():
        if time.monotonic() > deadline:
            raise AssertionError("timed out")
        time.sleep(0.05)


def alive(pid):
    try:
        with open("/proc/%d/stat" % pid) as f:
            return f.read().split(") ")[1][0] != "Z"
    except OSError:
        return False


class Base(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="external_programs_e2e_")
        self.addCleanup(shutil.rmtree, self.dir, True)
        self.config = self.path("config")
        os.makedirs(os.path.join(self.config, "borvan32"))
        self.home = self.path("home")
        os.makedirs(self.home)
        self.env = dict(os.environ, XDG_CONFIG_HOME=self.config, TMPDIR=self.path(),
                        HOME=self.home, XDG_DATA_HOME=self.path("home", "data"))

    def path(self, *names):
        return os.path.join(self.dir, *names)

    def write(self, name, data, mode=None):
        os.makedirs(os.path.dirname(self.path(name)), exist_ok=True)
        with open(self.path(name), "wb") as f:
            f.write(data)
        if mode:
            os.chmod(self.path(name), mode)
        return self.path(name)

    def read(self, *names):
        with open(self.path(*names), "rb") as f:
            return f.read()

    def settings(self, text):
        with open(os.path.join(self.config, "borvan32", "borvan32.ini"), "w") as f:
            f.write(text)

    def run_borvan(self, *args, cwd=None, env=None):
        return subprocess.run([BORVAN32, *args], capture_output=True, cwd=cwd or self.dir,
                              stdin=subprocess.DEVNULL, timeout=120, env=env or self.env)

    def only_lha(self, program):
        """An environment whose PATH holds `program` as "lha" and nothing else."""
        bin_dir = self.path("only-" + os.path.basename(program))
        os.makedirs(bin_dir, exist_ok=True)
        if not os.path.exists(os.path.join(bin_dir, "lha")):
            os.symlink(program, os.path.join(bin_dir, "lha"))
        return dict(self.env, PATH=bin_dir)

    def make_arj(self):
        need("arj")
        self.write("src/one two.txt", b"first member\n" * 50)
        self.write("src/r.bin", os.urandom(20000))
        subprocess.run(["arj", "a", "-y", "../t.arj", "one two.txt", "r.bin"],
                       cwd=self.path("src"), check=True, capture_output=True)
        return self.path("t.arj")

    def make_arc(self):
        need("arc")
        self.write("src/a.txt", b"hello hello hello\n" * 40)
        self.write("src/r.bin", os.urandom(20000))
        subprocess.run(["arc", "a", "../t.arc", "a.txt", "r.bin"], cwd=self.path("src"),
                       check=True, capture_output=True, stdin=subprocess.DEVNULL)
        return self.path("t.arc")

    def damaged(self, path):
        """A copy with bytes in the middle of the member data flipped."""
        data = bytearray(open(path, "rb").read())
        middle = len(data) // 2
        for i in range(middle, middle + 8):
            data[i] ^= 0x55
        return self.write("bad-" + os.path.basename(path), bytes(data))

    def leftovers(self, folder):
        return [n for n in os.listdir(folder) if n.startswith(".borvan-")]


class TestThroughPrograms(Base):
    def test_good_and_damaged_archives_of_each_kind(self):
        lzh = os.path.join(TESTDATA, "lzh", "lha_unix114i", "h2_lh7.lzh")
        cases = [("arj", self.make_arj(), self.env, "nomarch", b"Error 3:\nCRC error"),
                 ("lhasa", lzh, self.only_lha(need("lhasa")), "nomarch",
                  b"Error 1:\nCRC error, insufficient disk space")]
        if shutil.which("jlha"):
            # jlha misses the damage and exits 0: the members are checked against the
            # listing's sizes and CRC-16.
            cases.append(("jlha", lzh, self.only_lha(shutil.which("jlha")), "nomarch",
                          b"Missing or damaged after extracting:\ngpl-2"))
        elif os.environ.get("CI"):
            raise AssertionError("jlha is missing (CI is set)")
        arc = self.make_arc()
        for program in ("nomarch", "arc"):
            cases.append((program, arc, self.env, need(program), b"Error testing\n"))
        for what, archive, run_env, arc_program, damage in cases:
            with self.subTest(program=what):
                self.settings("[Programs]\narc=%s\n" % arc_program)
                r = self.run_borvan("-t", archive, env=run_env)
                self.assertEqual(r.returncode, 0, r.stdout + r.stderr)
                self.assertIn(b"ended without errors", r.stdout)
                r = self.run_borvan("-t", self.damaged(archive), env=run_env)
                self.assertNotEqual(r.returncode, 0, r.stdout + r.stderr)
                self.assertIn(damage, r.stderr)
                self.assertNotIn(b"ended without errors", r.stdout + r.stderr)
                self.assertEqual([n for n in os.listdir(self.dir) if n.startswith("borvan-")],
                                 [])


class LevelTwoWithJlhaConfigured(Base):
    def test_spaced_folder_extracted(self):
        """jlha silently skips this member: lhasa extracts it when both are installed."""
        need("lhasa")
        jlha = need("jlha")
        name, folder, data = b"c d.txt", b"my dir\xffsub", b"level two"
        parts = [b"\x01" + name, b"\x02" + folder]
        sizes = [len(p) + 2 for p in parts] + [0]
        body = b"".join(p + struct.pack("<H", n) for p, n in zip(parts, sizes[1:]))
        crc = 0
        for b in data:
            crc ^= b
            for _ in range(8):
                crc = (crc >> 1) ^ 0xA001 if crc & 1 else crc >> 1
        h = struct.pack("<H", 26 + len(body)) + b"-lh0-"
        h += struct.pack("<IIIBB", len(data), len(data), 1614849546, 0x20, 2)
        h += struct.pack("<H", crc) + b"U" + struct.pack("<H", sizes[0])
        lzh = self.write("l2.lzh", h + body + data + b"\0")
        self.settings("[Programs]\nlha=%s\n" % jlha)
        os.mkdir(self.path("out"))
        r = self.run_borvan("-e", lzh, "out")
        self.assertEqual(r.returncode, 0, r.stdout + r.stderr)
        self.assertEqual(self.read("out", "my dir", "sub", "c d.txt"), data)
        # jlha alone cannot: that is said, not passed over.
        r = self.run_borvan("-e", "-o", lzh, "out", env=self.only_lha(jlha))
        self.assertNotEqual(r.returncode, 0)
        self.assertIn(b"Missing or damaged after extracting:\nmy dir/sub/c d.txt", r.stderr)


class ChangeHeadless(Base):
    def test_arj_and_lzh_add_and_delete(self):
        self.write("w/a.txt", b"one\n")
        self.write("w/b c.txt", b"two\n" * 30)
        kinds = [("new.arj", self.env)]
        need("arj")
        if shutil.which("jlha"):
            kinds.append(("new.lzh", self.env))
            # The configured lha is lhasa, which cannot write: jlha does the writing.
            kinds.append(("only-jlha.lzh", self.only_lha(shutil.which("jlha"))))
        elif os.environ.get("CI"):
            raise AssertionError("jlha is missing (CI is set)")
        for name, env in kinds:
            with self.subTest(archive=name):
                r = self.run_borvan("-a", name, "a.txt", "b c.txt", cwd=self.path("w"), env=env)
                self.assertEqual(r.returncode, 0, r.stdout + r.stderr)
                r = self.run_borvan("-l", self.path("w", name))
                self.assertEqual(rows(r.stdout), [("a.txt", ""), ("b c.txt", "")])
                # A delete that names no member leaves the archive alone (jlha would rewrite it).
                before = self.read("w", name)
                r = self.run_borvan("-d", name, "nosuch", cwd=self.path("w"), env=env)
                self.assertEqual(r.returncode, 1, r.stdout + r.stderr)
                self.assertIn(b"No files found for specified action", r.stderr)
                self.assertEqual(self.read("w", name), before)
                r = self.run_borvan("-d", name, "a.txt", cwd=self.path("w"), env=env)
                self.assertEqual(r.returncode, 0, r.stdout + r.stderr)
                r = self.run_borvan("-l", self.path("w", name))
                self.assertEqual(rows(r.stdout), [("b c.txt", "")])
                self.assertEqual(self.leftovers(self.path("w")), [])
                self.assertEqual(sorted(n for n in os.listdir(self.path("w"))
                                        if not n.endswith((".arj", ".lzh"))),
                                 ["a.txt", "b c.txt"])

    def test_lhasa_alone_names_the_package_and_arc_is_refused(self):
        lhasa = need("lhasa")
        r = self.run_borvan("-a", "x.lzh", "f", env=self.only_lha(lhasa))
        self.assertEqual(r.returncode, 1)
        self.assertIn(b"needs the jlha-utils package", r.stderr)
        self.assertFalse(os.path.exists(self.path("x.lzh")))
        arc = self.make_arc()
        before = self.read("t.arc")
        r = self.run_borvan("-d", arc, "a.txt")
        self.assertEqual(r.returncode, 1)
        self.assertIn(b"ARC archives can only be extracted", r.stderr)
        self.assertEqual(self.read("t.arc"), before)


class SelfExtracting(Base):
    QUESTION = b"Would you like to run this executable file? (answered No)"

    def test_lzh_and_arj_behind_a_program(self):
        arj = open(self.make_arj(), "rb").read()
        stub = b"MZ" + bytes(range(256)) * 40
        cases = [(os.path.join(TESTDATA, "lzh", "lha213", "sfx.exe"), None),
                 (self.write("arjsfx.exe", stub + arj),
                  [("one two.txt", ""), ("r.bin", "")])]
        for exe, expected in cases:
            with self.subTest(exe=os.path.basename(exe)):
                r = self.run_borvan("-l", exe)
                self.assertEqual(r.returncode, 0, r.stderr)
                self.assertIn(self.QUESTION, r.stderr)
                if expected:
                    self.assertEqual(rows(r.stdout), expected)
                else:
                    self.assertGreater(len(rows(r.stdout)), 0)
        os.mkdir(self.path("out"))
        r = self.run_borvan("-e", self.path("arjsfx.exe"), "out")
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertEqual(self.read("out", "r.bin"), self.read("src", "r.bin"))


class StoppedAndRunaway(Base):
    def fake(self, name, body):
        return self.write("bin/" + name, b"#!/bin/sh\n" + body, 0o755)

    def test_signals_end_the_archiver_and_remove_its_output(self):
        arc = self.make_arc()
        # An extractor that writes part of a file, starts a helper and then hangs.
        fake = self.fake("arc", b"echo $$ > '%s'\nsleep 600 &\necho $! > '%s'\n"
                         b"echo partial > a.txt\nwait\n" %
                         (self.path("pid").encode(), self.path("child").encode()))
        self.settings("[Programs]\narc=%s\n" % fake)
        for signum in (signal.SIGTERM, signal.SIGINT):
            with self.subTest(signal=signum):
                for name in ("pid", "child"):
                    if os.path.exists(self.path(name)):
                        os.remove(self.path(name))
                out = self.path("out-%d" % signum)
                os.mkdir(out)
                p = subprocess.Popen([BORVAN32, "-e", "-o", arc, out], cwd=self.dir,
                                     env=self.env, stdin=subprocess.DEVNULL,
                                     stdout=subprocess.PIPE, stderr=subprocess.PIPE)
                wait_until(lambda: os.path.exists(self.path("child")) and
                           os.path.getsize(self.path("child")) > 0)
                pid = int(self.read("pid"))
                child = int(self.read("child"))
                p.send_signal(signum)
                _, err = p.communicate(timeout=30)
                self.assertEqual(p.returncode, -signum, err)
                self.assertIn(b"Stopped by signal", err)
                wait_until(lambda: not alive(pid) and not alive(child), timeout=10)
                self.assertEqual(os.listdir(out), [])

    def test_runaway_extraction_is_stopped(self):
        nomarch = need("nomarch")
        # 300 bytes that claim 1.6 GB: nomarch writes until it has them all.
        arc = self.write("run.arc", arc_member(8, b"RUN.TXT", bytes(300), 0x60000000) +
                         b"\x1a\0")
        # A program that writes more than the listing declares.
        small = self.write("small.arc", arc_member(2, b"A.TXT", b"x" * 100, 100) + b"\x1a\0")
        fake = self.fake("nomarch", b"yes > A.TXT\n")
        for archive, program in ((arc, nomarch), (small, fake)):
            with self.subTest(program=program):
                self.settings("[Programs]\narc=%s\n" % program)
                out = self.path("out-" + os.path.basename(archive))
                os.mkdir(out)
                r = self.run_borvan("-e", "-o", archive, out)
                self.assertNotEqual(r.returncode, 0)
                self.assertIn(b"ARC extraction was stopped: its output passed the ", r.stderr)
                self.assertEqual(os.listdir(out), [])

    def test_crash_named_by_its_signal(self):
        arj = self.make_arj()
        fake = self.fake("arj", b"echo going down\nkill -ABRT $$\n")
        self.settings("[Programs]\narj=%s\n" % fake)
        os.mkdir(self.path("out"))
        for args in (["-e", arj, "out"], ["-t", arj], ["-d", arj, "r.bin"]):
            with self.subTest(args=args):
                r = self.run_borvan(*args)
                self.assertNotEqual(r.returncode, 0)
                self.assertIn(b"arj crashed: signal 6", r.stderr)
                self.assertNotIn(b"Unknown error", r.stderr)
        self.assertEqual(os.listdir(self.path("out")), [])


class VirusScan(Base):
    def setUp(self):
        super().setUp()
        need("clamscan")
        self.infected = b"borvan external programs test: not a virus\n"
        import hashlib
        self.write("sig/test.hdb", b"%s:%d:BorvanHashSig\n" % (
            hashlib.md5(self.infected).hexdigest().encode(), len(self.infected)))
        os.mkdir(self.path("empty-db"))
        with zipfile.ZipFile(self.path("t.zip"), "w") as z:
            z.writestr("clean.txt", "clean")
            z.writestr("deep/infected.bin", self.infected)

    def test_scan_without_signatures_did_not_run(self):
        for template in ("-d %s -r %%d" % self.path("empty-db"),
                         "-d %s -r %%d" % self.path("no-such-db")):
            with self.subTest(template=template):
                self.settings("[Programs]\nscan=clamscan\nscanp=%s\n" % template)
                r = self.run_borvan("--headless", "/vscan", self.path("t.zip"))
                self.assertNotEqual(r.returncode, 0)
                self.assertIn(b"the scan did not run", r.stderr)
                self.assertIn(b"rror", r.stderr.split(b"the scan did not run")[1])
                self.assertNotIn(b"complete", r.stdout + r.stderr)

    def test_finding_named_headless_and_in_the_window(self):
        self.settings("[Programs]\nscan=clamscan\nscanp=--no-summary -d %s -r %%d\n" %
                      self.path("sig", "test.hdb"))
        r = self.run_borvan("--headless", "/vscan", self.path("t.zip"))
        self.assertEqual(r.returncode, 1, r.stdout + r.stderr)
        self.assertIn(b"Virus scanning operation complete.", r.stdout)
        self.assertIn(b"The scanner reported:\ndeep/infected.bin: BorvanHashSig", r.stdout)
        env = {"XDG_CONFIG_HOME": self.config, "XDG_RUNTIME_DIR": self.path("run"),
               "TMPDIR": self.dir, "LC_ALL": "C.UTF-8", "HOME": self.home,
               "PATH": os.environ["PATH"]}
        os.makedirs(self.path("run"), mode=0o700)
        t = Tmux([BORVAN32, self.path("t.zip")], cols=110, rows=30, env=env)
        self.addCleanup(t.close)
        t.wait_for("Total 2 files")
        t.keys("C-s")
        screen = t.wait_for("Virus scanning operation complete.", timeout=60)
        self.assertIn("deep/infected.bin: BorvanHashSig", screen)


class CheckOut(Base):
    def setUp(self):
        super().setUp()
        fake = self.write("bin/xdg-open", b"#!/bin/sh\nexit 0\n", 0o755)
        self.env["PATH"] = os.path.dirname(fake) + os.pathsep + os.environ["PATH"]
        inner = self.path("inner.zip")
        with zipfile.ZipFile(inner, "w") as z:
            z.writestr("nested member.txt", "inside")
        with zipfile.ZipFile(self.path("t.zip"), "w") as z:
            z.writestr("readme.txt", "read me")
            z.write(inner, "sub/inner.zip")
        self.group = os.path.join(self.home, "data", "applications", "borvan-checkout", "G")

    def test_folder_rule(self):
        os.mkdir(self.path("work"))
        refused = b"Invalid CheckOut folder.  Cannot specify "
        for folder, reason in (("/", b"the root folder"),
                               (self.home, b"the home folder"),
                               (self.path("work"), b"the current folder"),
                               (self.dir, b"the temporary folder"),
                               ("/usr/share/borvan-checkout", b"a system folder"),
                               ("/etc", b"a system folder")):
            with self.subTest(folder=folder):
                r = self.run_borvan("--checkout=G", self.path("t.zip"), folder,
                                    cwd=self.path("work"))
                self.assertEqual(r.returncode, 1, r.stdout)
                self.assertIn(refused + reason, r.stderr)
        # Anywhere else will do: outside home, and a folder named relative to the current one.
        for folder, made in ((self.path("elsewhere", "t"), self.path("elsewhere", "t")),
                             ("../relative", self.path("relative"))):
            with self.subTest(folder=folder):
                r = self.run_borvan("--checkout=G", "--yes", self.path("t.zip"), folder,
                                    cwd=self.path("work"))
                self.assertEqual(r.returncode, 0, r.stderr)
                self.assertEqual(self.read(made, "readme.txt"), b"read me")

    def test_nested_archive_launcher_opens_without_a_terminal(self):
        folder = self.path("co")
        r = self.run_borvan("--checkout=G", self.path("t.zip"), folder)
        self.assertEqual(r.returncode, 0, r.stderr)
        entries = {}
        for name in os.listdir(self.group):
            with open(os.path.join(self.group, name)) as f:
                keys = dict(line.rstrip("\n").split("=", 1) for line in f if "=" in line)
            entries[keys["Name"]] = keys
        nested = entries["sub/inner.zip"]
        # The desktop starts it in a terminal; the window needs one.
        self.assertEqual(nested["Terminal"], "true")
        self.assertEqual(entries["readme.txt"]["Terminal"], "false")
        args = nested["Exec"].split(" ")
        self.assertEqual(args[1:], ["/ni", os.path.join(folder, "sub", "inner.zip")])
        # Started as a desktop does, with no terminal at all: it still opens the archive.
        r = subprocess.run(args, capture_output=True, stdin=subprocess.DEVNULL, cwd=folder,
                           env=self.env, timeout=60, start_new_session=True)
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertIn(b"nested member.txt", r.stdout)
        # In the terminal the desktop gives it, the window shows the archive.
        env = {"XDG_CONFIG_HOME": self.config, "XDG_RUNTIME_DIR": self.path("run"),
               "TMPDIR": self.dir, "LC_ALL": "C.UTF-8", "HOME": self.home}
        os.makedirs(self.path("run"), mode=0o700)
        t = Tmux(args, cols=100, rows=24, env=env)
        self.addCleanup(t.close)
        t.wait_for("nested member.txt")


class Window(Base):
    def start(self, *args):
        env = {"XDG_CONFIG_HOME": self.config, "XDG_RUNTIME_DIR": self.path("run"),
               "TMPDIR": self.dir, "LC_ALL": "C.UTF-8", "HOME": self.home,
               "PATH": self.env.get("PATH", os.environ["PATH"])}
        os.makedirs(self.path("run"), mode=0o700, exist_ok=True)
        t = Tmux([BORVAN32, *args], cols=110, rows=30, env=env)
        self.addCleanup(t.close)
        return t

    def test_test_command_for_each_kind(self):
        lzh = os.path.join(TESTDATA, "lzh", "lha_unix114i", "h2_lh7.lzh")
        self.settings("[Programs]\narc=%s\n[Borvan]\nnewinstance=1\n" % need("nomarch"))
        for archive in (self.make_arj(), lzh, self.make_arc()):
            with self.subTest(archive=os.path.basename(archive)):
                t = self.start(archive)
                t.wait_for("Total ")
                t.keys("C-t")
                t.wait_for("without errors", timeout=30)
                t.keys("Enter")
                t.keys("C-q")
                t.wait_for(lambda s: t.dead(), timeout=10)
                t.close()
                bad = self.damaged(archive)
                t = self.start(bad)
                t.wait_for("Total ")
                t.keys("C-t")
                screen = t.wait_for("rror", timeout=30)
                self.assertNotIn("without errors", screen)
                t.keys("Enter")
                t.keys("C-q")
                t.wait_for(lambda s: t.dead(), timeout=10)
                t.close()

    def test_lzh_add_and_delete_through_jlha(self):
        need("jlha")
        shutil.copyfile(os.path.join(TESTDATA, "lzh", "lha_unix114i", "h2_lh7.lzh"),
                        self.path("t.lzh"))
        self.write("added.txt", b"added in the window\n")
        self.settings("[Borvan]\nnewinstance=1\n")
        self.addCleanup(os.chdir, os.getcwd())
        os.chdir(self.dir)  # the Add dialog starts in the current folder
        t = self.start(self.path("t.lzh"))
        t.wait_for("Total 1 file")
        t.keys("C-a")
        t.wait_for("File name:")
        t.text("added.txt")
        t.keys("Enter")
        t.wait_for("Total 2 files", timeout=60)
        r = self.run_borvan("-l", self.path("t.lzh"))
        self.assertEqual(rows(r.stdout), [("added.txt", ""), ("gpl-2", "")])
        # The first row goes, whichever it is.
        t.keys("Home", "Space")
        t.wait_for("Selected 1 file")
        t.keys("C-d")
        t.wait_for("Entire Archive")
        t.keys("Enter")
        t.wait_for("Total 1 file", timeout=60)
        r = self.run_borvan("-l", self.path("t.lzh"))
        self.assertEqual(len(rows(r.stdout)), 1, r.stdout)
        self.assertEqual(self.leftovers(self.dir), [])

    def test_self_extracting_lzh_opens_after_no(self):
        t = self.start(os.path.join(TESTDATA, "lzh", "lha213", "sfx.exe"))
        t.wait_for("Would you like to run this executable file?")
        t.keys("n")
        t.wait_for("Total ")

    def test_stop_ends_the_archiver(self):
        arc = self.make_arc()
        fake = self.write("bin/arc", b"#!/bin/sh\necho $$ > '%s'\necho partial > a.txt\n"
                          b"exec sleep 600\n" % self.path("pid").encode(), 0o755)
        os.mkdir(self.path("out"))
        self.settings("[Programs]\narc=%s\n[directories]\ngzExtractTo=1\nExtractTo=%s\n" %
                      (fake, self.path("out")))
        t = self.start(arc)
        t.wait_for("Total 2 files")
        t.keys("C-e")
        t.wait_for("Extract To:")
        t.keys("Enter")
        wait_until(lambda: os.path.exists(self.path("pid")) and
                   os.path.getsize(self.path("pid")) > 0)
        pid = int(self.read("pid"))
        t.keys("x")
        t.wait_for("Stop the current operation?")
        t.keys("y")
        t.wait_for("was stopped", timeout=20)
        wait_until(lambda: not alive(pid), timeout=10)
        self.assertEqual(os.listdir(self.path("out")), [])


if __name__ == "__main__":
    unittest.main()
