#include "engine_testing/tile_moves.hpp"

#include <string>
#include <vector>

#include "engine/internal_error.hpp"
#include "engine_testing/placement_rule.hpp"

namespace tavrin::testing {

TileMoveMap get_tile_moves(const Board& board, std::uint64_t player) {
  if (player >= kPlayers) {
    throw InternalError("get_tile_moves: index out of range: player " + std::to_string(player));
  }
  const Catalogue& catalogue = board.catalogue();
  const Hand hand = board.hand(player);
  const std::vector<std::uint64_t> corners = corner_tiles(board, player);
  TileMoveMap moves;
  for (std::size_t index = 0; index < hand.size(); ++index) {
    const std::uint8_t piece = hand.id_at(index);
    for (std::uint64_t corner : corners) {
      const Window blocked = board.get_blocked_window(player, corner);
      for (const CoverPattern& pattern : catalogue.cover_patterns(piece)) {
        if ((pattern.squares & blocked) != 0) continue;
        const Placement& placement = catalogue.placement(catalogue.placement_at(pattern.variant_slot, corner - pattern.offset));
        const PlacementKey key{index, placement.variant, placement.position};
        for (std::uint16_t tile : placement.squares()) moves[tile].insert(key);
      }
    }
  }
  return moves;
}

TileMoveMap tile_moves(const Game& game) {
  const Catalogue& catalogue = game.board().catalogue();
  const Hand hand = game.board().hand(game.current_player());
  TileMoveMap moves;
  for (std::uint32_t id : game.piece_placements()) {
    const Placement& placement = catalogue.placement(id);
    const PlacementKey key{hand.index_of(placement.piece), placement.variant, placement.position};
    for (std::uint16_t tile : placement.squares()) {
      if (game.is_legal(tile)) moves[tile].insert(key);
    }
  }
  return moves;
}

}  // namespace tavrin::testing
