import os
import signal
import time
from pathlib import Path
from types import SimpleNamespace

import pytest
from engine_marks import ENGINES, needs_engine

from tavrin_trainer.core.run_folder.run_directory import save_checkpoint
from tavrin_trainer.selfplay.server_engine.supervisor import Cluster, ClusterFailure, ClusterOptions
from tavrin_trainer.selfplay.server_engine.inference_server import ServerOptions
from tavrin_trainer.learning.network import NetworkShape, TavrinNet
from tavrin_trainer.core.settings.train_settings import TrainSettings
from tavrin_trainer.selfplay.server_engine.game_worker import SELF_PLAY

DIM = 6


def cluster(tmp_path: Path, engine: str, workers: int = 2) -> Cluster:
    save_checkpoint(tmp_path / "model.pt", {"model": TavrinNet(NetworkShape(8, 1)).state_dict()})
    options = ClusterOptions(workers=workers, log_dir=tmp_path / "logs", engine_module=engine,
                             server=ServerOptions(channels=8, blocks=1, rep=1, batch_size=workers,
                                                  wait_s=0.001, threads=1))
    return Cluster(options, {"model": tmp_path / "model.pt"})


def config(**changes):
    return TrainSettings(dim=DIM, sims_per_move=4, **changes).search_settings()


@pytest.mark.parametrize("engine", ENGINES)
def test_self_play_games_come_back_as_records(tmp_path, engine):
    with cluster(tmp_path, engine) as running:
        results = list(running.run(SELF_PLAY, [config()] * 3))
    assert len(results) == 3 and {r.worker_id for r in results} <= {0, 1}
    for result in results:
        moves, policies, payoffs = result.payload
        assert len(moves) == len(policies) > 0 and len(payoffs) == 4


def kill_during_run(running: Cluster, victim_pid) -> None:
    for count, _ in enumerate(running.run(SELF_PLAY, [config()] * 200)):
        if count == 1:
            os.kill(victim_pid(running), signal.SIGKILL)


@pytest.mark.parametrize("engine", ENGINES)
def test_a_dead_worker_stops_the_cluster_with_its_name(tmp_path, engine):
    started = time.monotonic()
    with pytest.raises(ClusterFailure, match=r"worker 1 exited with code -9"):
        with cluster(tmp_path, engine) as running:
            kill_during_run(running, lambda c: c.workers[1].pid)
    assert time.monotonic() - started < 60


@pytest.mark.parametrize("engine", ENGINES)
def test_a_dead_server_stops_the_cluster_instead_of_hanging_its_workers(tmp_path, engine):
    with pytest.raises(ClusterFailure, match=r"inference server 'model' exited with code -9"):
        with cluster(tmp_path, engine) as running:
            kill_during_run(running, lambda c: c.servers["model"].process.pid)
    # The workers were mid-game when the server died: each must have got an error, not hung.
    logs = [(tmp_path / "logs" / f"worker-{i}.log").read_text() for i in range(2)]
    assert any("has stopped" in log for log in logs)


@needs_engine
def test_a_game_the_engine_cannot_play_is_reported_with_the_engine_error(tmp_path):
    with pytest.raises(ClusterFailure, match=r"could not finish a self-play game: .*"):
        with cluster(tmp_path, "tavrin_self_play") as running:
            list(running.run(SELF_PLAY, [config(dirichlet_alpha=1.0)] * 1 + [_bad_alpha()]))


def _bad_alpha():
    # SearchSettings refuses it; the module reads any object, and aborts the game with an internal error.
    module_fields = ("dim", "rep", "sims_per_move", "sample_moves", "c_puct", "exploration_fraction")
    return SimpleNamespace(**{name: getattr(config(), name) for name in module_fields}, dirichlet_alpha=0.0)


def test_a_missing_engine_module_is_named_before_anything_starts(tmp_path):
    with pytest.raises(ClusterFailure, match="no_such_engine is not installed"):
        cluster(tmp_path, "no_such_engine").start()
