"""The generation loop: self-play, training, checkpoint, evaluation, metrics.

A generation plays ``games_per_generation`` self-play games with the current
network (batched pools by default, or the module through an inference
server), adds their positions to the replay buffer, trains, saves the
checkpoint ``checkpoints/generation-NNNN.pt`` (and the buffer), then measures
the new network in seat-rotated games against random and greedy players.
"""

from __future__ import annotations

import copy
import dataclasses
import time
import zipfile
from dataclasses import dataclass, field
from typing import Any, Callable

import numpy as np
import tavrin_engine as te
import torch

from tavrin_trainer.evaluation.arena import play_match
from tavrin_trainer.evaluation.players import NetworkPlayer, player_from_name
from tavrin_trainer.learning.examples import RecordError
from tavrin_trainer.learning.network import NetworkShape, TavrinNet
from tavrin_trainer.learning.optimisation import LossWeights, learning_rate, train_steps
from tavrin_trainer.learning.replay_buffer import ReplayBuffer, saved_side
from tavrin_trainer.core.cpus import usable_cpu_count
from tavrin_trainer.core.run_folder.run_directory import (RunDirectory, RunDirectoryError, atomic_write,
                                                         load_checkpoint, resolve_checkpoint, save_checkpoint)
from tavrin_trainer.learning.inference import resolve_train_precision
from tavrin_trainer.core.interrupts import CtrlC
from tavrin_trainer.core.run_folder.metrics import EVALUATION_OPPONENTS, MetricsLog, evaluation_columns
from tavrin_trainer.core.pictures.plots import write_plots
from tavrin_trainer.core.progress import progress_bar, say, warn
from tavrin_trainer.core.run_folder.saved_games import game_from_moves
from tavrin_trainer.core.settings.train_settings import TrainSettings
from tavrin_trainer.selfplay.demonstrations import demonstration_examples
from tavrin_trainer.selfplay.engines import ModuleSelfPlay, PoolSelfPlay, resolve_device
from tavrin_trainer.selfplay.interface import SelfPlayEngine

FULL_BOARD_SIDE = 20


@dataclass
class TrainingState:
    settings: TrainSettings
    run: RunDirectory
    model: TavrinNet
    optimizer: torch.optim.Optimizer
    buffer: ReplayBuffer
    generation: int
    metrics: MetricsLog
    rng: np.random.Generator
    show_progress: bool
    device: str = "cpu"
    train_bf16: bool = False  # training steps under bfloat16 autocast (--train-precision)
    # Wall time of the generations before this invocation (a resumed run).
    elapsed_before: float = 0.0
    started: float = field(default_factory=time.perf_counter)
    scalars: Any = None  # the TensorBoard writer, with --tensorboard


