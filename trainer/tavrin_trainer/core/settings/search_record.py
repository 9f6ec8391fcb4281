"""How a network was trained to search, as its checkpoint records it, so that
every player made from the checkpoint searches that way unless told otherwise.

A run's checkpoints record it under ``search``:
``{"root": "gumbel" | "puct", "gumbel_candidates": N, "leaf_evaluation":
"mixed" | "network", "playouts": K, "playout_weight": W}``. A shipped
network that predates the record carries its run's settings in ``source``,
which say the same. A checkpoint with neither records nothing, and its
players search as they always did.
"""

from __future__ import annotations

import json
import math
from dataclasses import dataclass
from typing import Any

import tavrin_engine as te

ROOTS = ("puct", "gumbel")
LEAF_EVALUATIONS = ("network", "mixed")


@dataclass(frozen=True)
class SearchWay:
    gumbel_candidates: int = 0  # 0: a PUCT root; 2 or more: a Gumbel root over that many
    playouts: int = 0  # random playouts a leaf, mixed into the network's value; 0: none
    playout_weight: float = 0.5

    @property
    def leaf_evaluation(self) -> str:
        return "mixed" if self.playouts else "network"

    def record(self) -> dict[str, Any]:
        return {"root": "gumbel" if self.gumbel_candidates else "puct", "gumbel_candidates": self.gumbel_candidates,
                "leaf_evaluation": self.leaf_evaluation, "playouts": self.playouts,
                "playout_weight": self.playout_weight}

    def search_settings(self, **others: Any) -> te.SearchSettings:
        """The engine's settings of a search this way, with ``others`` beside."""
        return te.SearchSettings(gumbel_candidates=self.gumbel_candidates, leaf_evaluation=self.leaf_evaluation,
                                 playouts=max(self.playouts, 1), playout_weight=self.playout_weight, **others)

    def describe(self) -> str:
        root = f"a Gumbel root over {self.gumbel_candidates}" if self.gumbel_candidates else "a PUCT root"
        leaves = (f"leaves valued {1 - self.playout_weight:g} by the network and {self.playout_weight:g} by "
                  f"{self.playouts} random playout{'s' if self.playouts > 1 else ''}" if self.playouts
                  else "leaves valued by the network")
        return f"{root}, {leaves}"


class SearchRecordError(ValueError):
    """A checkpoint's search record that cannot be used; the message names the setting."""


def _count(value: Any, name: str, low: int, high: int, where: str) -> int:
    if isinstance(value, bool) or not isinstance(value, int) or not low <= value <= high:
        raise SearchRecordError(f"{where} records the search setting {name}={value!r}, which must be a whole "
                                f"number from {low} to {high}")
    return value


def _weight(value: Any, where: str) -> float:
    if isinstance(value, bool) or not isinstance(value, (int, float)) or not math.isfinite(value) \
            or not 0 <= value <= 1:
        raise SearchRecordError(f"{where} records the search setting playout_weight={value!r}, which must be a "
                                f"number from 0 to 1")
    return float(value)


def search_way_of(record: Any, where: str) -> SearchWay:
    """The way a ``search`` record names; SearchRecordError naming the bad setting."""
    if not isinstance(record, dict):
        raise SearchRecordError(f"{where} records its search as {type(record).__name__}, not a mapping")
    root = record.get("root", "puct")
    if root not in ROOTS:
        raise SearchRecordError(f"{where} records the search setting root={root!r}, which must be one of "
                                f"{', '.join(ROOTS)}")
    leaves = record.get("leaf_evaluation", "network")
    if leaves not in LEAF_EVALUATIONS:
        raise SearchRecordError(f"{where} records the search setting leaf_evaluation={leaves!r}, which must be "
                                f"one of {', '.join(LEAF_EVALUATIONS)}")
    candidates = 0
    if root == "gumbel":
        candidates = _count(record.get("gumbel_candidates"), "gumbel_candidates", 2, te.MAX_GUMBEL_CANDIDATES, where)
    playouts = 0
    if leaves == "mixed":
        playouts = _count(record.get("playouts"), "playouts", 1, te.MAX_PLAYOUTS, where)
    weight = _weight(record.get("playout_weight", 0.5), where)
    return SearchWay(candidates, playouts, weight)


def recorded_search(checkpoint: dict[str, Any], where: str) -> SearchWay | None:
    """How the checkpoint's network was trained to search, or None when it
    records nothing; SearchRecordError for a record that cannot be used."""
    if "search" in checkpoint:
        return search_way_of(checkpoint["search"], where)
    source = checkpoint.get("source")
    if not isinstance(source, str):
        return None
    try:
        settings = json.loads(source).get("settings")
    except (ValueError, AttributeError):
        return None  # a source note that is not the shipping script's says nothing of the search
    if not isinstance(settings, dict) or "gumbel_candidates" not in settings:
        return None
    playouts = settings.get("playouts", 0)
    return search_way_of({"root": "gumbel" if settings.get("gumbel_candidates") else "puct",
                          "gumbel_candidates": settings.get("gumbel_candidates"),
                          "leaf_evaluation": "mixed" if playouts else "network", "playouts": playouts,
                          "playout_weight": settings.get("playout_weight", 0.5)}, where)
