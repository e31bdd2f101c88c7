#!/usr/bin/env python3
"""borvan32 on files encoded for mail: MIME messages made by Python's email module, uuencoded
files made by sharutils, bare base64 and BinHex 4.0 carrying a zip (listed, tested and
extracted byte-exact through the archive inside), several files in one mail, hostile
attachment names, damaged encodings, and --mail= outputs decoded back by independent peers."""
import base64
import binascii
import email
import email.policy
import io
import json
import os
import shutil
import subprocess
import sys
import tempfile
import unittest
import zipfile
from email.message import EmailMessage

BORVAN32 = os.environ.get("BORVAN32", "borvan32")
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from borvan_window_test import WindowFixture  # noqa: E402

MEMBERS = {
    "hello.txt": b"hello, mail\n" * 300,
    "data/bytes.bin": bytes(range(256)) * 37,
    "empty.txt": b"",
}


def run(*args, cwd=None):
    return subprocess.run([BORVAN32, *args], capture_output=True, cwd=cwd,
                          stdin=subprocess.DEVNULL, timeout=120)


def need(tool):
    """Skips without the tool, but fails when CI is set: a build machine must have it."""
    if shutil.which(tool):
        return
    if os.environ.get("CI"):
        raise AssertionError(tool + " is missing (CI is set)")
    raise unittest.SkipTest(tool + " is missing")


def zip_bytes(members=MEMBERS):
    buf = io.BytesIO()
    with zipfile.ZipFile(buf, "w", zipfile.ZIP_DEFLATED) as z:
        for name, data in members.items():
            z.writestr(name, data)
    return buf.getvalue()


def rows(listing):
    lines = listing.decode().splitlines()
    return [line.split("\t")[0] for line in lines[1:-1]]


BINHEX_CHARS = b"!\"#$%&'()*+,-012345689@ABCDEFGHIJKLMNPQRSTUVXYZ[`abcdefhijklmpqr"


def binhex(name, data, spoil=None, resource=b""):
    """BinHex 4.0 written from the format notes: header, data fork, resource fork, each with
    its CRC (binascii.crc_hqx), run-length coded with 0x90 and six bits a character."""
    def crc(b):
        return binascii.crc_hqx(b, 0).to_bytes(2, "big")
    header = bytes([len(name)]) + name + b"\0" + b"ZIP " + b"bvan" + b"\0\0"
    header += len(data).to_bytes(4, "big") + len(resource).to_bytes(4, "big")
    body = header + crc(header) + data + (b"\0\0" if spoil == "crc" else crc(data))
    body += resource + crc(resource)
    rle = bytearray()
    i = 0
    while i < len(body):
        run_len = 1
        while i + run_len < len(body) and body[i + run_len] == body[i] and run_len < 255:
            run_len += 1
        rle.append(body[i])
        if body[i] == 0x90:
            rle.append(0)
        if run_len >= 3:
            rle += bytes([0x90, run_len])
            i += run_len
        else:
            i += 1
    bits, have, chars = 0, 0, bytearray()
    for b in rle:
        bits, have = (bits << 8) | b, have + 8
        while have >= 6:
            have -= 6
            chars.append(BINHEX_CHARS[(bits >> have) & 63])
    if have:
        chars.append(BINHEX_CHARS[(bits << (6 - have)) & 63])
    text = b":" + bytes(chars) + b":"
    lines = [text[i:i + 64] for i in range(0, len(text), 64)]
    return b"(This file must be converted with BinHex 4.0)\n\n" + b"\n".join(lines) + b"\n"


class Base(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="mail_files_e2e_")
        self.addCleanup(shutil.rmtree, self.dir, True)
        self.env_home = self.path("home")
        os.mkdir(self.env_home)

    def path(self, *names):
        return os.path.join(self.dir, *names)

    def write(self, name, data):
        with open(self.path(name), "wb") as f:
            f.write(data)
        return self.path(name)

    def tree(self, folder):
        """Every file below `folder`, by relative path, with its bytes."""
        found = {}
        for root, _, files in os.walk(folder):
            for f in files:
                full = os.path.join(root, f)
                with open(full, "rb") as h:
                    found[os.path.relpath(full, folder)] = h.read()
        return found

    def assert_carries_zip(self, mail_file):
        """-l, -l --json, -t and -e work on the zip inside, byte-exact."""
        r = run("-l", mail_file)
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertEqual(sorted(rows(r.stdout)), sorted(os.path.basename(n) for n in MEMBERS))
        r = run("-l", "--json", mail_file)
        self.assertEqual(r.returncode, 0, r.stderr)
        doc = json.loads(r.stdout)
        self.assertEqual(doc["archive"]["kind"], "zip")
        self.assertEqual(doc["archive"]["path"], mail_file)
        self.assertEqual(sorted(m["name"] for m in doc["members"]), sorted(MEMBERS))
        r = run("-t", mail_file)
        self.assertEqual(r.returncode, 0, r.stderr)
        out = self.path("out-" + os.path.basename(mail_file))
        r = run("-e", mail_file, out)
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertEqual(self.tree(out), MEMBERS)


