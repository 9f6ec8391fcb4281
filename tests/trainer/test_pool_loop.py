import numpy as np
import tavrin_engine as te
import torch
from engine_marks import needs_engine

from tavrin_trainer.selfplay.pool_loop import play_pool

pytestmark = needs_engine


def position_answers(board, hands):
    """A network stand-in whose answer to a row depends on that row alone."""
    count, dim = len(board), board.shape[-1]
    cells = board.reshape(count, board.shape[1], dim * dim).astype(np.float32)
    policy = cells[:, 0] * 0.5 - cells[:, 1] * 0.3 + np.sin(np.arange(dim * dim) * 0.37) + hands.sum(1, keepdims=True) * 0.01
    values = np.stack([cells[:, k].sum(axis=1) * 0.05 for k in range(4)], axis=1)
    return torch.from_numpy(policy.astype(np.float32)), torch.from_numpy(values.astype(np.float32))


def test_searches_in_threads_play_the_very_games_of_one_pool():
    search = te.SearchSettings(dim=7, sims_per_move=8, sample_moves=4, exploration_fraction=0.25, extended_planes=True,
                               skip_single_tile=True, evaluation_cache=512, seed=9)
    alone, threaded = [], []
    play_pool(position_answers, search, 7, 10, 6, alone.append)
    stats = play_pool(position_answers, search, 7, 10, 6, threaded.append, search_threads=3)
    alone.sort(key=lambda r: r["index"])
    threaded.sort(key=lambda r: r["index"])
    assert [r["index"] for r in threaded] == list(range(10, 17))
    for a, b in zip(alone, threaded):
        for key in ("moves", "policy_shares", "example_planes", "example_hands", "example_value"):
            np.testing.assert_array_equal(a[key], b[key], err_msg=key)
    assert stats["evaluations"] + stats["cached"] == stats["requests"] > 0
