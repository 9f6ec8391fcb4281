"""The generation loop: self-play, training, checkpoint, evaluation, metrics.

A generation plays ``games_per_generation`` self-play games with the current
network, adds their positions to the replay buffer, trains, saves the
checkpoint ``checkpoints/generation-NNNN.pt`` (and the buffer), then measures
the new network against random players and against the previous generation.
"""

from __future__ import annotations

import copy
import time
from dataclasses import dataclass, field
from typing import Any

import numpy as np
import torch

from .run_directory import RunDirectory, load_checkpoint, save_checkpoint
from .cluster import Cluster, ClusterOptions
from .arena import play_match
from .inference_server import ServerOptions
from .metrics import EVALUATION_OPPONENTS, MetricsLog
from .network import NetworkShape, TavrinNet
from .players import GreedyPlayer, NetworkPlayer, RandomPlayer
from .plots import write_plots
from .progress import progress_bar, say
from .records import RecordError, examples_from_record
from .saved_games import game_from_record
from .replay_buffer import ReplayBuffer
from .settings import TrainSettings
from .optimisation import train_steps
from .worker import SELF_PLAY

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
    started: float = field(default_factory=time.perf_counter)


def cluster_options(settings: TrainSettings, run: RunDirectory, engine_module: str) -> ClusterOptions:
    server = ServerOptions(channels=settings.channels, blocks=settings.blocks, rep=settings.rep,
                           batch_size=settings.effective_batch_size, wait_s=settings.batch_wait_ms / 1000,
                           threads=settings.server_threads)
    return ClusterOptions(workers=settings.workers, server=server, log_dir=run.log_dir, engine_module=engine_module)


def open_state(settings: TrainSettings, show_progress: bool) -> TrainingState:
    """A fresh run (generation 0 saved at once), or the latest generation of an existing one."""
    run = RunDirectory(settings.run_dir)
    run.root.mkdir(parents=True, exist_ok=True)
    torch.manual_seed(settings.seed)
    torch.set_num_threads(settings.effective_train_threads)
    model = TavrinNet(NetworkShape(settings.channels, settings.blocks))
    optimizer = torch.optim.Adam(model.parameters(), lr=settings.learning_rate, weight_decay=settings.weight_decay)
    metrics = MetricsLog(run.metrics_path)
    latest = run.latest_generation()
    if latest is None:
        run.metrics_path.unlink(missing_ok=True)
        generation, buffer = 0, ReplayBuffer(settings.replay_capacity, settings.dim)
    else:
        saved = load_checkpoint(run.checkpoint_path(latest))
        model.load_state_dict(saved["model"])
        optimizer.load_state_dict(saved["optimizer"])
        for group in optimizer.param_groups:  # a resumed run may change them
            group["lr"], group["weight_decay"] = settings.learning_rate, settings.weight_decay
        generation = latest
        buffer = (ReplayBuffer.load(run.replay_path, settings.replay_capacity, settings.dim)
                  if run.replay_path.exists() else ReplayBuffer(settings.replay_capacity, settings.dim))
        metrics.truncate_after(latest)
        say(f"resuming {run.root} at generation {latest} with {len(buffer)} stored positions", show_progress)
    model.eval()
    run.save_settings(settings.to_json())
    state = TrainingState(settings, run, model, optimizer, buffer, generation, metrics,
                          np.random.default_rng([settings.seed, generation]), show_progress)
    if latest is None:
        save_generation(state)
    return state


def save_generation(state: TrainingState) -> None:
    state.buffer.save(state.run.replay_path)
    save_checkpoint(state.run.checkpoint_path(state.generation), {
        "generation": state.generation, "model": state.model.state_dict(),
        "optimizer": state.optimizer.state_dict(),
        "shape": {"channels": state.settings.channels, "blocks": state.settings.blocks},
        "dim": state.settings.dim})


def self_play(state: TrainingState, cluster: Cluster) -> dict[str, Any]:
    settings = state.settings
    model_server = cluster.servers["model"]
    model_server.take_stats()  # start the throughput counters afresh
    started = time.perf_counter()
    positions = rejected = 0
    saved = []
    with progress_bar(settings.games_per_generation, "self-play", state.show_progress) as bar:
        for result in cluster.run(SELF_PLAY, [settings.search_config()] * settings.games_per_generation):
            try:
                examples = examples_from_record(result.payload, settings.dim)
            except RecordError as error:
                rejected += 1
                say(f"rejected a self-play record of worker {result.worker_id}: {error}", state.show_progress)
                continue
            state.buffer.add(examples)
            positions += len(examples)
            if len(saved) < settings.saved_games:
                saved.append(game_from_record(result.payload, settings.dim, state.generation))
            bar.update(1)
            bar.set_postfix_str(f"{positions} positions")
    seconds = time.perf_counter() - started
    stats = model_server.take_stats()
    if saved:
        state.run.games_dir.mkdir(parents=True, exist_ok=True)
        state.run.games_path(state.generation).write_text("".join(g.to_json() + "\n" for g in saved))
    return {"selfplay_games": settings.games_per_generation - rejected, "selfplay_positions": positions,
            "selfplay_s": seconds, "positions_per_s": positions / seconds,
            "games_per_s": settings.games_per_generation / seconds, "requests": stats["requests"],
            "requests_per_s": stats["requests"] / seconds, "mean_batch": stats["mean_batch"],
            "max_batch": stats["max_batch"], "server_busy_fraction": stats["network_s"] / seconds,
            "rejected_records": rejected}


