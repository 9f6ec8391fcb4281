"""Self-play trainer for the tavrin engine.

The engine module ``tavrin_self_play`` plays the games; this package runs the
network (an inference server process), the self-play workers, the training
loop, the evaluation games and the run's outputs (checkpoints, metrics, plots,
board renderings).

Importing the package is cheap on purpose: worker processes import it and must
not pay for PyTorch, so only the modules that need torch import it.
"""

__version__ = "0.1.0"
