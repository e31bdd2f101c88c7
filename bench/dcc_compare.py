#!/usr/bin/env python3
"""A DCC file send between two whole vesk32 processes over loopback, with the default
settings, against a plain TCP copy of the same file that writes it to disk on the same machine
(a sender using sendfile, a receiver reading 1 MiB at a time and writing each block). Reports
the rate of each, their ratio, and the peak memory (VmHWM) of both clients.

Usage: bench/dcc_compare.py [--vesk32 PATH] [--mib N] [--rounds N] [--work DIR]
(the defaults: build/chat/vesk32, 200 MiB, 3 rounds; each case reports its best round).
"""
import argparse
import hashlib
import os
import shutil
import socket
import sys
import tempfile
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests"))
import chat_connection_test as base  # noqa: E402  (the headless client driver and ngircd)


def make_file(path, size):
    block = hashlib.sha256(b"dcc").digest() * (1 << 15)  # 1 MiB that does not repeat soon
    with open(path, "wb") as f:
        left = size
        while left:
            n = min(left, len(block))
            f.write(block[:n])
            left -= n
            block = block[7:] + block[:7]


def digest(path):
    h = hashlib.sha256()
    with open(path, "rb") as f:
        for chunk in iter(lambda: f.read(1 << 20), b""):
            h.update(chunk)
    return h.hexdigest()


def plain_copy(src, dst):
    """Seconds for a plain TCP copy of src into dst over loopback."""
    listener = socket.socket()
    listener.bind(("127.0.0.1", 0))
    listener.listen(1)
    port = listener.getsockname()[1]

    def receive():
        conn, _ = listener.accept()
        with conn, open(dst, "wb") as out:
            buf = bytearray(1 << 20)
            view = memoryview(buf)
            while True:
                n = conn.recv_into(buf)
                if not n:
                    break
                out.write(view[:n])

    t0 = time.monotonic()
    reader = threading.Thread(target=receive)
    reader.start()
    with socket.create_connection(("127.0.0.1", port)) as s, open(src, "rb") as f:
        s.sendfile(f)
    reader.join()
    listener.close()
    return time.monotonic() - t0


def peak_kib(pid):
    with open("/proc/%d/status" % pid) as f:
        for line in f:
            if line.startswith("VmHWM:"):
                return int(line.split()[1])
    return 0


def vesk_send(vesk32, work, src, size, port):
    """Seconds for a DCC send of src from one vesk32 to another, and both clients' peak KiB."""
    base.VESK32 = vesk32
    get = os.path.join(work, "get")
    shutil.rmtree(get, ignore_errors=True)
    os.makedirs(get)
    ini = ("[Vesk]\nnick={0}\nanick={0}_\nuser={0}\nemail={0}@example.org\n[Dirs]\ngetdir=%s\n"
           % get)
    a = base.Client(["-s", "127.0.0.1:%d" % port], ini.format("alice"))
    b = base.Client(["-s", "127.0.0.1:%d" % port], ini.format("bob"))
    try:
        for c, nick in ((a, "alice"), (b, "bob")):
            c.expect(r"^Welcome to the Internet Relay Network %s" % nick, timeout=20)
        a.type("/dcc send bob %s" % src)
        b.expect(r"^\*\*\* alice wants to send you: ", timeout=20)
        t0 = time.monotonic()
        b.type("/dcc get alice")
        name = os.path.basename(src)
        b.expect(r"^DCC Get completed", window="Get alice %s" % name, timeout=600)
        seconds = time.monotonic() - t0
        a.expect(r"^DCC Send completed", window="Send bob %s" % name, timeout=60)
        peaks = (peak_kib(a.proc.pid), peak_kib(b.proc.pid))
        got = os.path.join(get, name)
        if os.path.getsize(got) != size or digest(got) != digest(src):
            raise SystemExit("the received file differs from the one sent")
        return seconds, peaks
    finally:
        a.kill()
        b.kill()


def main():
    p = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    p.add_argument("--vesk32", default=os.path.join(HERE, "..", "build", "chat", "vesk32"))
    p.add_argument("--mib", type=int, default=200)
    p.add_argument("--rounds", type=int, default=3)
    p.add_argument("--work")
    args = p.parse_args()
    vesk32 = os.path.abspath(args.vesk32)
    work = args.work or tempfile.mkdtemp(prefix="dcc-compare-")
    os.makedirs(work, exist_ok=True)
    size = args.mib << 20
    src = os.path.join(work, "send.bin")
    make_file(src, size)
    port = base.free_port()
    helper = base.NgircdTests("start_ngircd")
    helper.dir = work
    ngircd = helper.start_ngircd(port)
    try:
        copies, sends, peaks = [], [], (0, 0)
        for _ in range(args.rounds):
            dst = os.path.join(work, "copy.bin")
            copies.append(plain_copy(src, dst))
            os.unlink(dst)
            seconds, round_peaks = vesk_send(vesk32, work, src, size, port)
            sends.append(seconds)
            peaks = tuple(max(x, y) for x, y in zip(peaks, round_peaks))
    finally:
        ngircd.kill()
        ngircd.wait()
    mb = size / 1e6
    copy, send = min(copies), min(sends)
    print("file: %d MiB, best of %d rounds" % (args.mib, args.rounds))
    print("plain TCP copy to disk: %8.1f MB/s (%.3f s)" % (mb / copy, copy))
    print("vesk32 -> vesk32 DCC:   %8.1f MB/s (%.3f s)" % (mb / send, send))
    print("ratio (target >= 0.5):  %8.2f" % (copy / send))
    print("peak memory: sender %.1f MB, receiver %.1f MB (target < 16 MB)"
          % (peaks[0] / 1024, peaks[1] / 1024))
    if not args.work:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
