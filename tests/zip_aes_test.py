#!/usr/bin/env python3
"""End-to-end: AES-encrypted zip members (AE-1 and AE-2, 128/192/256-bit keys) are listed,
tested and extracted by the built borvan32, whether 7-Zip or a small writer here made them;
archives borvan32 writes with --encrypt open in 7-Zip and in a small reader here; a wrong
password, altered data and damaged AES fields are refused with nothing left on disk.

The writer and reader here are built on Debian's python3-cryptography, independently of the
program's own code."""

import json
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import unittest
import zipfile
import zlib

BORVAN32 = os.environ.get("BORVAN32", "borvan32")
SEVENZIP = shutil.which("7zz")
try:
    from cryptography.hazmat.primitives import hashes, hmac
    from cryptography.hazmat.primitives.ciphers import Cipher, algorithms, modes
    from cryptography.hazmat.primitives.kdf.pbkdf2 import PBKDF2HMAC
except ImportError:  # pragma: no cover - reported below
    hashes = None
# A build machine without a peer must fail, not pass with the peer's checks left out.
if os.environ.get("CI") and (not SEVENZIP or hashes is None):
    raise SystemExit("7zz or python3-cryptography is missing (CI is set): install 7zip and "
                     "python3-cryptography to run these tests")

KEY_BYTES = {1: 16, 2: 24, 3: 32}


def derive(password, salt, strength):
    n = KEY_BYTES[strength]
    d = PBKDF2HMAC(hashes.SHA1(), 2 * n + 2, salt, 1000).derive(password)
    return d[:n], d[n:2 * n], d[2 * n:]


def ctr(key, data):
    """AES in counter mode with the format's little-endian counter, starting at 1."""
    enc = Cipher(algorithms.AES(key), modes.ECB()).encryptor()
    blocks = (len(data) + 15) // 16
    stream = enc.update(b"".join((i + 1).to_bytes(16, "little") for i in range(blocks)))
    return bytes(a ^ b for a, b in zip(data, stream))


def auth(key, data):
    h = hmac.HMAC(key, hashes.SHA1())
    h.update(data)
    return h.finalize()[:10]


def aes_field(version, strength, method, size=7, mark=b"AE"):
    body = struct.pack("<H", version) + mark + bytes([strength]) + struct.pack("<H", method)
    return struct.pack("<HH", 0x9901, size) + body


