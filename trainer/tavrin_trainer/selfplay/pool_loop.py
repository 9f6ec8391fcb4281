"""One batched self-play pool driven by one network: the loop that a local
self-play process and a Ray self-play actor both run."""

from __future__ import annotations

import time
from typing import Any, Callable

from tavrin_trainer.run.settings import SearchSettings
from tavrin_trainer.selfplay.inference import Inference, make_inference


def load_inference_model(checkpoint: str, device: str) -> Any:
    """The checkpoint's network, ready to answer positions on ``device``."""
    from tavrin_trainer.learning.network import inference_copy, model_from_checkpoint
    from tavrin_trainer.run.directory import load_checkpoint

    return inference_copy(model_from_checkpoint(load_checkpoint(checkpoint))).to(device)


def load_inference(checkpoint: str, device: str, backend: str, planes_last: bool) -> Inference:
    """The checkpoint's network behind ``backend`` (see selfplay.inference)."""
    return make_inference(load_inference_model(checkpoint, device), backend, device, planes_last)


def play_pool(infer: Inference, search: SearchSettings, games: int, first_game: int, concurrent_games: int,
              send: Callable[[dict], None]) -> dict[str, float]:
    """Plays games ``first_game`` to ``first_game + games - 1``,
    ``concurrent_games`` at a time, one network batch per round; hands every
    finished record to ``send``. Returns the counters of ``SelfPlayStats``."""
    import tavrin_engine as te

    pool = te.SelfPlayPool(search, games=min(concurrent_games, games), total_games=games, first_game=first_game)
    started = time.perf_counter()
    stats = {"evaluations": 0, "batches": 0, "network_s": 0.0}
    while not pool.done():
        board, hands = pool.next_inputs()
        before = time.perf_counter()
        policy, values = infer(board, hands)
        stats["network_s"] += time.perf_counter() - before
        stats["batches"] += 1
        pool.submit(policy, values)
        for record in pool.take_finished():
            send(record)
    stats.update(evaluations=pool.evaluations, requests=pool.requests, cached=pool.answered_without_network,
                 process_s=time.perf_counter() - started)
    return stats
