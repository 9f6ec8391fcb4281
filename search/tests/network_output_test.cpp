#include "search/network_output.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "engine/internal_error.hpp"
#include "search/search.hpp"
#include "search_testing/softmax_vectors.hpp"
#include "search_testing/tree.hpp"

namespace tavrin {
namespace {

using testing::expand_with_priors;
using testing::softmax;

Game game_with_player_to_move(std::uint64_t player) {
  Game game = Game::reset(20);
  while (game.current_player() != player) game.apply(game.get_legal_tiles().front());
  return game;
}

TEST(Decode, ExpandsOneChildPerLegalTileInAscendingOrder) {
  const Game game = Game::reset(20);
  SearchNode node;
  NetworkOutputDecoder decoder;
  const std::vector<float> policy(400, 0.0F);
  expand_with_priors(node, game, decoder.decode(game, policy, std::vector<float>{0, 0, 0, 0}).priors);
  const auto legal = game.get_legal_tiles();
  ASSERT_EQ(node.children.size(), legal.size());
  float total = 0.0F;
  for (std::size_t i = 0; i < legal.size(); ++i) {
    EXPECT_EQ(node.children[i].action, legal[i]);
    EXPECT_EQ(node.children[i].visit_count, 0U);
    total += node.children[i].prior;
  }
  EXPECT_NEAR(total, 1.0F, 1e-5);
  EXPECT_EQ(node.player, 0);
}

TEST(Decode, ValuesAreRotatedToAbsolutePlayers) {
  const Game game = game_with_player_to_move(2);
  SearchNode node;
  NetworkOutputDecoder decoder;
  const std::vector<float> logits{0.1F, 0.7F, -0.3F, 1.2F};
  const auto relative = softmax(logits);
  const LeafValues decoded = decoder.decode(game, std::vector<float>(400, 0.0F), logits);
  expand_with_priors(node, game, decoded.priors);
  const auto values = decoded.values;
  ASSERT_EQ(values.size(), 4U);
  EXPECT_EQ(values[0], relative[2]);
  EXPECT_EQ(values[1], relative[3]);
  EXPECT_EQ(values[2], relative[0]);
  EXPECT_EQ(values[3], relative[1]);
  EXPECT_EQ(node.player, 2);
}

TEST(Decode, TooFewValuesForThePlayerOrTooShortPolicyIsInternal) {
  const Game game = game_with_player_to_move(2);
  NetworkOutputDecoder decoder;
  EXPECT_THROW(decoder.decode(game, std::vector<float>(400, 0.0F), std::vector<float>{0.0F}), InternalError);
  EXPECT_THROW(decoder.decode(game, std::vector<float>(10, 0.0F), std::vector<float>{0, 0, 0, 0}), InternalError);
}

TEST(Decode, TilesWithoutProbabilityGetNoChild) {
  const Game game = Game::reset(20);
  NetworkOutputDecoder decoder;
  std::vector<float> policy(400, 0.0F);
  policy[0] = -200.0F;  // underflows to exactly 0
  SearchNode node;
  expand_with_priors(node, game, decoder.decode(game, policy, std::vector<float>{0, 0, 0, 0}).priors);
  EXPECT_EQ(node.find_child(0), nullptr);
  EXPECT_EQ(node.children.size(), game.get_legal_tiles().size() - 1);

  policy[1] = std::numeric_limits<float>::quiet_NaN();  // a legal NaN poisons every prior
  SearchNode poisoned;
  expand_with_priors(poisoned, game, decoder.decode(game, policy, std::vector<float>{0, 0, 0, 0}).priors);
  EXPECT_FALSE(poisoned.is_expanded());
}

TEST(Expand, ReexpansionReplacesPositiveTilesAndKeepsTheRest) {
  SearchNode node;
  const std::vector<std::uint64_t> first_tiles{1, 3};
  expand(node, 0, first_tiles, std::vector<float>{0.5F, 0.5F});
  node.children[0].visit_count = 5;
  node.children[1].visit_count = 2;
  const std::vector<std::uint64_t> second_tiles{1, 2, 4};
  expand(node, 3, second_tiles, std::vector<float>{0.6F, 0.4F, 0.0F});
  ASSERT_EQ(node.children.size(), 3U);
  EXPECT_EQ(node.player, 3);
  EXPECT_EQ(node.children[0].action, 1U);
  EXPECT_EQ(node.children[0].visit_count, 0U);
  EXPECT_EQ(node.children[0].prior, 0.6F);
  EXPECT_EQ(node.children[1].action, 2U);
  EXPECT_EQ(node.find_child(3)->visit_count, 2U);
  EXPECT_EQ(node.find_child(4), nullptr);
}

}  // namespace
}  // namespace tavrin
