"""Checkpoint files and the layout of a run directory.

Every file is written to a temporary name, flushed to disk and renamed into
place, so an interrupted save (Ctrl-C, a full disk, power loss) never
replaces a good file with half of one. A folder is a run directory once it
holds the marker file, written with the run's first generation; nothing is
ever cleaned or replaced in a folder without it.
"""

from __future__ import annotations

import fcntl
import json
import os
import pickle
import re
import socket
import sys
import tempfile
import zipfile
from contextlib import contextmanager
from pathlib import Path
from typing import Any, Callable, Iterator

# torch is imported by the functions that save and load checkpoints: the
# command lines and worker processes import this module without needing it.

CHECKPOINT_PATTERN = re.compile(r"generation-(\d{4,})\.pt$")
# The side-20 network shipped with the package, named "pretrained" wherever a
# checkpoint is asked for (a folder of that name is ./pretrained).
PRETRAINED_NAME = "pretrained"
PRETRAINED_CHECKPOINT = Path(__file__).resolve().parents[2] / "pretrained" / "side20.pt"
MARKER_NAME = ".tavrin-run"
LOCK_NAME = ".tavrin-run.lock"
# Where a run writes; only these folders are searched for unfinished writes.
RUN_SUBDIRECTORIES = ("checkpoints", "games", "plots", "logs")


class RunDirectoryError(Exception):
    """A run directory or checkpoint that cannot be used as asked; the
    message names the file and what to do."""


class CheckpointError(RunDirectoryError, ValueError):
    """A checkpoint file that cannot be read or is not a tavrin checkpoint."""


def _fsync(path: Path, directory: bool = False) -> None:
    handle = os.open(path, os.O_RDONLY | (getattr(os, "O_DIRECTORY", 0) if directory else 0))
    try:
        os.fsync(handle)
    finally:
        os.close(handle)


def atomic_write(path: Path, write: Callable[[Path], None]) -> None:
    """``write`` fills a temporary file beside ``path``, which is flushed to
    disk and renamed over ``path``; the directory entry is flushed too."""
    path.parent.mkdir(parents=True, exist_ok=True)
    handle, temporary = tempfile.mkstemp(dir=path.parent, prefix=f".{path.name}.", suffix=".tmp")
    os.close(handle)
    try:
        write(Path(temporary))
        _fsync(Path(temporary))
        os.replace(temporary, path)
    except BaseException:
        Path(temporary).unlink(missing_ok=True)
        raise
    try:
        _fsync(path.parent, directory=True)
    except OSError:  # some file systems cannot flush a directory; the rename stands
        pass


