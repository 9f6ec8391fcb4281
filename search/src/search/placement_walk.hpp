#pragma once

#include <cstdint>
#include <vector>

#include "engine/game.hpp"
#include "search/search_node.hpp"

namespace tavrin {

// One whole placement the search tried from its root: its squares
// (ascending, the squares already laid for the piece included), the
// simulations that completed it and the sum of their values for the player
// placing it. The search goes square by square, so the orders that lay the
// same squares are merged into one placement.
struct PlacementVisits {
  std::vector<std::uint16_t> squares;
  std::uint32_t visits = 0;
  float value_sum = 0.0F;
};

// The placements of the player to move in `game` that the searched `root`
// went through, most visited first (ties: ascending squares). Only visited
// nodes are walked, at most one piece deep.
std::vector<PlacementVisits> placement_visits(const SearchNode& root, const Game& game);

}  // namespace tavrin
