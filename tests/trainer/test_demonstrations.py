import numpy as np
import pytest
import tavrin_engine as te
from engine_marks import needs_engine

from tavrin_trainer.selfplay.demonstrations import demonstration_examples, greedy_examples

pytestmark = needs_engine


def test_greedy_demonstrations_target_legal_tiles_and_the_game_s_outcome():
    dim = 6
    examples = greedy_examples(3, dim, seed=0, extended=True)
    assert examples.planes.shape[1:] == (6, dim, dim) and examples.hands.shape[1:] == (84,)
    assert examples.hands[0].all()  # nothing laid yet: every piece in every hand
    legal = examples.planes[:, 4].reshape(len(examples), -1)
    np.testing.assert_allclose(examples.policy.sum(axis=1), 1, atol=1e-6)
    assert not examples.policy[~legal].any()
    # The first position of every game is the empty board, player 0 to move,
    # whose greedy targets are the cells of the largest pieces through the corner.
    first = np.flatnonzero(~examples.planes[:, :4].any(axis=(1, 2, 3)) & ~examples.planes[:, 5].any(axis=(1, 2)))
    assert len(first) == 3 and examples.policy[first[0], 0] > 0
    for plane in range(4):  # final owners line up with every mover's view
        assert (examples.owners[examples.planes[:, plane]] == plane).all()
    np.testing.assert_allclose(examples.value.sum(axis=1), 1, atol=1e-6)


def test_rollout_demonstrations_follow_the_playouts_and_do_not_depend_on_the_worker_count():
    alone = demonstration_examples("rollout:16", 2, 6, seed=4, extended=True)
    shared = demonstration_examples("rollout:16", 2, 6, seed=4, extended=True, workers=2)
    for field in ("planes", "hands", "policy", "value"):
        np.testing.assert_array_equal(getattr(alone, field), getattr(shared, field))
    legal = alone.planes[:, 4].reshape(len(alone), -1)
    np.testing.assert_allclose(alone.policy.sum(axis=1), 1, atol=1e-6)
    assert not alone.policy[~legal].any()
    # The first target is the first search's playout shares.
    _, tiles, visits = te.rollout_visits(te.Game(6), 16, int(np.random.default_rng([4, 6, 0]).integers(2**63)))
    np.testing.assert_allclose(alone.policy[0, tiles], visits / 16)
    with pytest.raises(ValueError, match="greedy or rollout:N"):
        demonstration_examples("rollout:0", 1, 6, seed=0)
