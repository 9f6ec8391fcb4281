#pragma once

#include <cstdint>

#include <gtest/gtest.h>

#include "engine/game.hpp"
#include "search/random.hpp"

namespace tavrin::testing {

// The position after up to `actions` uniformly random legal tiles from the start.
inline Game advanced_game(std::uint64_t dim, std::uint64_t actions, std::uint64_t seed) {
  Game game = Game::reset(dim);
  auto random = random::Generator::seeded(seed);
  for (std::uint64_t i = 0; i < actions && !game.is_terminal(); ++i) {
    const auto tiles = game.get_legal_tiles();
    EXPECT_FALSE(game.apply(tiles[random.uniform_index(tiles.size())]));
  }
  return game;
}

}  // namespace tavrin::testing
