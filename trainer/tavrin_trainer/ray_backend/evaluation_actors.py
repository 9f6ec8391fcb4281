"""Evaluation on actors: the seat-rotated matches of a local run, their games
shared out.

Game k of a match seats the candidate in seat k mod 4 wherever it is played;
each actor plays an interleaved share of the game numbers and answers the
candidate's payoffs, which are put back in game order and scored as
``arena.play_match`` scores them. Each game draws from the stream it has in a
local match, so the answer is the row ``evaluate`` gives.
"""

from __future__ import annotations

import math
import time
import uuid
from dataclasses import dataclass, field
from typing import Any

import numpy as np
import ray
import torch

from tavrin_trainer.core.run_folder.metrics import evaluation_columns
from tavrin_trainer.evaluation.arena import SEATS, payoff_stderr, play_games, rotated_seatings
from tavrin_trainer.evaluation.players import NetworkPlayer, player_from_name
from tavrin_trainer.generation_loop import TrainingState, evaluation_matches
from tavrin_trainer.ray_backend.actor_group import ActorGroup
from tavrin_trainer.ray_backend.progress_bars import actor_progress_bar
from tavrin_trainer.ray_backend.weights import WeightsPublisher, load_published


@ray.remote
class EvaluationActor:
    def __init__(self) -> None:
        torch.set_num_threads(1)
        self.incarnation = uuid.uuid4().hex
        self.candidate: NetworkPlayer | None = None
        self.weights_key: str | None = None

    def ready(self) -> str:
        return self.incarnation

    def play(self, weights_key: str, weights: list, opponent: str, seed: list[int], dim: int,
             games: list[int]) -> tuple[str, list[float]]:
        """The candidate's payoff in each of the numbered games of a match."""
        if weights_key != self.weights_key:
            self.candidate = load_published(weights, NetworkPlayer.from_checkpoint)
            self.weights_key = weights_key
        seatings = rotated_seatings(self.candidate, player_from_name(opponent), max(games) + 1)
        results = play_games([seatings[k] for k in games], dim, seed=seed, numbers=games)
        return self.incarnation, [result.payoffs[k % SEATS] for k, result in zip(games, results)]


@dataclass
class _Share:
    match: int
    games: list[int]
    finished: bool = False


@dataclass
class _Match:
    key: str
    opponent: str
    games: int
    dim: int
    payoffs: list[float] = field(default_factory=list)
    done: int = 0
    seconds: float = 0.0


class RayEvaluator:
    """Called as ``evaluator(state)`` by the generation loop."""

    def __init__(self, group: ActorGroup, publisher: WeightsPublisher, show_progress: bool,
                 driver_draws_bars: bool = False) -> None:
        self.group = group
        self.publisher = publisher
        self.show_progress = show_progress
        self.driver_draws_bars = driver_draws_bars

    def __call__(self, state: TrainingState) -> dict[str, Any]:
        settings = state.settings
        matches = [_Match(key, opponent, games, dim) for key, opponent, games, dim in evaluation_matches(settings)]
        for match in matches:
            match.payoffs = [math.nan] * match.games
        weights_key, weights = self.publisher.publish(state.run.checkpoint_path(state.generation))
        actors = len(self.group.actors)
        work = [_Share(index, list(range(first, match.games, actors)))
                for index, match in enumerate(matches) for first in range(actors) if first < match.games]

        def call(actor: Any, share: _Share) -> Any:
            match = matches[share.match]
            # The seed of the local match: every game the same stream as there.
            seed = [settings.seed, state.generation, share.match]
            return actor.play.remote(weights_key, weights, match.opponent, seed, match.dim, share.games)

        started = time.perf_counter()
        total = sum(match.games for match in matches)
        with actor_progress_bar(total, "evaluation", self.show_progress, self.driver_draws_bars) as bar:
            for share, payoffs in self.group.run(work, call, leftover=lambda share: share):
                share.finished = True
                match = matches[share.match]
                for game, payoff in zip(share.games, payoffs):
                    match.payoffs[game] = payoff
                match.done += len(share.games)
                if match.done == match.games:
                    match.seconds = time.perf_counter() - started
                bar.update(len(share.games))
        row: dict[str, Any] = {}
        for match in matches:
            if match.games:
                # Scored as arena.play_match scores a local match.
                payoffs = np.array(match.payoffs)
                row.update(evaluation_columns(match.key, len(payoffs), float(payoffs.mean()),
                                              payoff_stderr(payoffs), match.seconds))
        return row
