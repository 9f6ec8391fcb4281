"""Actors of one kind sharing out work, surviving the death of any of them.

The actors are created with unlimited restarts: Ray starts a new process for
one that dies. The work the dead one had not finished goes back to the queue
and to whichever actor is free next, so a node that is gone for good stops no
generation. An actor whose replacements die again and again without finishing
anything ends the run.

Every actor method called through a group answers ``(incarnation, value)``.
A replaced process is counted when a call finds its actor dead (Ray is
restarting it, whether or not the group waits to see the new one), or when an
actor seen before answers as a new incarnation (it died while idle).
"""

from __future__ import annotations

import threading
import time
from collections import deque
from typing import Any, Callable, Iterable, Iterator, Protocol

import ray
from ray.exceptions import ActorDiedError, RayActorError

from tavrin_trainer.ray_backend.faults import ActorFailure, StopRequested

# How often a waiting learner looks for a stop request.
WAIT_S = 0.5
# Deaths in a row of one actor, with nothing finished in between, before giving up.
MAX_DEATHS_IN_A_ROW = 3
# How long work may wait with no actor alive (all restarting) before giving up.
RESTART_PATIENCE_S = 300.0


class Work(Protocol):
    finished: bool  # set by the consumer when the actor is done with it


class ActorGroup:
    def __init__(self, actors: list[Any], label: str, stop: threading.Event | None = None) -> None:
        """``stop``: once set, ``run`` raises StopRequested at its next wait."""
        if not actors:
            raise ValueError(f"a group of {label} actors needs at least one actor")
        self.actors = list(actors)
        self.label = label
        self.stop = stop or threading.Event()
        self.replaced = 0
        self._incarnations: list[str | None] = [None] * len(self.actors)
        self._deaths_in_a_row = [0] * len(self.actors)
        self._free: list[int] = []
        self._lost: set[int] = set()
        # Actors not yet known to be up: their ready() calls.
        self._starting: dict[ray.ObjectRef, int] = {a.ready.remote(): i for i, a in enumerate(self.actors)}

    def run(self, work: Iterable[Work], call: Callable[[Any, Work], ray.ObjectRef],
            leftover: Callable[[Work], Work | None]) -> Iterator[tuple[Work, Any]]:
        """Yields ``(item, value)`` for every answer. The consumer sets
        ``item.finished`` before asking for the next answer; otherwise the same
        actor is called again for the item. ``leftover(item)`` is what remains
        to do of an item whose actor died (None: nothing)."""
        pending = deque(work)
        busy: dict[ray.ObjectRef, tuple[int, Work]] = {}
        stalled_since: float | None = None
        try:
            while pending or busy:
                if self.stop.is_set():
                    raise StopRequested
                while pending and self._free:
                    index = self._free.pop()
                    item = pending.popleft()
                    busy[call(self.actors[index], item)] = (index, item)
                stalled_since = self._check_alive(busy, stalled_since)
                ready, _ = ray.wait(list(busy) + list(self._starting), num_returns=1, timeout=WAIT_S)
                for ref in ready:
                    if ref in self._starting:
                        self._came_up(ref)
                        continue
                    index, item = busy.pop(ref)
                    try:
                        incarnation, value = ray.get(ref)
                    except RayActorError as death:
                        self._died(index, death)
                        rest = leftover(item)
                        if rest is not None:
                            pending.appendleft(rest)
                        continue
                    self._seen(index, incarnation)
                    yield item, value
                    if item.finished:
                        self._deaths_in_a_row[index] = 0
                        self._free.append(index)
                    else:
                        busy[call(self.actors[index], item)] = (index, item)
        finally:
            # Abandoned calls (a stop, an error): the next call to an actor
            # replaces what it was doing, so every actor that is up is free.
            starting = set(self._starting.values())
            self._free = [i for i in range(len(self.actors)) if i not in self._lost and i not in starting]

    def _check_alive(self, busy: dict, stalled_since: float | None) -> float | None:
        if busy or self._free:
            return None
        if not self._starting:
            raise ActorFailure(f"every {self.label} actor is gone")
        now = time.monotonic()
        if stalled_since is None:
            return now
        if now - stalled_since > RESTART_PATIENCE_S:
            raise ActorFailure(f"no {self.label} actor came back within {RESTART_PATIENCE_S:.0f} s "
                               f"(is there room for them on the cluster?)")
        return stalled_since

    def _came_up(self, ref: ray.ObjectRef) -> None:
        index = self._starting.pop(ref)
        try:
            self._seen(index, ray.get(ref))
        except ActorDiedError:  # for good: killed on purpose, or its owner is gone
            self._lost.add(index)
            return
        except RayActorError:  # still restarting
            self._starting[self.actors[index].ready.remote()] = index
            return
        self._free.append(index)

    def _died(self, index: int, death: Exception) -> None:
        self._deaths_in_a_row[index] += 1
        if self._deaths_in_a_row[index] > MAX_DEATHS_IN_A_ROW:
            raise ActorFailure(f"{self.label} actor {index} died {self._deaths_in_a_row[index]} times in a row; "
                               f"the last time: {str(death).splitlines()[0]}")
        self.replaced += 1
        self._incarnations[index] = None  # its next incarnation is this replacement, not another
        self._starting[self.actors[index].ready.remote()] = index

    def _seen(self, index: int, incarnation: str) -> None:
        if self._incarnations[index] not in (None, incarnation):
            self.replaced += 1
        self._incarnations[index] = incarnation

    def call_all(self, method: str, timeout_s: float) -> None:
        """Calls ``method`` on every actor that is up, waiting at most
        ``timeout_s``; dead or slow actors are skipped."""
        refs = [getattr(self.actors[i], method).remote() for i in range(len(self.actors)) if i not in self._lost]
        ray.wait(refs, num_returns=len(refs), timeout=timeout_s)
