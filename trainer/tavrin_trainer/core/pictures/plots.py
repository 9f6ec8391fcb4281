"""PNG plots of a run's metrics: losses, and seat-rotated strength against
random and greedy players."""

from __future__ import annotations

from pathlib import Path

from tavrin_trainer.core.run_folder.run_directory import atomic_write

# Any player against three copies of itself, seats rotated, scores 0.25.
PARITY = 0.25


def metric_column(rows: list[dict[str, str]], name: str) -> tuple[list[int], list[float]]:
    xs, ys = [], []
    for row in rows:
        if row.get(name, "") != "":
            xs.append(int(row["generation"]))
            ys.append(float(row[name]))
    return xs, ys


def write_plots(rows: list[dict[str, str]], plot_dir: Path) -> list[Path]:
    # matplotlib is slow to load and wanted only when a generation is recorded.
    import matplotlib

    matplotlib.use("Agg")
    from matplotlib import pyplot as plt

    plot_dir.mkdir(parents=True, exist_ok=True)
    written = []

    figure, axes = plt.subplots(figsize=(7, 4))
    for name, label in (("policy_loss", "policy cross-entropy"), ("value_loss", "value cross-entropy")):
        xs, ys = metric_column(rows, name)
        axes.plot(xs, ys, marker="o", label=label)
    axes.set_xlabel("generation")
    axes.set_ylabel("training loss")
    axes.grid(alpha=0.3)
    axes.legend()
    written.append(_save(figure, plot_dir / "loss.png", plt))

    figure, axes = plt.subplots(figsize=(7, 4))
    for key, label, marker in (("random", "vs three random players", "o"),
                               ("greedy", "vs three greedy players", "s"),
                               ("random_side20", "vs three random players, side 20", "^"),
                               ("greedy_side20", "vs three greedy players, side 20", "v"),
                               ("rollout", "vs three rollout players", "D")):
        xs, ys = metric_column(rows, f"vs_{key}_mean_payoff")
        if not xs:
            continue
        _, errors = metric_column(rows, f"vs_{key}_stderr")
        axes.errorbar(xs, ys, yerr=errors if len(errors) == len(ys) else None, marker=marker, capsize=3,
                      label=label)
    axes.axhline(PARITY, color="grey", linestyle=":", label="parity: any player vs three copies of itself")
    axes.set_ylim(0, 1)
    axes.set_xlabel("generation")
    axes.set_ylabel("mean payoff, seats rotated")
    axes.grid(alpha=0.3)
    axes.legend()
    written.append(_save(figure, plot_dir / "win_rate.png", plt))
    return written


def _save(figure, path: Path, plt) -> Path:
    figure.tight_layout()
    atomic_write(path, lambda temporary: figure.savefig(temporary, dpi=110, format="png"))
    plt.close(figure)
    return path
