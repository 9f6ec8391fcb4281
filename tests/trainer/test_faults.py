"""A long run must survive dying self-play processes and a trainer killed at
any moment."""

import csv
import json
import os
import random
import signal
import subprocess
import sys
import time
from pathlib import Path

import numpy as np
import pytest
from engine_marks import needs_engine
from test_training_run import TINY, default_sigint, tiny

from tavrin_trainer import generation_loop
from tavrin_trainer.cli import eval as cli_eval
from tavrin_trainer.cli import train as cli_train
from tavrin_trainer.core.run_folder import run_directory
from tavrin_trainer.core.run_folder.run_directory import RunDirectory, load_checkpoint, save_checkpoint
from tavrin_trainer.learning.network import NetworkShape, TavrinNet
from tavrin_trainer.learning.replay_buffer import ReplayBuffer
from tavrin_trainer.selfplay.pool_processes import PoolWorkerOptions, PoolWorkers, SelfPlayFailure

pytestmark = needs_engine


def test_a_dead_self_play_process_is_replaced_and_counted(tmp_path, monkeypatch):
    original = generation_loop.self_play

    def kill_one_process_first(state, engine):
        if state.generation == 1:
            os.kill(engine.workers.processes[0].pid, signal.SIGKILL)
        return original(state, engine)

    monkeypatch.setattr(generation_loop, "self_play", kill_one_process_first)
    run = RunDirectory(tmp_path / "run")
    generation_loop.run_training(tiny(run.root, generations=2), show_progress=False)
    with open(run.metrics_path, newline="") as source:
        rows = {int(r["generation"]): r for r in csv.DictReader(source)}
    assert rows[2]["replaced_processes"] == "1" and rows[1]["replaced_processes"] == "0"
    assert int(rows[2]["selfplay_games"]) == TINY["games_per_generation"]


def test_processes_that_keep_dying_stop_self_play_naming_one(tmp_path):
    broken = tmp_path / "broken.pt"
    save_checkpoint(broken, {"model": {}, "shape": {"channels": 8, "blocks": 1}})  # weights that do not load
    config = tiny(tmp_path, extended_planes=False).search_settings()  # five planes, as the networks below read
    with PoolWorkers(PoolWorkerOptions(processes=1, concurrent_games=2, max_restarts=2)) as workers:
        with pytest.raises(SelfPlayFailure, match=r"self-play process 0 \(pid \d+\) exited with code 1; "
                                                  r"its last 2 replacements died too"):
            list(workers.play(str(broken), config, 2))
    good = tmp_path / "good.pt"
    save_checkpoint(good, {"model": TavrinNet(NetworkShape(8, 1)).state_dict(), "shape": {"channels": 8, "blocks": 1}})
    with PoolWorkers(PoolWorkerOptions(processes=1, concurrent_games=2)) as workers:
        assert len(list(workers.play(str(good), config, 3))) == 3


def every_file_loads(run: RunDirectory, killed: bool = False) -> None:
    """Every file of the run loads. A kill may leave the hidden temporary file
    of a write in progress; the next start deletes it."""
    for path in run.root.rglob("*"):
        if path.is_dir() or (killed and path.name.startswith(".") and path.name.endswith(".tmp")):
            continue
        assert not path.name.endswith(".tmp"), f"left behind: {path}"
        if path.suffix == ".pt":
            assert load_checkpoint(path)["generation"] == int(path.stem.split("-")[1])
        elif path.suffix == ".csv":
            with open(path, newline="") as source:
                rows = list(csv.DictReader(source))
            assert all(len(row) == len(rows[0]) and None not in row for row in rows)
        elif path.suffix == ".npz":
            with np.load(path) as stored:
                size, dim = int(stored["size"]), int(stored["dim"])
                planes = int(stored["input_planes"]) if "input_planes" in stored.files else 5
            assert len(ReplayBuffer.load(path, max(size, 1), dim, planes)) == size
        elif path.suffix in (".json", ".jsonl"):
            for line in path.read_text().splitlines() if path.suffix == ".jsonl" else [path.read_text()]:
                json.loads(line)
        elif path.suffix == ".png":
            data = path.read_bytes()
            assert data[:4] == b"\x89PNG" and data.endswith(b"IEND\xaeB`\x82")


def test_a_trainer_killed_at_any_moment_resumes_losing_at_most_one_generation(tmp_path):
    run = RunDirectory(tmp_path / "run")
    tests_dir = Path(__file__).parent
    env = {**os.environ, "PYTHONPATH": os.pathsep.join([str(tests_dir.parents[1] / "trainer"), str(tests_dir)])}
    flags = [f"--{k.replace('_', '-')}={v}" for k, v in TINY.items()]
    command = [sys.executable, "-c", "import sys, tavrin_trainer.cli.train as c; sys.exit(c.main(sys.argv[1:]))",
               "--run-dir", str(run.root), "--quiet", *flags]
    rng = random.Random(11)
    latest = 0
    for kill in range(4):
        process = subprocess.Popen([*command, "--generations", "1000"], env=env, start_new_session=True,
                                   stderr=subprocess.DEVNULL, preexec_fn=default_sigint)
        time.sleep(rng.uniform(3.0, 9.0))
        os.killpg(process.pid, signal.SIGKILL)
        process.wait()
        every_file_loads(run, killed=True)
        generations = run.generations()
        assert generations == list(range(len(generations))) and generations[-1] >= latest
        latest = generations[-1]
    finish = subprocess.run([*command, "--generations", str(latest + 1)], env=env, capture_output=True, text=True,
                            timeout=240)
    assert finish.returncode == 0, finish.stderr
    assert run.generations()[-1] == latest + 1
    every_file_loads(run)
    with open(run.metrics_path, newline="") as source:
        assert [int(r["generation"]) for r in csv.DictReader(source)] == list(range(latest + 2))


