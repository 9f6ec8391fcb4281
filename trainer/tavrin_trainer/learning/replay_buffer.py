"""A ring buffer of training positions, saved with the run so a resume loses nothing."""

from __future__ import annotations

from pathlib import Path

import numpy as np
import tavrin_engine as te

from tavrin_trainer.learning.examples import UNKNOWN, Examples
from tavrin_trainer.learning.symmetry import randomly_rotated
from tavrin_trainer.core.run_folder.run_directory import atomic_write

TARGETS = ("policy", "value", "owners", "score")


def saved_side(path: Path) -> int:
    """The board side of a saved buffer."""
    with np.load(path) as saved:
        return int(saved["dim"])


class ReplayBuffer:
    """Positions of ``input_planes`` planes (5, or the 90 extended ones),
    kept as ``Examples`` hold them: the 84 hand planes of an extended
    position are constant over the board, one entry each."""

    def __init__(self, capacity: int, dim: int, input_planes: int = te.STATE_PLANES) -> None:
        if input_planes not in (te.STATE_PLANES, te.EXTENDED_STATE_PLANES):
            raise ValueError(f"positions have {te.STATE_PLANES} or {te.EXTENDED_STATE_PLANES} planes, "
                             f"not {input_planes}")
        self.capacity = capacity
        self.dim = dim
        self.input_planes = input_planes
        extended = input_planes == te.EXTENDED_STATE_PLANES
        self.board_planes = te.EXTENDED_BOARD_PLANES if extended else te.STATE_PLANES
        self.planes = np.zeros((capacity, self.board_planes, dim, dim), dtype=bool)
        self.hands = np.zeros((capacity, input_planes - self.board_planes), dtype=bool)
        self.policy = np.zeros((capacity, dim * dim), dtype=np.float32)
        self.value = np.zeros((capacity, te.PLAYERS), dtype=np.float32)
        self.owners = np.full((capacity, dim, dim), UNKNOWN, dtype=np.int8)
        self.score = np.full((capacity, te.PLAYERS), np.nan, dtype=np.float32)
        self.size = 0
        self.next = 0  # slot of the next insertion; the oldest position once full

    def __len__(self) -> int:
        return self.size

    def add(self, examples: Examples) -> None:
        wanted = (self.board_planes, self.dim, self.dim)
        if examples.planes.shape[1:] != wanted or examples.input_planes != self.input_planes:
            raise ValueError(f"positions of {examples.input_planes} planes of shape {examples.planes.shape[2:]} do "
                             f"not fit a buffer for board side {self.dim} with {self.input_planes} planes")
        count = len(examples)
        if count >= self.capacity:
            examples = examples[-self.capacity:]
            count = self.capacity
        slots = (self.next + np.arange(count)) % self.capacity
        self._store(slots, examples.planes, examples.hands, *(getattr(examples, name) for name in TARGETS))

    def _store(self, slots: np.ndarray, planes: np.ndarray, hands: np.ndarray, *targets: np.ndarray) -> None:
        self.planes[slots] = planes
        self.hands[slots] = hands
        for name, values in zip(TARGETS, targets):
            getattr(self, name)[slots] = values
        self.next = int((self.next + len(slots)) % self.capacity)
        self.size = min(self.capacity, self.size + len(slots))

    def _examples(self, rows: np.ndarray, rng: np.random.Generator | None = None) -> Examples:
        """The stored positions of ``rows``, each under a random quarter turn
        when ``rng`` is given."""
        examples = Examples(self.planes[rows], *(getattr(self, name)[rows] for name in TARGETS), self.hands[rows])
        return randomly_rotated(examples, rng) if rng is not None else examples

    def sample(self, count: int, rng: np.random.Generator) -> Examples:
        """``count`` positions drawn uniformly, each under a random quarter turn."""
        if self.size == 0:
            raise ValueError("cannot sample from an empty replay buffer")
        return self._examples(rng.integers(0, self.size, size=count), rng)

    def save(self, path: Path) -> None:
        order = self._oldest_first()

        def write(temporary: Path) -> None:
            with open(temporary, "wb") as out:
                np.savez(out, dim=self.dim, size=len(order), input_planes=self.input_planes,
                         planes=np.packbits(self.planes[order], axis=None), hands=np.packbits(self.hands[order], axis=None),
                         **{name: getattr(self, name)[order] for name in TARGETS})

        atomic_write(path, write)

    @classmethod
    def load(cls, path: Path, capacity: int, dim: int, input_planes: int = te.STATE_PLANES) -> "ReplayBuffer":
        buffer = cls(capacity, dim, input_planes)
        with np.load(path) as saved:
            if int(saved["dim"]) != dim:
                raise ValueError(f"{path} holds positions of board side {int(saved['dim'])}, not {dim}")
            saved_planes = int(saved["input_planes"]) if "input_planes" in saved.files else te.STATE_PLANES
            if saved_planes != input_planes:
                raise ValueError(f"{path} holds positions of {saved_planes} planes, not {input_planes}")
            size = int(saved["size"])
            if size > capacity:  # a smaller capacity keeps the newest
                keep = np.arange(size - capacity, size)
            else:
                keep = np.arange(size)
            planes = np.unpackbits(saved["planes"], count=size * buffer.board_planes * dim * dim).astype(bool)
            hand_bits = buffer.hands.shape[1]
            hands = (np.unpackbits(saved["hands"], count=size * hand_bits).astype(bool) if "hands" in saved.files
                     else np.zeros(size * hand_bits, dtype=bool))
            # Buffers saved before the auxiliary targets existed load without them.
            owners = saved["owners"] if "owners" in saved.files else np.full((size, dim, dim), UNKNOWN, np.int8)
            score = saved["score"] if "score" in saved.files else np.full((size, te.PLAYERS), np.nan, np.float32)
            buffer._store(np.arange(len(keep)), planes.reshape(size, buffer.board_planes, dim, dim)[keep],
                          hands.reshape(size, hand_bits)[keep], saved["policy"][keep], saved["value"][keep],
                          owners[keep], score[keep])
        return buffer

    def _oldest_first(self) -> np.ndarray:
        if self.size < self.capacity:
            return np.arange(self.size)
        return (self.next + np.arange(self.capacity)) % self.capacity
