"""The trainer's bottom layer, shared by every layer above: one run's settings
and flags, what one search reads, the inference backends, the bounds checked
before the engine sees a value, player names that settings hold, the CPUs a
process may use, the run directory and its atomic writes, metrics, plots,
saved games, progress output and Ctrl-C handling. Nothing here imports the
layers above."""
