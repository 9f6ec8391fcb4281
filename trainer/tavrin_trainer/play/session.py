"""One game in the browser: who sits where, its placements, undo.

A person places whole pieces; the engine takes them square by square
through ``te.Game``, so the rules are the engine's own. Computer seats move
one whole piece per ``advance`` call, so the page can show them one after
another.
"""

from __future__ import annotations

import itertools
import threading
import time
import uuid
from dataclasses import dataclass
from typing import Any, Callable

import tavrin_engine as te

from tavrin_trainer.core.settings.limits import MIN_SIDE
from tavrin_trainer.evaluation.players import GreedyPlayer, Player, RandomPlayer, RolloutPlayer
from tavrin_trainer.play.pieces import piece_of
from tavrin_trainer.play.stopping import with_stop

# Largest search a seat or an analysis may ask for: a move of a few seconds.
MAX_SIMULATIONS = 4096
# A network seat's search unless the request says otherwise: the mixed
# search (every leaf valued half by the network, half by random playouts),
# the strongest player measured, at about a second per piece on one core.
DEFAULT_SEAT_SIMULATIONS = 128
DEFAULT_SEAT_PLAYOUTS = 1
PLAYOUT_WEIGHT = 0.5
MAX_SEAT_PLAYOUTS = 16
# A seat's thinking time per piece, when it is given one: at most a minute.
MAX_THINK_MS = 60_000
# No square of a piece is searched for less than this, however little is left.
MIN_ACTION_SECONDS = 0.005


class RequestRefused(Exception):
    """A request the session cannot take; nothing changed. ``status`` is the
    HTTP answer: 400 malformed, 404 unknown, 409 not now."""

    def __init__(self, message: str, status: int = 409) -> None:
        super().__init__(message)
        self.status = status


@dataclass
class Seat:
    kind: str  # human, random, greedy, rollout or network
    label: str
    player: Player | None  # None for a person
    seconds: float = 0.0  # the computer's thinking, over `pieces` pieces
    pieces: int = 0
    # A searching seat given a thinking time per piece searches by the clock
    # (its simulations then only plan the first search).
    think_seconds: float | None = None

    def seconds_per_piece(self) -> float | None:
        return self.seconds / self.pieces if self.pieces else None


def _whole_number(choice: dict, name: str, default: int, most: int) -> int:
    value = choice.get(name, default)
    if not isinstance(value, int) or isinstance(value, bool) or not 0 <= value <= most:
        raise RequestRefused(f"{name} must be a whole number from 0 to {most}, got {value!r}", 400)
    return value


def _simulations(choice: dict, default: int) -> int:
    return _whole_number(choice, "simulations", default, MAX_SIMULATIONS)


def _think_seconds(choice: dict) -> float | None:
    milliseconds = _whole_number(choice, "think_ms", 0, MAX_THINK_MS)
    return milliseconds / 1000 if milliseconds else None


def make_seat(choice: Any, networks: Callable[[str, int, int], Player]) -> Seat:
    """A seat from its request: {"kind": "human" | "random" | "greedy"},
    {"kind": "rollout", "simulations": N} or {"kind": "network", "source":
    NAME, "simulations": N, "playouts": K} (K random playouts per leaf mixed
    into the network's value, weight 0.5; 0 for the network alone); a
    rollout or network seat with "think_ms": T (1 to 60000) searches by the
    clock, T milliseconds a piece. ``networks(name, simulations, playouts)``
    builds the network players the server offers."""
    if not isinstance(choice, dict) or not isinstance(choice.get("kind"), str):
        raise RequestRefused(f"a seat is an object with a kind, got {choice!r}", 400)
    kind = choice["kind"]
    if kind == "human":
        return Seat(kind, "you", None)
    if kind == "random":
        return Seat(kind, "random", RandomPlayer())
    if kind == "greedy":
        return Seat(kind, "greedy", GreedyPlayer())
    if kind == "rollout":
        simulations = _simulations(choice, 256)
        if simulations < 1:
            raise RequestRefused("a rollout seat needs at least 1 simulation", 400)
        think = _think_seconds(choice)
        label = f"rollout:{simulations}" if think is None else f"rollout, {think * 1000:g} ms a piece"
        return Seat(kind, label, RolloutPlayer(simulations), think_seconds=think)
    if kind == "network":
        source = choice.get("source")
        if not isinstance(source, str):
            raise RequestRefused("a network seat names its source", 400)
        simulations = _simulations(choice, DEFAULT_SEAT_SIMULATIONS)
        playouts = _whole_number(choice, "playouts", DEFAULT_SEAT_PLAYOUTS if simulations else 0, MAX_SEAT_PLAYOUTS)
        if playouts and not simulations:
            raise RequestRefused("playouts value the leaves of a search: give simulations too", 400)
        think = _think_seconds(choice)
        if think is not None and not simulations:
            raise RequestRefused("a thinking time is for a search: give simulations too", 400)
        player = networks(source, simulations, playouts)
        label = (f"mixed:{playouts}:{PLAYOUT_WEIGHT:g}:" if playouts else "") + source
        budget = f", {think * 1000:g} ms a piece" if think is not None else f" @{simulations}" if simulations else ""
        return Seat(kind, label + budget, player, think_seconds=think)
    raise RequestRefused(f"unknown seat kind {kind!r}: human, random, greedy, rollout or network", 400)


