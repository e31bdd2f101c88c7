#!/usr/bin/env python3
"""Whole-process zip speed: borvan32 against two small archivers of our own built on zlib and on
libdeflate (bench/zip_peers/), on one corpus of plain files, interleaved, several rounds.

Prints the median times, the ratios (speed of ours over the peer's: above 1 means ours is faster),
the archive sizes against zlib's, and every run's peak memory (from wait4's rusage).

Usage: zip_compare.py [--bench-dir BUILD-bench] [--work DIR] [--rounds N]
                      [--single-env NAME=VALUE]... [--single-arg ARG]... [--only OPERATION]...

Ours runs twice: with its default number of threads and with one thread ("ours-1t": Threads=1
in its settings, BORVAN32_UNZIP_THREADS=1); --single-env / --single-arg add to the second.
"""
import argparse
import os
import shutil
import statistics
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))

# (label, borvan32 compression letter, peer level)
CREATES = [("create level 1", "s", 1), ("create level 3", "f", 3), ("create level 5", "n", 5),
           ("create level 9", "x", 9), ("create stored", "0", 0)]
EXTRACT_LEVEL = 6  # the reference archive every extractor reads: zlib's default level
# Where GNU time leaves the peak: in the work folder, outside the corpus (an archiver walking
# the corpus would take it in).
PEAK_FILE = [""]


def run(argv, cwd, env=None):
    """Runs argv, returns (wall seconds, CPU seconds, peak RSS in KB). Output is discarded; a failure ends
    the benchmark, since a failing tool has no speed worth reporting.

    The peak comes from GNU time, not from our own wait4: Linux carries the forking process's
    peak over an exec, so a child of this Python process would report Python's size."""
    rss_file = PEAK_FILE[0]
    t0 = time.perf_counter()
    p = subprocess.run(["/usr/bin/time", "-f", "%U %S %M", "-o", rss_file, *argv], cwd=cwd, env=env,
                       stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                       stderr=subprocess.PIPE, check=False)
    wall = time.perf_counter() - t0
    if p.returncode != 0:
        sys.exit("failed (%d): %s\n%s" % (p.returncode, " ".join(argv),
                                           p.stderr.decode(errors="replace")[-2000:]))
    with open(rss_file) as f:
        user, system, peak = f.read().split()[-3:]
    os.unlink(rss_file)
    return wall, float(user) + float(system), int(peak)


def tree_summary(root):
    """(files, bytes) below root: a cheap check that an extraction wrote the whole corpus."""
    files = total = 0
    for dirpath, _, names in os.walk(root):
        for n in names:
            files += 1
            total += os.path.getsize(os.path.join(dirpath, n))
    return files, total


class Tool:
    def __init__(self, name, create, extract):
        self.name, self.create, self.extract = name, create, extract


