"""End-to-end tests of DCC: file sends both ways with resume, chats and the file server.

vesk32 runs headless against a real ngircd on loopback. The other side is a second vesk32 and
weechat (headless, driven through its command pipe), a client with its own DCC code.
"""
import glob
import hashlib
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import chat_connection_test as base  # noqa: E402  (client driver, ngircd)
from tmux_harness import wait_until  # noqa: E402

WEECHAT = shutil.which("weechat-headless")
CI = bool(os.environ.get("CI"))


def sha(path):
    with open(path, "rb") as f:
        return hashlib.sha256(f.read()).hexdigest()


def make_file(path, size, seed=7):
    data = bytearray()
    block = hashlib.sha256(str(seed).encode()).digest()
    while len(data) < size:
        block = hashlib.sha256(block).digest()
        data += block * 64
    with open(path, "wb") as f:
        f.write(bytes(data[:size]))
    return path


def wait_for(predicate, timeout=10.0, what="condition"):
    wait_until(predicate, timeout, what)


def vesk_ini(nick, getdir, extra=""):
    return ("[Vesk]\nnick=%s\nanick=%s_\nuser=%s\nemail=%s@example.org\n[Dirs]\ngetdir=%s\n"
            "[FileServer]\nWarning=Off\n%s" % (nick, nick, nick, nick, getdir, extra))


class DccBase(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="vesk-dcc-")
        self.port = base.free_port()
        helper = base.NgircdTests("start_ngircd")
        helper.dir = self.dir
        self.ngircd = helper.start_ngircd(self.port)
        self.clients = []

    def tearDown(self):
        for c in self.clients:
            c.kill()
        if self.ngircd.poll() is None:
            self.ngircd.kill()
            self.ngircd.wait()
        shutil.rmtree(self.dir, ignore_errors=True)

    def folder(self, name):
        path = os.path.join(self.dir, name)
        os.makedirs(path, exist_ok=True)
        return path

    def vesk(self, nick, extra=""):
        getdir = self.folder("get-" + nick)
        c = base.Client(["-s", "127.0.0.1:%d" % self.port], ini=vesk_ini(nick, getdir, extra))
        c.getdir = getdir
        c.nick = nick
        self.clients.append(c)
        c.expect(r"^Welcome to the Internet Relay Network %s" % nick, timeout=10)
        return c


