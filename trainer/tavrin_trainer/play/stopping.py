"""Handing a search its stop flag where the player takes one."""

from __future__ import annotations

import inspect
import threading
from typing import Callable


def takes_stop(method: Callable) -> bool:
    """Whether ``method`` accepts a ``stop`` keyword (a threading.Event)."""
    try:
        parameters = inspect.signature(method).parameters.values()
    except (TypeError, ValueError):
        return False
    return any(p.name == "stop" and p.kind in (p.KEYWORD_ONLY, p.POSITIONAL_OR_KEYWORD) for p in parameters)


def with_stop(method: Callable, stop: threading.Event) -> Callable:
    """``method`` given ``stop=`` where it takes it, as is where it does not."""
    if takes_stop(method):
        return lambda *args, **kwargs: method(*args, stop=stop, **kwargs)
    return method
