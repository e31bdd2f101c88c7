#!/usr/bin/env python3
"""Writes the example files that `make run` packs into build/example/example.zip."""
import os
import sys

out = os.path.join(sys.argv[1] if len(sys.argv) > 1 else "build/example", "files")
files = {
    "README.TXT": "An example archive.\nLook at its members, test them, extract them.\n" * 20,
    "docs/notes.txt": "".join(f"note {i}: the quick brown fox\n" for i in range(400)),
    "docs/empty.txt": "",
    "data/numbers.bin": bytes(range(256)) * 64,
    "data/random.bin": os.urandom(4096),
}
for name, body in files.items():
    path = os.path.join(out, name)
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(body.encode() if isinstance(body, str) else body)
print(out)
