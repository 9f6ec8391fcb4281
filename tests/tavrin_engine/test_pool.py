import pickle
from dataclasses import dataclass, replace
from types import SimpleNamespace

import numpy as np
import pytest
import tavrin_engine as te


@dataclass
class Config:
    dim: int = 7
    rep: int = 1
    sims_per_move: int = 16
    sample_moves: int = 0
    c_puct: float = 1.5
    dirichlet_alpha: float = 0.3
    exploration_fraction: float = 0.0


def with_options(config, **options):
    """A settings object: the seven config attributes and the pool's optional ones."""
    return SimpleNamespace(**vars(config), **options)


def network(planes):
    """A deterministic stand-in: logits that depend on the position."""
    if planes.shape[1] != 5:
        planes = planes.transpose(0, 3, 1, 2)
    b, _, d, _ = planes.shape
    p = planes.reshape(b, 5, d * d).astype(np.float32)
    policy = p[:, 0] * 0.5 - p[:, 1] * 0.3 + p[:, 2:4].sum(axis=1) * 0.2 + np.sin(np.arange(d * d) * 0.37)
    values = np.stack([p[:, k].sum(axis=1) * 0.05 for k in range(4)], axis=1)
    return policy.astype(np.float32), values.astype(np.float32)


def drain(pool, answer=network):
    while not pool.done():
        pool.submit(*answer(pool.next_batch()))
    return sorted(pool.take_finished(), key=lambda r: r["index"])


def policies_of(record):
    o = record["policy_offsets"]
    return [list(zip(record["policy_tiles"][o[i]:o[i + 1]].tolist(), record["policy_shares"][o[i]:o[i + 1]].tolist()))
            for i in range(len(record["moves"]))]


class LoopbackNetwork:
    """The module's queue and pipe, answered by `network` one position at a time."""

    def __init__(self):
        self.reply, self.results = None, []

    def put(self, item):
        _, tensor = item
        policy, values = network(np.array(tensor, dtype=bool)[None])
        self.reply = (policy[0].tolist(), values[0].tolist())

    def recv(self):
        return self.reply


class Results(list):
    def put(self, item):
        self.append(item)


@pytest.mark.parametrize("rep", [1, 2])
def test_a_pool_of_one_game_plays_the_module_training_game_exactly(rep):
    import tavrin_self_play

    config = Config(rep=rep)
    results, link = Results(), LoopbackNetwork()
    assert tavrin_self_play.play_training_game(0, config, results, link, link) == 0
    moves, policies, payoffs = results[0][1]
    record, = drain(te.SearchPool(config, games=1))
    assert [tuple(m) for m in record["moves"].tolist()] == [tuple(m) for m in moves]
    assert policies_of(record) == [[tuple(entry) for entry in p] for p in policies]
    assert record["payoffs"].tolist() == pytest.approx(list(payoffs), abs=0)


def test_records_replay_to_their_payoffs_and_final_targets():
    records = drain(te.SearchPool(Config(dim=8, sample_moves=6, exploration_fraction=0.25), games=3,
                                    total_games=5))
    assert [r["index"] for r in records] == [0, 1, 2, 3, 4]
    for record in records:
        game, movers = te.Game(8), []
        for player, tile in record["moves"].tolist():
            assert game.current_player == player
            movers.append(player)
            game.apply(tile)
        assert game.is_terminal() and np.allclose(record["payoffs"], game.payoff())
        assert all(sum(s for _, s in p) == pytest.approx(1) for p in policies_of(record))
        # The final owner of every cell and the score margins, from each mover on.
        owners, score = te.final_targets(game, np.asarray(movers, dtype=np.int8))
        absolute = np.full(64, 4)
        for player, tile in record["moves"].tolist():
            absolute[tile] = player
        for row, mover in enumerate(movers):
            relative = np.where(absolute == 4, 4, (absolute - mover) % 4)
            np.testing.assert_array_equal(owners[row].reshape(-1), relative)
            margins = (np.asarray(game.scores()) - np.mean(game.scores())) / 16
            np.testing.assert_allclose(score[row], np.roll(margins, -mover), rtol=1e-6)
        np.testing.assert_array_equal(record["example_owners"], owners)  # every action is searched here
        np.testing.assert_array_equal(record["example_score"], score)
    with pytest.raises(ValueError, match="not over"):
        te.final_targets(te.Game(8), np.zeros(1, np.int8))
    with pytest.raises(ValueError, match="players 0 to 3"):
        te.final_targets(game, np.array([0, 4], np.int8))
    with pytest.raises(ValueError, match="players 0 to 3"):
        te.final_targets(game, np.array([256]))  # not narrowed to player 0


