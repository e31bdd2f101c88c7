"""End-to-end tests of the chat client's DDE channel and its file commands, driven headless:
requests and COMMAND pokes from a second process (vesk32 --dde), $dde and the paced /dde queue
between two running clients, a peer of another user refused, and /write and /play (pacing
and stop) against a scripted server. Every wait is bounded.
"""
import os
import re
import shutil
import stat
import subprocess
import sys
import tempfile
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from chat_connection_test import IDENTITY, Client, ScriptedServer, options  # noqa: E402
from tmux_harness import wait_until  # noqa: E402

VESK32 = os.environ.get("VESK32", "build/chat/vesk32")


class DdeTests(unittest.TestCase):
    def setUp(self):
        self.runtime = tempfile.mkdtemp(prefix="vesk-dde-run-")
        self.old_runtime = os.environ.get("XDG_RUNTIME_DIR")
        os.environ["XDG_RUNTIME_DIR"] = self.runtime
        self.clients, self.servers = [], []

    def tearDown(self):
        for c in self.clients:
            c.kill()
        for s in self.servers:
            s.stop()
        if self.old_runtime is None:
            os.environ.pop("XDG_RUNTIME_DIR", None)
        else:
            os.environ["XDG_RUNTIME_DIR"] = self.old_runtime
        shutil.rmtree(self.runtime, ignore_errors=True)

    def client(self, name, extra="", args=()):
        ini = IDENTITY + "[DDE]\nServerStatus=on\nServiceName=%s\n" % name + extra
        c = Client(list(args), ini)
        self.clients.append(c)
        c.expect(r"^\*\*\* DDE Server is ON \(%s\)$" % re.escape(name))
        return c

    def dde(self, *args, program=VESK32, **kw):
        return subprocess.run([program, "--dde"] + list(args), capture_output=True, timeout=20,
                              **kw)

    def test_requests_and_pokes_from_another_process(self):
        c = self.client("E2E")
        folder = os.path.join(self.runtime, "vesk32")
        self.assertEqual(stat.S_IMODE(os.stat(folder).st_mode), 0o700)
        self.assertEqual(stat.S_IMODE(os.stat(os.path.join(folder, "E2E.sock")).st_mode), 0o600)
        for topic in ("VERSION", "version", "Version"):
            r = self.dde("E2E", topic, "x")
            self.assertEqual((r.returncode, r.stdout), (0, b"Vesk32 4.1\n"), topic)
        self.assertEqual(self.dde("E2E", "TROUT").stdout, b"WHOP! THWACK! SLAP!\n")
        self.assertEqual(self.dde("E2E", "CONNECTED").stdout, b"not connected\n")
        self.assertEqual(self.dde("E2E", "NOSUCH").returncode, 1)
        self.assertEqual(self.dde("NoSuchService", "VERSION").returncode, 1)
        # A poked command line is evaluated like a script's: $dde asks our own server.
        r = self.dde("E2E", "COMMAND", "-p", "/echo poked $dde E2E VERSION x")
        self.assertEqual(r.returncode, 0)
        c.expect(r"^poked Vesk32 4\.1$")

    def test_poked_join_and_channels_answer(self):
        srv = ScriptedServer()
        self.servers.append(srv)
        c = self.client("Chan", args=["-s", "127.0.0.1:%d" % srv.port])
        peer = srv.accept()
        peer.read_until("USER ")
        peer.send(":srv 001 tester :Welcome\r\n")
        c.expect(r"Welcome")
        self.assertEqual(self.dde("Chan", "CONNECTED").stdout, b"connected\n")
        self.assertEqual(self.dde("Chan", "COMMAND", "-p", "/join #a").returncode, 0)
        self.assertEqual(peer.read_until("JOIN"), "JOIN #a\r")
        peer.send(":tester!u@h JOIN :#a\r\n:srv 353 tester = #a :@tester other\r\n"
                  ":srv 366 tester #a :End\r\n:tester!u@h JOIN :#b\r\n")

        def channels_with_b():
            answer = self.dde("Chan", "CHANNELS").stdout.decode().strip()
            return answer if "#b" in answer else None
        answer = wait_until(channels_with_b, what="#b in the CHANNELS answer")
        self.assertEqual(sorted(answer.replace("*", "").split()), ["#a", "#b"])
        self.assertEqual(answer.count("*"), 1)
        self.assertEqual(self.dde("Chan", "USERS", "#a").stdout, b"#a @tester other\n")

    def test_dde_queue_between_two_clients_is_paced(self):
        receiver = self.client("Recv")
        sender = self.client("Send", options(options={7: 800}))  # 800 ms between pokes
        # Timed from before the first poke: a busy machine may show us the first one late,
        # but the second cannot leave sooner than the delay after the first.
        started = time.monotonic()
        sender.type("/dde Recv COMMAND ITEM /echo first-poke")
        sender.type("/dde Recv COMMAND ITEM /echo second-poke")
        receiver.expect(r"^first-poke$")
        receiver.expect(r"^second-poke$")
        self.assertGreaterEqual(time.monotonic() - started, 0.79)
        sender.type("/dde Recv")
        sender.expect(r"^\* Invalid /dde parameters$")
        sender.type("/speak")
        sender.expect(r"^\*\*\* Nothing to speak$")
        sender.type("/ddeserver off")
        sender.expect(r"^\*\*\* DDE Server is OFF \(Send\)$")
        self.assertEqual(self.dde("Send", "VERSION").returncode, 1)
        sender.type("/ddeserver on Renamed")
        sender.expect(r"^\*\*\* DDE Server is ON \(Renamed\)$")
        self.assertEqual(self.dde("Renamed", "VERSION").stdout, b"Vesk32 4.1\n")

    @unittest.skipUnless(os.geteuid() == 0, "switching users needs root")
    def test_peer_of_another_user_is_refused(self):
        self.client("Mine")
        folder = os.path.join(self.runtime, "vesk32")
        # Open the way on purpose: only the peer check is left to refuse the stranger.
        os.chmod(self.runtime, 0o755)
        os.chmod(folder, 0o755)
        os.chmod(os.path.join(folder, "Mine.sock"), 0o666)
        # The stranger runs a copy of the program: the build folder may sit where only its
        # owner can reach (a clone in a private folder), which would refuse the start itself.
        programs = os.path.join(self.runtime, "bin")
        os.mkdir(programs, 0o755)
        stranger = shutil.copy(VESK32, os.path.join(programs, "vesk32"))
        os.chmod(stranger, 0o755)

        def become_nobody():
            os.setgid(65534)
            os.setuid(65534)
        env = dict(os.environ, XDG_RUNTIME_DIR=self.runtime)
        # The stranger can run at all (a wrong call gets the usage), so a refusal is the check's.
        r = self.dde(program=stranger, preexec_fn=become_nobody, env=env)
        self.assertEqual(r.returncode, 2, r.stderr)
        r = self.dde("Mine", "VERSION", program=stranger, preexec_fn=become_nobody, env=env)
        self.assertEqual(r.returncode, 1)
        self.assertEqual(r.stdout, b"")
        self.assertEqual(self.dde("Mine", "VERSION").stdout, b"Vesk32 4.1\n")


