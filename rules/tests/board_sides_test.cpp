// Every supported board side plays a whole game; unsupported sides fail with
// a message that names the side; tiles always fit the records' 32-bit fields.
#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <set>
#include <string>

#include "engine/game.hpp"
#include "engine/internal_error.hpp"

namespace tavrin {
namespace {

static_assert(kMaxSide * kMaxSide <= std::uint64_t{std::numeric_limits<std::int32_t>::max()} + 1,
              "every tile of the largest board must fit a signed 32-bit record field");

TEST(BoardSides, EverySideFromFourToSixtyFourPlaysAWholeGame) {
  for (std::uint64_t dim = 4; dim <= 64; ++dim) {
    Game game = Game::reset(dim);
    std::uint64_t step = 0;
    while (!game.is_terminal()) {
      const auto legal = game.get_legal_tiles();
      ASSERT_FALSE(legal.empty()) << "side " << dim;
      // A spread of choices without a generator: low, high and middle tiles.
      ASSERT_EQ(game.apply(legal[(step * 7919) % legal.size()]), std::nullopt) << "side " << dim;
      ++step;
    }
    std::set<std::int32_t> covered;
    for (const auto& [player, tile] : game.history()) {
      ASSERT_GE(tile, 0);
      ASSERT_LT(static_cast<std::uint64_t>(tile), dim * dim) << "side " << dim;
      covered.insert(tile);
    }
    EXPECT_EQ(covered.size(), game.history().size()) << "a cell was covered twice on side " << dim;
    EXPECT_EQ(game.history().size(), step);
  }
}

TEST(BoardSides, UnsupportedSidesNameThemselves) {
  for (std::uint64_t dim : {kMaxSide + 1, std::uint64_t{1} << 32, std::numeric_limits<std::uint64_t>::max()}) {
    try {
      Game::reset(dim);
      FAIL() << "side " << dim << " was accepted";
    } catch (const InternalError& error) {
      EXPECT_EQ(std::string(error.what()),
                "Board side " + std::to_string(dim) + " is not supported: the largest side is 128");
    }
  }
  for (std::uint64_t dim : {0, 1, 2, 3}) {
    try {
      Game::reset(dim);
      FAIL() << "side " << dim << " was accepted";
    } catch (const InternalError& error) {
      EXPECT_NE(std::string(error.what()).find("requested length out of range"), std::string::npos) << error.what();
    }
  }
}

}  // namespace
}  // namespace tavrin
