"""The Setup and Options dialogs of vesk32 on a terminal (tmux): the first run asks for the
identity and a server, what OK stores survives a restart, Connect uses the chosen server, a
missing SOCKS host opens the relay's page, a connect without a server opens the first page,
and the DCC page keeps the packet size within its range."""
import os
import re
import socket
import sys
import tempfile
import time
import unittest

SOURCE = os.environ.get("SOURCE_DIR", os.path.join(os.path.dirname(__file__), ".."))
sys.path.insert(0, os.path.join(SOURCE, "platform", "tui", "demo"))
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from tmux_harness import Tmux, build_dir, slack  # noqa: E402
from tui_chat_test import ScriptedServer  # noqa: E402

VESK32 = os.environ.get("VESK32", os.path.join(build_dir(), "chat", "vesk32"))
def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def eventually(check, timeout=5.0):
    """The dialog leaves the screen before its OK is carried out: waits for the effect."""
    deadline = time.monotonic() + slack(timeout)
    while True:
        try:
            return check()
        except (AssertionError, OSError):
            if time.monotonic() > deadline:
                raise
            time.sleep(0.05)


def ask(port, query, timeout=5.0):
    """Connects to a responder, sends one query line and reads the answer to its close."""
    with socket.create_connection(("127.0.0.1", port), timeout=timeout) as s:
        s.sendall(query)
        data = b""
        while True:
            chunk = s.recv(4096)
            if not chunk:
                return data
            data += chunk


IDENTITY = "[Vesk]\nnick=tester\nanick=tester_\nuser=Test User\nemail=t@localhost\n"


