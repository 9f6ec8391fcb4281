"""A self-play actor: one batched pool and its own copy of the network, on a
CPU or a GPU of whichever node Ray places it.

The pool plays a job (a number of games with one generation's weights) in a
thread of the actor's own, the same loop as a local self-play process; the
learner pulls the finished records in chunks. The records waiting in the
actor are bounded: when the learner does not pull, the pool stops at the next
finished game, so nothing piles up in memory or in the object store (one
chunk per actor in flight at most).
"""

from __future__ import annotations

import queue
import threading
import uuid
from dataclasses import dataclass
from typing import Any

import ray
import tavrin_engine as te
import torch

from tavrin_trainer.ray_backend.weights import load_published
from tavrin_trainer.selfplay.interface import GameShare
from tavrin_trainer.learning.inference import load_inference
from tavrin_trainer.selfplay.pool_loop import play_pool
from tavrin_trainer.selfplay.pool_processes import PoolWorkerOptions

# Most records in one answer.
CHUNK_RECORDS = 8
# Finished records the actor holds before its pool waits for a pull.
BUFFERED_RECORDS = 2 * CHUNK_RECORDS
# How long a pull waits for a first record before answering with none.
PULL_WAIT_S = 1.0
# How long a cancelled job may take to let go of its pool.
CANCEL_WAIT_S = 30.0


class _Cancelled(Exception):
    pass


@dataclass
class _End:
    stats: dict[str, float] | None = None
    error: BaseException | None = None


class _CancellableModel:
    """Checked before every network batch: a cancelled job stops within one
    round of its pool instead of playing its games to the end."""

    def __init__(self, model: Any, cancelled: threading.Event) -> None:
        self.model = model
        self.cancelled = cancelled

    def __call__(self, *args: Any, **kwargs: Any) -> Any:
        if self.cancelled.is_set():
            raise _Cancelled
        return self.model(*args, **kwargs)

    def __getattr__(self, name: str) -> Any:  # anything else the loop asks of the model
        return getattr(self.model, name)


class _Job:
    def __init__(self, job_id: str, model: Any, options: PoolWorkerOptions, search: te.SearchSettings,
                 share: GameShare) -> None:
        self.id = job_id
        self.outbox: queue.Queue = queue.Queue(BUFFERED_RECORDS)
        self.cancelled = threading.Event()
        self.thread = threading.Thread(target=self._run, args=(model, options, search, share), daemon=True)
        self.thread.start()

    def _put(self, item: Any) -> None:
        while not self.cancelled.is_set():
            try:
                self.outbox.put(item, timeout=0.2)
                return
            except queue.Full:
                pass
        raise _Cancelled

    def _run(self, model: Any, options: PoolWorkerOptions, search: te.SearchSettings, share: GameShare) -> None:
        try:
            stats = play_pool(_CancellableModel(model, self.cancelled), search, share.games, share.first_game,
                              options.concurrent_games, self._put)
        except _Cancelled:
            return
        except BaseException as error:  # handed to the learner with the next pull
            end = _End(error=error)
        else:
            end = _End(stats=stats)
        try:
            self._put(end)
        except _Cancelled:
            pass

    def take(self) -> tuple[list[dict], dict[str, float] | None]:
        """Up to CHUNK_RECORDS records, and the job's counters once it is over."""
        try:
            item = self.outbox.get(timeout=PULL_WAIT_S)
        except queue.Empty:
            return [], None
        records: list[dict] = []
        while not isinstance(item, _End):
            records.append(item)
            if len(records) == CHUNK_RECORDS:
                return records, None
            try:
                item = self.outbox.get_nowait()
            except queue.Empty:
                return records, None
        if item.error is not None:
            raise item.error
        return records, item.stats

    def cancel(self) -> None:
        self.cancelled.set()
        self.thread.join(CANCEL_WAIT_S)


@ray.remote
class SelfPlayActor:
    def __init__(self, options: PoolWorkerOptions) -> None:
        torch.set_num_threads(options.torch_threads)
        self.options = options
        self.incarnation = uuid.uuid4().hex
        self.job: _Job | None = None
        self.model: Any = None
        self.weights_key: tuple[str, int] | None = None

    def ready(self) -> str:
        return self.incarnation

    def next_chunk(self, job_id: str, weights_key: str, weights: list, search: te.SearchSettings,
                   share: GameShare) -> tuple[str, tuple[list[dict], dict[str, float] | None]]:
        """The next records of job ``job_id``, started here if it is new (a
        new job replaces an unfinished one); the counters come with the last."""
        if self.job is None or self.job.id != job_id:
            self.cancel()
            if (weights_key, search.rep) != self.weights_key:
                self.model = load_published(weights, lambda path: load_inference(
                    path, self.options.device, self.options.inference, planes_last=search.rep == 2))
                self.weights_key = (weights_key, search.rep)
            self.job = _Job(job_id, self.model, self.options, search, share)
        try:
            records, stats = self.job.take()
        except BaseException:
            self.job = None
            raise
        if stats is not None:
            self.job = None
        return self.incarnation, (records, stats)

    def cancel(self) -> str:
        if self.job is not None:
            self.job.cancel()
            self.job = None
        return self.incarnation
