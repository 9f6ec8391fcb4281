"""A ring buffer of training positions, saved with the run so a resume loses nothing."""

from __future__ import annotations

from pathlib import Path

import numpy as np

from .run_directory import atomic_write
from .records import PLANES, PLAYERS, UNKNOWN, Examples
from .symmetry import randomly_rotated


FIELDS = ("planes", "policy", "value", "owners", "score")


class ReplayBuffer:
    def __init__(self, capacity: int, dim: int) -> None:
        self.capacity = capacity
        self.dim = dim
        self.planes = np.zeros((capacity, PLANES, dim, dim), dtype=bool)
        self.policy = np.zeros((capacity, dim * dim), dtype=np.float32)
        self.value = np.zeros((capacity, PLAYERS), dtype=np.float32)
        self.owners = np.full((capacity, dim, dim), UNKNOWN, dtype=np.int8)
        self.score = np.full((capacity, PLAYERS), np.nan, dtype=np.float32)
        self.size = 0
        self.next = 0  # slot of the next insertion; the oldest position once full

    def __len__(self) -> int:
        return self.size

    def add(self, examples: Examples) -> None:
        if examples.planes.shape[1:] != self.planes.shape[1:]:
            raise ValueError(f"positions of shape {examples.planes.shape[1:]} do not fit a buffer "
                             f"for board side {self.dim}")
        count = len(examples)
        if count >= self.capacity:
            examples = examples[-self.capacity:]
            count = self.capacity
        slots = (self.next + np.arange(count)) % self.capacity
        for name in FIELDS:
            getattr(self, name)[slots] = getattr(examples, name)
        self.next = int((self.next + count) % self.capacity)
        self.size = min(self.capacity, self.size + count)

    def sample(self, count: int, rng: np.random.Generator) -> Examples:
        """``count`` positions drawn uniformly, each under a random quarter turn."""
        if self.size == 0:
            raise ValueError("cannot sample from an empty replay buffer")
        chosen = rng.integers(0, self.size, size=count)
        return randomly_rotated(Examples(*(getattr(self, name)[chosen] for name in FIELDS)), rng)

    def save(self, path: Path) -> None:
        order = self._oldest_first()
        packed = np.packbits(self.planes[order], axis=None)

        def write(temporary: Path) -> None:
            with open(temporary, "wb") as out:
                np.savez(out, dim=self.dim, size=len(order), planes=packed,
                         policy=self.policy[order], value=self.value[order],
                         owners=self.owners[order], score=self.score[order])

        atomic_write(path, write)

    @classmethod
    def load(cls, path: Path, capacity: int, dim: int) -> "ReplayBuffer":
        buffer = cls(capacity, dim)
        with np.load(path) as saved:
            if int(saved["dim"]) != dim:
                raise ValueError(f"{path} holds positions of board side {int(saved['dim'])}, not {dim}")
            size = int(saved["size"])
            planes = np.unpackbits(saved["planes"], count=size * PLANES * dim * dim).astype(bool)
            # Buffers saved before the auxiliary targets existed load without them.
            owners = saved["owners"] if "owners" in saved.files else None
            score = saved["score"] if "score" in saved.files else None
            buffer.add(Examples(planes.reshape(size, PLANES, dim, dim), saved["policy"], saved["value"], owners, score))
        return buffer

    def _oldest_first(self) -> np.ndarray:
        if self.size < self.capacity:
            return np.arange(self.size)
        return (self.next + np.arange(self.capacity)) % self.capacity
