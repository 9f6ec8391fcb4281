"""The game as a PettingZoo AEC (agent-environment-cycle) environment.

Quick start::

    from tavrin_trainer.env import env

    game = env(dim=20)
    game.reset()
    for agent in game.agent_iter():
        observation, reward, terminated, truncated, info = game.last()
        if terminated:
            action = None                      # an agent that is out must be stepped with None
        else:
            mask = observation["action_mask"]  # 1 where the tile is legal
            action = game.action_space(agent).sample(mask)
        game.step(action)

How the game maps onto the AEC protocol:

* Agents ``player_0`` .. ``player_3`` are the engine's players 0..3. One action
  lays one square (a tile, ``row * dim + column``); a piece takes 1 to 5
  actions, so the same agent is selected several times in a row.
  ``agent_selection`` is always the engine's player to move.
* A player that cannot lay a piece when its turn comes is out: the engine
  skips it from then on. Its ``terminations`` entry turns True at that moment,
  but it stays in ``agents`` until the game ends, because its reward (its
  share of the win) depends on how the others play on. Once every player is
  out, each agent's reward is its payoff (the winners share 1, the others get
  0), and the agents are selected one by one, each to be stepped with ``None``
  and removed. Rewards are 0 before that. Nothing truncates a game.
* An illegal action (a tile outside the action mask, or ``None`` from an agent
  that is not out) raises ValueError and changes nothing, so a caller can
  retry. An action outside ``Discrete(dim * dim)`` is rejected by the
  out-of-bounds wrapper of ``env()`` (AssertionError), or by ``raw_env``
  itself (ValueError).
* The game has no chance element: ``reset(seed=...)`` accepts a seed for API
  compatibility and ignores it.
"""

from __future__ import annotations

import operator
from typing import Any

import gymnasium
import numpy as np
import tavrin_engine
from gymnasium import spaces
from pettingzoo import AECEnv
from pettingzoo.utils import wrappers

# The observation planes (tavrin_engine.STATE_PLANES): 0-3 the squares of
# players agent + k (mod 4), 4 the legal tiles.


def env(dim: int = 20, render_mode: str | None = None) -> AECEnv:
    """The environment wrapped in PettingZoo's standard checks: actions outside the
    action space fail an assertion, and calls out of order (step before reset) raise."""
    checked = wrappers.AssertOutOfBoundsWrapper(raw_env(dim=dim, render_mode=render_mode))
    return wrappers.OrderEnforcingWrapper(checked)


