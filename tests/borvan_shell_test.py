#!/usr/bin/env python3
"""End-to-end: the borvan32 command line around the engines: signals stop a run cleanly,
archive kinds are told apart before a zip reader sees the file, questions report the answer
taken, listing names and formats, and the zip commands' switch and name rules."""

import os
import pty
import select
import shutil
import signal
import socket
import subprocess
import sys
import termios
import tempfile
import time
import unittest
import zipfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "platform",
                                "tui", "demo"))
from tmux_harness import Tmux, slack  # noqa: E402

BORVAN32 = os.environ.get("BORVAN32", "borvan32")
TESTDATA = os.environ.get("TESTDATA", "")
BIG = 200 * 1000 * 1000


def run(*args, cwd=None, env=None):
    return subprocess.run([BORVAN32, *args], cwd=cwd, env=env, capture_output=True, text=True,
                          timeout=300)


class SignalTest(unittest.TestCase):
    """A signal sent once the big member is under way; the run must end through the stop
    path, whatever it was doing."""

    @classmethod
    def setUpClass(cls):
        cls.dir = tempfile.mkdtemp(prefix="borvan_signal_")
        cls.big = os.path.join(cls.dir, "big.bin")
        with open(cls.big, "wb") as f:
            for _ in range(BIG // (1 << 20)):
                f.write(os.urandom(1 << 20))
        with open(os.path.join(cls.dir, "small.txt"), "wb") as f:
            f.write(b"small\n")
        # small first, then big, stored: quick to make, long enough to read back.
        cls.stored = os.path.join(cls.dir, "stored.zip")
        for name in ("small.txt", "big.bin"):
            r = run("-a", "-e0", cls.stored, name, cwd=cls.dir)
            assert r.returncode == 0, r.stderr

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.dir, ignore_errors=True)

    def interrupt(self, args, started, sig, cwd=None):
        """Runs borvan32 and sends sig right after the line `started` appears on stdout."""
        p = subprocess.Popen([BORVAN32, *args], cwd=cwd or self.dir, stdout=subprocess.PIPE,
                             stderr=subprocess.PIPE, text=True)
        seen = []
        for line in p.stdout:
            seen.append(line)
            if started in line:
                p.send_signal(sig)
                break
        out, err = p.communicate(timeout=300)
        self.assertEqual(p.returncode, -sig, "".join(seen) + out + err)
        self.assertIn("Stopped by signal", err)
        return err

    def temp_files(self, folder):
        return [n for n in os.listdir(folder) if n.startswith("_Z")]

    def test_zip_commands_leave_the_old_archive_untouched(self):
        for args, started, sig in [
            (["-a", "-ex", "work.zip", "big.bin"], "Adding big.bin", signal.SIGINT),
            (["-u", "-ex", "work.zip", "big.bin"], "Adding big.bin", signal.SIGTERM),
            (["-m", "work.zip", "big.bin"], "Adding big.bin", signal.SIGHUP),
            (["-d", "work.zip", "small.txt"], "deleting small.txt", signal.SIGINT),
        ]:
            with self.subTest(args=args, sig=sig):
                work = os.path.join(self.dir, "work.zip")
                if args[0] == "-d":
                    shutil.copyfile(self.stored, work)
                else:  # big.bin is added anew
                    with zipfile.ZipFile(work, "w") as z:
                        z.writestr("small.txt", "small\n")
                with open(work, "rb") as f:
                    before = f.read()
                self.interrupt(args, started, sig)
                with open(work, "rb") as f:
                    self.assertEqual(f.read(), before)
                self.assertEqual(self.temp_files(self.dir), [])
                self.assertTrue(os.path.exists(self.big))  # a stopped move deletes nothing

    def test_extract_and_test_leave_no_partial_output(self):
        target = os.path.join(self.dir, "out")
        for args, started, sig in [
            (["-e", self.stored, target], "Extracting big.bin", signal.SIGINT),
            (["-e", "-o", self.stored, target], "Extracting big.bin", signal.SIGTERM),
            (["-t", self.stored], "Testing big.bin", signal.SIGHUP),
        ]:
            with self.subTest(args=args, sig=sig):
                shutil.rmtree(target, ignore_errors=True)
                self.interrupt(args, started, sig)
                if args[0] == "-e":
                    # The member before the stop is whole; the one being written is gone.
                    self.assertEqual(os.listdir(target), ["small.txt"])

    def test_password_prompt_gives_the_terminal_back(self):
        secret = os.path.join(self.dir, "secret.zip")
        r = run("-a", "--password=pw", secret, "small.txt", cwd=self.dir)
        self.assertEqual(r.returncode, 0, r.stderr)
        for key, expect_signal in [(b"\x03", True), (b"\x1b", False)]:
            with self.subTest(key=key):
                pid, fd = pty.fork()
                if pid == 0:
                    os.execv(BORVAN32, [BORVAN32, "-t", secret])
                before = termios.tcgetattr(fd)
                out = b""
                deadline = time.time() + 30
                while b"Password: " not in out and time.time() < deadline:
                    if select.select([fd], [], [], 1)[0]:
                        out += os.read(fd, 1024)
                self.assertIn(b"Password: ", out)
                os.write(fd, b"ab" + key)
                try:
                    while select.select([fd], [], [], 5)[0]:
                        if not os.read(fd, 1024):
                            break
                except OSError:
                    pass
                after = termios.tcgetattr(fd)
                _, status = os.waitpid(pid, 0)
                os.close(fd)
                if expect_signal:
                    self.assertTrue(os.WIFSIGNALED(status) and
                                    os.WTERMSIG(status) == signal.SIGINT, status)
                else:
                    self.assertTrue(os.WIFEXITED(status) and os.WEXITSTATUS(status) != 0)
                # Echo and line editing are back as they were before the prompt.
                self.assertEqual(after[3] & (termios.ECHO | termios.ICANON),
                                 before[3] & (termios.ECHO | termios.ICANON))


