"""How many CPUs this process may use."""

from __future__ import annotations

import os


def usable_cpu_count() -> int:
    """The CPUs this process may run on: its affinity mask where the system
    has one (a container's or a job scheduler's limit), not every CPU of
    the machine."""
    if hasattr(os, "sched_getaffinity"):
        return max(1, len(os.sched_getaffinity(0)))
    return os.cpu_count() or 1
