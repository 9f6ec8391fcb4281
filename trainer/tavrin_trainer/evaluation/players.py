"""Players for arena games: fixed yardsticks and the trained network.

A player has a ``name`` and ``choose(game) -> int``, the tile it plays for the
player to move. It keeps no memory between calls and depends on nothing but
the game it is shown, so one instance can sit in any seat of any game. Only
its random generator advances. ``choose_many(games, streams)`` answers
several games at once; the arena uses it so that a network evaluates all its
pending positions in one batch, and hands each game's random stream with it.
"""

from __future__ import annotations

import copy
from pathlib import Path
from typing import Any, Sequence

import numpy as np
import tavrin_engine as te

from tavrin_trainer.core.run_folder.run_directory import PRETRAINED_NAME, load_network_checkpoint, resolve_checkpoint
from tavrin_trainer.core.settings.player_names import rollout_simulations
from tavrin_trainer.core.settings.search_settings import SearchSettings
from tavrin_trainer.learning.inference import make_inference

# torch and the network module (which loads it) are imported by the network
# player's methods alone: the fixed players play in processes without torch.


class Player:
    name = "player"

    def choose(self, game: te.Game) -> int:
        raise NotImplementedError

    def choose_many(self, games: Sequence[te.Game],
                    streams: Sequence[np.random.Generator] | None = None) -> list[int]:
        """One tile per game. ``streams``, one per game, are what a player
        with random choices draws from instead of its own generator; players
        without any ignore them."""
        return [self.choose(game) for game in games]

    def __repr__(self) -> str:
        return f"<{type(self).__name__} {self.name}>"


class _SeededPlayer(Player):
    """``seed``: anything numpy's default_rng takes; None draws a fresh one."""

    def __init__(self, seed=None) -> None:
        self.rng = np.random.default_rng(seed)

    def choose_many(self, games: Sequence[te.Game],
                    streams: Sequence[np.random.Generator] | None = None) -> list[int]:
        if streams is None:
            return super().choose_many(games)
        own = self.rng
        try:
            tiles = []
            for game, stream in zip(games, streams, strict=True):
                self.rng = stream
                tiles.append(self.choose(game))
            return tiles
        finally:
            self.rng = own


class RandomPlayer(_SeededPlayer):
    """A uniformly random legal tile."""

    name = "random"

    def choose(self, game: te.Game) -> int:
        tiles = game.legal_tiles()
        return int(tiles[self.rng.integers(len(tiles))])


class GreedyPlayer(_SeededPlayer):
    """The largest piece; among its placements the one that opens the most
    new corner cells for the player; remaining ties at random. Lays the
    placement's lowest tile not yet chosen."""

    name = "greedy"

    def choose(self, game: te.Game) -> int:
        return self.choose_among(te.greedy_placements(game), set(game.chosen_squares))

    def choose_among(self, best: Sequence[Sequence[int]], chosen: set[int]) -> int:
        """The choice, given the position's greedy placements and the squares
        already laid for the current piece."""
        if not best:
            raise ValueError("the game is over: there is no tile to choose")
        placement = best[self.rng.integers(len(best))] if len(best) > 1 else best[0]
        return min(tile for tile in placement if tile not in chosen)


class RolloutPlayer(_SeededPlayer):
    """UCT over tiles with uniformly random playouts to the end of the game
    (``simulations`` playouts per action): a classical yardstick that needs
    no network. It is the networks' search with every leaf valued by one
    playout, UCB1 selection and uniform priors (te.rollout_search)."""

    def __init__(self, simulations: int, seed=None) -> None:
        if simulations < 1:
            raise ValueError(f"a rollout player needs at least 1 simulation, got {simulations}")
        self.simulations = simulations
        self.name = f"rollout:{simulations}"
        super().__init__(seed)

    def choose(self, game: te.Game) -> int:
        return te.rollout_search(game, self.simulations, int(self.rng.integers(2**63)))


