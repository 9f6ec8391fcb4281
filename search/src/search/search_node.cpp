#include "search/search_node.hpp"

#include <algorithm>
#include <utility>

namespace tavrin {

SearchNode* SearchNode::find_child(std::uint64_t wanted) {
  auto it = std::lower_bound(children.begin(), children.end(), wanted,
                             [](const SearchNode& child, std::uint64_t a) { return child.action < a; });
  return it != children.end() && it->action == wanted ? &*it : nullptr;
}

namespace {

SearchNode fresh_child(std::uint64_t tile, float probability) {
  SearchNode child;
  child.action = static_cast<std::uint32_t>(tile);
  child.prior = probability;
  return child;
}

}  // namespace

void expand(SearchNode& node, std::uint64_t player, std::span<const std::uint64_t> tiles,
            std::span<const float> probabilities) {
  node.player = static_cast<std::uint8_t>(player);
  if (node.children.empty()) {
    const auto positive = static_cast<std::size_t>(std::count_if(probabilities.begin(), probabilities.end(),
                                                                 [](float p) { return p > 0.0F; }));
    node.children.reserve(positive);
    for (std::size_t k = 0; k < tiles.size(); ++k) {
      if (probabilities[k] > 0.0F) node.children.push_back(fresh_child(tiles[k], probabilities[k]));
    }
    return;
  }
  // Re-expansion: merge the fresh children into the existing ascending list.
  std::vector<SearchNode> merged;
  merged.reserve(node.children.size() + tiles.size());
  auto old = node.children.begin();
  for (std::size_t k = 0; k < tiles.size(); ++k) {
    if (!(probabilities[k] > 0.0F)) continue;
    while (old != node.children.end() && old->action < tiles[k]) merged.push_back(std::move(*old++));
    if (old != node.children.end() && old->action == tiles[k]) ++old;  // replaced, subtree dropped
    merged.push_back(fresh_child(tiles[k], probabilities[k]));
  }
  while (old != node.children.end()) merged.push_back(std::move(*old++));
  node.children = std::move(merged);
}

}  // namespace tavrin
