#pragma once

#include <cstddef>
#include <span>

#include "engine/game.hpp"
#include "search/search_node.hpp"

namespace tavrin::testing {

// Number of nodes in the tree below and including `node`.
inline std::size_t count_nodes(const SearchNode& node) {
  std::size_t total = 1;
  for (const SearchNode& child : node.children) total += count_nodes(child);
  return total;
}

// Gives `node` the player to move in `game` and a child per legal tile whose
// prior (parallel to the legal tiles) is positive; no value estimate.
inline void expand_with_priors(SearchNode& node, const Game& game, std::span<const float> priors) {
  expand(node, game.current_player(), game.get_legal_tiles(), priors);
}

}  // namespace tavrin::testing