def completable_placements(game) -> list[tuple[int, ...]]:
    """The placements of the player to move that the game can take whole: at
    the start of a turn, those no larger possible placement contains (laying
    the squares of one inside a larger one, the game waits for more)."""
    possible = [tuple(p) for p in game.placements()]
    inside_larger = set()
    for placement in possible:
        for size in range(1, len(placement)):
            inside_larger.update(itertools.combinations(placement, size))
    return [p for p in possible if p not in inside_larger]


@dataclass
class ComputerPiece:
    """A computer seat's piece, found on a copy of the game at ``moves`` placements."""

    moves: int
    player: int
    tiles: tuple[int, ...]
    game: Any  # the copy with the piece laid
    seconds: float


class PlaySession:
    def __init__(self, dim: int, seats: list[Seat]) -> None:
        if not isinstance(dim, int) or isinstance(dim, bool) or not MIN_SIDE <= dim <= te.MAX_SIDE:
            raise RequestRefused(f"the board side must be {MIN_SIDE} to {te.MAX_SIDE}, got {dim!r}", 400)
        if len(seats) != te.PLAYERS:
            raise RequestRefused(f"a game has {te.PLAYERS} seats, got {len(seats)}", 400)
        self.id = uuid.uuid4().hex[:12]
        self.dim = dim
        self.seats = seats
        self.game = te.Game(dim)
        self.placements: list[tuple[int, tuple[int, ...]]] = []  # (player, tiles) in order
        # One change at a time per game; a second waits for none, it is refused.
        # (A computer move searches without it, and takes it to lay its piece.)
        self.busy = threading.Lock()
        # The searches running for this game (searches.Search), stopped when it changes or goes.
        self.move_search: Any = None
        self.analysis: Any = None

    def stop_searches(self, reason: str) -> None:
        for search in (self.move_search, self.analysis):
            if search is not None:
                search.stop(reason)
        self.move_search = self.analysis = None

    @property
    def moves(self) -> int:
        return len(self.placements)

    def seat_to_move(self) -> Seat | None:
        return None if self.game.is_terminal() else self.seats[self.game.current_player]

    def place(self, tiles: Any) -> None:
        """A person's piece, as its squares (row * dim + column)."""
        seat = self.seat_to_move()
        if seat is None:
            raise RequestRefused("the game is over")
        if seat.player is not None:
            raise RequestRefused(f"it is {seat.label}'s turn, not yours")
        if (not isinstance(tiles, list) or not tiles
                or not all(isinstance(t, int) and not isinstance(t, bool) for t in tiles)):
            raise RequestRefused(f"a placement is a list of squares (row * {self.dim} + column), got {tiles!r}", 400)
        wanted = tuple(sorted(set(tiles)))
        if wanted not in completable_placements(self.game):
            if wanted in {tuple(p) for p in self.game.placements()}:
                raise RequestRefused("those squares lie inside a larger placement still open, so the game would "
                                     "wait for more squares: place the larger piece, or another")
            raise RequestRefused("no piece in your hand fits those squares there: a piece must touch one of "
                                 "your pieces corner to corner and no side of them")
        self._lay(wanted)

    def advance(self, stop: threading.Event | None = None) -> None:
        """One whole piece of the computer seat to move."""
        self.commit(self.computer_piece(stop))

    def computer_piece(self, stop: threading.Event | None = None) -> ComputerPiece:
        """The piece the computer seat to move lays, found on a copy of the
        game (the session is left as it is); RequestRefused once ``stop`` is
        set. The player is handed ``stop`` where it takes one."""
        seat = self.seat_to_move()
        if seat is None:
            raise RequestRefused("the game is over")
        if seat.player is None:
            raise RequestRefused("it is your turn")
        choose = seat.player.choose if stop is None else with_stop(seat.player.choose, stop)
        player, laid = self.game.current_player, []
        trial = self.game.copy()
        started = time.perf_counter()
        # One piece: it is done when no square of it is pending. (The same
        # player may move again at once, when everyone else is out.)
        while not laid or trial.chosen_squares:
            if stop is not None and stop.is_set():
                raise RequestRefused("the move was stopped")
            if seat.think_seconds is None:
                tile = int(choose(trial))
            else:  # the piece's time left, shared among the squares it may still need
                left = seat.think_seconds - (time.perf_counter() - started)
                squares = max(len(p) for p in trial.placements()) - len(trial.chosen_squares)
                tile = int(choose(trial, seconds=max(left / max(squares, 1), MIN_ACTION_SECONDS)))
            trial.apply(tile)
            laid.append(tile)
        return ComputerPiece(self.moves, player, tuple(sorted(laid)), trial, time.perf_counter() - started)

    def commit(self, piece: ComputerPiece) -> None:
        """Lays a piece that ``computer_piece`` found, if the game has not moved since."""
        if piece.moves != self.moves:
            raise RequestRefused("the game moved on while the computer thought")
        seat = self.seats[piece.player]
        seat.seconds += piece.seconds
        seat.pieces += 1
        self.game = piece.game
        self.placements.append((piece.player, piece.tiles))

    def undo(self) -> None:
        """Back to before your last piece (with every move since), or before
        the last piece when no one plays by hand."""
        humans = {k for k, seat in enumerate(self.seats) if seat.player is None}
        if not self.placements:
            raise RequestRefused("nothing to undo")
        keep = len(self.placements) - 1
        if humans:
            mine = [k for k, (player, _) in enumerate(self.placements) if player in humans]
            if not mine:
                raise RequestRefused("you have placed no piece yet")
            keep = mine[-1]
        self._replay(self.placements[:keep])

    def _lay(self, tiles: tuple[int, ...]) -> None:
        player = self.game.current_player
        trial = self.game.copy()
        for tile in tiles:
            trial.apply(tile)
        if trial.chosen_squares:
            raise RequestRefused("the game did not take those squares as one piece")  # guarded above
        self.game = trial
        self.placements.append((player, tiles))

    def _replay(self, placements: list[tuple[int, tuple[int, ...]]]) -> None:
        game = te.Game(self.dim)
        for _, tiles in placements:
            for tile in tiles:
                game.apply(tile)
        self.game, self.placements = game, list(placements)

    def state(self) -> dict[str, Any]:
        game = self.game
        owners = [-1] * (self.dim * self.dim)
        for player, tile in game.history:
            owners[tile] = player
        seat = self.seat_to_move()
        state: dict[str, Any] = {
            "id": self.id, "dim": self.dim, "moves": self.moves,
            "seats": [{"kind": s.kind, "label": s.label, "seconds_per_piece": s.seconds_per_piece()}
                      for s in self.seats],
            "owners": owners, "hands": [list(h) for h in game.hands], "scores": list(game.scores()),
            "out": list(game.finished), "over": game.is_terminal(),
            "current_player": None if seat is None else game.current_player,
            "turn": None if seat is None else ("human" if seat.player is None else "computer"),
            "last": list(self.placements[-1][1]) if self.placements else [],
            "payoffs": list(game.payoff()) if game.is_terminal() else None,
        }
        if seat is not None and seat.player is None:
            by_piece: dict[int, list[list[int]]] = {}
            for placement in completable_placements(game):
                by_piece.setdefault(piece_of(placement, self.dim), []).append(list(placement))
            state["placements"] = {str(piece): found for piece, found in sorted(by_piece.items())}
            # Pieces that fit somewhere, but only inside a larger placement still open: the page says why.
            inside = {piece_of(p, self.dim) for p in game.placements()} - set(by_piece)
            state["inside_larger"] = sorted(str(piece) for piece in inside if piece is not None)
        return state
