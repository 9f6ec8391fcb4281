"""Seat-rotated games between players, and their honest scoring.

``play_match`` seats the candidate in seat ``k mod 4`` of game ``k`` and
three copies of the opponent elsewhere, so that every seat is played equally
often: seat 0 alone is worth far more than a quarter on small boards. Its
result carries the standard error and the per-seat means. What an opponent
scores against copies of itself, seats rotated (its parity), is 0.25 in
expectation; ``play_match(opponent, opponent, ...)`` measures it.

Games run in lockstep: every round, each player answers all the games
waiting on it with one ``choose_many`` call, so a network evaluates its
positions in batches. With ``lone``, each process plays its games one after
another instead, each alone, as a person or a tournament plays one: every
network call then answers one game's search, and the time per action is a
lone game's. ``workers`` > 1 splits the games over processes.
Every game draws its random choices from a stream of its own, seeded from the
match's seed and the game's number, so a seeded match plays the same games
however many processes share it.
"""

from __future__ import annotations

import math
import multiprocessing
import sys
import time
from concurrent.futures import ProcessPoolExecutor
from dataclasses import dataclass, field
from typing import Callable, Sequence

import numpy as np
import tavrin_engine as te

from tavrin_trainer.core.progress import progress_bar
from tavrin_trainer.evaluation.players import Player

SEATS = te.PLAYERS  # a seat per player


@dataclass(frozen=True)
class GameResult:
    seats: tuple[str, str, str, str]  # player names, seat order
    scores: tuple[int, int, int, int]
    payoffs: tuple[float, float, float, float]
    moves: tuple[tuple[int, int], ...] = ()  # every action as (player, tile)
    # Per seat: wall time inside its player's choices (a call that answered
    # several games shares its time equally among them) and its actions.
    # Not part of a game's identity: a replayed game is equal whatever it took.
    seat_seconds: tuple[float, float, float, float] = field(default=(0.0, 0.0, 0.0, 0.0), compare=False)
    seat_actions: tuple[int, int, int, int] = field(default=(0, 0, 0, 0), compare=False)
    # Per seat: search simulations its player reported making (0 for players that do not search).
    seat_simulations: tuple[int, int, int, int] = field(default=(0, 0, 0, 0), compare=False)


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
    results: tuple[GameResult, ...] = ()  # every game, in order
    # Mean wall time per action inside the candidate's and the opponents' choices.
    candidate_seconds_per_action: float = math.nan
    opponent_seconds_per_action: float = math.nan
    lone: bool = False  # every game played alone, not batched with the others
    # Mean search simulations per action that the candidate and the opponents reported (0: none).
    candidate_simulations_per_action: float = 0.0
    opponent_simulations_per_action: float = 0.0

    def describe(self) -> str:
        seats = " ".join(f"{m:.2f}" for m in self.seat_means)
        played = "each played alone" if self.lone else "batched"
        return (f"{self.candidate} vs 3x {self.opponent} on side {self.dim}: {self.mean:.3f} ± {self.stderr:.3f} "
                f"over {self.games} games, seats rotated (per seat {seats}; parity 0.25), {played}; time per "
                f"action {format_ms(self.candidate_seconds_per_action)}"
                f"{format_simulations(self.candidate_simulations_per_action)} against "
                f"{format_ms(self.opponent_seconds_per_action)}"
                f"{format_simulations(self.opponent_simulations_per_action)}")


def format_ms(seconds: float) -> str:
    return "n/a" if math.isnan(seconds) else f"{seconds * 1000:.1f} ms"


def format_simulations(per_action: float) -> str:
    return f" ({per_action:.0f} simulations)" if per_action > 0 else ""


def _per_action(results: Sequence[GameResult], in_seat: Callable[[int, int], bool], field: str) -> float:
    """A per-seat total of the results (``field``) over the actions of the
    seats that ``in_seat(game index, seat)`` picks; NaN when they made none."""
    total = actions = 0.0
    for index, result in enumerate(results):
        for seat in range(SEATS):
            if in_seat(index, seat):
                total += getattr(result, field)[seat]
                actions += result.seat_actions[seat]
    return total / actions if actions else math.nan


def simulations_per_action(results: Sequence[GameResult], in_seat: Callable[[int, int], bool]) -> float:
    """Mean simulations per action that the seats ``in_seat`` picks reported; 0 when none."""
    made = _per_action(results, in_seat, "seat_simulations")
    return 0.0 if math.isnan(made) else made


def seconds_per_action(results: Sequence[GameResult], in_seat: Callable[[int, int], bool]) -> float:
    """Mean time per action of the seats that ``in_seat(game index, seat)``
    picks, over all their actions; NaN when they made none."""
    return _per_action(results, in_seat, "seat_seconds")


def game_streams(seed: int | Sequence[int] | None, numbers: Sequence[int]) -> list[np.random.Generator]:
    """The random stream of each numbered game of a match; None draws the
    match's seed from the operating system."""
    entropy = np.random.SeedSequence(seed).entropy
    return [np.random.default_rng(np.random.SeedSequence(entropy, spawn_key=(n,))) for n in numbers]


