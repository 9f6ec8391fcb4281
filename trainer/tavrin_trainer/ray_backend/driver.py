"""The command's side of a Ray run: connect, start the actors, keep a
learner running until the run is done.

A learner that dies is replaced by a new one, which resumes from the last
checkpoint; one that dies again and again without finishing a generation
ends the run. Ctrl-C asks the learner to stop at its next safe point (at most
STOP_WAIT_S), then every actor is stopped; the last finished generation stays.
"""

from __future__ import annotations

import dataclasses
import os
import sys
import uuid
from contextlib import contextmanager
from pathlib import Path
from typing import Any, Iterator

from tavrin_trainer.core.cpus import usable_cpu_count
from tavrin_trainer.core.run_folder.run_directory import RunDirectory
from tavrin_trainer.core.progress import bars_wanted, say
from tavrin_trainer.core.settings.train_settings import TrainSettings
from tavrin_trainer.ray_backend.faults import ActorFailure, RayBackendError
from tavrin_trainer.ray_backend.resources import plan_actors, reserve_learner_gpu
from tavrin_trainer.selfplay.engines import pool_worker_options

# Ray is optional (the ray extra): train_on_ray says how to install it when it
# is missing, so Ray, and the actor modules that import it, load only after that.

# Learner deaths in a row, with no generation finished in between, before giving up.
MAX_LEARNER_DEATHS = 3
# How long a stopping learner may take to reach a safe point.
STOP_WAIT_S = 30.0
# How long a new learner may take to start (its process, its imports).
LEARNER_START_S = 300.0


def train_on_ray(settings: TrainSettings, show_progress: bool = True) -> int:
    """Trains on the cluster at ``settings.ray_address`` (empty: a private
    one on this machine) and answers the last generation."""
    if settings.ray_address.startswith("ray://"):
        raise RayBackendError("--ray-address: run tavrin-train on a machine of the cluster (address auto or "
                              "HOST:PORT); the run directory is written where it runs, which a ray:// client "
                              "is not")
    if settings.engine != "pool":
        raise RayBackendError("--backend ray plays with the pool engine; leave out --engine module")
    try:
        import ray  # noqa: F401
    except ImportError as missing:
        raise RayBackendError('--backend ray needs Ray: pip install ".[ray]"') from missing
    # The learner may start in another working directory.
    settings = dataclasses.replace(settings, run_dir=str(Path(settings.run_dir).resolve()))
    with connected(settings.ray_address):
        return _train(settings, show_progress)


@contextmanager
def connected(address: str) -> Iterator[None]:
    """Joins the cluster at ``address``, or starts a private one bound to
    loopback; leaves a connection the caller made alone."""
    import ray

    if ray.is_initialized():
        yield
        return
    if address:
        ray.init(address=address)
    else:
        _start_private_cluster()
    try:
        yield
    finally:
        ray.shutdown()


def _start_private_cluster() -> None:
    import ray

    # Ray swaps a loopback node address for the machine's own unless it
    # believes it runs on a single machine; then every server binds to loopback.
    switch = "RAY_ENABLE_WINDOWS_OR_OSX_CLUSTER"
    before = os.environ.get(switch)
    os.environ[switch] = "0"
    constants = sys.modules.get("ray._private.ray_constants")
    previous = getattr(constants, "ENABLE_RAY_CLUSTER", None)
    if constants is not None:
        constants.ENABLE_RAY_CLUSTER = False
    try:
        ray.init(num_cpus=usable_cpu_count(), include_dashboard=False, _node_ip_address="127.0.0.1")
    finally:
        if before is None:
            os.environ.pop(switch, None)
        else:
            os.environ[switch] = before
        if constants is not None:
            constants.ENABLE_RAY_CLUSTER = previous
    address = ray.util.get_node_ip_address()
    if address != "127.0.0.1":
        ray.shutdown()
        raise RayBackendError(f"the private Ray cluster came up on {address}, not on loopback; "
                              f"start one yourself and pass --ray-address")


def _learner_node() -> tuple[str, dict[str, float]]:
    import ray

    node_id = ray.get_runtime_context().get_node_id()
    resources = next((node["Resources"] for node in ray.nodes() if node["NodeID"] == node_id), {})
    return node_id, resources


