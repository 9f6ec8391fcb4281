import numpy as np
import pytest
from conftest import needs_engine
from network_double import CapturedRequests, Collector

from tavrin_trainer.records import RecordError, examples_from_record
from tavrin_trainer.settings import SearchConfig


def engine_record(dim: int, rep: int, sims: int = 12):
    import tavrin_self_play

    network, results = CapturedRequests(seed=dim * 10 + rep), Collector()
    config = SearchConfig(dim=dim, rep=rep, sims_per_move=sims, sample_moves=8, c_puct=1.5,
                          dirichlet_alpha=0.5, exploration_fraction=0.25)
    assert tavrin_self_play.play_training_game(3, config, results, network.queue(), network) == 0
    (worker_id, record), = results.items
    assert worker_id == 3
    return record, network


@needs_engine
@pytest.mark.parametrize("rep", [1, 2])
def test_every_rebuilt_position_is_one_the_engine_sent(rep):
    dim = 7
    record, network = engine_record(dim, rep)
    examples = examples_from_record(record, dim)
    # Every search root was sent to the network when it was expanded, as a root or as a leaf.
    sent = {position.tobytes() for _, position in network.positions}
    assert len(examples) == len(record[0]) > 0
    missing = [i for i, planes in enumerate(examples.planes) if planes.tobytes() not in sent]
    assert missing == []


@needs_engine
def test_targets_of_an_engine_record():
    dim = 8
    record, _ = engine_record(dim, rep=1)
    moves, policies, payoffs = record
    examples = examples_from_record(record, dim)
    np.testing.assert_allclose(examples.policy.sum(axis=1), 1, atol=1e-5)
    legal = examples.planes[:, 4].reshape(len(examples), -1)
    assert not (examples.policy[~legal]).any()
    for (player, tile), value, plane4 in zip(moves, examples.value, legal):
        assert plane4[tile]
        assert value.tolist() == [np.float32(payoffs[(player + k) % 4]) for k in range(4)]


def handmade_record():
    # Side 5: player 0 lays tile 0, then player 1 tile 4; player 2 is to move next.
    moves = [(0, 0), (1, 4), (2, 24)]
    policies = [[(0, 1.0)], [(4, 0.75), (9, 0.25)], [(24, 0.5), (19, 0.5)]]
    return moves, policies, [0.0, 0.0, 1.0, 0.0]


def test_planes_are_relative_to_the_player_of_each_action():
    examples = examples_from_record(handmade_record(), 5)
    last = examples.planes[2]  # player 2 to move
    assert last[2, 0, 0] and last[3, 0, 4]  # player 0 two seats on, player 1 just before
    assert not last[0].any() and not last[1].any()
    assert last[4].sum() == 2 and last[4, 4, 4] and last[4, 3, 4]
    assert examples.planes[1, 3, 0, 0] and examples.planes[1].sum() == 1 + 2
    assert examples.policy[1, 4] == 0.75 and examples.policy[1, 9] == 0.25
    assert examples.value[2].tolist() == [1, 0, 0, 0] and examples.value[0].tolist() == [0, 0, 1, 0]


def corrupted(change):
    moves, policies, payoffs = handmade_record()
    change(moves, policies, payoffs)
    return moves, policies, payoffs


@pytest.mark.parametrize("change, message", [
    (lambda m, p, v: p.pop(), "policy lists"),
    (lambda m, p, v: m.__setitem__(1, (1, 0)), "already occupied"),
    (lambda m, p, v: m.__setitem__(1, (1, 30)), "off the board"),
    (lambda m, p, v: m.__setitem__(1, (4, 4)), "not 0 to 3"),
    (lambda m, p, v: p.__setitem__(1, [(9, 1.0)]), "not in its policy list"),
    (lambda m, p, v: p.__setitem__(1, [(4, 0.5), (0, 0.5)]), "occupied tile"),
    (lambda m, p, v: p.__setitem__(1, [(4, float("nan")), (9, 0.5)]), "sum to 1"),
    (lambda m, p, v: p.__setitem__(1, [(4, 0.5), (9, 0.1)]), "sum to 1"),
    (lambda m, p, v: p.__setitem__(1, [(4, 0.5), (4, 0.5)]), "listed twice"),
    (lambda m, p, v: p.__setitem__(1, []), "empty policy"),
    (lambda m, p, v: v.append(0.0), "four numbers"),
    (lambda m, p, v: v.__setitem__(0, 1.0), "sum to 1"),
])
def test_corrupt_records_are_refused(change, message):
    with pytest.raises(RecordError, match=message):
        examples_from_record(corrupted(change), 5)


def test_a_record_that_is_not_a_triple_is_refused():
    with pytest.raises(RecordError, match="moves, policies, payoffs"):
        examples_from_record(None, 5)
