"""The saved-game files the app shows, read safely: only regular files that
lie inside the folders given (no links followed, no FIFO or device opened),
at most MAX_REPLAY_BYTES each, with errors that name the file and the fault
but never echo its contents."""

from __future__ import annotations

import os
import stat
from pathlib import Path
from typing import Any, Iterable

import tavrin_engine as te

from tavrin_trainer.core.settings.limits import MIN_SIDE
from tavrin_trainer.core.run_folder.saved_games import SavedGame

# Largest saved-game file shown: some ten thousand side-20 games.
MAX_REPLAY_BYTES = 16 * 1024 * 1024


class ReplayUnreadable(Exception):
    """A saved-game file that cannot be shown; the message says which and why."""


def replay_files(run_dir: Path | None, games_dirs: Iterable[Path]) -> list[Path]:
    """The saved-game files the server shows: the run's games/ and the extra
    folders, each a regular *.jsonl file directly inside its folder."""
    folders = ([run_dir / "games"] if run_dir else []) + list(games_dirs)
    found: dict[str, Path] = {}
    for folder in folders:
        if not folder.is_dir():
            continue
        for path in sorted(folder.glob("*.jsonl")):
            try:
                mode = os.lstat(path).st_mode  # the entry itself: a link is not followed
            except OSError:
                continue
            if stat.S_ISREG(mode):
                found.setdefault(path.name, path)
    return list(found.values())


def read_bounded(path: Path) -> bytes:
    """The file's bytes, opened without following a link or waiting on a
    FIFO, refused when it is not a regular file or too large."""
    try:
        descriptor = os.open(path, os.O_RDONLY | os.O_NOFOLLOW | os.O_NONBLOCK)
    except OSError as error:
        raise ReplayUnreadable(f"{path.name} cannot be opened: {error.strerror}") from None
    with os.fdopen(descriptor, "rb") as source:
        if not stat.S_ISREG(os.fstat(descriptor).st_mode):
            raise ReplayUnreadable(f"{path.name} is not a regular file")
        data = source.read(MAX_REPLAY_BYTES + 1)
    if len(data) > MAX_REPLAY_BYTES:
        raise ReplayUnreadable(f"{path.name} is larger than {MAX_REPLAY_BYTES // (1024 * 1024)} MiB")
    return data


def read_replay(path: Path) -> list[SavedGame]:
    try:
        text = read_bounded(path).decode("utf-8")
    except UnicodeDecodeError:
        raise ReplayUnreadable(f"{path.name} is not UTF-8 text") from None
    games = []
    for number, line in enumerate(text.splitlines(), start=1):
        if not line.strip():
            continue
        try:
            games.append(SavedGame.from_json(line))
        except (ValueError, KeyError, TypeError, RecursionError):
            raise ReplayUnreadable(f"{path.name}: line {number} is not a saved game") from None
        if not MIN_SIDE <= games[-1].dim <= te.MAX_SIDE:
            raise ReplayUnreadable(f"{path.name}: line {number} has a board side outside {MIN_SIDE} to "
                                   f"{te.MAX_SIDE}")
    return games


def describe_file(path: Path) -> dict[str, Any]:
    """Its name and game count (0 when it cannot be read)."""
    try:
        count = sum(1 for line in read_bounded(path).splitlines() if line.strip())
    except ReplayUnreadable:
        count = 0
    return {"name": path.name, "games": count}
