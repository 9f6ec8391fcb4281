"""Does a network play as well through another inference backend as through fp32?

The same checkpoint twice: the candidate runs it through --backend (the
default self-play backend, onnx, unless told), its three opponents through
fp32 torch; seats rotated, so a backend that plays alike scores parity, 0.25.
Prints the match and whether it lies within two standard errors of parity.

    python benchmarks/inference_parity.py runs/X --games 400 --simulations 32
"""

from __future__ import annotations

import argparse
import sys
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "trainer"))

from tavrin_trainer.core.cpus import usable_cpu_count  # noqa: E402
from tavrin_trainer.core.run_folder.run_directory import resolve_checkpoint  # noqa: E402
from tavrin_trainer.learning.inference import resolve_backend  # noqa: E402
from tavrin_trainer.core.settings.train_settings import TrainSettings  # noqa: E402
from tavrin_trainer.evaluation.arena import play_match  # noqa: E402
from tavrin_trainer.evaluation.players import NetworkPlayer  # noqa: E402


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("network", help="a checkpoint file or a run directory (its latest generation)")
    parser.add_argument("--backend", default=resolve_backend(TrainSettings().inference, "cpu"))
    parser.add_argument("--games", type=int, default=400)
    parser.add_argument("--simulations", type=int, default=32)
    parser.add_argument("--dim", type=int, help="board side (default: the network's training side)")
    parser.add_argument("--workers", type=int, default=usable_cpu_count())
    parser.add_argument("--seed", type=int, default=1)
    args = parser.parse_args()

    checkpoint = resolve_checkpoint(args.network)
    candidate = NetworkPlayer.from_checkpoint(checkpoint, args.simulations, inference=args.backend)
    reference = NetworkPlayer.from_checkpoint(checkpoint, args.simulations, inference="fp32")
    dim = args.dim or candidate.trained_side or TrainSettings().dim
    result = play_match(candidate, reference, args.games, dim, args.workers, show_progress=True, seed=args.seed)
    print(result.describe())
    within = abs(result.mean - 0.25) <= 2 * result.stderr
    print(f"{args.backend} against fp32 on side {dim}, {args.simulations} simulations: {result.mean:.3f} +- "
          f"{result.stderr:.3f}, {'within' if within else 'NOT within'} two standard errors of parity 0.25")
    return 0 if within else 1


if __name__ == "__main__":
    sys.exit(main())
