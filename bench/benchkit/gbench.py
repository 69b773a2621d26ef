"""Google Benchmark binaries of bench/: run each (when built) and keep its JSON."""

import json
import os
import subprocess

BINARIES = ["bench_bencode", "bench_devicestore", "bench_service"]


def run_all(build_dir, raw_dir, log):
    results = {}
    for name in BINARIES:
        program = os.path.join(build_dir, "bench", name)
        if not os.path.exists(program):
            log(f"{name}: not built, left out")
            continue
        log(f"running {name}")
        out = os.path.join(raw_dir, f"{name}.json")
        with open(os.path.join(raw_dir, "logs", f"{name}.log"), "w") as console:
            done = subprocess.run([program, f"--benchmark_out={out}", "--benchmark_out_format=json"],
                                  stdout=console, stderr=subprocess.STDOUT, timeout=400)
        if done.returncode != 0 or not os.path.exists(out):
            results[name] = {"error": f"exit status {done.returncode}; see logs/{name}.log"}
            continue
        with open(out) as text:
            results[name] = json.load(text)
    return results
