"""The inference server: one process per network, batching the engine's requests.

Workers put ``(id, position)`` on one shared request queue and wait on their
own pipe; the server gathers whatever is waiting (up to ``batch_size``, waiting
at most ``wait_s`` for more once one request has arrived), runs the network
once per board size in the batch and sends ``(policy_logits, value_logits)`` to
the pipe of the worker each ``id`` names.

The parent talks to the server over a control pipe: load weights, report and
reset the throughput counters, stop. The server holds the only write end of
each reply pipe, so when it dies, for any reason, every worker waiting on it
reads end-of-file instead of hanging. It also stops by itself when its parent
goes away (the control pipe closes).
"""

from __future__ import annotations

import os
import queue
import signal
import sys
import time
from collections import Counter
from dataclasses import dataclass, field
from multiprocessing.connection import Connection
from typing import Any

import numpy as np

from tavrin_trainer.learning.inference import load_server_model, make_inference

# torch, and the network module that loads it, come in with the first batch
# or model: the supervisor and the trainer's command line import this module
# and need neither.

# How often an idle server looks at its control pipe.
IDLE_POLL_S = 0.05


@dataclass
class ServerOptions:
    channels: int
    blocks: int
    rep: int
    batch_size: int
    wait_s: float
    threads: int
    device: str = "cpu"


@dataclass
class ThroughputCounters:
    requests: int = 0
    batches: int = 0
    network_s: float = 0.0
    started: float = field(default_factory=time.perf_counter)
    batch_sizes: Counter = field(default_factory=Counter)

    def add_batch(self, size: int, network_s: float) -> None:
        self.requests += size
        self.batches += 1
        self.batch_sizes[size] += 1
        self.network_s += network_s

    def report(self) -> dict[str, Any]:
        wall = time.perf_counter() - self.started
        return {"requests": self.requests, "batches": self.batches, "wall_s": wall,
                "network_s": self.network_s,
                "mean_batch": self.requests / self.batches if self.batches else 0.0,
                "max_batch": max(self.batch_sizes) if self.batch_sizes else 0,
                "batch_sizes": dict(self.batch_sizes)}


class BatchEvaluator:
    """Turns a list of requests into replies with one forward pass per board size."""

    def __init__(self, model: Any, planes_last: bool, device: str = "cpu") -> None:
        self.planes_last = planes_last
        self.device = device
        self.model = model

    @property
    def model(self) -> Any:
        return self._model

    @model.setter
    def model(self, model: Any) -> None:
        self._model = model
        self._infer = make_inference(model, "fp32", self.device, self.planes_last)

    def evaluate(self, requests: list[tuple[int, Any]]) -> list[tuple[int, tuple[list, list]]]:
        no_hands = np.zeros((len(requests), 0), dtype=np.bool_)
        groups: dict[tuple[int, int], list[int]] = {}
        for index, (_, position) in enumerate(requests):
            groups.setdefault((len(position), len(position[0])), []).append(index)
        replies: list[Any] = [None] * len(requests)
        for indices in groups.values():
            # One C-level conversion of the nested lists for the whole group.
            batch = np.array([requests[i][1] for i in indices], dtype=np.bool_)
            policy, value = self._infer(batch, no_hands)
            for i, p, v in zip(indices, policy.tolist(), value.tolist()):
                replies[i] = (requests[i][0], (p, v))
        return replies


def collect_batch(requests: Any, first: Any, batch_size: int, wait_s: float) -> list:
    """``first`` plus whatever arrives before the batch is full or ``wait_s`` has passed."""
    batch = [first]
    deadline = time.perf_counter() + wait_s
    while len(batch) < batch_size:
        remaining = deadline - time.perf_counter()
        try:
            batch.append(requests.get(timeout=remaining) if remaining > 0 else requests.get_nowait())
        except queue.Empty:
            break
    return batch


def build_model(options: ServerOptions, checkpoint: str) -> Any:
    return load_server_model(checkpoint, options.channels, options.blocks, options.device, options.threads)


def serve(name: str, options: ServerOptions, checkpoint: str, requests: Any,
          reply_pipes: dict[int, Connection], control: Connection) -> None:
    """Process entry point. Sends ("ready",) once the model is loaded."""
    signal.signal(signal.SIGINT, signal.SIG_IGN)  # Ctrl-C is the parent's to handle
    try:
        evaluator = BatchEvaluator(build_model(options, checkpoint), planes_last=options.rep == 2,
                                   device=options.device)
    except Exception as error:
        control.send(("failed", f"{type(error).__name__}: {error}"))
        return
    control.send(("ready",))
    counters = ThroughputCounters()
    gone: set[int] = set()
    while True:
        if control.poll():
            try:
                message = control.recv()
            except EOFError:
                return  # the parent is gone
            if message[0] == "stop":
                control.send(("stopped",))
                return
            counters = _handle_control(message, options, evaluator, counters, control)
            continue
        try:
            first = requests.get(timeout=IDLE_POLL_S)
        except queue.Empty:
            continue
        batch = collect_batch(requests, first, options.batch_size, options.wait_s)
        started = time.perf_counter()
        replies = evaluator.evaluate(batch)
        counters.add_batch(len(batch), time.perf_counter() - started)
        _send_replies(name, replies, reply_pipes, gone)


def _send_replies(name: str, replies: list, reply_pipes: dict[int, Connection], gone: set[int]) -> None:
    for worker_id, reply in replies:
        if worker_id in gone:
            continue
        pipe = reply_pipes.get(worker_id)
        if pipe is None:
            # A request nobody can be answered for means the ids are wired wrong.
            print(f"inference server {name}: request from unknown worker id {worker_id}", file=sys.stderr)
            os._exit(3)
        try:
            pipe.send(reply)
        except OSError:
            # That worker is gone; the parent notices and stops the run.
            reply_pipes.pop(worker_id).close()
            gone.add(worker_id)


def _handle_control(message: tuple, options: ServerOptions, evaluator: BatchEvaluator,
                    counters: ThroughputCounters, control: Connection) -> ThroughputCounters:
    kind = message[0]
    if kind == "load":
        try:
            evaluator.model = build_model(options, message[1])
        except Exception as error:
            control.send(("failed", f"{type(error).__name__}: {error}"))
        else:
            control.send(("loaded", message[1]))
        return counters
    if kind == "stats":
        control.send(("stats", counters.report()))
        return ThroughputCounters()
    control.send(("failed", f"unknown control message {kind!r}"))
    return counters
