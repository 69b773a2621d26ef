"""latest.md, profile.md and the PNG plots, from the raw results of bench/suite.py."""

import os

from .stats import summary

MIB = 1024

# (key, label, unit, better): the per-round figures of the forwarding comparison.
TIMING = [
    ("upload_1", "client → target, 1 connection", "MiB/s", "higher"),
    ("upload_8", "client → target, 8 connections", "MiB/s", "higher"),
    ("download_1", "target → client, 1 connection", "MiB/s", "higher"),
    ("download_8", "target → client, 8 connections", "MiB/s", "higher"),
    ("rtt_p50", "64-byte round trip, p50", "µs", "lower"),
    ("rtt_p99", "64-byte round trip, p99", "µs", "lower"),
    ("setup_p50", "connect to first echoed byte, p50", "µs", "lower"),
    ("setup_p99", "connect to first echoed byte, p99", "µs", "lower"),
    ("cpu_per_gb", "forwarder CPU per GB moved", "s/GB", "lower"),
]


def _number(value):
    if value is None:
        return "–"
    if abs(value) >= 100:
        return f"{value:,.0f}"
    if abs(value) >= 10:
        return f"{value:.1f}"
    return f"{value:.2f}"


def _ratio(value, reference):
    if value is None or not reference:
        return "–"
    return f"{value / reference:.2f}×"


def _table(header, rows):
    lines = ["| " + " | ".join(header) + " |", "|" + "|".join("---" for _ in header) + "|"]
    lines += ["| " + " | ".join(str(cell) for cell in row) + " |" for row in rows]
    return "\n".join(lines)


class Comparison:
    """The forwarding figures summarised per path: median and spread over rounds, memory figures."""

    def __init__(self, forwarding):
        self.data = forwarding
        self.paths = forwarding["paths"]
        self.labels = {path["key"]: path["label"] for path in self.paths}

    def timing(self, path, key):
        return summary([round_.get(key) for round_ in self.data["figures"][path]])

    def median(self, path, key):
        found = self.timing(path, key)
        return found["median"] if found else None

    def memory(self, path):
        return self.data["memory"].get(path)

    def hold_kib(self, path, connections, measure="pss_kib"):
        memory = self.memory(path)
        for step in (memory or {}).get("hold", []):
            if step["connections"] == connections:
                return step[measure]
        return None

    def per_connection_kib(self, path, measure="pss_kib"):
        one, thousand = self.hold_kib(path, 1, measure), self.hold_kib(path, 1000, measure)
        return None if one is None or thousand is None else (thousand - one) / 999

    def churn_growth_kib(self, path, measure="pss_kib"):
        steps = (self.memory(path) or {}).get("churn", [])
        if len(steps) < 2:
            return None
        return steps[-1][measure] - steps[0][measure]

    def slow_reader_kib(self, path, measure="pss_kib"):
        peak = (self.memory(path) or {}).get("slow_reader")
        return peak[measure] if peak else None

    def memory_figures(self):
        """(label, unit, {path: value}) for the memory table."""
        keys = [path["key"] for path in self.paths if self.memory(path["key"])]
        rows = []
        for count in (1, 100, 1000):
            rows.append((f"{count:,} open connection{'s' if count > 1 else ''}", "MiB",
                         {key: _scaled(self.hold_kib(key, count)) for key in keys}))
        rows.append(("growth per open connection", "KiB", {key: self.per_connection_kib(key) for key in keys}))
        rows.append(("growth from 1,000 to the last of 10,000 sequential connections", "KiB",
                     {key: self.churn_growth_kib(key) for key in keys}))
        rows.append(("peak under a slow reader (1 MB/s) of a fast source", "MiB",
                     {key: _scaled(self.slow_reader_kib(key)) for key in keys}))
        return rows


def _scaled(kib):
    return None if kib is None else kib / MIB


