"""Progress bars that step aside when output is not wanted."""

from __future__ import annotations

import sys
from typing import Any

# tqdm comes with the train extra; a quiet run, and tavrin-eval --quiet, need
# none, so it is imported when a bar or a line is drawn.


class _Silent:
    def update(self, n: int = 1) -> None:
        pass

    def set_postfix_str(self, text: str) -> None:
        pass

    def __enter__(self) -> "_Silent":
        return self

    def __exit__(self, *exc_info: Any) -> None:
        pass


def progress_bar(total: int, description: str, enabled: bool = True) -> Any:
    if not enabled:
        return _Silent()
    from tqdm import tqdm

    return tqdm(total=total, desc=f"{description:>12}", unit="", leave=False, dynamic_ncols=True)


def say(message: str, enabled: bool = True) -> None:
    """A line of output that does not tear progress bars apart."""
    if enabled:
        from tqdm import tqdm

        tqdm.write(message)


def warn(message: str, progress_shown: bool = True) -> None:
    """A line on standard error that even a quiet run prints."""
    if progress_shown:
        from tqdm import tqdm

        tqdm.write(message, file=sys.stderr)
    else:
        print(message, file=sys.stderr)
