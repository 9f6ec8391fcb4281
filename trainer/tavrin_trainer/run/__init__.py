"""One training run's settings and files: settings and flags, the run
directory and its atomic writes, metrics, plots, saved games, progress output
and Ctrl-C handling. Nothing here imports the layers above."""
