"""
The tavrin game engine as Python objects: a game you can copy, inspect and play tile by tile, with numpy arrays at the boundary, and the search and scoring of the fixed players.
"""

from collections.abc import Sequence
from typing import Annotated, TypeAlias

import numpy
import numpy.typing
from numpy.typing import NDArray


PLAYERS: int = 4

PIECES: int = 21

STATE_PLANES: int = 5

EXTENDED_BOARD_PLANES: int = 6

HAND_PLANES: int = 84

EXTENDED_STATE_PLANES: int = 90

MIN_SIDE: int = 4

MAX_SIDE: int = 128

MAX_PLAYOUTS: int = 1024

MAX_LEAF_BATCH: int = 256

MAX_GUMBEL_CANDIDATES: int = 65536

MAX_OPENING_SAMPLE_ACTIONS: int = 89

MAX_EVALUATION_CACHE: int = 16777216

def piece_shape(piece: int) -> list[tuple[int, int]]:
    """
    The squares of catalogue piece `piece` (0 to PIECES - 1, the ids of Game.hands) as (row, column) pairs of its base orientation, row by row.
    """

class Game:
    """
    One four-player game, played one tile (row * dim + column) per action. Copies are independent; copy.copy, copy.deepcopy and pickle work.
    """

    def __init__(self, dim: int) -> None:
        """A fresh game on a board of side `dim` (4 to 128), player 0 to move."""

    @property
    def dim(self) -> int:
        """The board side."""

    @property
    def current_player(self) -> int:
        """The player to move, 0 to 3."""

    def legal_tiles(self) -> numpy.typing.NDArray[numpy.int64]:
        """The legal tiles of the player to move, ascending (numpy int64)."""

    def apply(self, tile: int) -> None:
        """
        Plays `tile` for the player to move. An illegal tile raises ValueError and changes nothing.
        """

    def is_terminal(self) -> bool:
        """True once every player is out."""

    @property
    def finished(self) -> tuple[bool, bool, bool, bool]:
        """
        Per player, whether they are out: no placement was left to them at a turn of theirs.
        """

    def payoff(self) -> tuple[float, float, float, float]:
        """The four payoffs: the players with the best score share 1."""

    def scores(self) -> tuple[int, int, int, int]:
        """
        The four scores: minus the squares in hand, +15 for an empty hand, +5 more if the single square came last.
        """

    @property
    def history(self) -> list[tuple[int, int]]:
        """Every action so far as (player, tile)."""

    @property
    def hands(self) -> tuple[tuple[int, ...], tuple[int, ...], tuple[int, ...], tuple[int, ...]]:
        """Per player, the catalogue ids of the pieces still in hand."""

    @property
    def chosen_squares(self) -> tuple[int, ...]:
        """The tiles already laid for the piece being placed."""

    def placements(self) -> list[tuple[int, ...]]:
        """
        Every placement still possible for the piece being placed, as tuples of tiles (ascending): each covers the squares laid so far and at least one legal tile.
        """

    def state(self, planes_last: bool = False, extended: bool = False) -> numpy.typing.NDArray[numpy.bool_]:
        """
        The network input: bool (5, dim, dim), or (dim, dim, 5) with planes_last. Planes 0-3 hold the squares of players current + k (mod 4), plane 4 the legal tiles. extended adds 85 planes (90 in all): plane 5 the squares already laid for the piece being placed, then for each player current + k one constant plane per catalogue piece (ids 0-20), true while the piece is in that hand.
        """

    def board_text(self) -> str:
        """The board as printed text."""

    def copy(self) -> Game:
        """An independent copy."""

    def __copy__(self) -> Game: ...

    def __deepcopy__(self, memo: object) -> Game: ...

    def __getstate__(self) -> tuple[int, list[int]]: ...

    def __setstate__(self, arg: tuple[int, Sequence[int]], /) -> None: ...

    def __repr__(self) -> str: ...

