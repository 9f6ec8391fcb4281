#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace tavrin {

// One position of the search tree. Children are kept in ascending action
// order in one contiguous vector; that order is the enumeration order for the
// root noise, the visit distribution and the policy record.
struct SearchNode {
  std::vector<SearchNode> children;
  float value_sum = 0.0F;
  float prior = 0.0F;  // network probability of the action leading here
  // The network's value of this position for `player`, written on expansion
  // by the batched search (the module's search never reads it).
  float value_estimate = 0.0F;
  std::uint32_t visit_count = 0;
  std::uint32_t action = 0;  // tile leading here from the parent
  std::uint8_t player = 0;   // player to move here, written on expansion

  bool is_expanded() const { return !children.empty(); }
  // The child reached by `action`, or nullptr.
  SearchNode* find_child(std::uint64_t action);
};

// Gives `node` the player to move and one child per tile whose probability is
// positive (NaN is not). `tiles` ascending, `probabilities` parallel to it. A
// child already present under one of those tiles is replaced with a fresh
// one; children under other tiles stay.
void expand(SearchNode& node, std::uint64_t player, std::span<const std::uint64_t> tiles,
            std::span<const float> probabilities);

}  // namespace tavrin
