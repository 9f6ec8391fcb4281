// Random games on several board sides, checking after every action that the
// incrementally maintained state equals a recomputation from scratch.
#include <gtest/gtest.h>

#include <random>
#include <set>

#include "engine/game.hpp"
#include "engine_testing/reference_checker.hpp"

namespace tavrin {
namespace {

using testing::ReferenceChecker;

void play_and_check(std::uint64_t dim, std::mt19937_64& rng) {
  Game game = Game::reset(dim);
  ReferenceChecker checker(game);
  ASSERT_EQ(checker.check(game), std::nullopt);
  while (!game.is_terminal()) {
    const auto legal = game.get_legal_tiles();
    const std::uint64_t tile = legal[std::uniform_int_distribution<std::size_t>(0, legal.size() - 1)(rng)];
    const auto other = std::uniform_int_distribution<std::uint64_t>(0, dim * dim + 3)(rng);
    if (!game.is_legal(other)) {  // an illegal tile changes nothing
      const Game before = game;
      ASSERT_TRUE(game.apply(other).has_value());
      ASSERT_EQ(game.history(), before.history());
      ASSERT_TRUE(std::equal(game.board().cells().begin(), game.board().cells().end(),
                             before.board().cells().begin()));
      ASSERT_EQ(checker.check(game), std::nullopt);
    }
    ASSERT_EQ(game.apply(tile), std::nullopt);
    ASSERT_EQ(checker.after_apply(game, tile), std::nullopt) << "dim " << dim << " after tile " << tile;
  }
  ASSERT_EQ(ReferenceChecker::check_finished(game), std::nullopt);
}

TEST(RandomGames, IncrementalStateMatchesRecomputation) {
  std::mt19937_64 rng(20261207);
  for (std::uint64_t dim : {4, 5, 6, 7, 9, 12}) {
    for (int round = 0; round < 12; ++round) {
      play_and_check(dim, rng);
      if (HasFatalFailure()) return;
    }
  }
  for (int round = 0; round < 3; ++round) {
    play_and_check(20, rng);
    if (HasFatalFailure()) return;
  }
}

// Large boards: whole random games, every piece of every player laid down.
TEST(RandomGames, LargestSidesPlayToTheEnd) {
  std::mt19937_64 rng(11);
  for (std::uint64_t dim : {std::uint64_t{64}, kMaxSide}) {
    Game game = Game::reset(dim);
    while (!game.is_terminal()) {
      const auto tiles = game.get_legal_tiles();
      ASSERT_EQ(game.apply(tiles[std::uniform_int_distribution<std::size_t>(0, tiles.size() - 1)(rng)]), std::nullopt);
    }
    EXPECT_EQ(game.history().size(), 4U * kSquaresPerSet) << dim;
    EXPECT_EQ(ReferenceChecker::check_finished(game), std::nullopt);
  }
}

}  // namespace
}  // namespace tavrin