class NetworkPlayer(Player):
    """With ``simulations`` = 0, the network's most probable legal tile (ties
    to the lower tile). Otherwise the module's search with that many
    simulations per action, no root noise, the most visited tile; all the
    positions of one ``choose_many`` call are searched together, one network
    batch per round (tavrin_engine.SelfPlayPool). ``playouts`` > 0 makes it
    a mixed player: every leaf of the search is valued at (1 -
    ``playout_weight``) x the network's value + ``playout_weight`` x the mean
    payoff of that many random playouts from it; the playouts draw from each
    game's stream. ``first_play_reduction``:
    the search values an unvisited child at its parent's network value minus
    this, instead of 0. ``gumbel_candidates`` >= 2: a Gumbel root without
    noise over that many candidates plays instead. ``inference``: fp32 runs the model as given; bf16 or
    onnx run a folded copy through that backend of learning.inference."""

    def __init__(self, model, name: str = "network", simulations: int = 0, device: str = "cpu",
                 c_puct: float = 1.5, first_play_reduction: float | None = None, inference: str = "fp32",
                 gumbel_candidates: int = 0, playouts: int = 0, playout_weight: float = 0.5) -> None:
        if simulations < 0:
            raise ValueError(f"simulations must not be negative, got {simulations}")
        check_playouts(playouts, playout_weight, simulations)
        self.model = model.to(device).eval()
        # Any module mapping planes to (policy, value) plays; a TavrinNet says which planes it reads.
        shape = getattr(model, "shape", None)
        self.extended_planes = getattr(shape, "input_planes", None) == te.EXTENDED_STATE_PLANES
        self.name = name if simulations == 0 else f"{name}@{simulations}"
        if simulations and first_play_reduction is not None:
            self.name += f",fpu-{first_play_reduction:g}"
        if simulations and gumbel_candidates:
            self.name += f",gumbel-{gumbel_candidates}"
        if playouts:
            self.name = f"{mixed_prefix(playouts, playout_weight)}{self.name}"
        self.playouts = playouts
        self.playout_weight = playout_weight
        self.simulations = simulations
        self.device = device
        self.c_puct = c_puct
        self.first_play_reduction = first_play_reduction
        self.gumbel_candidates = gumbel_candidates
        self.inference = inference
        if inference == "bf16":  # onnx is the same arithmetic with batch norm folded; bf16 is coarser
            self.name += f"+{inference}"
        self._backend: Any = None  # built when first used, in the process that plays
        self.trained_side: int | None = None  # the evaluation side of the run that trained it, when known

    def _answers(self, board: np.ndarray, hands: np.ndarray) -> tuple[Any, Any]:
        """Policy and value logits of a batch of board planes and hand entries."""
        import torch

        if self.inference == "fp32":
            with torch.inference_mode():
                board_input = torch.from_numpy(board).to(self.device)
                if not hands.shape[1]:
                    return self.model(board_input)
                return self.model(board_input, torch.from_numpy(hands).to(self.device))
        if self._backend is None:
            from tavrin_trainer.learning.network import inference_copy

            self._backend = make_inference(inference_copy(self.model).to(self.device), self.inference, self.device,
                                           planes_last=False)
        return self._backend(board, hands)

    @classmethod
    def from_checkpoint(cls, path: str | Path, simulations: int = 0, device: str = "cpu",
                        first_play_reduction: float | None = None, inference: str = "fp32",
                        gumbel_candidates: int = 0, playouts: int = 0,
                        playout_weight: float = 0.5) -> "NetworkPlayer":
        from tavrin_trainer.learning.network import model_from_checkpoint

        checkpoint = load_network_checkpoint(path)
        player = cls(model_from_checkpoint(checkpoint), name=Path(path).stem, simulations=simulations,
                     device=device, first_play_reduction=first_play_reduction, inference=inference,
                     gumbel_candidates=gumbel_candidates, playouts=playouts, playout_weight=playout_weight)
        player.trained_side = checkpoint.get("dim")
        return player

    @classmethod
    def pretrained(cls, simulations: int = 64, device: str = "cpu", **search: Any) -> "NetworkPlayer":
        """The side-20 network shipped with the package (README, "The
        pretrained network"), searching ``simulations`` per action."""
        path = resolve_checkpoint(PRETRAINED_NAME)
        player = cls.from_checkpoint(path, simulations=simulations, device=device, **search)
        player.name = player.name.replace(path.stem, PRETRAINED_NAME, 1)
        return player

    def choose(self, game: te.Game) -> int:
        return self.choose_many([game])[0]

    def choose_many(self, games: Sequence[te.Game],
                    streams: Sequence[np.random.Generator] | None = None) -> list[int]:
        from tavrin_trainer.learning.network import legal_masked

        if not games:
            return []
        dims = {game.dim for game in games}
        if len(dims) != 1:  # one batch per board side
            return [self.choose(game) for game in games]
        if self.simulations > 0:
            return self._search(games, streams)
        logits, _, legal = self._answers_for(games)
        # argmax takes the first of equal maxima: the lower tile.
        tiles = legal_masked(logits.float().cpu(), legal).argmax(dim=1)
        return [int(t) for t in tiles]

    def _answers_for(self, games: Sequence[te.Game]) -> tuple[Any, Any, Any]:
        """Policy and value logits of the positions of ``games`` (one side),
        with their legal tiles as a (B, cells) bool tensor."""
        import torch

        planes = np.stack([game.state(extended=self.extended_planes) for game in games])
        board = planes[:, :te.EXTENDED_BOARD_PLANES] if self.extended_planes else planes
        hands = planes[:, te.EXTENDED_BOARD_PLANES:, 0, 0] if self.extended_planes else planes[:, :0, 0, 0]
        logits, values = self._answers(np.ascontiguousarray(board), np.ascontiguousarray(hands))
        return logits, values, torch.from_numpy(planes[:, 4].reshape(len(games), -1))

    def _search(self, games: Sequence[te.Game], streams: Sequence[np.random.Generator] | None = None) -> list[int]:
        # Only playouts draw random numbers: a network-only search leaves the streams alone.
        seeds = [int(stream.integers(2**63)) for stream in streams] if streams is not None and self.playouts else None
        return [int(record["moves"][0, 1]) for record in self._search_records(games, self.simulations, seeds)]

    def evaluate(self, game: te.Game) -> tuple[np.ndarray, np.ndarray]:
        """The network's view of ``game``: its move probabilities over the
        cells (0 off the legal tiles) and its expected payoff of each player
        0 to 3."""
        import torch

        from tavrin_trainer.learning.network import legal_masked

        logits, values, legal = self._answers_for([game])
        policy = torch.softmax(legal_masked(logits.float().cpu(), legal), dim=1)[0].numpy() * legal[0].numpy()
        relative = torch.softmax(values.float().cpu(), dim=1)[0].numpy()  # relative to the player to move
        return policy, np.roll(relative, game.current_player)

    def placement_advice(self, game: te.Game, simulations: int) -> list[tuple[tuple[int, ...], float, float]]:
        """The whole placements this player's search of ``game`` went
        through, most tried first: (squares, share among the simulations that
        laid a whole piece, mean expected payoff of the player to move)."""
        return [tuple(row) for row in self._search_records([game], simulations, placements=True)[0]["placements"][0]]

    def _search_records(self, games: Sequence[te.Game], simulations: int,
                        seeds: Sequence[int] | None = None, placements: bool = False) -> list[dict]:
        search = SearchSettings(dim=games[0].dim, sims_per_move=simulations, c_puct=self.c_puct,
                                extended_planes=self.extended_planes,
                                first_play_reduction=self.first_play_reduction,
                                gumbel_candidates=self.gumbel_candidates,
                                leaf_evaluation="mixed" if self.playouts else "network",
                                playouts=max(self.playouts, 1), playout_weight=self.playout_weight,
                                placement_shares=placements)
        pool = te.SelfPlayPool.for_positions(list(games), search, seeds)
        while not pool.done():
            policy, values = self._answers(*pool.next_inputs())
            pool.submit(policy.float().cpu(), values.float().cpu())
        return sorted(pool.take_finished(), key=lambda record: record["index"])

    def __getstate__(self) -> dict:
        # Weights travel to worker processes on the CPU, without moving ours.
        state = dict(self.__dict__)
        state["_backend"] = None  # a runtime session stays in its process
        if self.device != "cpu":
            state["model"], state["device"] = copy.deepcopy(self.model).to("cpu"), "cpu"
        return state


