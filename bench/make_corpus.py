#!/usr/bin/env python3
"""Builds the inflate benchmark's archive: about 50 MB of zip made with Python's zipfile from
files found on this machine, in four kinds (text, source, binaries, already-compressed data).

Usage: make_corpus.py OUTPUT.zip [TARGET_MB]
"""
import os
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


def main():
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
