#pragma once

#include <cstdint>

namespace tavrin {

// The settings of one exported-function call, read once from the caller's
// config object and never changed during the game.
struct Config {
  std::uint64_t dim = 0;            // board side of the training game and the game against random players
  std::uint64_t rep = 0;            // network input layout: 1 planes first, 2 planes last
  std::uint64_t sims_per_move = 0;  // simulations before each action of a training game
  std::uint64_t sample_moves = 0;   // actions are sampled while fewer than this many targets are recorded
  float c_puct = 0.0F;              // exploration constant of the selection score
  double dirichlet_alpha = 0.0;     // concentration of the root noise
  float exploration_fraction = 0.0F;  // weight of the root noise in the priors
};

}  // namespace tavrin
