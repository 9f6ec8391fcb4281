#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>

#include "engine/game.hpp"
#include "engine/internal_error.hpp"
#include "engine_testing/placement_rule.hpp"
#include "engine_testing/tile_moves.hpp"
#include <random>

namespace tavrin {
namespace {

using testing::corner_tiles;
using testing::get_tile_moves;
using testing::tile_moves;
using testing::TileMoveMap;
using testing::PlacementKey;
using Tiles = std::vector<std::uint64_t>;

Tiles legal(const Game& game) { return {game.get_legal_tiles().begin(), game.get_legal_tiles().end()}; }

// Sizes of the distinct placements listed in a tile-move map.
std::map<std::uint64_t, int> placement_sizes(const Game& game) {
  std::set<PlacementKey> placements;
  for (const auto& [tile, keys] : tile_moves(game)) placements.insert(keys.begin(), keys.end());
  std::map<std::uint64_t, int> sizes;
  const Hand hand = game.board().hand(game.current_player());
  for (const PlacementKey& key : placements) ++sizes[hand[key.piece_index].size];
  return sizes;
}

TEST(FreshGame, PlayerZeroStartsFromTheCorner) {
  const Game game = Game::reset(20);
  EXPECT_EQ(game.current_player(), 0U);
  EXPECT_TRUE(game.history().empty());
  EXPECT_FALSE(game.is_terminal());
  for (bool flag : game.finished()) EXPECT_FALSE(flag);
  Tiles expected;
  for (std::uint64_t tile = 0; tile < 400; ++tile) {
    if (tile / 20 + tile % 20 <= 4) expected.push_back(tile);
  }
  EXPECT_EQ(legal(game), expected);
  EXPECT_EQ(placement_sizes(game), (std::map<std::uint64_t, int>{{1, 1}, {2, 2}, {3, 5}, {4, 13}, {5, 37}}));
  // Every listed placement goes through the start corner.
  const TileMoveMap moves = tile_moves(game);
  for (const auto& [tile, keys] : moves) {
    for (const PlacementKey& key : keys) EXPECT_TRUE(moves.at(0).count(key)) << tile;
  }
}

TEST(FreshGame, EveryStartCornerSeesTheMirrorImage) {
  for (std::uint64_t player = 0; player < kPlayers; ++player) {
    const Board board = Board::make(20);
    const TileMoveMap moves = get_tile_moves(board, player);
    std::set<PlacementKey> placements;
    for (const auto& [tile, keys] : moves) placements.insert(keys.begin(), keys.end());
    EXPECT_EQ(moves.size(), 15U) << player;
    EXPECT_EQ(placements.size(), 58U) << player;
  }
  EXPECT_THROW(get_tile_moves(Board::make(20), 4), InternalError);
}

TEST(LayingAPiece, TheStraightFiveDownTheFirstColumn) {
  Game game = Game::reset(20);
  const std::vector<std::size_t> legal_after = {14, 12, 9, 5};
  const Tiles squares = {0, 20, 40, 60, 80};
  for (std::size_t i = 0; i < 4; ++i) {
    ASSERT_EQ(game.apply(squares[i]), std::nullopt);
    EXPECT_EQ(game.current_player(), 0U);
    EXPECT_EQ(game.get_legal_tiles().size(), legal_after[i]) << "after square " << i;
  }
  ASSERT_EQ(game.apply(80), std::nullopt);
  EXPECT_EQ(game.board().hand(0).size(), 20U);
  EXPECT_FALSE(game.board().hand(0).contains(9));
  EXPECT_EQ(game.last_piece_sizes()[0], 5U);
  EXPECT_EQ(game.history(), (std::vector<HistoryEntry>{{0, 0}, {0, 20}, {0, 40}, {0, 60}, {0, 80}}));
  EXPECT_EQ(game.current_player(), 1U);
  EXPECT_EQ(game.get_legal_tiles().size(), 15U);
  EXPECT_TRUE(game.chosen_squares().empty());
}

TEST(LayingAPiece, NarrowingKeepsOnlyPlacementsThroughEveryChosenSquare) {
  Game game = Game::reset(20);
  ASSERT_EQ(game.apply(2), std::nullopt);  // not the corner
  EXPECT_EQ(game.current_player(), 0U);
  const TileMoveMap moves = tile_moves(game);
  for (std::uint64_t tile : game.get_legal_tiles()) {
    EXPECT_NE(tile, 2U);
    for (const PlacementKey& key : moves.at(tile)) {
      const auto& variant = game.board().hand(0)[key.piece_index].variants[key.variant_index];
      std::set<std::uint64_t> covered;
      for (std::uint64_t offset : variant.offsets) covered.insert(key.position + offset);
      EXPECT_TRUE(covered.count(0) && covered.count(2) && covered.count(tile));
    }
  }
  EXPECT_TRUE(game.is_legal(0));
}

// Plays random games; at the start of every piece, looks at tiles whose
// placements include the single square and checks how choosing them ends.
TEST(LayingAPiece, TheSingleSquareCompletesOnlyWhereNothingLargerFits) {
  std::mt19937_64 rng(7);
  int completed_at_once = 0;
  int kept_going = 0;
  for (int round = 0; round < 40 && (completed_at_once < 3 || kept_going < 3); ++round) {
    Game game = Game::reset(10);
    while (!game.is_terminal()) {
      const std::uint64_t player = game.current_player();
      if (game.chosen_squares().empty() && game.board().hand(player).contains(0)) {
        for (const auto& [tile, keys] : tile_moves(game)) {
          const Hand hand = game.board().hand(player);
          bool single = false;
          bool larger = false;
          for (const PlacementKey& key : keys) (hand[key.piece_index].size == 1 ? single : larger) = true;
          if (!single) continue;
          Game trial = game;
          ASSERT_EQ(trial.apply(tile), std::nullopt);
          if (larger) {
            EXPECT_EQ(trial.current_player(), player);
            EXPECT_EQ(trial.board().hand(player).size(), hand.size());
            ++kept_going;
          } else {
            EXPECT_EQ(trial.board().hand(player).size(), hand.size() - 1);
            EXPECT_FALSE(trial.board().hand(player).contains(0));
            EXPECT_EQ(trial.last_piece_sizes()[player], 1U);
            EXPECT_TRUE(trial.chosen_squares().empty());  // the turn has passed
            ++completed_at_once;
          }
        }
      }
      const auto tiles = game.get_legal_tiles();
      ASSERT_EQ(game.apply(tiles[std::uniform_int_distribution<std::size_t>(0, tiles.size() - 1)(rng)]), std::nullopt);
    }
  }
  EXPECT_GE(completed_at_once, 3);
  EXPECT_GE(kept_going, 3);
}

TEST(InvalidMove, ChangesNothingAndNamesPlayerAndTile) {
  Game game = Game::reset(20);
  ASSERT_EQ(game.apply(0), std::nullopt);
  const Game before = game;
  EXPECT_EQ(game.apply(37), std::optional<std::string>("Invalid move - Player 0, Tile 37"));
  EXPECT_EQ(game.apply(0), std::optional<std::string>("Invalid move - Player 0, Tile 0"));  // already chosen
  EXPECT_EQ(game.apply(400), std::optional<std::string>("Invalid move - Player 0, Tile 400"));
  EXPECT_TRUE(std::equal(game.board().cells().begin(), game.board().cells().end(), before.board().cells().begin()));
  EXPECT_EQ(game.history(), before.history());
  EXPECT_EQ(legal(game), legal(before));
  EXPECT_EQ(tile_moves(game), tile_moves(before));
  EXPECT_EQ(game.current_player(), before.current_player());
  EXPECT_EQ(game.board().hand(0).id_bits(), before.board().hand(0).id_bits());
  for (std::uint64_t p = 0; p < kPlayers; ++p) {
    EXPECT_EQ(corner_tiles(game.board(), p), corner_tiles(before.board(), p));
  }
}

TEST(GameCopies, AreIndependent) {
  Game game = Game::reset(10);
  Game copy = game;
  ASSERT_EQ(copy.apply(0), std::nullopt);
  EXPECT_EQ(game.board().cell(0), 0);
  EXPECT_TRUE(game.history().empty());
  EXPECT_EQ(copy.history().size(), 1U);
  EXPECT_TRUE(game.is_legal(0));
}

TEST(Payoff, BestScoresShareTheWin) {
  EXPECT_EQ(payoff_from_scores({-10, -3, -3, -20}), (std::array<float, 4>{0, 0.5F, 0.5F, 0}));
  EXPECT_EQ(payoff_from_scores({-5, -5, -5, -5}), (std::array<float, 4>{0.25F, 0.25F, 0.25F, 0.25F}));
  EXPECT_EQ(payoff_from_scores({-7, -7, -60, -7}), (std::array<float, 4>{1.0F / 3, 1.0F / 3, 0, 1.0F / 3}));
  EXPECT_EQ(payoff_from_scores({-30, -40, -1, -2}), (std::array<float, 4>{0, 0, 1, 0}));
  EXPECT_EQ(payoff_from_scores({-1, 5, -100, 20}), (std::array<float, 4>{0, 0, 0, 1}));
  EXPECT_EQ(Game::reset(20).get_payoff(), (std::array<float, 4>{0.25F, 0.25F, 0.25F, 0.25F}));
}

}  // namespace
}  // namespace tavrin
