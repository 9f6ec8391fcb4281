import copy
import pickle

import numpy as np
import pytest
import tavrin_engine as te


def random_game(dim, actions, seed):
    game, rng = te.Game(dim), np.random.default_rng(seed)
    for _ in range(actions):
        if game.is_terminal():
            break
        tiles = game.legal_tiles()
        game.apply(int(tiles[rng.integers(len(tiles))]))
    return game


def snapshot(game):
    return (game.history, game.current_player, game.legal_tiles().tolist(), game.state().tobytes(),
            game.hands, game.chosen_squares, game.placements(), game.board_text(), game.scores())


def test_placements_explain_the_legal_tiles_at_every_action_of_whole_games():
    # The legal tiles are exactly the unchosen squares of the placements still
    # possible; each placement covers every chosen square and comes from a piece in hand.
    piece_sizes = {}
    for dim, seed in ((5, 1), (8, 2), (13, 3)):
        game, rng = te.Game(dim), np.random.default_rng(seed)
        while not game.is_terminal():
            chosen = set(game.chosen_squares)
            placements = game.placements()
            # ... and each leaves a square to lay: one already laid in full is
            # not completed while a larger one through it is open.
            assert placements and all(chosen < set(p) for p in placements)
            assert sorted({t for p in placements for t in p} - chosen) == game.legal_tiles().tolist()
            state = game.state()
            assert state.dtype == np.bool_ and state.shape == (5, dim, dim)
            np.testing.assert_array_equal(np.flatnonzero(state[4]), game.legal_tiles())
            np.testing.assert_array_equal(game.state(planes_last=True), state.transpose(1, 2, 0))
            extended = game.state(extended=True)
            np.testing.assert_array_equal(extended[:5], state)
            assert np.flatnonzero(extended[5]).tolist() == sorted(chosen)
            held = extended[6:].reshape(4, 21, dim * dim)
            for k in range(4):
                in_hand = np.isin(np.arange(21), game.hands[(game.current_player + k) % 4])
                assert (held[k].all(axis=1) == in_hand).all() and (held[k].any(axis=1) == in_hand).all()
            np.testing.assert_array_equal(game.state(planes_last=True, extended=True), extended.transpose(1, 2, 0))
            player, hands_before = game.current_player, game.hands
            tiles = game.legal_tiles()
            game.apply(tiles[rng.integers(len(tiles))])  # numpy integers are accepted
            if game.chosen_squares == () and game.hands != hands_before:
                gone = set(hands_before[player]) - set(game.hands[player])
                assert len(gone) == 1
                piece_sizes.setdefault(gone.pop(), set()).add(len(chosen) + 1)
        assert len(game.history) <= dim * dim and sum(game.payoff()) == pytest.approx(1)
    assert all(len(sizes) == 1 for sizes in piece_sizes.values())


def test_the_engine_constants_are_the_sizes_of_the_games_it_builds():
    game = te.Game(te.MIN_SIDE)
    assert len(game.hands) == te.PLAYERS and {len(hand) for hand in game.hands} == {te.PIECES}
    assert game.state().shape == (te.STATE_PLANES, te.MIN_SIDE, te.MIN_SIDE)
    game.apply(0)
    assert game.chosen_squares == (0,)
    extended = game.state(extended=True)
    assert extended.shape[0] == te.EXTENDED_STATE_PLANES == te.EXTENDED_BOARD_PLANES + te.HAND_PLANES
    assert te.HAND_PLANES == te.PLAYERS * te.PIECES
    # The board planes end with the squares of the piece being laid; the hand planes follow.
    assert np.flatnonzero(extended[te.EXTENDED_BOARD_PLANES - 1]).tolist() == [0]
    assert extended[te.EXTENDED_BOARD_PLANES:].all(axis=(1, 2)).sum() == te.HAND_PLANES
    assert te.Game(te.MAX_SIDE).dim == te.MAX_SIDE
    for side in (te.MIN_SIDE - 1, te.MAX_SIDE + 1):
        with pytest.raises(ValueError, match="board side must be"):
            te.Game(side)


@pytest.mark.parametrize("tile", [-1, 64, 10**6, "occupied", "not legal"])
def test_an_illegal_tile_raises_and_changes_nothing(tile):
    game = random_game(8, 7, seed=4)
    tile = {"occupied": game.history[0][1],
            "not legal": next(t for t in range(64) if t not in set(game.legal_tiles()) and
                              t not in {h[1] for h in game.history})}.get(tile, tile)
    before = snapshot(game)
    with pytest.raises(ValueError, match=rf"^Invalid move - Player {game.current_player}, Tile {tile}$"):
        game.apply(tile)
    assert snapshot(game) == before


def test_copies_and_pickles_are_independent_and_equal():
    game = random_game(10, 23, seed=5)
    copies = [game.copy(), copy.copy(game), copy.deepcopy(game), pickle.loads(pickle.dumps(game))]
    for other in copies:
        assert snapshot(other) == snapshot(game)
    copies[0].apply(int(copies[0].legal_tiles()[0]))
    assert snapshot(copies[0]) != snapshot(game) and snapshot(copies[1]) == snapshot(game)


def test_bad_sides_and_searches_are_refused():
    for side in (3, 129, -1):
        with pytest.raises(ValueError, match="board side must be 4 to 128"):
            te.Game(side)
    over = te.Game(5)
    te.random_playout(over, seed=1)
    assert over.is_terminal() and over.legal_tiles().size == 0 and te.greedy_placements(over) == []
    with pytest.raises(ValueError, match="the game is over"):
        te.rollout_search(over, 10)
    with pytest.raises(ValueError, match="at least 1"):
        te.rollout_search(te.Game(5), 0)
