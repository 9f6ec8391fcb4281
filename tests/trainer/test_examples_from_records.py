import copy

import numpy as np
import pytest
import tavrin_engine as te
from engine_marks import needs_engine
from network_double import CapturedRequests, Collector

from tavrin_trainer.learning.examples import RecordError, examples_from_record

pytestmark = needs_engine


def engine_record(dim: int, rep: int, sims: int = 12):
    import tavrin_self_play

    network, results = CapturedRequests(seed=dim * 10 + rep), Collector()
    config = te.SearchSettings(dim=dim, rep=rep, sims_per_move=sims, sample_moves=8, c_puct=1.5,
                               dirichlet_alpha=0.5, exploration_fraction=0.25)
    assert tavrin_self_play.play_training_game(3, config, results, network.queue(), network) == 0
    (worker_id, record), = results.items
    assert worker_id == 3
    return record, network


@pytest.mark.parametrize("rep", [1, 2])
def test_the_replayed_positions_are_exactly_the_tensors_the_engine_sent(rep):
    # With one simulation per action each search leaf becomes the next root,
    # so the engine sends every position of the game once, in order.
    dim = 7
    record, network = engine_record(dim, rep, sims=1)
    examples = examples_from_record(record, dim)
    sent = np.stack([position for _, position in network.positions])
    assert len(examples) == len(record[0]) == len(sent)
    np.testing.assert_array_equal(examples.planes, sent)


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


def test_auxiliary_targets_are_the_final_board_seen_by_each_mover():
    from tavrin_trainer.learning.examples import EMPTY
    from tavrin_trainer.learning.symmetry import randomly_rotated

    dim = 8
    record, _ = engine_record(dim, rep=1)
    examples = randomly_rotated(examples_from_record(record, dim), np.random.default_rng(1))
    # Squares never move: a square of relative player k now is k's at the end,
    # under any quarter turn; and every cell of the final board has one class.
    for plane in range(4):
        assert (examples.owners[examples.planes[:, plane]] == plane).all()
    finals = {(examples.owners == k).sum(axis=(1, 2))[0] for k in range(4)}
    assert all(0 < count < dim * dim for count in finals)
    assert ((examples.owners >= 0) & (examples.owners <= EMPTY)).all()
    np.testing.assert_allclose(examples.score.sum(axis=1), 0, atol=1e-5)
    # The score margin ranks the winners first, from every mover's seat.
    for value, score in zip(examples.value, examples.score):
        assert set(np.flatnonzero(value == value.max())) == set(np.flatnonzero(score == score.max()))


def test_a_legal_tile_missing_from_the_policy_list_stays_on_the_legal_plane():
    # A tile whose prior underflows to 0 gets no child and so no policy entry;
    # it is still legal and the network must see it as such.
    dim = 6
    record, network = engine_record(dim, rep=1, sims=1)
    moves, policies, payoffs = copy.deepcopy(record)
    step = next(i for i, p in enumerate(policies) if len(p) > 2)
    played = moves[step][1]
    dropped = next(t for t, _ in policies[step] if t != played)
    kept = [(t, s) for t, s in policies[step] if t != dropped]
    total = sum(s for _, s in kept)
    policies[step] = [(t, s / total) for t, s in kept]
    examples = examples_from_record((moves, policies, payoffs), dim)
    assert examples.planes[step, 4].reshape(-1)[dropped]
    assert examples.policy[step, dropped] == 0
    np.testing.assert_array_equal(examples.planes, np.stack([p for _, p in network.positions]))


@pytest.fixture(scope="module")
def small_record():
    return engine_record(5, rep=1, sims=2)[0]


def corrupted(record, change):
    moves, policies, payoffs = copy.deepcopy(record)
    moves, policies, payoffs = list(moves), list(policies), list(payoffs)
    change(moves, policies, payoffs)
    return moves, policies, payoffs


def other_tile(policy, avoid):
    return next(t for t in range(25) if t not in {tile for tile, _ in policy} | avoid)