def open_state(settings: TrainSettings, show_progress: bool) -> TrainingState:
    """A fresh run, whose folder becomes a run directory once generation 0 is
    saved, or the newest readable generation of an existing run. The caller
    holds the run's lock."""
    run = RunDirectory(settings.run_dir)
    run.remove_unfinished_writes()
    device = resolve_device(settings.device)
    torch.manual_seed(settings.seed)
    torch.set_num_threads(settings.effective_train_threads)
    planes = te.EXTENDED_STATE_PLANES if settings.extended_planes else te.STATE_PLANES
    model = TavrinNet(NetworkShape(settings.channels, settings.blocks, settings.aux_heads, planes)).to(device)
    optimizer = torch.optim.Adam(model.parameters(), lr=settings.learning_rate, weight_decay=settings.weight_decay)
    metrics = MetricsLog(run.metrics_path)
    found = run.newest_loadable(lambda line: warn(line, show_progress), set_aside=True)
    elapsed_before = 0.0
    if found is None:
        if run.is_run():  # killed before its first checkpoint: nothing of it to keep
            run.metrics_path.unlink(missing_ok=True)
        generation, buffer = 0, ReplayBuffer(settings.replay_capacity, settings.side_of_generation(1), planes)
    else:
        generation, saved = found
        check_network_matches(run, run.checkpoint_path(generation), saved, model.shape, settings.dim)
        model.load_state_dict(saved["model"])
        optimizer.load_state_dict(saved["optimizer"])
        for group in optimizer.param_groups:  # a resumed run may change them
            group["lr"], group["weight_decay"] = settings.learning_rate, settings.weight_decay
        buffer = load_buffer(run, settings, settings.side_of_generation(generation + 1), planes, show_progress)
        metrics.truncate_after(generation)
        rows = metrics.rows()
        elapsed_before = float(rows[-1]["elapsed_s"]) if rows and rows[-1]["elapsed_s"] else 0.0
        if not run.settings_path.exists():
            warn(f"{run.settings_path} is missing: resuming with the settings given now", show_progress)
        say(f"resuming {run.root} at generation {generation} with {len(buffer)} stored positions", show_progress)
        run.mark()  # a run of an earlier version gets its marker
        run.save_settings(settings.to_json())
    model.eval()
    precision = resolve_train_precision(settings.train_precision, device)
    say(f"training steps in {precision} on {device} (--train-precision {settings.train_precision})", show_progress)
    state = TrainingState(settings, run, model, optimizer, buffer, generation, metrics,
                          np.random.default_rng([settings.seed, generation]), show_progress, device,
                          precision == "bf16", elapsed_before=elapsed_before)
    if found is None:
        if settings.init:
            start_from(state, settings.init)
        elif settings.warm_start_games:
            warm_start(state)
        run.mark()
        save_generation(state)
        run.save_settings(settings.to_json())
    return state


def load_buffer(run: RunDirectory, settings: TrainSettings, side: int, planes: int,
                show_progress: bool) -> ReplayBuffer:
    """The saved replay buffer, or an empty one when there is none for this
    side; a damaged file is reported and set aside, and the run goes on."""
    empty = ReplayBuffer(settings.replay_capacity, side, planes)
    if not run.replay_path.exists():
        return empty
    try:
        if saved_side(run.replay_path) != side:
            return empty
        return ReplayBuffer.load(run.replay_path, settings.replay_capacity, side, planes)
    except (OSError, ValueError, KeyError, EOFError, zipfile.BadZipFile) as error:
        aside = run.replay_path.with_name(run.replay_path.name + ".corrupt")
        run.replay_path.rename(aside)
        warn(f"{run.replay_path} cannot be read ({str(error).splitlines()[0] if str(error) else type(error).__name__})"
             f"; kept it as {aside.name} and resuming with an empty replay buffer", show_progress)
        return empty


def check_network_matches(run: RunDirectory, path, saved: dict[str, Any], shape: NetworkShape, dim: int) -> None:
    """RunDirectoryError when the checkpoint's network or board is not the one the settings describe."""
    recorded = saved.get("shape")
    wanted = dataclasses.asdict(shape)
    mismatches = [f"{name} {recorded[name]} (settings: {wanted[name]})" for name in wanted
                  if isinstance(recorded, dict) and name in recorded and recorded[name] != wanted[name]]
    if saved.get("dim") is not None and saved["dim"] != dim:
        mismatches.append(f"side {saved['dim']} (settings: {dim})")
    if not mismatches:
        return
    hint = (f"{run.settings_path.name} is missing, so give the run's own flags (--channels, --blocks, --aux-heads, "
            f"--extended-planes, --dim)" if not run.settings_path.exists()
            else "start a new run directory to change them")
    raise RunDirectoryError(f"{path} was trained with {', '.join(mismatches)}; {hint}")


def start_from(state: TrainingState, init: str) -> None:
    """Generation 0 is the network of ``init`` (its shape checked by the settings)."""
    path = resolve_checkpoint(init)
    state.model.load_state_dict(load_checkpoint(path)["model"])
    say(f"generation 0 is the network of {path}", state.show_progress)


