#include <string>

#include "engine/catalogue.hpp"
#include "engine/game.hpp"
#include "engine/pieces.hpp"
#include "selfplay/self_play_options.hpp"
#include "tavrin_engine/bindings.hpp"

namespace tavrin::engine_bindings {
namespace {

using namespace nb::literals;

nb::list piece_shape(std::int64_t piece) {
  if (piece < 0 || piece >= static_cast<std::int64_t>(kPieceCount)) {
    throw nb::value_error(("piece must be 0 to " + std::to_string(kPieceCount - 1) + ", got " +
                           std::to_string(piece)).c_str());
  }
  const CellMatrix matrix = catalogue_matrix(static_cast<std::uint8_t>(piece));
  nb::list squares;
  for (std::size_t row = 0; row < matrix.size(); ++row) {
    for (std::size_t column = 0; column < matrix[row].size(); ++column) {
      if (matrix[row][column]) squares.append(nb::make_tuple(row, column));
    }
  }
  return squares;
}

}  // namespace

void bind_constants(nb::module_& module) {
  module.attr("PLAYERS") = kPlayers;
  module.attr("PIECES") = kPieceCount;
  module.attr("STATE_PLANES") = kStatePlanes;
  module.attr("EXTENDED_BOARD_PLANES") = kExtendedBoardPlanes;
  module.attr("HAND_PLANES") = kHandPlanes;
  module.attr("EXTENDED_STATE_PLANES") = kExtendedStatePlanes;
  module.attr("MIN_SIDE") = kMinSide;
  module.attr("MAX_SIDE") = kMaxSide;
  // The bounds of a pool's settings, for callers that check flags up front.
  module.attr("MAX_PLAYOUTS") = kMaxPlayoutsPerLeaf;
  module.attr("MAX_LEAF_BATCH") = kMaxLeafBatch;
  module.attr("MAX_GUMBEL_CANDIDATES") = kMaxGumbelCandidates;
  module.attr("MAX_OPENING_SAMPLE_ACTIONS") = kMaxOpeningSampleActions;
  module.attr("MAX_EVALUATION_CACHE") = kMaxEvaluationCacheEntries;
  module.def("piece_shape", &piece_shape, "piece"_a, nb::sig("def piece_shape(piece: int) -> list[tuple[int, int]]"),
             "The squares of catalogue piece `piece` (0 to PIECES - 1, the ids of Game.hands) as (row, column) "
             "pairs of its base orientation, row by row.");
}

}  // namespace tavrin::engine_bindings
