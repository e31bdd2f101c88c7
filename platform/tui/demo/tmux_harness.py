"""Drives a full-screen program in a private tmux server: start it at a fixed size, send keys,
read the screen. Every wait polls the pane with a deadline instead of sleeping blindly."""
import os
import shlex
import subprocess
import time


class Tmux:
    def __init__(self, argv, cols=80, rows=24, env=None):
        self.socket = "tui%d_%d" % (os.getpid(), int(time.monotonic() * 1000) % 100000)
        command = " ".join(shlex.quote(a) for a in argv)
        if env:
            command = "env " + " ".join(shlex.quote("%s=%s" % kv) for kv in env.items()) + " " + command
        # remain-on-exit keeps the pane readable after the program ends, so a crash is visible.
        self._tmux("-f", "/dev/null", "new-session", "-d", "-s", "main", "-x", str(cols), "-y",
                   str(rows), command)
        self._tmux("set-option", "-g", "remain-on-exit", "on")

    def _tmux(self, *args, check=True):
        return subprocess.run(["tmux", "-L", self.socket] + list(args), check=check,
                              capture_output=True, text=True, timeout=10)

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
        deadline = time.monotonic() + timeout
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
