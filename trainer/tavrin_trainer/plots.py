"""PNG plots of a run's metrics: losses, and strength against random players
and against the previous generation."""

from __future__ import annotations

from pathlib import Path

CHANCE = 0.25


def _column(rows: list[dict[str, str]], name: str) -> tuple[list[int], list[float]]:
    xs, ys = [], []
    for row in rows:
        if row.get(name, "") != "":
            xs.append(int(row["generation"]))
            ys.append(float(row[name]))
    return xs, ys


def write_plots(rows: list[dict[str, str]], plot_dir: Path) -> list[Path]:
    import matplotlib

    matplotlib.use("Agg")
    from matplotlib import pyplot as plt

    plot_dir.mkdir(parents=True, exist_ok=True)
    written = []

    figure, axes = plt.subplots(figsize=(7, 4))
    for name, label in (("policy_loss", "policy cross-entropy"), ("value_loss", "value cross-entropy")):
        xs, ys = _column(rows, name)
        axes.plot(xs, ys, marker="o", label=label)
    axes.set_xlabel("generation")
    axes.set_ylabel("training loss")
    axes.grid(alpha=0.3)
    axes.legend()
    written.append(_save(figure, plot_dir / "loss.png", plt))

    figure, axes = plt.subplots(figsize=(7, 4))
    xs, ys = _column(rows, "vs_random_mean_payoff")
    _, errors = _column(rows, "vs_random_stderr")
    axes.errorbar(xs, ys, yerr=errors if len(errors) == len(ys) else None, marker="o", capsize=3,
                  label="vs three random players")
    xs, ys = _column(rows, "vs_previous_mean_payoff")
    if xs:
        axes.plot(xs, ys, marker="s", linestyle="--", label="vs previous generation (side 20)")
    axes.axhline(CHANCE, color="grey", linestyle=":", label="chance (0.25)")
    axes.set_ylim(0, 1)
    axes.set_xlabel("generation")
    axes.set_ylabel("mean payoff of seat 0")
    axes.grid(alpha=0.3)
    axes.legend()
    written.append(_save(figure, plot_dir / "win_rate.png", plt))
    return written


def _save(figure, path: Path, plt) -> Path:
    figure.tight_layout()
    figure.savefig(path, dpi=110)
    plt.close(figure)
    return path
