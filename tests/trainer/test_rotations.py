import numpy as np
import tavrin_engine as te
import tavrin_self_play
from engine_marks import needs_engine
from network_double import CapturedRequests, Collector

from tavrin_trainer.learning.examples import Examples, examples_from_record
from tavrin_trainer.learning.symmetry import randomly_rotated, rotate_examples, rotate_planes


def first_position_of_each_player(positions):
    """From the requests of a side-20 game, the first one of each player,
    recognised by who already has squares (the mover has none yet)."""
    found = {}
    for _, planes in positions:
        if planes[0].any():
            continue
        others = tuple(bool(planes[k].any()) for k in (1, 2, 3))
        player = {(False, False, False): 0, (False, False, True): 1,
                  (False, True, True): 2, (True, True, True): 3}.get(others)
        if player is not None:
            found.setdefault(player, planes)
    return found


@needs_engine
def test_a_quarter_turn_carries_each_start_corner_to_the_next_player():
    network = CapturedRequests(seed=7)
    config = te.SearchSettings(dim=20, rep=1, sims_per_move=1, sample_moves=0, c_puct=1.0,
                             dirichlet_alpha=0.3, exploration_fraction=0.0)
    tavrin_self_play.play_test_game(0, config, Collector(), network.queue("model"), network.queue("baseline"),
                                    network)
    first = first_position_of_each_player(network.positions)
    assert sorted(first) == [0, 1, 2, 3]
    # On side 20 the first pieces cannot reach another corner, so each player's
    # opening legal tiles are player 0's, turned once per seat.
    for player in (1, 2, 3):
        np.testing.assert_array_equal(first[player][4], rotate_planes(first[0][4], player))


def random_examples(dim=6, count=5, seed=0):
    rng = np.random.default_rng(seed)
    planes = rng.random((count, 5, dim, dim)) < 0.3
    policy = (rng.random((count, dim * dim)) * planes[:, 4].reshape(count, -1)).astype(np.float32)
    return Examples(planes, policy, rng.random((count, 4)).astype(np.float32))


def test_rotation_moves_tile_row_col_to_col_and_mirrored_row():
    dim = 6
    examples = random_examples(dim)
    turned = rotate_examples(examples, 1)
    for r in range(dim):
        for c in range(dim):
            np.testing.assert_array_equal(turned.planes[:, :, c, dim - 1 - r], examples.planes[:, :, r, c])
            np.testing.assert_array_equal(turned.policy[:, c * dim + dim - 1 - r], examples.policy[:, r * dim + c])
    np.testing.assert_array_equal(turned.value, examples.value)


@needs_engine
def test_rotated_policy_targets_stay_on_the_rotated_legal_tiles():
    network, results = CapturedRequests(seed=3), Collector()
    config = te.SearchSettings(dim=8, rep=1, sims_per_move=8, sample_moves=20, c_puct=1.5,
                             dirichlet_alpha=0.5, exploration_fraction=0.25)
    assert tavrin_self_play.play_training_game(0, config, results, network.queue(), network) == 0
    examples = examples_from_record(results.items[0][1], 8)
    for turns in range(4):
        turned = rotate_examples(examples, turns)
        legal = turned.planes[:, 4].reshape(len(turned), -1)
        assert (turned.policy[~legal] == 0).all()
        np.testing.assert_allclose(turned.policy.sum(axis=1), 1, atol=1e-5)


def test_four_quarter_turns_are_the_identity_and_random_turns_keep_pairs_together():
    examples = random_examples(count=40)
    back = rotate_examples(rotate_examples(examples, 3), 1)
    np.testing.assert_array_equal(back.planes, examples.planes)
    # Each policy marks exactly its own legal tiles, which no quarter turn of
    # these random planes maps onto themselves: planes and policy turned apart
    # would show at once.
    legal = examples.planes[:, 4].reshape(len(examples), -1)
    paired = Examples(examples.planes, legal / legal.sum(axis=1, keepdims=True), examples.value)
    mixed = randomly_rotated(paired, np.random.default_rng(1))
    np.testing.assert_array_equal(mixed.policy > 0, mixed.planes[:, 4].reshape(len(examples), -1))
    turned = sum(not np.array_equal(a, b) for a, b in zip(mixed.planes, examples.planes))
    assert 20 <= turned < 40  # about three in four positions turned
