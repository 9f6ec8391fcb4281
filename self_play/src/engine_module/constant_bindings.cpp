#include "engine/catalogue.hpp"
#include "engine/game.hpp"
#include "engine_module/bindings.hpp"

namespace tavrin::engine_module {

void bind_constants(nb::module_& module) {
  module.attr("PLAYERS") = kPlayers;
  module.attr("PIECES") = kPieceCount;
  module.attr("STATE_PLANES") = kStatePlanes;
  module.attr("EXTENDED_BOARD_PLANES") = kExtendedBoardPlanes;
  module.attr("HAND_PLANES") = kHandPlanes;
  module.attr("EXTENDED_STATE_PLANES") = kExtendedStatePlanes;
  module.attr("MIN_SIDE") = kMinSide;
  module.attr("MAX_SIDE") = kMaxSide;
}

}  // namespace tavrin::engine_module
