"""Ctrl-C that is never lost.

Python turns SIGINT into KeyboardInterrupt wherever the main thread happens
to be; when that is inside a finalizer or a callback whose exceptions Python
ignores, the interrupt vanishes and training goes on. ``CtrlC`` remembers the
press as well, and ``check`` raises it at the next safe point.
"""

from __future__ import annotations

import signal
import threading
from typing import Any


class CtrlC:
    def __init__(self) -> None:
        self.pressed = False
        self._previous: Any = None

    def __enter__(self) -> "CtrlC":
        # Only the main thread may set handlers; leave a caller's own handler alone.
        if threading.current_thread() is threading.main_thread() and \
                signal.getsignal(signal.SIGINT) is signal.default_int_handler:
            self._previous = signal.signal(signal.SIGINT, self._handle)
        return self

    def __exit__(self, *exc_info: Any) -> None:
        if self._previous is not None:
            signal.signal(signal.SIGINT, self._previous)
            self._previous = None

    def _handle(self, signum: int, frame: Any) -> None:
        self.pressed = True
        raise KeyboardInterrupt

    def check(self) -> None:
        if self.pressed:
            raise KeyboardInterrupt