def warm_start(state: TrainingState) -> None:
    """The teacher's games into the buffer and a first round of training on them."""
    settings = state.settings
    side = settings.side_of_generation(1)
    teacher = settings.warm_start_teacher
    with progress_bar(settings.warm_start_games, f"{teacher} games", state.show_progress) as bar:
        examples = demonstration_examples(teacher, settings.warm_start_games, side, settings.seed,
                                          settings.extended_planes, workers=usable_cpu_count(), progress=bar)
    state.buffer.add(examples)
    say(f"warm start: {settings.warm_start_games} {teacher} games, {len(examples)} positions", state.show_progress)
    set_learning_rate(state.optimizer, settings.learning_rate)
    with progress_bar(settings.warm_start_steps, "warm start", state.show_progress) as bar:
        train_steps(state.model, state.optimizer, state.buffer, settings.warm_start_steps,
                    settings.train_batch_size, loss_weights(settings), state.rng, bar,
                    bf16=state.train_bf16)


def set_learning_rate(optimizer: torch.optim.Optimizer, rate: float) -> None:
    for group in optimizer.param_groups:
        group["lr"] = rate


def loss_weights(settings: TrainSettings) -> LossWeights:
    return LossWeights(settings.value_loss_weight, settings.ownership_loss_weight, settings.score_loss_weight,
                       settings.value_score_mix)


def save_generation(state: TrainingState) -> None:
    state.buffer.save(state.run.replay_path)
    save_checkpoint(state.run.checkpoint_path(state.generation), {
        "generation": state.generation, "model": state.model.state_dict(),
        "optimizer": state.optimizer.state_dict(),
        "shape": dataclasses.asdict(state.model.shape),
        "dim": state.settings.dim,
        # How its self-play searched: the way its players search by default.
        "search": state.settings.search_way().record()})


def self_play(state: TrainingState, engine: SelfPlayEngine) -> dict[str, Any]:
    settings = state.settings
    started = time.perf_counter()
    games = positions = rejected = 0
    saved = []
    checkpoint = state.run.checkpoint_path(state.generation)
    side = settings.side_of_generation(state.generation + 1)
    if state.buffer.dim != side:  # the curriculum moves on: positions of one side per buffer
        say(f"self-play moves to side {side}", state.show_progress)
        state.buffer = ReplayBuffer(settings.replay_capacity, side, state.buffer.input_planes)
    played = []
    with progress_bar(settings.games_per_generation, "self-play", state.show_progress) as bar:
        for arrival, record in enumerate(engine.play(checkpoint, settings.search_settings(side, state.generation + 1),
                                                     settings.games_per_generation)):
            bar.update(1)
            try:
                examples = engine.examples(record, side)
            except RecordError as error:
                rejected += 1
                say(f"rejected a self-play record: {error}", state.show_progress)
                continue
            games += 1
            positions += len(examples)
            number = record["index"] if isinstance(record, dict) and "index" in record else arrival
            played.append((int(number), arrival, examples, record))
            bar.set_postfix_str(f"{positions} positions")
    # In game order, not in the order processes finished them: the buffer and
    # so the training batches are the same however the games were shared.
    played.sort(key=lambda game: game[:2])
    for _, _, examples, record in played:
        state.buffer.add(examples)
        if len(saved) < settings.saved_games:
            saved.append(game_from_moves(*engine.moves_and_payoffs(record), side, state.generation))
    seconds = time.perf_counter() - started
    if saved:
        state.run.games_dir.mkdir(parents=True, exist_ok=True)
        atomic_write(state.run.games_path(state.generation),
                     lambda path: path.write_text("".join(g.to_json() + "\n" for g in saved)))
    row = {"selfplay_side": side, "selfplay_games": games, "selfplay_positions": positions, "selfplay_s": seconds,
           "positions_per_s": positions / seconds, "games_per_s": games / seconds, "rejected_records": rejected}
    row.update(engine.stats(seconds))
    if row["replaced_processes"]:
        say(f"replaced {row['replaced_processes']} self-play process(es) that died", state.show_progress)
    return row