def test_forced_actions_skip_the_network_and_reduced_searches_leave_no_target():
    config = Config(dim=8, sample_moves=6)
    searched = te.SearchPool(with_options(config, seed=5), games=4)
    searched_actions = sum(len(record["moves"]) for record in drain(searched))
    skipping_pool = te.SearchPool(with_options(config, skip_single_tile=True, seed=5), games=4)
    skipping, *others = drain(skipping_pool)
    skipping_actions = sum(len(record["moves"]) for record in [skipping, *others])
    # About a fifth of the actions are forced: they ask the network nothing.
    assert skipping_pool.requests / skipping_actions < 0.9 * searched.requests / searched_actions
    game, forced = te.Game(8), 0
    for (player, tile), policy in zip(skipping["moves"].tolist(), policies_of(skipping)):
        if len(game.legal_tiles()) == 1:  # the target a search would give, without one
            assert policy == [(tile, 1.0)]
            forced += 1
        game.apply(tile)
    assert forced > 0
    assert len(skipping["example_value"]) == len(skipping["moves"])
    capped, = drain(te.SearchPool(with_options(config, full_search_fraction=0.25, reduced_sims=2), games=1))
    empty = sum(p == [] for p in policies_of(capped))
    assert 0 < empty < len(capped["moves"])
    assert len(capped["example_value"]) == len(capped["moves"]) - empty


def first_five(network_answer):
    """`network` for pools that send the extended planes: it reads the five."""
    def answer(planes):
        return network_answer(planes[:, :5] if planes.shape[1] in (5, 90) else planes[..., :5])
    return answer


@pytest.mark.parametrize("extended", [False, True])
def test_the_evaluation_cache_saves_network_rows_and_changes_no_game(extended):
    config = with_options(Config(dim=8, sample_moves=6, exploration_fraction=0.25), seed=11,
                          extended_planes=extended, skip_single_tile=True)
    plain, cached = te.SearchPool(config, games=6, total_games=8), \
        te.SearchPool(with_options(config, evaluation_cache=4096), games=6, total_games=8)
    without, with_cache = drain(plain, first_five(network)), drain(cached, first_five(network))
    for a, b in zip(without, with_cache):
        for key in a:
            np.testing.assert_array_equal(a[key], b[key], err_msg=key)
    assert cached.requests == plain.requests == plain.evaluations
    assert cached.evaluations + cached.answered_without_network == cached.requests
    assert cached.evaluations < 0.8 * plain.evaluations
    # A tiny cache keeps answering correctly while it keeps replacing entries.
    tiny = te.SearchPool(with_options(config, evaluation_cache=1), games=6, total_games=8)
    for a, b in zip(without, drain(tiny, first_five(network))):
        np.testing.assert_array_equal(a["moves"], b["moves"])


@pytest.mark.parametrize("rep", [1, 2])
def test_the_inputs_with_hands_are_the_widened_planes(rep):
    pool = te.SearchPool(with_options(Config(dim=6, rep=rep), extended_planes=True, seed=2), games=3)
    for _ in range(20):
        planes = pool.next_batch()
        board, hands = pool.next_inputs()
        if rep == 2:
            planes = planes.transpose(0, 3, 1, 2)
            board = board.transpose(0, 3, 1, 2)
        np.testing.assert_array_equal(board, planes[:, :6])
        np.testing.assert_array_equal(hands, planes[:, 6:, 0, 0])
        assert (planes[:, 6:] == planes[:, 6:, :1, :1]).all()
        pool.submit(*first_five(network)(pool.next_batch()))
    five = te.SearchPool(Config(dim=6), games=2)
    board, hands = five.next_inputs()
    assert board.shape == (2, 5, 6, 6) and hands.shape == (2, 0)


