"""The daemon's profile under a throughput run: VantrelDaemon under callgrind, then its costs by function.

perf cannot count instructions on this kind of machine (no hardware counters in the virtual machine), so the
profile is callgrind's instruction counts: exact call counts, but time in the kernel (send, receive) is not seen.
"""

import os
import re
import subprocess

from .forwarding import LoadGenerator
from .paths import DaemonPath

_NAME = re.compile(r"\((\d+)\)(?: (.*))?")


def _named(text, table):
    """Resolves callgrind's name compression: "(7) name" defines 7, "(7)" refers to it."""
    found = _NAME.fullmatch(text.strip())
    if not found:
        return text.strip()
    number, name = found.groups()
    if name is not None:
        table[number] = name
    return table.get(number, f"({number})")


def parse_callgrind(path):
    """Per function: self cost, inclusive cost (self plus the calls it makes), how often it was called and by whom
    ({"callers": {caller: [calls, cost]}})."""
    functions = {}
    names, objects = {}, {}
    current, callee, pending_calls, current_object = None, None, None, ""
    total = 0
    with open(path, errors="replace") as data:
        for line in data:
            line = line.rstrip("\n")
            if line.startswith("ob="):
                current_object = os.path.basename(_named(line[3:], objects))
            elif line.startswith("cob="):
                _named(line[4:], objects)
            elif line.startswith("fn="):
                current = _named(line[3:], names)
                functions.setdefault(current, {"self": 0, "inclusive": 0, "calls": 0})
                functions[current]["object"] = current_object
            elif line.startswith("cfn="):
                callee = _named(line[4:], names)
            elif line.startswith("calls="):
                pending_calls = int(line[6:].split()[0])
            elif line.startswith(("totals:", "summary:")):
                total = int(line.split()[1])
            elif line and (line[0].isdigit() or line[0] in "+-*") and current is not None:
                parts = line.split()
                cost = int(parts[1]) if len(parts) > 1 else 0
                if pending_calls is not None:
                    entry = functions.setdefault(callee, {"self": 0, "inclusive": 0, "calls": 0})
                    entry["calls"] += pending_calls
                    by_caller = entry.setdefault("callers", {}).setdefault(current, [0, 0])
                    by_caller[0] += pending_calls
                    by_caller[1] += cost
                    functions[current]["inclusive"] += cost
                    pending_calls = None
                else:
                    functions[current]["self"] += cost
                    functions[current]["inclusive"] += cost
    total = total or sum(entry["self"] for entry in functions.values())
    # A function without a symbol (a stripped library) is known by its library.
    renamed = {name: f"{name} in {entry.get('object', '?')}" for name, entry in functions.items()
               if name.startswith("0x")}
    functions = {renamed.get(name, name): entry for name, entry in functions.items()}
    for entry in functions.values():
        if "callers" in entry:
            entry["callers"] = {renamed.get(name, name): value for name, value in entry["callers"].items()}
    return total, functions


def _top_callers(entry, total, count=3):
    callers = sorted(entry.get("callers", {}).items(), key=lambda item: item[1][1], reverse=True)[:count]
    return [{"function": name, "calls": calls, "share": cost / total} for name, (calls, cost) in callers]


def run_profile(build_dir, processes, work_dir, raw_dir, target_port, log, seconds=5):
    out = os.path.join(raw_dir, "callgrind.out")
    daemon = DaemonPath(build_dir, wrapper=["valgrind", "--tool=callgrind", f"--callgrind-out-file={out}"],
                        name="profiled-daemon")
    log("starting VantrelDaemon under callgrind")
    daemon.start(processes, target_port, work_dir)
    # Start-up (loading the system's certificate store, above all) would otherwise outweigh the few seconds of
    # forwarding: the counters start from zero here. callgrind_control returns once the daemon has run a little.
    zeroing = subprocess.Popen(["callgrind_control", "--zero", str(daemon.main_process().pid)],
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    load = LoadGenerator(build_dir, processes)
    moved = {}
    for command in ("upload", "download"):
        log(f"profile: {command} through the daemon for {seconds} s")
        result = load.run(command, daemon.port, connections=1, seconds=seconds, warmup=0, timeout=120)
        moved[command] = result["total_bytes"]
        if zeroing.poll() is None:
            zeroing.wait(timeout=60)
    processes.stop(daemon.main_process(), timeout=120)
    if not os.path.exists(out):
        raise RuntimeError("callgrind wrote no profile; see logs/profiled-daemon.log")
    total, functions = parse_callgrind(out)
    ranked = sorted(functions.items(), key=lambda item: item[1]["self"], reverse=True)
    top = [{"function": name, "self_share": entry["self"] / total, "inclusive_share": entry["inclusive"] / total,
            "calls": entry["calls"], "callers": _top_callers(entry, total)} for name, entry in ranked[:25]]
    by_inclusive = sorted(functions.items(), key=lambda item: item[1]["inclusive"], reverse=True)
    inclusive = [{"function": name, "inclusive_share": entry["inclusive"] / total, "calls": entry["calls"]}
                 for name, entry in by_inclusive[:40]]
    own = [{"function": name, "self_share": entry["self"] / total, "inclusive_share": entry["inclusive"] / total,
            "calls": entry["calls"]} for name, entry in by_inclusive if "vantrel::" in name][:30]
    annotate = subprocess.run(["callgrind_annotate", out], capture_output=True, text=True)
    with open(os.path.join(raw_dir, "callgrind_annotate.txt"), "w") as text:
        text.write(annotate.stdout)
    return {"tool": "callgrind", "instructions": total, "bytes": moved, "seconds_per_direction": seconds,
            "top_self": top, "top_inclusive": inclusive, "own_code": own}
