#pragma once

#include <cstdint>

namespace tavrin {

// How a node picks the child to descend into.
enum class SelectionRule : std::uint8_t {
  kPuct,  // prior-weighted PUCT with c_puct (the module's rule)
  // UCB1 with c_puct as its exploration constant: unvisited children first,
  // uniformly at random, equal scores broken at random; the action played is
  // the most visited, ties to the lower tile. Priors are not read.
  kUcb1,
};

}  // namespace tavrin
