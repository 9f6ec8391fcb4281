import csv
import os
import signal
import subprocess
import sys
import time
from pathlib import Path

import pytest
import torch
from engine_marks import needs_engine

from tavrin_trainer import generation_loop
from tavrin_trainer.cli import render as cli_render
from tavrin_trainer.core.run_folder.run_directory import RunDirectory, load_checkpoint, save_checkpoint
from tavrin_trainer.core.settings.train_settings import TrainSettings, resolve_settings
from tavrin_trainer.evaluation.arena import play_match
from tavrin_trainer.evaluation.players import NetworkPlayer, player_from_name
from tavrin_trainer.generation_loop import run_training
from tavrin_trainer.learning.network import NetworkShape, TavrinNet
from tavrin_trainer.selfplay.pool_processes import PoolWorkerOptions, PoolWorkers
from tavrin_trainer.selfplay.server_engine.supervisor import ClusterFailure

TINY = dict(dim=6, channels=8, blocks=1, sims_per_move=4, games_per_generation=3, workers=2, selfplay_processes=2,
            train_steps=3, train_batch_size=32, eval_random_games=4, eval_greedy_games=4, saved_games=2,
            time_limit_minutes=0, warm_start_games=0)


def tiny(run_dir: Path, **changes) -> TrainSettings:
    if changes.get("engine") == "module":
        changes.setdefault("extended_planes", False)  # the module sends five planes
    return TrainSettings(run_dir=str(run_dir), **{**TINY, **changes})


def metrics(run: RunDirectory) -> list[dict]:
    with open(run.metrics_path, newline="") as source:
        return list(csv.DictReader(source))


@needs_engine
@pytest.mark.parametrize("engine", ["pool", "module"])
def test_a_short_run_writes_checkpoints_metrics_plots_and_games_and_resumes(tmp_path, engine, capfd):
    run = RunDirectory(tmp_path / "run")
    run_training(tiny(run.root, generations=2, engine=engine), show_progress=False)

    assert run.generations() == [0, 1, 2]
    rows = metrics(run)
    assert [int(r["generation"]) for r in rows] == [0, 1, 2]
    for row in rows[1:]:
        assert int(row["selfplay_games"]) == 3 and int(row["selfplay_positions"]) > 0
        assert float(row["positions_per_s"]) > 0 and float(row["evaluations_per_s"]) > 0
        assert 1 <= float(row["mean_batch"]) <= 2 and float(row["policy_loss"]) > 0
        assert 0 < float(row["network_busy_fraction"]) <= 1 and row["replaced_processes"] == "0"
        assert row["vs_random_games"] == row["vs_greedy_games"] == "4"
    assert (run.plot_dir / "loss.png").read_bytes()[:4] == b"\x89PNG"
    assert (run.plot_dir / "win_rate.png").read_bytes()[:4] == b"\x89PNG"
    assert load_checkpoint(run.checkpoint_path(2))["generation"] == 2
    # Each strength column is the seeded match of that generation's network, played again here
    # as the trainer plays it: without search, in fp32.
    network = NetworkPlayer.from_checkpoint(run.checkpoint_path(2), simulations=0, inference="fp32")
    for index, opponent in enumerate(("random", "greedy")):
        again = play_match(network, player_from_name(opponent), 4, TINY["dim"], seed=[0, 2, index])
        assert (float(rows[2][f"vs_{opponent}_mean_payoff"]), float(rows[2][f"vs_{opponent}_stderr"])) == \
            pytest.approx((again.mean, again.stderr), abs=1e-6)
    stored = int(rows[-1]["buffer_positions"])

    # Resume: the next invocation starts from generation 2 with the stored positions.
    capfd.readouterr()
    state = run_training(tiny(run.root, generations=3, engine=engine), show_progress=True)
    assert state.generation == 3 and run.generations() == [0, 1, 2, 3]
    # Output to a file, not a terminal: a line a stage, none redrawn, then the generation's line.
    log = "".join(capfd.readouterr())
    assert "\r" not in log, log
    stages = [line.split(":")[0].strip() for line in log.splitlines() if line.startswith("  ")]
    assert stages == ["self-play", "training", "vs random", "vs greedy"], log
    assert sum(line.startswith("generation 3/3 |") for line in log.splitlines()) == 1, log
    rows = metrics(run)
    assert [int(r["generation"]) for r in rows] == [0, 1, 2, 3]
    assert int(rows[-1]["buffer_positions"]) == stored + int(rows[-1]["selfplay_positions"])

    assert cli_render.main([str(run.root), "--format", "svg"]) == 0

    assert len(list((run.root / "renders").glob("generation-0002-game-*.svg"))) == 2


