"""An in-process network for direct engine calls: the queues remember every
position the engine sends, the pipe answers it with chosen logits."""

from __future__ import annotations

import numpy as np


class CapturedRequests:
    def __init__(self, dim_of_reply=None, seed: int = 0) -> None:
        self.positions: list[tuple[str, np.ndarray]] = []  # (queue name, planes-first bool array)
        self.rng = np.random.default_rng(seed)
        self._reply = None

    def queue(self, name: str = "model") -> "_Queue":
        return _Queue(self, name)

    def answer(self, position: np.ndarray) -> tuple[list, list]:
        cells = position.shape[1] * position.shape[2]
        return self.rng.normal(size=cells).tolist(), self.rng.normal(size=4).tolist()

    def recv(self):
        reply, self._reply = self._reply, None
        assert reply is not None, "recv without a request"
        return reply


class _Queue:
    def __init__(self, owner: CapturedRequests, name: str) -> None:
        self.owner, self.name = owner, name

    def put(self, request) -> None:
        _, tensor = request
        array = np.array(tensor, dtype=bool)
        if array.shape[0] != 5:  # planes last
            array = array.transpose(2, 0, 1)
        self.owner.positions.append((self.name, array))
        self.owner._reply = self.owner.answer(array)


class Collector:
    def __init__(self) -> None:
        self.items = []

    def put(self, item) -> None:
        self.items.append(item)
