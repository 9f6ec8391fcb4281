"""tavrin-render: draw the final boards of saved self-play games."""

from __future__ import annotations

import argparse
import sys
from pathlib import Path

from tavrin_trainer.core.pictures.board_drawing import write_rendering
from tavrin_trainer.core.run_folder.run_directory import RunDirectory
from tavrin_trainer.core.run_folder.saved_games import read_games

DESCRIPTION = """\
Draw finished self-play games as SVG or PNG boards: each player's squares in
its colour, every piece outlined, squares and payoffs in the caption.

SOURCE is a run directory (games/ of its latest generation, or of
--generation) or one games/generation-NNNN.jsonl file. Without --output the
files go to <run>/renders/ (or next to the .jsonl file).
"""


def build_parser() -> argparse.ArgumentParser:
    parser = argparse.ArgumentParser(prog="tavrin-render", description=DESCRIPTION,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("source", help="Run directory or games .jsonl file.")
    parser.add_argument("--generation", type=int, help="Generation whose games to draw (default: the latest saved).")
    parser.add_argument("--game", type=int, help="Index of the game in the file (default: every game).")
    parser.add_argument("--format", choices=("svg", "png"), default="svg", help="Image format (default: svg).")
    parser.add_argument("--output", help="Output file (only with --game) or directory.")
    return parser


def games_file(source: Path, generation: int | None) -> Path:
    if source.is_file():
        return source
    run = RunDirectory(source)
    if generation is not None:
        path = run.games_path(generation)
        if not path.is_file():
            raise FileNotFoundError(f"no saved games for generation {generation} in {run.games_dir}")
        return path
    saved = sorted(run.games_dir.glob("generation-*.jsonl")) if run.games_dir.is_dir() else []
    if not saved:
        raise FileNotFoundError(f"no saved games in {source} (expected {run.games_dir}/generation-NNNN.jsonl)")
    return saved[-1]


def main(argv: list[str] | None = None) -> int:
    parser = build_parser()
    args = parser.parse_args(argv)
    source = Path(args.source)
    try:
        path = games_file(source, args.generation)
    except FileNotFoundError as error:
        parser.error(str(error))

    games = read_games(path)
    if args.game is not None and not 0 <= args.game < len(games):
        parser.error(f"{path} holds {len(games)} games; --game must be 0 to {len(games) - 1}")
    chosen = range(len(games)) if args.game is None else [args.game]
    default_dir = (source / "renders") if source.is_dir() else path.parent
    output = Path(args.output) if args.output else default_dir
    single_file = args.output is not None and args.game is not None and output.suffix != ""
    if not single_file:
        output.mkdir(parents=True, exist_ok=True)
    for index in chosen:
        target = output if single_file else output / f"{path.stem}-game-{index}.{args.format}"
        try:
            write_rendering(games[index], target)
        except ValueError as error:
            parser.error(str(error))
        print(target)
    return 0


if __name__ == "__main__":
    sys.exit(main())
