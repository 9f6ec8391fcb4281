"""Evaluation games: the network against random players and against a baseline network."""

from __future__ import annotations

import math
import time
from dataclasses import dataclass

from .cluster import Cluster
from .progress import progress_bar
from .settings import SearchConfig
from .worker import VERSUS_BASELINE, VERSUS_RANDOM


@dataclass
class Score:
    games: int
    mean: float
    stderr: float
    seconds: float


def _score(payoffs: list[float], seconds: float) -> Score:
    games = len(payoffs)
    mean = sum(payoffs) / games
    variance = sum((p - mean) ** 2 for p in payoffs) / (games - 1) if games > 1 else 0.0
    return Score(games, mean, math.sqrt(variance / games), seconds)


def score_games(cluster: Cluster, kind: str, config: SearchConfig, games: int, label: str,
                show_progress: bool = True) -> Score:
    started = time.perf_counter()
    payoffs = []
    with progress_bar(games, label, show_progress) as bar:
        for result in cluster.run(kind, [config] * games):
            payoffs.append(result.payload)
            bar.update(1)
    return _score(payoffs, time.perf_counter() - started)


def versus_random(cluster: Cluster, config: SearchConfig, games: int, show_progress: bool = True) -> Score:
    """Mean payoff of the model in seat 0 against three uniformly random players (chance 0.25)."""
    return score_games(cluster, VERSUS_RANDOM, config, games, "vs random", show_progress)


def versus_baseline(cluster: Cluster, config: SearchConfig, games: int, show_progress: bool = True) -> Score:
    """Mean payoff of the model in seat 0 against the baseline in seats 1-3 (side-20 board)."""
    return score_games(cluster, VERSUS_BASELINE, config, games, "vs previous", show_progress)
