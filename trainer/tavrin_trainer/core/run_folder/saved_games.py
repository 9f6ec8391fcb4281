"""Finished games as the run folder keeps them: one JSON line a game
(``games/generation-NNNN.jsonl``, and the arena's ``--save-games`` files),
read back and regrouped into whole pieces by replaying the rules."""

from __future__ import annotations

import json
from dataclasses import dataclass
from pathlib import Path
from typing import Any

import numpy as np
import tavrin_engine as te


@dataclass
class SavedGame:
    dim: int
    moves: list[tuple[int, int]]
    payoffs: list[float]
    generation: int | None = None
    seats: list[str] | None = None  # who played each seat, when known (arena games)

    def owners(self) -> np.ndarray:
        owner = np.full(self.dim * self.dim, -1, dtype=np.int8)
        for player, tile in self.moves:
            if not 0 <= tile < self.dim * self.dim:
                raise ValueError(f"tile {tile} is off a board of side {self.dim}")
            owner[tile] = player
        return owner.reshape(self.dim, self.dim)

    def to_json(self) -> str:
        data = {"generation": self.generation, "dim": self.dim, "moves": [list(m) for m in self.moves],
                "payoffs": list(self.payoffs)}
        if self.seats is not None:
            data["seats"] = list(self.seats)
        return json.dumps(data)

    @classmethod
    def from_json(cls, line: str) -> "SavedGame":
        data = json.loads(line)
        return cls(dim=int(data["dim"]), moves=[(int(p), int(t)) for p, t in data["moves"]],
                   payoffs=[float(x) for x in data["payoffs"]], generation=data.get("generation"),
                   seats=[str(name) for name in data["seats"]] if data.get("seats") else None)


def pieces_of(game: SavedGame) -> list[tuple[int, list[int]]]:
    """The game's squares grouped into whole pieces, (player, squares), by
    replaying it (a player may move twice in a row when the others are
    out); ValueError at the first move the rules refuse."""
    replayed = te.Game(game.dim)
    pieces: list[tuple[int, list[int]]] = []
    laid: list[int] = []
    for number, (player, tile) in enumerate(game.moves, start=1):
        if replayed.is_terminal() or player != replayed.current_player or tile not in set(replayed.legal_tiles()):
            raise ValueError(f"move {number} is not legal")
        replayed.apply(tile)
        laid.append(tile)
        if not replayed.chosen_squares:
            pieces.append((player, laid))
            laid = []
    if laid:  # a game saved with a piece half laid shows that half as its last step
        pieces.append((game.moves[-1][0], laid))
    return pieces


def read_games(path: Path) -> list[SavedGame]:
    with open(path) as source:
        return [SavedGame.from_json(line) for line in source if line.strip()]


def game_from_moves(moves: Any, payoffs: Any, dim: int, generation: int | None = None) -> SavedGame:
    """A finished game to save: its (player, tile) moves and four payoffs."""
    return SavedGame(dim=dim, moves=[(int(p), int(t)) for p, t in moves],
                     payoffs=[float(x) for x in payoffs], generation=generation)
