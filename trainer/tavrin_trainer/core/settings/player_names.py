"""Player names that a setting may hold as well as the arena (the
warm-start teacher, the evaluation opponents)."""

from __future__ import annotations


def rollout_simulations(name: str) -> int | None:
    """N for a well-formed rollout:N (N at least 1), else None."""
    count = name.removeprefix("rollout:")
    return int(count) if name.startswith("rollout:") and count.isdigit() and int(count) >= 1 else None
