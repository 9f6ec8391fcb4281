"""The learner: the generation loop of a local run, inside an actor.

It owns the replay buffer, the optimiser and the run directory (on its own
node), and runs ``run_training`` with self-play and evaluation handed to the
actor groups. A learner that dies is replaced by the driver; the new one
resumes from the run directory's last checkpoint as a local run would.
"""

from __future__ import annotations

import threading
from typing import Any

import ray

from tavrin_trainer.generation_loop import run_training
from tavrin_trainer.ray_backend.actor_group import ActorGroup
from tavrin_trainer.ray_backend.evaluation_actors import RayEvaluator
from tavrin_trainer.ray_backend.selfplay_engine import RaySelfPlayWorkers
from tavrin_trainer.ray_backend.weights import WeightsPublisher
from tavrin_trainer.core.settings.train_settings import TrainSettings
from tavrin_trainer.selfplay.engines import PoolSelfPlay


# Two threads: one trains, the other takes a stop request.
@ray.remote(max_concurrency=2)
class Learner:
    def __init__(self, settings: TrainSettings, show_progress: bool, selfplay_actors: list[Any],
                 evaluation_actors: list[Any], driver_draws_bars: bool = False) -> None:
        self.settings = settings
        self.show_progress = show_progress
        self.driver_draws_bars = driver_draws_bars
        self.selfplay_actors = selfplay_actors
        self.evaluation_actors = evaluation_actors
        self.stopping = threading.Event()

    def ready(self) -> bool:
        """Answers once the actor is up."""
        return True

    def train(self) -> int:
        """Trains to the end (or the time limit) and answers the last generation."""
        publisher = WeightsPublisher()
        workers = RaySelfPlayWorkers(ActorGroup(self.selfplay_actors, "self-play", self.stopping), publisher,
                                     self.show_progress, self.driver_draws_bars)
        evaluator = RayEvaluator(ActorGroup(self.evaluation_actors, "evaluation", self.stopping), publisher,
                                 self.show_progress, self.driver_draws_bars)
        state = run_training(self.settings, show_progress=self.show_progress, evaluator=evaluator,
                             make_engine=lambda state: PoolSelfPlay(workers, state.settings.extended_planes))
        return state.generation

    def stop(self) -> None:
        """Self-play and evaluation give up at their next wait (a generation
        being trained is finished and saved first)."""
        self.stopping.set()