def test_bad_answers_raise_and_change_nothing():
    torch = pytest.importorskip("torch")
    pool = te.SearchPool(Config(), games=2)
    planes = pool.next_batch()
    policy, values = network(planes)
    nan_policy = policy.copy()
    nan_policy[1, np.flatnonzero(planes[1, 4])[0]] = np.nan
    infinite_values = values.copy()
    infinite_values[0, 2] = np.inf
    for bad, error, message in [
        ((policy[:1], values[:1]), ValueError, r"must have shape \(2, 49\), got \(1, 49\)"),
        ((policy.astype(np.float64), values), TypeError, "policy_logits must be float32"),
        ((nan_policy, values), ValueError, "row 1 holds NaN or infinity at legal tile"),
        ((policy, infinite_values), ValueError, "value_logits row 0 holds NaN or infinity"),
    ]:
        with pytest.raises(error, match=message):
            pool.submit(*bad)
        np.testing.assert_array_equal(pool.next_batch(), planes)
    illegal_nan = policy.copy()
    illegal_nan[:, np.flatnonzero(~planes[0, 4])[0]] = -np.inf  # masked tiles may hold anything
    pool.submit(torch.from_numpy(illegal_nan), torch.from_numpy(values))
    assert pool.evaluations == 2
    with pytest.raises(ValueError, match="call next_batch"):
        pool.submit(policy, values)


def test_position_searches_choose_one_tile_each():
    games = [te.Game(8) for _ in range(3)]
    games[1].apply(0)
    games[2].apply(int(games[2].legal_tiles()[-1]))
    before = [g.history for g in games]
    records = drain(te.SearchPool.for_positions(games, Config(dim=0, sims_per_move=8)))
    assert [g.history for g in games] == before  # searched on copies
    for game, record in zip(games, records):
        (player, tile), = record["moves"].tolist()
        assert player == game.current_player and tile in set(game.legal_tiles())
    for rep in (1, 2):
        pool = te.SearchPool.for_positions(games, with_options(Config(dim=0, rep=rep), extended_planes=True))
        wanted = np.stack([g.state(planes_last=rep == 2, extended=True) for g in games])
        assert pool.input_planes == 90
        np.testing.assert_array_equal(pool.next_batch(), wanted)
    with pytest.raises(ValueError, match="share one board side"):
        te.SearchPool.for_positions([te.Game(8), te.Game(9)], Config())


def test_first_play_from_the_parent_value_widens_position_searches():
    def visited(reduction):
        pool = te.SearchPool.for_positions(
            [te.Game(8)], with_options(Config(dim=0, sims_per_move=32), first_play_reduction=reduction))
        return int((drain(pool)[0]["policy_shares"] > 0).sum())

    assert visited(0.0) > visited(None)


def test_a_gumbel_root_plays_its_candidates_and_targets_the_improved_policy():
    config = Config(dim=8, sims_per_move=16, exploration_fraction=0.25)

    def play(seed, candidates):
        settings = with_options(config, gumbel_candidates=candidates, seed=seed)
        return drain(te.SearchPool(settings, games=2))

    records = play(3, 4)
    assert [r["moves"].tolist() for r in play(3, 4)] == [r["moves"].tolist() for r in records]
    for record in records:
        game = te.Game(8)
        for (player, tile), target in zip(record["moves"].tolist(), policies_of(record)):
            tiles = [t for t, _ in target]
            assert tiles == sorted(game.legal_tiles().tolist()) and tile in tiles
            # Completed Q-values over every legal tile: all positive, summing to one.
            assert all(share > 0 for _, share in target) and sum(s for _, s in target) == pytest.approx(1, abs=1e-5)
            game.apply(tile)
        assert game.is_terminal()
    # Unlike visit shares, a Gumbel target is not a multiple of 1/simulations.
    shares = np.concatenate([r["policy_shares"] for r in records])
    assert not np.allclose(shares * 16, np.round(shares * 16))
    # Position searches draw no noise: the same choice every time.
    starts = [te.Game(8) for _ in range(3)]
    for k, game in enumerate(starts):
        for _ in range(k * 5):
            game.apply(int(game.legal_tiles()[0]))

    def chosen(candidates):
        pool = te.SearchPool.for_positions(starts, with_options(Config(dim=0, sims_per_move=16),
                                                                  gumbel_candidates=candidates))
        return [r["moves"][0, 1] for r in drain(pool)]

    assert chosen(8) == chosen(8)


