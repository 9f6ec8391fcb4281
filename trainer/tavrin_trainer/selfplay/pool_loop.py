"""One batched self-play pool driven by one network: the loop that a local
self-play process and a Ray self-play actor both run."""

from __future__ import annotations

import time
from concurrent.futures import ThreadPoolExecutor
from contextlib import nullcontext
from typing import Callable

import numpy as np
import tavrin_engine as te

from tavrin_trainer.learning.inference import Inference
from tavrin_trainer.selfplay.interface import share_games


def play_pool(infer: Inference, search: te.SearchSettings, games: int, first_game: int, concurrent_games: int,
              send: Callable[[dict], None], search_threads: int = 1) -> dict[str, float]:
    """Plays games ``first_game`` to ``first_game + games - 1``,
    ``concurrent_games`` at a time, one network batch per round; hands every
    finished record to ``send``. Returns the counters of ``SelfPlayStats``.

    With ``search_threads`` above 1 the games are shared among that many
    pools whose searches run at once, in threads (the engine lets go of the
    GIL while it searches), and every round their positions go to the
    network together as one batch: what keeps a GPU fed from one process.
    Each game keeps its number, so a seeded search plays the same games."""
    shares = share_games(games, max(1, min(search_threads, games)), first_game)
    concurrent = max(1, concurrent_games // len(shares))
    pools = [te.SearchPool(search, games=min(concurrent, share.games), total_games=share.games,
                             first_game=share.first_game) for share in shares]
    started = time.perf_counter()
    stats = {"evaluations": 0, "batches": 0, "network_s": 0.0}
    with ThreadPoolExecutor(len(pools)) if len(pools) > 1 else nullcontext() as threads:
        active = [pool for pool in pools if not pool.done()]
        while active:
            inputs = [pool.next_inputs() for pool in active]
            before = time.perf_counter()
            policy, values = infer(*_joined(inputs))
            stats["network_s"] += time.perf_counter() - before
            stats["batches"] += 1
            rows = np.cumsum([0] + [len(board) for board, _ in inputs])
            answers = [(pool, policy[a:b], values[a:b]) for pool, a, b in zip(active, rows[:-1], rows[1:])]
            if threads is None:
                for pool, pool_policy, pool_values in answers:
                    pool.submit(pool_policy, pool_values)
            else:
                list(threads.map(lambda answer: answer[0].submit(answer[1], answer[2]), answers))
            for pool in active:
                for record in pool.take_finished():
                    send(record)
            active = [pool for pool in active if not pool.done()]
    stats.update(evaluations=sum(pool.evaluations for pool in pools), requests=sum(pool.requests for pool in pools),
                 cached=sum(pool.answered_without_network for pool in pools), process_s=time.perf_counter() - started)
    return stats


def _joined(inputs: list[tuple[np.ndarray, np.ndarray]]) -> tuple[np.ndarray, np.ndarray]:
    if len(inputs) == 1:
        return inputs[0]
    return np.concatenate([board for board, _ in inputs]), np.concatenate([hands for _, hands in inputs])