class ReadsMail(Base):
    def test_mime_message_from_python_email(self):
        msg = EmailMessage()
        msg["Subject"] = "the archive"
        msg["From"] = "a@example.org"
        msg.set_content("Here is the archive.\n")
        msg.add_attachment(zip_bytes(), maintype="application", subtype="zip",
                           filename="files.zip")
        self.assert_carries_zip(self.write("message.eml", msg.as_bytes()))

    def test_nested_message_with_encoded_name(self):
        inner = EmailMessage()
        inner["Subject"] = "inner"
        inner.set_content("inner text")
        inner.add_attachment(zip_bytes(), maintype="application", subtype="zip",
                             filename="été archive.zip")  # RFC 2231 name from email
        outer = EmailMessage()
        outer["Subject"] = "forwarded"
        outer.set_content("see attached")
        outer.add_attachment(inner)
        mail_file = self.write("outer.mim", outer.as_bytes())
        self.assert_carries_zip(mail_file)

    def test_uuencode_from_sharutils(self):
        need("uuencode")
        z = self.write("files.zip", zip_bytes())
        for extra in ([], ["-m"]):  # the classic form and the base64 form ("begin-base64")
            with self.subTest(extra=extra):
                with open(self.path("files.uue"), "wb") as f:
                    subprocess.run(["uuencode", *extra, z, "files.zip"], stdout=f, check=True)
                self.assert_carries_zip(self.path("files.uue"))

    def test_xxencode_base64_and_binhex(self):
        data = zip_bytes()
        b64 = self.write("files.zip.b64", base64.encodebytes(data))
        self.assert_carries_zip(b64)
        hqx = self.write("files.hqx", binhex(b"files.zip", data))
        self.assert_carries_zip(hqx)
        # A resource fork that holds anything is kept as a file of its own.
        hqx = self.write("forks.hqx", binhex(b"notes.txt", b"text\n", resource=b"\x00rsrc\x90"))
        r = run("-l", hqx)
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertEqual(rows(r.stdout), ["notes.txt", "notes.txt.rsrc"])
        out = self.path("forks")
        self.assertEqual(run("-e", hqx, out).returncode, 0)
        with open(os.path.join(out, "notes.txt.rsrc"), "rb") as f:
            self.assertEqual(f.read(), b"\x00rsrc\x90")
        # xxencode has no common peer: borvan32's own writer, checked by hand-decoding below
        z = self.write("x.zip", data)
        self.assertEqual(run("--mail=xx", z).returncode, 0)
        self.assert_carries_zip(z + ".xxe")

    def test_several_files_listed_and_extracted(self):
        msg = EmailMessage()
        msg["Subject"] = "two files"
        msg.set_content("two files follow")
        msg.add_attachment(b"first\x00file", maintype="application", subtype="octet-stream",
                           filename="one.bin")
        msg.add_attachment("second file\n", subtype="plain", filename="two.txt", cte="quoted-printable")
        mail_file = self.write("two.eml", msg.as_bytes())
        r = run("-l", mail_file)
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertEqual(rows(r.stdout), ["one.bin", "two.txt"])
        r = run("-l", "--json", mail_file)
        doc = json.loads(r.stdout)
        self.assertEqual(doc["archive"]["kind"], "mail")
        self.assertEqual([(m["name"], m["size"]) for m in doc["members"]],
                         [("one.bin", 10), ("two.txt", 12)])
        self.assertEqual(run("-t", mail_file).returncode, 0)
        out = self.path("out")
        r = run("-e", mail_file, out)
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertEqual(self.tree(out), {"one.bin": b"first\x00file", "two.txt": b"second file\n"})
        # An existing file is kept without -o, replaced with it.
        self.write("out/one.bin", b"mine")
        self.assertEqual(run("-e", mail_file, out).returncode, 1)
        self.assertEqual(self.tree(out)["one.bin"], b"mine")
        self.assertEqual(run("-e", "-o", mail_file, out).returncode, 0)
        self.assertEqual(self.tree(out)["one.bin"], b"first\x00file")


