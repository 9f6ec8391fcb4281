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
import threading
import time
from collections import OrderedDict
from concurrent.futures import ThreadPoolExecutor
from pathlib import Path
from typing import Any, Sequence

import numpy as np
import tavrin_engine as te

from tavrin_trainer.core.run_folder.run_directory import PRETRAINED_NAME, resolve_checkpoint
from tavrin_trainer.core.settings.player_names import check_move_time, rollout_milliseconds, rollout_simulations
from tavrin_trainer.core.settings.search_record import SearchWay, recorded_search
from tavrin_trainer.learning.inference import load_network, make_player_inference, player_backend

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
    playout, UCB1 selection and uniform priors (te.rollout_search). With
    ``move_time`` (seconds) it plays by the clock instead, named
    rollout:<ms>ms: as many playouts as the budget holds. ``playouts`` =
    'larger' draws each playout's pieces by size (rollout-larger:N): the
    uniform rollout:N stays the yardstick."""

    def __init__(self, simulations: int | None = None, seed=None, move_time: float | None = None,
                 playouts: str = "uniform") -> None:
        if playouts not in PLAYOUT_POLICIES:
            raise ValueError(f"playouts must be one of {', '.join(PLAYOUT_POLICIES)}, got {playouts!r}")
        prefix = "rollout:" if playouts == "uniform" else f"rollout-{playouts}:"
        check_move_time(move_time)
        if move_time is not None:
            simulations = CLOCK_MAX_SIMULATIONS
            self.name = f"{prefix}{move_time * 1000:g}ms"
        elif simulations is None or simulations < 1:
            raise ValueError(f"a rollout player needs at least 1 simulation, got {simulations}")
        else:
            self.name = f"{prefix}{simulations}"
        self.simulations = simulations
        self.move_time = move_time
        self.playouts = playouts
        self.last_simulations: list[int] = []
        super().__init__(seed)

    def choose(self, game: te.Game, seconds: float | None = None) -> int:
        """``seconds``: this action's budget, in place of the player's own."""
        seed = int(self.rng.integers(2**63))
        budget = self.move_time if seconds is None else seconds
        if budget is None:
            self.last_simulations = [self.simulations]
            return te.rollout_search(game, self.simulations, seed, playouts=self.playouts)
        tile, _, visits = te.rollout_visits(game, self.simulations, seed, seconds=budget,
                                            playouts=self.playouts)
        self.last_simulations = [int(visits.sum())]
        return tile

    def choose_many(self, games: Sequence[te.Game],
                    streams: Sequence[np.random.Generator] | None = None) -> list[int]:
        made = []
        tiles = []
        for index, game in enumerate(games):
            tiles += super().choose_many([game], None if streams is None else [streams[index]])
            made += self.last_simulations
        self.last_simulations = made
        return tiles


class SearchStopped(Exception):
    """A search was stopped through its ``stop`` event before it chose."""


# How random playouts choose their tiles: any legal tile, or each piece's
# placement drawn in proportion to its size squared (te.rollout_search).
PLAYOUT_POLICIES = ("uniform", "larger")
# Leaves a lone game's search gathers per network call (te.MoveSearch's
# leaf_batch): docs/PERFORMANCE.md, "A game played alone", has the measurement.
DEFAULT_LEAF_BATCH = 16
# Simulations of a network player whose checkpoint records how it was trained
# to search, when told no number: its mixed search at this count beat three
# rollout:256 players at less than their time per action (docs/RESULTS.md).
RECORDED_SEARCH_SIMULATIONS = 80
# A player by the clock: its first action planned for CLOCK_FIRST_SIMULATIONS,
# the next ones for what its measured speed fits, within these bounds.
CLOCK_FIRST_SIMULATIONS = 64
CLOCK_MIN_SIMULATIONS = 16
CLOCK_MAX_SIMULATIONS = 1_000_000
# Searches kept per player (one per game and seat): far more than the games a
# match or the web app plays at once; the least recently used goes first.
KEPT_SEARCHES = 512


class NetworkPlayer(Player):
    """With ``simulations`` = 0, the network's most probable legal tile (ties
    to the lower tile). Otherwise the module's search with that many
    simulations per action, no root noise, the most visited tile. Each seat
    of each game keeps its search tree from action to action
    (te.MoveSearch): the next action's search starts from the subtree of the
    tile just played and of the other seats' tiles since. A search gathers up
    to ``leaf_batch`` leaves per network call, and all the games of one
    ``choose_many`` call are searched together, one network batch per round.
    ``playouts`` > 0 makes it
    a mixed player: every leaf of the search is valued at (1 -
    ``playout_weight``) x the network's value + ``playout_weight`` x the mean
    payoff of that many random playouts from it; the playouts draw from each
    game's stream. ``first_play_reduction``:
    the search values an unvisited child at its parent's network value minus
    this, instead of 0. ``gumbel_candidates`` >= 2: a Gumbel root without
    noise over that many candidates plays instead. ``inference``: fp32 runs the model as given; bf16 or
    onnx run a folded copy through that backend of learning.inference
    (``auto``, the default: onnx where it is installed and the model is a
    TavrinNet on the CPU, else fp32), on ``threads`` compute threads (ONNX
    Runtime's default 1: a lone game's small batches run fastest on one, and
    leave the other cores to the playouts and to other processes; torch's
    default as it stands), never more than the usable cores. Safe to share between threads: each game and seat has its own
    search, and the backend is built once."""

    def __init__(self, model, name: str = "network", simulations: int = 0, device: str = "cpu",
                 c_puct: float = 1.5, first_play_reduction: float | None = None, inference: str = "auto",
                 gumbel_candidates: int = 0, playouts: int = 0, playout_weight: float = 0.5,
                 leaf_batch: int = DEFAULT_LEAF_BATCH, keep_tree: bool = True, threads: int | None = None,
                 move_time: float | None = None, playout_policy: str = "uniform") -> None:
        if simulations < 0:
            raise ValueError(f"simulations must not be negative, got {simulations}")
        check_move_time(move_time)
        if move_time is not None and simulations == 0:
            simulations = CLOCK_FIRST_SIMULATIONS  # the first action's plan; the clock decides the rest
        check_playouts(playouts, playout_weight, simulations)
        if playout_policy not in PLAYOUT_POLICIES:
            raise ValueError(f"playout_policy must be one of {', '.join(PLAYOUT_POLICIES)}, got {playout_policy!r}")
        if not 1 <= leaf_batch <= te.MAX_LEAF_BATCH:
            raise ValueError(f"leaf_batch must be 1 to {te.MAX_LEAF_BATCH} leaves per network call, got {leaf_batch}")
        if threads is not None and threads < 1:
            raise ValueError(f"threads must be at least 1, got {threads}")
        self.model = model.to(device).eval()
        # Any module mapping planes to (policy, value) plays; a TavrinNet says which planes it reads.
        shape = getattr(model, "shape", None)
        self.extended_planes = getattr(shape, "input_planes", None) == te.EXTENDED_STATE_PLANES
        budget = f"{move_time * 1000:g}ms" if move_time is not None else str(simulations)
        self.name = name if simulations == 0 else f"{name}@{budget}"
        if simulations and first_play_reduction is not None:
            self.name += f",fpu-{first_play_reduction:g}"
        if simulations and gumbel_candidates:
            self.name += f",gumbel-{gumbel_candidates}"
        if playouts:
            self.name = f"{mixed_prefix(playouts, playout_weight)}{self.name}"
            if playout_policy != "uniform":
                self.name += f",{playout_policy}-playouts"
        self.playouts = playouts
        self.playout_policy = playout_policy
        self.playout_weight = playout_weight
        self.simulations = simulations
        self.move_time = move_time
        self.device = device
        self.c_puct = c_puct
        self.first_play_reduction = first_play_reduction
        self.gumbel_candidates = gumbel_candidates
        # A module that is not a TavrinNet cannot be exported: it runs as given.
        self.inference = player_backend(inference, device, exportable=shape is not None)
        self.leaf_batch = leaf_batch
        self.keep_tree = keep_tree
        self.threads = threads
        if self.inference == "bf16":  # onnx is the same arithmetic with batch norm folded; bf16 is coarser
            self.name += f"+{self.inference}"
        self._backend: Any = None  # built when first used, in the process that plays
        self.trained_side: int | None = None  # the evaluation side of the run that trained it, when known
        self.search_way: SearchWay | None = None  # how its checkpoint says it was trained to search
        # Simulations of each game's search in the last choose_many call; a clock player's measured speed.
        self.last_simulations: list[int] = []
        self._simulations_per_second: float | None = None
        self._make_runtime()

    def _make_runtime(self) -> None:
        """What stays in this process: the searches, their lock, the playout thread."""
        self._lock = threading.Lock()
        self._searches: OrderedDict[tuple[int, int], te.MoveSearch] = OrderedDict()
        self._playout_thread: ThreadPoolExecutor | None = None

    def _answers(self, board: np.ndarray, hands: np.ndarray) -> tuple[Any, Any]:
        """Policy and value logits of a batch of board planes and hand entries."""
        return self._built_backend()(board, hands)

    def _built_backend(self) -> Any:
        """The backend, built once by whichever thread asks first; the others wait for it."""
        backend = self._backend
        if backend is None:
            with self._lock:
                if self._backend is None:
                    self._backend = make_player_inference(self.model, self.inference, self.device, self.threads)
                backend = self._backend
        return backend

    @classmethod
    def from_checkpoint(cls, path: str | Path, simulations: int | None = None, device: str = "cpu",
                        first_play_reduction: float | None = None, inference: str = "auto",
                        gumbel_candidates: int | None = None, playouts: int | None = None,
                        playout_weight: float | None = None, move_time: float | None = None,
                        **runtime: Any) -> "NetworkPlayer":
        """The checkpoint's network. A setting left None is the checkpoint's:
        a network whose checkpoint records how it was trained to search
        searches that way (its root, its leaves' playouts and their weight),
        with RECORDED_SEARCH_SIMULATIONS simulations unless given ``move_time``
        or ``simulations`` (0: its most probable legal tile); one that records
        nothing plays its most probable legal tile, or searches as told."""
        model, checkpoint = load_network(path)
        way = recorded_search(checkpoint, str(path))
        if simulations is None:
            simulations = RECORDED_SEARCH_SIMULATIONS if way is not None and move_time is None else 0
        searching = simulations > 0 or move_time is not None
        recorded = way if way is not None and searching else SearchWay()
        if playouts is None:
            playouts = recorded.playouts
        player = cls(model, name=Path(path).stem, simulations=simulations,
                     device=device, first_play_reduction=first_play_reduction, inference=inference,
                     gumbel_candidates=recorded.gumbel_candidates if gumbel_candidates is None else gumbel_candidates,
                     playouts=playouts,
                     playout_weight=recorded.playout_weight if playout_weight is None else playout_weight,
                     move_time=move_time, **runtime)
        player.trained_side = checkpoint.get("dim")
        player.search_way = way
        return player

    @classmethod
    def pretrained(cls, simulations: int | None = None, device: str = "cpu", **search: Any) -> "NetworkPlayer":
        """The side-20 network shipped with the package (docs/RESULTS.md),
        searching as it was trained to (a Gumbel root over 16 candidates, each
        leaf valued half by the network and half by one random playout) with
        RECORDED_SEARCH_SIMULATIONS simulations an action, unless told
        otherwise (``simulations``, ``move_time`` or a search setting)."""
        path = resolve_checkpoint(PRETRAINED_NAME)
        player = cls.from_checkpoint(path, simulations=simulations, device=device, **search)
        player.name = player.name.replace(path.stem, PRETRAINED_NAME, 1)
        return player

    def choose(self, game: te.Game, stop: threading.Event | None = None, seconds: float | None = None) -> int:
        """The tile to play; ``stop``, when set during the search, abandons it
        (SearchStopped) within one network batch; ``seconds``, this action's
        budget in place of the player's own (a searching player only)."""
        return self.choose_many([game], stop=stop, seconds=seconds)[0]

    def choose_many(self, games: Sequence[te.Game], streams: Sequence[np.random.Generator] | None = None,
                    stop: threading.Event | None = None, seconds: float | None = None) -> list[int]:
        from tavrin_trainer.learning.network import legal_masked

        if not games:
            return []
        dims = {game.dim for game in games}
        if len(dims) != 1:  # one batch per board side
            return [self.choose(game, stop, seconds) for game in games]
        if self.simulations > 0:
            return self._search(games, streams, stop, self.move_time if seconds is None else seconds)
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

    def search_settings(self, dim: int) -> te.SearchSettings:
        """The settings of this player's searches on a board of side ``dim``."""
        way = SearchWay(self.gumbel_candidates, self.playouts, self.playout_weight)
        return way.search_settings(dim=dim, sims_per_move=max(self.simulations, 1), c_puct=self.c_puct,
                                   extended_planes=self.extended_planes,
                                   first_play_reduction=self.first_play_reduction,
                                   playout_policy=self.playout_policy, leaf_batch=self.leaf_batch)

    def _search(self, games: Sequence[te.Game], streams: Sequence[np.random.Generator] | None,
                stop: threading.Event | None, budget: float | None) -> list[int]:
        claimed = [self._claim(game) for game in games]
        try:
            searches = [search for _, search in claimed]
            # Only playouts draw random numbers: a network-only search leaves the streams alone.
            if streams is not None and self.playouts:
                for search, stream in zip(searches, streams, strict=True):
                    search.reseed(int(stream.integers(2**63)))
            planned = self._planned_simulations(budget)
            started = time.perf_counter()
            for search in searches:
                search.begin(planned, seconds=budget)
            self._run(searches, stop)
            self.last_simulations = [search.simulations_done for search in searches]
            if budget is not None:
                rate = sum(self.last_simulations) / len(searches) / max(time.perf_counter() - started, 1e-6)
                known = self._simulations_per_second
                self._simulations_per_second = rate if known is None else 0.7 * known + 0.3 * rate
            tiles = [search.best_tile() for search in searches]
            for search, tile in zip(searches, tiles):
                search.play(tile)
            return tiles
        finally:
            self._release(claimed)

    def _planned_simulations(self, budget: float | None) -> int:
        """Simulations to plan an action's search for: the player's, or by
        the clock what the measured speed fits into the budget (the clock
        stops the search all the same: a Gumbel root plans its halvings by it)."""
        if budget is None or self._simulations_per_second is None:
            return self.simulations
        fitting = int(self._simulations_per_second * budget)
        return max(CLOCK_MIN_SIMULATIONS, min(fitting, CLOCK_MAX_SIMULATIONS))

    def _claim(self, game: te.Game) -> tuple[tuple[int, int], te.MoveSearch]:
        """The search of this game's player to move, brought to the game and
        held by this call alone until released: the one kept from its last
        action when the game continues it. A game object seen before finds
        its search at once; a copy of one (as the web app plays on) finds the
        kept search of the same seat that it continues furthest."""
        key = (id(game), game.current_player)
        with self._lock:
            search = self._searches.pop(key, None) if self.keep_tree else None
            if search is not None and not search.continued_by(game):
                search = None
            if search is None and self.keep_tree:
                related = [(kept.actions, other) for other, kept in self._searches.items()
                           if other[1] == key[1] and kept.continued_by(game)]
                if related:
                    search = self._searches.pop(max(related)[1])
        if search is None:
            return key, te.MoveSearch(self.search_settings(game.dim), game)
        search.sync(game)
        return key, search

    def _release(self, claimed: Sequence[tuple[tuple[int, int], te.MoveSearch]]) -> None:
        """Keeps the searches for the next actions, the least recently used dropped beyond the bound."""
        if not self.keep_tree:
            return
        with self._lock:
            for key, search in claimed:
                self._searches[key] = search
            while len(self._searches) > KEPT_SEARCHES:
                self._searches.popitem(last=False)

    def _run(self, searches: Sequence[te.MoveSearch], stop: threading.Event | None = None) -> None:
        """Runs the begun searches to their choice, their waiting positions
        in one network batch a round."""
        while True:
            if stop is not None and stop.is_set():
                for search in searches:
                    search.abandon()
                raise SearchStopped("the search was stopped")
            waiting = [(search, inputs) for search in searches if (inputs := search.next_inputs()) is not None]
            if not waiting:
                return
            boards = np.concatenate([inputs[0] for _, inputs in waiting]) if len(waiting) > 1 else waiting[0][1][0]
            hands = np.concatenate([inputs[1] for _, inputs in waiting]) if len(waiting) > 1 else waiting[0][1][1]
            playouts = None
            if self.playouts:  # the playouts of this round run while the network computes
                if self._playout_thread is None:
                    self._playout_thread = ThreadPoolExecutor(1, thread_name_prefix="playouts")
                playouts = self._playout_thread.submit(lambda: [search.run_playouts() for search, _ in waiting])
            try:
                policy, values = self._answers(boards, hands)
            finally:
                if playouts is not None:
                    playouts.result()
            policy, values = policy.float().cpu().numpy(), values.float().cpu().numpy()
            row = 0
            for search, inputs in waiting:
                rows = len(inputs[0])
                search.submit(policy[row:row + rows], values[row:row + rows])
                row += rows

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

    def placement_advice(self, game: te.Game, simulations: int,
                         stop: threading.Event | None = None) -> list[tuple[tuple[int, ...], float, float]]:
        """The whole placements this player's search of ``game`` went
        through, most tried first: (squares, share among the simulations that
        laid a whole piece, mean expected payoff of the player to move)."""
        if simulations < 1:
            raise ValueError(f"an analysis needs at least 1 simulation, got {simulations}")
        search = te.MoveSearch(self.search_settings(game.dim), game)
        search.begin(simulations)
        self._run([search], stop)
        return [tuple(row) for row in search.placements()]

    def __getstate__(self) -> dict:
        # Weights travel to worker processes on the CPU, without moving ours.
        state = dict(self.__dict__)
        state["_backend"] = None  # a runtime session stays in its process
        state["_simulations_per_second"] = None  # measured again where it plays
        for name in ("_lock", "_searches", "_playout_thread"):
            state.pop(name, None)
        if self.device != "cpu":
            state["model"], state["device"] = copy.deepcopy(self.model).to("cpu"), "cpu"
        return state

    def __setstate__(self, state: dict) -> None:
        self.__dict__.update(state)
        self.__dict__.setdefault("leaf_batch", DEFAULT_LEAF_BATCH)
        self.__dict__.setdefault("keep_tree", True)
        self.__dict__.setdefault("threads", None)
        self.__dict__.setdefault("move_time", None)
        self.__dict__.setdefault("playout_policy", "uniform")
        self.__dict__.setdefault("search_way", None)
        self.__dict__.setdefault("last_simulations", [])
        self.__dict__.setdefault("_simulations_per_second", None)
        self._make_runtime()


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


def player_from_name(name: str, simulations: int | None = None, seed: int | Sequence[int] | None = None,
                     first_play_reduction: float | None = None, device: str = "cpu",
                     gumbel_candidates: int | None = None, inference: str = "auto", playouts: int | None = None,
                     playout_weight: float | None = None, leaf_batch: int = DEFAULT_LEAF_BATCH,
                     move_time: float | None = None, playout_policy: str = "uniform") -> Player:
    """'random', 'greedy', 'rollout:N' (or rollout:<ms>ms, by the clock),
    'pretrained' (the shipped side-20 network), a checkpoint file / run
    directory, or 'mixed:K:W:NETWORK', one of those networks searching with K
    random playouts per leaf weighted W (the name's K and W win over
    ``playouts`` and ``playout_weight``; a checkpoint whose path begins with
    'mixed:' is written './mixed:...'). A network's settings left None are
    its checkpoint's (NetworkPlayer.from_checkpoint); ``move_time`` is a
    network's budget per action. ``inference`` is how a network runs (auto,
    fp32, bf16 or onnx, as NetworkPlayer takes it)."""
    if name == "random":
        return RandomPlayer(seed)
    if name == "greedy":
        return GreedyPlayer(seed)
    if name.startswith(("rollout:", "rollout-larger:")):
        kind, _, budget = name.partition(":")
        policy = "larger" if kind == "rollout-larger" else "uniform"
        milliseconds = rollout_milliseconds(f"rollout:{budget}")
        if milliseconds is not None:
            return RolloutPlayer(seed=seed, move_time=milliseconds / 1000, playouts=policy)
        count = rollout_simulations(f"rollout:{budget}")
        if count is None:
            raise ValueError(f"rollout players are written {kind}:N with N at least 1, or {kind}:Mms with a "
                             f"budget of M milliseconds an action, got {name!r}")
        return RolloutPlayer(count, seed, playouts=policy)
    if name.startswith(MIXED_PREFIX):
        playouts, playout_weight, name = parse_mixed(name)
        if playouts < 1 or name in ("random", "greedy") or name.startswith(("rollout:", MIXED_PREFIX)):
            raise ValueError(f"a mixed player is a network with at least 1 playout per leaf, got {name!r} "
                             f"with {playouts}")
    network = dict(simulations=simulations, device=device, first_play_reduction=first_play_reduction,
                   gumbel_candidates=gumbel_candidates, inference=inference, playouts=playouts,
                   playout_weight=playout_weight, leaf_batch=leaf_batch, move_time=move_time,
                   playout_policy=playout_policy)
    if name == PRETRAINED_NAME:
        return NetworkPlayer.pretrained(**network)
    return NetworkPlayer.from_checkpoint(resolve_checkpoint(name), **network)
