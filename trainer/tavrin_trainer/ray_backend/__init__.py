"""Training across machines on a Ray cluster (``--backend ray``).

driver        connects (or starts a private cluster on loopback), starts the
              actors, keeps a learner running, handles Ctrl-C
resources     how many actors of each kind and what each asks for
learner       the generation loop of a local run, inside an actor
selfplay_*    self-play actors and the engine the learner reads them through
evaluation    evaluation actors and the evaluator built on them
actor_group   sharing out work among actors that may die and come back
weights       one checkpoint per generation through the object store
faults        what the backend raises

Only ``driver`` and what it loads import Ray; this module does not.
"""

from tavrin_trainer.ray_backend.driver import train_on_ray
from tavrin_trainer.ray_backend.faults import ActorFailure, RayBackendError

__all__ = ["ActorFailure", "RayBackendError", "train_on_ray"]