def tools(args):
    ours = os.path.join(args.bench_dir, "archiver", "borvan32")
    peers = os.path.join(args.bench_dir, "bench", "zip_peers")
    out = []

    def ours_tool(name, env, extra):
        def create(letter, _level, archive):
            return [ours, "--headless", *extra, "-a", "-r", "-p", "-e" + letter, archive, "*.*"], env

        def extract(archive, target):
            return [ours, "--headless", *extra, "-e", "-o", archive, target], env
        return Tool(name, create, extract)

    # Ours reads its settings from a private folder: the default number of threads, and
    # one thread ("Threads=1" for creation, BORVAN32_UNZIP_THREADS=1 for extraction).
    def home(name, ini):
        folder = os.path.join(args.work, name)
        os.makedirs(os.path.join(folder, "borvan32"), exist_ok=True)
        with open(os.path.join(folder, "borvan32", "borvan32.ini"), "w") as f:
            f.write(ini)
        return dict(os.environ, XDG_CONFIG_HOME=folder)

    out.append(ours_tool("ours", home("home-default", ""), []))
    env = home("home-1t", "[Borvan]\nThreads=1\n")
    env["BORVAN32_UNZIP_THREADS"] = "1"
    for pair in args.single_env:
        k, _, v = pair.partition("=")
        env[k] = v
    out.append(ours_tool("ours-1t", env, args.single_arg))
    for lib in ("zlib", "libdeflate"):
        exe = os.path.join(peers, "zip_peer_" + lib)
        if not os.path.exists(exe):
            sys.exit("missing %s (build with -DBUILD_BENCH=ON; bench/deps.sh installs libdeflate-dev)"
                     % exe)
        out.append(Tool(lib,
                        lambda _l, level, a, exe=exe: ([exe, "create", "-L", str(level), a, "usr"],
                                                       None),
                        lambda a, t, exe=exe: ([exe, "extract", a, t], None)))
    return out


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--bench-dir", default=os.path.join(HERE, "..", "build-bench"))
    ap.add_argument("--work", default="/tmp/zip_compare")
    ap.add_argument("--rounds", type=int, default=5)
    ap.add_argument("--single-env", action="append", default=[])
    ap.add_argument("--single-arg", action="append", default=[])
    ap.add_argument("--only", action="append", default=[],
                    help="run only this operation (e.g. 'create stored', 'extract'); repeatable")
    args = ap.parse_args()
    args.bench_dir = os.path.abspath(args.bench_dir)
    args.work = os.path.abspath(args.work)
    work = os.path.abspath(args.work)
    corpus = os.path.join(work, "corpus")
    os.makedirs(work, exist_ok=True)
    PEAK_FILE[0] = os.path.join(work, ".peak-rss")
    if not os.path.isdir(os.path.join(corpus, "usr")):
        shutil.rmtree(corpus, ignore_errors=True)
        subprocess.run([sys.executable, os.path.join(HERE, "make_corpus.py"), "--dir", corpus],
                       check=True)
    files, total = tree_summary(corpus)
    print("corpus: %d files, %.1f MB in %s" % (files, total / 1e6, corpus))
    ts = tools(args)
    zlib = next(t for t in ts if t.name == "zlib")
    reference = os.path.join(work, "reference.zip")
    if os.path.exists(reference):
        os.unlink(reference)
    argv, _ = zlib.create(None, EXTRACT_LEVEL, reference)
    run(argv, corpus)

    creates = [c for c in CREATES if not args.only or c[0] in args.only]
    do_extract = not args.only or "extract" in args.only
    ops = [label for label, _, _ in creates] + (["extract"] if do_extract else [])
    times = {(op, t.name): [] for op in ops for t in ts}
    cpus = {(op, t.name): [] for op in ops for t in ts}
    rss = {(op, t.name): 0 for op in ops for t in ts}
    sizes = {}
    for rnd in range(args.rounds):
        # Each round starts with another tool, so none is always the one after a cold cache.
        order = ts[rnd % len(ts):] + ts[:rnd % len(ts)]
        for label, letter, level in creates:
            for t in order:
                archive = os.path.join(work, "out-%s.zip" % t.name)
                if os.path.exists(archive):
                    os.unlink(archive)
                argv, env = t.create(letter, level, archive)
                wall, cpu, peak = run(argv, corpus, env)
                times[(label, t.name)].append(wall)
                cpus[(label, t.name)].append(cpu)
                rss[(label, t.name)] = max(rss[(label, t.name)], peak)
                sizes[(label, t.name)] = os.path.getsize(archive)
        for t in order if do_extract else []:
            # Every run gets a folder of its own, and all are removed at the end: ext4 scans
            # past recently deleted inodes when it allocates new ones, so a run just after
            # another run's tree was deleted would pay for that deletion.
            target = os.path.join(work, "x-%s-%d" % (t.name, rnd))
            shutil.rmtree(target, ignore_errors=True)
            os.makedirs(target)
            argv, env = t.extract(reference, target)
            wall, cpu, peak = run(argv, work, env)
            times[("extract", t.name)].append(wall)
            cpus[("extract", t.name)].append(cpu)
            rss[("extract", t.name)] = max(rss[("extract", t.name)], peak)
            if rnd == 0 and tree_summary(target) != (files, total):
                sys.exit("%s extracted %s, not the corpus %s" % (t.name, tree_summary(target),
                                                                 (files, total)))
        print("round %d of %d done" % (rnd + 1, args.rounds), file=sys.stderr)
    for rnd in range(args.rounds):
        for t in ts:
            shutil.rmtree(os.path.join(work, "x-%s-%d" % (t.name, rnd)), ignore_errors=True)

    med = {k: statistics.median(v) for k, v in times.items()}
    cpu = {k: statistics.median(v) for k, v in cpus.items()}
    ours_names = [t.name for t in ts if t.name.startswith("ours")]
    print("\nmedians of %d interleaved rounds (seconds; peak RSS in MB)" % args.rounds)
    print("%-16s" % "operation" + "".join("%28s" % t.name for t in ts))
    for op in ops:
        print("%-16s" % op + "".join("%8.3f s (cpu %6.3f) %5.1f MB" % (
            med[(op, t.name)], cpu[(op, t.name)], rss[(op, t.name)] / 1024) for t in ts))
    print("\nspeed ratios (peer's time / ours: above 1.00 is faster than the peer); sizes ours "
          "over the peer's")
    head = "%-16s" % "operation"
    for o in ours_names:
        head += "%14s %14s" % (o + "/zlib", o + "/libdefl")
    print(head + "%14s %14s" % ("size/zlib", "size/libdefl"))
    for op in ops:
        line = "%-16s" % op
        for o in ours_names:
            line += "%14.2f %14.2f" % (med[(op, "zlib")] / med[(op, o)],
                                       med[(op, "libdeflate")] / med[(op, o)])
        if (op, "ours") in sizes:
            line += "%14.3f %14.3f" % (sizes[(op, "ours")] / sizes[(op, "zlib")],
                                       sizes[(op, "ours")] / sizes[(op, "libdeflate")])
        else:
            line += "%14s %14s" % ("-", "-")
        print(line)
    print("\narchive sizes (bytes)")
    for op in ops:
        if (op, "ours") in sizes:
            print("%-16s" % op + "".join("%14s %d" % (t.name, sizes[(op, t.name)]) for t in ts))
    print("\nCPU-time ratios (peer's CPU seconds / ours; the machine's load hurts these less)")
    print(head)
    for op in ops:
        print("%-16s" % op + "".join("%14.2f %14.2f" % (cpu[(op, "zlib")] / cpu[(op, o)],
                                                        cpu[(op, "libdeflate")] / cpu[(op, o)])
                                     for o in ours_names))


if __name__ == "__main__":
    main()
