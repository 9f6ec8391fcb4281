#!/usr/bin/env bash
# Seat-rotated parity and cross results of the fixed players at sides 8, 10
# (the default board) and 20 (the tables of docs/RESULTS.md). About an hour and a
# half on two cores.
#
#   bash benchmarks/fixed_players.sh [workers]
set -euo pipefail
workers=${1:-2}
eval_() { echo "\$ tavrin-eval $*"; tavrin-eval "$@" --workers "$workers" --quiet --seed 7; }

# Side 8: 400 games per pairing; fewer where rollout:512 fills three seats.
eval_ random --opponent random --opponent greedy --opponent rollout:64 --opponent rollout:512 --parity --dim 8 --games 400
eval_ greedy --opponent random --opponent rollout:64 --dim 8 --games 400
eval_ greedy --opponent rollout:512 --dim 8 --games 200
eval_ rollout:64 --opponent random --opponent greedy --dim 8 --games 400
eval_ rollout:64 --opponent rollout:512 --dim 8 --games 200
eval_ rollout:512 --opponent random --opponent greedy --opponent rollout:64 --dim 8 --games 200

# Side 10, the default board.
for player in random greedy rollout:64; do
  eval_ $player --opponent random --opponent greedy --opponent rollout:64 --opponent rollout:256 --dim 10 --games 200
done
eval_ rollout:256 --opponent random --opponent greedy --opponent rollout:64 --dim 10 --games 200

# Side 20: rollout players are costly on the full board, so fewer games.
eval_ random --opponent random --opponent greedy --parity --dim 20 --games 200
eval_ greedy --opponent random --dim 20 --games 200
eval_ rollout:64 --opponent random --opponent greedy --dim 20 --games 100
eval_ rollout:256 --opponent random --opponent greedy --dim 20 --games 100
# The higher rung the shipped network's clock line is measured against.
eval_ rollout:1024 --opponent random --opponent greedy --dim 20 --games 100
