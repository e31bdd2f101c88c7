#!/usr/bin/env python3
"""Unix modes, symbolic links and extended times in zip archives: archives made by bsdtar and
Python's zipfile extracted by borvan32, and archives borvan32 writes read back by zipfile,
7zz and bsdtar."""
import os
import shutil
import stat
import subprocess
import sys
import tempfile
import time
import unittest
import zipfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

BORVAN32 = os.environ.get("BORVAN32", "borvan32")
HAVE_BSDTAR = shutil.which("bsdtar") is not None
HAVE_7ZZ = shutil.which("7zz") is not None
WHEN = 981173107  # 2001-02-03 04:05:07 UTC: odd seconds, which MS-DOS time cannot hold


def run(*args, cwd=None):
    return subprocess.run([BORVAN32, *args], cwd=cwd, capture_output=True, text=True,
                          stdin=subprocess.DEVNULL, timeout=120)


def need(tool, present):
    if not present and not os.environ.get("CI"):
        raise unittest.SkipTest(tool + " missing")


def unix_info(name, mode, date_time=(2020, 1, 2, 3, 4, 6)):
    info = zipfile.ZipInfo(name, date_time)
    info.create_system = 3
    info.external_attr = mode << 16
    return info


class Fixture(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="zip_unix_")
        self.addCleanup(shutil.rmtree, self.dir, True)
        self.old_umask = os.umask(0o022)
        self.addCleanup(os.umask, self.old_umask)

    def path(self, *parts):
        return os.path.join(self.dir, *parts)

    def make_tree(self):
        """A folder with files of several modes, links and a known time."""
        src = self.path("src")
        os.makedirs(os.path.join(src, "d"))
        for name, mode, data in (("exe.sh", 0o754, b"#!/bin/sh\n"), ("ro.txt", 0o440, b"ro\n"),
                                 ("d/plain.txt", 0o644, b"plain\n" * 500)):
            p = os.path.join(src, name)
            with open(p, "wb") as f:
                f.write(data)
            os.chmod(p, mode)
            os.utime(p, (WHEN, WHEN))
        os.symlink("exe.sh", os.path.join(src, "lnk"))
        os.symlink("../ro.txt", os.path.join(src, "d/up"))
        return src

    def check_tree(self, out, times=True, up_link=True):
        """What make_tree made, as extracted into `out`."""
        for name, mode in (("exe.sh", 0o754), ("ro.txt", 0o440), ("d/plain.txt", 0o644)):
            st = os.lstat(os.path.join(out, name))
            self.assertTrue(stat.S_ISREG(st.st_mode), name)
            self.assertEqual(stat.S_IMODE(st.st_mode), mode, name)
            if times:
                self.assertEqual(int(st.st_mtime), WHEN, name)
        self.assertEqual(os.readlink(os.path.join(out, "lnk")), "exe.sh")
        if not up_link:
            return
        self.assertEqual(os.readlink(os.path.join(out, "d/up")), "../ro.txt")
        with open(os.path.join(out, "d/up"), "rb") as f:
            self.assertEqual(f.read(), b"ro\n")


class PeerArchives(Fixture):
    def test_bsdtar_archive_keeps_modes_links_and_times(self):
        need("bsdtar", HAVE_BSDTAR)
        src = self.make_tree()
        subprocess.run(["bsdtar", "--format", "zip", "-cf", self.path("b.zip"), "."], cwd=src,
                       check=True)
        r = run("-e", "b.zip", "out", cwd=self.dir)
        self.assertEqual(r.returncode, 0, r.stdout + r.stderr)
        self.check_tree(self.path("out"))

    def test_zipfile_modes_with_umask_and_without_special_bits(self):
        with zipfile.ZipFile(self.path("m.zip"), "w") as z:
            for name, mode in (("suid", 0o104755), ("sgid_sticky", 0o103775), ("open", 0o100777),
                               ("private", 0o100600), ("bare", 0o755)):
                z.writestr(unix_info(name, mode), b"x")
            dos = zipfile.ZipInfo("dos.txt", (2020, 1, 2, 3, 4, 6))
            dos.create_system = 0
            dos.external_attr = 0o100700 << 16  # not made on Unix: the bits mean nothing
            z.writestr(dos, b"x")
        for umask, want in ((0o022, {"suid": 0o755, "sgid_sticky": 0o755, "open": 0o755,
                                     "private": 0o600, "bare": 0o755, "dos.txt": 0o644}),
                            (0o077, {"suid": 0o700, "open": 0o700, "dos.txt": 0o600})):
            with self.subTest(umask=oct(umask)):
                os.umask(umask)
                out = self.path("out%o" % umask)
                r = run("-e", "m.zip", out, cwd=self.dir)
                self.assertEqual(r.returncode, 0, r.stdout + r.stderr)
                for name, mode in want.items():
                    self.assertEqual(stat.S_IMODE(os.stat(os.path.join(out, name)).st_mode), mode,
                                     name)

    def test_extended_and_ntfs_times_win_over_the_dos_time(self):
        ntfs_ticks = (WHEN + 11644473600) * 10_000_000
        ntfs = (b"\x0a\x00\x20\x00" + b"\0" * 4 + b"\x01\x00\x18\x00" +
                ntfs_ticks.to_bytes(8, "little") + b"\0" * 16)
        ut = b"UT\x05\x00\x01" + (WHEN + 2).to_bytes(4, "little")
        cases = [("ntfs.txt", ntfs, WHEN), ("ut.txt", ut, WHEN + 2), ("both.txt", ntfs + ut, WHEN + 2)]
        with zipfile.ZipFile(self.path("t.zip"), "w") as z:
            for name, extra, _ in cases:
                info = zipfile.ZipInfo(name, (2020, 1, 2, 3, 4, 6))
                info.extra = extra
                z.writestr(info, b"t")
        r = run("-e", "t.zip", "out", cwd=self.dir)
        self.assertEqual(r.returncode, 0, r.stdout + r.stderr)
        for name, _, when in cases:
            self.assertEqual(int(os.stat(self.path("out", name)).st_mtime), when, name)