class raw_env(AECEnv):  # noqa: N801 - PettingZoo's naming convention
    """The game on a board of side ``dim`` (4..128), without wrappers.

    Observations are dicts:

    * ``"observation"``: bool array (5, dim, dim) from the observing agent's
      seat: plane k holds the squares of player (agent + k) mod 4, so plane 0
      is always the agent's own squares (including the squares laid so far of
      a piece in progress); plane 4 holds the legal tiles. For the agent to
      move this is exactly the engine's ``Game.state()``.
    * ``"action_mask"``: int8 array (dim * dim,), 1 for each legal tile.

    An agent that is not to move sees the same board from its own seat, with
    plane 4 and the mask all zero: it has no legal action now.
    """

    metadata = {"name": "tavrin_v0", "render_modes": ["human", "ansi"], "is_parallelizable": False}

    def __init__(self, dim: int = 20, render_mode: str | None = None) -> None:
        super().__init__()
        if render_mode is not None and render_mode not in self.metadata["render_modes"]:
            raise ValueError(f"render_mode must be None or one of {self.metadata['render_modes']}, got {render_mode!r}")
        self._game = tavrin_engine.Game(dim)  # raises ValueError for a side outside 4..128
        self.dim = self._game.dim
        self.render_mode = render_mode
        self.possible_agents = [f"player_{p}" for p in range(tavrin_engine.PLAYERS)]
        self.agents: list[str] = []
        self._seat = {agent: p for p, agent in enumerate(self.possible_agents)}
        cells = self.dim * self.dim
        # One space object per agent, returned every time: seeding a space must stick.
        self.observation_spaces = {
            agent: spaces.Dict({
                "observation": spaces.Box(0, 1, (tavrin_engine.STATE_PLANES, self.dim, self.dim), dtype=np.bool_),
                "action_mask": spaces.Box(0, 1, (cells,), dtype=np.int8),
            })
            for agent in self.possible_agents
        }
        self.action_spaces = {agent: spaces.Discrete(cells) for agent in self.possible_agents}

    def observation_space(self, agent: str) -> spaces.Dict:
        return self.observation_spaces[agent]

    def action_space(self, agent: str) -> spaces.Discrete:
        return self.action_spaces[agent]

    def reset(self, seed: int | None = None, options: dict[str, Any] | None = None) -> None:
        """Starts a new game: every agent live, rewards 0, player_0 to move.
        ``seed`` and ``options`` are accepted and ignored (the game has no chance)."""
        self._game = tavrin_engine.Game(self.dim)
        self.agents = self.possible_agents[:]
        self.rewards = {agent: 0.0 for agent in self.agents}
        self._cumulative_rewards = {agent: 0.0 for agent in self.agents}
        self.terminations = {agent: False for agent in self.agents}
        self.truncations = {agent: False for agent in self.agents}
        self.infos = {agent: {} for agent in self.agents}
        self._skip_agent_selection = None
        self.agent_selection = self.possible_agents[self._game.current_player]
        if self.render_mode == "human":
            self.render()

    def step(self, action: int | None) -> None:
        """Lays tile ``action`` for ``agent_selection``, or, for an agent that is out,
        removes it (``action`` must then be None). Raises ValueError, changing
        nothing, when the action is not legal."""
        if not self.agents:
            raise RuntimeError("the game is over and every agent has been removed; call reset()")
        agent = self.agent_selection
        if self.terminations[agent] or self.truncations[agent]:
            self._was_dead_step(action)
            return
        tile = self._tile(agent, action)
        mover = self._game.current_player
        try:
            self._game.apply(tile)
        except ValueError as error:
            raise ValueError(f"{agent} cannot play tile {tile}: {error}; legal tiles are "
                             f"those set in observation['action_mask']") from error

        self._cumulative_rewards[agent] = 0.0
        self._clear_rewards()
        if self._game.is_terminal():
            payoff = self._game.payoff()
            for other in self.agents:
                self.terminations[other] = True
                self.rewards[other] = float(payoff[self._seat[other]])
            # Every agent is out now; each is selected in turn to be stepped with None.
            self.agent_selection = self.agents[0]
        else:
            for seat in self._skipped_seats(mover):
                self.terminations[self.possible_agents[seat]] = True
            self.agent_selection = self.possible_agents[self._game.current_player]
        self._accumulate_rewards()
        if self.render_mode == "human":
            self.render()

    def _tile(self, agent: str, action: Any) -> int:
        if action is None:
            raise ValueError(f"{agent} is not out, so it must play a tile; None is only for agents that are out")
        tile = operator.index(action)  # TypeError for a float or other non-integer
        if not 0 <= tile < self.dim * self.dim:
            raise ValueError(f"{agent} played tile {tile}, outside the board's 0..{self.dim * self.dim - 1}")
        return tile

    def _skipped_seats(self, mover: int) -> list[int]:
        """The players the turn passed over after ``mover``'s action: they had no
        legal piece, so they are out. Empty while the mover's piece is unfinished."""
        if self._game.chosen_squares:
            return []
        following = [(mover + k) % tavrin_engine.PLAYERS for k in range(1, tavrin_engine.PLAYERS + 1)]
        return following[:following.index(self._game.current_player)]

    def observe(self, agent: str) -> dict[str, np.ndarray]:
        """What ``agent`` sees now, from its own seat (see the class docstring)."""
        state = self._game.state()
        mover = self._game.current_player
        seat = self._seat[agent]
        if seat == mover and not self._game.is_terminal():
            mask = state[tavrin_engine.STATE_PLANES - 1].reshape(-1).astype(np.int8)
            return {"observation": state, "action_mask": mask}
        # The engine's planes are from the mover's seat: plane k is player mover + k.
        planes = np.zeros_like(state)
        planes[:tavrin_engine.PLAYERS] = np.roll(state[:tavrin_engine.PLAYERS], mover - seat, axis=0)
        return {"observation": planes, "action_mask": np.zeros(self.dim * self.dim, dtype=np.int8)}

    def render(self) -> str | None:
        """"ansi": returns the board as text; "human": prints it (also after every
        reset and step). Without a render mode, warns and does nothing."""
        if self.render_mode is None:
            gymnasium.logger.warn("render() was called without a render_mode; pass render_mode='ansi' or 'human'")
            return None
        text = self._game.board_text()
        if self.render_mode == "ansi":
            return text
        print(text)
        return None

    def close(self) -> None:
        """Nothing to release: the game lives in memory and renders as text."""