def rollout_search(game: Game, simulations: int, seed: int | None = None, seconds: float | None = None, playouts: str = 'uniform') -> int:
    """
    The tile that UCT search with uniformly random playouts plays for the player to move after `simulations` playouts: the pool's search with leaf_evaluation='playouts' and selection='ucb1' (exploration 1). Four-player values: each node backs up the payoff of the player who moved into it. The same seed gives the same tile; no seed draws one from the system. With `seconds`, no playout starts once that time has passed (after the first): `simulations` is then a bound, and the tile depends on the machine's speed. `playouts`: 'uniform' (any legal tile) or 'larger' (each piece's placement drawn in proportion to its size squared).
    """

def rollout_visits(game: Game, simulations: int, seed: int | None = None, seconds: float | None = None, playouts: str = 'uniform') -> tuple[int, numpy.ndarray, numpy.ndarray]:
    """
    The search of `rollout_search` with what it saw at the root: the tile it plays, the legal tiles in ascending order and the playouts that went through each (int64 arrays). The same seed gives the same tile as `rollout_search`.
    """

def greedy_placements(game: Game) -> list[tuple[int, ...]]:
    """
    The placements a greedy player picks among: of the placements still possible for the piece being placed, those of the largest piece opening the most new corner cells for the player (cells diagonal to the placement, not edge-adjacent to it or to the player's squares, empty, on the board). Tuples of tiles, ordered by catalogue placement; empty once the game is over.
    """

def random_playout(game: Game, seed: int | None = None) -> None:
    """Plays uniformly random legal tiles on `game` until it is over."""