def test_damaged_or_foreign_run_directories_get_one_line_answers_and_lose_nothing(tmp_path, capsys, monkeypatch):
    def train(run_dir, *flags):
        settings = [f"--{k.replace('_', '-')}={v}" for k, v in TINY.items() if k != "dim"]
        code = cli_train.main(["--run-dir", str(run_dir), "--quiet", *settings, *flags])
        return code, capsys.readouterr().err

    # An ordinary folder is neither used nor cleaned.
    folder = tmp_path / "papers"
    (folder / "deep").mkdir(parents=True)
    kept = [folder / "metrics.csv", folder / "deep" / ".draft.tmp"]
    for path in kept:
        path.write_text("mine")
    with pytest.raises(SystemExit):
        train(folder, "--generations", "1")
    assert "is not empty and holds no tavrin run" in capsys.readouterr().err
    assert all(path.read_text() == "mine" for path in kept)

    # Stopped during the warm start: nothing claimed, another side may be chosen.
    run = RunDirectory(tmp_path / "run")

    def interrupted(state):
        raise KeyboardInterrupt

    monkeypatch.setattr(generation_loop, "warm_start", interrupted)
    assert train(run.root, "--dim", "7", "--warm-start-games", "1", "--generations", "1")[0] == 130
    monkeypatch.undo()
    assert train(run.root, "--dim", "6", "--generations", "2")[0] == 0
    first_elapsed = float(generation_loop.MetricsLog(run.metrics_path).rows()[-1]["elapsed_s"])

    # The newest checkpoint damaged: resume and evaluation fall back to the one before, saying so.
    run.checkpoint_path(2).write_bytes(run.checkpoint_path(2).read_bytes()[:300])
    with pytest.raises(SystemExit):
        cli_eval.main([str(run.checkpoint_path(2)), "--games", "1"])
    assert f"{run.checkpoint_path(2)} cannot be read, the file is damaged" in capsys.readouterr().err
    assert cli_eval.main([str(run.root), "--opponent", "random", "--games", "4", "--workers", "1", "--quiet"]) == 0
    assert f"skipped {run.checkpoint_path(2)} cannot be read" in capsys.readouterr().err
    run.replay_path.write_bytes(b"PK\x03\x04 not a whole archive")
    code, err = train(run.root, "--dim", "6", "--generations", "3")
    assert code == 0 and "kept it as generation-0002.pt.corrupt" in err
    assert "kept it as replay.npz.corrupt and resuming with an empty replay buffer" in err
    assert run.generations() == [0, 1, 2, 3] and (run.checkpoint_dir / "generation-0002.pt.corrupt").exists()
    rows = generation_loop.MetricsLog(run.metrics_path).rows()
    assert [int(r["generation"]) for r in rows] == [0, 1, 2, 3]
    # Wall time counts on across the invocations.
    assert float(rows[-1]["elapsed_s"]) > float(rows[1]["elapsed_s"]) and first_elapsed > float(rows[1]["elapsed_s"])

    # A second trainer is kept out while the first holds the run.
    with run.lock():
        assert "is in use by another trainer (process" in train(run.root, "--dim", "6", "--generations", "4")[1]

    # Damaged settings, then none at all with another network than the checkpoint's.
    run.settings_path.write_text("{not json")
    with pytest.raises(SystemExit):
        train(run.root, "--dim", "6", "--generations", "4")
    assert f"{run.settings_path} cannot be read" in capsys.readouterr().err
    run.settings_path.unlink()
    code, err = train(run.root, "--dim", "6", "--generations", "4", "--channels", "16")
    assert code == 2 and "was trained with channels 8 (settings: 16)" in err and "settings.json is missing" in err
    assert run.generations() == [0, 1, 2, 3]


def test_atomic_writes_reach_the_disk_before_and_after_the_rename(tmp_path, monkeypatch):
    flushed = []
    real_fsync = os.fsync
    monkeypatch.setattr(run_directory.os, "fsync", lambda handle: flushed.append(os.readlink(f"/proc/self/fd/{handle}"))
                        or real_fsync(handle))
    target = tmp_path / "data.txt"
    run_directory.atomic_write(target, lambda path: path.write_text("complete"))
    assert target.read_text() == "complete" and len(flushed) == 2
    assert Path(flushed[0]).name.startswith(".data.txt.") and flushed[1] == str(tmp_path)
