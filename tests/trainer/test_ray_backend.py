"""The Ray backend on a cluster of two one-CPU nodes on loopback: a run
writes what a local run writes; it survives a self-play actor or the learner
being killed midway without losing a game or a generation; actor groups move
work off dead actors and give up on ones that keep dying."""

import csv
import os
import threading
import time
import uuid
from dataclasses import dataclass

import pytest
from engine_marks import needs_engine

from tavrin_trainer.core.run_folder.run_directory import RunDirectory
from tavrin_trainer.core.settings.train_settings import TrainSettings
from tavrin_trainer.generation_loop import run_training
from tavrin_trainer.ray_backend import train_on_ray
from tavrin_trainer.ray_backend.faults import ActorFailure, RayBackendError
from tavrin_trainer.ray_backend.resources import plan_actors, reserve_learner_gpu

# Ray keeps a node on loopback only while it believes it runs on one machine
# (read when Ray is imported).
os.environ["RAY_ENABLE_WINDOWS_OR_OSX_CLUSTER"] = "0"
ray = pytest.importorskip("ray")
from ray.cluster_utils import Cluster  # noqa: E402
from ray.util.scheduling_strategies import PlacementGroupSchedulingStrategy  # noqa: E402

from tavrin_trainer.ray_backend.actor_group import MAX_DEATHS_IN_A_ROW, ActorGroup  # noqa: E402

TINY = dict(dim=6, channels=8, blocks=1, sims_per_move=4, games_per_generation=6, selfplay_processes=2,
            train_steps=3, train_batch_size=32, eval_random_games=4, eval_greedy_games=4, saved_games=2,
            time_limit_minutes=0, generations=3, warm_start_games=0)


@pytest.fixture(scope="module")
def two_nodes():
    cluster = Cluster(initialize_head=True, head_node_args={
        "num_cpus": 1, "node_ip_address": "127.0.0.1", "include_dashboard": False})
    cluster.add_node(num_cpus=1, node_ip_address="127.0.0.1")
    ray.init(address=cluster.address)
    cluster.wait_for_nodes()
    yield cluster
    ray.shutdown()
    cluster.shutdown()


def rows(run: RunDirectory) -> list[dict]:
    with open(run.metrics_path, newline="") as source:
        return list(csv.DictReader(source))


def files(run: RunDirectory) -> list[str]:
    return sorted(str(p.relative_to(run.root)) for p in run.root.rglob("*") if p.is_file())


def kill_when_recorded(run: RunDirectory, generation: int, role: str, killed: list[str]) -> None:
    """Kills the run's actor named ``...-{role}`` once the row of
    ``generation`` is written, as a crash would (Ray may restart it)."""
    deadline = time.monotonic() + 600
    while time.monotonic() < deadline:
        if run.metrics_path.exists() and any(int(r["generation"]) >= generation for r in rows(run)):
            name = next(n for n in ray.util.list_named_actors() if n.endswith(f"-{role}"))
            ray.kill(ray.get_actor(name), no_restart=False)
            killed.append(name)
            return
        time.sleep(0.05)


def train_while_killing(settings: TrainSettings, role: str) -> list[str]:
    killed: list[str] = []
    killer = threading.Thread(target=kill_when_recorded,
                              args=(RunDirectory(settings.run_dir), 1, role, killed), daemon=True)
    killer.start()
    assert train_on_ray(settings, show_progress=False) == settings.generations
    killer.join()
    assert killed, f"the {role} actor was never killed"
    return killed


@needs_engine
def test_a_ray_run_writes_the_files_and_columns_of_a_local_run(two_nodes, tmp_path):
    local, distributed = RunDirectory(tmp_path / "local"), RunDirectory(tmp_path / "ray")
    run_training(TrainSettings(run_dir=str(local.root), **TINY), show_progress=False)
    assert train_on_ray(TrainSettings(run_dir=str(distributed.root), backend="ray", **TINY),
                        show_progress=False) == 3

    assert files(distributed) == files(local)
    assert distributed.generations() == [0, 1, 2, 3]
    local_rows, ray_rows = rows(local), rows(distributed)
    assert list(ray_rows[0]) == list(local_rows[0])
    # The same columns filled in, generation by generation.
    assert [{k for k, v in r.items() if v} for r in ray_rows] == [{k for k, v in r.items() if v} for r in local_rows]
    for row in ray_rows[1:]:
        assert row["selfplay_games"] == "6" and int(row["selfplay_positions"]) > 0
        assert float(row["evaluations"]) > 0 and 0 < float(row["network_busy_fraction"]) <= 1
        assert row["replaced_processes"] == "0" and row["rejected_records"] == "0"
        assert row["vs_random_games"] == "4" and 0 <= float(row["vs_greedy_mean_payoff"]) <= 1


@needs_engine
def test_a_killed_selfplay_actor_is_replaced_and_its_games_are_played(two_nodes, tmp_path):
    # Longer self-play, so that the kill lands while games are being played:
    # every position asks the network, forced or seen before.
    settings = TrainSettings(run_dir=str(tmp_path / "run"), backend="ray",
                             **{**TINY, "games_per_generation": 16, "pool_games": 2, "sims_per_move": 8,
                                "evaluation_cache": 0, "skip_single_tile": False})
    train_while_killing(settings, "selfplay-0")

    recorded = rows(RunDirectory(settings.run_dir))
    assert [int(r["generation"]) for r in recorded] == [0, 1, 2, 3]
    assert all(r["selfplay_games"] == "16" for r in recorded[1:])
    assert sum(int(r["replaced_processes"]) for r in recorded[1:]) >= 1