def write_aes_zip(path, members, password):
    """Writes members as (name, data, version, strength, method[, field[, mangle]])
    AES-encrypted; `mangle` changes the member's stored data (salt to code) before its sizes
    are written."""
    out = bytearray()
    central = bytearray()
    for member in members:
        name, data, version, strength, method = member[:5]
        field = member[5] if len(member) > 5 and member[5] else aes_field(version, strength,
                                                                          method)
        mangle = member[6] if len(member) > 6 else (lambda b: b)
        packed = data
        if method == 8:
            c = zlib.compressobj(9, zlib.DEFLATED, -15)
            packed = c.compress(data) + c.flush()
        salt = os.urandom(KEY_BYTES.get(strength, 16) // 2)
        key, mac_key, check = derive(password, salt, strength if strength in KEY_BYTES else 3)
        secret = ctr(key, packed)
        body = mangle(salt + check + secret + auth(mac_key, secret))
        crc = zlib.crc32(data) if version == 1 else 0
        raw = name.encode()
        fixed = struct.pack("<HHHHHIIIHH", 51, 1, 99, 0, 0x5A21, crc, len(body), len(data),
                            len(raw), len(field))
        offset = len(out)
        out += b"PK\x03\x04" + fixed + raw + field + body
        central += (b"PK\x01\x02" + struct.pack("<H", 0x0314) + fixed +
                    struct.pack("<HHHII", 0, 0, 0, 0o100644 << 16, offset) + raw + field)
    end = struct.pack("<4sHHHHIIH", b"PK\x05\x06", 0, 0, len(members), len(members),
                      len(central), len(out), 0)
    with open(path, "wb") as f:
        f.write(bytes(out + central + end))


def read_aes_zip(path, password, only=None):
    """Reads every file of an archive whose files are all AES-encrypted:
    {name: (data, version, strength, method inside)},
    checking the password check value, the authentication code and (AE-1) the CRC."""
    with open(path, "rb") as f:
        blob = f.read()
    end = blob.rindex(b"PK\x05\x06")
    count, size, start = struct.unpack("<HII", blob[end + 10:end + 20])
    found = {}
    at = start
    for _ in range(count):
        (flags, method, crc, packed, plain, name_len, extra_len, comment_len,
         offset) = struct.unpack("<8xHH4xIIIHHH8xI", blob[at:at + 46])
        name = blob[at + 46:at + 46 + name_len].decode()
        at += 46 + name_len + extra_len + comment_len
        if name.endswith("/") or (only is not None and name not in only):
            continue  # a folder has no data to encrypt
        assert flags & 1 and method == 99, (name, flags, method)
        local_name, local_extra = struct.unpack("<HH", blob[offset + 26:offset + 30])
        extra = blob[offset + 30 + local_name:offset + 30 + local_name + local_extra]
        i = extra.index(b"\x01\x99\x07\x00")
        version, mark, strength, real = struct.unpack("<H2sBH", extra[i + 4:i + 11])
        assert mark == b"AE"
        data = blob[offset + 30 + local_name + local_extra:][:packed]
        salt_len = KEY_BYTES[strength] // 2
        salt, check = data[:salt_len], data[salt_len:salt_len + 2]
        secret, code = data[salt_len + 2:-10], data[-10:]
        key, mac_key, want = derive(password, salt, strength)
        assert check == want, name + ": password check value"
        assert auth(mac_key, secret) == code, name + ": authentication code"
        packed_data = ctr(key, secret)
        out = zlib.decompress(packed_data, -15) if real == 8 else packed_data
        assert len(out) == plain
        assert crc == (zlib.crc32(out) if version == 1 else 0), name + ": CRC"
        found[name] = (out, version, strength, real)
    return found


def read_file(path):
    with open(path, "rb") as f:
        return f.read()


def run(*args, cwd=None, env=None):
    return subprocess.run([BORVAN32, *args], cwd=cwd, capture_output=True, text=True,
                          timeout=120, stdin=subprocess.DEVNULL, env=env)


def files_under(folder):
    found = {}
    for root, _, names in os.walk(folder):
        for n in names:
            p = os.path.join(root, n)
            with open(p, "rb") as f:
                found[os.path.relpath(p, folder)] = f.read()
    return found


TEXT = b"".join(b"line %d of a text that repeats itself\n" % i for i in range(3000))
NOISE = os.urandom(5000)


@unittest.skipIf(hashes is None, "python3-cryptography is missing")
class ZipAesTest(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="zip_aes_")

    def tearDown(self):
        shutil.rmtree(self.dir, ignore_errors=True)

    def path(self, *parts):
        return os.path.join(self.dir, *parts)

    def listing(self, archive):
        r = run("-l", "--json", archive)
        self.assertEqual(r.returncode, 0, r.stderr)
        return {m["name"]: m for m in json.loads(r.stdout)["members"] if not m["folder"]}

    def extract(self, archive, password, target="out"):
        out = self.path(target)
        os.makedirs(out, exist_ok=True)
        r = run("-e", "--password=" + password, archive, out)
        return r, files_under(out)

    def check_reads(self, archive, password, expected, methods, target="out"):
        listed = self.listing(archive)
        self.assertEqual({n: (m["encrypted"], m["method"]) for n, m in listed.items()},
                         {n: (True, methods[n]) for n in expected})
        r = run("-t", "--password=" + password, archive)
        self.assertEqual(r.returncode, 0, r.stdout + r.stderr)
        r, got = self.extract(archive, password, target)
        self.assertEqual(r.returncode, 0, r.stdout + r.stderr)
        self.assertEqual(got, expected)

    @unittest.skipUnless(SEVENZIP, "7zz is missing")
    def test_aes256_archives_from_7zip_are_listed_tested_and_extracted(self):
        src = self.path("src")
        os.makedirs(os.path.join(src, "sub"))
        files = {"text.txt": TEXT, "noise.bin": NOISE, "sub/tiny.txt": b"hi\n", "empty": b""}
        for n, d in files.items():
            with open(os.path.join(src, n), "wb") as f:
                f.write(d)
        for label, level in (("deflated", ["-mx5"]), ("stored", ["-mx0"])):
            with self.subTest(label):
                archive = self.path(label + ".zip")
                r = subprocess.run([SEVENZIP, "a", "-tzip", "-mem=AES256", "-pPASS w0rd", *level,
                                    archive, "."], cwd=src, capture_output=True, timeout=120)
                self.assertEqual(r.returncode, 0, r.stderr)
                # The method inside is 7-Zip's choice (it stores what does not shrink); the
                # reader here says which it took.
                inside = read_aes_zip(archive, b"PASS w0rd")
                self.assertEqual({n: v[0] for n, v in inside.items()}, files)
                self.assertEqual(inside["text.txt"][3], 8 if label == "deflated" else 0)
                methods = {n: "AES-256 " + ("deflated" if v[3] == 8 else "stored")
                           for n, v in inside.items()}
                self.check_reads(archive, "PASS w0rd", files, methods, "out-" + label)

    def test_ae1_and_ae2_members_at_every_strength_are_read(self):
        members = [
            ("ae1-128-deflated.txt", TEXT, 1, 1, 8),
            ("ae2-128-stored.bin", NOISE, 2, 1, 0),
            ("ae1-192-stored.bin", NOISE[:77], 1, 2, 0),
            ("ae2-192-deflated.txt", TEXT[:20000], 2, 2, 8),
            ("ae2-256-deflated.txt", b"short", 2, 3, 8),
            ("ae1-256-stored-empty", b"", 1, 3, 0),
        ]
        archive = self.path("python.zip")
        write_aes_zip(archive, members, b"s3cret")
        names = {1: "AES-128", 2: "AES-192", 3: "AES-256"}
        self.check_reads(archive, "s3cret", {m[0]: m[1] for m in members},
                         {m[0]: names[m[3]] + (" deflated" if m[4] == 8 else " stored")
                          for m in members})

    def refused(self, archive, password, message, name="m.txt"):
        """-t and -e both fail naming the problem; -e leaves no file behind."""
        r = run("-t", "--password=" + password, archive)
        self.assertNotEqual(r.returncode, 0, r.stdout)
        self.assertIn(message, r.stderr)
        target = self.path("refused")
        shutil.rmtree(target, ignore_errors=True)
        r, got = self.extract(archive, password, "refused")
        self.assertNotEqual(r.returncode, 0, r.stdout)
        self.assertIn(message, r.stderr)
        self.assertNotIn(name, got)
        return got

    def test_wrong_password_altered_data_and_damaged_fields_are_refused(self):
        good = self.path("good.zip")
        write_aes_zip(good, [("m.txt", TEXT, 1, 3, 8)], b"pw")
        blob = read_file(good)
        data_at = 30 + len("m.txt") + 11 + 16 + 2
        cases = []
        cases.append(("wrong password", blob, "pwx", "the specified password is incorrect"))
        for label, where in (("first byte", data_at), ("middle", data_at + 300),
                             ("authentication code", blob.index(b"PK\x01\x02") - 1)):
            altered = bytearray(blob)
            altered[where] ^= 0x40
            cases.append(("altered " + label, bytes(altered), "pw",
                          "authentication code does not match"))
        # A stored member whose data changed decodes without complaint: only the code tells.
        stored = self.path("stored.zip")
        write_aes_zip(stored, [("m.txt", NOISE, 2, 1, 0)], b"pw")
        altered = bytearray(read_file(stored))
        altered[30 + 5 + 11 + 8 + 2 + 100] ^= 1
        cases.append(("altered stored AE-2", bytes(altered), "pw",
                      "authentication code does not match"))
        for label, field, message in (
                ("field too short", aes_field(2, 3, 8, size=6)[:10], "wrong size"),
                ("field too long", aes_field(2, 3, 8, size=8) + b"\0", "wrong size"),
                ("strength 0", aes_field(2, 0, 8), "unknown key strength"),
                ("strength 4", aes_field(2, 4, 8), "unknown key strength"),
                ("not AE", aes_field(2, 3, 8, mark=b"XY"), "not marked AE"),
                ("version 7", aes_field(7, 3, 8), "unknown version")):
            path = self.path("field.zip")
            write_aes_zip(path, [("m.txt", TEXT, 2, 3, 8, field)], b"pw")
            cases.append((label, read_file(path), "pw", message))
        for label, mangle, message in (
                ("data shorter than its AES parts", lambda b: b[:27], "cut short"),
                ("code cut to six bytes", lambda b: b[:-4], "does not match")):
            path = self.path("short.zip")
            write_aes_zip(path, [("m.txt", TEXT, 1, 3, 8, None, mangle)], b"pw")
            cases.append((label, read_file(path), "pw", message))
        # Both headers claim more data than the file holds: the code would lie past its end.
        past_end = bytearray(blob)
        size = struct.unpack_from("<I", past_end, 18)[0]
        struct.pack_into("<I", past_end, 18, size + 5000)
        struct.pack_into("<I", past_end, past_end.index(b"PK\x01\x02") + 20, size + 5000)
        # Sizes that reach past the archive's end are refused before the AES data is read.
        cases.append(("code past the end of the file", bytes(past_end), "pw",
                      "its data reaches past the end of the archive"))
        for label, data, password, message in cases:
            with self.subTest(label):
                path = self.path("case.zip")
                with open(path, "wb") as f:
                    f.write(data)
                self.refused(path, password, message)

    def settings(self, text):
        """An environment whose settings file holds `text` under [Borvan]."""
        home = self.path("config")
        os.makedirs(os.path.join(home, "borvan32"), exist_ok=True)
        with open(os.path.join(home, "borvan32", "borvan32.ini"), "w") as f:
            f.write("[Borvan]\n" + text)
        return dict(os.environ, XDG_CONFIG_HOME=home)

    def make_tree(self):
        src = self.path("src")
        files = {"big.txt": TEXT * 20, "noise.bin": NOISE * 20, "small.bin": NOISE[:300],
                 "tiny.txt": b"hi", "nineteen.txt": b"x" * 19, "twenty.txt": b"y" * 20,
                 "empty": b""}
        os.makedirs(src, exist_ok=True)
        for n, d in files.items():
            with open(os.path.join(src, n), "wb") as f:
                f.write(d)
        return src, files

    def test_our_aes_archives_open_in_7zip_and_in_the_reader_here(self):
        src, files = self.make_tree()
        names = sorted(files)
        cases = [("aes256", 3, "1"), ("aes256", 3, "4"), ("aes128", 1, "1"), ("aes192", 2, "2")]
        for cipher, strength, threads in cases:
            with self.subTest(cipher=cipher, threads=threads):
                archive = self.path("%s-%s.zip" % (cipher, threads))
                env = self.settings("Threads=%s\n" % threads)
                r = run("-a", "--encrypt=" + cipher, "--password=open sesame", archive, *names,
                        cwd=src, env=env)
                self.assertEqual(r.returncode, 0, r.stdout + r.stderr)
                inside = read_aes_zip(archive, b"open sesame")
                self.assertEqual({n: v[0] for n, v in inside.items()}, files)
                self.assertEqual({v[2] for v in inside.values()}, {strength})
                # Small members leave their CRC out (AE-2); the rest keep it (AE-1).
                self.assertEqual({n: v[1] for n, v in inside.items()},
                                 {n: 2 if len(d) < 20 else 1 for n, d in files.items()})
                self.assertEqual(inside["big.txt"][3], 8)
                self.assertEqual(inside["tiny.txt"][3], 0)
                if SEVENZIP:
                    out = self.path("7z-" + cipher + threads)
                    r = subprocess.run([SEVENZIP, "x", "-popen sesame", "-o" + out, archive],
                                       capture_output=True, text=True, timeout=120)
                    self.assertEqual(r.returncode, 0, r.stdout + r.stderr)
                    self.assertNotIn("WARNING", r.stdout.upper())
                    self.assertEqual(files_under(out), files)
                r = run("-t", "--password=open sesame", archive)
                self.assertEqual(r.returncode, 0, r.stdout + r.stderr)

    def test_the_cipher_comes_from_the_switch_else_the_settings(self):
        src, files = self.make_tree()
        cases = [
            # (settings, switches, expected: None for traditional encryption, else strength)
            ("", [], None),
            ("Encryption=aes192\n", [], 2),
            ("Encryption=aes192\n", ["--encrypt=zipcrypto"], None),
            ("Encryption=nonsense\n", [], None),
            ("", ["--encrypt=aes128"], 1),
        ]
        for settings, switches, strength in cases:
            with self.subTest(settings=settings, switches=switches):
                archive = self.path("choice.zip")
                if os.path.exists(archive):
                    os.remove(archive)
                r = run("-a", *switches, "--password=pw", archive, "big.txt", cwd=src,
                        env=self.settings(settings))
                self.assertEqual(r.returncode, 0, r.stdout + r.stderr)
                listed = self.listing(archive)["big.txt"]
                self.assertTrue(listed["encrypted"])
                if strength is None:
                    self.assertEqual(listed["method"], "deflated")
                    with zipfile.ZipFile(archive) as z:
                        self.assertEqual(z.read("big.txt", pwd=b"pw"), files["big.txt"])
                else:
                    self.assertEqual(read_aes_zip(archive, b"pw")["big.txt"][2], strength)
        for switches, message in ((["--encrypt=aes512", "--password=pw"], "is not a cipher"),
                                  (["--encrypt=aes256"], "--encrypt goes with --password")):
            with self.subTest(switches=switches):
                r = run("-a", *switches, self.path("never.zip"), "big.txt", cwd=src)
                self.assertEqual(r.returncode, 2)
                self.assertIn(message, r.stderr)
                self.assertFalse(os.path.exists(self.path("never.zip")))

    def test_updating_an_aes_member_writes_it_afresh(self):
        src, files = self.make_tree()
        archive = self.path("update.zip")
        r = run("-a", "--encrypt=aes256", "--password=pw", archive, "big.txt", "tiny.txt",
                cwd=src)
        self.assertEqual(r.returncode, 0, r.stderr)
        # Replaced with traditional encryption: no AES field of the old member may stay.
        r = run("-a", "--encrypt=zipcrypto", "--password=pw", archive, "big.txt", cwd=src)
        self.assertEqual(r.returncode, 0, r.stderr)
        listed = self.listing(archive)
        self.assertEqual((listed["big.txt"]["method"], listed["tiny.txt"]["method"]),
                         ("deflated", "AES-256 stored"))
        r, got = self.extract(archive, "pw")
        self.assertEqual(r.returncode, 0, r.stdout + r.stderr)
        self.assertEqual(got, {"big.txt": files["big.txt"], "tiny.txt": b"hi"})

    def test_members_before_a_refused_one_stay_and_it_leaves_nothing(self):
        path = self.path("two.zip")
        write_aes_zip(path, [("first.txt", b"first\n", 1, 1, 0),
                             ("m.txt", TEXT, 1, 3, 8, None, lambda b: b[:-1] + b"?")], b"pw")
        got = self.refused(path, "pw", "does not match")
        self.assertEqual(got, {"first.txt": b"first\n"})
        # A file the member would replace stays as it was.
        target = self.path("refused")
        with open(os.path.join(target, "m.txt"), "wb") as f:
            f.write(b"old")
        r = run("-e", "-o", "--password=pw", path, target)
        self.assertNotEqual(r.returncode, 0)
        self.assertEqual(files_under(target), {"first.txt": b"first\n", "m.txt": b"old"})


sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from borvan_window_test import BORVAN, WindowFixture  # noqa: E402
from tmux_harness import Tmux  # noqa: E402


@unittest.skipIf(hashes is None, "python3-cryptography is missing")
class AesWindowTest(WindowFixture):
    def test_the_add_dialog_writes_aes_and_the_window_reads_it_with_its_password(self):
        with open(os.path.join(self.dir, "secret.txt"), "wb") as f:
            f.write(TEXT)
        t = self.start("t.zip")
        t.wait_for("Total 3 files")
        t.keys("C-a")
        screen = t.wait_for("Encryption:")
        self.assertRegex(screen, r"\(.\) Traditional")
        t.text("secret.txt")
        # Alt+Y reaches the first cipher; each Down selects the next one.
        t.keys("M-y", "Down", "Down", "Down")
        t.keys("M-p")
        t.wait_for("Mask Password")
        t.text("pw")
        t.keys("Enter")
        t.wait_for("Please reenter your password:")
        t.text("pw")
        t.keys("Enter")
        t.wait_gone("Please reenter")
        t.keys("M-a")  # the focus stays on Password...: Alt+A is the Add button
        t.wait_for("Total 4 files")
        got = read_aes_zip(self.archive, b"pw", only={"secret.txt"})
        self.assertEqual(got["secret.txt"][:3], (TEXT, 1, 3))
        # The choice is the next add's default, in the window and without it.
        with open(os.path.join(self.config, "borvan32", "borvan32.ini")) as f:
            self.assertIn("Encryption=aes256", f.read())
        t.keys("C-a")
        screen = t.wait_for("Encryption:")
        self.assertRegex(screen, r"\( \) Traditional")
        self.assertRegex(screen, r"\([^ ]\) AES-256")
        t.keys("Escape")
        t.wait_gone("Encryption:")
        t.keys("C-q")
        t.wait_for(lambda s: t.dead(), timeout=10)
        t.close()

        # A fresh window asks for the password before it tests, then extracts with it.
        aes = os.path.join(self.dir, "aes.zip")
        write_aes_zip(aes, [("one.txt", TEXT, 1, 1, 8), ("two.bin", NOISE, 2, 2, 0)], b"pw")
        t = self.start("aes.zip")
        t.wait_for("Total 2 files")
        t.keys("C-t")
        t.wait_for("Mask Password")
        t.text("pw")
        t.keys("Enter")
        t.wait_for("ended without errors")
        t.keys("C-e")
        t.wait_for("Extract To:")
        t.keys("Enter")
        t.wait_for(lambda s: "Extract To:" not in s and "Total 2 files" in s)
        self.assertEqual(files_under(self.out), {"one.txt": TEXT, "two.bin": NOISE})

    def test_a_cipher_in_a_terminal_runs_headless_and_needs_a_password(self):
        with open(os.path.join(self.dir, "f.txt"), "wb") as f:
            f.write(b"data")
        script = '"$0" -a --encrypt=aes256 new.zip f.txt; echo "status=$?"; sleep 60'
        self.t = Tmux(["sh", "-c", script, BORVAN], cols=100, rows=30, env=self.env())
        screen = self.t.wait_for("status=")
        self.assertIn("--encrypt goes with --password", screen)
        self.assertIn("status=2", screen)
        self.assertFalse(os.path.exists(os.path.join(self.dir, "new.zip")))


if __name__ == "__main__":
    unittest.main()