class SearchSettings:
    """
    What one search reads, whoever runs it: SearchPool, MoveSearch and the tavrin_self_play module (which reads the first seven) take it. SearchSettings(dim=..., **settings); every setting is an attribute, and a value of the wrong type or out of range is refused when set. The defaults choose a move as a player does: no root noise, no sampling, the most visited tile. Real-valued settings are kept in single precision where the search reads them so. The settings, in order: dim (required), rep (1), sims_per_move (32), sample_moves (0), c_puct (1.5), dirichlet_alpha (0.5), exploration_fraction (0.0), skip_single_tile (False), full_search_fraction (1.0), reduced_sims (0), extended_planes (False), first_play_reduction (None), gumbel_candidates (0), evaluation_cache (0), leaf_evaluation ('network'), playouts (1), playout_weight (0.5), playout_policy ('uniform'), leaf_batch (1), selection ('puct'), searched_value_weight (0.0), placement_shares (False), opening_sample_actions (0), seed (None). Beyond the module's seven: skip_single_tile (default False) plays one-tile actions without search or network call, recording the target a search would give (all on that tile); full_search_fraction (1.0) below 1 gives the other actions reduced_sims (0) simulations and no target; extended_planes (False) sends Game.state(extended=True) planes to the network; first_play_reduction (None) values an unvisited child at its parent's network value minus this (None: at 0, the module's rule); gumbel_candidates (0) of at least 2 gives every full search of two or more root children a Gumbel root: that many candidates by Gumbel noise plus log prior (no noise without exploration_fraction), sequential halving of the simulations over them, the surviving candidate played and softmax(log prior + sigma(completed Q)) recorded as the target; seed (None) gives game n its own random stream seeded from (seed, n), so that the same games come out however they are shared among pools (None: the system's entropy); evaluation_cache (0) keeps up to that many network answers for positions reached again, and lets the games of one batch that wait on one position share its row; leaf_evaluation ('network') values a leaf by the network, by 'playouts' (uniform priors, the mean payoff of `playouts` (1) random playouts to the end; no network call at all) or 'mixed' (the network's priors, (1 - playout_weight) * its value + playout_weight (0.5) * the playouts' mean payoff; the playouts of a batch run on a thread of their own while the caller computes its answers); selection ('puct') 'ucb1' descends by UCB1 with c_puct as its constant, unvisited children first in random order, and plays the most visited tile, ties to the lower; opening_sample_actions (0) draws each player's first that many actions from the search's policy (visit shares, or a Gumbel root's improved policy) instead of taking its best; placement_shares (False) gives each record, per action, the whole placements its search went through: (squares, share among its simulations that laid a whole piece, mean value for the placing player), most visited first, the orders that lay the same squares merged; searched_value_weight (0.0) blends that share of each searched action's mean backed-up value per player into its position's value target, beside the game's outcome; playout_policy ('uniform') or 'larger', each piece's placement drawn in proportion to its size squared; leaf_batch (1) leaves gathered under a virtual loss for one network call.
    """

    def __init__(self, **kwargs) -> None: ...

    def replace(self, **kwargs) -> SearchSettings:
        """A copy with the settings given by keyword changed."""

    def __copy__(self) -> SearchSettings: ...

    def __deepcopy__(self, memo: object) -> SearchSettings: ...

    def __eq__(self, arg: object, /) -> bool: ...

    def __repr__(self) -> str: ...

    def __getstate__(self) -> tuple: ...

    def __setstate__(self, arg: tuple, /) -> None: ...

    __hash__: None = None

    @property
    def dim(self) -> object: ...

    @dim.setter
    def dim(self, arg: object, /) -> None: ...

    @property
    def rep(self) -> object: ...

    @rep.setter
    def rep(self, arg: object, /) -> None: ...

    @property
    def sims_per_move(self) -> object: ...

    @sims_per_move.setter
    def sims_per_move(self, arg: object, /) -> None: ...

    @property
    def sample_moves(self) -> object: ...

    @sample_moves.setter
    def sample_moves(self, arg: object, /) -> None: ...

    @property
    def c_puct(self) -> object: ...

    @c_puct.setter
    def c_puct(self, arg: object, /) -> None: ...

    @property
    def dirichlet_alpha(self) -> object: ...

    @dirichlet_alpha.setter
    def dirichlet_alpha(self, arg: object, /) -> None: ...

    @property
    def exploration_fraction(self) -> object: ...

    @exploration_fraction.setter
    def exploration_fraction(self, arg: object, /) -> None: ...

    @property
    def skip_single_tile(self) -> object: ...

    @skip_single_tile.setter
    def skip_single_tile(self, arg: object, /) -> None: ...

    @property
    def full_search_fraction(self) -> object: ...

    @full_search_fraction.setter
    def full_search_fraction(self, arg: object, /) -> None: ...

    @property
    def reduced_sims(self) -> object: ...

    @reduced_sims.setter
    def reduced_sims(self, arg: object, /) -> None: ...

    @property
    def extended_planes(self) -> object: ...

    @extended_planes.setter
    def extended_planes(self, arg: object, /) -> None: ...

    @property
    def first_play_reduction(self) -> object: ...

    @first_play_reduction.setter
    def first_play_reduction(self, arg: object, /) -> None: ...

    @property
    def gumbel_candidates(self) -> object: ...

    @gumbel_candidates.setter
    def gumbel_candidates(self, arg: object, /) -> None: ...

    @property
    def evaluation_cache(self) -> object: ...

    @evaluation_cache.setter
    def evaluation_cache(self, arg: object, /) -> None: ...

    @property
    def leaf_evaluation(self) -> object: ...

    @leaf_evaluation.setter
    def leaf_evaluation(self, arg: object, /) -> None: ...

    @property
    def playouts(self) -> object: ...

    @playouts.setter
    def playouts(self, arg: object, /) -> None: ...

    @property
    def playout_weight(self) -> object: ...

    @playout_weight.setter
    def playout_weight(self, arg: object, /) -> None: ...

    @property
    def playout_policy(self) -> object: ...

    @playout_policy.setter
    def playout_policy(self, arg: object, /) -> None: ...

    @property
    def leaf_batch(self) -> object: ...

    @leaf_batch.setter
    def leaf_batch(self, arg: object, /) -> None: ...

    @property
    def selection(self) -> object: ...

    @selection.setter
    def selection(self, arg: object, /) -> None: ...

    @property
    def searched_value_weight(self) -> object: ...

    @searched_value_weight.setter
    def searched_value_weight(self, arg: object, /) -> None: ...

    @property
    def placement_shares(self) -> object: ...

    @placement_shares.setter
    def placement_shares(self, arg: object, /) -> None: ...

    @property
    def opening_sample_actions(self) -> object: ...

    @opening_sample_actions.setter
    def opening_sample_actions(self, arg: object, /) -> None: ...

    @property
    def seed(self) -> object: ...

    @seed.setter
    def seed(self, arg: object, /) -> None: ...

