"""Settings of a training run, their command-line flags and their help texts.

One dataclass holds every setting; the argument parser, the saved
``settings.json`` of a run directory and the resume logic are all derived from
it, so a new setting needs exactly one new field.
"""

from __future__ import annotations

import argparse
import dataclasses
import json
import math
import time
from dataclasses import dataclass, field, fields
from pathlib import Path
from typing import Any

import numpy as np
import tavrin_engine as te

from tavrin_trainer.core.cpus import usable_cpu_count
from tavrin_trainer.core.run_folder.run_directory import RunDirectoryError, load_network_checkpoint, resolve_checkpoint
from tavrin_trainer.core.settings.limits import INFERENCE_BACKENDS, MIN_SIDE
from tavrin_trainer.core.settings.player_names import rollout_simulations
from tavrin_trainer.core.settings.search_record import SearchWay


def teacher_simulations(teacher: str) -> int:
    """0 for the greedy warm-start teacher, N for rollout:N; ValueError otherwise."""
    if teacher == "greedy":
        return 0
    simulations = rollout_simulations(teacher)
    if simulations is None:
        raise ValueError(f"--warm-start-teacher is greedy or rollout:N with N at least 1, got {teacher!r}")
    return simulations


def _setting(default: Any, help: str, group: str, fixed: bool = False) -> Any:
    """A dataclass field carrying its help text and flag group.

    ``fixed`` marks settings a run cannot change on resume (they shape the
    network or the stored positions).
    """
    return field(default=default, metadata={"help": help, "group": group, "fixed": fixed})


