"""The saved-game files the app shows, read safely: only regular files that
lie inside the folders given (no links followed, no FIFO or device opened),
at most MAX_REPLAY_BYTES each, with errors that name the file and the fault
but never echo its contents."""

from __future__ import annotations

import json
import math
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
    """The saved-game files the server shows, the latest written first: the
    run's games/ and the extra folders, each a regular *.jsonl file directly
    inside its folder (of two with one name, the run's or the first folder's)."""
    folders = ([run_dir / "games"] if run_dir else []) + list(games_dirs)
    found: dict[str, tuple[Path, float]] = {}
    for folder in folders:
        if not folder.is_dir():
            continue
        for path in folder.glob("*.jsonl"):
            try:
                status = os.lstat(path)  # the entry itself: a link is not followed
            except OSError:
                continue
            if stat.S_ISREG(status.st_mode) and path.name not in found:
                found[path.name] = (path, status.st_mtime)
    # Latest first; a run's generation-NNNN files written in one second still come the latest first.
    return [path for path, _ in sorted(found.values(), key=lambda entry: (entry[1], entry[0].name), reverse=True)]


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
    return [game for _, game in read_replay_lines(path)]


def read_replay_lines(path: Path) -> list[tuple[int, SavedGame]]:
    """The file's games with the line each is on; ReplayUnreadable naming
    the file and line of the first that is not a saved game the page can show."""
    try:
        text = read_bounded(path).decode("utf-8")
    except UnicodeDecodeError:
        raise ReplayUnreadable(f"{path.name} is not UTF-8 text") from None
    games = []
    for number, line in enumerate(text.splitlines(), start=1):
        if not line.strip():
            continue
        try:
            data = json.loads(line, parse_constant=refuse_constant)
            game = SavedGame.from_json(line)
        except NotANumber:
            raise ReplayUnreadable(f"{path.name}: line {number} holds NaN or Infinity, which is no number") from None
        except OverflowError:
            raise ReplayUnreadable(f"{path.name}: line {number} holds a number too large for what it counts") from None
        except (ValueError, KeyError, TypeError, RecursionError):
            raise ReplayUnreadable(f"{path.name}: line {number} is not a saved game") from None
        fault = fault_of(data, game)
        if fault:
            raise ReplayUnreadable(f"{path.name}: line {number} {fault}")
        games.append((number, game))
    return games


class NotANumber(ValueError):
    """NaN or Infinity in a saved game: Python's JSON reads them, JSON has no such numbers."""


def refuse_constant(name: str) -> None:
    raise NotANumber(name)


def fault_of(data: dict, game: SavedGame) -> str | None:
    """What keeps a parsed saved game from being shown (and sent as JSON), if anything."""
    if not isinstance(data["dim"], int) or not MIN_SIDE <= game.dim <= te.MAX_SIDE:
        return f"has a board side that is not a whole number from {MIN_SIDE} to {te.MAX_SIDE}"
    if len(game.payoffs) != te.PLAYERS or not all(math.isfinite(p) for p in game.payoffs):
        return f"does not have {te.PLAYERS} finite payoffs"
    if not all(isinstance(number, int) for move in data["moves"] for number in move):
        return "has a move that is not two whole numbers"
    generation = game.generation
    if generation is not None and (not isinstance(generation, int) or isinstance(generation, bool)):
        return "has a generation that is not a whole number"
    return None


def describe_file(path: Path) -> dict[str, Any]:
    """Its name and game count (0 when it cannot be read)."""
    try:
        count = sum(1 for line in read_bounded(path).splitlines() if line.strip())
    except ReplayUnreadable:
        count = 0
    return {"name": path.name, "games": count}
