#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <vector>

#include "engine/game.hpp"
#include "engine/internal_error.hpp"
#include "search/playout.hpp"
#include "search/search.hpp"
#include "search_testing/random_positions.hpp"
#include "selfplay/rollout_player.hpp"
#include "selfplay/self_play_game.hpp"

namespace tavrin {
namespace {

using testing::advanced_game;

// A position whose every remaining action has a single legal tile, at least
// two actions before the end: every playout from it or its successor ends
// the same way, with `payoff`.
struct ForcedEnding {
  Game position;
  std::array<float, kPlayers> payoff{};
};

ForcedEnding forced_ending() {
  for (std::uint64_t seed = 0; seed < 500; ++seed) {
    Game game = Game::reset(7);
    auto random = random::Generator::seeded(seed);
    std::vector<Game> positions;
    while (!game.is_terminal()) {
      positions.push_back(game);
      const auto tiles = game.get_legal_tiles();
      EXPECT_FALSE(game.apply(tiles[random.uniform_index(tiles.size())]));
    }
    std::size_t forced = 0;  // trailing positions with one legal tile
    while (forced < positions.size() && positions[positions.size() - 1 - forced].get_legal_tiles().size() == 1) {
      ++forced;
    }
    if (forced >= 2) return {positions[positions.size() - forced], game.get_payoff()};
  }
  ADD_FAILURE() << "no game with a forced ending of two actions";
  return {Game::reset(7), {}};
}

TEST(MixedSearch, BacksUpTheStatedMixOfNetworkValueAndPlayoutPayoff) {
  const ForcedEnding ending = forced_ending();
  const std::uint64_t chooser = ending.position.current_player();
  const std::array<float, kPlayers> network{0.1F, 0.2F, 0.3F, 0.4F};
  const std::vector<float> one_prior{1.0F};
  for (float weight : {0.0F, 0.5F, 1.0F}) {
    SearchSettings settings;
    settings.config = Config{7, 1, 1, 0, 1.5F, 0.5, 0.0F};
    settings.options.leaf_evaluation = LeafEvaluation::kMixed;
    settings.options.playout_weight = weight;
    settings.options.playouts = 3;
    settings.options.action_limit = 1;
    SelfPlayGame search(settings, random::RandomSource::seeded(5), ending.position);
    for (int request = 0; request < 2; ++request) {  // the root, then the one leaf
      const Game* position = search.advance();
      ASSERT_NE(position, nullptr);
      ASSERT_EQ(position->get_legal_tiles().size(), 1U);
      search.provide(LeafValues{one_prior, network});
    }
    ASSERT_EQ(search.advance(), nullptr);
    // The action played; its node, now the root, holds the chooser's value of that one simulation.
    const SearchNode& node = search.root();
    ASSERT_EQ(node.visit_count, 1U);
    const float expected = (1.0F - weight) * network[chooser] + weight * ending.payoff[chooser];
    EXPECT_FLOAT_EQ(node.value_sum, expected) << "weight " << weight;
  }
}

TEST(MixedSearch, PlayoutsRunAheadOfTheAnswerGiveTheSameGame) {
  SearchSettings settings;
  settings.config = Config{7, 1, 8, 0, 1.5F, 0.5, 0.0F};
  settings.options.leaf_evaluation = LeafEvaluation::kMixed;
  std::vector<std::vector<HistoryEntry>> games;
  for (bool ahead : {false, true}) {
    SelfPlayGame game(settings, random::RandomSource::seeded(11));
    std::vector<float> priors;
    const std::array<float, kPlayers> values{0.25F, 0.25F, 0.25F, 0.25F};
    while (const Game* position = game.advance()) {
      priors.assign(position->get_legal_tiles().size(), 1.0F / static_cast<float>(position->get_legal_tiles().size()));
      if (ahead) game.run_playouts();
      game.provide(LeafValues{priors, values});
    }
    games.push_back(game.game().history());
  }
  EXPECT_EQ(games[0], games[1]);
}

TEST(RolloutSearch, SameSeedSameChoiceEverySimulationCountedMostVisitedLowestTile) {
  for (std::uint64_t actions : {0, 9, 30}) {
    const Game game = advanced_game(8, actions, actions + 1);
    const RolloutChoice a = rollout_search(game, 300, 42);
    const RolloutChoice b = rollout_search(game, 300, 42);
    EXPECT_EQ(a.tile, b.tile);
    EXPECT_EQ(a.visits, b.visits);
    const auto tiles = game.get_legal_tiles();
    ASSERT_EQ(a.visits.size(), tiles.size());
    std::uint64_t total = 0;
    for (std::size_t i = 0; i < tiles.size(); ++i) {
      EXPECT_EQ(a.visits[i].first, tiles[i]);
      total += a.visits[i].second;
    }
    EXPECT_EQ(total, 300U);
    const auto most = std::max_element(a.visits.begin(), a.visits.end(),
                                       [](const auto& x, const auto& y) { return x.second < y.second; });
    EXPECT_EQ(a.tile, most->first);  // the first of the most visited, that is the lowest tile
  }
  Game over = Game::reset(5);
  auto random = random::Generator::seeded(1);
  random_playout(over, random);
  EXPECT_THROW(rollout_search(over, 10, 1), InternalError);
  EXPECT_THROW(rollout_search(Game::reset(5), 0, 1), InternalError);
}

TEST(Ucb1Selection, UnvisitedFirstAtRandomThenTheBestScoreWithTiesAtRandom) {
  SearchNode node;
  node.children.resize(4);
  node.children[1].visit_count = 3;
  node.children[1].value_sum = 3.0F;
  node.visit_count = 3;
  auto random = random::Generator::seeded(3);
  std::array<int, 4> picks{};
  for (int draw = 0; draw < 300; ++draw) ++picks[select_child_ucb1(node, 1.0F, random)];
  EXPECT_EQ(picks[1], 0);
  for (std::size_t i : {0, 2, 3}) EXPECT_GT(picks[i], 60) << i;

  // All visited: 0 and 3 tie on the best score; 2 has as good a mean but more visits.
  const std::array<std::pair<std::uint32_t, float>, 4> stats{{{2, 1.0F}, {4, 1.0F}, {8, 4.0F}, {2, 1.0F}}};
  node.visit_count = 16;
  for (std::size_t i = 0; i < 4; ++i) {
    node.children[i].visit_count = stats[i].first;
    node.children[i].value_sum = stats[i].second;
  }
  picks = {};
  for (int draw = 0; draw < 300; ++draw) ++picks[select_child_ucb1(node, 1.0F, random)];
  EXPECT_EQ(picks[1] + picks[2], 0);
  EXPECT_GT(picks[0], 100);
  EXPECT_GT(picks[3], 100);
}

}  // namespace
}  // namespace tavrin