class SetupDialogsTest(unittest.TestCase):
    def setUp(self):
        if not os.path.exists(VESK32):
            self.fail("vesk32 not built")
        self.home = tempfile.mkdtemp(prefix="vesk-setup-")
        self.ini = os.path.join(self.home, "vesk32", "vesk.ini")

    def write_ini(self, text):
        os.makedirs(os.path.dirname(self.ini), exist_ok=True)
        with open(self.ini, "w") as f:
            f.write(text)

    def read_ini(self):
        with open(self.ini) as f:
            return f.read()

    def saved(self, *wanted):
        """The settings file once it holds every wanted text."""
        def check():
            text = self.read_ini()
            for w in wanted:
                self.assertIn(w, text)
            return text
        return eventually(check)

    def start(self, *args):
        env = {"LANG": "C.UTF-8", "TERM": "screen", "XDG_CONFIG_HOME": self.home}
        t = Tmux([VESK32] + list(args), 80, 24, env=env)
        self.addCleanup(t.close)
        t.wait_for("Status")
        return t

    def field(self, t, key, text):
        """Alt+letter to a field, its old text gone, the new one typed."""
        t.keys(key, "End", "C-u")
        t.text(text)

    def exit(self, t):
        t.keys("C-u")
        t.text("/exit")
        t.keys("Enter")
        t.wait_for(lambda s: t.dead(), timeout=8)

    def test_first_run_setup_survives_a_restart_and_connects(self):
        server = ScriptedServer()
        self.addCleanup(server.close)
        t = self.start()
        t.wait_for("Vesk Setup")  # no nickname yet: the dialog asks at start-up
        self.field(t, "M-n", "firstnick")
        t.keys("M-w")  # a new server entry
        t.wait_for("Add Server")
        t.text("Local test")
        t.keys("Tab")
        t.text("127.0.0.1")
        t.keys("Tab")
        t.text("70000")
        t.keys("Enter")
        t.wait_for("The port must be a number between 1 and 65535.")
        t.keys("Enter")
        self.field(t, "M-p", str(server.port))
        t.keys("Enter")
        s = t.wait_for("* Local test  (127.0.0.1:%d)" % server.port)
        self.assertIn("Connect to: Local test", s)
        t.keys("M-n", "Enter")  # OK (Enter on the focused New button would add another)
        t.wait_gone("Vesk Setup")
        self.saved("nick=firstnick\n", "sv0=Local testSERVER:127.0.0.1:%d\n" % server.port,
                   "host=Local testSERVER:127.0.0.1:%d\n" % server.port)
        self.exit(t)

        t = self.start()  # a nickname now: no dialog until asked
        t.keys("M-e")
        s = t.wait_for("Vesk Setup")
        self.assertIn("Nickname:  firstnick", s)
        self.field(t, "M-n", "second")
        t.keys("Enter")
        t.wait_gone("Vesk Setup")
        self.saved("nick=second\n")
        self.exit(t)

        t = self.start()
        t.keys("M-e")
        s = t.wait_for("Vesk Setup")
        self.assertIn("Nickname:  second", s)
        t.keys("M-t")  # Connect: to the chosen server, with the stored identity
        t.wait_gone("Vesk Setup")
        server.wait_received(b"NICK second")
        t.wait_for("End of MOTD")

    def test_missing_socks_host_opens_the_relay_page(self):
        self.write_ini(IDENTITY + "[Socks]\nEnabled=yes\n")
        env_host = os.environ.pop("SOCKS_HOST", None)
        self.addCleanup(lambda: env_host and os.environ.__setitem__("SOCKS_HOST", env_host))
        t = self.start("-s", "127.0.0.1:6667")
        s = t.wait_for("\u2500\u2500 SOCKS \u2500\u2500")
        self.assertIn("[X] Connect through a SOCKS relay", s)
        t.keys("Escape")
        t.wait_for("*** Unable to find SOCKS host")
        t.keys("M-e")  # the relay's page by hand: a host is required while it is on
        t.wait_for("Vesk Setup")
        t.keys("M-s")
        t.wait_for("\u2500\u2500 SOCKS \u2500\u2500")
        t.keys("Enter")
        t.wait_for("Enter the relay's host name.")
        t.keys("Enter")
        self.field(t, "M-h", "relay.example.org")
        self.field(t, "M-r", "1081")
        t.keys("Enter")
        t.wait_gone("Vesk Setup")
        self.saved("HostName=relay.example.org\n", "Port=1081\n")

    def test_responders_start_from_the_dialogs(self):
        self.write_ini(IDENTITY)
        with open(os.path.join(self.home, "vesk32", "finger.txt"), "w") as f:
            f.write("[default]\nhello from the reply file\n")
        t = self.start()
        ident, finger = free_port(), free_port()
        t.keys("M-e")
        t.wait_for("Vesk Setup")
        t.keys("M-i")
        t.wait_for("\u2500\u2500 Ident \u2500\u2500")
        t.keys("M-o")  # the responder on: it needs a user id first
        t.keys("Enter")
        t.wait_for("The ident responder needs a user ID.")
        t.keys("Enter")
        self.field(t, "M-u", "someone")
        self.field(t, "M-r", str(ident))
        t.keys("Enter")
        t.wait_gone("Vesk Setup")
        # No server connection: every pair is someone else's.
        self.assertIn(b"ERROR : NO-USER", eventually(lambda: ask(ident, b"6191, 23\r\n")))
        t.keys("M-o")
        t.wait_for("Vesk Options")
        t.keys("M-i")
        t.wait_for("\u2500\u2500 Finger \u2500\u2500")
        t.keys("M-r")  # the responder on
        self.field(t, "M-p", str(finger))
        t.keys("Enter")
        t.wait_gone("Vesk Options")
        self.assertIn(b"hello from the reply file",
                      eventually(lambda: ask(finger, b"nobody\r\n")))
        self.saved("active=yes\n", "userid=someone\n", "fingerserver=%d\n" % finger)

    def test_connect_without_a_server_opens_the_first_page(self):
        self.write_ini(IDENTITY)
        t = self.start()
        t.keys("M-f")
        t.keys("c")  # File > Connect
        s = t.wait_for("\u2500\u2500 Connect \u2500\u2500")
        self.assertIn("Connect to: (none)", s)
        t.keys("Escape")
        t.wait_for("missing: server")

    def test_dcc_options_keep_the_packet_size_in_range(self):
        self.write_ini(IDENTITY + "[Options]\noptions3=0,1\n[Mine]\nkept=yes\n")
        t = self.start()
        t.keys("M-d")
        t.keys("o")  # DCC > Options: the DCC page
        t.wait_for("\u2500\u2500 DCC \u2500\u2500")
        self.field(t, "M-x", "31")  # Max sends: refused, the dialog stays
        t.keys("Enter")
        t.wait_for("Max sends must be between 0 and 30.")
        t.keys("Enter")
        self.field(t, "M-x", "5")
        self.field(t, "M-p", "9000")  # Packet size: brought into 512..4096
        t.keys("Enter")
        t.wait_gone("Vesk Options")
        saved = self.saved("4096", "options5=")  # every key rewritten
        fields = re.search(r"^options=(.*)$", saved, re.M).group(1).split(",")
        self.assertEqual(fields[20], "4096")
        fields3 = re.search(r"^options3=(.*)$", saved, re.M).group(1).split(",")
        self.assertEqual(fields3[20], "5")
        self.assertIn("[Mine]\nkept=yes", saved)
        # File > Options opens where the dialog was left, with the value in force.
        t.keys("M-o")
        s = t.wait_for("\u2500\u2500 DCC \u2500\u2500")
        self.assertRegex(s, r"Packet size: +4096 ")
        t.keys("M-g")
        t.wait_for("\u2500\u2500 General \u2500\u2500")
        t.keys("Escape")
        t.wait_gone("Vesk Options")


if __name__ == "__main__":
    unittest.main()
