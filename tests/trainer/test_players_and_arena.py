import threading

import numpy as np
import pytest
import tavrin_engine as te
import torch
from engine_marks import needs_engine

from tavrin_trainer.core.run_folder.run_directory import PRETRAINED_CHECKPOINT, load_checkpoint
from tavrin_trainer.core.settings.train_settings import resolve_settings
from tavrin_trainer.evaluation.arena import play_games, play_match, rotated_seatings
from tavrin_trainer.evaluation.players import (GreedyPlayer, NetworkPlayer, RandomPlayer, RolloutPlayer, SearchStopped,
                                             player_from_name)

pytestmark = needs_engine


def opened_corners(game, placement):
    """The greedy player's count, written out plainly from the planes."""
    dim = game.dim
    planes = game.state()
    occupied = planes[:4].any(axis=0).reshape(-1)
    own = planes[0].reshape(-1)
    cells = set(placement)

    def neighbours(tile, steps):
        r, c = divmod(tile, dim)
        return {(r + dr) * dim + c + dc for dr, dc in steps if 0 <= r + dr < dim and 0 <= c + dc < dim}

    edges = ((0, 1), (0, -1), (1, 0), (-1, 0))
    near = set().union(*(neighbours(t, edges) for t in cells))
    diagonal = set().union(*(neighbours(t, ((1, 1), (1, -1), (-1, 1), (-1, -1))) for t in cells))
    return sum(1 for t in diagonal - cells - near
               if not occupied[t] and not any(own[n] and n not in cells for n in neighbours(t, edges)))


def test_greedy_picks_the_largest_piece_with_the_most_opened_corners():
    checked = 0
    for dim, seed in ((8, 1), (20, 2)):
        game, rng = te.Game(dim), np.random.default_rng(seed)
        while not game.is_terminal():
            placements = game.placements()
            best = max((len(p), opened_corners(game, p)) for p in placements)
            expected = sorted(p for p in placements if (len(p), opened_corners(game, p)) == best)
            assert sorted(te.greedy_placements(game)) == expected
            checked += 1
            tiles = game.legal_tiles()
            game.apply(int(tiles[rng.integers(len(tiles))]))
    assert checked > 100


def test_players_choose_legal_tiles_and_keep_no_memory():
    game = te.Game(7)
    for _ in range(9):
        game.apply(int(game.legal_tiles()[0]))
    for make in (RandomPlayer, GreedyPlayer, lambda seed: RolloutPlayer(20, seed)):
        first, second = make(seed=3), make(seed=4)
        second.choose(te.Game(9))  # another game in between changes nothing but the random stream
        # A stream handed in replaces the player's own generator for that game.
        assert first.choose(game) == second.choose_many([game], [np.random.default_rng(3)])[0]
        assert first.choose(game) in set(game.legal_tiles())


def test_the_network_player_takes_the_most_probable_legal_tile_lowest_on_ties():
    class Preference(torch.nn.Module):
        def forward(self, planes, hands=None):  # prefers high tiles, with all tiles above 30 tied
            logits = torch.arange(planes.shape[2] * planes.shape[3], dtype=torch.float32).clamp(max=30)
            return logits.expand(len(planes), -1), torch.zeros(len(planes), 4)

    player = NetworkPlayer(Preference())
    games = [te.Game(8), te.Game(8)]
    games[1].apply(0)
    legal = [g.legal_tiles() for g in games]
    assert player.choose_many(games) == [int(min(t for t in tiles if t >= 30) if (tiles >= 30).any()
                                             else tiles.max()) for tiles in legal]
    searching = NetworkPlayer(Preference(), simulations=8)
    chosen = searching.choose_many(games)
    assert searching.name == "network@8" and all(t in set(g.legal_tiles()) for t, g in zip(chosen, games))


def test_a_match_rotates_the_seats_and_reports_per_seat_means():
    greedy, rand = GreedyPlayer(seed=1), RandomPlayer(seed=2)
    seatings = rotated_seatings(greedy, rand, 6)
    assert [s.index(greedy) for s in seatings] == [0, 1, 2, 3, 0, 1]
    results = play_games(seatings, dim=6)
    assert [r.seats.index("greedy") for r in results] == [0, 1, 2, 3, 0, 1]
    assert all(sum(r.payoffs) == pytest.approx(1) for r in results)

    match = play_match(GreedyPlayer(), RandomPlayer(), 8, dim=6, seed=9)
    payoffs = [r.payoffs[k % 4] for k, r in enumerate(
        play_games(rotated_seatings(GreedyPlayer(), RandomPlayer(), 8), dim=6, seed=9))]
    assert match.mean == pytest.approx(np.mean(payoffs))
    assert match.seat_means == pytest.approx([np.mean(payoffs[s::4]) for s in range(4)])
    assert match.stderr == pytest.approx(np.std(payoffs, ddof=1) / np.sqrt(8))


def test_worker_processes_play_every_game_once_and_a_seed_gives_the_same_games_however_split():
    seatings = rotated_seatings(RolloutPlayer(4), RandomPlayer(), 10)
    results = play_games(seatings, dim=6, workers=2, seed=5)
    assert [r.seats.index("rollout:4") for r in results] == [k % 4 for k in range(10)]
    assert all(sum(r.payoffs) == pytest.approx(1) for r in results)
    assert play_games(seatings, dim=6, workers=1, seed=5) == results
    assert play_games(seatings, dim=6, workers=1, seed=6) != results
    # A game's stream follows its number: games 3 and 7 alone replay as in the whole match.
    alone = play_games([seatings[3], seatings[7]], dim=6, seed=5, numbers=[3, 7])
    assert alone == [results[3], results[7]]
    assert play_games(rotated_seatings(GreedyPlayer(), GreedyPlayer(), 4), dim=6, seed=1) == \
        play_games(rotated_seatings(GreedyPlayer(), GreedyPlayer(), 4), dim=6, seed=1)


