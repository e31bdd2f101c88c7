#!/usr/bin/env python3
"""Builds the benchmarks' corpus from files found on this machine, in four kinds (text, source,
binaries, already-compressed data).

Usage: make_corpus.py OUTPUT.zip [TARGET_MB]     about TARGET_MB (50) of zip made with zipfile
       make_corpus.py --dir FOLDER [TARGET_MB]   about TARGET_MB (44 MiB: 46 MB) of plain files,
                                                 about 1,200 of them (files under 3 KB left out)
"""
import os
import shutil
import sys
import zipfile

KINDS = [
    # (share of the target, roots, accept(path))
    (0.25, ["/usr/share/doc", "/usr/share/common-licenses", "/usr/share/perl", "/usr/share/man"],
     lambda p: not p.endswith((".gz", ".xz", ".bz2", ".png", ".jpg"))),
    (0.25, ["/usr/include", "/usr/lib/python3", "/usr/share/cmake-3.25", "/usr/src"],
     lambda p: p.endswith((".h", ".hpp", ".c", ".cc", ".py", ".cmake", ".txt", ".pl", ".pm"))),
    (0.35, ["/usr/lib/x86_64-linux-gnu", "/usr/bin", "/usr/lib/gcc", "/usr/libexec"],
     lambda p: True),
    (0.15, ["/usr/share/doc", "/usr/share/man", "/usr/share/icons", "/usr/share/pixmaps",
            "/usr/lib/python3"],
     lambda p: p.endswith((".gz", ".xz", ".bz2", ".png", ".jpg", ".zip", ".whl"))),
]


def files_under(roots, accept):
    seen = set()
    for root in roots:
        for dirpath, dirnames, filenames in os.walk(root):
            dirnames.sort()
            for name in sorted(filenames):
                path = os.path.join(dirpath, name)
                if path in seen or os.path.islink(path) or not os.path.isfile(path):
                    continue
                seen.add(path)
                if accept(path):
                    yield path


def make_folder(out, target_bytes):
    """Copies files into OUT (their paths kept below it) until each kind has its share of
    TARGET_BYTES of plain data. Returns (bytes, files)."""
    taken = set()
    total = 0
    for share, roots, accept in KINDS:
        quota = share * target_bytes
        got = 0
        for path in files_under(roots, accept):
            if got >= quota:
                break
            size = os.path.getsize(path)
            if path in taken or size < 3072 or size > 4 * 1024 * 1024 or got + size > quota * 1.05:
                continue
            dest = os.path.join(out, path.lstrip("/"))
            try:
                os.makedirs(os.path.dirname(dest), exist_ok=True)
                shutil.copy2(path, dest)
            except OSError:
                continue
            taken.add(path)
            got += size
        total += got
    return total, len(taken)


def main():
    if len(sys.argv) > 2 and sys.argv[1] == "--dir":
        target = float(sys.argv[3]) if len(sys.argv) > 3 else 44.0
        total, count = make_folder(sys.argv[2], int(target * 1024 * 1024))
        print(sys.argv[2], total, "bytes,", count, "files")
        return
    out = sys.argv[1]
    target = float(sys.argv[2]) if len(sys.argv) > 2 else 50.0
    target_bytes = int(target * 1024 * 1024)
    taken = set()
    with zipfile.ZipFile(out, "w", zipfile.ZIP_DEFLATED, compresslevel=6) as z:
        for share, roots, accept in KINDS:
            quota = share * target_bytes
            start = z.fp.tell()
            for path in files_under(roots, accept):
                if z.fp.tell() - start >= quota:
                    break
                if path in taken or os.path.getsize(path) > 8 * 1024 * 1024:
                    continue
                try:
                    z.write(path, path.lstrip("/"))
                except OSError:
                    continue
                taken.add(path)
    print(out, os.path.getsize(out), "bytes,", len(taken), "members")


if __name__ == "__main__":
    main()
