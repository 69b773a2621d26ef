"""PNG plots of the forwarding comparison (matplotlib, no display needed)."""

import os

import matplotlib

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402

COLOURS = {"direct": "#9e9e9e", "socat": "#6a8fbf", "ssh": "#d08c3f", "daemon": "#3f9f6a"}


def _bars(axis, comparison, keys, labels, unit):
    paths = [path["key"] for path in comparison.paths]
    width = 0.8 / len(paths)
    for index, path in enumerate(paths):
        medians, low, high = [], [], []
        for key in keys:
            found = comparison.timing(path, key)
            median = found["median"] if found else 0
            medians.append(median)
            low.append(median - found["min"] if found else 0)
            high.append(found["max"] - median if found else 0)
        positions = [k + (index - (len(paths) - 1) / 2) * width for k in range(len(keys))]
        axis.bar(positions, medians, width, yerr=[low, high], capsize=3, label=comparison.labels[path],
                 color=COLOURS.get(path))
    axis.set_xticks(range(len(keys)))
    axis.set_xticklabels(labels)
    axis.set_ylabel(unit)
    axis.grid(axis="y", alpha=0.3)


def throughput(comparison, out):
    figure, axis = plt.subplots(figsize=(9, 4.5))
    _bars(axis, comparison, ["upload_1", "upload_8", "download_1", "download_8"],
          ["client→target\n1 conn", "client→target\n8 conns", "target→client\n1 conn", "target→client\n8 conns"],
          "MiB/s (median, min–max)")
    axis.set_title("Bulk throughput through each path")
    axis.legend()
    figure.tight_layout()
    figure.savefig(out, dpi=110)
    plt.close(figure)


def latency(comparison, out):
    figure, (rtt, setup) = plt.subplots(1, 2, figsize=(10, 4.2))
    _bars(rtt, comparison, ["rtt_p50", "rtt_p99"], ["p50", "p99"], "µs")
    rtt.set_title("64-byte round trip")
    _bars(setup, comparison, ["setup_p50", "setup_p99"], ["p50", "p99"], "µs")
    setup.set_title("Connect to first echoed byte")
    setup.set_yscale("log")
    rtt.legend()
    figure.tight_layout()
    figure.savefig(out, dpi=110)
    plt.close(figure)


def memory(comparison, out):
    figure, (held, churned) = plt.subplots(1, 2, figsize=(10, 4.2))
    for path in comparison.paths:
        key = path["key"]
        data = comparison.memory(key)
        if not data:
            continue
        held.plot([step["connections"] for step in data["hold"]], [step["pss_kib"] / 1024 for step in data["hold"]],
                  marker="o", label=path["label"], color=COLOURS.get(key))
        churned.plot([step["connections"] for step in data["churn"]],
                     [step["pss_kib"] / 1024 for step in data["churn"]], marker=".", label=path["label"],
                     color=COLOURS.get(key))
    held.set_xscale("log")
    held.set_xlabel("open connections")
    held.set_ylabel("MiB (PSS over the forwarder's processes)")
    held.set_title("Memory with open connections")
    churned.set_xlabel("connections opened and closed in turn")
    churned.set_title("Memory over sequential connections")
    for axis in (held, churned):
        axis.grid(alpha=0.3)
    held.legend()
    figure.tight_layout()
    figure.savefig(out, dpi=110)
    plt.close(figure)


def write_all(comparison, results_dir):
    """Writes the plots; returns their names (file names without .png)."""
    written = []
    for name, draw in (("throughput", throughput), ("latency", latency), ("memory", memory)):
        draw(comparison, os.path.join(results_dir, f"{name}.png"))
        written.append(name)
    return written
