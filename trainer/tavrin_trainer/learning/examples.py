"""Training examples from the engine's self-play records.

A record is ``(moves, policies, payoffs)``: ``moves`` the (player, tile) of
every action in order, ``policies`` for every action the (tile, share) of each
child of the search root, ``payoffs`` the final payoff of the four players.
The module's records do not hold the positions: they are rebuilt by
replaying the moves through the engine (``tavrin_engine.Game``), whose
``state()`` is exactly what the engine sent the network. The batched pool's
records carry their positions and targets already (``examples_from_pool``);
replaying them too (``examples_from_pool_record``) checks the pool. The
targets:

* policy: the visit shares, zero elsewhere;
* value: the payoffs seen from the player p of the action (entry k belongs to
  player p+k);
* owners and score (the auxiliary heads'): the final owner of every cell and
  the final score margins, seen from the same player, built by the engine
  (``tavrin_engine.final_targets``) as the pool builds its own.

Replaying checks the record too: every move must be legal for the player
recorded, every policy tile legal, the game must end with the last move and
its payoffs must be the record's. A record that breaks any of this raises
``RecordError``: a corrupt record must never reach the replay buffer.
"""

from __future__ import annotations

import math
from dataclasses import dataclass
from typing import Any, Sequence

import numpy as np
import tavrin_engine as te

# Shares are 32-bit visit fractions; their sum drifts from 1 by rounding only.
SHARE_SUM_TOLERANCE = 1e-3


class RecordError(ValueError):
    """A self-play record that cannot be turned into training examples."""


# Final owner of a cell in the ownership target: the four players relative to
# the player to move, then EMPTY; UNKNOWN where no target exists.
EMPTY = 4
UNKNOWN = -1


FIELDS = ("planes", "policy", "value", "owners", "score", "hands")


@dataclass
class Examples:
    """Positions of one or more games with their targets: the board planes
    planes-first (N, 5, dim, dim), or the 6 board planes of the extended input
    with the 84 hand entries in ``hands`` (N, 84), one per hand plane, not
    widened over the board. Given the 90 widened extended planes (as
    ``te.Game.state(extended=True)`` gives them), the hands are split off.
    ``owners`` and ``score`` are the auxiliary targets; left out, they are
    unknown (UNKNOWN owners, NaN scores) and train nothing."""

    planes: np.ndarray  # bool
    policy: np.ndarray  # float32 (N, dim * dim)
    value: np.ndarray  # float32 (N, 4)
    owners: np.ndarray | None = None  # int8 (N, dim, dim): final owner class of each cell
    score: np.ndarray | None = None  # float32 (N, 4): final score margins, relative to the mover
    hands: np.ndarray | None = None  # bool (N, 84) with the extended board planes, else (N, 0)

    def __post_init__(self) -> None:
        count, dim = len(self.planes), self.planes.shape[-1]
        if self.hands is None:
            if self.planes.shape[1] == te.EXTENDED_STATE_PLANES:
                self.hands = np.ascontiguousarray(self.planes[:, te.EXTENDED_BOARD_PLANES:, 0, 0])
                self.planes = np.ascontiguousarray(self.planes[:, :te.EXTENDED_BOARD_PLANES])
            else:
                self.hands = np.zeros((count, 0), dtype=bool)
        if self.owners is None:
            self.owners = np.full((count, dim, dim), UNKNOWN, dtype=np.int8)
        if self.score is None:
            self.score = np.full((count, te.PLAYERS), np.nan, dtype=np.float32)

    @property
    def input_planes(self) -> int:
        """The network input these positions are: 5, or the 90 extended planes."""
        return self.planes.shape[1] + self.hands.shape[1]

    def __len__(self) -> int:
        return len(self.planes)

    def __getitem__(self, rows) -> "Examples":
        return Examples(*(getattr(self, name)[rows] for name in FIELDS))

    @staticmethod
    def concatenate(parts: Sequence["Examples"]) -> "Examples":
        return Examples(*(np.concatenate([getattr(p, name) for p in parts]) for name in FIELDS))


def examples_from_record(record: Any, dim: int) -> Examples:
    """Examples of a module record: every action carries a policy target."""
    moves, policies, payoffs = _unpack(record)
    return _replay(moves, policies, payoffs, dim, targets_optional=False)


def examples_from_pool_record(record: dict, dim: int, extended: bool = False) -> Examples:
    """Examples of a ``tavrin_engine.SearchPool`` record. Actions without a
    policy target (played without search, or with a reduced one) are replayed
    and checked but give no example. ``extended``: the positions carry the
    engine's extended planes, as the pool sent them."""
    moves, policies, payoffs = pool_record_lists(record)
    return _replay(moves, policies, payoffs, dim, targets_optional=True, extended=extended)


