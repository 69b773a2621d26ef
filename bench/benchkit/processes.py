"""Starting, watching and stopping the processes of a benchmark run, and reading their CPU time and memory."""

import ctypes
import os
import queue
import signal
import socket
import subprocess
import threading
import time

_PR_SET_PDEATHSIG = 1
_CLOCK_TICKS = os.sysconf("SC_CLK_TCK")


def _die_with_parent():
    """Runs in the child before exec: it gets SIGTERM when the orchestrator dies, even by SIGKILL."""
    ctypes.CDLL("libc.so.6", use_errno=True).prctl(_PR_SET_PDEATHSIG, signal.SIGTERM)


class LineReader:
    """Lines of a child's standard output, read on a thread so that waits can have deadlines."""

    def __init__(self, stream):
        self._lines = queue.Queue()
        threading.Thread(target=self._pump, args=(stream,), daemon=True).start()

    def _pump(self, stream):
        for line in stream:
            self._lines.put(line.rstrip("\n"))
        self._lines.put(None)

    def next(self, timeout):
        """The next line; None at the end of the stream; TimeoutError when none comes in time."""
        try:
            return self._lines.get(timeout=timeout)
        except queue.Empty:
            raise TimeoutError(f"no output within {timeout} s") from None


class Processes:
    """Every process the bench starts, each in a session of its own, stopped by stop_all() whatever happened."""

    def __init__(self, log_dir):
        self.log_dir = log_dir
        self._children = []

    def start(self, name, argv, env=None, interactive=False):
        """Starts argv; its standard error (and output, unless interactive) goes to LOG_DIR/name.log."""
        log = open(os.path.join(self.log_dir, f"{name}.log"), "ab")
        child = subprocess.Popen(
            argv, env=env, start_new_session=True, preexec_fn=_die_with_parent,
            stdin=subprocess.PIPE if interactive else subprocess.DEVNULL,
            stdout=subprocess.PIPE if interactive else log, stderr=log,
            text=interactive, bufsize=1 if interactive else -1)
        log.close()
        child.name = name
        child.lines = LineReader(child.stdout) if interactive else None
        self._children.append(child)
        return child

    def log_path(self, name):
        return os.path.join(self.log_dir, f"{name}.log")

    def stop(self, child, timeout=10):
        """SIGTERM to the child's process group, then SIGKILL when it has not ended within timeout."""
        if child in self._children:
            self._children.remove(child)
        for sig, wait in ((signal.SIGTERM, timeout), (signal.SIGKILL, 5)):
            if child.poll() is not None:
                break
            try:
                os.killpg(child.pid, sig)
            except ProcessLookupError:
                break
            try:
                child.wait(wait)
            except subprocess.TimeoutExpired:
                continue
        # Helpers the child left behind in its group (forked relays, session processes) go too.
        try:
            os.killpg(child.pid, signal.SIGKILL)
        except (ProcessLookupError, PermissionError):
            pass
        for stream in (child.stdin, child.stdout):
            if stream:
                try:
                    stream.close()
                except OSError:
                    pass  # a pipe whose reader has gone

    def stop_all(self):
        for child in reversed(list(self._children)):
            self.stop(child, timeout=5)


def log_size(path):
    """How long a log already is: a process started again appends to its predecessor's log."""
    return os.path.getsize(path) if os.path.exists(path) else 0


def wait_for_log(path, text, timeout, child=None, since=0):
    """Waits until the file, from offset since on, contains text; raises with the file's tail when it does not."""
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        try:
            with open(path, errors="replace") as log:
                log.seek(since)
                if text in log.read():
                    return
        except FileNotFoundError:
            pass
        if child is not None and child.poll() is not None:
            break
        time.sleep(0.05)
    tail = open(path, errors="replace").read()[-2000:] if os.path.exists(path) else ""
    raise RuntimeError(f"'{text}' did not appear in {path}:\n{tail}")


def free_port():
    """A TCP port of 127.0.0.1 that was free a moment ago."""
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


def wait_for_echo(port, timeout):
    """Waits until 127.0.0.1:port carries an echo-mode byte to the target and back."""
    deadline = time.monotonic() + timeout
    last = None
    while time.monotonic() < deadline:
        try:
            with socket.create_connection(("127.0.0.1", port), timeout=5) as connection:
                connection.sendall(b"Ex")
                if connection.recv(1) == b"x":
                    return
        except OSError as error:
            last = error
        time.sleep(0.1)
    raise RuntimeError(f"nothing echoes through 127.0.0.1:{port} ({last})")


def _stat_fields(pid):
    with open(f"/proc/{pid}/stat") as stat:
        text = stat.read()
    return text[text.rindex(")") + 2:].split()


def descendants(root):
    """root and every live process below it."""
    children = {}
    for entry in os.listdir("/proc"):
        if entry.isdigit():
            try:
                children.setdefault(int(_stat_fields(entry)[1]), []).append(int(entry))
            except (FileNotFoundError, ProcessLookupError, ValueError):
                continue
    found, todo = [], [root]
    while todo:
        pid = todo.pop()
        found.append(pid)
        todo.extend(children.get(pid, []))
    return found


def cpu_seconds(pids):
    """User plus system time of the processes and of their children they have reaped."""
    total = 0
    for pid in pids:
        try:
            fields = _stat_fields(pid)
        except (FileNotFoundError, ProcessLookupError):
            continue
        # utime, stime, cutime, cstime are fields 14 to 17 of /proc/<pid>/stat; fields[0] here is field 3.
        total += sum(int(value) for value in fields[11:15])
    return total / _CLOCK_TICKS


def memory_kib(pids):
    """(RSS, PSS) in KiB summed over the processes; PSS counts shared pages once across them."""
    rss = pss = 0
    for pid in pids:
        try:
            with open(f"/proc/{pid}/smaps_rollup") as rollup:
                for line in rollup:
                    name, _, rest = line.partition(":")
                    if name == "Rss":
                        rss += int(rest.split()[0])
                    elif name == "Pss":
                        pss += int(rest.split()[0])
        except (FileNotFoundError, ProcessLookupError):
            continue
    return rss, pss