def train(state: TrainingState) -> dict[str, Any]:
    settings = state.settings
    started = time.perf_counter()
    with progress_bar(settings.train_steps, "training", state.show_progress) as bar:
        losses = train_steps(state.model, state.optimizer, state.buffer, settings.train_steps,
                             settings.train_batch_size, settings.value_loss_weight, state.rng, bar)
    return {"train_steps": settings.train_steps, "policy_loss": losses.policy, "value_loss": losses.value,
            "buffer_positions": len(state.buffer), "train_s": time.perf_counter() - started}


def evaluate(state: TrainingState) -> dict[str, Any]:
    """Seat-rotated games of the current network (no search) against random
    and greedy players, on the training board and, when asked, on side 20."""
    settings = state.settings
    network = NetworkPlayer(copy.deepcopy(state.model), name=f"generation-{state.generation:04d}")
    matches = [("random", RandomPlayer, settings.eval_random_games, settings.dim),
               ("greedy", GreedyPlayer, settings.eval_greedy_games, settings.dim),
               ("random_side20", RandomPlayer, settings.eval_full_board_games, FULL_BOARD_SIDE),
               ("greedy_side20", GreedyPlayer, settings.eval_full_board_games, FULL_BOARD_SIDE)]
    row: dict[str, Any] = {}
    for index, (key, opponent, games, dim) in enumerate(matches):
        if games:
            result = play_match(network, opponent(seed=[settings.seed, state.generation, index]), games, dim,
                                show_progress=state.show_progress)
            row.update({f"vs_{key}_games": result.games, f"vs_{key}_mean_payoff": result.mean,
                        f"vs_{key}_stderr": result.stderr, f"vs_{key}_s": result.seconds})
    return row


def record_row(state: TrainingState, row: dict[str, Any]) -> None:
    row.update(generation=state.generation, elapsed_s=time.perf_counter() - state.started)
    state.metrics.append(row)
    write_plots(state.metrics.rows(), state.run.plot_dir)
    say(summary_line(row, state.settings.generations), state.show_progress)


def summary_line(row: dict[str, Any], generations: int) -> str:
    parts = [f"generation {row['generation']}/{generations}"]
    if "positions_per_s" in row:
        parts.append(f"self-play {row['selfplay_positions']} positions, {row['positions_per_s']:.0f} pos/s, "
                     f"{row['requests_per_s']:.0f} req/s, batch {row['mean_batch']:.1f}")
    if "policy_loss" in row:
        parts.append(f"loss {row['policy_loss']:.3f} + {row['value_loss']:.3f}")
    strengths = [f"{key.replace('_side20', ' (side 20)')} {row[f'vs_{key}_mean_payoff']:.3f} "
                 f"± {row[f'vs_{key}_stderr']:.3f}"
                 for key in EVALUATION_OPPONENTS if f"vs_{key}_mean_payoff" in row]
    if strengths:
        parts.append("vs " + ", ".join(strengths) + " (parity 0.25)")
    parts.append(f"{row['elapsed_s']:.0f} s")
    return " | ".join(parts)


def point_servers_at(state: TrainingState, cluster: Cluster) -> None:
    cluster.servers["model"].load(state.run.checkpoint_path(state.generation))


def out_of_time(state: TrainingState, last_generation_s: float | None) -> bool:
    limit = state.settings.time_limit_minutes * 60
    if limit <= 0 or last_generation_s is None:
        return False
    return time.perf_counter() - state.started + last_generation_s > limit


def run_training(settings: TrainSettings, engine_module: str = "tavrin_self_play",
                 show_progress: bool = True) -> TrainingState:
    """Trains until ``settings.generations`` or the time limit. On any exit,
    including Ctrl-C, every process is stopped and the replay buffer saved;
    the last finished generation's checkpoint is always on disk."""
    state = open_state(settings, show_progress)
    checkpoints = {"model": state.run.checkpoint_path(state.generation)}
    try:
        with Cluster(cluster_options(settings, state.run, engine_module), checkpoints) as cluster:
            evaluated = {int(r["generation"]) for r in state.metrics.rows()}
            if state.generation not in evaluated:
                record_row(state, evaluate(state))
            last_generation_s = None
            while state.generation < settings.generations:
                if out_of_time(state, last_generation_s):
                    say(f"time limit of {settings.time_limit_minutes:g} min reached", show_progress)
                    break
                generation_started = time.perf_counter()
                row = self_play(state, cluster)
                row.update(train(state))
                state.generation += 1
                save_generation(state)
                point_servers_at(state, cluster)
                row.update(evaluate(state))
                record_row(state, row)
                last_generation_s = time.perf_counter() - generation_started
    except BaseException:
        state.buffer.save(state.run.replay_path)
        raise
    return state
