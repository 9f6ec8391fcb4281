import numpy as np
import pytest

pytest.importorskip("pettingzoo")
te = pytest.importorskip("tavrin_engine")

from pettingzoo.test import api_test  # noqa: E402

from tavrin_trainer.env import env, raw_env  # noqa: E402


@pytest.mark.parametrize("dim", [6, 8])
def test_passes_pettingzoo_api_test(dim):
    # Enough cycles for the play-through to reach the end of the game.
    api_test(env(dim=dim), num_cycles=dim * dim)


def expected_planes(history, dim, seat):
    """Plane k: the squares of player seat + k, read off the history alone."""
    owner = np.full(dim * dim, -1)
    for player, tile in history:
        owner[tile] = player
    return np.stack([(owner == (seat + k) % 4).reshape(dim, dim) for k in range(4)])


def play_random_game(seed, dim=6):
    """Plays random legal tiles through the env, checking each step against a
    game fed the same tiles; returns the agents marked out before the end."""
    rng = np.random.default_rng(seed)
    game, mirror = env(dim=dim), te.Game(dim)
    game.reset()
    out_before_end, final_rewards = set(), {}
    for agent in game.agent_iter():
        observation, reward, terminated, _, _ = game.last()
        if terminated:
            assert mirror.is_terminal(), f"{agent} was selected while out before the game ended"
            final_rewards[agent] = reward
            game.step(None)
            continue
        assert agent == f"player_{mirror.current_player}"
        np.testing.assert_array_equal(observation["observation"], mirror.state())
        np.testing.assert_array_equal(np.flatnonzero(observation["action_mask"]), mirror.legal_tiles())
        for seat in range(4):
            seen = game.observe(f"player_{seat}")
            np.testing.assert_array_equal(seen["observation"][:4], expected_planes(mirror.history, dim, seat))
            assert seen["action_mask"].any() == (seat == mirror.current_player)
        tile = int(rng.choice(mirror.legal_tiles()))
        game.step(tile)
        mirror.apply(tile)
        newly_out = {a for a, done in game.terminations.items() if done} - out_before_end
        if not mirror.is_terminal():
            # An agent marked out never moves again.
            assert f"player_{mirror.current_player}" not in newly_out | out_before_end
            out_before_end |= newly_out
    assert mirror.is_terminal() and not game.agents
    assert final_rewards == {f"player_{p}": pytest.approx(v) for p, v in enumerate(mirror.payoff())}
    return out_before_end


def test_random_games_match_a_replayed_game_and_pay_each_agent_its_payoff():
    out_before_end = [play_random_game(seed) for seed in range(3)]
    # Players run out of room at different times; some must be marked out mid-game.
    assert any(out_before_end)


@pytest.mark.parametrize("bad", ["occupied", "unmasked", None, 36, -1])
def test_illegal_action_raises_and_changes_nothing(bad):
    game = raw_env(dim=6)
    game.reset()
    for _ in range(3):
        game.step(int(np.flatnonzero(game.observe(game.agent_selection)["action_mask"])[0]))
    mask = game.observe(game.agent_selection)["action_mask"]
    own_tile = int(np.flatnonzero(game.observe("player_0")["observation"][0])[0])
    action = {"occupied": own_tile, "unmasked": int(np.flatnonzero(mask == 0)[-1])}.get(bad, bad)
    before = snapshot(game)
    with pytest.raises(ValueError):
        game.step(action)
    after = snapshot(game)
    assert before.keys() == after.keys()
    for key in before:
        np.testing.assert_equal(after[key], before[key])
    game.step(int(np.flatnonzero(mask)[0]))  # still playable


def snapshot(game):
    return {"selected": game.agent_selection, "rewards": dict(game._cumulative_rewards),
            "terminations": dict(game.terminations),
            **{agent: game.observe(agent) for agent in game.agents}}

