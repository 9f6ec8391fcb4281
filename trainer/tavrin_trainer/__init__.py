"""Self-play trainer for the tavrin engine.

The engine modules play the games: ``tavrin_engine`` (the game as a Python
object, batched self-play pools, the fixed players' search) and
``tavrin_self_play`` (one game per call over a queue and a pipe). This package
runs the network, the self-play processes, the training loop, the seat-rotated
evaluation and ratings, and the run's outputs (checkpoints, metrics, plots,
board renderings).

Importing the package is cheap on purpose: worker processes import it and must
not pay for PyTorch, so only the modules that need torch import it.
"""

__version__ = "0.1.0"
