"""Self-play on actors: ``RaySelfPlayWorkers`` is a ``SelfPlayWorkers`` whose
processes are self-play actors anywhere on the cluster, so a ``PoolSelfPlay``
over it gives the generation loop its records, examples and throughput
columns exactly as in a local run. The games of a generation are shared out
as among local processes; those of an actor that dies go to the next free
actor, under game numbers no share used.
"""

from __future__ import annotations

import itertools
import uuid
from dataclasses import dataclass
from pathlib import Path
from typing import Any, Iterator

import tavrin_engine as te

from tavrin_trainer.ray_backend.actor_group import ActorGroup
from tavrin_trainer.ray_backend.progress_bars import actor_progress_bar
from tavrin_trainer.ray_backend.weights import WeightsPublisher
from tavrin_trainer.selfplay.interface import GameShare, LeftoverNumbers, SelfPlayStats, share_games


@dataclass
class _Share:
    job_id: str
    games: GameShare
    received: int = 0
    finished: bool = False


class RaySelfPlayWorkers:
    """The self-play actors as ``SelfPlayWorkers``."""

    def __init__(self, group: ActorGroup, publisher: WeightsPublisher, show_progress: bool,
                 driver_draws_bars: bool = False) -> None:
        self.group = group
        self.publisher = publisher
        self.show_progress = show_progress
        self.driver_draws_bars = driver_draws_bars
        self.stats = SelfPlayStats()
        # Job ids are unique across learners: a new learner's job replaces a dead one's.
        self._jobs = (f"{uuid.uuid4().hex[:8]}-{n}" for n in itertools.count())

    def __enter__(self) -> "RaySelfPlayWorkers":
        return self

    def __exit__(self, *exc_info: Any) -> None:
        self.group.call_all("cancel", timeout_s=30)

    def play(self, checkpoint: str | Path, search: te.SearchSettings, games: int) -> Iterator[dict]:
        self.stats = SelfPlayStats()
        replaced_before = self.group.replaced
        weights_key, weights = self.publisher.publish(checkpoint)
        leftovers = LeftoverNumbers(games)

        def call(actor: Any, share: _Share) -> Any:
            return actor.next_chunk.remote(share.job_id, weights_key, weights, search, share.games)

        def leftover(share: _Share) -> _Share | None:
            rest = share.games.games - share.received
            return _Share(next(self._jobs), leftovers.share(rest)) if rest else None

        work = [_Share(next(self._jobs), share) for share in share_games(games, len(self.group.actors))]
        # Without the driver's bar the generation loop's own line tells this stage.
        with actor_progress_bar(games, "self-play", self.show_progress and self.driver_draws_bars,
                                self.driver_draws_bars) as bar:
            for share, (records, stats) in self.group.run(work, call, leftover):
                share.received += len(records)
                self.stats.positions += sum(len(record.get("example_value", ())) for record in records)
                if stats is not None:
                    share.finished = True
                    self.stats.add(stats)
                bar.update(len(records))
                self.stats.replaced = self.group.replaced - replaced_before
                yield from records
        self.stats.replaced = self.group.replaced - replaced_before
