"""The smallest board the trainer plays, and the inference backends a
setting may name. Every other bound the trainer
checks flags against is the engine's own, read from ``tavrin_engine``
(MAX_SIDE, MAX_PLAYOUTS, MAX_GUMBEL_CANDIDATES, MAX_OPENING_SAMPLE_ACTIONS,
MAX_EVALUATION_CACHE)."""

# The longest piece (five squares in a row) must fit; the engine itself
# accepts sides from tavrin_engine.MIN_SIDE.
MIN_SIDE = 5

# What --inference may name; learning.inference tells what each runs as.
INFERENCE_BACKENDS = ("auto", "fp32", "bf16", "onnx")
