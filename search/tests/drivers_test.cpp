#include "selfplay/drivers.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "engine/internal_error.hpp"
#include "search_testing/fake_network.hpp"

namespace tavrin {
namespace {

using testing::FakeNetwork;

class RecordingSink final : public ResultSink {
 public:
  std::optional<std::string> failure;
  std::vector<TrainingRecord> records;
  std::vector<float> payoffs;

  std::optional<std::string> post_training_record(const TrainingRecord& record) override {
    if (!failure) records.push_back(record);
    return failure;
  }
  std::optional<std::string> post_payoff(float payoff) override {
    if (!failure) payoffs.push_back(payoff);
    return failure;
  }
};

Config training_config(std::uint64_t dim, std::uint64_t sims) {
  Config config;
  config.dim = dim;
  config.rep = 1;
  config.sims_per_move = sims;
  config.sample_moves = 6;
  config.c_puct = 1.5F;
  config.dirichlet_alpha = 0.3;
  config.exploration_fraction = 0.25F;
  return config;
}

// Network whose logits favour low tiles, so games differ from the default.
std::vector<float> descending_logits(const Game& game) {
  std::vector<float> logits(game.dim() * game.dim());
  for (std::size_t i = 0; i < logits.size(); ++i) logits[i] = -0.01F * static_cast<float>(i);
  return logits;
}

TEST(TrainingGame, RecordReplaysLegallyWithOneTargetPerAction) {
  FakeNetwork network;
  network.policy = descending_logits;
  RecordingSink sink;
  ASSERT_EQ(training_game(network, sink, training_config(10, 8)), kStatusPosted);
  ASSERT_EQ(sink.records.size(), 1U);
  const TrainingRecord& record = sink.records.front();
  ASSERT_EQ(record.moves.size(), record.policies.size());
  ASSERT_GT(record.moves.size(), 40U);
  Game replay = Game::reset(10);
  for (std::size_t i = 0; i < record.moves.size(); ++i) {
    const auto [player, tile] = record.moves[i];
    ASSERT_EQ(static_cast<std::uint64_t>(player), replay.current_player());
    ASSERT_TRUE(replay.is_legal(static_cast<std::uint64_t>(tile))) << "action " << i;
    float total = 0.0F;
    bool played_is_child = false;
    for (const auto& [child, share] : record.policies[i]) {
      ASSERT_TRUE(replay.is_legal(static_cast<std::uint64_t>(child)));
      total += share;
      played_is_child |= child == tile;
    }
    EXPECT_NEAR(total, 1.0F, 1e-5) << "action " << i;
    EXPECT_TRUE(played_is_child);
    replay.apply(static_cast<std::uint64_t>(tile));
  }
  EXPECT_TRUE(replay.is_terminal());
  EXPECT_EQ(record.payoffs, replay.get_payoff());
}

TEST(TrainingGame, WithoutSimulationsEveryShareIsZero) {
  FakeNetwork network;
  RecordingSink sink;
  ASSERT_EQ(training_game(network, sink, training_config(10, 0)), kStatusPosted);
  for (const PolicyTarget& target : sink.records.at(0).policies) {
    for (const auto& [tile, share] : target) EXPECT_EQ(share, 0.0F);
    // Nothing visited: the last child is played.
  }
  EXPECT_EQ(sink.records[0].moves.front().second, sink.records[0].policies.front().back().first);
}

TEST(TrainingGame, FailuresPrintOneLineAndPostNothing) {
  struct Case {
    std::optional<std::size_t> failing_request;
    bool failing_post;
    std::string line;
  };
  const std::vector<Case> cases = {
      {0, false, "Error during training game: Error evaluating root node: RuntimeError: boom\n"},
      {3, false, "Error during training game: RuntimeError: boom\n"},
      {std::nullopt, true, "Error posting result: ValueError: full\n"},
  };
  for (const Case& c : cases) {
    FakeNetwork network;
    network.fail_at_request = c.failing_request;
    RecordingSink sink;
    if (c.failing_post) sink.failure = "ValueError: full";
    ::testing::internal::CaptureStdout();
    const std::uint8_t status = training_game(network, sink, training_config(8, 2));
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), c.line);
    EXPECT_EQ(status, kStatusErrorPrinted);
    EXPECT_TRUE(sink.records.empty());
  }
}