class KindTest(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="borvan_kind_")
        self.env = dict(os.environ, XDG_CONFIG_HOME=os.path.join(self.dir, "config"))
        with zipfile.ZipFile(os.path.join(self.dir, "real.zip"), "w") as z:
            z.writestr("inside.txt", "hello\n")

    def tearDown(self):
        shutil.rmtree(self.dir, ignore_errors=True)

    def path(self, name):
        return os.path.join(self.dir, name)

    def copy_real(self, name):
        shutil.copyfile(self.path("real.zip"), self.path(name))
        return self.path(name)

    def test_other_kinds_are_refused_by_name(self):
        with open(self.path("plain.txt"), "wb") as f:
            f.write(b"text " * 1000)
        subprocess.run(["gzip", "-k", self.path("plain.txt")], check=True)
        shutil.copyfile(self.path("plain.txt.gz"), self.path("gzipped.dat"))
        # Kinds read by the engine itself open, but cannot be changed.
        read_only = [
            (self.path("plain.txt.gz"), "is a gzip or Unix compress file"),
            (self.path("gzipped.dat"), "is a gzip or Unix compress file"),
            (self.copy_real("zip.tar"), "is a tar archive"),  # the extension wins
        ]
        if TESTDATA:
            read_only += [(os.path.join(TESTDATA, "kwaj/f00.kwj"),
                           "is a Microsoft Compress file")]
        for archive, text in read_only:
            with self.subTest(archive=archive, command="-d"):
                r = run("-d", archive, "x", cwd=self.dir, env=self.env)
                self.assertNotEqual(r.returncode, 0)
                self.assertIn(archive + " " + text + "; this kind cannot be changed", r.stderr)
        r = run("-l", self.path("gzipped.dat"), cwd=self.dir, env=self.env)
        self.assertNotIn("not supported yet", r.stderr)
        cases = [
            (self.copy_real("zip.arj"), "is an ARJ archive"),  # the extension wins
            (self.copy_real("mail.uue"), "is an encoded mail file"),
        ]
        refusals = {"is an ARJ archive": "File does not appear to be a valid ARJ archive",
                    "is an LZH archive": "No files found for specified action",
                    "is an ARC archive": "ARC archives can only be extracted"}
        if TESTDATA:
            # Copies: a delete that went through would change the shared file.
            for name, text in (("lzh/lha213/lh5.lzh", "is an LZH archive"),
                               ("arc/sc_Arc.crunched.arc", "is an ARC archive")):
                copy = self.path(os.path.basename(name))
                shutil.copyfile(os.path.join(TESTDATA, name), copy)
                cases.append((copy, text))
        for archive, text in cases:
            # ARJ, LZH and ARC archives are listed by their own readers and changed by their
            # programs (tests/external_programs_test.py), which refuse what they cannot do.
            mail = text == "is an encoded mail file"
            for command in (["-l"], ["-t"], ["-e"], ["-d"]) if mail else (["-d"],):
                with self.subTest(archive=archive, command=command):
                    with open(archive, "rb") as f:
                        before = f.read()
                    args = command + [archive] + (["x"] if command == ["-d"] else [])
                    r = run(*args, cwd=self.dir, env=self.env)
                    self.assertNotEqual(r.returncode, 0)
                    if mail and command == ["-d"]:
                        self.assertIn(archive + " " + text + "; this kind cannot be changed",
                                      r.stderr)
                    elif mail:
                        # A zip named as a mail file is read as mail: nothing encoded in it.
                        self.assertEqual(r.returncode, 2)
                        self.assertIn(archive + ": no encoded file found", r.stderr)
                    else:
                        self.assertIn(refusals[text], r.stderr)
                    self.assertNotIn("not a valid", r.stderr)
                    with open(archive, "rb") as f:
                        self.assertEqual(f.read(), before)
        for command in ("-l", "-t", "-e"):
            with self.subTest(archive="zip.arj", command=command):
                r = run(command, self.path("zip.arj"), cwd=self.dir, env=self.env)
                self.assertNotEqual(r.returncode, 0)
                self.assertIn("File does not appear to be a valid ARJ archive", r.stderr)

    def test_zip_content_opens_whatever_the_name(self):
        for name in ("real.dat", "real.ZIP", "real.exe"):
            with self.subTest(name=name):
                r = run("-l", self.copy_real(name), cwd=self.dir, env=self.env)
                self.assertEqual(r.returncode, 0, r.stderr)
                self.assertIn("inside.txt", r.stdout)

    def test_unrecognised_content_takes_the_configured_default(self):
        with open(self.path("notes.txt"), "wb") as f:
            f.write(b"just some words\n")
        r = run("-l", self.path("notes.txt"), env=self.env)
        self.assertNotEqual(r.returncode, 0)
        self.assertNotIn("not supported yet", r.stderr)  # zip: the zip reader's own message
        record = bytearray(225)
        record[70] = 3  # ARJ
        opts = record.hex().upper() + "%02X" % (sum(record) % 256)
        os.makedirs(os.path.join(self.env["XDG_CONFIG_HOME"], "borvan32"))
        with open(os.path.join(self.env["XDG_CONFIG_HOME"], "borvan32", "borvan32.ini"),
                  "w") as f:
            f.write("[Borvan]\nOpts=%s\n" % opts)
        r = run("-l", self.path("notes.txt"), env=self.env)
        self.assertIn("File does not appear to be a valid ARJ archive", r.stderr)

    def test_missing_archive_is_named(self):
        os.makedirs(self.path("folder.zip"))
        for command in ("-l", "-t", "-e"):
            for given, opened in [("nothing", "nothing.zip"), ("folder.zip", "folder.zip")]:
                with self.subTest(command=command, given=given):
                    r = run(command, self.path(given), env=self.env)
                    self.assertNotEqual(r.returncode, 0)
                    self.assertIn("Can't open input file: " + self.path(opened), r.stderr)