def train(state: TrainingState) -> dict[str, Any]:
    settings = state.settings
    started = time.perf_counter()
    # Batches drawn from the generation's own stream: a run stopped and
    # resumed trains exactly as one that went straight through.
    state.rng = np.random.default_rng([settings.seed, state.generation + 1])
    rate = learning_rate(settings.learning_rate, settings.lr_schedule, state.generation + 1, settings.generations)
    set_learning_rate(state.optimizer, rate)
    with progress_bar(settings.train_steps, "training", state.show_progress) as bar:
        losses = train_steps(state.model, state.optimizer, state.buffer, settings.train_steps,
                             settings.train_batch_size, loss_weights(settings), state.rng, bar,
                             bf16=state.train_bf16)
    return {"train_steps": settings.train_steps, "learning_rate": rate, "policy_loss": losses.policy,
            "value_loss": losses.value, "ownership_loss": losses.ownership, "score_loss": losses.score,
            "buffer_positions": len(state.buffer), "train_s": time.perf_counter() - started}


def evaluation_matches(settings: TrainSettings) -> list[tuple[str, str, int, int]]:
    """(column key, opponent name, games, board side) of every match of a
    generation, in order; the index of a match seeds its games."""
    return [("random", "random", settings.eval_random_games, settings.dim),
            ("greedy", "greedy", settings.eval_greedy_games, settings.dim),
            ("random_side20", "random", settings.eval_full_board_games, FULL_BOARD_SIDE),
            ("greedy_side20", "greedy", settings.eval_full_board_games, FULL_BOARD_SIDE),
            ("rollout", f"rollout:{settings.eval_rollout_simulations}", settings.eval_rollout_games, settings.dim)]


def evaluate(state: TrainingState) -> dict[str, Any]:
    """Seat-rotated games of the current network (no search) against random
    and greedy players, on the training board and, when asked, on side 20
    and against rollout players."""
    settings = state.settings
    network = NetworkPlayer(copy.deepcopy(state.model), name=f"generation-{state.generation:04d}",
                            device=state.device, inference="fp32")
    row: dict[str, Any] = {}
    for index, (key, opponent, games, dim) in enumerate(evaluation_matches(settings)):
        if games:
            result = play_match(network, player_from_name(opponent), games, dim, show_progress=state.show_progress,
                                seed=[settings.seed, state.generation, index])
            row.update(evaluation_columns(key, result.games, result.mean, result.stderr, result.seconds))
    return row


def record_row(state: TrainingState, row: dict[str, Any]) -> None:
    row.update(generation=state.generation, elapsed_s=state.elapsed_before + time.perf_counter() - state.started)
    state.metrics.append(row)
    if state.settings.tensorboard:
        write_scalars(state, row)
    write_plots(state.metrics.rows(), state.run.plot_dir)
    say(summary_line(row, state.settings.generations), state.show_progress)


def write_scalars(state: TrainingState, row: dict[str, Any]) -> None:
    """The row's numbers as TensorBoard scalars, step = generation, grouped
    as in metrics.csv (strength columns under strength/)."""
    if state.scalars is None:
        try:  # optional: only a run with --tensorboard needs it
            from torch.utils.tensorboard import SummaryWriter
        except ImportError as missing:
            raise RunDirectoryError(f"--tensorboard needs the tensorboard package: pip install tensorboard "
                                    f"({missing})") from None
        state.scalars = SummaryWriter(str(state.run.root / "tensorboard"))
    for key, value in row.items():
        if isinstance(value, (int, float)) and not isinstance(value, bool) and key != "generation":
            group = "strength" if key.startswith("vs_") else "run"
            state.scalars.add_scalar(f"{group}/{key}", value, state.generation)
    state.scalars.flush()