class OurArchives(Fixture):
    def add(self, *switches):
        src = self.make_tree()
        r = run("-a", "-r", "-p", *switches, self.path("o.zip"), "exe.sh", "ro.txt", "lnk", "d",
                cwd=src)
        self.assertEqual(r.returncode, 0, r.stdout + r.stderr)
        return zipfile.ZipFile(self.path("o.zip"))

    def test_zipfile_reads_modes_links_and_extended_times(self):
        with self.add() as z:
            infos = {i.filename: i for i in z.infolist()}
            for name, mode in (("exe.sh", 0o100754), ("ro.txt", 0o100440),
                               ("d/plain.txt", 0o100644), ("lnk", 0o120777), ("d/up", 0o120777)):
                self.assertEqual(infos[name].create_system, 3, name)
                self.assertEqual(infos[name].external_attr >> 16, mode, name)
            self.assertEqual(infos["ro.txt"].external_attr & 0xFF, 1)  # MS-DOS read-only bit
            for name, target in (("lnk", b"exe.sh"), ("d/up", b"../ro.txt")):
                self.assertEqual(infos[name].compress_type, zipfile.ZIP_STORED)
                self.assertEqual(z.read(name), target)
            # The extended-time field: flags 1 (modification time), then the time.
            ut = b"UT\x05\x00\x01" + WHEN.to_bytes(4, "little")
            self.assertIn(ut, infos["exe.sh"].extra)  # central header
            with open(self.path("o.zip"), "rb") as f:
                f.seek(infos["exe.sh"].header_offset)
                local = f.read(30 + 6 + 9)
            self.assertEqual(local[30 + 6:], ut)

    def test_peers_and_our_own_extraction_restore_the_tree(self):
        self.add().close()
        extractors = [("borvan32", None)]
        need("bsdtar", HAVE_BSDTAR)
        need("7zz", HAVE_7ZZ)
        # 7zz refuses every link with ".." in it, inside the folder or not: it checks the rest.
        extractors += [("bsdtar", ["bsdtar", "-xf"]), ("7zz", ["7zz", "x", "-y", "-snl"])]
        for who, command in extractors:
            with self.subTest(extractor=who):
                out = self.path("out-" + who)
                os.makedirs(out)
                if command:
                    subprocess.run(command + [self.path("o.zip")], cwd=out,
                                   check=who != "7zz", capture_output=True)
                else:
                    r = run("-e", self.path("o.zip"), out)
                    self.assertEqual(r.returncode, 0, r.stdout + r.stderr)
                self.check_tree(out, up_link=who != "7zz")

    def test_follow_links_stores_what_the_link_points_to(self):
        with self.add("--follow-links") as z:
            infos = {i.filename: i for i in z.infolist()}
            self.assertEqual(infos["lnk"].external_attr >> 16, 0o100754)
            self.assertEqual(z.read("lnk"), b"#!/bin/sh\n")
            self.assertEqual(z.read("d/up"), b"ro\n")


