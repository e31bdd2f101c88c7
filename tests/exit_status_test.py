"""End-to-end tests that borvan32's exit statuses mean the same for every kind of archive:
0 when all went well, 1 for an archive that cannot be handled at all (missing, not an archive),
2 for an error such as a damaged member, whether the engine or an outside archiver did the work.
"""
import os
import random
import shutil
import subprocess
import tempfile
import unittest

BORVAN32 = os.environ.get("BORVAN32", "borvan32")

# How each kind is made from one file by its own peer program; None when the peer is missing.
MAKERS = {
    "zip": lambda src, out: [BORVAN32, "--headless", "-a", out, src],
    "arj": lambda src, out: ["arj", "a", "-y", out, src],
    "lzh": lambda src, out: ["jlha", "a", out, src],
    "arc": lambda src, out: ["arc", "a", out, src],
    "tar": lambda src, out: ["tar", "cf", out, src],
    "gz": lambda src, out: ["sh", "-c", 'gzip -c "$0" > "$1"', src, out],
    "Z": lambda src, out: ["sh", "-c", 'compress -c "$0" > "$1"', src, out],
    # mscompress writes NAME_ beside its input.
    "tx_": lambda src, out: ["sh", "-c", 'cp "$0" sz.txt && mscompress sz.txt && mv sz.txt_ "$1"',
                             src, out],
}
TOOL = {"arj": "arj", "lzh": "jlha", "arc": "arc", "tar": "tar", "gz": "gzip", "Z": "compress",
        "tx_": "mscompress"}
# The kinds whose members carry a check that damage in the middle of the data must trip.
CHECKED = ("zip", "arj", "lzh", "arc", "gz")


class ExitStatuses(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.dir = tempfile.mkdtemp(prefix="exit-status-")
        rng = random.Random(5)
        os.chdir(cls.dir)
        # Text the archivers compress, long enough that damage lands inside member data.
        words = [bytes(rng.choice(b"abcdefghij ") for _ in range(8)) for _ in range(400)]
        with open("data.txt", "wb") as f:
            for _ in range(40):
                f.write(b" ".join(rng.choice(words) for _ in range(12)) + b"\n")
        cls.made = {}
        for kind, make in MAKERS.items():
            if kind in TOOL and not shutil.which(TOOL[kind]):
                if os.environ.get("CI"):
                    raise AssertionError("%s is missing (CI is set)" % TOOL[kind])
                continue
            name = "good." + kind
            subprocess.run(make("data.txt", name), check=True, capture_output=True, timeout=60)
            cls.made[kind] = name

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.dir, True)

    def borvan(self, *args):
        return subprocess.run([BORVAN32, *args], capture_output=True, stdin=subprocess.DEVNULL,
                              timeout=120)

    def test_same_statuses_for_every_kind(self):
        for kind, name in self.made.items():
            with self.subTest(kind=kind):
                os.mkdir("out-" + kind)
                os.mkdir("bad-out-" + kind)
                for args in (["-l"], ["-t"], ["-e", "-o", name, "out-" + kind]):
                    r = self.borvan(*(args if args[0] == "-e" else args + [name]))
                    self.assertEqual(r.returncode, 0, (args, r.stdout, r.stderr))
                # The single-file kinds name what they carry after the archive.
                out = os.path.join("out-" + kind, os.listdir("out-" + kind)[0])
                with open(out, "rb") as a, open("data.txt", "rb") as b:
                    self.assertEqual(a.read(), b.read())

                self.assertEqual(self.borvan("-t", "missing." + kind).returncode, 1)
                junk = "junk." + kind
                with open(junk, "wb") as f:
                    f.write(random.Random(kind).randbytes(3000))
                r = self.borvan("-t", junk)
                self.assertEqual(r.returncode, 1, (r.stdout, r.stderr))

                if kind not in CHECKED:
                    continue
                with open(name, "rb") as f:
                    data = bytearray(f.read())
                for i in range(len(data) // 2, len(data) // 2 + 10):
                    data[i] ^= 0x55
                bad = "bad." + kind
                with open(bad, "wb") as f:
                    f.write(data)
                r = self.borvan("-t", bad)
                self.assertEqual(r.returncode, 2, (r.stdout, r.stderr))
                r = self.borvan("-e", "-o", bad, "bad-out-" + kind)
                self.assertEqual(r.returncode, 2, (r.stdout, r.stderr))


if __name__ == "__main__":
    unittest.main()