MIXED_PREFIX = "mixed:"


def mixed_prefix(playouts: int, playout_weight: float) -> str:
    """How a mixed player's name begins: mixed:K:W: (K playouts per leaf, weight W)."""
    return f"{MIXED_PREFIX}{playouts}:{playout_weight:g}:"


def check_playouts(playouts: int, playout_weight: float, simulations: int) -> None:
    if not 0 <= playouts <= te.MAX_PLAYOUTS:
        raise ValueError(f"playouts must be 0 to {te.MAX_PLAYOUTS} per leaf, got {playouts}")
    if not 0 <= playout_weight <= 1:
        raise ValueError(f"the playout weight must lie in [0, 1], got {playout_weight}")
    if playouts and simulations < 1:
        raise ValueError("playouts value the leaves of a search: a mixed player needs simulations too")


def parse_mixed(name: str) -> tuple[int, float, str]:
    """(K, W, network) of a name mixed:K:W:NETWORK; ValueError when malformed."""
    parts = name.removeprefix(MIXED_PREFIX).split(":", 2)
    usage = (f"mixed players are written mixed:K:W:NETWORK (K random playouts per leaf, their weight W "
             f"from 0 to 1, then pretrained, a checkpoint or a run directory), got {name!r}")
    if len(parts) != 3 or not parts[0].isdigit() or not parts[2]:
        raise ValueError(usage)
    try:
        weight = float(parts[1])
    except ValueError:
        raise ValueError(usage) from None
    return int(parts[0]), weight, parts[2]


