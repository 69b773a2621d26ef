"""Small statistics over benchmark samples."""

import statistics


def percentile(samples, share):
    """The sample at rank share * (n - 1) of the sorted samples, interpolated; None without samples."""
    if not samples:
        return None
    ordered = sorted(samples)
    at = share * (len(ordered) - 1)
    low = int(at)
    high = min(low + 1, len(ordered) - 1)
    return ordered[low] + (ordered[high] - ordered[low]) * (at - low)


def summary(values):
    """Median and spread (min, max) of per-round values, ignoring rounds that produced none."""
    present = [value for value in values if value is not None]
    if not present:
        return None
    return {"median": statistics.median(present), "min": min(present), "max": max(present),
            "rounds": len(present)}