def _train(settings: TrainSettings, show_progress: bool) -> int:
    import ray
    from ray.util.placement_group import remove_placement_group
    from ray.util.scheduling_strategies import NodeAffinitySchedulingStrategy, PlacementGroupSchedulingStrategy

    from tavrin_trainer.ray_backend.evaluation_actors import EvaluationActor
    from tavrin_trainer.ray_backend.learner import Learner
    from tavrin_trainer.ray_backend.selfplay_actor import SelfPlayActor

    node_id, node_resources = _learner_node()
    plan = plan_actors(settings, ray.cluster_resources(), node_resources)
    say(plan.describe(), show_progress)
    run_name = f"tavrin-{uuid.uuid4().hex[:8]}"
    options = pool_worker_options(settings, plan.selfplay_device, processes=1, search_threads=1)

    # The learner's GPU, shared with the last self-play actor, is reserved first.
    shared_gpu = reserve_learner_gpu(node_id, plan.selfplay_cpus) if plan.learner_gpus else None
    in_shared_gpu = PlacementGroupSchedulingStrategy(shared_gpu, placement_group_bundle_index=0) if shared_gpu else None
    selfplay = [SelfPlayActor.options(name=f"{run_name}-selfplay-{i}", num_cpus=plan.selfplay_cpus,
                                      num_gpus=gpus, max_restarts=-1, max_task_retries=0,
                                      scheduling_strategy=in_shared_gpu if in_shared_gpu and gpus < 1 else "SPREAD"
                                      ).remote(options)
                for i, gpus in enumerate(plan.selfplay_gpus)]
    evaluation = [EvaluationActor.options(name=f"{run_name}-evaluation-{i}", num_cpus=0, max_restarts=-1,
                                          max_task_retries=0, scheduling_strategy="SPREAD").remote()
                  for i in range(plan.evaluation_actors)]
    here = in_shared_gpu or NodeAffinitySchedulingStrategy(node_id, soft=False)
    run = RunDirectory(settings.run_dir)
    learners: list[Any] = []
    try:
        deaths, last = 0, run.latest_generation()
        # On a terminal the actors' bars travel to the driver as Ray's own and
        # the learner draws none (plain ones would garble the output); in a log
        # the learner writes a line per stage, as a local run does.
        driver_draws_bars = show_progress and bars_wanted()
        learner_env = {"TQDM_DISABLE": "1"} if driver_draws_bars else {}
        while True:
            learner = Learner.options(
                name=f"{run_name}-learner-{len(learners)}", num_cpus=0, num_gpus=plan.learner_gpus,
                max_restarts=0, scheduling_strategy=here,
                runtime_env={"env_vars": learner_env},
            ).remote(settings, show_progress, selfplay, evaluation, driver_draws_bars)
            learners.append(learner)
            try:
                return _wait_for(learner)
            except ray.exceptions.RayActorError as death:
                latest = run.latest_generation()
                deaths = 1 if latest != last else deaths + 1
                last = latest
                if deaths > MAX_LEARNER_DEATHS:
                    raise ActorFailure(f"the learner died {deaths} times without finishing a generation; the "
                                       f"last time: {str(death).splitlines()[0]}") from death
                say(f"the learner died ({str(death).splitlines()[0]}); a new one resumes from generation "
                    f"{latest}", show_progress)
    finally:
        for actor in learners + selfplay + evaluation:
            ray.kill(actor)
        if shared_gpu is not None:
            remove_placement_group(shared_gpu)


def _wait_for(learner: Any) -> int:
    import ray

    try:
        ray.get(learner.ready.remote(), timeout=LEARNER_START_S)
    except ray.exceptions.GetTimeoutError:
        raise RayBackendError(f"the learner did not start within {LEARNER_START_S:.0f} s: the machine running "
                              f"tavrin-train has no room for it (see ray status)") from None
    train = learner.train.remote()
    try:
        return ray.get(train)
    except KeyboardInterrupt:
        learner.stop.remote()
        try:
            ray.get(train, timeout=STOP_WAIT_S)
        except Exception:  # stopped or timed out: the actors are killed next either way
            pass
        raise
