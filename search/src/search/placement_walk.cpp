#include "search/placement_walk.hpp"

#include <algorithm>

#include "engine/internal_error.hpp"
#include "search/search_texts.hpp"

namespace tavrin {
namespace {

void walk(const SearchNode& node, const Game& position, std::vector<std::uint16_t>& laid,
          std::vector<PlacementVisits>& found) {
  for (const SearchNode& child : node.children) {
    if (child.visit_count == 0) continue;
    Game next = position;
    if (next.apply(child.action)) throw InternalError(output::kMissingChild);
    laid.push_back(static_cast<std::uint16_t>(child.action));
    // The piece is down once nothing is left half laid (the next player, or the same one
    // again when the others are out, starts a fresh piece).
    if (next.chosen_squares().empty()) {
      std::vector<std::uint16_t> squares = laid;
      std::sort(squares.begin(), squares.end());
      auto same = std::find_if(found.begin(), found.end(), [&](const auto& p) { return p.squares == squares; });
      if (same == found.end()) same = found.insert(found.end(), PlacementVisits{std::move(squares), 0, 0.0F});
      same->visits += child.visit_count;
      same->value_sum += child.value_sum;
    } else {
      walk(child, next, laid, found);
    }
    laid.pop_back();
  }
}

}  // namespace

std::vector<PlacementVisits> placement_visits(const SearchNode& root, const Game& game) {
  std::vector<std::uint16_t> laid(game.chosen_squares().begin(), game.chosen_squares().end());
  std::vector<PlacementVisits> found;
  walk(root, game, laid, found);
  std::sort(found.begin(), found.end(), [](const PlacementVisits& a, const PlacementVisits& b) {
    return a.visits != b.visits ? a.visits > b.visits : a.squares < b.squares;
  });
  return found;
}

}  // namespace tavrin
