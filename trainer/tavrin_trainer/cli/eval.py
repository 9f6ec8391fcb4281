"""tavrin-eval: seat-rotated strength of a player, and the rating ladder of a run."""

from __future__ import annotations

import argparse
import re
import sys
from pathlib import Path

import tavrin_engine as te

from tavrin_trainer.core.run_folder.run_directory import RunDirectory, RunDirectoryError, atomic_write
from tavrin_trainer.learning.inference import INFERENCE_BACKENDS, resolve_backend
from tavrin_trainer.core.settings.limits import MIN_SIDE
from tavrin_trainer.core.settings.player_names import MAX_MOVE_SECONDS
from tavrin_trainer.core.run_folder.saved_games import SavedGame
from tavrin_trainer.core.settings.train_settings import TrainSettings
from tavrin_trainer.evaluation.arena import play_match
from tavrin_trainer.evaluation.players import DEFAULT_LEAF_BATCH, PLAYOUT_POLICIES, NetworkPlayer, player_from_name
from tavrin_trainer.evaluation.ratings import format_table, generations_to_rate, plot_ratings, rate, round_robin
from tavrin_trainer.selfplay.engines import resolve_device

DESCRIPTION = """\
Measure strength honestly. The candidate sits in seat k mod 4 of game k and
three copies of the opponent fill the other seats, so every seat is played
equally often (seat 0 alone is worth far more than a quarter on small
boards). Each line gives the candidate's mean payoff (1 a win, 1/k a k-way
shared win), its standard error and its mean in each seat. Any player against
three copies of itself, seats rotated, scores 0.25 in expectation: that is
parity, what "even" means.

Players: random, greedy, rollout:N (UCT with N random playouts per action;
rollout:Mms plays by the clock, M milliseconds an action; rollout-larger:N
and rollout-larger:Mms draw each playout's pieces by size), pretrained (the
shipped side-20 network) or a checkpoint file / run directory (its latest
generation). A network whose checkpoint records how it was trained to search
(pretrained does) searches that way, 80 simulations an action, unless told
otherwise; one that records nothing takes its most probable legal tile, or
searches with --simulations (--simulations 0: the most probable legal tile
for every network). --move-time gives network players a budget per action
instead of a number of simulations. mixed:K:W:NETWORK is that network
searching with every leaf valued at (1 - W) x its value + W x the mean payoff
of K random playouts from the leaf; K and W in the name win over --playouts
and --playout-weight, which apply to every network player. A checkpoint path
that begins with "mixed:" or "rollout:" is written ./mixed:... Each line ends
with each side's mean wall time per action (a batched player's time shared
among the games it answered) and the simulations a searching player made;
compare strength at equal time with --lone, where every game is played alone.

  tavrin-eval pretrained --move-time 100 --opponent rollout:256 --dim 20 --lone --seed 11

  tavrin-eval runs/X                                   # vs random and greedy, on its training side
  tavrin-eval runs/X --opponent rollout:64 --dim 20 --games 200
  tavrin-eval greedy --opponent random --opponent greedy
  tavrin-eval --ladder runs/X                          # ratings of the run's generations
"""


