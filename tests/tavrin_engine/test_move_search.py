import hashlib

import numpy as np
import pytest
import tavrin_engine as te
from test_pool import Config, drain, network, with_options

# Seeded pool games under several searches, as the engine played them before
# the search gathered leaves in batches: one leaf per network call must keep
# playing exactly these games.
GAMES_BEFORE_LEAF_BATCHES = {
    "puct": ("0cb738747daf9b79", dict(seed=3)),
    "gumbel_mixed": ("6894a902fd9f3624", dict(seed=5, gumbel_candidates=4, leaf_evaluation="mixed", playouts=2,
                                              playout_weight=0.5, exploration_fraction=0.25)),
    "cache_opening": ("3cb6798b541b75ef", dict(seed=7, evaluation_cache=5000, opening_sample_actions=2,
                                               first_play_reduction=0.2, skip_single_tile=True,
                                               exploration_fraction=0.25)),
    "playouts_ucb1": ("fa1446f55ffaf974", dict(seed=9, leaf_evaluation="playouts", selection="ucb1")),
}


@pytest.mark.parametrize("case", sorted(GAMES_BEFORE_LEAF_BATCHES))
def test_one_leaf_per_call_plays_the_games_of_before(case):
    digest, options = GAMES_BEFORE_LEAF_BATCHES[case]
    options = dict(options)
    config = Config(dim=7, sims_per_move=12, exploration_fraction=options.pop("exploration_fraction", 0.0))
    pool = te.SearchPool(with_options(config, leaf_batch=1, **options), games=3, total_games=4)
    hashed = hashlib.sha256()
    for record in drain(pool):
        for key in ("moves", "policy_tiles", "policy_shares", "payoffs"):
            hashed.update(np.ascontiguousarray(record[key]).tobytes())
    assert hashed.hexdigest()[:16] == digest


def run(search):
    calls = 0
    while (inputs := search.next_inputs()) is not None:
        calls += 1
        search.submit(*network(inputs[0]))
    return calls


def test_a_lone_search_chooses_as_the_pool_and_batches_its_leaves():
    game = te.Game(7)
    for tile in (0, 1, 2):
        game.apply(int(game.legal_tiles()[tile]))
    config = with_options(Config(sims_per_move=24), gumbel_candidates=4)
    pool = te.SearchPool.for_positions([game], config)
    expected = int(drain(pool)[0]["moves"][0, 1])
    one = te.MoveSearch(with_options(Config(), gumbel_candidates=4, leaf_batch=1), game)
    one.begin(24)
    eight = te.MoveSearch(with_options(Config(), gumbel_candidates=4, leaf_batch=8), game)
    eight.begin(24)
    assert run(one) == 25  # the root, then a leaf a call
    assert run(eight) < 10
    assert one.best_tile() == expected
    assert eight.simulations_done == one.simulations_done == 24


def test_the_tree_follows_the_game_and_starts_over_on_another():
    game = te.Game(7)
    search = te.MoveSearch(with_options(Config(), leaf_batch=4), game)
    search.begin(40)
    run(search)
    tile = search.best_tile()
    kept = dict(search.root_visits())[tile]
    game.apply(tile)
    assert search.sync(game) and search.root_visit_count == kept > 0
    other = te.Game(7)
    other.apply(int(other.legal_tiles()[-1]))
    assert not search.sync(other) and search.root_visit_count == 0
    with pytest.raises(ValueError, match="not legal"):
        search.play(10_000)


@pytest.mark.parametrize("width", [0, te.MAX_LEAF_BATCH + 1, "8"])
def test_a_leaf_batch_out_of_range_is_refused(width):
    with pytest.raises((ValueError, TypeError), match="leaf_batch"):
        te.MoveSearch(with_options(Config(), leaf_batch=width), te.Game(7))
