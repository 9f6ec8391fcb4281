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

from tavrin_trainer.run.directory import RunDirectory, load_checkpoint, save_checkpoint

pytestmark = needs_engine


def test_a_dead_self_play_process_is_replaced_and_counted(tmp_path, monkeypatch):
    from tavrin_trainer import generation_loop

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
    from tavrin_trainer.learning.network import NetworkShape, TavrinNet
    from tavrin_trainer.selfplay.pool_processes import PoolWorkerOptions, PoolWorkers, SelfPlayFailure

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
                assert all(stored[name].shape is not None for name in stored.files)
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