namespace tavrin {
namespace {

// Playouts that draw whole placements by size play legal games to the end,
// the same game for the same stream, and lay larger pieces than uniformly
// random tiles, if only a little: a piece is down only once no larger
// placement holds its squares, so uniform tiles too grow most pieces whole.
TEST(Playouts, LargerPiecesPlayLegalGamesOfLargerPieces) {
  auto random = random::Generator::seeded(17);
  std::array<std::size_t, 2> squares{};
  std::array<std::size_t, 2> pieces{};
  for (int playout = 0; playout < 30; ++playout) {
    for (const PlayoutPolicy policy : {PlayoutPolicy::kUniform, PlayoutPolicy::kLargerPieces}) {
      Game game = Game::reset(20);
      random_playout(game, random, policy);
      ASSERT_TRUE(game.is_terminal());
      const std::size_t k = policy == PlayoutPolicy::kLargerPieces ? 1 : 0;
      squares[k] += game.history().size();
      for (std::uint64_t player = 0; player < kPlayers; ++player) pieces[k] += 21 - game.board().hand(player).size();
    }
  }
  EXPECT_GT(static_cast<double>(squares[1]) / static_cast<double>(pieces[1]),
            static_cast<double>(squares[0]) / static_cast<double>(pieces[0]));
  Game once = Game::reset(20), again = Game::reset(20);
  auto first = random::Generator::seeded(3), second = random::Generator::seeded(3);
  random_playout(once, first, PlayoutPolicy::kLargerPieces);
  random_playout(again, second, PlayoutPolicy::kLargerPieces);
  EXPECT_EQ(once.history(), again.history());
}

}  // namespace
}  // namespace tavrin