class ShellTest(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="borvan_shell_")
        self.env = dict(os.environ, XDG_CONFIG_HOME=os.path.join(self.dir, "config"))

    def tearDown(self):
        shutil.rmtree(self.dir, ignore_errors=True)

    def path(self, name):
        return os.path.join(self.dir, name)

    def test_overwrite_question_reports_its_answer(self):
        archive = self.path("a.zip")
        with zipfile.ZipFile(archive, "w") as z:
            z.writestr("f.txt", "new\n")
        out = self.path("out")
        os.makedirs(out)
        with open(os.path.join(out, "f.txt"), "w") as f:
            f.write("old\n")
        r = run("-e", archive, out)
        self.assertIn("Replace the existing file %s/f.txt? (answered No" % out, r.stderr)
        with open(os.path.join(out, "f.txt")) as f:
            self.assertEqual(f.read(), "old\n")
        r = run("-e", "--yes", archive, out)
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertIn("Replace the existing file %s/f.txt? (answered Yes)" % out, r.stdout)
        with open(os.path.join(out, "f.txt")) as f:
            self.assertEqual(f.read(), "new\n")

    def test_long_and_accented_names_list_and_sort(self):
        archive = self.path("names.zip")
        long_name = "\u00e9" * 150 + ".txt"  # 154 characters, 304 bytes
        names = [long_name, "\u00c9cole.txt", "\u00e9t\u00e9.doc", "zebra.txt", "apple.txt",
                 "\u00e9a.txt"]
        with zipfile.ZipFile(archive, "w") as z:
            for n in names:
                z.writestr(n, "x")
        r = run("-l", "--sort=name", archive, env=self.env)
        self.assertEqual(r.returncode, 0, r.stderr)
        listed = [line.split("\t")[0] for line in r.stdout.splitlines()[1:-1]]
        # É and é sort as one letter, after the ASCII ones.
        self.assertEqual(listed, ["apple.txt", "zebra.txt", "\u00e9a.txt", "\u00c9cole.txt",
                                  "\u00e9t\u00e9.doc", long_name])

    def test_intl_settings_shape_dates_times_and_sizes(self):
        archive = self.path("dated.zip")
        with zipfile.ZipFile(archive, "w") as z:
            z.writestr(zipfile.ZipInfo("big.txt", (2021, 3, 4, 5, 6, 0)), "x" * 1234567)
        folder = os.path.join(self.env["XDG_CONFIG_HOME"], "borvan32")
        os.makedirs(folder)
        with open(os.path.join(folder, "borvan32.ini"), "w") as f:
            f.write("[Intl]\nsShortDate=dd.MM.yyyy\nsDate=.\nsTime=h\nsThousand=.\n")
        r = run("-l", archive, env=self.env)
        self.assertEqual(r.returncode, 0, r.stderr)
        row = r.stdout.splitlines()[1].split("\t")
        self.assertEqual(row[:4], ["big.txt", "04.03.21", "05h06", "1.234.567"])
        env = dict(self.env, XDG_CONFIG_HOME=self.path("none"), LC_ALL="C")
        row = run("-l", archive, env=env).stdout.splitlines()[1].split("\t")
        self.assertEqual(row[:4], ["big.txt", "03/04/21", "05:06", "1,234,567"])

    def test_zip_command_names_after_double_dash_and_backslashes(self):
        for name, data in [("-dash.txt", b"dash\n"), ("back\\slash.txt", b"slash\n"),
                           ("..\\..\\up.txt", b"up\n")]:
            with open(self.path(name), "wb") as f:
                f.write(data)
        r = run("-a", "--", "-archive.zip", "-dash.txt", "back\\slash.txt", "..\\..\\up.txt",
                cwd=self.dir)
        self.assertEqual(r.returncode, 0, r.stderr)
        with zipfile.ZipFile(self.path("-archive.zip")) as z:
            self.assertEqual(sorted(z.namelist()), ["-dash.txt", "back\\slash.txt", "up.txt"])
            self.assertEqual(z.read("back\\slash.txt"), b"slash\n")
        r = run("-a", "-archive.zip", "x", cwd=self.dir)
        self.assertEqual(r.returncode, 2)  # without "--" it is a switch
        self.assertIn("Borvan parameter validation error", r.stderr)

    def test_help_names_the_additions(self):
        r = run("--help")
        self.assertEqual(r.returncode, 0)
        for text in ('"--"', "SIGTERM", "[Intl]"):
            self.assertIn(text, r.stdout)