def test_resumed_settings_keep_the_run_and_refuse_a_new_network_shape(tmp_path):
    saved = tiny(tmp_path).__dict__
    resolved = resolve_settings({"generations": 9, "run_dir": str(tmp_path)}, saved)
    assert resolved.generations == 9 and resolved.channels == TINY["channels"] and resolved.dim == TINY["dim"]
    with pytest.raises(ValueError, match="--channels is fixed for this run"):
        resolve_settings({"channels": 64}, saved)
    with pytest.raises(ValueError, match="--dirichlet-alpha must be greater than 0"):
        resolve_settings({"dirichlet_alpha": 0.0}, None)
    # A run saved before the extended planes and auxiliary heads keeps its network.
    older = {k: v for k, v in saved.items() if k not in ("extended_planes", "aux_heads", "ownership_loss_weight",
                                                         "score_loss_weight", "lr_schedule", "warm_start_games")}
    resumed = resolve_settings({}, older)
    assert not resumed.extended_planes and not resumed.aux_heads and resumed.ownership_loss_weight == 0


@needs_engine
def test_a_server_failure_mid_run_keeps_the_last_generation(tmp_path, monkeypatch):
    run = RunDirectory(tmp_path / "run")
    run_training(tiny(run.root, generations=1, engine="module"), show_progress=False)
    before = run.checkpoint_path(1).read_bytes()

    original = generation_loop.self_play

    def self_play_then_kill_the_server(state, engine):
        os.kill(engine.cluster.servers["model"].process.pid, signal.SIGKILL)
        return original(state, engine)

    monkeypatch.setattr(generation_loop, "self_play", self_play_then_kill_the_server)
    with pytest.raises(ClusterFailure, match="inference server 'model' exited"):
        run_training(tiny(run.root, generations=3, engine="module"), show_progress=False)
    assert run.generations() == [0, 1] and run.checkpoint_path(1).read_bytes() == before
    assert run.replay_path.exists()


def default_sigint() -> None:
    """A runner that started the tests in the background may have left SIGINT
    ignored; the trainer must see Ctrl-C as a user's terminal sends it."""
    signal.signal(signal.SIGINT, signal.SIG_DFL)


def group_empties(group: int, within_s: float) -> bool:
    deadline = time.monotonic() + within_s
    while time.monotonic() < deadline:
        if subprocess.run(["pgrep", "-g", str(group)], capture_output=True).returncode == 1:
            return True
        time.sleep(0.1)
    return False


@needs_engine
def test_ctrl_c_stops_every_process_and_keeps_the_last_checkpoint(tmp_path):
    """The command-line trainer under a real SIGINT."""
    run_dir = tmp_path / "run"
    tests_dir = Path(__file__).parent
    env = {**os.environ, "PYTHONPATH": os.pathsep.join([str(tests_dir.parents[1] / "trainer"), str(tests_dir)])}
    code = "import sys, tavrin_trainer.cli.train as c; sys.exit(c.main(sys.argv[1:]))"
    flags = [f"--{k.replace('_', '-')}={v}" for k, v in TINY.items()]
    process = subprocess.Popen([sys.executable, "-c", code, "--run-dir", str(run_dir), "--generations", "1000",
                                "--quiet", *flags], env=env, stderr=subprocess.PIPE, text=True,
                               start_new_session=True, preexec_fn=default_sigint)
    run = RunDirectory(run_dir)
    deadline = time.monotonic() + 120
    while len(run.generations()) < 2 and time.monotonic() < deadline and process.poll() is None:
        time.sleep(0.2)
    assert len(run.generations()) >= 2, process.stderr.read() if process.poll() is not None else "too slow"
    os.killpg(process.pid, signal.SIGINT)  # Ctrl-C reaches the whole process group
    _, errors = process.communicate(timeout=60)
    assert process.returncode == 130, errors
    assert "interrupted: all processes stopped; kept" in errors
    assert group_empties(process.pid, within_s=5), "processes of the trainer outlived it"
    latest = run.latest_generation()
    assert load_checkpoint(run.checkpoint_path(latest))["generation"] == latest


@needs_engine
def test_a_curriculum_run_with_every_learning_option_moves_its_board_and_resumes(tmp_path):
    run = RunDirectory(tmp_path / "run")
    options = dict(board_schedule="5:1,6:1", extended_planes=True, warm_start_games=2, warm_start_steps=2,
                   ownership_loss_weight=1.0, score_loss_weight=1.0, lr_schedule="cosine", skip_single_tile=True,
                   full_search_fraction=0.5, reduced_sims=2)
    run_training(tiny(run.root, dim=7, generations=2, **options), show_progress=False)
    run_training(tiny(run.root, dim=7, generations=3, **options), show_progress=False)
    rows = metrics(run)
    assert [r["selfplay_side"] for r in rows] == ["", "5", "6", "7"]
    # The warm start's greedy games share the first side's buffer; a new side starts an empty one.
    buffered, played = ([int(r[key]) for r in rows[1:]] for key in ("buffer_positions", "selfplay_positions"))
    assert buffered[0] > played[0] and buffered[1:] == played[1:]
    for row in rows[1:]:
        assert float(row["ownership_loss"]) > 0 and float(row["score_loss"]) > 0
    assert [float(r["learning_rate"]) for r in rows[1:]] == sorted((float(r["learning_rate"]) for r in rows[1:]),
                                                                   reverse=True)
    assert load_checkpoint(run.checkpoint_path(3))["shape"]["input_planes"] == 90