class SearchPool:
    """
    Many searches in one process, their networks' positions evaluated in batches: whole self-play games, or one action from each of many positions (for_positions: the players' and the arena's move choices). SelfPlayPool is the same class under its earlier name. Each round, next_batch() gives the position of every game waiting on the network; submit() takes the answers for exactly that batch and plays every game on to its next request. Finished games come from take_finished() as dicts of numpy arrays. The search is the module's: same selection, backup, root noise, sampling and tree reuse, unless first_play_reduction or gumbel_candidates is given.
    """

    def __init__(self, settings: object, games: int = 64, total_games: int | None = None, first_game: int = 0) -> None:
        """
        `settings`: a SearchSettings (its documentation tells what each setting does), or any object with the module's seven config attributes, read as the module reads them, and any of the other settings by name. `games` play at once until `total_games` (default `games`) are done; they are numbered from `first_game` in the order they start, and a record's index is its number.
        """

    @staticmethod
    def for_positions(positions: list, settings: object, seeds: Sequence[int] | None = None) -> SearchPool:
        """
        One search of one action from each position (copied), e.g. a player's move choice. The chosen tile of position i is the single move of the finished record whose index is i; with a seed, position i draws the stream of game i; with `seeds` (one int per position), position i draws a stream seeded from seeds[i] alone. `settings` as for the constructor; dim, skip_single_tile, full_search_fraction and reduced_sims are ignored.
        """

    def done(self) -> bool:
        """True once every game has ended."""

    def next_batch(self) -> numpy.typing.NDArray[numpy.bool_]:
        """
        A fresh bool array (B, P, dim, dim), or (B, dim, dim, P) with rep 2: the positions waiting on the network, one per game; P is input_planes. Asking again before submit() gives the same batch.
        """

    def next_inputs(self) -> tuple[numpy.typing.NDArray[numpy.bool_], numpy.typing.NDArray[numpy.bool_]]:
        """
        The same batch with the hands not widened: bool (B, board_planes, dim, dim) (or planes last with rep 2), and bool (B, hand_entries), one entry per hand plane (none with five planes).
        """

    def submit(self, policy_logits: Annotated[NDArray, dict(device='cpu', writable=False)], value_logits: Annotated[NDArray, dict(device='cpu', writable=False)]) -> None:
        """
        float32 (B, dim*dim) and (B, 4), numpy or torch on the CPU, rows in batch order, values relative to the player to move. NaN or infinity (on a legal tile, or among the values) and wrong shapes raise and change nothing.
        """

    def take_finished(self) -> list:
        """
        Games finished since the last call: dicts with index, moves (N, 2) int32 of (player, tile), policy_tiles / policy_shares with policy_offsets (N + 1) delimiting each action's target (empty: no target) and payoffs (4,); for a whole game, also its training positions, one per action with a target, in order: example_planes (K, board_planes, dim, dim) bool planes first, example_hands (K, hand_entries) bool, and relative to the player to move example_value (K, 4), example_owners (K, dim, dim) int8 (4 empty) and example_score (K, 4) score margins (see final_targets).
        """

    @property
    def dim(self) -> int: ...

    @property
    def input_planes(self) -> int:
        """Planes per position: 5, or 90 extended."""

    @property
    def evaluations(self) -> int:
        """Network answers used so far (rows submitted)."""

    @property
    def requests(self) -> int:
        """Positions the games asked the network about so far."""

    @property
    def answered_without_network(self) -> int:
        """
        Requests answered from the evaluation cache, or by sharing a batch row with a game waiting on the same position.
        """

    @property
    def board_planes(self) -> int:
        """Board planes per position: 5, or 6 extended."""

    @property
    def hand_entries(self) -> int:
        """Hand entries per position: 0, or 84 extended."""

    @property
    def pending(self) -> int:
        """Games waiting on the network now."""