def _timing_section(comparison):
    out = []
    keys = [path["key"] for path in comparison.paths]
    for key, label, unit, better in TIMING:
        rows = []
        for path in keys:
            found = comparison.timing(path, key)
            if not found:
                continue
            rows.append([comparison.labels[path], _number(found["median"]),
                         f"{_number(found['min'])} – {_number(found['max'])}",
                         _ratio(found["median"], comparison.median("direct", key)),
                         _ratio(found["median"], comparison.median("ssh", key))])
        if rows:
            out.append(f"**{label}** ({unit}, {better} is better)\n")
            out.append(_table(["path", "median", "min – max", "× direct", "× ssh -L"], rows) + "\n")
    relay = comparison.timing("daemon", "cpu_per_gb:relay")
    if relay:
        out.append(f"The sandbox relay, which stands in for the remote service and device, used a further "
                   f"{_number(relay['median'])} s/GB ({_number(relay['min'])} – {_number(relay['max'])}); "
                   f"ssh -L splits into ssh client {_number(comparison.median('ssh', 'cpu_per_gb:ssh client'))} "
                   f"and sshd {_number(comparison.median('ssh', 'cpu_per_gb:sshd'))} s/GB.\n")
    return "\n".join(out)


def _memory_section(comparison):
    rows = []
    for label, unit, values in comparison.memory_figures():
        for path, value in values.items():
            # A ratio of two growths near zero says nothing.
            ratio = "–" if label.startswith("growth from") else _ratio(value, values.get("ssh"))
            rows.append([label, comparison.labels[path], f"{_number(value)} {unit}", ratio])
    text = [_table(["figure", "path", "value", "× ssh -L"], rows)]
    daemon = comparison.memory("daemon")
    if daemon:
        slow = daemon.get("slow_reader")
        if slow:
            relay_peak = slow["by_role"].get("relay")
            text.append(f"\nUnder the slow reader the daemon went from {_number(_scaled(slow['start_rss_kib']))} to "
                        f"{_number(_scaled(slow['rss_kib']))} MiB RSS while the reader took "
                        f"{slow.get('bytes_read', 0) / 1e6:.1f} MB in 6 s"
                        + (f"; the relay (sandbox) peaked at {_number(_scaled(relay_peak[0]))} MiB RSS." if relay_peak
                           else "."))
        churn = daemon.get("churn", [])
        if churn:
            text.append(f"The daemon took {churn[-1]['seconds']:.0f} s for {churn[-1]['connections']:,} sequential "
                        f"connections{'' if daemon.get('churn_complete') else ' (stopped at the time limit)'}.")
    text.append("\nEach memory phase starts from a freshly started forwarder. The sequential connections run "
                "20 at a time (each batch closed before the next opens); memory is read after every 1,000.")
    return "\n".join(text)


def glance(comparison):
    """One compact table: the medians of the main figures, a column per path."""
    keys = [path["key"] for path in comparison.paths]
    rows = []
    for key, label, unit, _ in TIMING:
        rows.append([f"{label} ({unit})"] + [_number(comparison.median(path, key)) for path in keys])
    rows.append(["memory per open connection (KiB)"] + [_number(comparison.per_connection_kib(path)) for path in keys])
    return _table(["figure"] + [comparison.labels[path] for path in keys], rows)


def targets(comparison):
    """(target, measured, met) for the daemon's goals."""
    rows = []
    if "daemon" not in comparison.labels or "ssh" not in comparison.labels:
        return rows
    for key, label in (("upload_1", "client → target"), ("download_1", "target → client")):
        daemon, ssh = comparison.median("daemon", key), comparison.median("ssh", key)
        if daemon is not None and ssh:
            rows.append((f"throughput per connection ({label}) ≥ 1.5× ssh -L",
                         f"{daemon / ssh:.2f}× ({_number(daemon)} vs {_number(ssh)} MiB/s)", daemon >= 1.5 * ssh))
    for key, label in (("rtt_p50", "p50"), ("rtt_p99", "p99")):
        daemon, ssh = comparison.median("daemon", key), comparison.median("ssh", key)
        if daemon is not None and ssh:
            rows.append((f"64-byte round trip {label} no worse than ssh -L",
                         f"{_number(daemon)} vs {_number(ssh)} µs", daemon <= ssh))
    growth = comparison.per_connection_kib("daemon", "rss_kib")
    if growth is not None:
        rows.append(("daemon memory per open connection < 64 KiB (RSS, 1 → 1,000)", f"{growth:.1f} KiB",
                     growth < 64))
    churn = comparison.churn_growth_kib("daemon", "rss_kib")
    if churn is not None:
        rows.append(("no growth after the first 1,000 of 10,000 sequential connections (RSS, < 1 MiB)",
                     f"{churn:+,.0f} KiB", churn < 1024))
    slow = comparison.slow_reader_kib("daemon", "rss_kib")
    if slow is not None:
        rows.append(("daemon under a slow reader < 32 MiB (RSS peak)", f"{slow / MIB:.1f} MiB", slow < 32 * MIB))
    crashes = [failure for failure in _failures(comparison.data) if failure["path"] == "daemon"]
    rows.append(("the daemon runs every phase without failing", f"{len(crashes)} failures" if crashes else "no failure",
                 not crashes))
    return rows


