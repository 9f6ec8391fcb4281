"""The trainer's bottom layer, shared by every layer above: one run's settings
and flags, the run directory and its atomic writes, metrics, plots, saved
games, progress output and Ctrl-C handling. Nothing here imports the layers above."""
