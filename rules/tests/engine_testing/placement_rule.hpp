#pragma once

#include <cstdint>
#include <vector>

#include "engine/board.hpp"

namespace tavrin::testing {

// The placement rule checked square by square, as the rules state it: the
// orientation fits the board at `position`, covers no cell blocked for
// `player` and covers one of the player's corner cells. The reference for the
// engine's cover patterns; a player past 3 is an internal error.
bool is_valid_move(const Board& board, std::uint64_t player, const PieceVariant& variant, std::uint64_t position);

// The corner cells of `player`, ascending; a player past 3 is an internal error.
std::vector<std::uint64_t> corner_tiles(const Board& board, std::uint64_t player);

}  // namespace tavrin::testing
