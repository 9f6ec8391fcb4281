"""What every self-play backend offers the generation loop.

``SelfPlayWorkers`` is implemented by the local pool processes
(``pool_processes.PoolWorkers``) and by the Ray self-play actors
(``ray_backend.selfplay_engine.RaySelfPlayWorkers``); both run
``pool_loop.play_pool`` where the games are played. ``SelfPlayEngine`` is what
the generation loop reads records through: ``engines.PoolSelfPlay`` (over any
``SelfPlayWorkers``) or ``engines.ModuleSelfPlay``.
"""

from __future__ import annotations

from dataclasses import dataclass
from pathlib import Path
from typing import Any, Iterator, Protocol

import tavrin_engine as te

from tavrin_trainer.learning.examples import Examples


@dataclass
class SelfPlayStats:
    """Counters of one generation's self-play, summed over the processes."""

    positions: int = 0  # training positions recorded
    evaluations: int = 0  # network answers (batch rows)
    requests: int = 0  # positions the searches asked about
    cached: int = 0  # requests answered from the evaluation cache or a shared row
    batches: int = 0
    network_s: float = 0.0
    process_s: float = 0.0
    replaced: int = 0

    def add(self, other: dict[str, float]) -> None:
        for name, value in other.items():
            setattr(self, name, getattr(self, name) + value)


@dataclass(frozen=True)
class GameShare:
    """Games ``first_game`` to ``first_game + games - 1`` of a generation; a
    seeded search draws game n's random numbers from (seed, n)."""

    first_game: int
    games: int


def share_games(games: int, players: int, first_game: int = 0) -> list[GameShare]:
    """``games`` numbered games in contiguous shares as even as can be, one
    per player (process or actor) that gets any."""
    if players < 1:
        raise ValueError(f"games are shared among at least 1 player, got {players}")
    shares, start = [], first_game
    for index in range(players):
        count = games // players + (1 if index < games % players else 0)
        if count:
            shares.append(GameShare(start, count))
        start += count
    return shares


class LeftoverNumbers:
    """Game numbers for the games a dead process or actor left unplayed:
    past all of the generation's, so no seeded stream is played twice."""

    def __init__(self, games: int) -> None:
        self.next_game = games

    def share(self, games: int) -> GameShare:
        share = GameShare(self.next_game, games)
        self.next_game += games
        return share


class SelfPlayWorkers(Protocol):
    """Plays a generation's games somewhere; use as a context manager."""

    stats: SelfPlayStats

    def __enter__(self) -> "SelfPlayWorkers": ...

    def __exit__(self, *exc_info: Any) -> None: ...

    def play(self, checkpoint: str | Path, search: te.SearchSettings, games: int) -> Iterator[dict]:
        """Games 0 to ``games`` - 1 with the weights of ``checkpoint``; yields
        each pool record as its game ends, then ``stats`` holds the counters."""
        ...


class SelfPlayEngine(Protocol):
    """What the generation loop plays a generation through."""

    def __enter__(self) -> "SelfPlayEngine": ...

    def __exit__(self, *exc_info: Any) -> None: ...

    def play(self, checkpoint: Path, search: te.SearchSettings, games: int) -> Iterator[Any]: ...

    def examples(self, record: Any, dim: int) -> Examples: ...

    def moves_and_payoffs(self, record: Any) -> tuple[Any, Any]: ...

    def stats(self, seconds: float) -> dict[str, Any]: ...
