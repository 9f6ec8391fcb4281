#include <gtest/gtest.h>

#include <algorithm>

#include "engine/game.hpp"
#include "players/greedy.hpp"
#include "search_testing/random_positions.hpp"

namespace tavrin::players {
namespace {

using testing::advanced_game;

TEST(Greedy, KeepsOnlyTheLargestPieceWithTheMostOpenedCornersAndAgreesWhileLaid) {
  for (std::uint64_t seed = 0; seed < 20; ++seed) {
    Game game = advanced_game(10, seed * 3, seed);
    if (game.is_terminal()) continue;
    const auto best = greedy_placements(game);
    ASSERT_FALSE(best.empty());
    const Catalogue& catalogue = game.board().catalogue();
    const auto player = game.current_player();
    const Placement& first = catalogue.placement(best.front());
    for (std::uint32_t id : game.piece_placements()) {
      const Placement& other = catalogue.placement(id);
      const bool is_best = std::find(best.begin(), best.end(), id) != best.end();
      if (other.size != first.size) {
        EXPECT_LT(other.size, first.size);
        EXPECT_FALSE(is_best);
        continue;
      }
      const auto opened = opened_corners(game.board(), player, other);
      const auto top = opened_corners(game.board(), player, first);
      EXPECT_LE(opened, top);
      EXPECT_EQ(is_best, opened == top);
    }
    // Laying one square of a best placement keeps its count: the placement
    // is still among the best for the rest of the piece.
    const std::uint32_t target = best.front();
    const auto before = opened_corners(game.board(), player, first);
    const auto squares = first.squares();
    const auto next = *std::find_if(squares.begin(), squares.end(), [&](auto s) { return game.is_legal(s); });
    const auto chosen_before = game.chosen_squares().size();
    ASSERT_FALSE(game.apply(next));
    if (game.current_player() == player && game.chosen_squares().size() == chosen_before + 1) {
      const auto still = greedy_placements(game);
      EXPECT_NE(std::find(still.begin(), still.end(), target), still.end());
      EXPECT_EQ(opened_corners(game.board(), player, first), before);
    }
  }
}

}  // namespace
}  // namespace tavrin::players
