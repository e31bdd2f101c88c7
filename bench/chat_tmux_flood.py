#!/usr/bin/env python3
"""The big-channel flood of chat_members_bench, with the full-screen client in tmux (the
channel and its nick pane on screen) beside the headless client writing to a file.

Each round serves one flood (chat_members_bench --serve N) to each client in turn and reads the
time from the PING after the flood to the PONG, and the client's CPU seconds over that time.

With --also OTHER-BUILD the full-screen client of another build (an older commit, say) runs
in the same rounds, so that the two are compared on the same machine load.

Usage: chat_tmux_flood.py [--bench-dir BUILD-bench] [--members N] [--lines L] [--rounds R]
                          [--also OTHER-BUILD]
"""
import argparse
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
# The channels folder would pop up after the MOTD (options5 field 20).
INI = ("[Vesk]\nnick=bench\nanick=bench_\nuser=Bench\nemail=bench@localhost\n"
       "[Options]\noptions5=,,,,,,,,,,,,,,,,,,,0\n")


def cpu_seconds(pid):
    try:
        with open("/proc/%d/stat" % pid) as f:
            fields = f.read().rsplit(")", 1)[1].split()
    except OSError:
        return 0.0
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


class Served:
    """One flood server; its lines tell the port, the start of the flood and the result."""

    def __init__(self, bench, members, lines):
        self.proc = subprocess.Popen([bench, "--serve", str(members), "--lines", str(lines),
                                      "--announce"], stdout=subprocess.PIPE, text=True)
        self.port = int(self.expect("port ").split()[1])

    def expect(self, prefix, timeout=None):
        line = self.proc.stdout.readline()
        while line and not line.startswith(prefix):
            line = self.proc.stdout.readline()
        if not line:
            sys.exit("the flood server ended early (waiting for %r)" % prefix)
        return line.strip()

    def run(self, pid_of):
        """Waits for the flood to start and end; returns (seconds, client CPU seconds)."""
        self.expect("flood ")
        pid = pid_of()
        cpu0 = cpu_seconds(pid)
        result = self.expect("N=")
        cpu = cpu_seconds(pid) - cpu0
        self.proc.wait(timeout=30)
        return float(result.split(" in ")[1].split(" s")[0]), cpu


def headless_round(args, home, out_file):
    srv = Served(args.bench, args.members, args.lines)
    env = dict(os.environ, XDG_CONFIG_HOME=home)
    with open(out_file, "wb") as out:
        client = subprocess.Popen([args.vesk, "--headless", "-n", "bench", "-s",
                                   "127.0.0.1:%d" % srv.port], stdin=subprocess.PIPE,
                                  stdout=out, stderr=out, env=env)
        try:
            return srv.run(lambda: client.pid)
        finally:
            client.kill()
            client.wait()


def tmux_round(args, home, socket_name, vesk=None):
    srv = Served(args.bench, args.members, args.lines)
    tmux = ["tmux", "-L", socket_name]
    cmd = "env XDG_CONFIG_HOME=%s TERM=xterm-256color %s -n bench -s 127.0.0.1:%d" % (
        home, vesk or args.vesk, srv.port)
    subprocess.run(tmux + ["-f", "/dev/null", "new-session", "-d", "-x", "160", "-y", "50",
                           "-s", "flood", cmd], check=True)
    try:
        def pane_pid():
            out = subprocess.run(tmux + ["display", "-p", "-t", "flood", "#{pane_pid}"],
                                 capture_output=True, text=True, check=True).stdout
            return int(out.strip())
        result = srv.run(pane_pid)
        screen = subprocess.run(tmux + ["capture-pane", "-p", "-t", "flood"], capture_output=True,
                                text=True).stdout
        return result, screen
    finally:
        subprocess.run(tmux + ["kill-server"], capture_output=True)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--bench-dir", default=os.path.join(HERE, "..", "build-bench"))
    ap.add_argument("--members", type=int, default=10000)
    ap.add_argument("--lines", type=int, default=1000000)
    ap.add_argument("--rounds", type=int, default=3)
    ap.add_argument("--also", help="another build whose full-screen client runs in the same rounds")
    args = ap.parse_args()
    bench_dir = os.path.abspath(args.bench_dir)
    args.bench = os.path.join(bench_dir, "bench", "chat_members_bench")
    args.vesk = os.path.join(bench_dir, "chat", "vesk32")
    if not shutil.which("tmux"):
        sys.exit("tmux is missing (tools/deps.sh installs it)")
    work = tempfile.mkdtemp(prefix="chat-tmux-flood-")
    home = os.path.join(work, "home")
    os.makedirs(os.path.join(home, "vesk32"))
    with open(os.path.join(home, "vesk32", "vesk.ini"), "w") as f:
        f.write(INI)
    socket_name = "flood-%d" % os.getpid()
    times = {"headless to a file": [], "full screen in tmux": []}
    also = os.path.join(os.path.abspath(args.also), "chat", "vesk32") if args.also else None
    if also:
        times["full screen, --also"] = []
    cpus = {k: [] for k in times}
    screen = ""
    try:
        for rnd in range(args.rounds):
            (t, c) = headless_round(args, home, os.path.join(work, "headless.out"))
            times["headless to a file"].append(t)
            cpus["headless to a file"].append(c)
            (t, c), screen = tmux_round(args, home, socket_name)
            times["full screen in tmux"].append(t)
            cpus["full screen in tmux"].append(c)
            if also:
                (t, c), _ = tmux_round(args, home, socket_name, also)
                times["full screen, --also"].append(t)
                cpus["full screen, --also"].append(c)
            print("round %d of %d done" % (rnd + 1, args.rounds), file=sys.stderr)
    finally:
        shutil.rmtree(work, ignore_errors=True)
    print("the last screen in tmux:\n" + screen)
    print("%d lines into a channel of %d members; medians of %d alternating rounds" %
          (args.lines, args.members, args.rounds))
    for name in times:
        t, c = statistics.median(times[name]), statistics.median(cpus[name])
        print("%-22s %10.0f lines/s  %7.3f s  vesk32 cpu %.3f s" % (name, args.lines / t, t, c))


if __name__ == "__main__":
    main()
