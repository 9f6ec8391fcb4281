#pragma once

#include <compare>
#include <cstdint>
#include <map>
#include <set>

#include "engine/game.hpp"

namespace tavrin::testing {

// A whole-piece placement as the rules name it: the piece's index in the
// player's current hand, the orientation's index in the piece's variants, and
// the tile under the orientation's top-left matrix entry.
struct PlacementKey {
  std::uint64_t piece_index = 0;
  std::uint64_t variant_index = 0;
  std::uint64_t position = 0;
  auto operator<=>(const PlacementKey&) const = default;
};

// Tile -> the placements covering it (never an empty set).
using TileMoveMap = std::map<std::uint64_t, std::set<PlacementKey>>;

// Every legal placement of every piece in `player`'s hand, indexed by the
// tiles it covers, found afresh from the corners. An empty map means the
// player cannot move.
TileMoveMap get_tile_moves(const Board& board, std::uint64_t player);

// The placements the game still holds for the piece being laid, keyed by
// every tile that would extend the squares chosen so far.
TileMoveMap tile_moves(const Game& game);

}  // namespace tavrin::testing
