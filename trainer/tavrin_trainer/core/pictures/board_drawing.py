"""Boards of finished games as SVG or PNG.

A player's pieces never share an edge with each other (only corners), so the
edges between cells of different owners outline every piece exactly.
"""

from __future__ import annotations

from pathlib import Path

import numpy as np

from tavrin_trainer.core.run_folder.saved_games import SavedGame

# The engine's own colours (its printed board): 0 red, 1 blue, 2 yellow, 3 green.
PLAYER_COLOURS = ["#d6402f", "#2f6fd6", "#e8b420", "#2fa351"]
PLAYER_NAMES = ["red (0)", "blue (1)", "yellow (2)", "green (3)"]
EMPTY_COLOUR = "#f2f2f2"
GRID_COLOUR = "#cccccc"
CELL = 24  # SVG pixels per cell
MARGIN = 12
CAPTION = 44


def outline_segments(owner: np.ndarray) -> list[tuple[int, int, int, int]]:
    """Unit segments (x0, y0, x1, y1) in cell coordinates between cells of
    different owners, and along the board edge next to an occupied cell."""
    dim = owner.shape[0]
    padded = np.full((dim + 2, dim + 2), -1, dtype=np.int16)
    padded[1:-1, 1:-1] = owner
    segments = []
    for row in range(dim + 1):
        for col in range(dim):
            above, below = padded[row, col + 1], padded[row + 1, col + 1]
            if above != below:
                segments.append((col, row, col + 1, row))
    for row in range(dim):
        for col in range(dim + 1):
            left, right = padded[row + 1, col], padded[row + 1, col + 1]
            if left != right:
                segments.append((col, row, col, row + 1))
    return segments


def caption(game: SavedGame) -> str:
    squares = [sum(1 for p, _ in game.moves if p == player) for player in range(4)]
    parts = [f"{PLAYER_NAMES[p]}: {squares[p]} sq, payoff {game.payoffs[p]:.2f}" for p in range(4)]
    title = f"generation {game.generation}, " if game.generation is not None else ""
    return title + f"side {game.dim}", " | ".join(parts)


def game_to_svg(game: SavedGame) -> str:
    owner = game.owners()
    size = game.dim * CELL
    width, height = size + 2 * MARGIN, size + 2 * MARGIN + CAPTION
    out = [f'<svg xmlns="http://www.w3.org/2000/svg" width="{max(width, 560)}" height="{height}" '
           f'font-family="sans-serif" font-size="11">', '<rect width="100%" height="100%" fill="white"/>']
    for row in range(game.dim):
        for col in range(game.dim):
            colour = PLAYER_COLOURS[owner[row, col]] if owner[row, col] >= 0 else EMPTY_COLOUR
            out.append(f'<rect x="{MARGIN + col * CELL}" y="{MARGIN + row * CELL}" width="{CELL}" '
                       f'height="{CELL}" fill="{colour}" stroke="{GRID_COLOUR}" stroke-width="0.5"/>')
    for x0, y0, x1, y1 in outline_segments(owner):
        out.append(f'<line x1="{MARGIN + x0 * CELL}" y1="{MARGIN + y0 * CELL}" x2="{MARGIN + x1 * CELL}" '
                   f'y2="{MARGIN + y1 * CELL}" stroke="black" stroke-width="2" stroke-linecap="square"/>')
    for index, text in enumerate(caption(game)):
        out.append(f'<text x="{MARGIN}" y="{size + MARGIN + 18 + 16 * index}">{text}</text>')
    out.append("</svg>")
    return "\n".join(out) + "\n"


def game_to_png(game: SavedGame, path: Path) -> None:
    import matplotlib

    matplotlib.use("Agg")
    from matplotlib import pyplot as plt
    from matplotlib.colors import ListedColormap

    owner = game.owners()
    figure, axes = plt.subplots(figsize=(6, 6.6))
    colours = ListedColormap([EMPTY_COLOUR] + PLAYER_COLOURS)
    axes.imshow(owner + 1, cmap=colours, vmin=0, vmax=4, extent=(0, game.dim, game.dim, 0))
    for x0, y0, x1, y1 in outline_segments(owner):
        axes.plot([x0, x1], [y0, y1], color="black", linewidth=2, solid_capstyle="projecting")
    axes.set_xticks(range(game.dim + 1), minor=True)
    axes.set_yticks(range(game.dim + 1), minor=True)
    axes.grid(which="minor", color=GRID_COLOUR, linewidth=0.5)
    axes.tick_params(which="both", length=0, labelbottom=False, labelleft=False)
    title, detail = caption(game)
    axes.set_title(title)
    axes.set_xlabel(detail.replace(" | ", "\n"), fontsize=8)
    figure.tight_layout()
    figure.savefig(path, dpi=110)
    plt.close(figure)


def write_rendering(game: SavedGame, path: Path) -> None:
    suffix = path.suffix.lower()
    if suffix == ".svg":
        path.write_text(game_to_svg(game))
    elif suffix == ".png":
        game_to_png(game, path)
    else:
        raise ValueError(f"cannot render to '{path.suffix}': use .svg or .png")
