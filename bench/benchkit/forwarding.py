"""The forwarding comparison: every path measured in the same run, interleaved round by round."""

import json
import os
import subprocess
import time

from .processes import cpu_seconds, memory_kib
from .stats import percentile

MIB = 1024 * 1024
THROUGHPUT_RUNS = [("upload", 1), ("upload", 8), ("download", 1), ("download", 8)]


class LoadGenerator:
    """Runs vantrel-loadgen client commands and returns their JSON results."""

    def __init__(self, build_dir, processes):
        self.program = os.path.join(build_dir, "bench", "vantrel-loadgen")
        self.processes = processes

    def run(self, command, port, timeout=120, **options):
        argv = [self.program, command, "--port", str(port)]
        for name, value in options.items():
            argv += [f"--{name}", str(value)]
        done = subprocess.run(argv, capture_output=True, text=True, timeout=timeout)
        if done.returncode != 0:
            raise RuntimeError(f"{' '.join(argv)} failed: {done.stderr.strip()}")
        return json.loads(done.stdout.strip().splitlines()[-1])

    def start_stepped(self, name, command, port, **options):
        """A client that stops at each checkpoint until told to go on (hold, churn) or reports as it goes."""
        argv = [self.program, command, "--port", str(port)]
        for option, value in options.items():
            argv += [f"--{option}", str(value)]
        return self.processes.start(name, argv, interactive=True)


def _cpu_by_group(path):
    return {role: cpu_seconds(pids) for role, pids in path.groups().items()}


def measure_round(path, load, seconds):
    """One round of every timing figure on one path."""
    figures = {}
    cpu = {role: 0.0 for role in path.groups()}
    moved = 0
    for command, connections in THROUGHPUT_RUNS:
        before = _cpu_by_group(path)
        result = load.run(command, path.port, connections=connections, seconds=seconds)
        # Forked helpers (socat's) are reaped, and their time added to the parent's, just after they end.
        time.sleep(0.2)
        after = _cpu_by_group(path)
        for role in cpu:
            cpu[role] += after[role] - before[role]
        moved += result["total_bytes"]
        figures[f"{command}_{connections}"] = result["bytes_per_second"] / MIB
    rtt = load.run("rtt", path.port, size=64, count=3000, seconds=1.5)["samples_us"]
    figures["rtt_p50"], figures["rtt_p99"] = percentile(rtt, 0.5), percentile(rtt, 0.99)
    setup = load.run("setup", path.port, count=150, seconds=3)
    figures["setup_p50"] = percentile(setup["samples_us"], 0.5)
    figures["setup_p99"] = percentile(setup["samples_us"], 0.99)
    figures["setup_failures"] = setup["failures"]
    gigabytes = moved / 1e9
    for role, seconds_used in cpu.items():
        figures[f"cpu_per_gb:{role}"] = seconds_used / gigabytes if gigabytes else None
    if path.main_groups():
        figures["cpu_per_gb"] = sum(cpu[role] for role in path.main_groups()) / gigabytes if gigabytes else None
    return figures


def _memory(path):
    """{role: (rss KiB, pss KiB)} and the forwarder's own total."""
    by_role = {role: memory_kib(pids) for role, pids in path.groups().items()}
    main = [by_role[role] for role in path.main_groups()]
    return by_role, (sum(rss for rss, _ in main), sum(pss for _, pss in main))


def _step(client, timeout):
    line = client.lines.next(timeout)
    if line is None:
        with open(client.log_path, errors="replace") as log:
            raise RuntimeError(f"{client.name} ended early: {log.read().strip()[-300:]}")
    return json.loads(line)


def _stepped(load, path, name, command, timeout, on_event, **options):
    """Runs a stepped client to its end; on_event(event) measures each step; returns the final line's event."""
    client = load.start_stepped(f"{name}-{path.key}", command, path.port, **options)
    client.log_path = load.processes.log_path(f"{name}-{path.key}")
    try:
        while True:
            event = _step(client, timeout)
            if "event" not in event:
                return event
            on_event(event)
            if command != "slowread":
                client.stdin.write("\n")
    finally:
        load.processes.stop(client)


def _hold(path, load, settle):
    steps = []

    def measure(event):
        time.sleep(settle)
        by_role, main = _memory(path)
        steps.append({"connections": event["connections"], "seconds": event["seconds"], "rss_kib": main[0],
                      "pss_kib": main[1], "by_role": by_role})

    _stepped(load, path, "hold", "hold", 180, measure, counts="1,100,1000")
    return {"hold": steps}


def _churn(path, load, settle, limit):
    steps = []

    def measure(event):
        time.sleep(settle / 2)
        by_role, main = _memory(path)
        steps.append({"connections": event["connections"], "seconds": event["seconds"], "rss_kib": main[0],
                      "pss_kib": main[1], "by_role": by_role})

    # Batches of 20 at a time keep the run within minutes where a connection's set-up takes 100 ms.
    final = _stepped(load, path, "churn", "churn", limit + 60, measure, count=10000, batch=20, every=1000,
                     seconds=limit)
    return {"churn": steps, "churn_complete": final.get("complete", False), "churn_batch": 20}


def _slow_reader(path, load):
    _, (rss, pss) = _memory(path)
    peak = {"rss_kib": 0, "pss_kib": 0, "by_role": {}, "start_rss_kib": rss, "start_pss_kib": pss}

    def measure(_event):
        by_role, main = _memory(path)
        peak["rss_kib"] = max(peak["rss_kib"], main[0])
        peak["pss_kib"] = max(peak["pss_kib"], main[1])
        for role, (rss, pss) in by_role.items():
            old = peak["by_role"].get(role, (0, 0))
            peak["by_role"][role] = (max(old[0], rss), max(old[1], pss))

    final = _stepped(load, path, "slow", "slowread", 30, measure, rate=1_000_000, seconds=6)
    peak["bytes_read"] = final.get("bytes")
    return {"slow_reader": peak}


def measure_memory(path, load, restart, settle=1.0, churn_limit=150):
    """Memory with 1, 100 and 1,000 open connections, over 10,000 sequential ones, and under a slow reader.

    Each phase starts from a freshly started forwarder: memory an allocator keeps after one phase would otherwise
    show up in the next. A phase that fails is recorded with the forwarder's last words."""
    result = {"hold": [], "churn": [], "slow_reader": None, "failures": []}
    phases = [("slow reader", lambda: _slow_reader(path, load)),
              ("open connections", lambda: _hold(path, load, settle)),
              ("sequential connections", lambda: _churn(path, load, settle, churn_limit))]
    for name, phase in phases:
        restart(path)
        try:
            result.update(phase())
        except (RuntimeError, TimeoutError, ValueError) as error:
            result["failures"].append({"phase": name, "error": str(error), "forwarder_died": not path.alive(),
                                       "forwarder_log": path.last_words()})
    return result
