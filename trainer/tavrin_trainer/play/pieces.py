"""The pieces as shapes a person turns and flips, and which piece a set of
board cells is."""

from __future__ import annotations

from functools import lru_cache

import tavrin_engine as te

Cells = frozenset[tuple[int, int]]


def normalised(cells) -> Cells:
    """``cells`` moved so that their smallest row and column are 0."""
    cells = list(cells)
    top = min(r for r, _ in cells)
    left = min(c for _, c in cells)
    return frozenset((r - top, c - left) for r, c in cells)


def orientations(cells) -> list[Cells]:
    """The distinct shapes of a piece under quarter turns and mirroring."""
    seen: list[Cells] = []
    shape = normalised(cells)
    for _ in range(2):
        for _ in range(4):
            if shape not in seen:
                seen.append(shape)
            shape = normalised((c, -r) for r, c in shape)  # a quarter turn
        shape = normalised((r, -c) for r, c in shape)  # mirrored
    return seen


@lru_cache(maxsize=None)
def catalogue() -> dict[int, list[tuple[int, int]]]:
    """Every piece id with its squares as (row, column) pairs."""
    return {piece: [tuple(square) for square in te.piece_shape(piece)] for piece in range(te.PIECES)}


@lru_cache(maxsize=None)
def _piece_by_shape() -> dict[Cells, int]:
    return {shape: piece for piece, squares in catalogue().items() for shape in orientations(squares)}


def piece_of(tiles, dim: int) -> int | None:
    """The piece whose squares ``tiles`` (row * dim + column) are, or None."""
    return _piece_by_shape().get(normalised(divmod(int(t), dim) for t in tiles)) if tiles else None
