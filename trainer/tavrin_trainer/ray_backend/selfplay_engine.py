"""Self-play on actors, behind the same interface as the local pool engine.

``RaySelfPlay`` is a ``PoolSelfPlay`` whose processes are self-play actors
anywhere on the cluster: the generation loop reads its records, examples and
throughput columns exactly as in a local run. The games of a generation are
shared out evenly; those of an actor that dies go to the next free actor.
"""

from __future__ import annotations

import itertools
import uuid
from dataclasses import dataclass
from pathlib import Path
from typing import Any, Iterator

from ..pool_workers import SelfPlayStats
from ..selfplay_engines import PoolSelfPlay
from ..settings import TrainSettings
from .actor_group import ActorGroup
from .progress_bars import actor_progress_bar
from .weights import WeightsPublisher


@dataclass
class _Share:
    job_id: str
    games: int
    received: int = 0
    finished: bool = False


class RaySelfPlayWorkers:
    """What ``PoolSelfPlay`` needs of its workers: ``play`` and ``stats``."""

    def __init__(self, group: ActorGroup, publisher: WeightsPublisher, show_progress: bool) -> None:
        self.group = group
        self.publisher = publisher
        self.show_progress = show_progress
        self.stats = SelfPlayStats()
        # Job ids are unique across learners: a new learner's job replaces a dead one's.
        self._jobs = (f"{uuid.uuid4().hex[:8]}-{n}" for n in itertools.count())

    def __enter__(self) -> "RaySelfPlayWorkers":
        return self

    def __exit__(self, *exc_info: Any) -> None:
        self.group.call_all("cancel", timeout_s=30)

    def play(self, checkpoint: str | Path, config: Any, games: int) -> Iterator[dict]:
        self.stats = SelfPlayStats()
        replaced_before = self.group.replaced
        weights_key, weights = self.publisher.publish(checkpoint)
        count = len(self.group.actors)
        shares = [games // count + (1 if i < games % count else 0) for i in range(count)]

        def call(actor: Any, share: _Share) -> Any:
            return actor.next_chunk.remote(share.job_id, weights_key, weights, config, share.games)

        def leftover(share: _Share) -> _Share | None:
            rest = share.games - share.received
            return _Share(next(self._jobs), rest) if rest else None

        work = [_Share(next(self._jobs), share) for share in shares if share]
        with actor_progress_bar(games, "self-play", self.show_progress) as bar:
            for share, (records, stats) in self.group.run(work, call, leftover):
                share.received += len(records)
                if stats is not None:
                    share.finished = True
                    self.stats.add(stats)
                bar.update(len(records))
                self.stats.replaced = self.group.replaced - replaced_before
                yield from records
        self.stats.replaced = self.group.replaced - replaced_before


class RaySelfPlay(PoolSelfPlay):
    def __init__(self, settings: TrainSettings, workers: RaySelfPlayWorkers) -> None:
        # The local engine's own reading of the settings; its processes are never started.
        super().__init__(settings, "cpu")
        self.workers = workers  # type: ignore[assignment]
