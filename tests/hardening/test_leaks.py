"""Hundreds of small games in one process: resident memory stays flat and
every argument object keeps its reference count, on success and on every
failure path."""

import gc
import os
import sys

import pytest
import tavrin_self_play as m

from module_fakes import Config, ListQueue, LoopbackNetwork

GAMES = 300
# Allowed growth of resident memory over all games: allocator noise, far
# below what keeping one tree or record per game would add.
RSS_SLACK_KB = 4096


def resident_kb():
    with open("/proc/self/statm") as statm:
        pages = int(statm.read().split()[1])
    return pages * 4096 // 1024


class Failing(LoopbackNetwork):
    def __init__(self, n):
        super().__init__(fail_recv_at=n % 7, error=RuntimeError("server went away"))


def one_round(i, worker_id, config, results, network):
    """A training game, a game against random players, a failing game, an
    unreadable config and an internal error, all with the same objects."""
    assert m.play_training_game(worker_id, config, results, network, network) == 0
    assert m.play_test_against_random(worker_id, config, results, network, network) == 0
    failing = Failing(i)
    assert m.play_training_game(worker_id, config, results, failing, failing) == 1
    failing.error.__traceback__ = None  # its frames refer to `failing` itself
    with pytest.raises(m.InternalError):
        m.play_training_game(worker_id, Config(dim="five"), results, network, network)
    with pytest.raises(m.InternalError):
        m.play_training_game(worker_id, Config(dim=5, rep=7), results, network, network)
    results.items.clear()
    network.requests.clear()


def test_many_games_keep_memory_and_reference_counts(capfd):
    worker_id = int("123456789")  # not a cached small int
    config = Config(dim=5, sims_per_move=3)
    results, network = ListQueue(), LoopbackNetwork()
    arguments = [worker_id, config, results, network]

    for i in range(20):  # warm up: catalogue for the side, allocator pools
        one_round(i, worker_id, config, results, network)
    gc.collect()
    counts, rss = [sys.getrefcount(a) for a in arguments], resident_kb()

    for i in range(GAMES):
        one_round(i, worker_id, config, results, network)
    gc.collect()
    capfd.readouterr()

    assert [sys.getrefcount(a) for a in arguments] == counts
    if "libasan" in os.environ.get("LD_PRELOAD", ""):
        pytest.skip("resident memory is not comparable under AddressSanitizer: freed blocks stay quarantined")
    assert resident_kb() - rss < RSS_SLACK_KB