def player_from_name(name: str, simulations: int = 0, seed: int | Sequence[int] | None = None,
                     first_play_reduction: float | None = None, device: str = "cpu",
                     gumbel_candidates: int = 0, inference: str = "fp32", playouts: int = 0,
                     playout_weight: float = 0.5) -> Player:
    """'random', 'greedy', 'rollout:N', 'pretrained' (the shipped side-20
    network), a checkpoint file / run directory, or 'mixed:K:W:NETWORK', one
    of those networks searching with K random playouts per leaf weighted W
    (the name's K and W win over ``playouts`` and ``playout_weight``; a
    checkpoint whose path begins with 'mixed:' is written './mixed:...').
    ``inference`` is how a network runs (fp32, bf16 or onnx, as
    NetworkPlayer takes it)."""
    if name == "random":
        return RandomPlayer(seed)
    if name == "greedy":
        return GreedyPlayer(seed)
    if name.startswith("rollout:"):
        count = rollout_simulations(name)
        if count is None:
            raise ValueError(f"rollout opponents are written rollout:N with N at least 1, got {name!r}")
        return RolloutPlayer(count, seed)
    if name.startswith(MIXED_PREFIX):
        playouts, playout_weight, name = parse_mixed(name)
        if playouts < 1 or name in ("random", "greedy") or name.startswith(("rollout:", MIXED_PREFIX)):
            raise ValueError(f"a mixed player is a network with at least 1 playout per leaf, got {name!r} "
                             f"with {playouts}")
    network = dict(simulations=simulations, device=device, first_play_reduction=first_play_reduction,
                   gumbel_candidates=gumbel_candidates, inference=inference, playouts=playouts,
                   playout_weight=playout_weight)
    if name == PRETRAINED_NAME:
        return NetworkPlayer.pretrained(**network)
    return NetworkPlayer.from_checkpoint(resolve_checkpoint(name), **network)
