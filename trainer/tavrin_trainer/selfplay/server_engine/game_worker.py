"""Game worker process: plays the games it is handed with the engine module.

A worker takes tasks from the task queue, plays each as one call into the
engine and posts exactly one ``TaskResult`` per task. It never imports torch.
The engine writes its messages to standard output, which is redirected to the
worker's log file.
"""

from __future__ import annotations

import ctypes
import importlib
import os
import queue
import signal
import sys
import time
from dataclasses import dataclass
from multiprocessing.connection import Connection, wait
from typing import Any

SELF_PLAY = "self-play"
# How often an idle worker checks that its parent is still there.
IDLE_POLL_S = 0.5


@dataclass
class Task:
    task_id: int
    kind: str
    config: Any


@dataclass
class TaskResult:
    worker_id: int
    task_id: int
    kind: str
    status: int
    # the record (moves, policies, payoffs)
    payload: Any
    error: str
    seconds: float


class ServerGone(ConnectionError):
    pass


class ReplyPipe:
    """The ``pipe`` handed to the engine: the reply ends of every server.

    Only one request is ever in flight, so whichever end has data holds its
    answer. End-of-file on any end means that server died: the engine gets an
    error and ends the game instead of waiting forever.
    """

    def __init__(self, ends: dict[str, Connection]) -> None:
        self.ends = ends
        self._names = {id(conn): name for name, conn in ends.items()}
        self._single = next(iter(ends.values())) if len(ends) == 1 else None

    def recv(self) -> Any:
        conn = self._single if self._single is not None else wait(list(self.ends.values()))[0]
        try:
            return conn.recv()
        except EOFError:
            raise ServerGone(f"inference server '{self._names[id(conn)]}' has stopped") from None


class ResultCollector:
    """The ``result_queue`` handed to the engine: keeps what it posts, so the
    worker can send one result per task, status included."""

    def __init__(self) -> None:
        self.items: list[Any] = []

    def put(self, item: Any) -> None:
        self.items.append(item)


def redirect_output(log_path: str) -> None:
    log = os.open(log_path, os.O_WRONLY | os.O_CREAT | os.O_APPEND, 0o644)
    for stream in (sys.stdout, sys.stderr):
        stream.flush()
    os.dup2(log, 1)
    os.dup2(log, 2)
    os.close(log)


def flush_engine_output() -> None:
    """The engine writes through C stdio, which Python's flush does not reach."""
    sys.stdout.flush()
    ctypes.CDLL(None).fflush(None)


def last_line(path: str) -> str:
    try:
        with open(path, "rb") as log:
            lines = log.read()[-4096:].decode(errors="replace").strip().splitlines()
    except OSError:
        return ""
    return lines[-1] if lines else ""


def play(engine: Any, worker_id: int, task: Task, requests: dict[str, Any], pipe: ReplyPipe) -> tuple[int, Any, str]:
    if task.kind != SELF_PLAY:
        raise ValueError(f"unknown task kind {task.kind!r}")
    collector = ResultCollector()
    status = engine.play_training_game(worker_id, task.config, collector, requests["model"], pipe)
    return status, (collector.items[0][1] if status == 0 and collector.items else None), ""


def worker_main(worker_id: int, engine_module: str, tasks: Any, results: Any, stop: Any,
                requests: dict[str, Any], reply_ends: dict[str, Connection], log_path: str) -> None:
    signal.signal(signal.SIGINT, signal.SIG_IGN)  # Ctrl-C is the parent's to handle
    redirect_output(log_path)
    parent = os.getppid()
    engine = importlib.import_module(engine_module)
    pipe = ReplyPipe(reply_ends)
    while not stop.is_set():
        try:
            task = tasks.get(timeout=IDLE_POLL_S)
        except queue.Empty:
            if os.getppid() != parent:
                return
            continue
        if task is None or stop.is_set():
            return
        started = time.perf_counter()
        try:
            status, payload, error = play(engine, worker_id, task, requests, pipe)
        except (KeyboardInterrupt, SystemExit):
            raise
        except BaseException as failure:  # the engine's internal error derives from BaseException
            status, payload, error = 1, None, f"{type(failure).__name__}: {failure}"
        if status != 0 and not error:
            flush_engine_output()
            error = last_line(log_path) or f"the engine returned status {status}"
        results.put(TaskResult(worker_id, task.task_id, task.kind, status, payload, error,
                               time.perf_counter() - started))
