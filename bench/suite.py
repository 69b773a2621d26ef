#!/usr/bin/python3
"""Runs the benchmark suite and writes bench/results/latest.md and its plots. Started by bench/run-all.

    suite.py [all|tunnel|report] [--rounds N] [--seconds S] [--build DIR]

all: the forwarding comparison, the Google Benchmark binaries, bench_service and the daemon's profile;
tunnel: the forwarding comparison only; report: rewrite latest.md and the plots from the last raw results.
Every process started here is stopped at the end, also on Ctrl-C, SIGTERM or a failure.
"""

import argparse
import datetime
import json
import os
import platform
import signal
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from benchkit import gbench, report  # noqa: E402
from benchkit.forwarding import LoadGenerator, measure_memory, measure_round  # noqa: E402
from benchkit.paths import ROOT, all_paths  # noqa: E402
from benchkit.processes import Processes  # noqa: E402
from benchkit.profile import run_profile  # noqa: E402

RESULTS = os.path.join(ROOT, "bench", "results")
RAW = os.path.join(RESULTS, "raw")


def log(message):
    print(f"\033[1m--> {message}\033[0m", file=sys.stderr, flush=True)


def start_target(build_dir, processes):
    target = processes.start("target", [os.path.join(build_dir, "bench", "vantrel-loadgen"), "target"],
                             interactive=True)
    return json.loads(target.lines.next(timeout=10))["port"]


def run_forwarding(build_dir, processes, work_dir, rounds, seconds):
    target_port = start_target(build_dir, processes)
    paths = all_paths(build_dir)
    for path in paths:
        log(f"starting {path.label}")
        path.start(processes, target_port, work_dir)
    failures = []

    def restart(path):
        path.stop()
        path.start(processes, target_port, work_dir)

    load = LoadGenerator(build_dir, processes)
    figures = {path.key: [] for path in paths}
    for number in range(rounds):
        # Each round starts with another path, so that no path always runs right after the same neighbour.
        order = paths[number % len(paths):] + paths[:number % len(paths)]
        for path in order:
            log(f"round {number + 1}/{rounds}: {path.label}")
            try:
                figures[path.key].append(measure_round(path, load, seconds))
            except (RuntimeError, ValueError, subprocess.TimeoutExpired) as error:
                failures.append({"path": path.key, "round": number + 1, "error": str(error),
                                 "forwarder_died": not path.alive(), "forwarder_log": path.last_words()})
                log(f"round {number + 1} of {path.label} failed: {error}")
                if not path.alive():
                    log(f"{path.label} has died; starting it afresh")
                    restart(path)
    memory = {}
    for path in paths:
        if path.groups():
            log(f"memory: {path.label} (1, 100, 1,000 open; 10,000 in turn; slow reader)")
            memory[path.key] = measure_memory(path, load, restart)
            for failure in memory[path.key]["failures"]:
                log(f"memory of {path.label}, {failure['phase']}: {failure['error']}")
    return {"date": now(), "rounds": rounds, "seconds_per_run": seconds,
            "paths": [{"key": path.key, "label": path.label, "details": path.details} for path in paths],
            "figures": figures, "memory": memory, "failures": failures}


def now():
    return datetime.datetime.now(datetime.timezone.utc).strftime("%Y-%m-%d %H:%M UTC")


def machine():
    model = ""
    with open("/proc/cpuinfo") as cpuinfo:
        for line in cpuinfo:
            if line.startswith("model name"):
                model = line.split(":", 1)[1].strip()
                break
    commit = subprocess.run(["git", "-C", ROOT, "rev-parse", "--short", "HEAD"], capture_output=True,
                            text=True).stdout.strip()
    return {"cpu": model, "cores": os.cpu_count(), "kernel": platform.release(), "commit": commit}


def stop_on_signal(number, _frame):
    raise SystemExit(128 + number)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("part", nargs="?", default="all", choices=["all", "tunnel", "report"])
    parser.add_argument("--rounds", type=int, default=5)
    parser.add_argument("--seconds", type=float, default=2.5, help="length of each throughput run")
    parser.add_argument("--build", default=os.path.join(ROOT, "build"))
    args = parser.parse_args()
    build_dir = os.path.abspath(args.build)

    latest = os.path.join(RAW, "latest.json")
    data = {}
    if os.path.exists(latest):
        with open(latest) as text:
            data = json.load(text)
    if args.part != "report":
        for number in (signal.SIGTERM, signal.SIGHUP):
            signal.signal(number, stop_on_signal)
        # Ctrl-C stops the run even where the shell started it with SIGINT ignored (in the background).
        signal.signal(signal.SIGINT, signal.default_int_handler)
        stamp = time.strftime("%Y%m%d-%H%M%S")
        raw_dir = os.path.join(RAW, stamp)
        os.makedirs(os.path.join(raw_dir, "logs"), exist_ok=True)
        log(f"raw data and logs: {raw_dir}")
        processes = Processes(os.path.join(raw_dir, "logs"))
        started = time.monotonic()
        try:
            with tempfile.TemporaryDirectory(prefix="vantrel-bench.") as work_dir:
                data["machine"] = machine()
                data["forwarding"] = run_forwarding(build_dir, processes, work_dir, args.rounds, args.seconds)
                save(data, raw_dir, latest)
                if args.part == "all":
                    data["gbench"] = {"date": now(), "results": gbench.run_all(build_dir, raw_dir, log)}
                    save(data, raw_dir, latest)
                    target_port = start_target(build_dir, processes)
                    data["profile"] = dict(date=now(), **run_profile(build_dir, processes, work_dir, raw_dir,
                                                                     target_port, log))
                    save(data, raw_dir, latest)
        finally:
            processes.stop_all()
        log(f"measured in {time.monotonic() - started:.0f} s")
    report.write(data, RESULTS)
    log(f"wrote {os.path.join(RESULTS, 'latest.md')}")
    print_summary(os.path.join(RESULTS, "latest.md"))


def print_summary(latest_md):
    """Shows the tables at a glance and the targets on the terminal: the rest is in the file."""
    with open(latest_md) as text:
        lines = text.read().splitlines()
    shown = False
    for line in lines:
        if line.startswith("### "):
            shown = line in ("### At a glance (medians)", "### Targets")
        if shown:
            print(line)


def save(data, raw_dir, latest):
    for path in (os.path.join(raw_dir, "results.json"), latest):
        with open(path, "w") as out:
            json.dump(data, out, indent=1)


if __name__ == "__main__":
    try:
        main()
    except KeyboardInterrupt:
        log("interrupted; every process the run started has been stopped")
        sys.exit(130)