@pytest.mark.parametrize("change, message", [
    (lambda m, p, v: p.pop(), "policy lists"),
    (lambda m, p, v: (m.pop(), p.pop()), "before the game does"),
    (lambda m, p, v: (m.append(m[-1]), p.append(p[-1])), "already over"),
    (lambda m, p, v: m.__setitem__(1, (2, m[1][1])), "player 0 was to move|player 2 moved"),
    (lambda m, p, v: m.__setitem__(1, (m[1][0], 30)), "off the board"),
    (lambda m, p, v: m.__setitem__(1, (4, m[1][1])), "not 0 to 3"),
    (lambda m, p, v: p.__setitem__(1, [(other_tile(p[1], set()), 1.0)]), "not legal|not in its policy list"),
    (lambda m, p, v: p.__setitem__(1, p[1] + [(m[0][1], 0.0)]), "not legal"),
    (lambda m, p, v: p.__setitem__(1, [(m[1][1], float("nan"))]), "sum to 1"),
    (lambda m, p, v: p.__setitem__(1, [(m[1][1], 0.5)]), "sum to 1"),
    (lambda m, p, v: p.__setitem__(1, [(m[1][1], 0.5), (m[1][1], 0.5)]), "listed twice"),
    (lambda m, p, v: p.__setitem__(1, []), "empty policy"),
    (lambda m, p, v: v.append(0.0), "four numbers"),
    (lambda m, p, v: v.__setitem__(slice(None), v[1:] + v[:1]) if len(set(v)) > 1 else v.__setitem__(
        slice(None), [1.0, 0.0, 0.0, 0.0]), "not the replayed game's"),
])
def test_corrupt_records_are_refused(small_record, change, message):
    with pytest.raises(RecordError, match=message):
        examples_from_record(corrupted(small_record, change), 5)


def test_a_record_that_is_not_a_triple_is_refused():
    with pytest.raises(RecordError, match="moves, policies, payoffs"):
        examples_from_record(None, 5)


def pool_records(extended: bool, rep: int, dim: int = 7):
    import tavrin_engine as te

    settings = te.SearchSettings(dim=dim, rep=rep, sims_per_move=8, sample_moves=6, exploration_fraction=0.25,
                                 skip_single_tile=True, full_search_fraction=0.5, reduced_sims=2,
                                 extended_planes=extended, evaluation_cache=1024, seed=4)
    pool, rng = te.SearchPool(settings, games=3), np.random.default_rng(0)
    while not pool.done():
        board, _ = pool.next_inputs()
        pool.submit(rng.normal(size=(len(board), dim * dim)).astype(np.float32),
                    rng.normal(size=(len(board), 4)).astype(np.float32))
    return pool.take_finished()


@pytest.mark.parametrize("extended, rep", [(False, 1), (True, 2)])
def test_the_pool_s_own_examples_are_those_of_its_replayed_games(extended, rep):
    from tavrin_trainer.learning.examples import FIELDS, examples_from_pool, examples_from_pool_record

    for record in pool_records(extended, rep):
        own, replayed = examples_from_pool(record, 7, extended), examples_from_pool_record(record, 7, extended)
        assert 0 < len(own) < len(record["moves"])  # reduced searches give no position
        for name in FIELDS:
            np.testing.assert_allclose(getattr(own, name), getattr(replayed, name), atol=1e-6, err_msg=name)


def moved_to_an_illegal_tile(record):
    first = np.flatnonzero(np.diff(record["policy_offsets"]))[0]  # the first example's action
    record["policy_tiles"][record["policy_offsets"][first]] = np.flatnonzero(~record["example_planes"][0, 4])[0]


@pytest.mark.parametrize("change, message", [
    (moved_to_an_illegal_tile, "not legal"),
    (lambda r: r.__setitem__("example_value", r["example_value"][1:]), r"expected float32\["),
    (lambda r: r["example_value"].__setitem__((0, 0), np.nan), "value target"),
    (lambda r: r["example_owners"].__setitem__((0, 0, 0), 7), "ownership"),
    (lambda r: r.pop("example_hands"), "lacks example_hands"),
])
def test_a_corrupt_pool_example_is_refused(change, message):
    from tavrin_trainer.learning.examples import examples_from_pool

    record = copy.deepcopy(pool_records(True, 1, dim=6)[0])
    change(record)
    with pytest.raises(RecordError, match=message):
        examples_from_pool(record, 6, extended=True)
