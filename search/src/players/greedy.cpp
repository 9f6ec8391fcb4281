#include "players/greedy.hpp"

#include <algorithm>
#include <array>

namespace tavrin::players {
namespace {

bool shares_edge(std::uint64_t a, std::uint64_t b, std::uint64_t dim) {
  const std::uint64_t ra = a / dim, ca = a % dim, rb = b / dim, cb = b % dim;
  return (ra == rb && (ca + 1 == cb || cb + 1 == ca)) || (ca == cb && (ra + 1 == rb || rb + 1 == ra));
}

}  // namespace

std::uint32_t opened_corners(const Board& board, std::uint64_t player, const Placement& placement) {
  const auto dim = static_cast<std::int64_t>(board.dim());
  std::array<std::uint64_t, 20> opened{};
  std::uint32_t count = 0;
  for (std::uint16_t square : placement.squares()) {
    const std::int64_t row = square / dim, column = square % dim;
    for (const auto& [dr, dc] : {std::pair{-1, -1}, {-1, 1}, {1, -1}, {1, 1}}) {
      const std::int64_t r = row + dr, c = column + dc;
      if (r < 0 || r >= dim || c < 0 || c >= dim) continue;
      const auto cell = static_cast<std::uint64_t>(r * dim + c);
      // Blocked covers both occupied cells and cells beside the player's squares.
      if (placement.covers(cell) || board.is_blocked(cell, player)) continue;
      const auto squares = placement.squares();
      if (std::any_of(squares.begin(), squares.end(),
                      [&](std::uint16_t s) { return shares_edge(s, cell, board.dim()); })) {
        continue;
      }
      if (std::find(opened.begin(), opened.begin() + count, cell) == opened.begin() + count) opened[count++] = cell;
    }
  }
  return count;
}

std::vector<std::uint32_t> greedy_placements(const Game& game) {
  const Board& board = game.board();
  const Catalogue& catalogue = board.catalogue();
  std::vector<std::uint32_t> best;
  if (game.is_terminal()) return best;
  std::uint32_t best_size = 0, best_opened = 0;
  for (std::uint32_t id : game.piece_placements()) {
    const Placement& placement = catalogue.placement(id);
    if (placement.size < best_size) continue;
    const std::uint32_t opened = opened_corners(board, game.current_player(), placement);
    if (placement.size > best_size || opened > best_opened) {
      best.clear();
      best_size = placement.size;
      best_opened = opened;
    }
    if (opened == best_opened) best.push_back(id);
  }
  std::sort(best.begin(), best.end());
  return best;
}

}  // namespace tavrin::players
