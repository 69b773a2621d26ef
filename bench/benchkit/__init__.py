"""Orchestration of the Vantrel benchmark suite: processes, forwarding paths, measurements and the report."""
