#pragma once

#include <cstdint>
#include <vector>

#include "engine/game.hpp"

namespace tavrin::testing {

// A network-input tensor in one layout, with lookups by plane, row and column.
struct PlaneTensor {
  std::uint64_t dim = 0;
  std::uint64_t planes = 0;
  bool planes_last = false;
  std::vector<std::uint8_t> values;

  bool at(std::uint64_t plane, std::uint64_t row, std::uint64_t column) const {
    return planes_last ? values[(row * dim + column) * planes + plane] : values[(plane * dim + row) * dim + column];
  }
};

// The five planes of Game::write_game_state as a fresh tensor.
PlaneTensor get_game_state(const Game& game, bool planes_last);
// The four ownership planes of Board::write_rep as a fresh tensor.
PlaneTensor get_rep(const Board& board, bool planes_last, std::uint64_t player);

}  // namespace tavrin::testing
