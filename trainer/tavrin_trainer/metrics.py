"""The per-generation metrics CSV of a run."""

from __future__ import annotations

import csv
from pathlib import Path
from typing import Any

# Seat-rotated evaluation: on the training board, and optionally on side 20.
EVALUATION_OPPONENTS = ("random", "greedy", "random_side20", "greedy_side20")

COLUMNS = [
    "generation", "elapsed_s",
    # self-play throughput
    "selfplay_games", "selfplay_positions", "selfplay_s", "positions_per_s", "games_per_s",
    "requests", "requests_per_s", "mean_batch", "max_batch", "server_busy_fraction", "rejected_records",
    # training
    "train_steps", "policy_loss", "value_loss", "buffer_positions", "train_s",
    # evaluation
    *(f"vs_{opponent}_{field}" for opponent in EVALUATION_OPPONENTS
      for field in ("games", "mean_payoff", "stderr", "s")),
]


class MetricsLog:
    """Appends one row per generation; a resumed run keeps the rows of the
    generations it keeps and drops those past its checkpoint."""

    def __init__(self, path: Path) -> None:
        self.path = path

    def rows(self) -> list[dict[str, str]]:
        if not self.path.exists():
            return []
        with open(self.path, newline="") as source:
            return list(csv.DictReader(source))

    def truncate_after(self, generation: int) -> None:
        kept = [row for row in self.rows() if int(row["generation"]) <= generation]
        with open(self.path, "w", newline="") as out:
            writer = csv.DictWriter(out, fieldnames=COLUMNS, extrasaction="ignore")
            writer.writeheader()
            writer.writerows(kept)

    def append(self, row: dict[str, Any]) -> None:
        unknown = set(row) - set(COLUMNS)
        if unknown:
            raise KeyError(f"unknown metrics columns: {sorted(unknown)}")
        new_file = not self.path.exists()
        with open(self.path, "a", newline="") as out:
            writer = csv.DictWriter(out, fieldnames=COLUMNS)
            if new_file:
                writer.writeheader()
            writer.writerow({k: _format(row.get(k, "")) for k in COLUMNS})


def _format(value: Any) -> Any:
    return f"{value:.6g}" if isinstance(value, float) else value
