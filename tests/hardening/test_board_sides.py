"""Board sides from Python: every side from 4 to 64 plays, records up to
the largest supported side carry exact tile numbers, and unsupported sides
fail at once with the internal error and its message."""

import resource
import time

import pytest
import tavrin_self_play as m

from module_fakes import Config, ListQueue, LoopbackNetwork, plane, tensor_side
from outcomes import WIN_SHARES, check_training_record

START_CORNERS = lambda dim: (0, dim - 1, dim * dim - 1, dim * (dim - 1))  # noqa: E731 - players 0 to 3


def test_every_side_from_4_to_64_plays_against_random_players():
    for dim in range(4, 65):
        network, results = LoopbackNetwork(), ListQueue()
        assert m.play_test_against_random(1, Config(dim=dim), results, network, network) == 0, dim
        [(_, payoff)] = results.items
        assert payoff in WIN_SHARES
        first = network.requests[0][1]
        if dim != 5:  # at side 5 the two layouts have the same shape
            # Player 0's first tiles lie within a piece's reach of its corner.
            assert tensor_side(first) == dim and plane(first, 4) <= {(r, c) for r in range(5) for c in range(5)}


@pytest.mark.parametrize("dim, rep", [(4, 1), (13, 2), (64, 1), (128, 2)])
def test_training_records_use_whole_tile_numbers(dim, rep):
    network, results = LoopbackNetwork(), ListQueue()
    assert m.play_training_game(5, Config(dim=dim, rep=rep, sims_per_move=0), results, network, network) == 0
    check_training_record(results.items[0], 5, dim)
    moves = results.items[0][1][0]
    if dim >= 11:  # no first piece can reach another player's corner
        for player, corner in enumerate(START_CORNERS(dim)):
            # Every first piece covers its player's start corner, so the
            # corner's tile number comes back exactly, up to 128 * 128 - 1.
            assert (player, corner) in moves


def max_rss_kb():
    return resource.getrusage(resource.RUSAGE_SELF).ru_maxrss


@pytest.mark.parametrize("dim", [129, 1000, 2**32, 2**63, 2**64 - 1])
def test_unsupported_sides_fail_before_allocating(dim):
    network, results = LoopbackNetwork(), ListQueue()
    rss, started = max_rss_kb(), time.perf_counter()
    for play in (m.play_training_game, m.play_test_against_random):
        with pytest.raises(m.InternalError) as info:
            play(1, Config(dim=dim), results, network, network)
        assert info.value.args == (f"Board side {dim} is not supported: the largest side is 128",)
    assert time.perf_counter() - started < 1.0
    assert max_rss_kb() - rss < 1024  # no table for the side was built
    assert network.requests == [] and results.items == []


@pytest.mark.parametrize("dim", [0, 1, 2, 3])
def test_sides_below_4_are_the_documented_internal_error(dim):
    network, results = LoopbackNetwork(), ListQueue()
    with pytest.raises(m.InternalError) as info:
        m.play_training_game(1, Config(dim=dim), results, network, network)
    assert info.value.args[0].startswith("PieceVariant: requested length out of range")
    assert "side of at least 4" in info.value.args[0]
    assert network.requests == [] and results.items == []
