#!/usr/bin/env python3
"""Makes the example archive that `make run` opens: a few text and binary files, some in folders."""
import os
import sys
import zipfile

out = sys.argv[1] if len(sys.argv) > 1 else "build/example"
os.makedirs(out, exist_ok=True)
path = os.path.join(out, "example.zip")
if not os.path.exists(path):
    with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED) as z:
        z.writestr("README.TXT", "An example archive.\nOpen it, look at its members, extract them.\n" * 20)
        z.writestr("docs/notes.txt", "".join(f"note {i}: the quick brown fox\n" for i in range(400)))
        z.writestr("docs/empty.txt", "")
        z.writestr("data/numbers.bin", bytes(range(256)) * 64)
        z.writestr("data/stored.txt", "stored, not compressed\n", compress_type=zipfile.ZIP_STORED)
print(path)