def _failures(forwarding):
    """Every failed round or memory phase, with the path it happened on."""
    found = [dict(failure, phase=f"round {failure['round']}") for failure in forwarding.get("failures", [])]
    for path, memory in forwarding.get("memory", {}).items():
        found += [dict(failure, path=path) for failure in memory.get("failures", [])]
    return found


def _failure_section(comparison):
    failures = _failures(comparison.data)
    if not failures:
        return ""
    lines = ["### Failures\n"]
    for failure in failures:
        died = " The forwarder died; it was started afresh." if failure.get("forwarder_died") else ""
        lines.append(f"- {comparison.labels[failure['path']]}, {failure['phase']}: {failure['error']}.{died}")
        last = failure.get("forwarder_log", "").strip().splitlines()[-2:]
        if last:
            lines.append("  Its log ends: `" + " / ".join(line.strip()[:160] for line in last) + "`")
    return "\n".join(lines) + "\n"


def _gbench_section(results):
    out = []
    for name, result in results.items():
        if "error" in result:
            out.append(f"**{name}**: did not run ({result['error']})\n")
            continue
        rows = []
        for entry in result.get("benchmarks", []):
            if entry.get("run_type") == "aggregate":
                continue
            rate = ""
            if "bytes_per_second" in entry:
                rate = f"{entry['bytes_per_second'] / MIB / MIB:,.1f} MiB/s"
            elif "items_per_second" in entry:
                rate = f"{entry['items_per_second']:,.0f} /s"
            skip = {"name", "run_name", "run_type", "repetitions", "repetition_index", "threads", "iterations",
                    "real_time", "cpu_time", "time_unit", "bytes_per_second", "items_per_second", "family_index",
                    "per_family_instance_index", "error_occurred", "error_message", "aggregate_name"}
            counters = ", ".join(f"{key} {_number(value)}" for key, value in entry.items()
                                 if key not in skip and isinstance(value, (int, float)))
            if entry.get("error_occurred"):
                counters = "error: " + entry.get("error_message", "")
            rows.append([entry["name"], f"{_number(entry['real_time'])} {entry['time_unit']}", rate, counters])
        out.append(f"**{name}**\n\n" + _table(["benchmark", "time", "rate", "counters"], rows) + "\n")
    return "\n".join(out)


def _service_summary(results):
    service = results.get("bench_service", {})
    for entry in service.get("benchmarks", []):
        if "items_per_second" in entry:
            return (f"Profile calls over one kept-alive HTTPS connection to the sandbox: "
                    f"{entry['items_per_second']:,.0f} calls/s, p50 {_number(entry.get('p50_us'))} µs, "
                    f"p99 {_number(entry.get('p99_us'))} µs per call (the first call, which opens the TLS "
                    f"connection, {_number(entry.get('first_call_us'))} µs).\n")
    return ""


def _short_name(name, width=110):
    return name if len(name) <= width else name[:width - 1] + "…"


