#pragma once

#include <optional>
#include <set>
#include <string>
#include <vector>

#include "engine/game.hpp"
#include "engine_testing/tile_moves.hpp"

namespace tavrin::testing {

// Follows a game action by action and recomputes from scratch what the engine
// maintains incrementally: blocked bits and corner sets from the cells, the
// legal placements from the hands by trying every orientation at every
// position, narrowed by the squares already chosen for the piece being laid.
class ReferenceChecker {
 public:
  explicit ReferenceChecker(const Game& game);

  // Checks the current position; the text describes the first mismatch.
  std::optional<std::string> check(const Game& game) const;
  // Records a successfully applied tile, then checks the new position.
  std::optional<std::string> after_apply(const Game& game, std::uint64_t tile);
  // Describes the first observable difference between two games, if any.
  static std::optional<std::string> difference(const Game& a, const Game& b);
  // Checks the record of a finished game.
  static std::optional<std::string> check_finished(const Game& game);

 private:
  Game piece_start_;
  std::set<PlacementKey> start_placements_;
  std::vector<std::uint64_t> chosen_;
};

std::set<PlacementKey> placements_by_brute_force(const Board& board, std::uint64_t player);

}  // namespace tavrin::testing
