"""What the Ray backend raises when it cannot go on (no Ray import: the
command line catches these without loading Ray)."""


class RayBackendError(RuntimeError):
    """Training on Ray cannot go on; the last finished generation is kept."""


class ActorFailure(RayBackendError):
    """An actor keeps dying, or every actor of a kind is gone."""


class StopRequested(Exception):
    """The driver asked the learner to stop (Ctrl-C)."""