@dataclass
class TrainSettings:
    # Run
    run_dir: str = _setting(
        "", "Run directory for checkpoints, metrics, plots and saved games. If it already holds a "
        "checkpoint, training resumes from its latest generation. Default: runs/<date>-<time>.", "run")
    generations: int = _setting(
        26, "Generations to train in total (a resumed run counts the ones already done). Each "
        "generation is one round of self-play, training, checkpoint and evaluation.", "run")
    time_limit_minutes: float = _setting(
        10.0, "Wall-time budget of this invocation: no new generation starts if, judged by the "
        "last one, it would end past the budget; 0 means no limit.", "run")
    seed: int = _setting(
        0, "Seed for the network's initial weights, the training batches, the self-play games' root noise "
        "and sampling, and the evaluation opponents: the same seed plays the same self-play games however "
        "many processes share them (given the same network answers). The module engine draws its own "
        "random numbers from the operating system.", "run")

    backend: str = _setting("local", "Where the run's processes live: 'local', this machine; 'ray', actors on a Ray "
                            "cluster (pip install \".[ray]\"): one learner, self-play actors and evaluation "
                            "actors.", "run")
    ray_address: str = _setting("", "Ray backend: address of an existing cluster (e.g. 10.0.0.1:6379 or auto); "
                                "empty starts a private one on this machine, bound to loopback.", "run")

    # Game and search (what the engine reads)
    dim: int = _setting(10, "Board side for self-play and for the evaluation games (besides the "
                        "optional side-20 ones).", "game", fixed=True)
    board_schedule: str = _setting(
        "", "Board curriculum, e.g. '8:20,14:10': self-play on side 8 for the first 20 generations, then on "
        "side 14 for 10, then on --dim. The network does not depend on the side; each change of side starts "
        "an empty replay buffer. Evaluation stays on --dim.", "game", fixed=True)
    rep: int = _setting(1, "Layout of the network input the engine sends: 1 = planes first "
                        "(5 x dim x dim), 2 = planes last (dim x dim x 5).", "game")
    sims_per_move: int = _setting(32, "Tree-search simulations before every action (one action is "
                                  "one square of a piece).", "game")
    sample_moves: int = _setting(12, "The first sample_moves - 1 actions of a self-play game are "
                                 "sampled from the visit counts, later ones take the most visited "
                                 "action.", "game")
    c_puct: float = _setting(1.5, "Exploration constant of the search's selection score.", "game")
    dirichlet_alpha: float = _setting(0.5, "Concentration of the Dirichlet noise mixed into the root "
                                      "priors of every search (must be > 0).", "game")
    exploration_fraction: float = _setting(0.25, "Weight of that root noise (0 to 1).", "game")
    playouts: int = _setting(
        0, "Pool engine: random playouts to the end of the game from every leaf of the search; the leaf's value "
        "becomes (1 - --playout-weight) x the network's value + --playout-weight x their mean payoff (a mixed "
        "search). 0: the network's value alone.", "game")
    playout_weight: float = _setting(0.5, "Weight of the playouts' mean payoff in a leaf's value (0 to 1; "
                                     "with --playouts).", "game")
    opening_sample_actions: int = _setting(
        0, "Pool engine: each player's first N actions (squares) of a self-play game are drawn from the search's "
        "policy (the visit shares, or the Gumbel root's improved policy) instead of taking its best, so that every "
        "seat's opening varies, not only the game's first --sample-moves actions.", "game")
    searched_value_weight: float = _setting(
        0.0, "Pool engine: share of the search's own value of a position (the mean value per player its "
        "simulations backed up) in that position's value target, beside the game's outcome (0 to 1): a "
        "stronger search, such as one with --playouts, teaches its evaluation too.", "game")
    gumbel_candidates: int = _setting(
        0, "Pool engine: 0 searches the root like every node (PUCT, the Dirichlet noise above); N >= 2 gives it "
        "a Gumbel root: N candidates by Gumbel noise plus log prior, the simulations halved among them "
        "(sequential halving), the survivor played, and softmax(log prior + sigma(completed Q)) as the policy "
        "target, which learns from few simulations. The noise replaces both the Dirichlet noise and the "
        "sampling of --sample-moves.", "game")

    # Self-play
    games_per_generation: int = _setting(48, "Self-play games played per generation.", "self-play")
    engine: str = _setting("pool", "How self-play runs: 'pool', processes that each host a batched pool of "
                           "games and their own network copy; 'module', the tavrin_self_play module in game "
                           "worker processes fed by one inference server over queues and pipes.", "self-play")
    device: str = _setting("auto", "Where the network runs for self-play and training: auto (a GPU when "
                           "torch sees one), cpu or cuda.", "self-play")
    selfplay_processes: int = _setting(0, "Pool engine: self-play processes; 0 means one per CPU core, or "
                                       "one on a GPU.", "self-play")
    pool_games: int = _setting(64, "Pool engine: games each process plays at once (its network batch); on a "
                               "GPU every game of the generation plays at once.", "self-play")
    skip_single_tile: bool = _setting(True, "Pool engine: play actions with a single legal tile without "
                                      "search or network call; their training position gets the target a "
                                      "search would give, all on that tile.", "self-play")
    full_search_fraction: float = _setting(1.0, "Pool engine: share of actions searched with "
                                           "--sims-per-move and recorded; the others get --reduced-sims "
                                           "simulations and no policy target (playout cap randomisation).",
                                           "self-play")
    reduced_sims: int = _setting(8, "Pool engine: simulations of the actions not searched in full.", "self-play")
    evaluation_cache: int = _setting(
        65536, "Pool engine: network answers each self-play process keeps, so that a position reached again "
        "(the squares of a piece laid in another order, a shared opening) costs no network call; games of one "
        "batch waiting on one position share its row. The answers are the network's own: the games play as "
        "they would without. 0 turns it off.", "self-play")
    inference: str = _setting(
        "auto", "Pool engine: how self-play runs the network: fp32 (torch), bf16 (torch autocast; fast only "
        "on CPUs with bfloat16 instructions, or a GPU), onnx (ONNX Runtime, fp32; pip install onnx "
        "onnxruntime), or auto: onnx on the CPU when installed, else fp32.", "self-play")
    workers: int = _setting(8, "Module engine: game worker processes. Each has one request in flight, so "
                            "this also bounds the inference batch.", "self-play")

    # Network
    channels: int = _setting(32, "Channels of every convolution of the residual trunk.", "network", fixed=True)
    blocks: int = _setting(2, "Residual blocks of the trunk.", "network", fixed=True)
    extended_planes: bool = _setting(True, "Pool engine: the network also sees the pieces left in every hand and "
                                     "the squares already laid for the current piece (90 input planes, not 5).",
                                     "network", fixed=True)
    aux_heads: bool = _setting(True, "Heads that predict the final owner of every cell and the final score "
                               "margins, trained beside the value (see --ownership-loss-weight).", "network",
                               fixed=True)

    # Inference server
    batch_size: int = _setting(0, "Largest inference batch; 0 means the number of workers.", "server")
    batch_wait_ms: float = _setting(1.0, "Longest wait, in milliseconds, for more requests once "
                                    "one has arrived.", "server")
    server_threads: int = _setting(1, "PyTorch threads of each inference server.", "server")

    # Training
    train_batch_size: int = _setting(256, "Positions per training step.", "training")
    train_steps: int = _setting(100, "Training steps per generation.", "training")
    learning_rate: float = _setting(2e-3, "Adam learning rate (at the start, see --lr-schedule).", "training")
    lr_schedule: str = _setting("cosine", "'constant', or 'cosine': the rate falls along a half cosine to "
                                "a twentieth of --learning-rate at the last of --generations.", "training")
    weight_decay: float = _setting(1e-4, "L2 weight decay of Adam.", "training")
    train_precision: str = _setting(
        "auto", "How training steps compute: fp32, bf16 (torch bfloat16 autocast; the weights and Adam stay "
        "fp32; fast only on CPUs with bfloat16 instructions, or a GPU), or auto: bf16 on a CPU with them, "
        "else fp32.", "training")
    value_loss_weight: float = _setting(1.0, "Weight of the value cross-entropy beside the policy "
                                        "cross-entropy.", "training")
    ownership_loss_weight: float = _setting(1.0, "Weight of the ownership cross-entropy (needs --aux-heads).",
                                            "training")
    score_loss_weight: float = _setting(1.0, "Weight of the score-margin squared error (needs --aux-heads).",
                                        "training")
    value_score_mix: float = _setting(0.0, "Share of a soft ranking of the final scores (two squares of lead "
                                      "= odds of e to 1) blended into the value target beside the payoffs.",
                                      "training")
    init: str = _setting(
        "", "Start a fresh run from this network instead of a warm start: pretrained (the side-20 network "
        "shipped with the package), a checkpoint file or a run directory (its latest generation). Generation 0 "
        "is that network; its shape (channels, blocks, heads, input planes) becomes the run's.", "training",
        fixed=True)
    warm_start_games: int = _setting(400, "A fresh run first fills the replay buffer with this many games of "
                                     "--warm-start-teacher players and trains "
                                     "--warm-start-steps on them: generation 0 is that network. 0 starts "
                                     "from scratch.", "training", fixed=True)
    warm_start_teacher: str = _setting(
        "greedy", "Who plays the warm-start games: greedy (their best placements as policy targets, quick), or "
        "rollout:N, the engine's UCT search with N random playouts per action (the playouts' shares as "
        "targets; much stronger on side 20, about 13 s a side-20 game for N = 256 on one core, the games "
        "spread over every core).", "training", fixed=True)
    warm_start_steps: int = _setting(300, "Training steps of the warm start.", "training", fixed=True)
    replay_capacity: int = _setting(40000, "Positions kept in the replay buffer (oldest dropped "
                                    "first); each is trained under a random quarter turn.", "training")
    train_threads: int = _setting(0, "PyTorch threads for training; 0 means one per CPU core.", "training")

    # Evaluation
    eval_random_games: int = _setting(200, "Seat-rotated games per generation of the new network (its "
                                      "most probable legal tile, no search) against three uniformly "
                                      "random players on the training board; 0 skips them. Any player "
                                      "scores 0.25 against copies of itself (parity).", "evaluation")
    eval_greedy_games: int = _setting(200, "The same against three greedy players (largest piece first, "
                                      "then the most new corners).", "evaluation")
    eval_full_board_games: int = _setting(0, "Games per generation against random and against greedy "
                                          "players (each) on the side-20 board; 0 skips them.", "evaluation")
    eval_rollout_games: int = _setting(0, "The same against three rollout:N players (N = "
                                       "--eval-rollout-simulations) on the training board: a yardstick the network "
                                       "was not copied from; 0 skips them.", "evaluation")
    eval_rollout_simulations: int = _setting(64, "Playouts per action of those rollout players.", "evaluation")
    tensorboard: bool = _setting(False, "Also write every metrics.csv column as TensorBoard scalars to tensorboard/ in "
                                 "the run directory (PyTorch's SummaryWriter; pip install tensorboard), for "
                                 "tensorboard --logdir runs.", "evaluation")
    saved_games: int = _setting(4, "Self-play games per generation saved to games/ for "
                                "tavrin-render.", "evaluation")

    def schedule(self) -> list[tuple[int, int]]:
        """The board curriculum as (side, generations) pairs; ValueError if malformed."""
        stages = []
        for item in filter(None, (part.strip() for part in self.board_schedule.split(","))):
            side, _, count = item.partition(":")
            if (not (side.isdigit() and count.isdigit()) or not MIN_SIDE <= int(side) <= te.MAX_SIDE
                    or int(count) < 1):
                raise ValueError(f"--board-schedule takes SIDE:GENERATIONS pairs (side {MIN_SIDE} to {te.MAX_SIDE}, "
                                 f"generations at least 1) separated by commas, got {self.board_schedule!r}")
            stages.append((int(side), int(count)))
        return stages

    def side_of_generation(self, generation: int) -> int:
        """The self-play board of the games that make generation ``generation`` (1-based)."""
        played = 0
        for side, count in self.schedule():
            played += count
            if generation <= played:
                return side
        return self.dim

    def search_settings(self, dim: int | None = None, generation: int | None = None) -> te.SearchSettings:
        """The self-play search on side ``dim`` (default --dim); with
        ``generation``, seeded from --seed and that generation."""
        seed = None
        if generation is not None:
            seed = int(np.random.SeedSequence([self.seed, generation]).generate_state(1, np.uint64)[0])
        return self.search_way().search_settings(
            dim=self.dim if dim is None else dim, rep=self.rep, sims_per_move=self.sims_per_move,
            sample_moves=self.sample_moves, c_puct=self.c_puct, dirichlet_alpha=self.dirichlet_alpha,
            exploration_fraction=self.exploration_fraction, skip_single_tile=self.skip_single_tile,
            full_search_fraction=self.full_search_fraction, reduced_sims=self.reduced_sims,
            extended_planes=self.extended_planes, evaluation_cache=self.evaluation_cache, seed=seed,
            searched_value_weight=self.searched_value_weight, opening_sample_actions=self.opening_sample_actions)

    def search_way(self) -> SearchWay:
        """How this run's self-play searches: its root and its leaves."""
        return SearchWay(self.gumbel_candidates, self.playouts, self.playout_weight)

    @property
    def effective_batch_size(self) -> int:
        return self.batch_size if self.batch_size > 0 else self.workers

    @property
    def effective_train_threads(self) -> int:
        return self.train_threads if self.train_threads > 0 else usable_cpu_count()

    def validate(self) -> None:
        """Raises ValueError naming the first setting out of range."""
        for f in fields(self):
            value = getattr(self, f.name)
            if _type_name(f) == "float" and not math.isfinite(value):
                raise ValueError(f"--{flag_name(f.name)} must be a finite number, got {value}")
        if not MIN_SIDE <= self.dim <= te.MAX_SIDE:
            raise ValueError(f"--dim must be {MIN_SIDE} to {te.MAX_SIDE} (the longest piece must fit), "
                             f"got {self.dim}")
        positive = ["generations", "dim", "games_per_generation", "workers", "channels", "blocks",
                    "eval_rollout_simulations",
                    "pool_games", "reduced_sims",
                    "server_threads", "train_batch_size", "replay_capacity"]
        for name in positive:
            if getattr(self, name) < 1:
                raise ValueError(f"--{flag_name(name)} must be at least 1, got {getattr(self, name)}")
        non_negative = ["time_limit_minutes", "sims_per_move", "sample_moves", "batch_size",
                        "batch_wait_ms", "train_steps", "learning_rate", "weight_decay",
                        "value_loss_weight", "ownership_loss_weight", "score_loss_weight", "train_threads",
                        "eval_random_games", "eval_greedy_games", "warm_start_games", "warm_start_steps",
                        "eval_full_board_games", "eval_rollout_games", "saved_games", "c_puct", "selfplay_processes",
                        "evaluation_cache"]
        for name in non_negative:
            if getattr(self, name) < 0:
                raise ValueError(f"--{flag_name(name)} must not be negative, got {getattr(self, name)}")
        if self.rep not in (1, 2):
            raise ValueError(f"--rep must be 1 or 2, got {self.rep}")
        if self.sims_per_move < 1:
            # With no simulation every visit share is 0/0: the records would carry no target.
            raise ValueError("--sims-per-move must be at least 1")
        if not self.dirichlet_alpha > 0:
            raise ValueError(f"--dirichlet-alpha must be greater than 0, got {self.dirichlet_alpha}")
        if not 0 <= self.exploration_fraction <= 1:
            raise ValueError(f"--exploration-fraction must lie in [0, 1], got {self.exploration_fraction}")
        if not 0 <= self.value_score_mix <= 1:
            raise ValueError(f"--value-score-mix must lie in [0, 1], got {self.value_score_mix}")
        if self.train_precision not in TRAIN_PRECISIONS:
            raise ValueError(f"--train-precision must be auto, fp32 or bf16, got {self.train_precision!r}")
        if self.lr_schedule not in ("constant", "cosine"):
            raise ValueError(f"--lr-schedule must be constant or cosine, got {self.lr_schedule!r}")
        if (self.ownership_loss_weight or self.score_loss_weight) and not self.aux_heads:
            raise ValueError("--ownership-loss-weight and --score-loss-weight need --aux-heads true")
        if not 0 <= self.playouts <= te.MAX_PLAYOUTS:
            raise ValueError(f"--playouts must be 0 to {te.MAX_PLAYOUTS}, got {self.playouts}")
        if not 0 <= self.playout_weight <= 1:
            raise ValueError(f"--playout-weight must lie in [0, 1], got {self.playout_weight}")
        if not 0 <= self.searched_value_weight <= 1:
            raise ValueError(f"--searched-value-weight must lie in [0, 1], got {self.searched_value_weight}")
        if self.searched_value_weight and self.engine == "module":
            raise ValueError("--searched-value-weight needs --engine pool: the module records outcomes only")
        if not 0 <= self.opening_sample_actions <= te.MAX_OPENING_SAMPLE_ACTIONS:
            raise ValueError(f"--opening-sample-actions must be 0 to {te.MAX_OPENING_SAMPLE_ACTIONS}, "
                             f"got {self.opening_sample_actions}")
        if self.opening_sample_actions and self.engine == "module":
            raise ValueError("--opening-sample-actions needs --engine pool")
        if self.playouts and self.engine == "module":
            raise ValueError("--playouts needs --engine pool: the module values leaves by the network alone")
        if self.extended_planes and self.engine == "module":
            raise ValueError("--extended-planes needs --engine pool: the module sends the five planes only")
        if self.backend not in ("local", "ray"):
            raise ValueError(f"--backend must be local or ray, got {self.backend!r}")
        if self.backend == "ray" and self.engine == "module":
            raise ValueError("--backend ray plays with the pool engine; leave out --engine module")
        if self.engine not in ("pool", "module"):
            raise ValueError(f"--engine must be pool or module, got {self.engine!r}")
        if self.device not in ("auto", "cpu", "cuda"):
            raise ValueError(f"--device must be auto, cpu or cuda, got {self.device!r}")
        if self.evaluation_cache > te.MAX_EVALUATION_CACHE:
            raise ValueError(f"--evaluation-cache must be at most {te.MAX_EVALUATION_CACHE}, "
                             f"got {self.evaluation_cache}")
        if self.inference not in INFERENCE_BACKENDS:
            raise ValueError(f"--inference must be one of {', '.join(INFERENCE_BACKENDS)}, got {self.inference!r}")
        if self.gumbel_candidates == 1 or not 0 <= self.gumbel_candidates <= te.MAX_GUMBEL_CANDIDATES:
            raise ValueError(f"--gumbel-candidates must be 0 (off) or 2 to {te.MAX_GUMBEL_CANDIDATES}, "
                             f"got {self.gumbel_candidates}")
        if self.gumbel_candidates and self.engine == "module":
            raise ValueError("--gumbel-candidates needs --engine pool: the module searches with PUCT only")
        if not 0 < self.full_search_fraction <= 1:
            raise ValueError(f"--full-search-fraction must lie in (0, 1], got {self.full_search_fraction}")
        teacher_simulations(self.warm_start_teacher)
        self.schedule()

    def to_json(self) -> str:
        return json.dumps(dataclasses.asdict(self), indent=2)

    @classmethod
    def from_dict(cls, values: dict[str, Any]) -> "TrainSettings":
        known = {f.name for f in fields(cls)}
        values = {k: v for k, v in values.items() if k not in RETIRED_SETTINGS}
        unknown = sorted(set(values) - known)
        if unknown:
            raise ValueError(f"unknown settings: {', '.join(unknown)}")
        return cls(**values)


