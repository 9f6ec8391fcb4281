"""The per-generation metrics CSV of a run."""

from __future__ import annotations

import csv
from pathlib import Path
from typing import Any

from tavrin_trainer.core.run_folder.run_directory import atomic_write

# Seat-rotated evaluation: on the training board, optionally on side 20, and
# optionally against rollout players on the training board.
EVALUATION_OPPONENTS = ("random", "greedy", "random_side20", "greedy_side20", "rollout")

EVALUATION_FIELDS = ("games", "mean_payoff", "stderr", "s")

COLUMNS = [
    "generation", "elapsed_s",
    # self-play throughput
    "selfplay_side", "selfplay_games", "selfplay_positions", "selfplay_s", "positions_per_s", "games_per_s",
    "evaluations", "evaluations_per_s", "evaluations_per_position", "cache_hit_rate", "mean_batch",
    "network_busy_fraction", "replaced_processes",
    "rejected_records",
    # training
    "train_steps", "learning_rate", "policy_loss", "value_loss", "ownership_loss", "score_loss",
    "buffer_positions", "train_s",
    # evaluation
    *(f"vs_{opponent}_{field}" for opponent in EVALUATION_OPPONENTS for field in EVALUATION_FIELDS),
]


def evaluation_columns(opponent: str, games: int, mean_payoff: float, stderr: float,
                       seconds: float) -> dict[str, Any]:
    """The columns of one evaluation match against ``opponent`` (a key of
    EVALUATION_OPPONENTS): the candidate's mean payoff over ``games`` games,
    seats rotated, its standard error and the match's wall time."""
    values = (games, mean_payoff, stderr, seconds)
    return {f"vs_{opponent}_{field}": value for field, value in zip(EVALUATION_FIELDS, values, strict=True)}


class MetricsLog:
    """One row per generation; a resumed run keeps the rows of the
    generations it keeps and drops those past its checkpoint."""

    def __init__(self, path: Path) -> None:
        self.path = path

    def rows(self) -> list[dict[str, str]]:
        if not self.path.exists():
            return []
        with open(self.path, newline="") as source:
            return list(csv.DictReader(source))

    def truncate_after(self, generation: int) -> None:
        self._write([row for row in self.rows() if int(row["generation"]) <= generation])

    def append(self, row: dict[str, Any]) -> None:
        unknown = set(row) - set(COLUMNS)
        if unknown:
            raise KeyError(f"unknown metrics columns: {sorted(unknown)}")
        self._write(self.rows() + [{k: _format(row.get(k, "")) for k in COLUMNS}])

    def _write(self, rows: list[dict[str, Any]]) -> None:
        # The whole file each time, renamed into place: a run killed at any
        # moment leaves a complete CSV.
        def write(path: Path) -> None:
            with open(path, "w", newline="") as out:
                writer = csv.DictWriter(out, fieldnames=COLUMNS, extrasaction="ignore")
                writer.writeheader()
                writer.writerows(rows)

        atomic_write(self.path, write)


def _format(value: Any) -> Any:
    return f"{value:.6g}" if isinstance(value, float) else value
