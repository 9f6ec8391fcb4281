#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "engine/internal_error.hpp"
#include "search/search.hpp"
#include "search_testing/fake_network.hpp"

namespace tavrin {
namespace {

using testing::FakeNetwork;

// The root list of children with these (action, visits), in this order.
RootVisits visits_of(std::initializer_list<std::pair<std::uint32_t, std::uint32_t>> counts) {
  SearchNode root;
  for (const auto& [action, visits] : counts) {
    SearchNode child;
    child.action = action;
    child.visit_count = visits;
    root.children.push_back(child);
  }
  return counts.size() == 0 ? RootVisits{} : root_visits(root);
}

TEST(GreedyAction, MostVisitedWinsAndTiesGoToTheLaterEntry) {
  EXPECT_EQ(greedy_action(visits_of({{4, 1}, {9, 7}, {2, 3}})), 9U);
  EXPECT_EQ(greedy_action(visits_of({{4, 7}, {9, 2}, {2, 7}})), 2U);
  EXPECT_THROW(greedy_action({}), InternalError);
}

TEST(SampleAction, FollowsTheCountsAndFallsBackToTheLastEntry) {
  random::Generator generator = random::Generator::seeded(1);
  for (int i = 0; i < 200; ++i) EXPECT_EQ(sample_action(visits_of({{4, 0}, {9, 5}, {2, 0}}), generator), 9U);
  EXPECT_EQ(sample_action(visits_of({{4, 0}, {9, 0}, {2, 0}}), generator), 2U);
  EXPECT_THROW(sample_action({}, generator), InternalError);

  constexpr int kDraws = 8000;
  const RootVisits one_in_four = visits_of({{1, 1}, {2, 3}});
  int first = 0;
  for (int i = 0; i < kDraws; ++i) first += sample_action(one_in_four, generator) == 1U ? 1 : 0;
  // Expected 2000, standard deviation about 39.
  EXPECT_NEAR(first, kDraws / 4, 250);
}

TEST(RootVisits, FollowChildOrderWithSharesAndAnEmptyRootIsInternal) {
  EXPECT_THROW(root_visits(SearchNode{}), InternalError);
  const RootVisits visits = visits_of({{2, 20}, {5, 50}, {8, 30}});
  ASSERT_EQ(visits.size(), 3U);
  EXPECT_EQ(visits[1].action, 5U);
  EXPECT_EQ(visits[1].visits, 50U);
  EXPECT_EQ(visits[1].share, 0.5F);
  EXPECT_EQ(visits_of({{2, 0}, {5, 0}})[0].share, 0.0F);
}

SearchNode root_with_priors(const std::vector<float>& priors) {
  SearchNode root;
  for (std::size_t i = 0; i < priors.size(); ++i) {
    SearchNode child;
    child.action = static_cast<std::uint32_t>(i);
    child.prior = priors[i];
    root.children.push_back(child);
  }
  return root;
}

TEST(RootNoise, MixesByFractionAndKeepsPriorsWhenTheFractionIsZero) {
  random::Generator generator = random::Generator::seeded(2);
  const std::vector<float> priors{0.1F, 0.2F, 0.3F, 0.4F};
  SearchNode untouched = root_with_priors(priors);
  mix_root_noise(untouched, 0.3, 0.0F, 1.0F, generator);
  for (std::size_t i = 0; i < priors.size(); ++i) EXPECT_EQ(untouched.children[i].prior, priors[i]);

  SearchNode noisy = root_with_priors(priors);
  mix_root_noise(noisy, 0.3, 0.25F, 0.75F, generator);
  float total = 0.0F;
  for (std::size_t i = 0; i < priors.size(); ++i) {
    EXPECT_GE(noisy.children[i].prior, 0.75F * priors[i]);
    EXPECT_LE(noisy.children[i].prior, 0.75F * priors[i] + 0.25F + 1e-6F);
    total += noisy.children[i].prior;
  }
  EXPECT_NEAR(total, 1.0F, 1e-5);
}

TEST(RootNoise, ConcentrationMustBePositive) {
  random::Generator generator = random::Generator::seeded(3);
  SearchNode root = root_with_priors({0.5F, 0.5F});
  EXPECT_THROW(mix_root_noise(root, 0.0, 0.25F, 0.75F, generator), InternalError);
  EXPECT_THROW(mix_root_noise(root, std::numeric_limits<double>::quiet_NaN(), 0.25F, 0.75F, generator),
               InternalError);
}

TEST(BestAction, HighestPriorWinsAndTiesGoToTheLowerTile) {
  const Game game = Game::reset(20);
  FakeNetwork network;
  EXPECT_EQ(std::get<std::uint64_t>(best_action(network, game)), game.get_legal_tiles().front());
  network.policy = [](const Game&) {
    std::vector<float> logits(400, 0.0F);
    logits[44] = 3.0F;
    logits[22] = 3.0F;
    return logits;
  };
  EXPECT_EQ(std::get<std::uint64_t>(best_action(network, game)), 22U);
}

TEST(BestAction, FailureOrNoPositivePriorIsAnErrorText) {
  const Game game = Game::reset(20);
  FakeNetwork failing;
  failing.fail_at_request = 0;
  EXPECT_EQ(std::get<std::string>(best_action(failing, game)), "Error evaluating root node: PyErr { boom }");
  FakeNetwork poisoned;
  poisoned.policy = [](const Game&) { return std::vector<float>(400, std::numeric_limits<float>::quiet_NaN()); };
  EXPECT_EQ(std::get<std::string>(best_action(poisoned, game)),
            "Error evaluating root node: no legal tile has a positive prior");
}

}  // namespace
}  // namespace tavrin