@unittest.skipUnless(base.NGIRCD or CI, "ngircd is not installed")
class VeskToVesk(DccBase):
    def send(self, a, b, path, name=None, accept=None):
        name = name or os.path.basename(path)
        a.type("/dcc send %s %s" % (b.nick, path))
        b.expect(r"^\*\*\* %s wants to send you: %s \(" % (a.nick, name), timeout=10)
        b.type(accept or "/dcc get %s" % a.nick)

    def test_sizes_both_ways(self):
        a, b = self.vesk("alice"), self.vesk("bob")
        src = self.folder("src")
        for size in (0, 1, 4095, 4096, 4097, 10 * 1024 * 1024):
            for x, y in ((a, b), (b, a)):
                name = "f%d-%s.bin" % (size, x.nick)
                path = make_file(os.path.join(src, name), size, seed=size)
                self.send(x, y, path)
                y.expect(r"^DCC Get completed", window="Get %s %s" % (x.nick, name), timeout=30)
                x.expect(r"^DCC Send completed$", window="Send %s %s" % (y.nick, name), timeout=30)
                self.assertEqual(sha(os.path.join(y.getdir, name)), sha(path), name)

    def test_resume_reports_only_the_new_bytes(self):
        a, b = self.vesk("alice"), self.vesk("bob")
        path = make_file(os.path.join(self.folder("src"), "r.bin"), 3000)
        with open(path, "rb") as f, open(os.path.join(b.getdir, "r.bin"), "wb") as g:
            g.write(f.read(1000))
        self.send(a, b, path)
        # Nothing is resumed or overwritten without an answer.
        b.expect(r"^\*\*\* The file you are about to DCC Get already exists\.$")
        b.type("/dcc get -r alice")
        w = "Get alice r.bin"
        b.expect(r"^Requesting resume at 1000 bytes\.\.\.$", window=w)
        b.expect(r"^Received: 2000 bytes in \d+ secs", window=w, timeout=10)
        b.expect(r"^DCC Get completed$", window=w)
        a.expect(r"^Resuming transfer at 1000 bytes$", window="Send bob r.bin")
        a.expect(r"^DCC Send completed$", window="Send bob r.bin")
        self.assertEqual(sha(os.path.join(b.getdir, "r.bin")), sha(path))

    def test_broken_transfer_is_incomplete_then_resumed(self):
        a, b = self.vesk("alice"), self.vesk("bob")
        path = make_file(os.path.join(self.folder("src"), "big.bin"), 24 * 1024 * 1024)
        # The break must come mid-file however fast the link: the sender is held while the
        # receiver connects, then the receiver is held, so that the sender can put no more
        # than its window of unacknowledged bytes on the wire before it is told to close.
        a.type("/dcc send bob %s" % path)
        b.expect(r"^\*\*\* alice wants to send you: big.bin \(", timeout=10)
        os.kill(a.proc.pid, signal.SIGSTOP)
        try:
            b.type("/dcc get alice")
            b.expect(r"^DCC Get connection established$", window="Get alice big.bin")
            os.kill(b.proc.pid, signal.SIGSTOP)
        finally:
            os.kill(a.proc.pid, signal.SIGCONT)
        try:
            a.type("/dcc close bob")
            a.caught_up()
        finally:
            os.kill(b.proc.pid, signal.SIGCONT)
        # The sender's close may come as a reset, seen by the next read or by the next
        # acknowledgement: either way the get is not complete.
        b.expect(r"^(DCC Get incomplete!|Error receiving data\.\.\. transfer aborted!|"
                 r"Error sending acknowledgement\.\.\. Aborted!)$",
                 window="Get alice big.bin", timeout=10)
        partial = os.path.getsize(os.path.join(b.getdir, "big.bin"))
        self.assertLess(partial, 24 * 1024 * 1024)
        b.type("/dcc close alice")
        self.send(a, b, path)
        b.expect(r"already exists\.$")
        b.type("/dcc get -r alice")
        b.expect(r"^DCC Get completed$", window="Get alice big.bin", timeout=60)
        self.assertEqual(sha(os.path.join(b.getdir, "big.bin")), sha(path))

    def test_hostile_offers_are_refused(self):
        a = self.vesk("alice")
        import chat_parser_server_test as parser
        mallory = parser.IrcPeer(self.port, "mallory")
        try:
            offers = [
                ("../x", r"^\*\*\* mallory wants to send you: x "),
                (".bashrc", r"^\*\*\* mallory wants to send you: _bashrc "),
                ("..", r"^\*\*\* Invalid DCC Send filename$"),
                ("vesk.ini", r"^\*\*\* Invalid DCC Send filename$"),
            ]
            for name, pattern in offers:
                mallory.send("PRIVMSG alice :\x01DCC SEND %s 2130706433 5000 10\x01\r\n" % name)
                a.expect(pattern)
                a.type("/dcc close mallory")
                a.caught_up()  # the next offer finds the last one closed
            for bad in ("a.bin 0 5000 10", "a.bin 4294967295 5000 10", "a.bin 3758096385 5000 1",
                        "a.bin 2130706433 80 10", "a.bin ::1::2 5000 10", "a.bin 2130706433 0 10"):
                mallory.send("PRIVMSG alice :\x01DCC SEND %s\x01\r\n" % bad)
                a.expect(r"^DCC Send request from mallory was rejected due to parameter error$")
            # The refusals reach the sender, within the automatic-reply limits.
            mallory.read_until("DCC SEND Invalid parameters!")
            mallory.send("PRIVMSG alice :\x01DCC RESUME file.ext 6000 10\x01\r\n")
            a.expect(r"^DCC RESUME request from mallory was rejected due to non-existent session$")
            # An offer sent to a channel is not taken.
            mallory.send("JOIN #x\r\n")
            a.type("/join #x")
            a.expect(r"^\*\*\* Now talking in #x|alice", window="#x")
            mallory.send("PRIVMSG #x :\x01DCC SEND evil 2130706433 5000 10\x01\r\n")
            a.expect(r"^\*\*\* DCC request from mallory to #x ignored$")
        finally:
            mallory.close()

    def test_send_of_a_resume_past_the_end_is_refused(self):
        a = self.vesk("alice")
        import chat_parser_server_test as parser
        mallory = parser.IrcPeer(self.port, "mallory")
        try:
            path = make_file(os.path.join(self.folder("src"), "s.bin"), 100)
            a.type("/dcc send mallory %s" % path)
            line = mallory.read_until("\x01DCC SEND s.bin")
            port = line.split()[-2]
            self.assertTrue(port.isdigit(), line)
            mallory.send("PRIVMSG alice :\x01DCC RESUME file.ext %s 101\x01\r\n" % port)
            a.expect(r"^DCC Resume request from mallory was rejected due to parameter error$")
            mallory.send("PRIVMSG alice :\x01DCC RESUME file.ext %s 100\x01\r\n" % port)
            mallory.read_until("DCC ACCEPT file.ext %s 100" % port)
        finally:
            mallory.close()

    def test_a_receiver_that_acknowledges_wrongly_is_stopped(self):
        a = self.vesk("alice")
        import socket
        import struct
        import chat_parser_server_test as parser
        mallory = parser.IrcPeer(self.port, "mallory")
        try:
            path = make_file(os.path.join(self.folder("src"), "w.bin"), 200000)
            a.type("/dcc send mallory %s" % path)
            port = int(mallory.read_until("\x01DCC SEND w.bin").split()[-2])
            with socket.create_connection(("127.0.0.1", port), timeout=10) as c:
                got = c.recv(65536)
                self.assertTrue(got)
                # Acknowledging bytes that were never sent, as if the file were all there.
                c.sendall(struct.pack(">I", 200000 + 1000))
                a.expect(r"^Wrong acknowledgement: 201000 bytes, after \d+ of \d+ sent\.\.\. "
                         r"aborted!$", window="Send mallory w.bin", timeout=10)
                a.expect(r"^DCC Send incomplete!$", window="Send mallory w.bin")
        finally:
            mallory.close()

    def test_chat_both_ways(self):
        a, b = self.vesk("alice"), self.vesk("bob")
        a.type("/dcc chat bob")
        b.expect(r"^\*\*\* alice wants to DCC Chat with you")
        b.type("/dcc chat alice")
        a.expect(r"^DCC Chat connection established$", window="Chat with bob")
        b.expect(r"^DCC Chat connection established$", window="Chat with alice")
        a.type("@@Chat with bob\thello bob")
        b.expect(r"<alice> hello bob$", window="Chat with alice")
        b.type("@@Chat with alice\thi alice")
        a.expect(r"<bob> hi alice$", window="Chat with bob")
        b.type("@@Chat with alice\t/me waves")
        a.expect(r"^\* bob waves$", window="Chat with bob")
        b.type("/msg =alice by name")
        a.expect(r"<bob> by name$", window="Chat with bob")
        b.type("/dcc close alice")
        a.expect(r"^DCC session closed$", window="Chat with bob")

    def test_chat_lines_run_the_events_script(self):
        # The events script of alice answers chat lines, and the answer goes back over the chat.
        a = self.vesk("alice", base.options(options3={7: 1, 14: 1}) +
                      "[Events]\ne0=1:on chat:*ping*:*:/msg =$nick pong $nick: $parms\n")
        b = self.vesk("bob")
        b.type("/dcc chat alice")
        a.expect(r"^\*\*\* bob wants to DCC Chat with you")
        a.type("/dcc chat bob")
        b.expect(r"^DCC Chat connection established$", window="Chat with alice")
        b.type("@@Chat with alice\tping one")
        b.expect(r"<alice> pong bob: ping one$", window="Chat with alice")
        b.type("@@Chat with alice\tno answer to this")
        self.assertTrue(b.absent(r"<alice> pong", 1.0))

    def test_quitting_while_a_transfer_runs_warns_and_ends(self):
        a, b = self.vesk("alice"), self.vesk("bob")
        path = make_file(os.path.join(self.folder("src"), "q.bin"), 1000)
        a.type("/dcc send bob %s" % path)
        b.expect(r"^\*\*\* alice wants to send you: q\.bin")
        a.type("/exit")
        a.expect(r"^\*\*\* There are DCC transfers in progress! Quitting breaks them off\.$")
        self.assertEqual(a.proc.wait(timeout=10), 0)

    def test_closing_a_transfer_window_frees_its_port_at_once(self):
        a, b = self.vesk("alice"), self.vesk("bob")
        path = make_file(os.path.join(self.folder("src"), "c.bin"), 1000)
        a.type("/dcc send bob %s" % path)
        b.expect(r"^\*\*\* alice wants to send you: c\.bin")
        a.type("/dcc close bob")
        a.caught_up()
        # The offer's listening socket went with the window: accepting now fails at once,
        # and the get waits for its time-out rather than receiving anything.
        b.type("/dcc get alice")
        b.expect(r"^Acknowledging send request\.\.\.$", window="Get alice c.bin")
        self.assertTrue(b.absent(r"^DCC Get connection established$", 1.5))
        # A new offer takes the freed slot and goes through.
        b.type("/dcc close alice")
        a.type("/dcc send bob %s" % path)
        b.expect(r"^\*\*\* alice wants to send you: c\.bin")
        b.type("/dcc get -o alice")
        b.expect(r"^DCC Get completed$", window="Get alice c.bin", timeout=10)

    def test_file_server_session(self):
        a, b = self.vesk("alice"), self.vesk("bob")
        home = self.folder("served")
        os.makedirs(os.path.join(home, "docs"))
        make_file(os.path.join(home, "docs", "x.txt"), 999)
        with open(os.path.join(home, "notes.txt"), "w") as f:
            f.write("".join("line %d\n" % i for i in range(1, 46)))
        os.makedirs(os.path.join(self.dir, "private"))
        with open(os.path.join(self.dir, "private", "secret"), "w") as f:
            f.write("secret\n")
        os.symlink(os.path.join(self.dir, "private"), os.path.join(home, "out"))
        a.type("/fserve bob 2 %s" % home)
        b.expect(r"^\*\*\* alice wants to DCC Chat with you")
        b.type("/dcc chat alice")
        w = "Chat with alice"
        b.expect(r"<alice> vesk32 v4.1 File Server$", window=w)
        b.expect(r"<alice> \[.*served\]$", window=w)

        def say(text):
            b.type("@@%s\t%s" % (w, text))

        for attempt in ("cd ..", "cd ../private", "cd out", "get ../private/secret",
                        "read ../private/secret", "get /etc/passwd"):
            say(attempt)
        b.expect(r"<alice> \[.*served\]$", window=w)  # cd .. stays at home
        b.expect(r"<alice> Invalid format\.$", window=w)
        b.expect(r"<alice> Invalid directory\.$", window=w)
        b.expect(r"<alice> Invalid filename\.$", window=w)
        b.expect(r"<alice> Invalid format\.$", window=w)
        b.expect(r"<alice> Invalid filename\.$", window=w)
        say("read -20 notes.txt")
        b.expect(r"<alice> line 20$", window=w)
        b.expect(r"<alice> \[\d+% read, 'C' for more, 'S' to stop\]$", window=w)
        say("c")
        b.expect(r"<alice> line 40$", window=w)
        say("c")
        b.expect(r"<alice> line 45$", window=w)
        b.expect(r"<alice> \[.*served\]$", window=w)
        say("cd docs")
        say("dir")
        b.expect(r"<alice> x\.txt +999b$", window=w)
        say("get x.txt")
        b.expect(r"^\*\*\* alice wants to send you: x\.txt \(999 bytes\)", timeout=10)
        b.type("/dcc get alice")
        b.expect(r"^DCC Get completed$", window="Get alice x.txt", timeout=10)
        say("quit")
        a.expect(r"^DCC Fileserver to bob closed$")