class HostileLinks(Fixture):
    def test_links_out_of_the_folder_are_not_made_and_nothing_is_written_through_a_link(self):
        elsewhere = self.path("elsewhere")
        os.makedirs(elsewhere)
        with zipfile.ZipFile(self.path("h.zip"), "w") as z:
            for name, target in (("passwd", "/etc/passwd"), ("sub/up2", "../../x"),
                                 ("dir", elsewhere), ("dot", "."), ("climb", "dot/dot/../x"),
                                 ("a", "b"), ("b", "/etc"), ("fine", "sub/file")):
                z.writestr(unix_info(name, 0o120777), target)
            z.writestr(unix_info("dir/file", 0o100644), b"through the link")
            z.writestr(unix_info("a/file", 0o100644), b"through the link")
            z.writestr(unix_info("sub/file", 0o104755), b"setuid")
        r = run("-e", "h.zip", "out", cwd=self.dir)
        self.assertEqual(r.returncode, 2, r.stdout + r.stderr)  # members were left out
        out = self.path("out")
        # "dir" was not made a link: "dir/file" went into a folder of its own.
        self.assertEqual(sorted(os.listdir(out)), ["a", "dir", "dot", "fine", "sub"])
        self.assertTrue(stat.S_ISDIR(os.lstat(self.path("out/dir")).st_mode))
        self.assertEqual(os.listdir(elsewhere), [])
        self.assertFalse(os.path.exists(self.path("x")))
        self.assertEqual(sorted(os.listdir(self.path("out", "sub"))), ["file"])
        self.assertEqual(stat.S_IMODE(os.stat(self.path("out/sub/file")).st_mode), 0o755)
        self.assertEqual(os.readlink(self.path("out/a")), "b")
        for name, target in (("passwd", "/etc/passwd"), ("sub/up2", "../../x"),
                             ("dir", elsewhere), ("climb", "dot/dot/../x"), ("b", "/etc")):
            self.assertIn("not creating the link %s: its target %s leads outside" % (name, target),
                          r.stdout + r.stderr)
        self.assertIn("skipping a/file: its folder", r.stdout + r.stderr)
        with open(self.path("out/sub/file"), "rb") as f:
            self.assertEqual(f.read(), b"setuid")

    def test_links_already_on_disk_are_not_written_through_or_pointed_at(self):
        elsewhere = self.path("elsewhere")
        out = self.path("out")
        os.makedirs(elsewhere)
        os.makedirs(out)
        os.symlink(elsewhere, os.path.join(out, "dir"))
        with zipfile.ZipFile(self.path("h.zip"), "w") as z:
            z.writestr(unix_info("dir/file", 0o100644), b"through the link")
            z.writestr(unix_info("via", 0o120777), "dir/file")
        r = run("-e", "-o", "h.zip", "out", cwd=self.dir)
        self.assertEqual(r.returncode, 2, r.stdout + r.stderr)  # members were left out
        self.assertEqual(os.listdir(elsewhere), [])
        self.assertFalse(os.path.lexists(os.path.join(out, "via")))
        self.assertIn("skipping dir/file: its folder", r.stdout + r.stderr)
        self.assertIn("not creating the link via", r.stdout + r.stderr)


class Listing(Fixture):
    def test_listing_shows_link_targets(self):
        with zipfile.ZipFile(self.path("l.zip"), "w") as z:
            z.writestr(unix_info("d/up", 0o120777), "../ro.txt")
            z.writestr(unix_info("ro.txt", 0o100444), "ro")
            z.writestr(unix_info("deflated-link", 0o120777), "x" * 200,
                       compress_type=zipfile.ZIP_DEFLATED)  # not read: shown as a file
        r = run("-l", self.path("l.zip"))
        self.assertEqual(r.returncode, 0, r.stderr)
        names = [line.split("\t")[0] for line in r.stdout.splitlines()[1:-1]]
        self.assertEqual(names, ["up -> ../ro.txt", "ro.txt", "deflated-link"])


class WindowExtraction(unittest.TestCase):
    def test_the_window_names_the_refused_link_and_leaves_nothing_outside(self):
        from borvan_window_test import WindowFixture  # noqa: E402

        class Window(WindowFixture):
            def runTest(self):
                pass

        self.addCleanup(os.umask, os.umask(0o022))
        w = Window()
        w.setUp()
        self.addCleanup(w.tearDown)
        with zipfile.ZipFile(os.path.join(w.dir, "h.zip"), "w") as z:
            z.writestr(unix_info("passwd", 0o120777), "/etc/passwd")
            z.writestr(unix_info("ok.txt", 0o100755), "ok")
        t = w.start("-e", "h.zip", "wout")
        t.wait_for("Warnings were issued", timeout=20)
        t.keys("y")
        t.wait_for("not creating the link passwd: its target /etc/passwd leads outside", timeout=10)
        out = os.path.join(w.dir, "wout")
        self.assertEqual(os.listdir(out), ["ok.txt"])
        self.assertEqual(stat.S_IMODE(os.stat(os.path.join(out, "ok.txt")).st_mode), 0o755)


if __name__ == "__main__":
    unittest.main(verbosity=1)