def test_a_seed_numbers_the_games_not_the_pools():
    # Noise, sampling and the full-search coin all draw from the game's own
    # stream, so splitting the games among pools changes nothing.
    config = Config(sample_moves=12, exploration_fraction=0.25)

    def games(seed, *shares):
        settings = with_options(config, full_search_fraction=0.5, reduced_sims=2, seed=seed)
        records = []
        for first, count, concurrent in shares:
            records += drain(te.SearchPool(settings, games=concurrent, total_games=count, first_game=first))
        return [(r["index"], r["moves"].tolist(), policies_of(r)) for r in records]

    together = games(11, (0, 4, 4))
    assert [index for index, _, _ in together] == [0, 1, 2, 3]
    assert games(11, (0, 1, 1), (1, 3, 2)) == together
    assert games(11, (2, 2, 1)) == together[2:]
    assert len({str(moves) for _, moves, _ in together}) == 4  # every game its own stream
    assert games(12, (0, 4, 4)) != together


@pytest.mark.parametrize("settings, error, message", [
    (SimpleNamespace(dim=7, rep=1, sims_per_move=4, sample_moves=0), AttributeError, "c_puct"),
    (replace(Config(), dim=7.0), TypeError, "failed to extract field Config.dim"),
    (replace(Config(), sims_per_move=-1), TypeError, "failed to extract field Config.sims_per_move"),
    (with_options(Config(), full_search_fraction=0.0), ValueError, r"full_search_fraction must lie in \(0, 1\]"),
    (with_options(Config(), full_search_fraction=0.5), ValueError, "reduced_sims must be at least 1 when"),
    (with_options(Config(), reduced_sims=-1), ValueError, "reduced_sims must not be negative"),
    (with_options(Config(), first_play_reduction=float("nan")), ValueError, "first_play_reduction must be a finite"),
    (with_options(Config(), first_play_reduction=1e300), ValueError, "first_play_reduction must be a finite"),
    (with_options(Config(), seed=-1), ValueError, "seed must be None or an integer"),
    (with_options(Config(), seed=1.5), TypeError, "settings.seed must be None or an int"),
    (with_options(Config(), skip_single_tile=1), TypeError, "settings.skip_single_tile must be a bool"),
    (with_options(Config(), evaluation_cache=-1), ValueError, "evaluation_cache must be from 0 to 2\\*\\*24"),
    (with_options(Config(), evaluation_cache=1 << 25), ValueError, "evaluation_cache must be from 0 to 2\\*\\*24"),
    (with_options(Config(), gumbel_candidates=-1), ValueError, "gumbel_candidates must be 0 to 65536"),
    (with_options(Config(), leaf_evaluation="oracle"), ValueError, "leaf_evaluation must be 'network', 'mixed'"),
    (with_options(Config(), leaf_evaluation=1), TypeError, "settings.leaf_evaluation must be a str"),
    (with_options(Config(), playouts=0), ValueError, "playouts must be from 1 to 1024"),
    (with_options(Config(), playout_weight=1.5), ValueError, r"playout_weight must lie in \[0, 1\]"),
    (with_options(Config(), selection="ucb2"), ValueError, "selection must be 'puct' or 'ucb1'"),
    (with_options(Config(), searched_value_weight=-0.1), ValueError, r"searched_value_weight must lie in \[0, 1\]"),
])
def test_bad_settings_are_refused_before_any_game_starts(settings, error, message):
    with pytest.raises(error, match=message) as raised:
        te.SearchPool(settings)
    if message.startswith("failed to extract"):
        assert isinstance(raised.value.__cause__, (TypeError, OverflowError))