TRAIN_PRECISIONS = ("auto", "fp32", "bf16")

# Named sets of settings for `tavrin-train --preset`, as if typed.
PRESETS: dict[str, dict[str, Any]] = {
    "full-board": {
        "dim": 20, "warm_start_games": 400, "warm_start_steps": 2000, "replay_capacity": 120000,
        "games_per_generation": 48, "generations": 70, "time_limit_minutes": 0.0, "gumbel_candidates": 16,
        "playouts": 1, "searched_value_weight": 0.5, "eval_random_games": 0, "eval_greedy_games": 40,
    },
}

# Settings of earlier versions that a resumed run may still carry; ignored.
RETIRED_SETTINGS = {"eval_versus_games"}

# What a run saved before these settings existed was trained with: resuming it
# keeps its five-plane network without auxiliary heads, its schedule and fp32 training.
SETTINGS_BEFORE_THEY_EXISTED = {"extended_planes": False, "aux_heads": False, "ownership_loss_weight": 0.0,
                                "score_loss_weight": 0.0, "lr_schedule": "constant", "warm_start_games": 0,
                                "train_precision": "fp32"}

GROUP_TITLES = {
    "run": "run",
    "game": "game and search (passed to the engine)",
    "self-play": "self-play",
    "network": "network (fixed for a run)",
    "server": "inference server (module engine)",
    "training": "training",
    "evaluation": "evaluation",
}


