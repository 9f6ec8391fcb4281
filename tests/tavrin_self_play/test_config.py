import math

import pytest
import tavrin_self_play as m

from module_fakes import Config, ListQueue, LoopbackNetwork


def play(config):
    results, network = ListQueue(), LoopbackNetwork()
    status = m.play_training_game(1, config, results, network, network)
    return status, results, network


@pytest.mark.parametrize(
    "field, value, cause",
    [
        ("dim", 20.0, TypeError),
        ("sims_per_move", -1, OverflowError),
        ("sample_moves", 2**64, OverflowError),
        ("dirichlet_alpha", "0.3", TypeError),
        ("c_puct", None, TypeError),
    ],
)
def test_unconvertible_field_names_the_field_and_keeps_the_cause(field, value, cause):
    config = Config(dim=8)
    setattr(config, field, value)
    results, network = ListQueue(), LoopbackNetwork()
    with pytest.raises(m.InternalError) as info:
        m.play_training_game(1, config, results, network, network)
    expected = f"failed to extract field Config.{field}"
    assert info.value.args == (f"TypeError: {expected}",)
    wrapped = info.value.__cause__
    assert type(wrapped) is TypeError and str(wrapped) == expected
    assert type(wrapped.__cause__) is cause
    assert results.items == [] and network.requests == []


def test_missing_attribute_stops_the_reading_there():
    reads = []

    class Partial:
        def __getattr__(self, name):
            reads.append(name)
            if name == "c_puct":
                raise AttributeError("no c_puct here")
            return getattr(Config(dim=8), name)

    with pytest.raises(m.InternalError) as info:
        m.play_test_against_random(1, Partial(), None, None, None)
    assert info.value.args == ("AttributeError: no c_puct here",)
    assert type(info.value.__cause__) is AttributeError
    assert reads == ["dim", "rep", "sims_per_move", "sample_moves", "c_puct"]


def test_lenient_conversions_are_accepted():
    class AsClass:  # class attributes work, ints stand in for floats, bools for ints
        dim, rep, sims_per_move, sample_moves = 8, True, 1, 2
        c_puct, dirichlet_alpha, exploration_fraction = 2, 1, 0

    status, results, network = play(AsClass)
    assert status == 0 and len(results.items) == 1
    assert len(network.requests[0][1]) == 5  # rep True is planes first


def test_rep_outside_one_and_two_fails_at_the_first_evaluation():
    status_or_error = None
    results, network = ListQueue(), LoopbackNetwork()
    with pytest.raises(m.InternalError, match="^Invalid representation type$"):
        status_or_error = m.play_training_game(1, Config(dim=8, rep=3), results, network, network)
    assert status_or_error is None and network.requests == [] and results.items == []


@pytest.mark.parametrize(
    "changes",
    [{"exploration_fraction": 1e40}, {"exploration_fraction": math.nan}, {"c_puct": math.inf}],
)
def test_non_finite_settings_surface_as_a_bad_score(changes):
    with pytest.raises(m.InternalError, match="^NaN/Inf in UCB score$"):
        play(Config(dim=8, **changes))


@pytest.mark.parametrize("alpha", [0.0, -0.5, math.nan])
def test_noise_concentration_must_be_positive(alpha):
    with pytest.raises(m.InternalError, match="Dirichlet"):
        play(Config(dim=8, dirichlet_alpha=alpha))
