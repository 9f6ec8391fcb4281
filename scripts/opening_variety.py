"""How varied are self-play's openings, seat by seat?

Plays self-play games with the full-board preset's search (or the settings
given) and a network (default: the shipped one), and counts for every seat
the distinct first pieces (their squares) and first two pieces it laid over
the games. With few distinct openings per seat, the games teach the network
the same positions again and again.

    python scripts/opening_variety.py --games 64
    python scripts/opening_variety.py --games 64 --opening-sample-actions 10
"""

from __future__ import annotations

import argparse
import sys
from pathlib import Path

import numpy as np
import tavrin_engine as te

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "trainer"))

from tavrin_trainer.learning.inference import resolve_backend  # noqa: E402
from tavrin_trainer.core.run_folder.saved_games import SavedGame, pieces_of  # noqa: E402
from tavrin_trainer.core.settings.train_settings import PRESETS, TrainSettings  # noqa: E402
from tavrin_trainer.evaluation.players import player_from_name  # noqa: E402
from tavrin_trainer.learning.inference import make_inference  # noqa: E402
from tavrin_trainer.learning.network import inference_copy  # noqa: E402


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--network", default="pretrained", help="pretrained, a checkpoint or a run directory")
    parser.add_argument("--games", type=int, default=64)
    parser.add_argument("--opening-sample-actions", type=int, default=0)
    parser.add_argument("--seed", type=int, default=1)
    args = parser.parse_args()

    preset = TrainSettings(**{**PRESETS["full-board"], "opening_sample_actions": args.opening_sample_actions,
                              "seed": args.seed})
    network = player_from_name(args.network)
    infer = make_inference(inference_copy(network.model), resolve_backend("auto", "cpu"), "cpu", planes_last=False)
    pool = te.SearchPool(preset.search_settings(generation=1), games=min(args.games, 64), total_games=args.games)
    while not pool.done():
        policy, values = infer(*pool.next_inputs())
        pool.submit(np.asarray(policy, dtype=np.float32), np.asarray(values, dtype=np.float32))
    records = pool.take_finished()
    openings: list[list[tuple]] = [[] for _ in range(te.PLAYERS)]
    for record in records:
        game = SavedGame(preset.dim, [tuple(m) for m in record["moves"].tolist()], record["payoffs"].tolist())
        firsts: dict[int, list] = {}
        for player, squares in pieces_of(game):
            firsts.setdefault(player, []).append(tuple(sorted(squares)))
        for seat in range(te.PLAYERS):
            openings[seat].append(tuple(firsts.get(seat, [])[:2]))
    print(f"{len(records)} games, {args.network}, opening_sample_actions {args.opening_sample_actions}, "
          f"Gumbel root with {preset.gumbel_candidates} candidates")
    for seat, seen in enumerate(openings):
        print(f"seat {seat}: {len({o[:1] for o in seen})} distinct first pieces, "
              f"{len(set(seen))} distinct first two")
    return 0


if __name__ == "__main__":
    sys.exit(main())
