"""Self-play games for a four-player polyomino placement game.

Each function plays exactly one game inside the calling process. Positions
are sent to the network as ``inference_queue.put((id, tensor))`` and the
answer ``(policy_logits, value_logits)`` is read with ``pipe.recv()``.
"""

from typing import Any, Protocol

__all__ = ["play_training_game", "play_test_game", "play_test_against_random"]

class _Queue(Protocol):
    def put(self, item: Any, /) -> Any: ...

class _PipeEnd(Protocol):
    def recv(self) -> Any: ...

class InternalError(BaseException):
    """An impossible state inside the game or the search, or a config object
    that cannot be read. Derived from BaseException so that ``except
    Exception`` does not catch it."""

def play_training_game(id: int, config: Any, result_queue: _Queue, inference_queue: _Queue, pipe: _PipeEnd) -> int:
    """Works with Pytorch model to generate self-play data"""

def play_test_game(
    id: int, config: Any, result_queue: _Queue, model_queue: _Queue, baseline_queue: _Queue, pipe: _PipeEnd
) -> float: ...
def play_test_against_random(id: int, config: Any, result_queue: _Queue, inference_queue: _Queue, pipe: _PipeEnd) -> int: ...