@needs_engine
def test_a_killed_learner_is_replaced_by_one_that_resumes(two_nodes, tmp_path):
    run = RunDirectory(tmp_path / "run")
    settings = TrainSettings(run_dir=str(run.root), backend="ray", **{**TINY, "generations": 2})
    train_while_killing(settings, "learner-0")

    assert run.generations() == [0, 1, 2]
    recorded = rows(run)
    assert [int(r["generation"]) for r in recorded] == [0, 1, 2]
    assert all(r["selfplay_games"] == "6" for r in recorded[1:])
    assert int(recorded[-1]["buffer_positions"]) >= int(recorded[-1]["selfplay_positions"])


@dataclass
class Item:
    value: int
    finished: bool = False


def answers(group, items) -> dict[int, int]:
    results = {}
    for item, value in group.run(items, lambda actor, item: actor.double.remote(item.value), lambda item: item):
        item.finished = True
        results[item.value] = value
    return results


def test_actor_groups_move_work_off_dead_actors_and_give_up_on_crash_loops(two_nodes, tmp_path):
    @ray.remote(num_cpus=0, max_restarts=-1, max_task_retries=0)
    class Doubler:
        def __init__(self, crash: bool, crash_once: str = "") -> None:
            self.crash, self.incarnation = crash, uuid.uuid4().hex
            if crash_once and not os.path.exists(crash_once):
                open(crash_once, "w").close()
                self.crash = True

        def ready(self) -> str:
            return self.incarnation

        def double(self, value: int) -> tuple[str, int]:
            if self.crash:
                os._exit(1)
            return self.incarnation, 2 * value

    # An actor gone for good leaves its share to the one still up.
    healthy, gone = Doubler.remote(False), Doubler.remote(False)
    ray.kill(gone)
    assert answers(ActorGroup([gone, healthy], "test"), [Item(v) for v in range(5)]) == {v: 2 * v for v in range(5)}

    # A death is counted when it is seen, even if the run ends before the
    # restarted actor is up (nothing left to hand it).
    group = ActorGroup([Doubler.remote(False, str(tmp_path / "crashed"))], "test")
    assert list(group.run([Item(1)], lambda actor, item: actor.double.remote(item.value), lambda item: None)) == []
    assert group.replaced == 1
    ray.kill(group.actors[0])

    # One that dies on every call is restarted, counted, then given up on.
    group = ActorGroup([Doubler.remote(True)], "test")
    with pytest.raises(ActorFailure, match=f"test actor 0 died {MAX_DEATHS_IN_A_ROW + 1} times in a row"):
        answers(group, [Item(1)])
    assert group.replaced == MAX_DEATHS_IN_A_ROW
    ray.kill(healthy)
    ray.kill(group.actors[0])


def test_actor_plans_follow_the_cluster():
    cpu = TrainSettings()
    plan = plan_actors(cpu, {"CPU": 6.0}, {"CPU": 2.0})
    assert (plan.selfplay_device, plan.selfplay_actors, plan.selfplay_cpus, plan.evaluation_actors) == ("cpu", 6, 1, 6)
    # More self-play actors than CPUs share them instead of waiting for room forever.
    assert plan_actors(TrainSettings(selfplay_processes=8), {"CPU": 2.0}, {}).selfplay_cpus == 0.25

    # GPUs: one self-play actor each, the learner's shared with one of them.
    plan = plan_actors(cpu, {"CPU": 16.0, "GPU": 4.0}, {"CPU": 8.0, "GPU": 2.0})
    assert plan.selfplay_device == "cuda" and plan.selfplay_gpus == (1.0, 1.0, 1.0, 0.5)
    assert plan.learner_gpus == 0.5 and plan.evaluation_actors == 12
    # A learner on a node without a GPU leaves every GPU to self-play.
    assert plan_actors(cpu, {"CPU": 16.0, "GPU": 2.0}, {"CPU": 8.0}).selfplay_gpus == (1.0, 1.0)
    assert plan_actors(TrainSettings(device="cpu"), {"CPU": 4.0, "GPU": 2.0}, {}).selfplay_device == "cpu"
    with pytest.raises(RayBackendError, match="no GPU"):
        plan_actors(TrainSettings(device="cuda"), {"CPU": 4.0}, {})
    with pytest.raises(RayBackendError, match="that machine has no GPU"):
        plan_actors(TrainSettings(device="cuda"), {"CPU": 4.0, "GPU": 1.0}, {"CPU": 4.0})


def test_the_learner_s_gpu_is_reserved_on_its_machine_or_the_run_says_why(two_nodes):
    # The loopback nodes have no GPU: the wait ends with a message, not for ever.
    head = ray.get_runtime_context().get_node_id()
    with pytest.raises(RayBackendError, match="no GPU of the machine running tavrin-train came free within 1 s"):
        reserve_learner_gpu(head, 1.0, timeout_s=1)
    # A node with one (declared) GPU: the bundle holds the learner's half and the self-play actor's half.
    node = two_nodes.add_node(num_cpus=1, num_gpus=1, node_ip_address="127.0.0.1")
    try:
        group = reserve_learner_gpu(node.node_id, 1.0, timeout_s=60)
        @ray.remote
        class Holder:
            def where(self):
                return ray.get_runtime_context().get_node_id()

        inside = PlacementGroupSchedulingStrategy(group, placement_group_bundle_index=0)
        holders = [Holder.options(num_gpus=0.5, num_cpus=cpus, scheduling_strategy=inside).remote()
                   for cpus in (0, 1)]
        assert ray.get([h.where.remote() for h in holders], timeout=60) == [node.node_id] * 2
        for holder in holders:
            ray.kill(holder)
        ray.util.remove_placement_group(group)
    finally:
        two_nodes.remove_node(node)
