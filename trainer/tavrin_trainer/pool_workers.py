"""Self-play processes that each host a batched pool and their own network.

Every process holds a ``tavrin_engine.SelfPlayPool`` and a copy of the
network (on the CPU with one torch thread, or on a GPU) and plays the games
it is handed, one network batch per round. New weights arrive as the path of
the generation's checkpoint. Records come back as dicts of numpy arrays.

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
from typing import Any, Iterator

# How often the parent checks its processes while waiting for records.
WATCH_INTERVAL_S = 0.5


class SelfPlayFailure(RuntimeError):
    """Self-play cannot go on: a process keeps dying."""


@dataclass(frozen=True)
class PoolWorkerOptions:
    processes: int
    concurrent_games: int  # games each process plays at once (its batch size)
    device: str = "cpu"
    torch_threads: int = 1
    skip_single_tile: bool = False
    full_search_fraction: float = 1.0
    reduced_sims: int = 0
    extended_planes: bool = False
    max_restarts: int = 3  # replacements in a row of one process before giving up


@dataclass
class SelfPlayStats:
    positions: int = 0
    evaluations: int = 0
    batches: int = 0
    network_s: float = 0.0
    process_s: float = 0.0
    replaced: int = 0

    def add(self, other: dict[str, float]) -> None:
        for name, value in other.items():
            setattr(self, name, getattr(self, name) + value)


def _load_model(checkpoint: str, device: str):
    from .network import inference_copy, model_from_checkpoint
    from .run_directory import load_checkpoint

    return inference_copy(model_from_checkpoint(load_checkpoint(checkpoint))).to(device)


def _play(model, device: str, config: Any, games: int, options: PoolWorkerOptions, send) -> dict[str, float]:
    import torch

    import tavrin_engine as te

    pool = te.SelfPlayPool(config, games=min(options.concurrent_games, games), total_games=games,
                           skip_single_tile=options.skip_single_tile,
                           full_search_fraction=options.full_search_fraction, reduced_sims=options.reduced_sims,
                           extended_planes=options.extended_planes)
    started = time.perf_counter()
    stats = {"evaluations": 0, "batches": 0, "network_s": 0.0}
    with torch.inference_mode():
        while not pool.done():
            planes = torch.from_numpy(pool.next_batch()).to(device)
            before = time.perf_counter()
            policy, values = model(planes, planes_last=config.rep == 2)
            policy, values = policy.float().cpu(), values.float().cpu()
            stats["network_s"] += time.perf_counter() - before
            stats["batches"] += 1
            stats["evaluations"] += len(planes)
            pool.submit(policy, values)
            for record in pool.take_finished():
                send(record)
    stats["process_s"] = time.perf_counter() - started
    return stats


def worker_main(connection: Connection, options: PoolWorkerOptions) -> None:
    """Each process talks to the trainer over its own pipe only: a process
    killed mid-message can corrupt nothing but that pipe, which dies with it."""
    signal.signal(signal.SIGINT, signal.SIG_IGN)  # Ctrl-C is the parent's to handle
    import torch

    torch.set_num_threads(options.torch_threads)
    parent = os.getppid()
    model, loaded = None, None
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
        task_id, checkpoint, config, games = task
        if checkpoint != loaded:
            model, loaded = _load_model(checkpoint, options.device), checkpoint
        stats = _play(model, options.device, config, games, options,
                      lambda record: connection.send(("record", task_id, record)))
        connection.send(("done", task_id, stats))


@dataclass
class _Assignment:
    task_id: int
    games: int
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

    def _send(self, index: int, checkpoint: str, config: Any, games: int) -> _Assignment:
        assignment = _Assignment(self._next_task, games)
        self._next_task += 1
        self.connections[index].send((assignment.task_id, checkpoint, config, games))
        return assignment

    def play(self, checkpoint: str, config: Any, games: int) -> Iterator[dict]:
        """Plays ``games`` games with the weights of ``checkpoint`` and yields
        their records as they finish; ``self.stats`` then holds the counts."""
        self.stats = SelfPlayStats()
        count = len(self.processes)
        shares = [games // count + (1 if i < games % count else 0) for i in range(count)]
        assignments = {i: self._send(i, checkpoint, config, share) for i, share in enumerate(shares) if share}
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
                    self.stats.positions += len(payload["moves"])
                    yield payload
                else:
                    assignment.finished = True
                    restarts[index] = 0
                    self.stats.add(payload)
            self._replace_dead(assignments, restarts, checkpoint, config)

    def _replace_dead(self, assignments: dict[int, _Assignment], restarts: dict[int, int], checkpoint: str,
                      config: Any) -> None:
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
            remaining = assignment.games - assignment.received
            assignments[index] = self._send(index, checkpoint, config, remaining) if remaining else \
                _Assignment(assignment.task_id, 0, finished=True)
