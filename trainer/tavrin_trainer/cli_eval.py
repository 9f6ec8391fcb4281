"""tavrin-eval: score a checkpoint against random players and, optionally, another checkpoint."""

from __future__ import annotations

import argparse
import sys
from pathlib import Path

from .settings import TrainSettings

DESCRIPTION = """\
Score a trained network. The network plays seat 0 and takes its most probable
legal tile (no search):
  * against three uniformly random players on a board of side --dim; chance is
    a mean payoff of 0.25, a win is 1, a shared win 1/k;
  * with --baseline, against that checkpoint in seats 1-3 on a side-20 board.
CHECKPOINT is a .pt file or a run directory (its latest generation is used).
"""


def resolve_checkpoint(path: str) -> Path:
    from .checkpoints import RunDirectory

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


def build_parser() -> argparse.ArgumentParser:
    defaults = TrainSettings()
    parser = argparse.ArgumentParser(prog="tavrin-eval", description=DESCRIPTION,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("checkpoint", help="Checkpoint file or run directory to score.")
    parser.add_argument("--baseline", help="Checkpoint file or run directory of the opponent in seats 1-3 "
                        "of the side-20 game; without it only the random opponents are played.")
    parser.add_argument("--games", type=int, default=defaults.eval_random_games,
                        help=f"Games against random players (default: {defaults.eval_random_games}).")
    parser.add_argument("--versus-games", type=int, default=1,
                        help="Games against --baseline (default: 1; both sides play deterministically).")
    parser.add_argument("--dim", type=int, default=defaults.dim,
                        help=f"Board side of the games against random players (default: {defaults.dim}).")
    parser.add_argument("--rep", type=int, choices=(1, 2), default=defaults.rep,
                        help="Input layout the engine sends: 1 planes first, 2 planes last (default: 1).")
    parser.add_argument("--workers", type=int, default=defaults.workers,
                        help=f"Game worker processes (default: {defaults.workers}).")
    parser.add_argument("--log-dir", default="eval-logs", help="Where the workers' engine output goes "
                        "(default: ./eval-logs).")
    parser.add_argument("--quiet", action="store_true", help="No progress bars.")
    return parser


def main(argv: list[str] | None = None) -> int:
    parser = build_parser()
    args = parser.parse_args(argv)
    if args.games < 0 or args.versus_games < 0 or args.workers < 1 or args.dim < 5:
        parser.error("--games and --versus-games must not be negative, --workers at least 1, --dim at least 5")
    try:
        checkpoint = resolve_checkpoint(args.checkpoint)
        baseline = resolve_checkpoint(args.baseline) if args.baseline else None
    except FileNotFoundError as error:
        parser.error(str(error))

    from .checkpoints import load_checkpoint
    from .cluster import Cluster, ClusterFailure, ClusterOptions
    from .evaluation import versus_baseline, versus_random
    from .inference_server import ServerOptions

    shape = load_checkpoint(checkpoint)["shape"]
    if baseline is not None and load_checkpoint(baseline)["shape"] != shape:
        parser.error("the two checkpoints have different network shapes")
    settings = TrainSettings(dim=args.dim, rep=args.rep)
    options = ClusterOptions(
        workers=args.workers, log_dir=Path(args.log_dir),
        server=ServerOptions(channels=shape["channels"], blocks=shape["blocks"], rep=args.rep,
                             batch_size=args.workers, wait_s=0.001, threads=1))
    servers = {"model": checkpoint} if baseline is None else {"model": checkpoint, "baseline": baseline}
    show = not args.quiet
    try:
        with Cluster(options, servers) as cluster:
            if args.games:
                score = versus_random(cluster, settings.search_config(), args.games, show)
                print(f"{checkpoint}: mean payoff {score.mean:.3f} ± {score.stderr:.3f} over {score.games} games "
                      f"against three random players on side {args.dim} (chance 0.25)")
            if baseline is not None and args.versus_games:
                score = versus_baseline(cluster, settings.search_config(20), args.versus_games, show)
                print(f"{checkpoint}: mean payoff {score.mean:.3f} over {score.games} games against "
                      f"{baseline} on side 20")
    except ClusterFailure as failure:
        print(f"evaluation stopped: {failure}", file=sys.stderr)
        return 1
    except KeyboardInterrupt:
        print("\ninterrupted: all processes stopped", file=sys.stderr)
        return 130
    return 0


if __name__ == "__main__":
    sys.exit(main())
