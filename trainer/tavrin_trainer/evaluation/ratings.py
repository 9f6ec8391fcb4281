"""A seat-rotated strength ladder: round-robin games between named players,
rated with the Plackett-Luce model, shown as a table and a plot."""

from __future__ import annotations

import itertools
import math
import re
from collections import Counter
from dataclasses import dataclass
from pathlib import Path
from typing import Sequence

import tavrin_engine as te

from tavrin_trainer.evaluation import arena
from tavrin_trainer.evaluation.arena import GameResult
from tavrin_trainer.evaluation.players import Player

# openskill (the train and env extras) and matplotlib load only to rate and to
# plot: tavrin-eval imports this module for every match, ladder or not.

SEATS = te.PLAYERS  # a seat per player
# A generation's entrant name: generation-NNNN, with its search after an @ and
# a mixed player's prefix (mixed:K:W:) when it has them.
GENERATION_NAME = re.compile(r"(?:mixed:\d+:[^:]*:)?generation-(\d+)(?:@\S*)?")


@dataclass(frozen=True)
class Rating:
    name: str
    mu: float
    sigma: float
    ordinal: float  # mu - 3 sigma: the rating the player is very likely to exceed
    games: int
    mean_payoff: float
    seconds_per_action: float = math.nan  # wall time inside its choices over its actions


def round_robin(entrants: Sequence[Player], dim: int, rounds: int = 1, workers: int = 1,
                show_progress: bool = False, seed: int | Sequence[int] | None = None,
                lone: bool = False) -> list[GameResult]:
    """Plays every 4-subset of the entrants in all four cyclic seat rotations,
    `rounds` times, so that no entrant gains from its seat; ``seed`` and
    ``lone`` as in ``arena.play_games``."""
    if len(entrants) < SEATS:
        raise ValueError(f"a round robin needs at least {SEATS} entrants, got {len(entrants)}")
    duplicates = sorted(name for name, count in Counter(p.name for p in entrants).items() if count > 1)
    if duplicates:
        raise ValueError(f"entrant names must be distinct; repeated: {', '.join(duplicates)}")
    if rounds < 1:
        raise ValueError(f"rounds must be at least 1, got {rounds}")

    seatings = []
    for _ in range(rounds):
        for table in itertools.combinations(entrants, SEATS):
            for shift in range(SEATS):
                seatings.append(table[shift:] + table[:shift])
    return arena.play_games(seatings, dim, workers=workers, show_progress=show_progress,
                            label="round robin", seed=seed, lone=lone)


def _ranks(scores: Sequence[int]) -> list[int]:
    """0 for the best score; equal scores share a rank, which openskill treats as a tie."""
    return [sum(other > score for other in scores) for score in scores]


def rate(results: Sequence[GameResult]) -> list[Rating]:
    """Ratings from the games in the given order, each game a four-way free-for-all; best first."""
    from openskill.models import PlackettLuce

    model = PlackettLuce()
    skills = {}
    games: Counter[str] = Counter()
    payoff_sums: Counter[str] = Counter()
    seconds: Counter[str] = Counter()
    actions: Counter[str] = Counter()
    for index, result in enumerate(results):
        seats = tuple(result.seats)
        if len(seats) != SEATS or len(result.scores) != SEATS or len(result.payoffs) != SEATS:
            raise ValueError(f"game {index}: expected {SEATS} seats, scores and payoffs")
        if len(set(seats)) != SEATS:
            # One rating cannot be updated as two opponents of itself.
            raise ValueError(f"game {index}: a player sits in more than one seat: {seats}")
        for name in seats:
            if name not in skills:
                skills[name] = model.rating(name=name)
        teams = [[skills[name]] for name in seats]
        updated = model.rate(teams, ranks=_ranks([int(score) for score in result.scores]))
        for name, (skill,) in zip(seats, updated):
            skills[name] = skill
            games[name] += 1
        for name, payoff in zip(seats, result.payoffs):
            payoff_sums[name] += float(payoff)
        for name, spent, made in zip(seats, result.seat_seconds, result.seat_actions):
            seconds[name] += spent
            actions[name] += made

    ratings = [Rating(name, skill.mu, skill.sigma, skill.ordinal(), games[name], payoff_sums[name] / games[name],
                      seconds[name] / actions[name] if actions[name] else math.nan)
               for name, skill in skills.items()]
    ratings.sort(key=lambda r: (-r.ordinal, r.name))
    return ratings


