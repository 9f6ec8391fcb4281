"""Time per action of a game played alone, as a person or a tournament plays one.

Side-20 games, one at a time in one process: the player under test in seat 0
(its choose() called once per action), three rollout:256 players in the
others. Every figure is that player's mean wall time per action, beside the
opponents' in the same games, and as a ratio to rollout:256's own time in
seat 0 (the first line: seat 0 meets the widest positions, so it is the fair
baseline). Players:

* rollout:256, the yardstick;
* the shipped network alone (64 simulations, Gumbel root over 16);
* its mixed search (80 simulations, Gumbel root over 16, one playout a leaf
  weighted 0.5);

each with the kept tree and the default leaf batch, then the mixed search
without the kept tree, with 8 and with 1 leaf per network call, and through
the fp32 torch model instead of the default backend.

    python benchmarks/lone_game.py                # all of the above
    python benchmarks/lone_game.py --busy         # the same beside a process that keeps one core busy
"""

from __future__ import annotations

import argparse
import multiprocessing
import time

import numpy as np
import tavrin_engine as te

from tavrin_trainer.learning.inference import resolve_backend
from tavrin_trainer.evaluation.players import DEFAULT_LEAF_BATCH, NetworkPlayer, RolloutPlayer

SIDE = 20


def spin(stop) -> None:
    """Keeps one core busy until told to stop."""
    x = 0
    while not stop.is_set():
        for _ in range(100_000):
            x += 1


def lone_game(player, opponent, seed: int) -> tuple[float, float]:
    """Seat 0's and the opponents' mean seconds per action over one game."""
    game = te.Game(SIDE)
    seconds = [0.0, 0.0]
    actions = [0, 0]
    while not game.is_terminal():
        seat = 0 if game.current_player == 0 else 1
        chooser = player if seat == 0 else opponent
        started = time.perf_counter()
        tile = chooser.choose(game)
        seconds[seat] += time.perf_counter() - started
        actions[seat] += 1
        game.apply(tile)
    return seconds[0] / actions[0], seconds[1] / actions[1]


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--busy", action="store_true", help="Keep one core busy in another process meanwhile.")
    parser.add_argument("--games", type=int, default=2, help="Games per player (default 2).")
    parser.add_argument("--seed", type=int, default=11)
    args = parser.parse_args()

    backend = resolve_backend("auto", "cpu")
    gumbel = dict(gumbel_candidates=16)
    # The network alone: the shipped network's recorded playouts turned off below.
    network = dict(simulations=64, inference=backend, **gumbel)
    mixed = dict(simulations=80, playouts=1, playout_weight=0.5, inference=backend, **gumbel)
    players = [
        ("rollout:256", RolloutPlayer(256, seed=args.seed)),
        (f"network alone, 64 simulations ({backend})", NetworkPlayer.pretrained(playouts=0, **network)),
        (f"mixed, 80 simulations ({backend})", NetworkPlayer.pretrained(**mixed)),
        (f"mixed, 80 simulations, no kept tree", NetworkPlayer.pretrained(keep_tree=False, **mixed)),
        ("mixed, 80 simulations, leaf batch 8", NetworkPlayer.pretrained(**{**mixed, "leaf_batch": 8})),
        ("mixed, 80 simulations, leaf batch 1", NetworkPlayer.pretrained(**{**mixed, "leaf_batch": 1})),
        ("mixed, 80 simulations, fp32 torch", NetworkPlayer.pretrained(**{**mixed, "inference": "fp32"})),
    ]
    stop = multiprocessing.Event()
    busy = multiprocessing.Process(target=spin, args=(stop,), daemon=True) if args.busy else None
    if busy:
        busy.start()
    try:
        print(f"lone side-{SIDE} games, seat 0 vs 3x rollout:256, {args.games} game(s) each, default leaf batch "
              f"{DEFAULT_LEAF_BATCH}{', one core kept busy by another process' if busy else ''}")
        print(f"{'player in seat 0':48} {'ms/action':>10} {'opponents':>10} {'ratio':>7}")
        baseline = None
        for name, player in players:
            opponent = RolloutPlayer(256, seed=args.seed + 1)
            timings = [lone_game(player, opponent, args.seed + g) for g in range(args.games)]
            own, theirs = (float(np.mean(t)) for t in zip(*timings))
            if baseline is None:
                baseline = own
            print(f"{name:48} {own * 1000:10.1f} {theirs * 1000:10.1f} {own / baseline:7.2f}", flush=True)
    finally:
        if busy:
            stop.set()
            busy.join()


if __name__ == "__main__":
    main()
