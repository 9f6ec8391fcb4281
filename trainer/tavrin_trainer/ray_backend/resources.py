"""How many actors of each kind, and what each asks of the cluster.

* Self-play: one actor per GPU (the learner's GPU is shared with one of them),
  or, on a cluster without GPUs (or with --device cpu), one per CPU, or
  --selfplay-processes of them sharing the CPUs.
* Evaluation: one actor per CPU not taken by a GPU's self-play actor (at most
  MAX_EVALUATION_ACTORS). They ask for no CPU: they play while the self-play
  actors wait for the next generation, so both can hold every core.
* Learner: no CPU of its own either (it trains while the others wait), half
  a GPU when its node has one. It runs on the driver's node, where the run
  directory is.
"""

from __future__ import annotations

from dataclasses import dataclass

from tavrin_trainer.ray_backend.faults import RayBackendError
from tavrin_trainer.core.settings.train_settings import TrainSettings

MAX_EVALUATION_ACTORS = 64


@dataclass(frozen=True)
class ActorPlan:
    selfplay_device: str
    selfplay_cpus: float  # each
    selfplay_gpus: tuple[float, ...]  # one entry per self-play actor
    evaluation_actors: int
    learner_gpus: float

    @property
    def selfplay_actors(self) -> int:
        return len(self.selfplay_gpus)

    def describe(self) -> str:
        where = "one per GPU" if self.selfplay_device.startswith("cuda") else f"{self.selfplay_cpus:g} CPU each"
        learner = "half a GPU" if self.learner_gpus else "the CPUs of its node"
        return (f"Ray: {self.selfplay_actors} self-play actor(s) ({where}), {self.evaluation_actors} evaluation "
                f"actor(s), a learner training on {learner}")


def plan_actors(settings: TrainSettings, cluster: dict[str, float], learner_node: dict[str, float]) -> ActorPlan:
    """``cluster``: ``ray.cluster_resources()``; ``learner_node``: the
    resources of the node the learner runs on."""
    cpus = cluster.get("CPU", 0.0)
    gpus = int(cluster.get("GPU", 0.0)) if settings.device != "cpu" else 0
    if settings.device == "cuda" and not gpus:
        raise RayBackendError("--device cuda: the Ray cluster has no GPU")
    if cpus < 1:
        raise RayBackendError(f"the Ray cluster offers {cpus:g} CPUs; self-play needs at least one")
    if gpus:
        learner_gpus = 0.5 if learner_node.get("GPU", 0.0) >= 1 else 0.0
        if settings.device == "cuda" and not learner_gpus:
            raise RayBackendError("--device cuda: the learner trains where tavrin-train runs, and that machine "
                                  "has no GPU; start it on one that has")
        # The GPU the learner takes half of hosts a self-play actor asking for the other half.
        shares = (1.0,) * (gpus - 1) + ((0.5,) if learner_gpus else (1.0,))
        evaluation = max(1, min(MAX_EVALUATION_ACTORS, int(cpus) - gpus))
        return ActorPlan("cuda", 1.0, shares, evaluation, learner_gpus)
    actors = settings.selfplay_processes or int(cpus)
    evaluation = max(1, min(MAX_EVALUATION_ACTORS, int(cpus)))
    return ActorPlan("cpu", min(1.0, cpus / actors), (0.0,) * actors, evaluation, 0.0)


# How long the learner's GPU may take to come free before the run gives up.
PLACEMENT_WAIT_S = 300.0
# The label Ray gives every node: its id.
NODE_ID_LABEL = "ray.io/node-id"


def reserve_learner_gpu(node_id: str, selfplay_cpus: float, timeout_s: float = PLACEMENT_WAIT_S):
    """A placement group of one bundle on the learner's node: a whole GPU,
    for the learner and the self-play actor sharing it, and that actor's
    CPUs. Reserved before any other self-play actor is created, so none of
    them can take that GPU first and leave the learner pending."""
    # Ray here, not at import: the driver imports this module before it has
    # checked that Ray is installed.
    import ray
    from ray.util.placement_group import placement_group, remove_placement_group

    group = placement_group([{"GPU": 1.0, "CPU": selfplay_cpus}], strategy="STRICT_PACK",
                            bundle_label_selector=[{NODE_ID_LABEL: node_id}])
    try:
        ray.get(group.ready(), timeout=timeout_s)
    except ray.exceptions.GetTimeoutError:
        remove_placement_group(group)
        raise RayBackendError(f"no GPU of the machine running tavrin-train came free within {timeout_s:.0f} s for "
                              f"the learner and the self-play actor sharing it; free one there, or pass --device "
                              f"cpu") from None
    return group
