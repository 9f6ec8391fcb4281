"""tavrin-train: train a network by self-play."""

from __future__ import annotations

import argparse
import sys

from tavrin_trainer.core.run_folder.run_directory import RunDirectory, RunDirectoryError
from tavrin_trainer.core.settings.train_settings import (PRESETS, TrainSettings, add_setting_flags, explicit_settings,
                                                         resolve_settings)
from tavrin_trainer.selfplay.pool_processes import SelfPlayFailure
from tavrin_trainer.selfplay.server_engine.supervisor import ClusterFailure

DESCRIPTION = """\
Train a policy-value network for the four-player polyomino game by self-play.

Each generation: self-play processes play games with the engine's tree search,
each hosting a batched pool of games and its own copy of the current network
(or, with --engine module, tavrin_self_play workers fed by an inference
server); the positions go into a replay buffer; the network trains on it; the new
checkpoint is saved and scored in seat-rotated games against random and
greedy players (parity, a player against copies of itself, is 0.25).

With no arguments it trains a small network on a side-10 board on the CPU, for
26 generations or ten minutes, starting from 400 games of greedy players
(--warm-start-games) that bring generation 0 to greedy level before self-play
takes over; docs/LEARNING.md tells what each learning setting did. Everything
lands in the run directory:
  settings.json          the settings of the run (reused on resume)
  checkpoints/           generation-NNNN.pt, one per generation (0 = after the warm start)
  metrics.csv            one row per generation: throughput, losses, strength
  plots/loss.png         training losses
  plots/win_rate.png     mean payoff against random and greedy players, seats rotated
  games/                 a few self-play games per generation (see tavrin-render)
  replay.npz             the replay buffer
  logs/worker-N.log      engine output of each worker (--engine module)
Running again with --run-dir of an existing run resumes from its latest
checkpoint; flags given then override the saved settings. Ctrl-C stops every
process and keeps the last finished generation.
"""


def build_parser() -> argparse.ArgumentParser:
    parser = argparse.ArgumentParser(prog="tavrin-train", description=DESCRIPTION,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--quiet", action="store_true", help="No progress bars or per-generation lines.")
    parser.add_argument("--preset", choices=sorted(PRESETS),
                        help="A named set of settings; flags given beside it override them. full-board: side 20, "
                             "a warm start from 400 greedy games, then 70 generations of 48 games searched with a "
                             "Gumbel root and leaves valued half by one random playout, the search's value taught "
                             "beside the outcome (docs/LEARNING.md).")
    add_setting_flags(parser)
    return parser


def main(argv: list[str] | None = None) -> int:
    parser = build_parser()
    args = parser.parse_args(argv)
    explicit = {**PRESETS.get(args.preset, {}), **explicit_settings(args)}
    try:
        saved = None
        if explicit.get("run_dir"):
            run = RunDirectory(explicit["run_dir"])
            run.check_usable()
            saved = run.saved_settings()
        settings = resolve_settings(explicit, saved)
    except (ValueError, RunDirectoryError) as error:
        parser.error(str(error))
    return train_from_settings(settings, show_progress=not args.quiet)


def train_from_settings(settings: TrainSettings, show_progress: bool) -> int:
    # Imported here so that --help and bad flags answer at once, without PyTorch.
    from tavrin_trainer.generation_loop import run_training
    from tavrin_trainer.ray_backend import RayBackendError, train_on_ray

    run = RunDirectory(settings.run_dir)
    try:
        if settings.backend == "ray":
            generation = train_on_ray(settings, show_progress=show_progress)
        else:
            generation = run_training(settings, show_progress=show_progress).generation
    except KeyboardInterrupt:
        latest = run.latest_generation()
        kept = f"; kept {run.checkpoint_path(latest)}" if latest is not None else ""
        print(f"\ninterrupted: all processes stopped{kept}", file=sys.stderr)
        return 130
    except RunDirectoryError as failure:
        print(f"tavrin-train: {failure}", file=sys.stderr)
        return 2
    except (ClusterFailure, SelfPlayFailure, RayBackendError) as failure:
        latest = run.latest_generation()
        print(f"training stopped: {failure}", file=sys.stderr)
        if latest is not None:
            print(f"the last finished generation is kept: {run.checkpoint_path(latest)}", file=sys.stderr)
        return 1
    print(f"done: generation {generation} in {run.root}; metrics {run.metrics_path}, "
          f"plots in {run.plot_dir}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
