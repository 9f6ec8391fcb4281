"""Seat-rotated games between players, and their honest scoring.

``play_match`` seats the candidate in seat ``k mod 4`` of game ``k`` and
three copies of the opponent elsewhere, so that every seat is played equally
often: seat 0 alone is worth far more than a quarter on small boards. Its
result carries the standard error and the per-seat means. What an opponent
scores against copies of itself, seats rotated (its parity), is 0.25 in
expectation; ``play_match(opponent, opponent, ...)`` measures it.

Games run in lockstep: every round, each player answers all the games
waiting on it with one ``choose_many`` call, so a network evaluates its
positions in batches. ``workers`` > 1 splits the games over processes.
"""

from __future__ import annotations

import math
import sys
import time
from concurrent.futures import ProcessPoolExecutor
from dataclasses import dataclass
from typing import Callable, Sequence

import numpy as np
import tavrin_engine as te

from .players import Player
from .progress import progress_bar

SEATS = 4


@dataclass(frozen=True)
class GameResult:
    seats: tuple[str, str, str, str]  # player names, seat order
    scores: tuple[int, int, int, int]
    payoffs: tuple[float, float, float, float]


@dataclass(frozen=True)
class MatchResult:
    candidate: str
    opponent: str
    dim: int
    games: int
    mean: float  # mean payoff of the candidate
    stderr: float
    seat_means: tuple[float, ...]  # the candidate's mean payoff in seats 0-3
    seconds: float

    def describe(self) -> str:
        seats = " ".join(f"{m:.2f}" for m in self.seat_means)
        return (f"{self.candidate} vs 3x {self.opponent} on side {self.dim}: {self.mean:.3f} ± {self.stderr:.3f} "
                f"over {self.games} games, seats rotated (per seat {seats}; parity 0.25)")


def play_lockstep(seatings: Sequence[Sequence[Player]], dim: int,
                  on_finished: Callable[[int], None] | None = None) -> list[GameResult]:
    """Plays one game per seating in this process, all at once."""
    games = [te.Game(dim) for _ in seatings]
    results: list[GameResult | None] = [None] * len(seatings)
    active = list(range(len(games)))
    while active:
        waiting: dict[int, tuple[Player, list[int]]] = {}
        for index in active:
            player = seatings[index][games[index].current_player]
            waiting.setdefault(id(player), (player, []))[1].append(index)
        for player, indices in waiting.values():
            tiles = player.choose_many([games[i] for i in indices])
            for index, tile in zip(indices, tiles):
                games[index].apply(tile)
        still = []
        for index in active:
            game = games[index]
            if not game.is_terminal():
                still.append(index)
                continue
            results[index] = GameResult(tuple(p.name for p in seatings[index]), game.scores(), game.payoff())
            if on_finished:
                on_finished(1)
        active = still
    return results  # type: ignore[return-value]


def _play_share(seatings: Sequence[Sequence[Player]], dim: int, seed: int) -> list[GameResult]:
    """A worker process's share: its own random streams, one torch thread."""
    torch = sys.modules.get("torch")  # loaded by a network player's weights
    if torch is not None:
        torch.set_num_threads(1)
    for offset, player in enumerate({id(p): p for seating in seatings for p in seating}.values()):
        player.reseed(seed + offset)
    return play_lockstep(seatings, dim)


def play_games(seatings: Sequence[Sequence[Player]], dim: int, workers: int = 1, show_progress: bool = False,
               label: str = "games", seed: int | None = None) -> list[GameResult]:
    """One game per seating (four players, seat order); results in the same order."""
    for seating in seatings:
        if len(seating) != SEATS:
            raise ValueError(f"a game seats {SEATS} players, got {len(seating)}")
    if workers < 1:
        raise ValueError(f"workers must be at least 1, got {workers}")
    workers = min(workers, len(seatings)) or 1
    with progress_bar(len(seatings), label, show_progress) as bar:
        if workers == 1:
            return play_lockstep(seatings, dim, bar.update)
        # Interleaved shares balance the seats and the game lengths.
        shares = [list(range(w, len(seatings), workers)) for w in range(workers)]
        base = int(np.random.SeedSequence(seed).generate_state(1)[0])
        results: list[GameResult | None] = [None] * len(seatings)
        import multiprocessing

        with ProcessPoolExecutor(workers, mp_context=multiprocessing.get_context("spawn")) as pool:
            futures = [pool.submit(_play_share, [seatings[i] for i in share], dim, base + 1000 * w)
                       for w, share in enumerate(shares)]
            for share, future in zip(shares, futures):
                for index, result in zip(share, future.result()):
                    results[index] = result
                bar.update(len(share))
        return results  # type: ignore[return-value]


def rotated_seatings(candidate: Player, opponent: Player, games: int) -> list[list[Player]]:
    seatings = []
    for k in range(games):
        seating = [opponent] * SEATS
        seating[k % SEATS] = candidate
        seatings.append(seating)
    return seatings


def payoff_stderr(payoffs: np.ndarray) -> float:
    """Standard error of a mean payoff; NaN for a single game."""
    return float(payoffs.std(ddof=1) / math.sqrt(len(payoffs))) if len(payoffs) > 1 else math.nan


def play_match(candidate: Player, opponent: Player, games: int, dim: int, workers: int = 1,
               show_progress: bool = False, seed: int | None = None) -> MatchResult:
    """The candidate in seat k mod 4 of game k, three copies of the opponent elsewhere."""
    if games < 1:
        raise ValueError(f"a match needs at least 1 game, got {games}")
    started = time.perf_counter()
    label = f"vs {opponent.name}"
    results = play_games(rotated_seatings(candidate, opponent, games), dim, workers, show_progress, label, seed)
    payoffs = np.array([r.payoffs[k % SEATS] for k, r in enumerate(results)])
    seat_means = tuple(float(payoffs[s::SEATS].mean()) if len(payoffs[s::SEATS]) else math.nan
                       for s in range(SEATS))
    return MatchResult(candidate.name, opponent.name, dim, games, float(payoffs.mean()), payoff_stderr(payoffs),
                       seat_means, time.perf_counter() - started)