def profile_markdown(profile):
    moved = ", ".join(f"{command} {value / 1e6:,.1f} MB" for command, value in profile["bytes"].items())
    lines = [f"# Profile of VantrelDaemon under a throughput run\n",
             f"{profile['date']}. VantrelDaemon ran under callgrind (valgrind) while one connection sent for "
             f"{profile['seconds_per_direction']} s in each direction ({moved}); "
             f"{profile['instructions']:,} instructions in all. Callgrind counts the daemon's own instructions: "
             f"time spent in the kernel (socket reads and writes) does not appear, and everything runs about "
             f"fifty times slower, so only the shares matter.\n",
             "## Top functions by own cost\n",
             _table(["function", "own", "inclusive", "calls"],
                    [[f"`{_short_name(entry['function'])}`", f"{entry['self_share']:.1%}",
                      f"{entry['inclusive_share']:.1%}", f"{entry['calls']:,}"] for entry in profile["top_self"]]),
             "\n## Where the top five come from (callers by the cost of their calls)\n",
             "\n".join(f"- `{_short_name(entry['function'], 80)}`: " + "; ".join(
                 f"`{_short_name(caller['function'], 100)}` ({caller['calls']:,} calls, {caller['share']:.1%})"
                 for caller in entry.get("callers", [])) for entry in profile["top_self"][:5]),
             "\n## The daemon's own code (namespace vantrel) by inclusive cost\n",
             _table(["function", "own", "inclusive", "calls"],
                    [[f"`{_short_name(entry['function'])}`", f"{entry['self_share']:.1%}",
                      f"{entry['inclusive_share']:.1%}", f"{entry['calls']:,}"] for entry in profile.get("own_code", [])]),
             "\n## Top functions by inclusive cost\n",
             _table(["function", "inclusive", "calls"],
                    [[f"`{_short_name(entry['function'])}`", f"{entry['inclusive_share']:.1%}", f"{entry['calls']:,}"]
                     for entry in profile["top_inclusive"]])]
    return "\n".join(lines) + "\n"


def write(data, results_dir):
    os.makedirs(results_dir, exist_ok=True)
    sections = ["# Benchmark results\n"]
    machine = data.get("machine", {})
    if machine:
        sections.append(f"Machine: {machine.get('cpu')}, {machine.get('cores')} cores, Linux "
                        f"{machine.get('kernel')}; commit {machine.get('commit')}. Everything on loopback; the "
                        f"load generator, the target and the forwarder share the cores.\n")
    forwarding = data.get("forwarding")
    if forwarding:
        comparison = Comparison(forwarding)
        ssh = next((path["details"] for path in forwarding["paths"] if path["key"] == "ssh"), {})
        rounds = forwarding["rounds"]
        sections.append(f"## Forwarding comparison\n\n{forwarding['date']}: {rounds} round{'s' * (rounds != 1)}, "
                        f"interleaved (each round measures every path), {forwarding['seconds_per_run']} s per "
                        f"throughput run. Paths: direct loopback TCP to the target; socat; ssh -L through a "
                        f"local sshd (cipher {ssh.get('cipher', '?')}, MAC {ssh.get('mac', '?')}); "
                        f"VantrelDaemon through corvane-sandbox's relay over TLS. Throughput is measured where "
                        f"the bytes arrive, after 0.5 s of warm-up. Memory is the forwarder's, summed over its "
                        f"processes as PSS (shared pages counted once); the daemon's targets use its RSS.\n")
        sections.append("### At a glance (medians)\n\n" + glance(comparison) + "\n")
        rows = [[goal, measured, "met" if met else "**missed**"] for goal, measured, met in targets(comparison)]
        if rows:
            sections.append("### Targets\n\n" + _table(["target", "measured", ""], rows) + "\n")
        sections.append("### Throughput, latency and CPU\n\n" + _timing_section(comparison))
        sections.append("### Memory\n\n" + _memory_section(comparison) + "\n")
        sections.append(_failure_section(comparison))
        from . import plots
        written = plots.write_all(comparison, results_dir)
        sections.append("\n".join(f"![{name}]({name}.png)" for name in written) + "\n")
    gbench = data.get("gbench")
    if gbench:
        sections.append(f"## Google Benchmark binaries\n\n{gbench['date']}.\n\n"
                        + _service_summary(gbench["results"]) + "\n" + _gbench_section(gbench["results"]))
    profile = data.get("profile")
    if profile:
        with open(os.path.join(results_dir, "profile.md"), "w") as out:
            out.write(profile_markdown(profile))
        top = [[f"`{_short_name(entry['function'], 90)}`", f"{entry['self_share']:.1%}", f"{entry['calls']:,}"]
               for entry in profile["top_self"][:10]]
        sections.append(f"## Daemon profile\n\n{profile['date']}, callgrind; the full table is in "
                        f"[profile.md](profile.md).\n\n" + _table(["function", "own cost", "calls"], top) + "\n")
    with open(os.path.join(results_dir, "latest.md"), "w") as out:
        out.write("\n".join(sections))