@needs_engine
def test_a_seeded_generation_plays_the_same_games_however_many_processes_share_them(tmp_path):
    checkpoint = tmp_path / "net.pt"
    save_checkpoint(checkpoint, {"model": TavrinNet(NetworkShape(8, 1)).state_dict(),
                                 "shape": {"channels": 8, "blocks": 1}})
    settings = tiny(tmp_path, extended_planes=False, sample_moves=30)

    def games(processes: int, generation: int) -> list[tuple]:
        with PoolWorkers(PoolWorkerOptions(processes=processes, concurrent_games=2)) as workers:
            records = workers.play(checkpoint, settings.search_settings(6, generation), 5)
            return sorted((int(r["index"]), r["moves"].tolist(), r["policy_shares"].tolist()) for r in records)

    one = games(1, generation=1)
    assert [index for index, *_ in one] == list(range(5))
    assert games(2, generation=1) == one
    assert games(1, generation=2) != one


@needs_engine
def test_a_run_stopped_after_every_generation_trains_the_network_of_one_run_straight_through(tmp_path):
    # The full-board preset's teacher: a Gumbel root, leaves valued with a playout, searched values taught.
    options = dict(gumbel_candidates=4, playouts=1, searched_value_weight=0.5, warm_start_teacher="rollout:4",
                   warm_start_games=2, warm_start_steps=2, eval_rollout_games=4, eval_rollout_simulations=4,
                   evaluation_cache=0)
    straight, stopped = RunDirectory(tmp_path / "straight"), RunDirectory(tmp_path / "stopped")
    run_training(tiny(straight.root, generations=2, **options), show_progress=False)
    for generations in (1, 2):
        run_training(tiny(stopped.root, generations=generations, **options), show_progress=False)
    weights = [load_checkpoint(run.checkpoint_path(2))["model"] for run in (straight, stopped)]
    assert all(torch.equal(weights[0][key], weights[1][key]) for key in weights[0])
    assert [row["vs_rollout_games"] for row in metrics(straight)] == ["4"] * 3

    # A run started from another begins at its weights, with its shape.
    settings = resolve_settings({"run_dir": str(tmp_path / "next"), "init": str(straight.root), "generations": 1,
                                 **{k: v for k, v in TINY.items() if k not in ("channels", "blocks")}}, None)
    assert (settings.channels, settings.blocks) == (TINY["channels"], TINY["blocks"])
    with pytest.raises(ValueError, match="--channels 16 differs from the network of --init"):
        resolve_settings({"init": str(straight.root), "channels": 16}, None)
    state = run_training(settings, show_progress=False)
    first = load_checkpoint(RunDirectory(settings.run_dir).checkpoint_path(0))["model"]
    assert all(torch.equal(first[key], weights[0][key]) for key in first) and state.generation == 1


@needs_engine
def test_a_time_limit_stops_the_run_and_side_20_columns_and_the_score_mix_take_part(tmp_path):
    def run_of(name, **changes):
        run = RunDirectory(tmp_path / name)
        state = run_training(tiny(run.root, generations=5, **changes), show_progress=False)
        return state, metrics(run)

    # The first generation outlasts the limit, so no second one starts.
    state, rows = run_of("limited", time_limit_minutes=0.001, eval_full_board_games=4, value_score_mix=0.5,
                         tensorboard=True)
    assert state.generation == 1 and len(rows) == 2
    assert rows[1]["vs_random_side20_games"] == rows[1]["vs_greedy_side20_games"] == "4"
    from tensorboard.backend.event_processing.event_accumulator import EventAccumulator  # optional, as --tensorboard

    events = EventAccumulator(str(tmp_path / "limited" / "tensorboard"))
    events.Reload()
    strength = events.Scalars("strength/vs_greedy_side20_mean_payoff")
    assert [(e.step, round(e.value, 4)) for e in strength] == [
        (int(r["generation"]), round(float(r["vs_greedy_side20_mean_payoff"]), 4)) for r in rows]
    _, plain = run_of("plain", time_limit_minutes=0.001)
    # Same games and batches, other value targets.
    assert plain[1]["selfplay_positions"] == rows[1]["selfplay_positions"]
    assert plain[1]["value_loss"] != rows[1]["value_loss"]
