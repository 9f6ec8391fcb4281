#pragma once

#include <cstdint>
#include <vector>

#include "engine/game.hpp"

namespace tavrin::players {

// Cells a placement would open as corners for `player`: diagonal to one of
// its squares, not covered by it, sharing no edge with it or with the
// player's squares, empty and on the board. Squares already laid for the
// piece count as part of the placement, so the count of a placement does not
// change while it is being laid.
std::uint32_t opened_corners(const Board& board, std::uint64_t player, const Placement& placement);

// The placements a greedy player picks among: of the placements still
// possible for the piece being laid, those of the largest piece, and of
// these the ones opening the most corners. Catalogue ids, ascending; empty
// once the game is over.
std::vector<std::uint32_t> greedy_placements(const Game& game);

}  // namespace tavrin::players
