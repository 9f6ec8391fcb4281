"""The batched pool's own speed under two builds of tavrin_engine, in one run.

Each build's extension is imported in a process of its own (PYTHONPATH set to
the folder that holds it), alternately, several times: a pool of self-play
games answered by a cheap stand-in network (numpy), so that the figure is the
engine's search and bookkeeping, not a network. Training positions a second:

    python benchmarks/pool_builds.py BEFORE_DIR AFTER_DIR    # e.g. an old worktree's build/bindings

Side 10 with the default run's pool settings, side 20 with the full-board
preset's search (Gumbel root over 16, a playout a leaf).
"""

from __future__ import annotations

import argparse
import os
import subprocess
import sys
from statistics import mean

GAMES = r"""
import sys, time
import numpy as np
import tavrin_engine as te
from types import SimpleNamespace
side, preset = int(sys.argv[1]), sys.argv[2] == "preset"
settings = SimpleNamespace(dim=side, rep=1, sims_per_move=32, sample_moves=12, c_puct=1.5, dirichlet_alpha=0.5,
                           exploration_fraction=0.25, seed=1, extended_planes=True, skip_single_tile=True,
                           evaluation_cache=20000)
if preset:
    settings.gumbel_candidates, settings.leaf_evaluation, settings.playouts = 16, "mixed", 1
games = 32 if side == 20 else 64
pool = te.SearchPool(settings, games=games, total_games=games)
def network(board):
    rows, cells = board.shape[0], board.shape[-1] ** 2
    planes = board.reshape(rows, board.shape[1], cells).astype(np.float32)
    policy = planes[:, 0] * 0.5 - planes[:, 1] * 0.3 + np.sin(np.arange(cells) * 0.37)
    return policy.astype(np.float32), (planes[:, :4].sum(axis=2) * 0.05).astype(np.float32)
started, positions = time.perf_counter(), 0
while not pool.done():
    board, _ = pool.next_inputs()
    pool.submit(*network(board))
    positions += sum(len(record["moves"]) for record in pool.take_finished())
positions += sum(len(record["moves"]) for record in pool.take_finished())
print(positions / (time.perf_counter() - started))
"""


def positions_per_second(folder: str, side: int, kind: str) -> float:
    env = {**os.environ, "PYTHONPATH": folder}
    out = subprocess.run([sys.executable, "-c", GAMES, str(side), kind], env=env, check=True,
                         capture_output=True, text=True)
    return float(out.stdout)


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("before")
    parser.add_argument("after")
    parser.add_argument("--repeats", type=int, default=3)
    args = parser.parse_args()
    for side, kind in ((10, "default"), (20, "preset")):
        figures: dict[str, list[float]] = {"before": [], "after": []}
        for _ in range(args.repeats):
            for name in ("before", "after"):
                figures[name].append(positions_per_second(getattr(args, name), side, kind))
        before, after = mean(figures["before"]), mean(figures["after"])
        print(f"side {side} ({kind}) positions_per_s before={before:.0f} after={after:.0f} ratio={after / before:.3f}")


if __name__ == "__main__":
    main()