def build_parser() -> argparse.ArgumentParser:
    parser = argparse.ArgumentParser(prog="tavrin-eval", description=DESCRIPTION,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("candidate", nargs="?", help="The player to score: random, greedy, rollout:N, "
                        "a checkpoint file or a run directory.")
    parser.add_argument("--opponent", action="append", metavar="PLAYER",
                        help="Opponent in the three other seats; repeat for several (default: random and greedy).")
    parser.add_argument("--games", type=int, default=400, help="Games per opponent (default: 400).")
    parser.add_argument("--dim", type=int, help="Board side, 5 to 128 (default: the side the network was "
                        "trained for, or the trainer's default side 10 when no network plays).")
    parser.add_argument("--simulations", type=int,
                        help="Search simulations per action of network players (default: 80 for a network whose "
                             "checkpoint records how it was trained to search, else 0, the most probable legal "
                             "tile).")
    parser.add_argument("--move-time", type=float, metavar="MS",
                        help="Network players search by the clock instead: MS milliseconds an action, more than 0 "
                             "and at most an hour (the simulations they made are printed).")
    parser.add_argument("--playouts", type=int, metavar="K",
                        help="Network players' searches value every leaf with K random playouts too, mixed in by "
                             "--playout-weight (default: as the checkpoint records, else 0, the network's value "
                             "alone; needs a search).")
    parser.add_argument("--playout-weight", type=float, metavar="W",
                        help="Weight of the playouts' mean payoff in a leaf's value, 0 to 1 (default: as the "
                             "checkpoint records, else 0.5).")
    parser.add_argument("--playout-policy", choices=PLAYOUT_POLICIES, default="uniform",
                        help="How network players' playouts choose their tiles: uniform (any legal tile, the "
                             "default) or larger (each piece's placement drawn in proportion to its size squared).")
    parser.add_argument("--first-play-reduction", type=float, metavar="R",
                        help="Network players' search values an unvisited child at its parent's network value "
                             "minus R (default: at 0, a loss).")
    parser.add_argument("--gumbel-candidates", type=int, metavar="N",
                        help="Network players' search roots are Gumbel roots without noise over N candidates "
                             "(sequential halving); 0 is PUCT (default: as the checkpoint records, else 0). "
                             "Networks trained with a Gumbel root, as pretrained and the full-board preset's are, "
                             "search far better through one.")
    parser.add_argument("--lone", action="store_true",
                        help="Play each game alone, one after another in each game process, as a person or a "
                             "tournament plays one: every network call answers one game, and the time per action "
                             "is a lone game's (default: the games of a process in lockstep, their network calls "
                             "batched).")
    parser.add_argument("--leaf-batch", type=int, default=DEFAULT_LEAF_BATCH, metavar="B",
                        help=f"Leaves a network player's search gathers per network call, 1 to "
                             f"{te.MAX_LEAF_BATCH} (default: {DEFAULT_LEAF_BATCH}; 1 evaluates every leaf before "
                             f"the next descent).")
    parser.add_argument("--parity", action="store_true",
                        help="Also measure each opponent against three copies of itself.")
    parser.add_argument("--ladder", metavar="RUN_DIR",
                        help="Rate generations of a run with the fixed players in a round robin (openskill); "
                             "writes ladder.txt and plots/ladder.png in the run directory.")
    parser.add_argument("--ladder-generations", type=int, default=6,
                        help="At most this many generations in the ladder, evenly spaced (default: 6).")
    parser.add_argument("--ladder-players", default="random,greedy,rollout:64",
                        help="Fixed players in the ladder (default: random,greedy,rollout:64).")
    parser.add_argument("--rounds", type=int, default=2,
                        help="Ladder: times each table of four plays all four seat rotations (default: 2).")
    parser.add_argument("--workers", type=int, help="Game processes (default: 2, or 1 with a GPU: a game process "
                        "runs its network copy on the CPU).")
    parser.add_argument("--device", default="cpu", choices=("auto", "cpu", "cuda"),
                        help="Where networks run in this process: cpu (default), cuda, or auto (a GPU when torch "
                             "sees one).")
    parser.add_argument("--inference", default="auto", choices=INFERENCE_BACKENDS,
                        help="How network players run: auto (default: ONNX Runtime on the CPU when installed, "
                             "several times faster on the small batches of an arena; otherwise torch), fp32 "
                             "(torch), bf16 or onnx.")
    parser.add_argument("--seed", type=int,
                        help="Seed of the games' random choices: the same seed plays the same games whatever "
                             "--workers is (default: fresh each run).")
    parser.add_argument("--save-games", metavar="DIR",
                        help="Write every game to DIR/<candidate>-vs-<opponent>.jsonl, for tavrin-play and "
                             "tavrin-render.")
    parser.add_argument("--quiet", action="store_true", help="No progress bars.")
    return parser


def main(argv: list[str] | None = None) -> int:
    parser = build_parser()
    args = parser.parse_args(argv)
    if (args.candidate is None) == (args.ladder is None):
        parser.error("give either a candidate or --ladder RUN_DIR")
    try:
        args.device = resolve_device(args.device)
        args.inference = resolve_backend(args.inference, args.device)
    except ValueError as error:
        parser.error(str(error))
    if args.workers is None:
        args.workers = 1 if args.device.startswith("cuda") else 2
    if args.games < 1 or args.workers < 1 or args.rounds < 1 or args.ladder_generations < 2:
        parser.error("--games, --workers and --rounds must be at least 1, --ladder-generations at least 2")
    if args.dim is not None and not MIN_SIDE <= args.dim <= te.MAX_SIDE:
        parser.error(f"--dim must be {MIN_SIDE} to {te.MAX_SIDE}, got {args.dim}")
    if args.simulations is not None and args.simulations < 0:
        parser.error("--simulations must not be negative")
    if args.move_time is not None and not 0 < args.move_time <= MAX_MOVE_SECONDS * 1000:
        parser.error(f"--move-time must be more than 0 and at most {MAX_MOVE_SECONDS * 1000:g} milliseconds, "
                     f"got {args.move_time:g}")
    if not 1 <= args.leaf_batch <= te.MAX_LEAF_BATCH:
        parser.error(f"--leaf-batch must be 1 to {te.MAX_LEAF_BATCH}, got {args.leaf_batch}")
    # With no number given, a network searches as its checkpoint records; fixed players never do.
    names = [args.candidate or "", *(args.opponent or [])]
    fixed = not args.ladder and all(name in ("random", "greedy") or name.startswith(("rollout:", "rollout-larger:"))
                                    for name in names)
    searching = args.move_time is not None or (args.simulations != 0 if args.simulations is not None else not fixed)
    if (args.first_play_reduction is not None or args.gumbel_candidates) and not searching:
        parser.error("--first-play-reduction and --gumbel-candidates change the search: give --simulations too")
    if args.playouts and not searching:
        parser.error("--playouts values the leaves of a search: give --simulations too")
    if args.gumbel_candidates is not None and (args.gumbel_candidates == 1
                                               or not 0 <= args.gumbel_candidates <= te.MAX_GUMBEL_CANDIDATES):
        parser.error(f"--gumbel-candidates must be 0 (off) or 2 to {te.MAX_GUMBEL_CANDIDATES}, "
                     f"got {args.gumbel_candidates}")

    try:
        if args.ladder:
            return ladder(args, parser)
        network = network_options(args)
        candidate = player_from_name(args.candidate, seed=args.seed, **network)
        opponents = [player_from_name(name, seed=None if args.seed is None else args.seed + 1 + i, **network)
                     for i, name in enumerate(args.opponent or ["random", "greedy"])]
    except (FileNotFoundError, ValueError, NotImplementedError, RunDirectoryError) as error:
        parser.error(str(error))

    args.dim = args.dim or side_of(candidate, *opponents)
    show = not args.quiet
    for player in (candidate, *opponents):
        way = getattr(player, "search_way", None)
        if way is not None:
            print(f"{player.name}: its checkpoint records it was trained to search with {way.describe()}")
    if any(isinstance(p, NetworkPlayer) for p in (candidate, *opponents)):
        print(f"network players run with {args.inference} inference on {args.device}, {args.workers} game "
              f"process{'es' if args.workers > 1 else ''}")
    try:
        for index, opponent in enumerate(opponents):
            seed = None if args.seed is None else [args.seed, index]
            if args.parity:
                print(play_match(opponent, opponent, args.games, args.dim, args.workers, show, seed,
                                 args.lone).describe())
            result = play_match(candidate, opponent, args.games, args.dim, args.workers, show, seed, args.lone)
            print(result.describe())
            if args.save_games:
                print(f"games in {save_games(result, args.save_games)}")
    except KeyboardInterrupt:
        print("\ninterrupted", file=sys.stderr)
        return 130
    return 0


def network_options(args: argparse.Namespace) -> dict:
    """How the command line's network players search and run."""
    return dict(simulations=args.simulations, first_play_reduction=args.first_play_reduction, device=args.device,
                gumbel_candidates=args.gumbel_candidates, inference=args.inference, playouts=args.playouts,
                playout_weight=args.playout_weight, leaf_batch=args.leaf_batch, playout_policy=args.playout_policy,
                move_time=None if args.move_time is None else args.move_time / 1000)


def save_games(result, folder: str):
    """The match's games as saved-game lines; the file's path."""
    name = re.sub(r"[^A-Za-z0-9_.@,+-]+", "_", f"{result.candidate}-vs-{result.opponent}")
    path = Path(folder) / f"{name}.jsonl"
    lines = [SavedGame(result.dim, list(game.moves), list(game.payoffs), seats=list(game.seats)).to_json() + "\n"
             for game in result.results]
    atomic_write(path, lambda target: target.write_text("".join(lines)))
    return path


def side_of(*players) -> int:
    """The side the first network among ``players`` was trained for, else the trainer's default."""
    sides = [p.trained_side for p in players if getattr(p, "trained_side", None)]
    return sides[0] if sides else TrainSettings().dim


def ladder(args: argparse.Namespace, parser: argparse.ArgumentParser) -> int:
    run = RunDirectory(args.ladder)
    generations = run.generations()
    if not generations:
        parser.error(f"{run.root} holds no checkpoints")
    chosen = generations_to_rate(generations, args.ladder_generations)
    network = network_options(args)
    entrants = [NetworkPlayer.from_checkpoint(run.checkpoint_path(g), **network) for g in chosen]
    # A fixed player that is a network (pretrained, mixed:K:W:NETWORK) searches as the generations do.
    entrants += [player_from_name(name.strip(), seed=args.seed, **network)
                 for name in args.ladder_players.split(",") if name]
    args.dim = args.dim or side_of(*entrants)
    if len(entrants) < 4:
        parser.error("a ladder needs at least four players: add generations or fixed players")
    print(f"rating {', '.join(p.name for p in entrants)} on side {args.dim}")
    results = round_robin(entrants, args.dim, args.rounds, args.workers, not args.quiet, seed=args.seed,
                          lone=args.lone)
    ratings = rate(results)
    table = format_table(ratings)
    print(table)
    (run.root / "ladder.txt").write_text(table + "\n")
    run.plot_dir.mkdir(parents=True, exist_ok=True)
    print(f"wrote {run.root / 'ladder.txt'} and {plot_ratings(ratings, run.plot_dir / 'ladder.png')}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
