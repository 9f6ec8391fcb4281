"""Checkpoint files and the layout of a run directory.

Every file is written to a temporary name and renamed into place, so an
interrupted save (Ctrl-C, a full disk) never replaces a good file with half of
one.
"""

from __future__ import annotations

import json
import os
import re
import tempfile
from pathlib import Path
from typing import Any, Callable

CHECKPOINT_PATTERN = re.compile(r"generation-(\d{4,})\.pt$")
# The side-20 network shipped with the package, named "pretrained" wherever a
# checkpoint is asked for (a folder of that name is ./pretrained).
PRETRAINED_NAME = "pretrained"
PRETRAINED_CHECKPOINT = Path(__file__).resolve().parents[1] / "pretrained" / "side20.pt"


def atomic_write(path: Path, write: Callable[[Path], None]) -> None:
    path.parent.mkdir(parents=True, exist_ok=True)
    handle, temporary = tempfile.mkstemp(dir=path.parent, prefix=f".{path.name}.", suffix=".tmp")
    os.close(handle)
    try:
        write(Path(temporary))
        os.replace(temporary, path)
    except BaseException:
        Path(temporary).unlink(missing_ok=True)
        raise


class RunDirectory:
    def __init__(self, root: str | Path) -> None:
        self.root = Path(root)

    def remove_unfinished_writes(self) -> list[Path]:
        """Deletes the temporary files of writes that a killed run left behind."""
        leftovers = [path for path in self.root.rglob(".*.tmp") if path.is_file()]
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
        if not self.settings_path.exists():
            return None
        return json.loads(self.settings_path.read_text())

    def save_settings(self, settings_json: str) -> None:
        atomic_write(self.settings_path, lambda p: p.write_text(settings_json + "\n"))


def save_checkpoint(path: Path, state: dict[str, Any]) -> None:
    import torch

    atomic_write(path, lambda p: torch.save(state, p))


def load_checkpoint(path: str | Path) -> dict[str, Any]:
    import torch

    path = Path(path)
    if not path.is_file():
        raise FileNotFoundError(f"no checkpoint at {path}")
    state = torch.load(path, map_location="cpu", weights_only=True)
    if not isinstance(state, dict) or "model" not in state:
        raise ValueError(f"{path} is not a tavrin checkpoint (no model weights)")
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
        latest = run.latest_generation()
        if latest is None:
            raise FileNotFoundError(f"{candidate} holds no checkpoints")
        return run.checkpoint_path(latest)
    if not candidate.is_file():
        raise FileNotFoundError(f"no checkpoint or run directory at {candidate}")
    return candidate
