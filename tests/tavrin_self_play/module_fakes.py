"""In-process stand-ins for the inference server, the queues and the pipe."""

from dataclasses import dataclass
import traceback

import tavrin_self_play


@dataclass
class Config:
    dim: int = 10
    rep: int = 1
    sims_per_move: int = 4
    sample_moves: int = 8
    c_puct: float = 1.5
    dirichlet_alpha: float = 0.3
    exploration_fraction: float = 0.25


class ListQueue:
    """A result queue that keeps what is put; optionally raises instead."""

    def __init__(self, error=None):
        self.items = []
        self.error = error

    def put(self, item):
        if self.error is not None:
            raise self.error
        self.items.append(item)


def tensor_side(tensor):
    """Board side of a request tensor in either layout."""
    return len(tensor[0]) if len(tensor) == 5 else len(tensor)


def plane(tensor, k):
    """Plane k of a request tensor as a set of (row, column), either layout."""
    if len(tensor) == 5 and len(tensor[0][0]) != 5:
        return {(r, c) for r, row in enumerate(tensor[k]) for c, cell in enumerate(row) if cell}
    return {(r, c) for r, row in enumerate(tensor) for c, cell in enumerate(row) if cell[k]}


def constant_reply(request):
    side = tensor_side(request[1])
    return ([0.0] * (side * side), [0.0, 0.0, 0.0, 0.0])


class LoopbackNetwork:
    """Inference queue and pipe in one: `recv` answers the last `put`.

    `fail_put_at` / `fail_recv_at` make the n-th call (0-based) raise
    `error`; `reply` maps a request to the reply object."""

    def __init__(self, reply=constant_reply, fail_put_at=None, fail_recv_at=None, error=None):
        self.requests = []
        self.reply = reply
        self.fail_put_at = fail_put_at
        self.fail_recv_at = fail_recv_at
        self.error = error if error is not None else RuntimeError("boom")
        self.recv_count = 0

    def put(self, request):
        if self.fail_put_at == len(self.requests):
            raise self.error
        self.requests.append(request)

    def recv(self):
        n = self.recv_count
        self.recv_count += 1
        if self.fail_recv_at == n:
            raise self.error
        return self.reply(self.requests[-1])


class RoutedQueue:
    """One of the test game's two inference queues, logging into a shared list."""

    def __init__(self, name, log):
        self.name = name
        self.log = log

    def put(self, request):
        self.log.append((self.name, request))


class LogPipe:
    def __init__(self, log, fail_at=None):
        self.log = log
        self.fail_at = fail_at
        self.error = RuntimeError("boom")
        self.count = 0

    def recv(self):
        self.count += 1
        if self.fail_at == self.count - 1:
            raise self.error
        return constant_reply(self.log[-1][1])


def quoted(text):
    return '"' + text.replace("\\", "\\\\").replace('"', '\\"').replace("\n", "\\n") + '"'


def debug_rendering(error):
    """How the module renders an exception it received from Python code."""
    tb = "Traceback (most recent call last):\n" + "".join(traceback.format_tb(error.__traceback__))
    return f"PyErr {{ type: {type(error)!r}, value: {error!r}, traceback: Some({quoted(tb)}) }}"


# Helpers for the multiprocessing tests; top level so that workers can run them.

def inference_server(requests, pipes):
    """Answers every (id, tensor) request on the pipe of the worker it names."""
    while True:
        request = requests.get()
        if request is None:
            return
        worker_id, tensor = request
        pipes[worker_id].send(constant_reply(request))


def training_worker(worker_id, config, results, requests, pipe):
    status = tavrin_self_play.play_training_game(worker_id, config, results, requests, pipe)
    results.put(("status", worker_id, status))


def local_training_worker(worker_id, config, results):
    """Plays against an in-process network and reports its moves."""
    local = ListQueue()
    network = LoopbackNetwork()
    tavrin_self_play.play_training_game(worker_id, config, local, network, network)
    results.put((worker_id, local.items[0][1][0]))
