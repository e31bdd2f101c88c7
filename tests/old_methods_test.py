#!/usr/bin/env python3
"""borvan32 -t / -e on zip archives of the older methods (shrunk, reduced, imploded): the public
vectors with their known contents, and damaged copies that must fail in bounded time."""
import hashlib
import json
import os
import random
import shutil
import struct
import subprocess
import tempfile
import unittest

BORVAN32 = os.environ.get("BORVAN32", "borvan32")
SOURCE_DIR = os.environ.get("SOURCE_DIR", os.path.join(os.path.dirname(__file__), ".."))
TESTDATA = os.environ.get("TESTDATA", os.path.join(SOURCE_DIR, "..", "shared", "testdata"))
VECTORS = os.path.join(TESTDATA, "zip-old-methods")


def run(*args):
    return subprocess.run([BORVAN32, *args], capture_output=True, text=True,
                          stdin=subprocess.DEVNULL, timeout=60)


def hashes_under(folder):
    found = []
    for base, _, files in os.walk(folder):
        for f in files:
            with open(os.path.join(base, f), "rb") as fh:
                found.append(hashlib.sha256(fh.read()).hexdigest())
    return found


@unittest.skipUnless(os.path.exists(os.path.join(VECTORS, "manifest.json")), "no vectors")
class OldMethods(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="old_methods_e2e_")
        self.addCleanup(shutil.rmtree, self.dir, True)
        with open(os.path.join(VECTORS, "manifest.json")) as f:
            self.archives = json.load(f)["archives"]

    def test_vectors_test_and_extract_to_their_known_contents(self):
        for a in self.archives:
            with self.subTest(a["file"]):
                archive = os.path.join(VECTORS, a["file"])
                good = a["kind"] == "good"
                r = run("-t", archive)
                self.assertEqual(r.returncode == 0, good, r.stdout + r.stderr)
                out = os.path.join(self.dir, a["file"])
                r = run("-e", "-o", archive, out)
                self.assertEqual(r.returncode == 0, good, r.stdout + r.stderr)
                if a["kind"] == "unsupported":
                    self.assertIn("unknown compression", r.stdout + r.stderr)
                elif not good:
                    self.assertIn("ZIP damaged", r.stdout + r.stderr)
                want = []
                for m in a["members"]:
                    if m["expected"] != "ok":
                        break  # a failure ends the run
                    want.append(m["sha256"])
                got = hashes_under(out)
                for sha in set(want):
                    self.assertEqual(got.count(sha), want.count(sha), sha)

    def test_damaged_copies_fail_in_bounded_time(self):
        rng = random.Random(14)
        for name in ("z2_implode.zip", "z2_reduce.zip", "z2_shrink.zip"):
            with open(os.path.join(VECTORS, name), "rb") as f:
                data = bytearray(f.read())
            name_len, extra_len = struct.unpack_from("<HH", data, 26)
            csize = struct.unpack_from("<I", data, 18)[0]
            start = 30 + name_len + extra_len
            for round_ in range(15):
                bad = bytearray(data)
                for _ in range(3):
                    bad[start + rng.randrange(csize)] ^= rng.randrange(1, 256)
                if round_ % 3 == 0:  # a huge claimed size in both headers
                    struct.pack_into("<I", bad, 22, 0x7FFFFFFF)
                    cd = bad.find(b"PK\x01\x02")
                    struct.pack_into("<I", bad, cd + 24, 0x7FFFFFFF)
                path = os.path.join(self.dir, "bad.zip")
                with open(path, "wb") as f:
                    f.write(bad)
                r = run("-t", path)
                with self.subTest(name=name, round=round_):
                    # Flipped bits may by chance still decode; a crash or hang never passes.
                    self.assertIn(r.returncode, (0, 1, 2), r.stdout + r.stderr)
                    if round_ % 3 == 0:
                        self.assertNotEqual(r.returncode, 0)
                        self.assertIn("ZIP damaged", r.stdout + r.stderr)


if __name__ == "__main__":
    unittest.main()