class FileCommandTests(unittest.TestCase):
    def setUp(self):
        self.srv = ScriptedServer()
        self.client = None

    def tearDown(self):
        if self.client:
            self.client.kill()
        self.srv.stop()

    def start(self):
        self.client = Client(["-s", "127.0.0.1:%d" % self.srv.port], IDENTITY)
        peer = self.srv.accept()
        peer.read_until("USER ")
        peer.send(":srv 001 tester :Welcome\r\n")
        self.client.expect(r"Welcome")
        return self.client, peer

    def test_write_edits_files_in_the_settings_folder(self):
        c, _ = self.start()
        path = os.path.join(c.dir, "vesk32", "log.txt")
        for line in ("/write log.txt one", "/write log.txt two", "/write -l3 log.txt x",
                     "/write -d log.txt", "/write -s#a -d log.txt", "/write log.txt #a chan",
                     "/write log.txt #ab other", "/write -s#a -d log.txt"):
            c.type(line)
        c.type("/echo written")
        c.expect(r"^written$")
        with open(path) as f:
            self.assertEqual(f.read(), "one\ntwo\n#ab other\n")

    def test_play_pacing_and_stop(self):
        c, peer = self.start()
        with open(os.path.join(c.dir, "vesk32", "lines.txt"), "w") as f:
            f.write("".join("line %d $me\n" % i for i in range(1, 30)))
        # Timed from before the command: we may read a line late, never early, and the
        # third line comes at least two delays after the first.
        started = time.monotonic()
        c.type("/play #a lines.txt 300")
        c.expect(r"^\* Playing lines\.txt to #a with 300ms delay$")
        for i in (1, 2, 3):
            self.assertEqual(peer.read_until("PRIVMSG"), "PRIVMSG #a :line %d $me\r" % i)
        self.assertGreaterEqual(time.monotonic() - started, 0.59)
        c.type("/play stop")
        c.expect(r"^\* Play queue has been cleared$")
        # Lines that left before the stop was taken may still be unread (a busy machine reads
        # them late); a line sent after the stop comes behind them.
        c.type("/privmsg #a :after-stop")
        self.assertIn("after-stop", peer.read_until("PRIVMSG #a :after-stop"))
        # Nothing is played after the stop: more than three delays later, the next line the
        # server gets is our second one.
        time.sleep(1.0)
        c.type("/privmsg #a :later")
        self.assertEqual(peer.read_until("PRIVMSG"), "PRIVMSG #a :later\r")


if __name__ == "__main__":
    unittest.main()
