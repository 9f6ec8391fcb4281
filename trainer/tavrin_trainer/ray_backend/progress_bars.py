"""Progress bars drawn by the driver for work done inside actors.

A bar of the ordinary kind inside an actor would write to a log file that
Ray forwards line by line; Ray's own bars travel to the driver as events and
are drawn there, next to the lines the learner prints. The driver draws them
only on a terminal: otherwise the stage ends with one line, as in a local run.
"""

from __future__ import annotations

from contextlib import contextmanager
from typing import Iterator

from tavrin_trainer.core.progress import progress_bar


@contextmanager
def actor_progress_bar(total: int, description: str, enabled: bool, driver_draws_bars: bool) -> Iterator:
    if not (enabled and driver_draws_bars):
        with progress_bar(total, description, enabled) as stage:
            yield stage
        return
    from ray.experimental.tqdm_ray import tqdm

    bar = tqdm(total=total, desc=f"{description:>12}", unit="")
    try:
        yield bar
    finally:
        bar.close()