def play_lockstep(seatings: Sequence[Sequence[Player]], dim: int,
                  on_finished: Callable[[int], None] | None = None,
                  streams: Sequence[np.random.Generator] | None = None) -> list[GameResult]:
    """Plays every seating's game in this process; ``streams``, one per game,
    are what its players draw from (default: their own generators)."""
    games = [te.Game(dim) for _ in seatings]
    results: list[GameResult | None] = [None] * len(seatings)
    seconds = [[0.0] * SEATS for _ in seatings]
    actions = [[0] * SEATS for _ in seatings]
    simulations = [[0] * SEATS for _ in seatings]
    active = list(range(len(games)))
    while active:
        waiting: dict[int, tuple[Player, list[int]]] = {}
        for index in active:
            player = seatings[index][games[index].current_player]
            waiting.setdefault(id(player), (player, []))[1].append(index)
        for player, indices in waiting.values():
            started = time.perf_counter()
            tiles = player.choose_many([games[i] for i in indices],
                                       None if streams is None else [streams[i] for i in indices])
            share = (time.perf_counter() - started) / len(indices)
            made = getattr(player, "last_simulations", None)
            if not made or len(made) != len(indices):
                made = [0] * len(indices)
            for index, tile, count in zip(indices, tiles, made):
                seat = games[index].current_player
                seconds[index][seat] += share
                actions[index][seat] += 1
                simulations[index][seat] += count
                games[index].apply(tile)
        still = []
        for index in active:
            game = games[index]
            if not game.is_terminal():
                still.append(index)
                continue
            results[index] = GameResult(tuple(p.name for p in seatings[index]), game.scores(), game.payoff(),
                                        tuple(game.history), tuple(seconds[index]), tuple(actions[index]),
                                        tuple(simulations[index]))
            if on_finished:
                on_finished(1)
        active = still
    return results  # type: ignore[return-value]


def play_alone(seatings: Sequence[Sequence[Player]], dim: int,
               on_finished: Callable[[int], None] | None = None,
               streams: Sequence[np.random.Generator] | None = None) -> list[GameResult]:
    """Plays every seating's game in this process, one after another."""
    results = []
    for index, seating in enumerate(seatings):
        results += play_lockstep([seating], dim, on_finished, None if streams is None else [streams[index]])
    return results


def _play_share(seatings: Sequence[Sequence[Player]], dim: int, entropy: int | Sequence[int],
                numbers: Sequence[int], lone: bool = False) -> list[GameResult]:
    """A worker process's share of the games, one torch thread."""
    torch = sys.modules.get("torch")  # loaded by a network player's weights
    if torch is not None:
        torch.set_num_threads(1)
    play = play_alone if lone else play_lockstep
    return play(seatings, dim, streams=game_streams(entropy, numbers))


def play_games(seatings: Sequence[Sequence[Player]], dim: int, workers: int = 1, show_progress: bool = False,
               label: str = "games", seed: int | Sequence[int] | None = None,
               numbers: Sequence[int] | None = None, lone: bool = False) -> list[GameResult]:
    """One game per seating (four players, seat order); results in the same
    order. ``numbers`` (default 0, 1, ...) name the games' random streams:
    the same seed and numbers give the same games whatever ``workers`` is.
    ``lone``: each process plays its games one at a time."""
    for seating in seatings:
        if len(seating) != SEATS:
            raise ValueError(f"a game seats {SEATS} players, got {len(seating)}")
    if workers < 1:
        raise ValueError(f"workers must be at least 1, got {workers}")
    numbers = list(range(len(seatings))) if numbers is None else list(numbers)
    if len(numbers) != len(seatings):
        raise ValueError(f"{len(seatings)} games need as many numbers, got {len(numbers)}")
    entropy = np.random.SeedSequence(seed).entropy
    workers = min(workers, len(seatings)) or 1
    with progress_bar(len(seatings), label, show_progress) as bar:
        if workers == 1:
            play = play_alone if lone else play_lockstep
            return play(seatings, dim, bar.update, game_streams(entropy, numbers))
        # Interleaved shares balance the seats and the game lengths.
        shares = [list(range(w, len(seatings), workers)) for w in range(workers)]
        results: list[GameResult | None] = [None] * len(seatings)
        with ProcessPoolExecutor(workers, mp_context=multiprocessing.get_context("spawn")) as pool:
            futures = [pool.submit(_play_share, [seatings[i] for i in share], dim, entropy,
                                   [numbers[i] for i in share], lone)
                       for share in shares]
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
               show_progress: bool = False, seed: int | Sequence[int] | None = None,
               lone: bool = False) -> MatchResult:
    """The candidate in seat k mod 4 of game k, three copies of the opponent
    elsewhere; ``lone``: each game played alone (see ``play_games``)."""
    if games < 1:
        raise ValueError(f"a match needs at least 1 game, got {games}")
    started = time.perf_counter()
    label = f"vs {opponent.name}"
    results = play_games(rotated_seatings(candidate, opponent, games), dim, workers, show_progress, label, seed,
                         lone=lone)
    payoffs = np.array([r.payoffs[k % SEATS] for k, r in enumerate(results)])
    seat_means = tuple(float(payoffs[s::SEATS].mean()) if len(payoffs[s::SEATS]) else math.nan
                       for s in range(SEATS))
    return MatchResult(candidate.name, opponent.name, dim, games, float(payoffs.mean()), payoff_stderr(payoffs),
                       seat_means, time.perf_counter() - started, tuple(results),
                       seconds_per_action(results, lambda game, seat: seat == game % SEATS),
                       seconds_per_action(results, lambda game, seat: seat != game % SEATS), lone,
                       simulations_per_action(results, lambda game, seat: seat == game % SEATS),
                       simulations_per_action(results, lambda game, seat: seat != game % SEATS))