class HostileAndDamaged(Base):
    def test_hostile_names_never_leave_the_target(self):
        need("uuencode")
        cases = [
            ("mime", "../../escaped.txt"),
            ("mime", "/etc/escaped-abs.txt"),
            ("uu", "../../escaped-uu.txt"),
            ("mime", "bad\x1bname.txt"),
        ]
        for form, name in cases:
            with self.subTest(form=form, name=name):
                work = self.path("work-%d" % cases.index((form, name)))
                target = os.path.join(work, "a", "b", "target")
                os.makedirs(target)
                if form == "mime":
                    msg = EmailMessage()
                    msg.set_content("text")
                    msg.add_attachment(b"payload", maintype="application",
                                       subtype="octet-stream", filename="keep.bin")
                    msg.add_attachment(b"evil", maintype="application",
                                       subtype="octet-stream", filename=name)
                    mail_file = os.path.join(work, "m.eml")
                    with open(mail_file, "wb") as f:
                        f.write(msg.as_bytes())
                else:
                    src = self.path("evil-source")
                    with open(src, "wb") as f:
                        f.write(b"evil")
                    mail_file = os.path.join(work, "m.uue")
                    with open(mail_file, "wb") as f:
                        subprocess.run(["uuencode", src, name], stdout=f, check=True)
                r = run("-e", mail_file, target)
                written = self.tree(work)
                for rel, data in written.items():
                    if data == b"evil":
                        self.assertTrue(rel.startswith(os.path.join("a", "b", "target") + os.sep),
                                        rel)
                if name.startswith("/"):
                    self.assertEqual(r.returncode, 0, r.stderr)
                    self.assertIn(os.path.join("a", "b", "target", "etc", "escaped-abs.txt"), written)
                else:
                    self.assertNotEqual(r.returncode, 0)
                    self.assertIn(b"not safe", r.stderr)
                    self.assertNotIn(b"evil", [d for d in written.values()])
                if form == "mime":
                    self.assertEqual(written[os.path.join("a", "b", "target", "keep.bin")],
                                     b"payload")

    def test_damaged_encodings_fail_cleanly_and_write_nothing(self):
        need("uuencode")
        data = zip_bytes()
        z = self.write("files.zip", data)
        uue = subprocess.run(["uuencode", z, "files.zip"], capture_output=True,
                             check=True).stdout
        b64 = base64.encodebytes(data)
        msg = EmailMessage()
        msg.set_content("text")
        msg.add_attachment(data, maintype="application", subtype="zip", filename="files.zip")
        eml = msg.as_bytes()
        hqx = binhex(b"files.zip", data)
        bad_char = bytearray(uue)
        bad_char[uue.index(b"\n") + 10] = ord("~")
        cases = [
            ("uu cut short", "a.uue", uue[: len(uue) // 2]),
            ("uu bad character", "b.uue", bytes(bad_char)),
            ("base64 cut short", "c.b64", b64[:-3]),
            ("base64 bad character", "d.b64", b64[:40] + b"!" + b64[41:]),
            ("mime cut short", "e.eml", eml[: len(eml) * 2 // 3]),
            ("mime bad base64", "f.eml", eml.replace(b"UEsDB", b"UE*DB", 1)),
            ("binhex crc wrong", "g.hqx", binhex(b"files.zip", data, spoil="crc")),
            ("binhex cut short", "h.hqx", hqx[: len(hqx) // 2]),
            ("binhex bad character", "i.hqx", hqx[:120] + b"o" + hqx[121:]),
        ]
        for what, name, content in cases:
            with self.subTest(what):
                mail_file = self.write(name, content)
                for args in (["-l"], ["-t"], ["-e"]):
                    out = self.path("out-" + name + args[0])
                    cmd = [*args, mail_file] + ([out] if args == ["-e"] else [])
                    r = run(*cmd)
                    self.assertEqual(r.returncode, 2, (what, args, r.stdout, r.stderr))
                    self.assertTrue(r.stderr.strip(), what)
                    self.assertEqual(r.stdout, b"", what)
                    self.assertFalse(os.path.exists(out) and os.listdir(out), what)


class WritesMail(Base):
    def test_mail_forms_decode_back_with_peers(self):
        need("uudecode")
        data = zip_bytes()
        z = self.write("pack.zip", data)
        for form, ext in (("uu", ".uue"), ("xx", ".xxe"), ("base64", ".b64"), ("mime", ".eml")):
            with self.subTest(form):
                r = run("--mail=" + form, z)
                self.assertEqual(r.returncode, 0, r.stderr)
                with open(z + ext, "rb") as f:
                    text = f.read()
                if form == "uu":
                    lines = text.splitlines()
                    self.assertEqual(lines[0], b"begin 644 pack.zip")
                    decoded = b"".join(binascii.a2b_uu(l) for l in lines[1:-1])
                    self.assertEqual(decoded, data)
                    out = subprocess.run(["uudecode", "-o", "/dev/stdout", z + ext],
                                         capture_output=True, check=True).stdout
                    self.assertEqual(out, data)
                elif form == "xx":
                    self.assertTrue(text.startswith(b"begin 644 pack.zip\n"))
                elif form == "base64":
                    self.assertEqual(base64.b64decode(text), data)
                else:
                    msg = email.message_from_bytes(text, policy=email.policy.default)
                    parts = [p for p in msg.iter_attachments()]
                    self.assertEqual(len(parts), 1)
                    self.assertEqual(parts[0].get_filename(), "pack.zip")
                    self.assertEqual(parts[0].get_content_type(), "application/zip")
                    self.assertEqual(parts[0].get_content(), data)
                # and borvan32 reads its own output back to the same members
                out = self.path("back-" + form)
                self.assertEqual(run("-e", z + ext, out).returncode, 0)
                self.assertEqual(self.tree(out), MEMBERS)

    def test_bad_form_is_a_usage_error(self):
        z = self.write("pack.zip", zip_bytes())
        r = run("--mail=yenc", z)
        self.assertEqual(r.returncode, 2)
        self.assertIn(b"--mail=yenc", r.stderr)
        self.assertFalse(os.path.exists(z + ".yenc"))


class MailInTheWindow(WindowFixture):
    """The full-screen manager in tmux opens the archive a mail file carries, and offers the
    files of a mail that carries several."""

    def test_window_opens_the_zip_a_message_carries(self):
        msg = EmailMessage()
        msg["Subject"] = "the archive"
        msg.set_content("see attached")
        with open(self.archive, "rb") as f:
            data = f.read()
        msg.add_attachment(data, maintype="application", subtype="zip", filename="t.zip")
        mail_file = os.path.join(self.dir, "message.eml")
        with open(mail_file, "wb") as f:
            f.write(msg.as_bytes())
        t = self.start(mail_file)
        screen = t.wait_for("Total 3 files")
        self.assertIn("message.eml", screen)
        self.assertNotIn("/proc/", screen)
        t.keys("C-e")
        t.wait_for("Extract To:")
        t.keys("Enter")
        want = os.path.join(self.out, "big.bin")
        t.wait_for(lambda s: "Extract To:" not in s and os.path.exists(want))
        with open(want, "rb") as f:
            self.assertEqual(f.read(), bytes(range(256)) * 40)

    def test_window_offers_the_files_of_a_mail(self):
        msg = EmailMessage()
        msg.set_content("two files")
        msg.add_attachment(b"one", maintype="application", subtype="octet-stream",
                           filename="one.bin")
        msg.add_attachment(b"evil", maintype="application", subtype="octet-stream",
                           filename="../evil.bin")
        mail_file = os.path.join(self.dir, "two.eml")
        with open(mail_file, "wb") as f:
            f.write(msg.as_bytes())
        t = self.start(mail_file)
        t.wait_for("carries 2 files")
        t.keys("y")
        t.wait_for("Extracted with problems")
        self.assertIn("not safe", t.screen())
        with open(os.path.join(self.dir, "two", "one.bin"), "rb") as f:
            self.assertEqual(f.read(), b"one")
        self.assertFalse(os.path.exists(os.path.join(self.dir, "evil.bin")))


if __name__ == "__main__":
    unittest.main()