def wait_until(predicate, timeout=10.0):
    deadline = time.monotonic() + slack(timeout)
    while not predicate():
        if time.monotonic() > deadline:
            return False
        time.sleep(0.05)
    return True


class ManagerStartTest(unittest.TestCase):
    """The full-screen manager in a terminal: the hand-over from a later start, stale sockets
    of a crashed instance, and the settings written on exit."""

    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="borvan_start_")
        self.run_dir = os.path.join(self.dir, "run")
        os.mkdir(self.run_dir, 0o700)
        self.sockets = os.path.join(self.run_dir, "borvan32")
        self.config = os.path.join(self.dir, "config")
        self.ini = os.path.join(self.config, "borvan32", "borvan32.ini")
        self.env = {"XDG_RUNTIME_DIR": self.run_dir, "XDG_CONFIG_HOME": self.config,
                    "HOME": self.dir}
        self.panes = []
        for archive, member in (("a.zip", "alpha.txt"), ("b.zip", "beta.txt")):
            with zipfile.ZipFile(self.path(archive), "w") as z:
                z.writestr(member, "text of %s\n" % member)

    def tearDown(self):
        for pane in self.panes:
            pane.close()
        shutil.rmtree(self.dir, ignore_errors=True)

    def path(self, name):
        return os.path.join(self.dir, name)

    def start(self, *args):
        pane = Tmux([BORVAN32, *args], env=self.env)
        self.panes.append(pane)
        return pane

    def live_sockets(self):
        try:
            return sorted(n for n in os.listdir(self.sockets) if n.endswith(".sock"))
        except OSError:
            return []

    def test_second_start_hands_its_archive_over(self):
        first = self.start(self.path("a.zip"))
        first.wait_for("alpha.txt", timeout=20)
        pid = first.program_pid(BORVAN32)
        self.assertTrue(wait_until(lambda: self.live_sockets() == ["%d.sock" % pid]),
                        self.live_sockets())
        mode = os.stat(self.sockets).st_mode & 0o777
        self.assertEqual(mode, 0o700)
        self.assertEqual(os.stat(os.path.join(self.sockets, "%d.sock" % pid)).st_mode & 0o777,
                         0o600)

        # Through a shell that stays, so the pane still shows what the quick start printed.
        second = Tmux(["sh", "-c", '"$0" "$1"; echo "exit status $?"; sleep 60', BORVAN32,
                       self.path("b.zip")], env=self.env)
        self.panes.append(second)
        second.wait_for("exit status 0", timeout=20)
        self.assertIn("handed over to the manager already running (process %d)" % pid,
                      second.screen())
        # The running manager opened what the later start named.
        first.wait_for("beta.txt", timeout=20)

        # "newinstance=1": a later start opens its own window instead.
        os.makedirs(os.path.dirname(self.ini), exist_ok=True)
        with open(self.ini, "a") as f:
            f.write("[Borvan]\nnewinstance=1\n")
        third = self.start(self.path("a.zip"))
        third.wait_for("alpha.txt", timeout=20)
        self.assertFalse(third.dead())
        self.assertTrue(wait_until(lambda: len(self.live_sockets()) == 2), self.live_sockets())

        # Each removes its socket when it ends.
        for pane in (first, third):
            pane.keys("C-q")
            self.assertTrue(wait_until(pane.dead), pane.screen())
        self.assertEqual(self.live_sockets(), [])

    def test_a_manager_that_does_not_answer_is_busy(self):
        # Under a shell: tmux wakes a stopped process it started itself.
        first = Tmux(["sh", "-c", '"$0" "$1"; true', BORVAN32, self.path("a.zip")], env=self.env)
        self.panes.append(first)
        first.wait_for("alpha.txt", timeout=20)
        pid = first.program_pid(BORVAN32)
        self.assertTrue(wait_until(lambda: self.live_sockets() == ["%d.sock" % pid]))
        os.kill(pid, signal.SIGSTOP)  # held up as by a long run
        try:
            for answer, opens in (("n", False), ("y", True)):
                with self.subTest(answer=answer):
                    later = Tmux(["sh", "-c", '"$0" "$1"; echo "exit status $?"; sleep 60',
                                  BORVAN32, self.path("b.zip")], cols=160, env=self.env)
                    self.panes.append(later)
                    later.wait_for("Do you want to start another Borvan session?", timeout=20)
                    self.assertIn("Existing Borvan window is busy or has an active dialog box.",
                                  later.screen())
                    later.keys(answer, "Enter")
                    if opens:
                        later.wait_for("beta.txt", timeout=20)
                        later.keys("C-q")
                    later.wait_for("exit status 0", timeout=20)
        finally:
            os.kill(pid, signal.SIGCONT)
        # The request the stopped manager found waiting when it went on is not carried out.
        time.sleep(1)
        self.assertNotIn("beta.txt", first.screen())
        self.assertIn("alpha.txt", first.screen())

    def test_stale_socket_of_a_crashed_instance_is_removed(self):
        os.mkdir(self.sockets, 0o700)
        stale = os.path.join(self.sockets, "99999999.sock")
        s = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        s.bind(stale)  # bound but never listening: what a killed instance leaves
        s.close()
        pane = self.start(self.path("b.zip"))
        # Nothing took the request, so this start opens its own window.
        pane.wait_for("beta.txt", timeout=20)
        pid = pane.program_pid(BORVAN32)
        self.assertTrue(wait_until(lambda: self.live_sockets() == ["%d.sock" % pid]),
                        self.live_sockets())
        # A crash leaves the socket; the next start steps over it.
        os.kill(pid, signal.SIGKILL)
        self.assertTrue(wait_until(pane.dead))
        self.assertEqual(self.live_sockets(), ["%d.sock" % pid])
        again = self.start(self.path("a.zip"))
        again.wait_for("alpha.txt", timeout=20)
        self.assertNotIn("handed over", again.screen())
        self.assertNotIn("%d.sock" % pid, self.live_sockets())

    def test_settings_written_on_exit_and_read_at_the_next_start(self):
        pane = self.start(self.path("a.zip"))
        pane.wait_for("alpha.txt", timeout=20)
        pane.keys("C-q")
        self.assertTrue(wait_until(pane.dead), pane.screen())
        with open(self.ini) as f:
            text = f.read()
        opts = [line[5:] for line in text.splitlines() if line.startswith("Opts=")]
        self.assertEqual(len(opts), 1, text)
        self.assertEqual(len(opts[0]), 452)
        record = bytes.fromhex(opts[0])
        self.assertEqual(sum(record[:-1]) % 256, record[-1])
        self.assertIn("Display=80,24", text)
        self.assertIn("[directories]", text)

        # Turned off in the file, the next run reads that and leaves the file alone at exit
        # (but for the recent-archives list, which opening an archive writes at once).
        with open(self.ini, "a") as f:
            f.write("; mine\n[Borvan]\nSaveSettings=0\n")
        with open(self.ini) as f:
            before = self.without_recent(f.read())
        pane = self.start(self.path("b.zip"))
        pane.wait_for("beta.txt", timeout=20)
        pane.keys("C-q")
        self.assertTrue(wait_until(pane.dead), pane.screen())
        with open(self.ini) as f:
            self.assertEqual(self.without_recent(f.read()), before)

    @staticmethod
    def without_recent(text):
        kept, skip = [], False
        for line in text.splitlines():
            if line.startswith("["):
                skip = line.lower() == "[filemenu]"
            if not skip:
                kept.append(line)
        return kept

    def test_inichange_makes_running_managers_read_their_settings(self):
        pane = self.start(self.path("a.zip"))
        pane.wait_for("alpha.txt", timeout=20)
        pane.keys("C-q")  # leaves a settings file with the option record
        self.assertTrue(wait_until(pane.dead), pane.screen())
        pane = self.start(self.path("a.zip"))
        pane.wait_for("alpha.txt", timeout=20)
        self.assertIn("Packed", pane.screen())
        self.assertTrue(wait_until(lambda: len(self.live_sockets()) == 1))
        with open(self.ini) as f:
            lines = f.read().splitlines()
        for i, line in enumerate(lines):
            if line.startswith("Opts="):
                record = bytearray(bytes.fromhex(line[5:])[:-1])
                record[0] = 0  # "Display Compressed Sizes" off
                lines[i] = "Opts=" + (bytes(record) + bytes([sum(record) % 256])).hex().upper()
        with open(self.ini, "w") as f:
            f.write("\n".join(lines) + "\n")
        r = subprocess.run([BORVAN32, "/inichange"], env=dict(os.environ, **self.env),
                           capture_output=True, text=True, timeout=30)
        self.assertEqual(r.returncode, 0, r.stderr)
        pane.wait_gone("Packed", timeout=20)
        self.assertIn("alpha.txt", pane.screen())

    def test_installation_defaults_restore_the_option_record(self):
        record = bytearray(225)  # every option off, the compressed sizes too
        os.makedirs(os.path.dirname(self.ini), exist_ok=True)
        with open(self.ini, "w") as f:
            f.write("[Borvan]\nOpts=%s%02X\n" % (record.hex().upper(), sum(record) % 256))
        pane = self.start(self.path("a.zip"))
        pane.wait_for("alpha.txt", timeout=20)
        self.assertNotIn("Packed", pane.screen())
        pane.keys("M-o")
        pane.wait_for("Save Settings Now")
        pane.keys("i")
        pane.wait_for("back to their defaults")
        pane.keys("n")  # No leaves them
        pane.wait_gone("back to their defaults")
        self.assertNotIn("Packed", pane.screen())
        pane.keys("M-o")
        pane.wait_for("Save Settings Now")
        pane.keys("i")
        pane.wait_for("back to their defaults")
        pane.keys("y")
        pane.wait_for("Packed")
        pane.keys("C-q")
        self.assertTrue(wait_until(pane.dead), pane.screen())
        with open(self.ini) as f:
            opts = [line[5:] for line in f.read().splitlines() if line.startswith("Opts=")]
        saved = bytes.fromhex(opts[0])
        self.assertEqual(saved[0], 1)  # compressed sizes
        self.assertEqual(saved[30], 1)  # use folder names
        self.assertEqual(saved[70], 1)  # zip by default

    def test_inichange_ends_at_once(self):
        started = time.monotonic()
        r = subprocess.run([BORVAN32, "/inichange"], env=dict(os.environ, **self.env),
                           capture_output=True, text=True, timeout=30)
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertLess(time.monotonic() - started, 10)

    def test_without_a_terminal_an_archive_is_listed(self):
        r = subprocess.run([BORVAN32, self.path("a.zip")], env=dict(os.environ, **self.env),
                           stdin=subprocess.DEVNULL, capture_output=True, text=True, timeout=60)
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertIn("alpha.txt", r.stdout)
        self.assertFalse(os.path.exists(self.sockets))  # headless runs take no hand-over


if __name__ == "__main__":
    unittest.main()