TEST(TrainingGame, RootWithoutChildrenIsInternalRatherThanALoop) {
  FakeNetwork network;
  network.policy = [](const Game& game) {
    return std::vector<float>(game.dim() * game.dim(), std::numeric_limits<float>::quiet_NaN());
  };
  RecordingSink sink;
  EXPECT_THROW(training_game(network, sink, training_config(8, 3)), InternalError);
}

TEST(TestAgainstRandom, AsksTheNetworkOnlyForPlayerZero) {
  FakeNetwork network;
  RecordingSink sink;
  Config config = training_config(10, 0);
  ASSERT_EQ(test_against_random(network, sink, config), kStatusPosted);
  ASSERT_EQ(sink.payoffs.size(), 1U);
  for (std::uint64_t player : network.players_asked) EXPECT_EQ(player, 0U);
  EXPECT_GT(network.players_asked.size(), 0U);
  const float payoff = sink.payoffs[0];
  EXPECT_TRUE(payoff == 0.0F || payoff == 1.0F || payoff == 0.5F || payoff == 1.0F / 3.0F || payoff == 0.25F);
}

TEST(TestAgainstRandom, EvaluationFailuresAreQuotedOnOneLine) {
  FakeNetwork failing;
  failing.fail_at_request = 2;
  RecordingSink sink;
  ::testing::internal::CaptureStdout();
  EXPECT_EQ(test_against_random(failing, sink, training_config(10, 0)), kStatusErrorPrinted);
  EXPECT_EQ(::testing::internal::GetCapturedStdout(),
            "Error running MCTS: \"Error evaluating root node: PyErr { boom }\"\n");

  FakeNetwork poisoned;
  poisoned.policy = [](const Game& game) {
    return std::vector<float>(game.dim() * game.dim(), std::numeric_limits<float>::infinity());
  };
  ::testing::internal::CaptureStdout();
  EXPECT_EQ(test_against_random(poisoned, sink, training_config(10, 0)), kStatusErrorPrinted);
  EXPECT_EQ(::testing::internal::GetCapturedStdout(),
            "Error running MCTS: \"Error evaluating root node: no legal tile has a positive prior\"\n");
  EXPECT_TRUE(sink.payoffs.empty());
}

TEST(TestGame, RoutesByPlayerOnASideTwentyBoard) {
  FakeNetwork candidate;
  FakeNetwork baseline;
  baseline.policy = descending_logits;
  ::testing::internal::CaptureStdout();
  const auto outcome = test_game(candidate, baseline);
  const std::string printed = ::testing::internal::GetCapturedStdout();
  ASSERT_TRUE(std::holds_alternative<float>(outcome));
  for (std::uint64_t player : candidate.players_asked) EXPECT_EQ(player, 0U);
  for (std::uint64_t player : baseline.players_asked) EXPECT_NE(player, 0U);
  ASSERT_EQ(printed.rfind("Finished Game\n", 0), 0U);
  // 20 board rows and the board's trailing empty line.
  EXPECT_EQ(std::count(printed.begin(), printed.end(), '\n'), 1 + 20 + 1);

  FakeNetwork failing;
  failing.fail_at_request = 0;
  ::testing::internal::CaptureStdout();
  EXPECT_EQ(std::get<std::string>(test_game(candidate, failing)), "Error running MCTS");
  EXPECT_EQ(::testing::internal::GetCapturedStdout(),
            "Error running MCTS: \"Error evaluating root node: PyErr { boom }\"\n");
}

}  // namespace
}  // namespace tavrin
