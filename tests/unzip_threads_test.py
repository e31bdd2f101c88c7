#!/usr/bin/env python3
"""borvan32 -e and -t with 1, 2 and 8 decoding threads: the same files, output and exit code."""
import os
import random
import shutil
import subprocess
import tempfile
import unittest
import zipfile

BORVAN32 = os.environ.get("BORVAN32", "borvan32")


def run(threads, *args):
    env = dict(os.environ, BORVAN32_UNZIP_THREADS=str(threads))
    return subprocess.run([BORVAN32, "--headless", *args], capture_output=True, text=True,
                          stdin=subprocess.DEVNULL, timeout=300, env=env)


def tree(root):
    """Relative path -> (contents, modification time) of every file below root."""
    found = {}
    for folder, _, files in os.walk(root):
        for name in files:
            path = os.path.join(folder, name)
            with open(path, "rb") as f:
                found[os.path.relpath(path, root)] = (f.read(), int(os.stat(path).st_mtime))
    return found


class ThreadsTest(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="unzip_threads_")
        self.addCleanup(shutil.rmtree, self.dir, True)
        rng = random.Random(3)
        self.archive = os.path.join(self.dir, "mix.zip")
        with zipfile.ZipFile(self.archive, "w") as z:
            for i in range(80):
                name = "dir%d/file%02d.txt" % (i % 4, i) if i % 2 else "file%02d.bin" % i
                size = [0, 100, 20000, 150000][i % 4]
                data = (bytes(rng.getrandbits(8) for _ in range(size)) if i % 5 == 0
                        else ("line %d of member %d\n" % (rng.randrange(50), i)).encode() * (size // 20))
                method = zipfile.ZIP_STORED if i % 7 == 0 else zipfile.ZIP_DEFLATED
                z.writestr(zipfile.ZipInfo(name, (2022, 1 + i % 12, 2, 3, 4, 6)), data,
                           compress_type=method)
        self.expected = {}
        with zipfile.ZipFile(self.archive) as z:
            for info in z.infolist():
                self.expected[info.filename] = z.read(info)

    def damaged(self, member, offset):
        """A copy of the archive with one byte flipped `offset` bytes after a member's name."""
        data = bytearray(open(self.archive, "rb").read())
        data[data.find(member.encode()) + len(member) + offset] ^= 0xFF
        bad = os.path.join(self.dir, "bad.zip")
        with open(bad, "wb") as f:
            f.write(bytes(data))
        return bad

    def outcome(self, threads, *args):
        r = run(threads, *args)
        return r.returncode, r.stdout.replace(self.dir, "DIR"), r.stderr.replace(self.dir, "DIR")

    def test_extract_and_test_match_one_thread(self):
        for mode in ("-e", "-t"):
            with self.subTest(mode=mode):
                results = {}
                for threads in (1, 2, 8):
                    out = os.path.join(self.dir, "out%d" % threads)
                    args = [mode, self.archive] + ([out] if mode == "-e" else [])
                    results[threads] = self.outcome(threads, *args)
                    if mode == "-e":
                        files = tree(out)
                        self.assertEqual({k: v[0] for k, v in files.items()}, self.expected)
                        results[threads] += (files,)
                    self.assertEqual(results[threads][0], 0, results[threads][2])
                self.assertEqual(results[1][1:3], results[2][1:3])
                self.assertEqual(results[1][1:3], results[8][1:3])
                if mode == "-e":
                    self.assertEqual(results[1][3], results[8][3])

    def test_damage_ends_the_run_where_one_thread_ends_it(self):
        bad = self.damaged("dir3/file43.txt", 30)  # inside that member's data
        results = {}
        for threads in (1, 2, 8):
            out = os.path.join(self.dir, "bad%d" % threads)
            code, stdout, stderr = self.outcome(threads, "-e", bad, out)
            results[threads] = (code, stdout, stderr, sorted(tree(out)))
            self.assertNotEqual(code, 0)
            self.assertNotIn("dir3/file47.txt", results[threads][3])
        self.assertEqual(results[1][:3], results[2][:3])
        self.assertEqual(results[1][:3], results[8][:3])
        self.assertEqual(results[1][3], results[8][3])

    def test_files_replaced_without_asking_survive_a_failure_ahead_of_them(self):
        # Every output is there already and -o replaces it without a question: a damaged
        # member ends the run, and the files after it keep their old contents whatever the
        # number of threads (members walked while a helper decodes the damaged one must not
        # have touched them). The damaged member is large and incompressible: a helper's.
        bad = self.damaged("dir3/file55.txt", 3000)
        results = {}
        for threads in (1, 2, 8):
            out = os.path.join(self.dir, "old%d" % threads)
            for name in self.expected:
                path = os.path.join(out, name)
                os.makedirs(os.path.dirname(path), exist_ok=True)
                with open(path, "wb") as f:
                    f.write(b"old")
                os.utime(path, (1000000000, 1000000000))
            code, stdout, stderr = self.outcome(threads, "-e", "-o", bad, out)
            self.assertNotEqual(code, 0)
            results[threads] = (code, stdout, stderr, tree(out))
            for name in ("file56.bin", "dir1/file57.txt", "file58.bin", "dir3/file79.txt"):
                self.assertEqual(results[threads][3].get(name), (b"old", 1000000000), name)
            self.assertEqual(results[threads][3]["file54.bin"][0], self.expected["file54.bin"])
        self.assertEqual(results[1], results[2])
        self.assertEqual(results[1], results[8])


if __name__ == "__main__":
    unittest.main()
