#!/usr/bin/env python3
"""The installed programs: `cmake --install` into a staging folder (as `make install DESTDIR=`
does), the manual pages rendering cleanly and naming every switch that --help names, the
installed vesk32 finding its help text, the desktop entries, and the bash and zsh completion
answering for switches, server groups and member names."""
import os
import re
import shutil
import subprocess
import tempfile
import unittest
import zipfile

BORVAN32 = os.environ.get("BORVAN32", "borvan32")
VESK32 = os.environ.get("VESK32", "vesk32")
SOURCE_DIR = os.environ.get("SOURCE_DIR", os.path.join(os.path.dirname(__file__), ".."))
BASH_COMPLETION = "/usr/share/bash-completion/bash_completion"


def need(tool):
    """Skips without the tool, but fails when CI is set: a build machine must have it."""
    if shutil.which(tool) or os.path.exists(tool):
        return
    if os.environ.get("CI"):
        raise AssertionError(tool + " is missing (CI is set)")
    raise unittest.SkipTest(tool + " is missing")


def build_dir():
    """The build tree that made BORVAN32 (build/archiver/borvan32)."""
    return os.path.dirname(os.path.dirname(os.path.abspath(BORVAN32)))


class Installed(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.stage = tempfile.mkdtemp(prefix="install_e2e_")
        cls.prefix = os.path.join(cls.stage, "usr")
        env = dict(os.environ, DESTDIR=cls.stage)
        # The manifest of a real `make install` in this build tree is kept as it was.
        manifest = os.path.join(build_dir(), "install_manifest.txt")
        kept = None
        if os.path.exists(manifest):
            with open(manifest, "rb") as f:
                kept = f.read()
        done = subprocess.run(["cmake", "--install", build_dir(), "--prefix", "/usr"],
                              capture_output=True, env=env, timeout=120)
        if kept is None:
            if os.path.exists(manifest):
                os.remove(manifest)
        else:
            with open(manifest, "wb") as f:
                f.write(kept)
        if done.returncode != 0:
            raise AssertionError(done.stderr.decode())
        cls.home = os.path.join(cls.stage, "home")
        os.makedirs(os.path.join(cls.home, "config", "vesk32"))

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.stage, True)

    def installed(self, *parts):
        return os.path.join(self.prefix, *parts)

    def test_every_file_in_its_place(self):
        for path in ["bin/borvan32", "bin/vesk32", "share/man/man1/borvan32.1",
                     "share/man/man1/vesk32.1", "share/vesk32/help/vesk.hlp",
                     "share/bash-completion/completions/borvan32",
                     "share/bash-completion/completions/vesk32",
                     "share/zsh/vendor-completions/_borvan32",
                     "share/zsh/vendor-completions/_vesk32",
                     "share/applications/borvan32.desktop",
                     "share/applications/vesk32.desktop"]:
            self.assertTrue(os.path.isfile(self.installed(path)), path)
        self.assertTrue(os.access(self.installed("bin", "borvan32"), os.X_OK))

    def test_manual_pages_render_without_warnings_and_name_every_switch(self):
        need("groff")
        for program in ("borvan32", "vesk32"):
            page = self.installed("share", "man", "man1", program + ".1")
            done = subprocess.run(["groff", "-ww", "-z", "-man", page], capture_output=True,
                                  timeout=60)
            self.assertEqual(done.returncode, 0, done.stderr)
            self.assertEqual(done.stderr, b"", program)
            text = subprocess.run(["groff", "-man", "-Tutf8", page], capture_output=True,
                                  timeout=60, env=dict(os.environ, GROFF_NO_SGR="1")).stdout
            # Overstruck (bold) characters may be several bytes long: decode first.
            text = re.sub(r".\x08", "", text.decode()).replace("\u2010", "-")
            for section in ("SYNOPSIS", "OPTIONS", "ENVIRONMENT", "FILES", "EXIT STATUS",
                            "EXAMPLES"):
                self.assertIn(section, text, program)
            usage = subprocess.run([self.installed("bin", program), "--help"],
                                   capture_output=True, stdin=subprocess.DEVNULL, timeout=30)
            switches = set(re.findall(r"(?<![\w/-])(--?[a-zA-Z][\w-]*=?|/[a-zA-Z]+)(?=[\s\]|,=)]|$)",
                                      usage.stdout.decode() + usage.stderr.decode()))
            switches = {s for s in switches if not s.startswith("/") or s[1:].isalpha()}
            missing = sorted(s for s in switches if s.rstrip("=") not in text)
            self.assertEqual(missing, [], program + ": switches of --help not in the manual")

    def test_installed_chat_client_finds_its_help(self):
        env = dict(os.environ, XDG_CONFIG_HOME=os.path.join(self.home, "config"))
        done = subprocess.run([self.installed("bin", "vesk32"), "--headless"],
                              input=b"/help join\n", capture_output=True, env=env, timeout=60,
                              cwd=self.stage)
        self.assertIn(b"Help\t/join #channel", done.stdout)

    def test_desktop_entries_are_terminal_programs(self):
        for program in ("borvan32", "vesk32"):
            with open(self.installed("share", "applications", program + ".desktop")) as f:
                entry = f.read()
            self.assertIn("Terminal=true", entry)
            self.assertRegex(entry, r"(?m)^Exec=%s\b" % program)
            if shutil.which("desktop-file-validate"):
                done = subprocess.run(["desktop-file-validate", f.name], capture_output=True)
                self.assertEqual(done.stdout + done.stderr, b"")

    def complete_bash(self, program, line, env=None):
        """COMPREPLY for LINE with the cursor at its end, through bash-completion."""
        need(BASH_COMPLETION)
        script = """
source %s
source %s
PATH=%s:$PATH
COMP_LINE=$1; COMP_POINT=${#COMP_LINE}
read -ra COMP_WORDS <<< "$COMP_LINE"
[[ $COMP_LINE == *" " ]] && COMP_WORDS+=("")
COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
_%s
printf '%%s\\n' "${COMPREPLY[@]}"
""" % (BASH_COMPLETION, self.installed("share", "bash-completion", "completions", program),
            self.installed("bin"), program)
        done = subprocess.run(["bash", "-c", script, "complete", line], capture_output=True,
                              env=dict(os.environ, **(env or {})), timeout=60, cwd=self.stage)
        self.assertEqual(done.returncode, 0, done.stderr)
        return [w for w in done.stdout.decode().split("\n") if w]

    def test_bash_completion(self):
        ini = os.path.join(self.home, "config", "vesk32", "vesk.ini")
        with open(ini, "w") as f:
            f.write("[Vesk]\nnick=me\n[Servers]\nsv0=Home netSERVER:irc.home.test:6667GROUP:homenet\n"
                    "sv1=OtherSERVER:irc.other.test:+6697\n[Text]\nsv2=notSERVER:ignored:1\n")
        env = {"XDG_CONFIG_HOME": os.path.join(self.home, "config")}
        self.assertIn("--sort=", self.complete_bash("borvan32", "borvan32 --so"))
        self.assertEqual(self.complete_bash("borvan32", "borvan32 --sort=da"), ["date"])
        self.assertEqual(sorted(self.complete_bash("vesk32", "vesk32 -s ", env)),
                         ["homenet", "irc.home.test", "irc.other.test"])
        self.assertEqual(self.complete_bash("vesk32", "vesk32 -s ho", env), ["homenet"])
        self.assertIn("--headless", self.complete_bash("vesk32", "vesk32 --he"))

    def test_bash_completion_offers_member_names(self):
        archive = os.path.join(self.stage, "members.zip")
        # Offers are quoted for the command line: a blank, a quote or a $ stays in one word.
        names = {"pa1.txt": "pa1.txt", "pa2 two.txt": "pa2\\ two.txt",
                 'pa"q$x.txt': 'pa\\"q\\$x.txt', "other.bin": "other.bin", "dir/": "dir/",
                 "dir/pa3.txt": "dir/pa3.txt"}
        with zipfile.ZipFile(archive, "w") as z:
            for name in names:
                z.writestr(name, b"" if name.endswith("/") else b"data")
        for switch in ("-t", "-d"):
            with self.subTest(switch=switch):
                self.assertEqual(
                    sorted(self.complete_bash("borvan32", "borvan32 %s members.zip " % switch)),
                    sorted(names.values()))
        self.assertEqual(sorted(self.complete_bash("borvan32", "borvan32 -d members.zip pa")),
                         sorted(names[n] for n in names if n.startswith("pa")))
        self.assertEqual(self.complete_bash("borvan32", "borvan32 -d members.zip dir/p"),
                         ["dir/pa3.txt"])
        # An archive that cannot be read offers nothing.
        with open(os.path.join(self.stage, "junk.zip"), "wb") as f:
            f.write(b"not an archive" * 10)
        self.assertEqual(self.complete_bash("borvan32", "borvan32 -t junk.zip "), [])

    def test_zsh_completion_parses(self):
        need("zsh")
        for name in ("_borvan32", "_vesk32"):
            done = subprocess.run(["zsh", "-n", self.installed("share", "zsh", "vendor-completions",
                                                               name)], capture_output=True)
            self.assertEqual(done.returncode, 0, done.stderr)


if __name__ == "__main__":
    unittest.main()
