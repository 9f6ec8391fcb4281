"""The weights of a generation travel once through the object store.

The learner puts the checkpoint file's bytes there once per generation and
hands every actor the same reference; an actor loads them through the same
loading functions as a local run, so whatever a checkpoint holds travels as
it is.
"""

from __future__ import annotations

import tempfile
from pathlib import Path
from typing import Callable, TypeVar

import ray

Loaded = TypeVar("Loaded")
# Longest wait for a generation's weights to reach an actor's node.
WEIGHTS_FETCH_S = 600.0


class WeightsPublisher:
    """Keeps the reference of the latest checkpoint only: the object store
    frees older generations once no actor holds them."""

    def __init__(self) -> None:
        self._path: str | None = None
        self._ref: ray.ObjectRef | None = None

    def publish(self, checkpoint: str | Path) -> tuple[str, list[ray.ObjectRef]]:
        """(key, [reference]): the list stops Ray from fetching the bytes for
        an actor that already has this key loaded."""
        if str(checkpoint) != self._path:
            self._ref = ray.put(Path(checkpoint).read_bytes())
            self._path = str(checkpoint)
        assert self._ref is not None
        return self._ref.hex(), [self._ref]


def load_published(weights: list[ray.ObjectRef], load: Callable[[str], Loaded]) -> Loaded:
    """``load(path)`` applied to the published checkpoint, written to a
    temporary file on this node."""
    try:
        data = ray.get(weights[0], timeout=WEIGHTS_FETCH_S)
    except ray.exceptions.GetTimeoutError:
        raise TimeoutError(f"the network weights did not arrive from the learner's node within "
                           f"{WEIGHTS_FETCH_S:.0f} s") from None
    with tempfile.TemporaryDirectory(prefix="tavrin-weights-") as folder:
        path = Path(folder) / "checkpoint.pt"
        path.write_bytes(data)
        return load(str(path))
