#!/usr/bin/env bash
# Sets up a fresh machine and runs the built-in default training job: a small
# board and network on the CPU, nine to ten minutes on two cores (ten at most),
# each generation scored against random and greedy players. Extra arguments
# go to tavrin-train (see --help).
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh
python3 -m pip install -q --no-build-isolation ".[train]"
exec tavrin-train "$@"
