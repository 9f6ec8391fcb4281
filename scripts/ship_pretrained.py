"""Writes the shipped network, trainer/tavrin_trainer/pretrained/side20.pt,
from a run's checkpoint: the weights, shape and board side only (no
optimiser state), with where it came from.

    python scripts/ship_pretrained.py runs/full-board [--generation N]
"""

from __future__ import annotations

import argparse
import json
import sys
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "trainer"))

from tavrin_trainer.core.run_folder.run_directory import (PRETRAINED_CHECKPOINT, RunDirectory,  # noqa: E402
                                          load_network_checkpoint, save_checkpoint)


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("run", help="the run directory")
    parser.add_argument("--generation", type=int, help="default: the run's latest")
    args = parser.parse_args()
    run = RunDirectory(args.run)
    generation = args.generation if args.generation is not None else run.latest_generation()
    if generation is None:
        parser.error(f"{run.root} holds no checkpoints")
    saved = load_network_checkpoint(run.checkpoint_path(generation))
    settings = run.saved_settings() or {}
    shipped = {"model": saved["model"], "shape": saved["shape"], "dim": saved.get("dim"), "generation": generation,
               "source": json.dumps({"run": run.root.name, "generation": generation, "settings": settings})}
    if "search" in saved:  # how its players search by default
        shipped["search"] = saved["search"]
    save_checkpoint(PRETRAINED_CHECKPOINT, shipped)
    print(f"wrote {PRETRAINED_CHECKPOINT} ({PRETRAINED_CHECKPOINT.stat().st_size // 1024} KiB) from "
          f"{run.checkpoint_path(generation)}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