POOL_EXAMPLE_KEYS = ("example_planes", "example_value", "example_owners", "example_score", "example_hands")


def examples_from_pool(record: dict, dim: int, extended: bool = False) -> Examples:
    """The training positions a ``tavrin_engine.SearchPool`` record carries
    (its ``example_*`` arrays, built by the engine as the game was played,
    and the policy targets of its actions), checked without replaying the
    game: one per action with a policy target, the shapes of board side
    ``dim``, every target a sound distribution or finite, the policy only on
    legal tiles. A record without them (no action with a target) gives no
    examples."""
    _, tiles, shares, offsets = _sparse_policies(record)
    counts = np.diff(offsets)
    targets = int(np.count_nonzero(counts))
    cells = dim * dim
    board_planes = te.EXTENDED_BOARD_PLANES if extended else te.STATE_PLANES
    hand_entries = te.HAND_PLANES if extended else 0
    if targets == 0 and "example_planes" not in record:
        return Examples(np.zeros((0, board_planes, dim, dim), bool), np.zeros((0, cells), np.float32),
                        np.zeros((0, te.PLAYERS), np.float32), hands=np.zeros((0, hand_entries), bool))
    missing = [key for key in POOL_EXAMPLE_KEYS if key not in record]
    if missing:
        raise RecordError(f"a pool record with {targets} policy targets lacks {', '.join(missing)}")
    planes, value, owners, score, hands = (np.asarray(record[key]) for key in POOL_EXAMPLE_KEYS)
    wanted = {"example_planes": (planes, (targets, board_planes, dim, dim), np.bool_),
              "example_hands": (hands, (targets, hand_entries), np.bool_),
              "example_value": (value, (targets, te.PLAYERS), np.float32),
              "example_owners": (owners, (targets, dim, dim), np.int8),
              "example_score": (score, (targets, te.PLAYERS), np.float32)}
    for key, (array, shape, dtype) in wanted.items():
        if array.shape != shape or array.dtype != dtype:
            raise RecordError(f"{key} is {array.dtype}{list(array.shape)}, expected {np.dtype(dtype)}{list(shape)}")
    if len(tiles) and (tiles.min() < 0 or tiles.max() >= cells):
        raise RecordError("a policy tile is off the board")
    # One dense row per action with a target, in action order, as the example rows are.
    policy = np.zeros((targets, cells), dtype=np.float32)
    rows = np.repeat(np.arange(targets), counts[counts > 0])
    np.add.at(policy, (rows, tiles.astype(np.int64)), shares.astype(np.float32))
    for name, distribution in (("policy", policy), ("value", value)):
        if not np.all(np.isfinite(distribution)) or distribution.min(initial=0) < 0 or \
                not np.allclose(distribution.sum(axis=1), 1, atol=SHARE_SUM_TOLERANCE):
            raise RecordError(f"a {name} target is not non-negative summing to 1")
    if not planes[:, 4].reshape(targets, cells)[rows, tiles].all():
        raise RecordError("a policy target names a tile that is not legal")
    if not np.all(np.isfinite(score)) or owners.min(initial=0) < 0 or owners.max(initial=0) > EMPTY:
        raise RecordError("the score or ownership targets are out of range")
    return Examples(planes, policy, value, owners, score, hands)


def _sparse_policies(record: dict) -> tuple[np.ndarray, np.ndarray, np.ndarray, np.ndarray]:
    """A pool record's moves (N, 2) and policy targets: tiles and shares,
    and the offsets that delimit each action's (empty: no target)."""
    try:
        tiles, shares = np.asarray(record["policy_tiles"]), np.asarray(record["policy_shares"])
        offsets = np.asarray(record["policy_offsets"])
        moves = np.asarray(record["moves"]).reshape(-1, 2)
    except (KeyError, TypeError, ValueError) as error:
        raise RecordError(f"a pool record is a dict of moves, policy_tiles, policy_shares, policy_offsets and "
                          f"payoffs: {error}") from error
    if len(offsets) != len(moves) + 1 or offsets[0] != 0 or np.any(np.diff(offsets) < 0) or \
            offsets[-1] != len(tiles) or len(tiles) != len(shares):
        raise RecordError("policy_offsets do not delimit one policy per move")
    return moves, tiles, shares, offsets


def pool_record_lists(record: dict) -> tuple[list, list, list]:
    """A pool record as the module's (moves, policies, payoffs); an action
    without a target has an empty policy list."""
    moves, tiles, shares, offsets = _sparse_policies(record)
    try:
        payoffs = np.asarray(record["payoffs"]).tolist()
    except KeyError as error:
        raise RecordError(f"a pool record has no payoffs: {error}") from error
    policies = [list(zip(tiles[a:b].tolist(), shares[a:b].tolist())) for a, b in zip(offsets[:-1], offsets[1:])]
    return moves.tolist(), policies, payoffs


