"""A stand-in for tavrin_self_play: the same three functions, request, reply
and record formats and error behaviour, over a trivial game (players in turn
claim any empty cell until the board is full; the most cells in one's own
corner quadrant wins). It lets the process plumbing be tested apart from the
real rules; one evaluation per action, no search.
"""

from __future__ import annotations

import math
import random

PLAYERS = 4


class ToyGame:
    def __init__(self, dim: int) -> None:
        self.dim = dim
        self.owner = [-1] * (dim * dim)
        self.current = 0
        self.moves: list[tuple[int, int]] = []

    def legal(self) -> list[int]:
        return [t for t, o in enumerate(self.owner) if o < 0]

    def encode(self, planes_last: bool) -> list:
        d, legal = self.dim, set(self.legal())

        def value(plane: int, tile: int) -> bool:
            if plane == 4:
                return tile in legal
            return self.owner[tile] >= 0 and (self.owner[tile] - self.current) % PLAYERS == plane

        if planes_last:
            return [[[value(k, r * d + c) for k in range(5)] for c in range(d)] for r in range(d)]
        return [[[value(k, r * d + c) for c in range(d)] for r in range(d)] for k in range(5)]

    def apply(self, tile: int) -> None:
        self.owner[tile] = self.current
        self.moves.append((self.current, tile))
        self.current = (self.current + 1) % PLAYERS

    def payoff(self) -> list[float]:
        half = self.dim // 2
        corners = [(0, 0), (0, half), (half, half), (half, 0)]
        scores = [sum(1 for r in range(r0, r0 + half) for c in range(c0, c0 + half)
                      if self.owner[r * self.dim + c] == p) for p, (r0, c0) in enumerate(corners)]
        best = max(scores)
        winners = [p for p in range(PLAYERS) if scores[p] == best]
        return [1 / len(winners) if p in winners else 0.0 for p in range(PLAYERS)]


def _priors(game: ToyGame, config, queue, pipe, worker_id: int) -> dict[int, float]:
    queue.put((worker_id, game.encode(config.rep == 2)))
    policy, _ = pipe.recv()[:2]
    legal = game.legal()
    top = max(float(policy[t]) for t in legal)
    weights = {t: math.exp(float(policy[t]) - top) for t in legal}
    total = sum(weights.values())
    return {t: w / total for t, w in weights.items()}


def play_training_game(id, config, result_queue, inference_queue, pipe):
    game = ToyGame(config.dim)
    policies = []
    try:
        while game.legal():
            priors = _priors(game, config, inference_queue, pipe, id)
            policies.append(list(priors.items()))
            tiles = list(priors)
            game.apply(random.choices(tiles, weights=[priors[t] for t in tiles])[0])
    except Exception as error:
        print(f"Error during training game: {type(error).__name__}: {error}", flush=True)
        return 1
    result_queue.put((id, (game.moves, policies, game.payoff())))
    return 0


def play_test_against_random(id, config, result_queue, inference_queue, pipe):
    game = ToyGame(config.dim)
    try:
        while game.legal():
            if game.current == 0:
                priors = _priors(game, config, inference_queue, pipe, id)
                game.apply(max(priors, key=priors.get))
            else:
                game.apply(random.choice(game.legal()))
    except Exception as error:
        print(f"Error running MCTS: \"{type(error).__name__}: {error}\"", flush=True)
        return 1
    result_queue.put((id, game.payoff()[0]))
    return 0


def play_test_game(id, config, result_queue, model_queue, baseline_queue, pipe):
    game = ToyGame(20)
    while game.legal():
        queue = model_queue if game.current == 0 else baseline_queue
        try:
            priors = _priors(game, config, queue, pipe, id)
        except Exception as error:
            print(f"Error running MCTS: \"{type(error).__name__}: {error}\"", flush=True)
            raise Exception('"Error running MCTS"') from None
        game.apply(max(priors, key=priors.get))
    print("Finished Game", flush=True)
    return game.payoff()[0]