def flag_name(field_name: str) -> str:
    return field_name.replace("_", "-")


def add_setting_flags(parser: argparse.ArgumentParser, names: list[str] | None = None) -> None:
    """Adds one flag per setting. Defaults are suppressed so that the parsed
    namespace holds only what the user typed (needed to merge with a resumed run)."""
    defaults = TrainSettings()
    groups: dict[str, argparse._ArgumentGroup] = {}
    for f in fields(TrainSettings):
        if names is not None and f.name not in names:
            continue
        group_key = f.metadata["group"]
        if group_key not in groups:
            groups[group_key] = parser.add_argument_group(GROUP_TITLES[group_key])
        default = getattr(defaults, f.name)
        shown = f" (default: {default})" if default != "" else ""
        groups[group_key].add_argument(
            f"--{flag_name(f.name)}", dest=f.name, type=_parse_type(f), default=argparse.SUPPRESS,
            metavar=_metavar(f), help=f.metadata["help"] + shown)


def _metavar(f: dataclasses.Field) -> str:
    if f.name == "run_dir":
        return "DIR"
    return {"int": "N", "float": "X", "str": "NAME", "bool": "BOOL"}[_type_name(f)]


def _type_name(f: dataclasses.Field) -> str:
    return f.type if isinstance(f.type, str) else f.type.__name__


