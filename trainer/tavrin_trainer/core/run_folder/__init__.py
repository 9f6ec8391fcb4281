"""What a run leaves on disk: the run directory with its lock, checkpoints and
atomic writes (``run_directory``), the metrics table and the saved games."""
