"""Speed of tavrin_self_play's training game against an instant network.

The server is in-process: `put` discards the request and `recv` returns
constant logits, so the figures are the module's own cost per network request
(tensor building, the two calls, reply conversion, search, game and record).
The floor loop does only the Python-object work every request needs: build
the nested request lists from shared bools, call put and recv, convert the
reply to floats. A request costs the module at most about twice the floor.

    python benchmarks/selfplay_bench.py [--dims 20 10] [--sims 64] [--games 2]
"""

import argparse
import array
import resource
import time
from dataclasses import dataclass

import tavrin_self_play


@dataclass
class Config:
    dim: int
    rep: int
    sims_per_move: int
    sample_moves: int = 30
    c_puct: float = 1.5
    dirichlet_alpha: float = 0.3
    exploration_fraction: float = 0.25


class InstantNetwork:
    """Inference queue and pipe: counts requests, answers with constant logits."""

    def __init__(self, dim):
        self.reply = ([0.0] * (dim * dim), [0.0, 0.0, 0.0, 0.0])
        self.requests = 0

    def put(self, request):
        self.requests += 1

    def recv(self):
        return self.reply


class Discard:
    def put(self, item):
        pass


def time_games(dim, sims, rep, games):
    network = InstantNetwork(dim)
    config = Config(dim=dim, rep=rep, sims_per_move=sims)
    results = []

    class Keep:
        def put(self, item):
            results.append(item)

    start = time.perf_counter()
    for i in range(games):
        status = tavrin_self_play.play_training_game(i, config, Keep(), network, network)
        if status != 0:
            raise SystemExit(f"training game {i} failed with status {status}")
    elapsed = time.perf_counter() - start
    actions = sum(len(record[1][0]) for record in results)
    return elapsed, actions, actions * sims, network.requests


def time_floor(dim, rep, iterations):
    """Per request: fresh nested lists of shared bools, put, recv, conversion."""
    shape = (5, dim, dim) if rep == 1 else (dim, dim, 5)
    template = [[[(i + j + k) % 7 == 0 for k in range(shape[2])] for j in range(shape[1])] for i in range(shape[0])]
    network = InstantNetwork(dim)
    start = time.perf_counter()
    for _ in range(iterations):
        tensor = [[row.copy() for row in rows] for rows in template]
        network.put((0, tensor))
        reply = network.recv()
        array.array("f", reply[0])
        array.array("f", reply[1])
    return (time.perf_counter() - start) / iterations


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--dims", type=int, nargs="+", default=[20, 10])
    parser.add_argument("--sims", type=int, default=64, help="simulations per action")
    parser.add_argument("--games", type=int, default=2, help="training games per board side")
    parser.add_argument("--rep", type=int, default=1, choices=[1, 2], help="1 planes first, 2 planes last")
    parser.add_argument("--floor-iterations", type=int, default=20000)
    args = parser.parse_args()

    print(f"sims/action {args.sims}, rep {args.rep}, {args.games} game(s) per side")
    print(f"{'dim':>4} {'actions':>8} {'requests':>9} {'sims/s':>10} {'us/request':>11} {'floor us':>9} {'ratio':>6}")
    for dim in args.dims:
        elapsed, actions, simulations, requests = time_games(dim, args.sims, args.rep, args.games)
        per_request = elapsed / requests * 1e6
        floor = time_floor(dim, args.rep, args.floor_iterations) * 1e6
        print(f"{dim:>4} {actions:>8} {requests:>9} {simulations / elapsed:>10.0f} {per_request:>11.2f} "
              f"{floor:>9.2f} {per_request / floor:>6.2f}")
    peak_mb = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss / 1024
    print(f"peak resident memory {peak_mb:.0f} MB")


if __name__ == "__main__":
    main()