def _parse_bool(text: str) -> bool:
    lowered = text.strip().lower()
    if lowered in ("1", "true", "yes", "on"):
        return True
    if lowered in ("0", "false", "no", "off"):
        return False
    raise argparse.ArgumentTypeError(f"expected true or false, got {text!r}")


def _parse_type(f: dataclasses.Field):
    return {"int": int, "float": float, "str": str, "bool": _parse_bool}[_type_name(f)]


def explicit_settings(namespace: argparse.Namespace) -> dict[str, Any]:
    known = {f.name for f in fields(TrainSettings)}
    return {k: v for k, v in vars(namespace).items() if k in known}


def network_shape_of(init: str, explicit: dict[str, Any]) -> dict[str, Any]:
    """The network settings of the checkpoint a run starts from; ValueError
    when a flag typed now asks for another shape."""
    try:
        shape = load_network_checkpoint(resolve_checkpoint(init))["shape"]
    except (FileNotFoundError, RunDirectoryError) as error:
        raise ValueError(f"--init {init}: {error}") from None
    from_checkpoint = {"channels": shape["channels"], "blocks": shape["blocks"], "aux_heads": shape.get("aux_heads", False),
                       "extended_planes": shape.get("input_planes", 5) != 5}
    for name, value in from_checkpoint.items():
        if name in explicit and explicit[name] != value:
            raise ValueError(f"--{flag_name(name)} {explicit[name]} differs from the network of --init {init} "
                             f"({value}); leave it out")
    return from_checkpoint


