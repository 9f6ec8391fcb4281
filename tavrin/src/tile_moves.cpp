#include "tile_moves.hpp"

#include <string>
#include <vector>

#include "internal_error.hpp"

namespace tavrin {

TileMoveMap get_tile_moves(const Board& board, std::uint64_t player) {
  if (player >= kPlayers) {
    throw InternalError("get_tile_moves: index out of range: player " + std::to_string(player));
  }
  const Catalogue& catalogue = board.catalogue();
  const Hand hand = board.hand(player);
  const std::vector<std::uint64_t> corners = board.corners(player);
  TileMoveMap moves;
  for (std::size_t index = 0; index < hand.size(); ++index) {
    const std::uint8_t piece = hand.id_at(index);
    for (std::uint64_t corner : corners) {
      for (std::uint32_t id : catalogue.covering(corner, piece)) {
        const Placement& placement = catalogue.placement(id);
        bool legal = true;
        for (std::uint16_t tile : placement.squares()) legal = legal && !board.is_blocked(tile, player);
        if (!legal) continue;
        const PlacementKey key{index, placement.variant, placement.position};
        for (std::uint16_t tile : placement.squares()) moves[tile].insert(key);
      }
    }
  }
  return moves;
}

}  // namespace tavrin
