"""Drives a full-screen program in a private tmux server: start it at a fixed size, send keys,
read the screen. Every wait polls the pane with a deadline instead of sleeping blindly."""
import itertools
import os
import shlex
import subprocess
import time

# A deadline only says when to give up on an event that should come. The sanitizer build starts
# several times slower, and the machine may be busy compiling besides: every deadline a test
# names is stretched by this factor, so the names stay the times a quiet machine needs.
# E2E_TIME_SCALE overrides it. A time that must pass with nothing happening is never stretched.
TIME_SCALE = float(os.environ.get("E2E_TIME_SCALE") or 4)


def slack(seconds):
    """How long to wait for an event that takes `seconds` on a quiet machine."""
    return seconds * TIME_SCALE


def wait_until(predicate, timeout=5.0, what="condition"):
    """Polls until `predicate()` is true; fails after the stretched time."""
    deadline = time.monotonic() + slack(timeout)
    while True:
        value = predicate()
        if value:
            return value
        if time.monotonic() > deadline:
            raise AssertionError("timed out waiting for " + what)
        time.sleep(0.05)


def read_text(path):
    """The file's text, or "" while it is not there."""
    try:
        with open(path, errors="replace") as f:
            return f.read()
    except FileNotFoundError:
        return ""


def wait_text(path, ready, timeout=5.0, what=None):
    """The file's text once `ready(text)` holds: a program writes its files in its own time."""
    found = []

    def check():
        text = read_text(path)
        if ready(text):
            found.append(text)
        return found
    return wait_until(check, timeout, what or "the awaited text in " + path)[0]


class Tmux:
    _servers = itertools.count()

    def __init__(self, argv, cols=80, rows=24, env=None):
        self.socket = "tui%d_%d_%d" % (os.getpid(), next(Tmux._servers),
                                       int(time.monotonic() * 1000) % 100000)
        command = " ".join(shlex.quote(a) for a in argv)
        if env:
            command = "env " + " ".join(shlex.quote("%s=%s" % kv) for kv in env.items()) + " " + command
        # remain-on-exit keeps the pane readable after the program ends, so a crash is visible.
        # It is set before the pane starts: a program that ends at once must not take the
        # pane with it.
        self._tmux("-f", "/dev/null", "start-server", ";", "set-option", "-g", "remain-on-exit",
                   "on", ";", "new-session", "-d", "-s", "main", "-x", str(cols), "-y", str(rows),
                   command)

    def _tmux(self, *args, check=True):
        return subprocess.run(["tmux", "-L", self.socket] + list(args), check=check,
                              capture_output=True, text=True, timeout=slack(10))

    def keys(self, *keys):
        """tmux key names: 'Enter', 'M-e', 'F10', 'C-n', 'Up', or plain text."""
        self._tmux("send-keys", "-t", "main", *keys)

    def text(self, text):
        """Literal bytes to the program, escape sequences included."""
        self._tmux("send-keys", "-t", "main", "-l", text)

    def screen(self):
        return self._tmux("capture-pane", "-p", "-t", "main").stdout

    def dead(self):
        out = self._tmux("display-message", "-p", "-t", "main", "#{pane_dead}", check=False)
        return out.stdout.strip() == "1"

    def wait_for(self, wanted, timeout=5.0):
        """Waits until `wanted` (a string, or a predicate on the screen text) shows."""
        deadline = time.monotonic() + slack(timeout)
        while True:
            screen = self.screen()
            ok = wanted(screen) if callable(wanted) else wanted in screen
            if ok:
                # A busy machine can catch the program between two parts of one redraw: take
                # the screen only once it holds still for a moment (or the time is up).
                time.sleep(0.03)
                again = self.screen()
                if again == screen or time.monotonic() > deadline:
                    return screen
                continue
            if time.monotonic() > deadline:
                raise AssertionError("timed out waiting for %r; screen:\n%s" % (wanted, screen))
            time.sleep(0.03)

    def wait_gone(self, unwanted, timeout=5.0):
        return self.wait_for(lambda s: unwanted not in s, timeout)

    def program_pid(self, path):
        """The pid of the process running `path` in the pane (the pane's own or a child's)."""
        pane = int(self._tmux("display-message", "-p", "-t", "main", "#{pane_pid}").stdout)
        want = os.path.realpath(path)
        todo = [pane]
        while todo:
            pid = todo.pop()
            try:
                if os.path.realpath("/proc/%d/exe" % pid) == want:
                    return pid
                with open("/proc/%d/task/%d/children" % (pid, pid)) as f:
                    todo.extend(int(c) for c in f.read().split())
            except OSError:
                continue
        raise AssertionError("%s is not running in the pane" % path)

    def resize(self, cols, rows):
        self._tmux("resize-window", "-t", "main", "-x", str(cols), "-y", str(rows))

    @staticmethod
    def _click_bytes(x, y, button=0):
        return "\x1b[M%c%c%c\x1b[M%c%c%c" % (32 + button, 33 + x, 33 + y, 32 + 3, 33 + x, 33 + y)

    def click(self, x, y, button=0):
        """An X10 mouse press and release at a cell (0-based), as a terminal reports them."""
        self.text(self._click_bytes(x, y, button))

    def double_click(self, x, y):
        """Two clicks in one write: the program reads them together, as it does whenever it is
        busy when they come. Two writes could also come further apart on a busy machine than
        the program's double-click time."""
        self.text(self._click_bytes(x, y) * 2)

    def close(self):
        self._tmux("kill-server", check=False)


def build_dir():
    """The build folder, found from the program paths CTest passes."""
    for var in ("VESK32", "BORVAN32"):
        path = os.environ.get(var)
        if path:
            return os.path.dirname(os.path.dirname(os.path.abspath(path)))
    return os.path.join(os.path.dirname(__file__), "..", "..", "..", "build")