def resolve_settings(explicit: dict[str, Any], saved: dict[str, Any] | None) -> TrainSettings:
    """Defaults, overlaid by a resumed run's saved settings, overlaid by the
    flags typed now. Changing a setting that shapes the network or the stored
    positions of an existing run is refused."""
    values = dataclasses.asdict(TrainSettings())
    if saved is not None:
        values.update({k: v for k, v in SETTINGS_BEFORE_THEY_EXISTED.items() if k not in saved})
        values.update(saved)
        for f in fields(TrainSettings):
            if f.metadata["fixed"] and f.name in explicit and explicit[f.name] != saved.get(f.name):
                raise ValueError(
                    f"--{flag_name(f.name)} is fixed for this run (it was {saved.get(f.name)}); "
                    f"start a new run directory to change it")
    values.update(explicit)
    if values["init"] and saved is None:
        values.update(network_shape_of(values["init"], explicit))
    if values["engine"] == "module" and "extended_planes" not in explicit and saved is None:
        values["extended_planes"] = False  # the module sends the five planes; nothing else to choose
    if not values["run_dir"]:
        values["run_dir"] = str(Path("runs") / time.strftime("%Y%m%d-%H%M%S"))
    settings = TrainSettings.from_dict(values)
    settings.validate()
    return settings
