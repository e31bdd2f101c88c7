"""End-to-end tests of where the programs keep a user's files: settings under
$XDG_CONFIG_HOME, the chat client's logs under $XDG_STATE_HOME, received files in the desktop's
download folder, all named by --help; logs of an older version are left where they are.
"""
import os
import shutil
import subprocess
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import chat_connection_test as base  # noqa: E402
import chat_dcc_test as dcc  # noqa: E402

BORVAN32 = os.environ.get("BORVAN32", "borvan32")
VESK32 = os.environ.get("VESK32", "vesk32")


def clean_env(home, **extra):
    env = {k: v for k, v in os.environ.items() if not k.startswith("XDG_")}
    env["HOME"] = home
    env.update(extra)
    return env


class Help(unittest.TestCase):
    def setUp(self):
        self.home = tempfile.mkdtemp(prefix="xdg-help-")
        self.addCleanup(shutil.rmtree, self.home, True)

    def help(self, program, **extra):
        out = subprocess.run([program, "--help"], env=clean_env(self.home, **extra),
                             stdout=subprocess.PIPE, check=True, timeout=30)
        return out.stdout.decode()

    def test_help_names_the_places_of_this_environment(self):
        h = self.home
        text = self.help(VESK32)
        self.assertIn(h + "/.config/vesk32/vesk.ini", text)
        self.assertIn(h + "/.local/state/vesk32/logs/", text)
        self.assertIn(h + "/Downloads/", text)

        os.makedirs(h + "/cfg")
        with open(h + "/cfg/user-dirs.dirs", "w") as f:
            f.write('# written by the desktop\nXDG_DOWNLOAD_DIR="$HOME/Fetched"\n')
        text = self.help(VESK32, XDG_CONFIG_HOME=h + "/cfg", XDG_STATE_HOME=h + "/st")
        self.assertIn(h + "/cfg/vesk32/vesk.ini", text)
        self.assertIn(h + "/st/vesk32/logs/", text)
        self.assertIn(h + "/Fetched/", text)
        # A relative base is not a place: the default stands.
        self.assertIn(h + "/.local/state/vesk32/logs/",
                      self.help(VESK32, XDG_STATE_HOME="relative/state"))

        text = self.help(BORVAN32, XDG_CONFIG_HOME=h + "/cfg", XDG_DATA_HOME=h + "/data")
        self.assertIn(h + "/cfg/borvan32/borvan32.ini", text)
        self.assertIn(h + "/data/applications/borvan-checkout/", text)
        self.assertEqual(os.listdir(h + "/cfg"), ["user-dirs.dirs"], "help wrote files")


class Logs(unittest.TestCase):
    def test_logs_go_to_the_state_folder_and_old_ones_stay(self):
        old_log = "an old status log\n"
        # A settings folder that already holds a log an older version wrote there.
        home = tempfile.mkdtemp(prefix="xdg-logs-")
        self.addCleanup(shutil.rmtree, home, True)
        settings = os.path.join(home, ".config", "vesk32")
        os.makedirs(settings)
        with open(os.path.join(settings, "vesk.ini"), "w") as f:
            f.write(base.IDENTITY + "[Logging]\nstatus=on\n")
        with open(os.path.join(settings, "status.log"), "w") as f:
            f.write(old_log)
        env = clean_env(home)
        proc = subprocess.Popen([VESK32, "--headless"], stdin=subprocess.PIPE,
                                stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, env=env)
        out, _ = proc.communicate(b"/echo written-to-the-log\n", timeout=30)
        text = out.decode("utf-8", "replace")
        logs = os.path.join(home, ".local", "state", "vesk32", "logs")
        self.assertIn("Logs are now written to [%s/]; earlier logs stay in [%s/]"
                      % (logs, settings), text)
        with open(os.path.join(logs, "status.log")) as f:
            self.assertIn("written-to-the-log", f.read())
        self.assertEqual(os.stat(logs).st_mode & 0o777, 0o700)
        with open(os.path.join(settings, "status.log")) as f:
            self.assertEqual(f.read(), old_log)


@unittest.skipUnless(base.NGIRCD or os.environ.get("CI"), "ngircd is not installed")
class ReceivedFiles(dcc.DccBase):
    def test_files_without_a_get_folder_land_in_the_download_folder(self):
        a = self.vesk("alice")
        downloads = os.path.join(self.dir, "Fetched")
        b = base.Client(["-s", "127.0.0.1:%d" % self.port],
                        ini="[Vesk]\nnick=bob\nanick=bob_\nuser=bob\nemail=bob@example.org\n",
                        env_extra={"XDG_DOWNLOAD_DIR": downloads})
        self.clients.append(b)
        b.expect(r"^Welcome to the Internet Relay Network bob", timeout=10)
        path = dcc.make_file(os.path.join(self.folder("src"), "gift.bin"), 5000)
        a.type("/dcc send bob %s" % path)
        b.expect(r"^\*\*\* alice wants to send you: gift.bin \(", timeout=10)
        b.type("/dcc get alice")
        b.expect(r"^DCC Get completed", window="Get alice gift.bin", timeout=30)
        self.assertEqual(dcc.sha(os.path.join(downloads, "gift.bin")), dcc.sha(path))
        self.assertEqual(os.stat(downloads).st_mode & 0o777, 0o700)


if __name__ == "__main__":
    unittest.main()