SOURCE = os.environ.get("SOURCE_DIR", os.path.join(os.path.dirname(__file__), ".."))
TMUX = shutil.which("tmux")


@unittest.skipUnless((base.NGIRCD and TMUX) or CI, "ngircd or tmux is missing")
class OnTheTerminal(DccBase):
    """The offer dialogs of the full-screen front end."""

    def terminal(self, nick):
        """vesk32 on the full-screen front end in tmux, connected, with its get folder."""
        sys.path.insert(0, os.path.join(SOURCE, "platform", "tui", "demo"))
        from tmux_harness import Tmux
        home = self.folder(nick + "-home")
        getdir = self.folder("get-" + nick)
        ini = os.path.join(home, "vesk.ini")
        with open(ini, "w") as f:
            # The channels folder would pop up after the MOTD (options5 field 20).
            f.write(vesk_ini(nick, getdir, "[Options]\noptions5=,,,,,,,,,,,,,,,,,,,0\n"))
        t = Tmux([os.path.abspath(base.VESK32), "-i", ini, "-s", "127.0.0.1:%d" % self.port],
                 100, 30, env={"LANG": "C.UTF-8", "TERM": "screen", "XDG_CONFIG_HOME": home})
        self.addCleanup(t.close)
        t.wait_for("End of MOTD", timeout=10)
        return t, getdir

    def test_get_dialog_accepts_and_chat_dialog_refuses(self):
        t, getdir = self.terminal("carl")
        a = self.vesk("alice")
        path = make_file(os.path.join(self.folder("src"), "t.bin"), 100000)
        a.type("/dcc send carl %s" % path)
        t.wait_for("alice wants to send you:", timeout=10)
        t.wait_for("Save As")
        t.keys("Enter")
        a.expect(r"^DCC Send completed$", window="Send carl t.bin", timeout=10)
        t.wait_for("DCC Get completed", timeout=10)
        self.assertEqual(sha(os.path.join(getdir, "t.bin")), sha(path))
        # The same file again: the existing-file question, answered with Cancel.
        a.type("/dcc send carl %s" % path)
        t.wait_for("alice wants to send you:", timeout=10)
        t.keys("Enter")
        t.wait_for("already exists", timeout=10)
        t.keys("Escape")
        a.type("/dcc chat carl")
        t.wait_for("wants to DCC Chat with you", timeout=10)
        t.keys("Escape")
        self.assertTrue(a.absent(r"DCC Chat connection established", 1.5))

    def test_quitting_while_a_transfer_runs_asks_first(self):
        t, _ = self.terminal("dana")
        a = self.vesk("alice")
        path = make_file(os.path.join(self.folder("src"), "q.bin"), 1000)
        t.text("/dcc send alice %s" % path)
        t.keys("Enter")
        a.expect(r"^\*\*\* dana wants to send you: q\.bin", timeout=10)
        t.text("/exit")
        t.keys("Enter")
        t.wait_for("There are DCC transfers in progress!")
        # No: the program and the offer stay.
        t.keys("Escape")
        t.wait_gone("There are DCC transfers in progress!")
        time.sleep(0.3)
        self.assertFalse(t.dead())
        a.type("/dcc get dana")
        a.expect(r"^DCC Get completed$", window="Get dana q.bin", timeout=10)
        # With the transfer over, quitting asks nothing.
        t.text("/exit")
        t.keys("Enter")
        wait_for(t.dead, 10, "the program's end")


