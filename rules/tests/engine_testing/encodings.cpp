#include "engine_testing/encodings.hpp"

namespace tavrin::testing {

PlaneTensor get_game_state(const Game& game, bool planes_last) {
  PlaneTensor state{game.dim(), kStatePlanes, planes_last,
                    std::vector<std::uint8_t>(kStatePlanes * game.board().cell_count())};
  game.write_game_state(planes_last, state.values);
  return state;
}

PlaneTensor get_rep(const Board& board, bool planes_last, std::uint64_t player) {
  PlaneTensor rep{board.dim(), kPlayers, planes_last, std::vector<std::uint8_t>(kPlayers * board.cell_count())};
  board.write_rep(planes_last, player, rep.values);
  return rep;
}

}  // namespace tavrin::testing
