"""Self-play processes that each host a batched pool and their own network.

Every process holds a ``tavrin_engine.SearchPool`` and a copy of the
network (on the CPU with one torch thread, or on a GPU) and plays the games
it is handed, one network batch per round. New weights arrive as the path of
the generation's checkpoint; the ``SearchSettings`` and the numbered games to
play come with each task. Records come back as dicts of numpy arrays.

A process that dies is replaced and handed the games it had not finished;
only if the replacements of one process keep dying does ``play`` give up,
naming the process and its exit.
"""

from __future__ import annotations

import multiprocessing
import os
import signal
import time
from dataclasses import dataclass, field
from multiprocessing.connection import Connection, wait
from pathlib import Path
from typing import Any, Iterator

import tavrin_engine as te

from tavrin_trainer.selfplay.interface import GameShare, LeftoverNumbers, SelfPlayStats, share_games
from tavrin_trainer.learning.inference import load_inference
from tavrin_trainer.selfplay.pool_loop import play_pool

# How often the parent checks its processes while waiting for records.
WATCH_INTERVAL_S = 0.5


class SelfPlayFailure(RuntimeError):
    """Self-play cannot go on: a process keeps dying."""


@dataclass(frozen=True)
class PoolWorkerOptions:
    """What a self-play process is, as opposed to what it plays (the
    ``SearchSettings`` of each generation)."""

    processes: int
    concurrent_games: int  # games each process plays at once (its batch size)
    device: str = "cpu"
    inference: str = "fp32"  # a backend of learning.inference, resolved
    search_threads: int = 1  # pools searching at once in the process, one network batch (for a GPU)
    torch_threads: int = 1
    max_restarts: int = 3  # replacements in a row of one process before giving up


def worker_main(connection: Connection, options: PoolWorkerOptions) -> None:
    """Each process talks to the trainer over its own pipe only: a process
    killed mid-message can corrupt nothing but that pipe, which dies with it."""
    signal.signal(signal.SIGINT, signal.SIG_IGN)  # Ctrl-C is the parent's to handle
    # torch in the process that plays: tavrin-train imports this module for
    # SelfPlayFailure before it knows whether it will train.
    import torch

    torch.set_num_threads(options.torch_threads)
    parent = os.getppid()
    infer, loaded = None, None
    while True:
        if not connection.poll(WATCH_INTERVAL_S):
            if os.getppid() != parent:  # orphaned: the trainer is gone
                return
            continue
        try:
            task = connection.recv()
        except EOFError:
            return
        if task is None:
            return
        task_id, checkpoint, search, share = task
        if (checkpoint, search.rep) != loaded:
            infer = load_inference(checkpoint, options.device, options.inference, planes_last=search.rep == 2)
            loaded = (checkpoint, search.rep)
        stats = play_pool(infer, search, share.games, share.first_game, options.concurrent_games,
                          lambda record: connection.send(("record", task_id, record)), options.search_threads)
        connection.send(("done", task_id, stats))


@dataclass
class _Assignment:
    task_id: int
    share: GameShare
    received: int = 0
    finished: bool = False


@dataclass
class PoolWorkers:
    """The self-play processes; use as a context manager."""

    options: PoolWorkerOptions
    processes: list[Any] = field(default_factory=list)

    def __post_init__(self) -> None:
        self.ctx = multiprocessing.get_context("spawn")
        self.connections: list[Connection] = []
        self._next_task = 0
        self.stats = SelfPlayStats()

    def __enter__(self) -> "PoolWorkers":
        for _ in range(self.options.processes):
            process, connection = self._spawn()
            self.processes.append(process)
            self.connections.append(connection)
        return self

    def __exit__(self, *exc_info: Any) -> None:
        self.stop()

    def _spawn(self) -> tuple[Any, Connection]:
        ours, theirs = self.ctx.Pipe()
        process = self.ctx.Process(target=worker_main, args=(theirs, self.options), daemon=True)
        process.start()
        theirs.close()
        return process, ours

    def stop(self) -> None:
        for process, connection in zip(self.processes, self.connections):
            if process.is_alive():
                try:
                    connection.send(None)
                except OSError:
                    pass
        deadline = time.monotonic() + 5
        for process in self.processes:
            process.join(max(0.0, deadline - time.monotonic()))
            if process.is_alive():
                process.kill()
                process.join()

    def _send(self, index: int, checkpoint: str, search: te.SearchSettings, share: GameShare) -> _Assignment:
        assignment = _Assignment(self._next_task, share)
        self._next_task += 1
        self.connections[index].send((assignment.task_id, checkpoint, search, share))
        return assignment

    def play(self, checkpoint: str | Path, search: te.SearchSettings, games: int) -> Iterator[dict]:
        """Plays ``games`` games with the weights of ``checkpoint`` and yields
        their records as they finish; ``self.stats`` then holds the counts."""
        self.stats = SelfPlayStats()
        checkpoint = str(checkpoint)
        shares = share_games(games, len(self.processes))
        leftovers = LeftoverNumbers(games)
        assignments = {i: self._send(i, checkpoint, search, share) for i, share in enumerate(shares)}
        restarts = dict.fromkeys(assignments, 0)
        while not all(a.finished for a in assignments.values()):
            waiting = {self.connections[i]: i for i, a in assignments.items() if not a.finished}
            ready = wait(list(waiting), timeout=WATCH_INTERVAL_S)
            for connection in ready:
                index = waiting[connection]
                try:
                    kind, task_id, payload = connection.recv()
                except (EOFError, OSError):
                    continue  # the process died; replaced below
                assignment = assignments[index]
                if assignment.task_id != task_id:
                    continue
                if kind == "record":
                    assignment.received += 1
                    self.stats.positions += len(payload.get("example_value", ()))
                    yield payload
                else:
                    assignment.finished = True
                    restarts[index] = 0
                    self.stats.add(payload)
            self._replace_dead(assignments, restarts, checkpoint, search, leftovers)

    def _replace_dead(self, assignments: dict[int, _Assignment], restarts: dict[int, int], checkpoint: str,
                      search: te.SearchSettings, leftovers: LeftoverNumbers) -> None:
        for index, assignment in assignments.items():
            process = self.processes[index]
            if assignment.finished or process.is_alive():
                continue
            code = process.exitcode
            if restarts[index] >= self.options.max_restarts:
                raise SelfPlayFailure(f"self-play process {index} (pid {process.pid}) exited with code {code}; "
                                      f"its last {restarts[index]} replacements died too")
            restarts[index] += 1
            self.stats.replaced += 1
            self.connections[index].close()
            self.processes[index], self.connections[index] = self._spawn()
            remaining = assignment.share.games - assignment.received
            if remaining:
                assignments[index] = self._send(index, checkpoint, search, leftovers.share(remaining))
            else:
                assignments[index] = _Assignment(assignment.task_id, assignment.share, finished=True)