def format_table(ratings: Sequence[Rating]) -> str:
    headers = ("rank", "name", "ordinal", "mu", "sigma", "games", "mean payoff", "ms/action")
    rows = [(str(rank), r.name, f"{r.ordinal:.2f}", f"{r.mu:.2f}", f"{r.sigma:.2f}", str(r.games),
             f"{r.mean_payoff:.3f}", "n/a" if math.isnan(r.seconds_per_action) else f"{r.seconds_per_action * 1000:.1f}")
            for rank, r in enumerate(ratings, start=1)]
    widths = [max(len(cell) for cell in column) for column in zip(headers, *rows)]

    def line(cells: Sequence[str]) -> str:
        # Names read left-aligned, numbers right-aligned.
        return "  ".join(cell.ljust(width) if column == 1 else cell.rjust(width)
                         for column, (cell, width) in enumerate(zip(cells, widths))).rstrip()

    lines = [line(headers), line(["-" * width for width in widths])]
    lines += [line(row) for row in rows]
    lines.append("ordinal = mu - 3 sigma, a conservative rating; a mean payoff of 0.25 is what a player "
                 "scores against copies of itself with seats rotated; ms/action is the wall time inside its "
                 "choices per action (a batched call's time shared among the games it answered).")
    return "\n".join(lines)


def _generation_number(name: str) -> int | None:
    match = GENERATION_NAME.fullmatch(name)
    if match is not None:
        return int(match.group(1))
    if name.startswith("generation-"):
        raise ValueError(f"cannot read a generation number from entrant name {name!r}")
    return None


def plot_ratings(ratings: Sequence[Rating], path: Path | str) -> Path:
    """Ordinal with ±sigma bars against generation; fixed players as labelled horizontal lines."""
    import matplotlib

    matplotlib.use("Agg")
    from matplotlib import pyplot as plt

    path = Path(path)
    path.parent.mkdir(parents=True, exist_ok=True)
    generations = sorted(((number, r) for r in ratings if (number := _generation_number(r.name)) is not None),
                         key=lambda pair: pair[0])
    fixed = [r for r in ratings if _generation_number(r.name) is None]

    figure, axes = plt.subplots(figsize=(7, 4))
    if generations:
        axes.errorbar([number for number, _ in generations], [r.ordinal for _, r in generations],
                      yerr=[r.sigma for _, r in generations], marker="o", capsize=3,
                      label="generation (ordinal ± sigma)")
    colours = plt.rcParams["axes.prop_cycle"].by_key()["color"]
    for index, r in enumerate(fixed):
        colour = colours[(index + 1) % len(colours)]
        axes.axhline(r.ordinal, color=colour, linestyle="--", linewidth=1, label=r.name)
        axes.annotate(r.name, xy=(1.0, r.ordinal), xycoords=("axes fraction", "data"),
                      xytext=(-4, 2), textcoords="offset points", ha="right", va="bottom",
                      color=colour, fontsize=8)
    axes.set_xlabel("generation")
    axes.set_ylabel("rating (ordinal = mu - 3 sigma)")
    axes.grid(alpha=0.3)
    if ratings:
        axes.legend(fontsize=8)
    figure.tight_layout()
    figure.savefig(path, dpi=110)
    plt.close(figure)
    return path


def generations_to_rate(generations: Sequence[int], limit: int = 6) -> list[int]:
    """At most `limit` generations, evenly spread, always keeping the first and the last."""
    chosen = sorted(set(generations))
    if limit < 1:
        raise ValueError(f"limit must be at least 1, got {limit}")
    if len(chosen) <= limit:
        return chosen
    if limit == 1:
        raise ValueError("a limit of 1 cannot keep both the first and the last generation")
    # The spacing exceeds 1, so the rounded positions are distinct.
    step = (len(chosen) - 1) / (limit - 1)
    return [chosen[round(i * step)] for i in range(limit)]
