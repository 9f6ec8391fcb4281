"""Progress for people and for logs.

On a terminal a stage draws a bar that redraws itself in place. Anywhere else
(a log file, a pipe, a CI console) a redrawn bar would leave every redraw in
the file, so a stage writes one line when it ends instead.
"""

from __future__ import annotations

import os
import sys
import time
from typing import Any

# tqdm comes with the train extra; a quiet run, tavrin-eval --quiet and a
# run whose output goes to a file need none, so it is imported when a bar or
# a line is drawn.


class _Silent:
    def update(self, n: int = 1) -> None:
        pass

    def set_postfix_str(self, text: str) -> None:
        pass

    def __enter__(self) -> "_Silent":
        return self

    def __exit__(self, *exc_info: Any) -> None:
        pass


class StageLine:
    """A bar's stand-in off a terminal: counts as a bar does and says, once
    the stage is over, how much it did and in how long."""

    def __init__(self, total: int, description: str) -> None:
        self.total = total
        self.description = description
        self.done = 0
        self.postfix = ""
        self.started = time.perf_counter()

    def update(self, n: int = 1) -> None:
        self.done += n

    def set_postfix_str(self, text: str) -> None:
        self.postfix = text

    def __enter__(self) -> "StageLine":
        return self

    def __exit__(self, exc_type: Any, *exc_info: Any) -> None:
        if exc_type is None:  # a stage cut short is told by whoever stops it
            say(self.line())

    def line(self) -> str:
        seconds = time.perf_counter() - self.started
        return (f"  {self.description}: {self.done}/{self.total} in {seconds:.1f} s"
                + (f", {self.postfix}" if self.postfix else ""))


def bars_wanted() -> bool:
    """Bars only where they are redrawn in place: tqdm draws on standard error."""
    isatty = getattr(sys.stderr, "isatty", None)
    return bool(isatty and isatty())


def bars_switched_off() -> bool:
    """tqdm's own switch (a Ray learner gets it while the driver draws its
    bars); it silences the lines that stand in for bars too."""
    return os.environ.get("TQDM_DISABLE", "").lower() not in ("", "0", "false")


def progress_bar(total: int, description: str, enabled: bool = True) -> Any:
    if not enabled or bars_switched_off():
        return _Silent()
    if not bars_wanted():
        return StageLine(total, description)
    from tqdm import tqdm

    return tqdm(total=total, desc=f"{description:>12}", unit="", leave=False, dynamic_ncols=True)


def say(message: str, enabled: bool = True) -> None:
    """A line of output that does not tear progress bars apart."""
    if enabled:
        from tqdm import tqdm

        tqdm.write(message)
        # Written at once, so that in one log of both streams it stays in
        # its place among the lines on standard error.
        sys.stdout.flush()


def warn(message: str, progress_shown: bool = True) -> None:
    """A line on standard error that even a quiet run prints."""
    if progress_shown:
        from tqdm import tqdm

        tqdm.write(message, file=sys.stderr)
    else:
        print(message, file=sys.stderr)