@unittest.skipUnless((base.NGIRCD and WEECHAT) or CI, "ngircd or weechat-headless is missing")
class WithWeechat(DccBase):
    def setUp(self):
        super().setUp()
        self.wdir = self.folder("weechat")
        self.wget = self.folder("weechat-get")
        cmds = ";".join([
            "/set xfer.file.auto_accept_files on",
            "/set xfer.file.auto_accept_chats on",
            "/set xfer.file.auto_resume on",
            "/set xfer.file.download_path %s" % self.wget,
            "/set xfer.file.use_nick_in_filename off",
            "/set xfer.file.auto_rename off",
            "/set logger.file.path %s/logs" % self.wdir,
            "/set logger.level.core.weechat 9",
            "/set logger.file.flush_delay 0",
            "/set fifo.file.enabled on",
            "/server add local 127.0.0.1/%d" % self.port,
            "/set irc.server.local.nicks carol",
            "/set irc.server.local.autojoin #dcc",
            "/set irc.server.local.anti_flood_prio_high 0",
            "/set irc.server.local.anti_flood_prio_low 0",
            "/connect local",
        ])
        self.weechat = subprocess.Popen(
            [WEECHAT, "--dir", self.wdir, "--run-command", cmds],
            stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        wait_for(lambda: glob.glob(os.path.join(self.wdir, "weechat_fifo*")), 10, "weechat's pipe")
        # One writer for the whole test: lines written while weechat reopens the pipe
        # would be lost.
        self.fifo = open(glob.glob(os.path.join(self.wdir, "weechat_fifo*"))[0], "w", buffering=1)
        wait_for(lambda: os.path.exists(os.path.join(self.wdir, "logs", "irc.local.#dcc.weechatlog")),
                 10, "weechat in its channel")

    def tearDown(self):
        self.fifo.close()
        if self.weechat.poll() is None:
            self.weechat.kill()
            self.weechat.wait()
        super().tearDown()

    def weechat_cmd(self, text):
        # Commands run in weechat's current buffer: its channel, after the autojoin.
        self.fifo.write("*%s\n" % text)

    def logs(self):
        out = ""
        for p in glob.glob(os.path.join(self.wdir, "logs", "*")):
            with open(p, "rb") as f:
                out += f.read().decode("utf-8", "replace")
        return out

    def test_files_both_ways_resume_and_chat(self):
        a = self.vesk("alice")
        src = self.folder("src")
        for size in (1, 4095, 4096, 4097, 10 * 1024 * 1024):
            name = "w%d.bin" % size
            path = make_file(os.path.join(src, name), size, seed=size)
            a.type("/dcc send carol %s" % path)
            a.expect(r"^DCC Send completed$", window="Send carol %s" % name, timeout=30)
            got = os.path.join(self.wget, name)
            wait_for(lambda: os.path.exists(got) and os.path.getsize(got) == size, 10, name)
            self.assertEqual(sha(got), sha(path))
        # weechat offers no empty file; the empty get is covered between two vesk32.
        for size in (1, 4095, 4096, 4097, 10 * 1024 * 1024):
            name = "c%d.bin" % size
            path = make_file(os.path.join(src, name), size, seed=size + 1)
            self.weechat_cmd("/dcc send alice %s" % path)
            a.expect(r"^\*\*\* carol wants to send you: %s" % name, timeout=10)
            a.type("/dcc get carol")
            a.expect(r"^DCC Get completed", window="Get carol %s" % name, timeout=30)
            self.assertEqual(sha(os.path.join(a.getdir, name)), sha(path))
        # Resume: weechat holds the first part of a file we send.
        path = make_file(os.path.join(src, "part.bin"), 300000, seed=3)
        # weechat keeps a file it is still receiving under a ".part" name.
        with open(path, "rb") as f, open(os.path.join(self.wget, "part.bin.part"), "wb") as g:
            g.write(f.read(100000))
        a.type("/dcc send carol %s" % path)
        a.expect(r"^Resuming transfer at 100000 bytes$", window="Send carol part.bin", timeout=10)
        a.expect(r"^DCC Send completed$", window="Send carol part.bin", timeout=10)
        got = os.path.join(self.wget, "part.bin")
        wait_for(lambda: os.path.exists(got), 10, "weechat's finished file")
        self.assertEqual(sha(got), sha(path))
        # ...and we hold the first part of a file weechat sends.
        path = make_file(os.path.join(src, "back.bin"), 300000, seed=4)
        with open(path, "rb") as f, open(os.path.join(a.getdir, "back.bin"), "wb") as g:
            g.write(f.read(120000))
        self.weechat_cmd("/dcc send alice %s" % path)
        a.expect(r"^\*\*\* carol wants to send you: back\.bin", timeout=10)
        a.type("/dcc get -r carol")
        a.expect(r"^Received: 180000 bytes in", window="Get carol back.bin", timeout=10)
        a.expect(r"^DCC Get completed$", window="Get carol back.bin")
        self.assertEqual(sha(os.path.join(a.getdir, "back.bin")), sha(path))
        # Chat: weechat accepts ours and its lines reach us.
        a.type("/dcc chat carol")
        a.expect(r"^DCC Chat connection established$", window="Chat with carol", timeout=10)
        a.type("@@Chat with carol\thello carol")
        wait_for(lambda: "hello carol" in self.logs(), 10, "the line in weechat's log")
        a.type("/dcc close carol")
        a.caught_up()
        # ...and we accept weechat's offer.
        self.weechat_cmd("/dcc chat alice")
        a.expect(r"^\*\*\* carol wants to DCC Chat with you", timeout=10)
        a.type("/dcc chat carol")
        a.expect(r"^DCC Chat connection established$", window="Chat with carol", timeout=10)
        a.type("@@Chat with carol\tsecond line")
        wait_for(lambda: "second line" in self.logs(), 10, "the second line in weechat's log")


if __name__ == "__main__":
    unittest.main()