SelfPlayPool: TypeAlias = SearchPool

class MoveSearch:
    """
    One seat's search through a whole game, the tree kept from action to action. sync(game) brings it to the game (the actions since its last position are played, and the subtree they lead to kept; a game that does not continue it starts it over); begin() starts the search of the action to play; next_inputs() gives the positions waiting on the network (up to leaf_batch at once) until the search is done (None); submit() takes their answers; best_tile() is the choice and play(tile) plays it.
    """

    def __init__(self, settings: object, game: Game, seed: int | None = None) -> None:
        """
        `settings` as SearchPool takes them (dim, skip_single_tile, full_search_fraction and reduced_sims ignored), leaf_batch (1) among them; `game` is copied; `seed` (None: the system's entropy) seeds its random stream.
        """

    def sync(self, game: Game) -> bool:
        """
        Brings the search to `game`; True when the tree was kept (the game continues the search's own).
        """

    def continued_by(self, game: Game) -> bool:
        """
        Whether `game` continues the search's own position: sync(game) would keep the tree.
        """

    @property
    def actions(self) -> int:
        """Actions played in the search's position."""

    def reseed(self, seed: int) -> None:
        """A random stream seeded from `seed` alone from now on."""

    def begin(self, simulations: int, seconds: float | None = None) -> None:
        """
        Starts the search of the action to play with that many simulations (at least 1); with `seconds`, no leaf batch is gathered once that time has passed (after the first simulation): the search is then done with the simulations it made (simulations_done).
        """

    def next_inputs(self) -> tuple[numpy.typing.NDArray[numpy.bool_], numpy.typing.NDArray[numpy.bool_]] | None:
        """
        The positions waiting on the network as SearchPool.next_inputs gives them, or None once the search is done. Asking again before submit() gives the same positions.
        """

    def submit(self, policy_logits: Annotated[NDArray, dict(device='cpu', writable=False)], value_logits: Annotated[NDArray, dict(device='cpu', writable=False)]) -> None:
        """
        float32 (B, dim*dim) and (B, 4) answers for the positions of next_inputs(), as SearchPool.submit takes them.
        """

    def run_playouts(self) -> None:
        """
        A mixed search's playouts from the waiting leaves (submit runs those not run), without the GIL: another thread may run them while the network computes.
        """

    def abandon(self) -> None:
        """
        Gives up the action's search where it stands; the tree stays whole for the next one.
        """

    def best_tile(self) -> int:
        """The search's choice, once it is done."""

    def play(self, tile: int) -> None:
        """Plays a legal tile; its subtree becomes the next root."""

    def root_visits(self) -> list:
        """(tile, visits) of every root child, ascending tile."""

    def placements(self) -> list:
        """
        The whole placements the search went through: (squares, share, mean value for the placing player).
        """

    @property
    def simulations_done(self) -> int:
        """Simulations of the last action's search."""

    @property
    def root_visit_count(self) -> int:
        """Visits of the root so far, those kept from earlier searches included."""

    @property
    def game(self) -> Game:
        """A copy of the search's position."""

def final_targets(game: Game, movers: numpy.typing.NDArray[numpy.integer]) -> tuple[numpy.typing.NDArray[numpy.int8], numpy.typing.NDArray[numpy.float32]]:
    """
    The targets only the end of a game knows, for its positions whose players to move are `movers` (integers, one per position): owners int8 (K, dim, dim), the final owner of every cell relative to the position's mover (4 empty), and score float32 (K, 4), every player's final score minus the mean of the four over a quarter of the board, from the mover on. `game` must be over. The batched pool's records carry the same targets (example_owners, example_score).
    """