def test_a_mixed_player_is_named_with_its_playouts_replays_from_the_game_streams_and_is_timed():
    class Flat(torch.nn.Module):
        def forward(self, planes, hands=None):
            return torch.zeros(len(planes), planes.shape[2] * planes.shape[3]), torch.zeros(len(planes), 4)

    mixed = NetworkPlayer(Flat(), simulations=6, playouts=2, playout_weight=0.75)
    assert mixed.name == "mixed:2:0.75:network@6"
    seatings = rotated_seatings(mixed, GreedyPlayer(), 4)
    results = play_games(seatings, dim=6, seed=3)
    assert play_games(seatings, dim=6, seed=3) == results
    assert play_games(seatings, dim=6, seed=4) != results
    # Each game draws from its own stream, so a game replays alone, as in another worker's share.
    assert play_games([seatings[2]], dim=6, seed=3, numbers=[2]) == [results[2]]
    assert all(sum(r.seat_actions) == len(r.moves) for r in results)

    match = play_match(mixed, GreedyPlayer(), 4, dim=6, seed=3)
    assert match.candidate_seconds_per_action > 0 and match.opponent_seconds_per_action > 0
    assert "time per action" in match.describe()

    with pytest.raises(ValueError, match="simulations too"):
        NetworkPlayer(Flat(), playouts=1)
    for name in ("mixed:x:0.5:pretrained", "mixed:1:0.5:", "mixed:1:0.5:greedy", "mixed:0:0.5:pretrained",
                 "mixed:1:1.5:pretrained"):
        with pytest.raises(ValueError):
            player_from_name(name, simulations=4)
    shipped = player_from_name("mixed:3:0.25:pretrained", simulations=4, playouts=1, playout_weight=0.5)
    # The shipped network searches through the Gumbel root it was trained with, unless told otherwise.
    assert (shipped.name, shipped.playouts, shipped.playout_weight) == ("mixed:3:0.25:pretrained@4,gumbel-16", 3, 0.25)
    assert isinstance(te.rollout_search(te.Game(6), 8, 1), int)


def test_rollout_search_beats_random_players():
    # A backup that credited the wrong player would play worse than random.
    match = play_match(RolloutPlayer(100), RandomPlayer(), 48, dim=6, seed=1)
    assert match.mean > 0.4, match.describe()  # parity is 0.25


def test_the_shipped_network_plays_side_20_searches_as_trained_and_starts_runs(tmp_path):
    player = NetworkPlayer.pretrained(simulations=8)
    assert player.name == "mixed:1:0.5:pretrained@8,gumbel-16" and player.trained_side == 20
    game = te.Game(20)
    assert player.choose(game) in set(game.legal_tiles().tolist())
    assert player.last_simulations == [8]
    # The way it was trained to search, unless told otherwise; by the clock on request.
    assert player_from_name("pretrained").name == "mixed:1:0.5:pretrained@80,gumbel-16"
    assert player_from_name("pretrained", simulations=0).name == "pretrained"
    assert player_from_name("pretrained", simulations=8, gumbel_candidates=0, playouts=0).name == "pretrained@8"
    clock = player_from_name("pretrained", move_time=0.05)
    assert clock.name == "mixed:1:0.5:pretrained@50ms,gumbel-16"
    clock.choose(game)
    assert clock.last_simulations[0] >= 1
    with pytest.raises(ValueError, match="time budget"):
        player_from_name("pretrained", move_time=0)
    # A checkpoint that records nothing plays as before; one that records nonsense is refused by name.
    shipped = load_checkpoint(PRETRAINED_CHECKPOINT)
    torch.save({key: value for key, value in shipped.items() if key != "source"}, tmp_path / "plain.pt")
    assert player_from_name(str(tmp_path / "plain.pt")).name == "plain"
    torch.save({**shipped, "search": {"root": "gumbel", "gumbel_candidates": 1}}, tmp_path / "odd.pt")
    with pytest.raises(ValueError, match="gumbel_candidates=1"):
        player_from_name(str(tmp_path / "odd.pt"))
    shape = load_checkpoint(PRETRAINED_CHECKPOINT)["shape"]
    settings = resolve_settings({"init": "pretrained", "run_dir": "unused"}, None)
    assert (settings.channels, settings.blocks, settings.aux_heads) == (shape["channels"], shape["blocks"],
                                                                        shape["aux_heads"])


def test_lone_games_replay_the_batched_ones_and_a_stopped_search_leaves_the_player_whole():
    class Flat(torch.nn.Module):
        def forward(self, planes, hands=None):
            return torch.zeros(len(planes), planes.shape[2] * planes.shape[3]), torch.zeros(len(planes), 4)

    # Kept trees, three leaves a call: each game's searches are its own, alone or batched with the others.
    mixed = NetworkPlayer(Flat(), simulations=9, playouts=1, leaf_batch=3)
    seatings = rotated_seatings(mixed, RolloutPlayer(4), 4)
    alone = play_match(mixed, RolloutPlayer(4), 4, dim=6, seed=3, lone=True)
    assert list(alone.results) == play_games(seatings, dim=6, seed=3)
    assert "each played alone" in alone.describe()

    stop = threading.Event()
    stop.set()
    with pytest.raises(SearchStopped):
        mixed.choose(te.Game(6), stop=stop)
    assert mixed.choose(te.Game(6)) in te.Game(6).legal_tiles()
    with pytest.raises(ValueError, match="leaf_batch"):
        NetworkPlayer(Flat(), simulations=4, leaf_batch=0)
