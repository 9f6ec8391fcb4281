"""Self-play throughput of a short training run, local backend against the
Ray backend (a private cluster on this machine, bound to loopback).

Both runs use the same settings and one self-play process or actor per core;
the figure is the mean positions_per_s of metrics.csv over the generations
after the first (the first pays for starting processes and loading torch).
Ends with:
  positions_per_s local=X ray=Y ratio=Y/X

    python benchmarks/ray_vs_local.py
    python benchmarks/ray_vs_local.py --generations 4 --games 64 --dim 8
"""

from __future__ import annotations

import argparse
import csv
import sys
import tempfile
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "trainer"))

from tavrin_trainer.core.settings.train_settings import TrainSettings  # noqa: E402
from tavrin_trainer.generation_loop import run_training  # noqa: E402
from tavrin_trainer.ray_backend import train_on_ray  # noqa: E402


def settings_for(run_dir: Path, backend: str, args: argparse.Namespace):
    settings = TrainSettings(
        run_dir=str(run_dir), backend=backend, generations=args.generations, time_limit_minutes=0,
        dim=args.dim, channels=args.channels, blocks=args.blocks, sims_per_move=args.sims,
        games_per_generation=args.games, pool_games=args.pool_games, train_steps=args.train_steps,
        train_batch_size=args.train_batch_size, eval_random_games=args.eval_games, eval_greedy_games=args.eval_games,
        saved_games=1, device="cpu")
    settings.validate()
    return settings


def mean_positions_per_s(run_dir: Path) -> float:
    with open(run_dir / "metrics.csv", newline="") as source:
        rows = [row for row in csv.DictReader(source) if int(row["generation"]) >= 2]
    if not rows:
        raise SystemExit("need at least 2 generations to leave out the first")
    return sum(float(row["positions_per_s"]) for row in rows) / len(rows)


def strength_curve(run_dir: Path) -> str:
    """Mean payoff against greedy players per generation, with its standard error."""
    with open(run_dir / "metrics.csv", newline="") as source:
        rows = list(csv.DictReader(source))
    return " ".join(f"{float(r['vs_greedy_mean_payoff']):.2f}±{float(r['vs_greedy_stderr']):.2f}" for r in rows)


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--generations", type=int, default=3)
    parser.add_argument("--games", type=int, default=32, help="self-play games per generation")
    parser.add_argument("--pool-games", type=int, default=16, help="games each process or actor plays at once")
    parser.add_argument("--dim", type=int, default=8)
    parser.add_argument("--channels", type=int, default=16)
    parser.add_argument("--blocks", type=int, default=1)
    parser.add_argument("--sims", type=int, default=16)
    parser.add_argument("--train-steps", type=int, default=5)
    parser.add_argument("--train-batch-size", type=int, default=64)
    parser.add_argument("--eval-games", type=int, default=8)
    args = parser.parse_args()

    figures = {}
    with tempfile.TemporaryDirectory(prefix="tavrin-ray-bench-") as folder:
        for backend in ("local", "ray"):
            run_dir = Path(folder) / backend
            settings = settings_for(run_dir, backend, args)
            started = time.perf_counter()
            if backend == "local":
                run_training(settings, show_progress=False)
            else:
                train_on_ray(settings, show_progress=False)
            figures[backend] = mean_positions_per_s(run_dir)
            print(f"{backend}: {args.generations} generations in {time.perf_counter() - started:.1f} s, "
                  f"self-play {figures[backend]:.0f} positions/s; vs greedy by generation "
                  f"{strength_curve(run_dir)}", flush=True)
    print(f"positions_per_s local={figures['local']:.0f} ray={figures['ray']:.0f} "
          f"ratio={figures['ray'] / figures['local']:.2f}")


if __name__ == "__main__":
    main()
