"""Player names that a setting may hold as well as the arena (the
warm-start teacher, the evaluation opponents)."""

from __future__ import annotations


def rollout_simulations(name: str) -> int | None:
    """N for a well-formed rollout:N (N at least 1), else None."""
    count = name.removeprefix("rollout:")
    return int(count) if name.startswith("rollout:") and count.isdigit() and int(count) >= 1 else None


# A search's time budget per action: more than 0 and at most this, in seconds.
MAX_MOVE_SECONDS = 3600.0


def check_move_time(seconds: float | None) -> None:
    """ValueError for a time budget out of range (None: no budget)."""
    if seconds is not None and not 0 < seconds <= MAX_MOVE_SECONDS:
        raise ValueError(f"a search's time budget must be more than 0 and at most {MAX_MOVE_SECONDS:g} seconds, "
                         f"got {seconds!r}")


def rollout_milliseconds(name: str) -> float | None:
    """M for a well-formed rollout:Mms (a budget of M milliseconds an action, more than 0 and at most
    MAX_MOVE_SECONDS), else None."""
    budget = name.removeprefix("rollout:")
    if not (name.startswith("rollout:") and budget.endswith("ms")):
        return None
    try:
        milliseconds = float(budget[:-2])
    except ValueError:
        return None
    return milliseconds if 0 < milliseconds <= MAX_MOVE_SECONDS * 1000 else None
