"""Player names that a setting may hold as well as the arena (the
warm-start teacher, the evaluation opponents)."""

from __future__ import annotations


def rollout_simulations(name: str) -> int | None:
    """N for a well-formed rollout:N (N at least 1), else None."""
    count = name.removeprefix("rollout:")
    return int(count) if name.startswith("rollout:") and count.isdigit() and int(count) >= 1 else None


def rollout_milliseconds(name: str) -> float | None:
    """M for a well-formed rollout:Mms (a budget of M milliseconds an action, more than 0 and at most an
    hour), else None."""
    budget = name.removeprefix("rollout:")
    if not (name.startswith("rollout:") and budget.endswith("ms")):
        return None
    try:
        milliseconds = float(budget[:-2])
    except ValueError:
        return None
    return milliseconds if 0 < milliseconds <= 3_600_000 else None
