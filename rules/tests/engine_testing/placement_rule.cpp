#include "engine_testing/placement_rule.hpp"

#include "engine/engine_texts.hpp"
#include "engine/internal_error.hpp"

namespace tavrin::testing {

bool is_valid_move(const Board& board, std::uint64_t player, const PieceVariant& variant, std::uint64_t position) {
  if (player >= kPlayers) throw InternalError(output::player_out_of_range("Board::is_valid_move", player));
  const std::uint64_t dim = board.dim();
  if (position + variant.mask.size() > board.cell_count()) return false;
  if (position % dim + variant.width > dim) return false;
  if (variant.offsets.empty()) return false;
  bool touches_corner = false;
  for (std::uint64_t offset : variant.offsets) {
    if (board.is_blocked(position + offset, player)) return false;
    touches_corner = touches_corner || board.is_corner(player, position + offset);
  }
  return touches_corner;
}

std::vector<std::uint64_t> corner_tiles(const Board& board, std::uint64_t player) {
  if (player >= kPlayers) throw InternalError(output::player_out_of_range("Board::corners", player));
  std::vector<std::uint64_t> tiles;
  const std::uint64_t* words = board.corner_words(player);
  for (std::uint64_t w = 0; w < board.words_per_plane(); ++w) {
    bits::for_each_bit(words[w], w * 64, [&](std::uint64_t tile) { tiles.push_back(tile); });
  }
  return tiles;
}

}  // namespace tavrin::testing
