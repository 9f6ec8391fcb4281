"""The trainer's bottom layer, shared by every layer above: ``settings/`` (one
run's settings and flags, what one search reads, the names and bounds a
setting may hold), ``run_folder/`` (the run directory and its atomic writes,
metrics, saved games), ``pictures/`` (plots and board drawings), and the
process's own concerns: the CPUs it may use, progress output and Ctrl-C.
Nothing here imports the layers above."""
