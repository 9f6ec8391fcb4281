#include <gtest/gtest.h>

#include <random>

#include "engine/game.hpp"
#include "engine_testing/encodings.hpp"

namespace tavrin {
namespace {

std::vector<std::uint64_t> true_cells(const testing::PlaneTensor& state, std::uint64_t plane) {
  std::vector<std::uint64_t> cells;
  for (std::uint64_t r = 0; r < state.dim; ++r) {
    for (std::uint64_t c = 0; c < state.dim; ++c) {
      if (state.at(plane, r, c)) cells.push_back(r * state.dim + c);
    }
  }
  return cells;
}

std::vector<std::uint64_t> legal(const Game& game) {
  return {game.get_legal_tiles().begin(), game.get_legal_tiles().end()};
}

TEST(Encoding, FreshGameMarksOnlyTheLegalTiles) {
  const Game game = Game::reset(20);
  for (bool planes_last : {false, true}) {
    const testing::PlaneTensor state = testing::get_game_state(game, planes_last);
    EXPECT_EQ(state.values.size(), 5U * 400U);
    for (std::uint64_t plane = 0; plane < 4; ++plane) EXPECT_TRUE(true_cells(state, plane).empty());
    EXPECT_EQ(true_cells(state, 4), legal(game));
    EXPECT_TRUE(state.at(4, 0, 0));
  }
}

TEST(Encoding, PartlyLaidPieceIsTheMoversAndTheCornerLeavesTheLegalPlane) {
  Game game = Game::reset(20);
  ASSERT_EQ(game.apply(0), std::nullopt);
  const testing::PlaneTensor state = testing::get_game_state(game, false);
  EXPECT_EQ(true_cells(state, 0), (std::vector<std::uint64_t>{0}));
  EXPECT_FALSE(state.at(4, 0, 0));
  EXPECT_EQ(true_cells(state, 4), legal(game));
}

TEST(Encoding, PlanesFollowThePlayerToMove) {
  Game game = Game::reset(20);
  for (std::uint64_t tile : {0, 20, 40, 60, 80}) ASSERT_EQ(game.apply(tile), std::nullopt);
  ASSERT_EQ(game.current_player(), 1U);
  const testing::PlaneTensor state = testing::get_game_state(game, true);
  for (std::uint64_t plane = 0; plane < 3; ++plane) EXPECT_TRUE(true_cells(state, plane).empty());
  EXPECT_EQ(true_cells(state, 3), (std::vector<std::uint64_t>{0, 20, 40, 60, 80}));
  std::vector<std::uint64_t> mirrored;
  for (std::uint64_t tile = 0; tile < 400; ++tile) {
    if (tile / 20 + (19 - tile % 20) <= 4) mirrored.push_back(tile);
  }
  EXPECT_EQ(true_cells(state, 4), mirrored);

  // Player 1 lays its straight five; player 2 then sees player 0 two seats
  // ahead and player 1 just behind.
  for (std::uint64_t tile : {19, 39, 59, 79, 99}) ASSERT_EQ(game.apply(tile), std::nullopt);
  ASSERT_EQ(game.current_player(), 2U);
  const testing::PlaneTensor later = testing::get_game_state(game, false);
  EXPECT_TRUE(true_cells(later, 0).empty());
  EXPECT_TRUE(true_cells(later, 1).empty());
  EXPECT_EQ(true_cells(later, 2), (std::vector<std::uint64_t>{0, 20, 40, 60, 80}));
  EXPECT_EQ(true_cells(later, 3), (std::vector<std::uint64_t>{19, 39, 59, 79, 99}));
}

TEST(Encoding, BothLayoutsHoldTheSameValuesThroughAWholeGame) {
  std::mt19937_64 rng(3);
  Game game = Game::reset(9);
  while (true) {
    const testing::PlaneTensor first = testing::get_game_state(game, false);
    const testing::PlaneTensor last = testing::get_game_state(game, true);
    std::size_t occupied = 0;
    for (std::uint64_t k = 0; k < 5; ++k) {
      for (std::uint64_t r = 0; r < 9; ++r) {
        for (std::uint64_t c = 0; c < 9; ++c) {
          ASSERT_EQ(first.at(k, r, c), last.at(k, r, c));
          ASSERT_EQ(first.values[(k * 9 + r) * 9 + c], last.values[(r * 9 + c) * 5 + k]);
          if (k < 4) occupied += first.at(k, r, c);
        }
      }
    }
    std::size_t squares = 0;
    for (std::uint8_t cell : game.board().cells()) squares += (cell & 0x0F) != 0;
    ASSERT_EQ(occupied, squares);  // each square in exactly one player plane
    const testing::PlaneTensor rep = testing::get_rep(game.board(), true, game.current_player());
    for (std::uint64_t k = 0; k < 4; ++k) ASSERT_EQ(true_cells(first, k).size(), [&] {
        std::size_t n = 0;
        for (std::uint64_t t = 0; t < 81; ++t) n += rep.at(k, t / 9, t % 9);
        return n;
      }());
    if (game.is_terminal()) {
      EXPECT_TRUE(true_cells(first, 4).empty());
      break;
    }
    const auto tiles = game.get_legal_tiles();
    ASSERT_EQ(game.apply(tiles[std::uniform_int_distribution<std::size_t>(0, tiles.size() - 1)(rng)]), std::nullopt);
  }
}

}  // namespace
}  // namespace tavrin
