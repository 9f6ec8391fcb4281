"""Games of greedy players as training positions: a head start for a fresh run.

Self-play from an untrained network can settle on a poor opening that every
seat then copies. A few hundred games of the greedy player (largest piece,
most new corners) show the network sensible placements before its own games
take over: each action gives a position whose policy target is spread evenly
over the tiles that extend one of the greedy player's best placements, and
whose value, ownership and score targets come from how the game ended.
"""

from __future__ import annotations

import numpy as np

from tavrin_trainer.learning.examples import Examples, final_targets


def greedy_examples(games: int, dim: int, seed: int, extended: bool = False) -> Examples:
    """The positions of ``games`` games of four greedy players (ties broken
    at random, so the games differ)."""
    import tavrin_engine as te

    from tavrin_trainer.evaluation.players import GreedyPlayer

    if games < 1:
        raise ValueError(f"greedy demonstrations need at least 1 game, got {games}")
    player = GreedyPlayer(seed=[seed, games, dim])
    cells = dim * dim
    parts = []
    for _ in range(games):
        game = te.Game(dim)
        planes, policies, values, movers = [], [], [], []
        while not game.is_terminal():
            chosen = set(game.chosen_squares)
            best = te.greedy_placements(game)
            targets = sorted({t for placement in best for t in placement} - chosen)
            policy = np.zeros(cells, dtype=np.float32)
            policy[targets] = 1.0 / len(targets)
            planes.append(game.state(extended=extended))
            policies.append(policy)
            movers.append(game.current_player)
            game.apply(player.choose_among(best, chosen))
        payoffs = np.asarray(game.payoff(), dtype=np.float32)
        values = [np.roll(payoffs, -p) for p in movers]
        owners, score = final_targets(game, np.asarray(movers, dtype=np.int8), dim)
        parts.append(Examples(np.stack(planes), np.stack(policies), np.stack(values).astype(np.float32),
                              owners, score))
    return Examples.concatenate(parts)
