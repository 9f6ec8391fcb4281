"""Games of a fixed teacher as training positions: a head start for a fresh run.

Self-play from an untrained network can settle on a poor opening that every
seat then copies. A few hundred games of a teacher show the network sensible
placements before its own games take over. Two teachers:

- ``greedy`` (largest piece, most new corners): each action's policy target is
  spread evenly over the tiles that extend one of its best placements. Fast,
  and what the network then imitates.
- ``rollout:N``, the engine's UCT search with N random playouts per action:
  far stronger on large boards and slower; its target is the share of
  playouts that went through each legal tile.

Either way, the value, ownership and score targets come from how the game ended.
"""

from __future__ import annotations

import multiprocessing
from concurrent.futures import ProcessPoolExecutor, as_completed
from typing import Callable

import numpy as np
import tavrin_engine as te

from tavrin_trainer.core.settings.train_settings import teacher_simulations
from tavrin_trainer.evaluation.players import GreedyPlayer
from tavrin_trainer.learning.examples import Examples

# One action of a teacher: the tile it plays and its policy target over the cells.
TeacherAction = Callable[[object], tuple[int, np.ndarray]]


def demonstration_examples(teacher: str, games: int, dim: int, seed: int, extended: bool = False,
                           workers: int = 1, progress=None) -> Examples:
    """The positions of ``games`` games of four copies of ``teacher``, in
    game order; the same seed gives the same positions whatever ``workers``
    is. ``progress``, when given, is told each finished game."""
    simulations = teacher_simulations(teacher)
    if games < 1:
        raise ValueError(f"demonstrations need at least 1 game, got {games}")
    if simulations == 0:  # milliseconds a game: not worth other processes
        return _greedy_games(games, dim, seed, extended, progress)
    if workers <= 1:
        parts = []
        for number in range(games):
            parts.append(_rollout_game(dim, simulations, [seed, dim, number], extended))
            if progress is not None:
                progress.update(1)
        return Examples.concatenate(parts)
    parts_by_game: dict[int, Examples] = {}
    with ProcessPoolExecutor(workers, mp_context=multiprocessing.get_context("spawn")) as pool:
        futures = {pool.submit(_rollout_game, dim, simulations, [seed, dim, number], extended): number
                   for number in range(games)}
        for future in as_completed(futures):
            parts_by_game[futures[future]] = future.result()
            if progress is not None:
                progress.update(1)
    return Examples.concatenate([parts_by_game[number] for number in range(games)])


def greedy_examples(games: int, dim: int, seed: int, extended: bool = False) -> Examples:
    """The positions of ``games`` games of four greedy players (ties broken
    at random, so the games differ)."""
    return demonstration_examples("greedy", games, dim, seed, extended)


def _greedy_games(games: int, dim: int, seed: int, extended: bool, progress) -> Examples:
    player = GreedyPlayer(seed=[seed, games, dim])  # one stream for all the games
    cells = dim * dim

    def act(game) -> tuple[int, np.ndarray]:
        chosen = set(game.chosen_squares)
        best = te.greedy_placements(game)
        targets = sorted({t for placement in best for t in placement} - chosen)
        policy = np.zeros(cells, dtype=np.float32)
        policy[targets] = 1.0 / len(targets)
        return player.choose_among(best, chosen), policy

    parts = []
    for _ in range(games):
        parts.append(_teacher_game(dim, act, extended))
        if progress is not None:
            progress.update(1)
    return Examples.concatenate(parts)


def _rollout_game(dim: int, simulations: int, seed: list[int], extended: bool) -> Examples:
    rng = np.random.default_rng(seed)
    cells = dim * dim

    def act(game) -> tuple[int, np.ndarray]:
        tile, tiles, visits = te.rollout_visits(game, simulations, int(rng.integers(2**63)))
        policy = np.zeros(cells, dtype=np.float32)
        policy[tiles] = visits / visits.sum()
        return tile, policy

    return _teacher_game(dim, act, extended)


def _teacher_game(dim: int, act: TeacherAction, extended: bool) -> Examples:
    """One game played by ``act`` in every seat, as training positions."""
    game = te.Game(dim)
    planes, policies, movers = [], [], []
    while not game.is_terminal():
        planes.append(game.state(extended=extended))
        movers.append(game.current_player)
        tile, policy = act(game)
        policies.append(policy)
        game.apply(tile)
    payoffs = np.asarray(game.payoff(), dtype=np.float32)
    values = [np.roll(payoffs, -p) for p in movers]
    owners, score = te.final_targets(game, np.asarray(movers, dtype=np.int8))
    return Examples(np.stack(planes), np.stack(policies), np.stack(values).astype(np.float32), owners, score)