def _replay(moves: Sequence, policies: Sequence, payoffs: Sequence, dim: int, targets_optional: bool,
            extended: bool = False) -> Examples:
    cells = dim * dim
    payoffs = _check_payoffs(payoffs)
    steps = len(moves)
    if steps != len(policies):
        raise RecordError(f"{steps} moves but {len(policies)} policy lists")
    if steps > cells:
        raise RecordError(f"{steps} moves do not fit a board of {cells} cells")

    game = te.Game(dim)
    planes = np.empty((steps, te.EXTENDED_STATE_PLANES if extended else te.STATE_PLANES, dim, dim), dtype=bool)
    policy = np.zeros((steps, cells), dtype=np.float32)
    value = np.zeros((steps, te.PLAYERS), dtype=np.float32)
    movers = np.zeros(steps, dtype=np.int8)
    kept = 0
    for step, (move, entries) in enumerate(zip(moves, policies)):
        player, tile = _check_move(move, step, cells)
        if game.is_terminal():
            raise RecordError(f"action {step}: the game was already over")
        if player != game.current_player:
            raise RecordError(f"action {step}: player {player} moved, but player {game.current_player} was to move")
        if targets_optional and len(entries) == 0:
            try:
                game.apply(tile)
            except ValueError as error:
                raise RecordError(f"action {step}: {error}") from error
            continue
        planes[kept] = game.state(extended=extended)
        tiles, shares = _check_policy(entries, step, cells)
        if not planes[kept, 4].reshape(cells)[tiles].all():
            raise RecordError(f"action {step}: the policy list names a tile that is not legal")
        if tile not in set(tiles.tolist()):
            raise RecordError(f"action {step}: played tile {tile} is not in its policy list")
        policy[kept, tiles] = shares
        value[kept] = np.roll(payoffs, -player)
        movers[kept] = player
        game.apply(tile)  # legal: its policy tiles are
        kept += 1
    if not game.is_terminal():
        raise RecordError(f"the record ends after {steps} actions, before the game does")
    if not np.allclose(game.payoff(), payoffs, atol=SHARE_SUM_TOLERANCE):
        raise RecordError(f"payoffs {payoffs.tolist()} are not the replayed game's {list(game.payoff())}")
    return Examples(planes[:kept], policy[:kept], value[:kept], *te.final_targets(game, movers[:kept]))


def _unpack(record: Any) -> tuple[Sequence, Sequence, Sequence]:
    try:
        moves, policies, payoffs = record
    except (TypeError, ValueError) as error:
        raise RecordError(f"a record is (moves, policies, payoffs), got {type(record).__name__}") from error
    return moves, policies, payoffs


def _check_payoffs(payoffs: Sequence) -> np.ndarray:
    values = np.asarray(payoffs, dtype=np.float64)
    if values.shape != (te.PLAYERS,):
        raise RecordError(f"payoffs must be four numbers, got shape {values.shape}")
    if not np.all(np.isfinite(values)) or values.min() < 0 or abs(values.sum() - 1) > SHARE_SUM_TOLERANCE:
        raise RecordError(f"payoffs must be non-negative and sum to 1, got {values.tolist()}")
    return values.astype(np.float32)


def _check_move(move: Any, step: int, cells: int) -> tuple[int, int]:
    try:
        player, tile = int(move[0]), int(move[1])
    except (TypeError, ValueError, IndexError) as error:
        raise RecordError(f"action {step}: a move is (player, tile), got {move!r}") from error
    if not 0 <= player < te.PLAYERS:
        raise RecordError(f"action {step}: player {player} is not 0 to 3")
    if not 0 <= tile < cells:
        raise RecordError(f"action {step}: tile {tile} is off the board")
    return player, tile


def _check_policy(entries: Any, step: int, cells: int) -> tuple[np.ndarray, np.ndarray]:
    try:
        tiles = np.fromiter((int(t) for t, _ in entries), dtype=np.int64)
        shares = np.fromiter((float(s) for _, s in entries), dtype=np.float64)
    except (TypeError, ValueError) as error:
        raise RecordError(f"action {step}: a policy list holds (tile, share) pairs") from error
    if len(tiles) == 0:
        raise RecordError(f"action {step}: empty policy list")
    if tiles.min() < 0 or tiles.max() >= cells:
        raise RecordError(f"action {step}: a policy tile is off the board")
    if len(np.unique(tiles)) != len(tiles):
        raise RecordError(f"action {step}: a policy tile is listed twice")
    total = shares.sum()
    if not np.all(np.isfinite(shares)) or shares.min() < 0 or not math.isclose(total, 1, abs_tol=SHARE_SUM_TOLERANCE):
        raise RecordError(f"action {step}: shares must be non-negative and sum to 1 (sum {total})")
    return tiles, (shares / total).astype(np.float32)