def summary_line(row: dict[str, Any], generations: int) -> str:
    parts = [f"generation {row['generation']}/{generations}"]
    if "positions_per_s" in row:
        parts.append(f"self-play {row['selfplay_positions']} positions, {row['positions_per_s']:.0f} pos/s, "
                     f"{row['evaluations_per_s']:.0f} eval/s, batch {row['mean_batch']:.1f}, "
                     f"network busy {row['network_busy_fraction']:.0%}"
                     + (f", cache {row['cache_hit_rate']:.0%}" if "cache_hit_rate" in row else ""))
    if "policy_loss" in row:
        parts.append(f"loss {row['policy_loss']:.3f} + {row['value_loss']:.3f}")
    strengths = [f"{key.replace('_side20', ' (side 20)')} {row[f'vs_{key}_mean_payoff']:.3f} "
                 f"± {row[f'vs_{key}_stderr']:.3f}"
                 for key in EVALUATION_OPPONENTS if f"vs_{key}_mean_payoff" in row]
    if strengths:
        parts.append("vs " + ", ".join(strengths) + " (parity 0.25)")
    parts.append(f"{row['elapsed_s']:.0f} s")
    return " | ".join(parts)


def out_of_time(state: TrainingState, last_generation_s: float | None) -> bool:
    limit = state.settings.time_limit_minutes * 60
    if limit <= 0 or last_generation_s is None:
        return False
    return time.perf_counter() - state.started + last_generation_s > limit


def self_play_engine(state: TrainingState, engine_module: str) -> SelfPlayEngine:
    if state.settings.engine == "module":
        return ModuleSelfPlay(state.settings, state.run.log_dir, engine_module,
                              state.run.checkpoint_path(state.generation), device=state.device)
    return PoolSelfPlay.local(state.settings, state.device)


def run_training(settings: TrainSettings, engine_module: str = "tavrin_self_play",
                 show_progress: bool = True,
                 make_engine: Callable[[TrainingState], Any] | None = None,
                 evaluator: Callable[[TrainingState], dict[str, Any]] = evaluate) -> TrainingState:
    """Trains until ``settings.generations`` or the time limit. On any exit,
    including Ctrl-C, every process is stopped and the replay buffer saved;
    the last finished generation's checkpoint is always on disk, and a run
    killed outright resumes from it.

    ``make_engine`` and ``evaluator`` replace where self-play and evaluation
    run (the Ray backend passes actors); an engine is a ``SelfPlayEngine``,
    an evaluator returns ``evaluate``'s row."""
    run = RunDirectory(settings.run_dir)
    run.check_usable()
    with run.lock():
        return _train(settings, engine_module, show_progress, make_engine, evaluator)


def _train(settings: TrainSettings, engine_module: str, show_progress: bool,
           make_engine: Callable[[TrainingState], Any] | None,
           evaluator: Callable[[TrainingState], dict[str, Any]]) -> TrainingState:
    state = open_state(settings, show_progress)
    try:
        engine_context = make_engine(state) if make_engine else self_play_engine(state, engine_module)
        with CtrlC() as ctrl_c, engine_context as engine:
            evaluated = {int(r["generation"]) for r in state.metrics.rows()}
            if state.generation not in evaluated:
                record_row(state, evaluator(state))
            last_generation_s = None
            while state.generation < settings.generations:
                ctrl_c.check()
                if out_of_time(state, last_generation_s):
                    say(f"time limit of {settings.time_limit_minutes:g} min reached", show_progress)
                    break
                generation_started = time.perf_counter()
                row = self_play(state, engine)
                ctrl_c.check()
                row.update(train(state))
                state.generation += 1
                save_generation(state)
                ctrl_c.check()
                row.update(evaluator(state))
                record_row(state, row)
                last_generation_s = time.perf_counter() - generation_started
    except BaseException:
        state.buffer.save(state.run.replay_path)
        raise
    return state