class RunDirectory:
    def __init__(self, root: str | Path) -> None:
        self.root = Path(root)

    @property
    def marker_path(self) -> Path:
        return self.root / MARKER_NAME

    def is_run(self) -> bool:
        """Marked as a run, or a run of a version before the marker: its
        settings and at least one checkpoint."""
        return self.marker_path.is_file() or (self.settings_path.is_file() and bool(self.generations()))

    def check_usable(self) -> None:
        """RunDirectoryError unless the folder is a run, empty, or absent."""
        if not self.root.exists() or self.is_run():
            return
        if not self.root.is_dir():
            raise RunDirectoryError(f"--run-dir {self.root} is a file, not a folder")
        if any(path.name != LOCK_NAME for path in self.root.iterdir()):
            raise RunDirectoryError(f"{self.root} is not empty and holds no tavrin run (no {MARKER_NAME}); give a "
                                    f"new or empty folder as --run-dir")

    def mark(self) -> None:
        if not self.marker_path.is_file():
            atomic_write(self.marker_path, lambda p: p.write_text("a tavrin training run\n"))

    @contextmanager
    def lock(self) -> Iterator[None]:
        """Keeps a second trainer out while held. The operating system lets go
        of the lock when its process ends, however it ends, so a lock left by
        a killed trainer is taken over at once."""
        self.root.mkdir(parents=True, exist_ok=True)
        with open(self.root / LOCK_NAME, "a+") as handle:
            try:
                fcntl.flock(handle, fcntl.LOCK_EX | fcntl.LOCK_NB)
            except OSError:
                handle.seek(0)
                holder = handle.read().strip() or "another process"
                raise RunDirectoryError(f"{self.root} is in use by another trainer ({holder}); wait for it to "
                                        f"finish or stop it") from None
            handle.seek(0)
            handle.truncate()
            handle.write(f"process {os.getpid()} on {socket.gethostname()}\n")
            handle.flush()
            try:
                yield
            finally:
                handle.seek(0)
                handle.truncate()
                fcntl.flock(handle, fcntl.LOCK_UN)

    def remove_unfinished_writes(self) -> list[Path]:
        """Deletes the temporary files of writes that a killed run left
        behind, in a run directory only, and only where a run writes."""
        if not self.is_run():
            return []
        folders = [self.root] + [self.root / name for name in RUN_SUBDIRECTORIES]
        leftovers = [path for folder in folders if folder.is_dir() for path in folder.glob(".*.tmp")
                     if path.is_file()]
        for path in leftovers:
            path.unlink()
        return leftovers

    @property
    def settings_path(self) -> Path:
        return self.root / "settings.json"

    @property
    def metrics_path(self) -> Path:
        return self.root / "metrics.csv"

    @property
    def replay_path(self) -> Path:
        return self.root / "replay.npz"

    @property
    def checkpoint_dir(self) -> Path:
        return self.root / "checkpoints"

    @property
    def games_dir(self) -> Path:
        return self.root / "games"

    @property
    def log_dir(self) -> Path:
        return self.root / "logs"

    @property
    def plot_dir(self) -> Path:
        return self.root / "plots"

    def checkpoint_path(self, generation: int) -> Path:
        return self.checkpoint_dir / f"generation-{generation:04d}.pt"

    def games_path(self, generation: int) -> Path:
        return self.games_dir / f"generation-{generation:04d}.jsonl"

    def generations(self) -> list[int]:
        if not self.checkpoint_dir.is_dir():
            return []
        found = (CHECKPOINT_PATTERN.search(p.name) for p in self.checkpoint_dir.iterdir())
        return sorted(int(m.group(1)) for m in found if m)

    def latest_generation(self) -> int | None:
        generations = self.generations()
        return generations[-1] if generations else None

    def saved_settings(self) -> dict[str, Any] | None:
        """The settings of the run, or None before its first generation."""
        if not self.settings_path.exists() or not self.generations():
            return None
        try:
            saved = json.loads(self.settings_path.read_text())
        except (OSError, UnicodeDecodeError, json.JSONDecodeError) as error:
            raise RunDirectoryError(f"{self.settings_path} cannot be read ({error}); restore it from a copy, or "
                                    f"delete it to resume with the settings given now") from None
        if not isinstance(saved, dict):
            raise RunDirectoryError(f"{self.settings_path} holds no settings; restore it from a copy, or delete "
                                    f"it to resume with the settings given now")
        return saved

    def newest_loadable(self, report: Callable[[str], None], set_aside: bool = False
                        ) -> tuple[int, dict[str, Any]] | None:
        """The newest generation whose checkpoint loads, with its contents;
        each newer one that does not is reported (and, with ``set_aside``,
        renamed to ``....pt.corrupt`` so that the run writes that generation
        afresh). None when the run has no checkpoint."""
        generations = self.generations()
        for generation in reversed(generations):
            path = self.checkpoint_path(generation)
            try:
                return generation, load_checkpoint(path)
            except CheckpointError as error:
                if set_aside:
                    path.rename(path.with_name(path.name + ".corrupt"))
                    report(f"skipped {error}; kept it as {path.name}.corrupt")
                else:
                    report(f"skipped {error}")
        if generations:
            raise RunDirectoryError(f"no checkpoint of {self.root} can be read; start a new run directory")
        return None

    def save_settings(self, settings_json: str) -> None:
        atomic_write(self.settings_path, lambda p: p.write_text(settings_json + "\n"))


def save_checkpoint(path: Path, state: dict[str, Any]) -> None:
    import torch

    atomic_write(path, lambda p: torch.save(state, p))


def load_checkpoint(path: str | Path) -> dict[str, Any]:
    """The checkpoint's contents; FileNotFoundError, or CheckpointError
    naming the file when it is damaged or not a tavrin checkpoint."""
    import torch

    path = Path(path)
    if not path.is_file():
        raise FileNotFoundError(f"no checkpoint at {path}")
    try:
        state = torch.load(path, map_location="cpu", weights_only=True)
    except (RuntimeError, EOFError, OSError, pickle.UnpicklingError, zipfile.BadZipFile, ValueError) as error:
        reason = str(error).splitlines()[0] if str(error) else type(error).__name__
        raise CheckpointError(f"{path} cannot be read, the file is damaged ({reason})") from None
    if not isinstance(state, dict) or "model" not in state:
        raise CheckpointError(f"{path} is not a tavrin checkpoint (no model weights)")
    return state


def load_network_checkpoint(path: str | Path) -> dict[str, Any]:
    """A checkpoint that records its network's shape, as a network is built from it."""
    state = load_checkpoint(path)
    if not isinstance(state.get("shape"), dict):
        raise CheckpointError(f"{path} does not record its network shape, so its network cannot be rebuilt")
    return state


def load_model_weights(path: str | Path) -> dict[str, Any]:
    return load_checkpoint(path)["model"]


def resolve_checkpoint(path: str) -> Path:
    """A checkpoint file, a run directory's latest checkpoint, or the shipped
    network for the name "pretrained"."""
    if path == PRETRAINED_NAME:
        if not PRETRAINED_CHECKPOINT.is_file():
            raise FileNotFoundError(f"the pretrained network is missing from this installation "
                                    f"({PRETRAINED_CHECKPOINT}); reinstall the package")
        return PRETRAINED_CHECKPOINT
    candidate = Path(path)
    if candidate.is_dir():
        run = RunDirectory(candidate)
        found = run.newest_loadable(lambda line: print(line, file=sys.stderr))
        if found is None:
            raise FileNotFoundError(f"{candidate} holds no checkpoints")
        return run.checkpoint_path(found[0])
    if not candidate.is_file():
        raise FileNotFoundError(f"no checkpoint or run directory at {candidate}")
    return candidate