def test_search_settings_refuse_what_the_pool_refuses_and_play_what_any_object_plays():
    options = dict(sims_per_move=6, exploration_fraction=0.25, seed=4, gumbel_candidates=4, leaf_evaluation="mixed",
                   playouts=2, playout_weight=0.3, skip_single_tile=True)
    typed = te.SearchSettings(**{**vars(Config()), **options})
    assert typed.replace(seed=5).seed == 5 and typed.seed == 4 and typed.leaf_evaluation == "mixed"
    assert pickle.loads(pickle.dumps(typed)) == typed != typed.replace(playouts=3)
    games = [[(r["index"], r["moves"].tolist()) for r in drain(te.SearchPool(s, games=2))]
             for s in (typed, SimpleNamespace(**{**vars(Config()), **options}))]
    assert games[0] == games[1]
    for bad, message in [(dict(playouts=0), "playouts must be from 1 to 1024"), (dict(rep=3), "rep must be 1 or 2"),
                         (dict(seed=1.5), "settings.seed must be None or an int"),
                         (dict(playout_weight=1.5), r"playout_weight must lie in \[0, 1\]"),
                         (dict(sims_per_move=-1), "settings.sims_per_move must not be negative"),
                         (dict(gumbel=4), "no setting named 'gumbel'")]:
        with pytest.raises((TypeError, ValueError), match=message):
            te.SearchSettings(dim=7, **bad)
    with pytest.raises(TypeError, match="needs dim"):
        te.SearchSettings(rep=1)
    with pytest.raises(TypeError, match="settings.leaf_batch must be an int"):
        typed.leaf_batch = "many"


def test_position_searches_ignore_the_whole_game_settings():
    settings = with_options(Config(dim=0), full_search_fraction=0.0, reduced_sims=-1, skip_single_tile="yes")
    record, = drain(te.SearchPool.for_positions([te.Game(8)], settings))
    assert len(record["moves"]) == 1 and policies_of(record)[0]


@pytest.mark.parametrize("change, message", [
    (dict(rep=3), "config.rep must be 1 or 2"),
    (dict(dim=3), "config.dim must be 4 to 128"),
    (dict(sims_per_move=0), "sims_per_move must be at least 1"),
    (dict(dirichlet_alpha=0.0), "dirichlet_alpha must be greater than 0"),
])
def test_bad_configs_are_refused(change, message):
    with pytest.raises(ValueError, match=message):
        te.SearchPool(replace(Config(), **change))


def test_mixed_and_playout_searches_replay_by_seed_and_searched_values_enter_the_value_target():
    def constant(planes):  # every position worth the same to every player
        return np.zeros((len(planes), planes.shape[2] * planes.shape[3]), np.float32), np.zeros((len(planes), 4),
                                                                                                   np.float32)

    def games(answer, **options):
        settings = with_options(Config(sample_moves=8, exploration_fraction=0.25), seed=5, **options)
        return drain(te.SearchPool(settings, games=3, total_games=3), answer)

    mixed = games(network, leaf_evaluation="mixed", playouts=2, evaluation_cache=1024)
    # The playouts run beside the batch on a thread of their own, from each game's own stream.
    assert [r["moves"].tolist() for r in games(network, leaf_evaluation="mixed", playouts=2)] == \
        [r["moves"].tolist() for r in mixed]
    assert [r["moves"].tolist() for r in mixed] != [r["moves"].tolist() for r in games(network)]

    pool = te.SearchPool(with_options(Config(), leaf_evaluation="playouts", seed=1), games=2)
    assert pool.done() and pool.evaluations == 0 and len(pool.take_finished()) == 2  # no network at all

    for weight in (0.0, 0.5, 1.0):
        record = games(constant, searched_value_weight=weight)[0]
        outcome = np.roll(record["payoffs"], -int(record["moves"][0, 0]))  # relative to the first mover
        # The first action's simulations all end at leaves the constant network values at 1/4 each.
        assert record["example_value"][0] == pytest.approx((1 - weight) * outcome + weight * 0.25)


def test_opening_sampling_varies_every_seat_s_first_actions():
    def first_actions(**options):
        settings = with_options(Config(sims_per_move=8), seed=3, **options)
        records = drain(te.SearchPool(settings, games=6))
        return [{tuple(t for p, t in r["moves"].tolist() if p == seat)[:2] for r in records} for seat in range(4)]

    assert all(len(seen) == 1 for seen in first_actions())  # no noise, no sampling: one opening
    assert all(len(seen) > 1 for seen in first_actions(opening_sample_actions=2))
    assert all(len(seen) > 1 for seen in first_actions(opening_sample_actions=2, gumbel_candidates=4))
