"""Draws the strength curves of several runs on one set of axes: each run's
per-generation figure against one fixed player (faint) and its mean over
windows of generations (bold), with parity dotted.

    python scripts/compare_curves.py "warm start=runs/full-board" "from scratch=runs/full-board-scratch" \
        --opponent greedy --window 10 --output docs/figures/full_board_runs.png
"""

from __future__ import annotations

import argparse
import sys
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "trainer"))

from tavrin_trainer.core.run_folder.run_directory import RunDirectory  # noqa: E402
from tavrin_trainer.core.run_folder.metrics import EVALUATION_OPPONENTS, MetricsLog  # noqa: E402
from tavrin_trainer.core.pictures.plots import PARITY, metric_column  # noqa: E402


def curve(run_dir: Path, opponent: str) -> tuple[list[int], list[float]]:
    metrics = RunDirectory(run_dir).metrics_path
    if not metrics.is_file():
        raise SystemExit(f"{run_dir} has no metrics.csv")
    generations, values = metric_column(MetricsLog(metrics).rows(), f"vs_{opponent}_mean_payoff")
    if not generations:
        raise SystemExit(f"{metrics} has no figures against {opponent} players")
    return generations, values


def window_means(generations: list[int], values: list[float], window: int) -> tuple[list[float], list[float]]:
    # Generation 0 stands alone; then generations 1..window, window+1..2*window, ... each give one point.
    buckets: dict[int, list[tuple[int, float]]] = {}
    for generation, value in zip(generations, values):
        buckets.setdefault(0 if generation == 0 else (generation - 1) // window + 1, []).append((generation, value))
    centres, means = [], []
    for _, members in sorted(buckets.items()):
        centres.append(sum(generation for generation, _ in members) / len(members))
        means.append(sum(value for _, value in members) / len(members))
    return centres, means


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("runs", nargs="+", metavar="LABEL=RUN_DIR")
    parser.add_argument("--opponent", default="greedy", choices=EVALUATION_OPPONENTS, help="(default: greedy)")
    parser.add_argument("--window", type=int, default=10, help="generations per mean (default: 10)")
    parser.add_argument("--output", type=Path, required=True)
    args = parser.parse_args()
    if args.window < 1:
        parser.error("--window must be at least 1")
    labelled = []
    for entry in args.runs:
        label, separator, path = entry.partition("=")
        if not separator or not label or not path:
            parser.error(f"expected LABEL=RUN_DIR, got {entry!r}")
        labelled.append((label, Path(path)))

    import matplotlib  # slow to load: once the arguments are read

    matplotlib.use("Agg")
    from matplotlib import pyplot as plt

    figure, axes = plt.subplots(figsize=(7, 4))
    highest = PARITY
    for index, (label, run_dir) in enumerate(labelled):
        colour = f"C{index}"
        generations, values = curve(run_dir, args.opponent)
        highest = max(highest, *values)
        axes.plot(generations, values, color=colour, alpha=0.3, linewidth=1)
        axes.plot(*window_means(generations, values, args.window), color=colour, marker="o", linewidth=2,
                  label=label)
    axes.axhline(PARITY, color="grey", linestyle=":", label="parity")
    axes.set_ylim(0, min(1.0, highest + 0.2))
    axes.set_title(f"faint: each generation; bold: means of {args.window} generations", fontsize=9)
    axes.set_xlabel("generation")
    axes.set_ylabel(f"mean payoff vs three {args.opponent} players")
    axes.grid(alpha=0.3)
    axes.legend(loc="upper right", fontsize=9)
    figure.tight_layout()
    args.output.parent.mkdir(parents=True, exist_ok=True)
    figure.savefig(args.output, dpi=110)
    print(f"wrote {args.output}")
    return 0


if __name__ == "__main__":
    raise SystemExit(main())
