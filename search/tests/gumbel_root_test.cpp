#include <gtest/gtest.h>

#include <numeric>
#include <set>
#include <vector>

#include "search/gumbel_root.hpp"

namespace tavrin {
namespace {

SearchNode root_with_priors(const std::vector<float>& priors, float value_estimate) {
  SearchNode root;
  root.value_estimate = value_estimate;
  for (std::size_t c = 0; c < priors.size(); ++c) {
    SearchNode child;
    child.action = static_cast<std::uint32_t>(10 + c);
    child.prior = priors[c];
    root.children.push_back(child);
  }
  return root;
}

void visit(SearchNode& root, std::size_t child, float value) {
  root.children[child].visit_count += 1;
  root.children[child].value_sum += value;
  root.visit_count += 1;
}

TEST(SequentialHalving, SpendsAtMostTheBudgetOnTheCandidatesAndPicksTheBestValue) {
  // Twenty children, priors falling with the index; the true values rise
  // with it, so the best candidate by value is the last of the top eight.
  std::vector<float> priors(20);
  for (std::size_t c = 0; c < priors.size(); ++c) priors[c] = static_cast<float>(20 - c) / 210.0F;
  SearchNode root = root_with_priors(priors, 0.25F);
  auto random = random::Generator::seeded(1);
  SequentialHalving halving;
  halving.start(root, 32, 8, false, random);
  std::set<std::size_t> visited;
  std::uint32_t simulations = 0;
  while (auto child = halving.next_child(root)) {
    visited.insert(*child);
    visit(root, *child, 0.1F + 0.1F * static_cast<float>(*child));
    ++simulations;
  }
  EXPECT_LE(simulations, 32U);
  EXPECT_GE(simulations, 8U);
  EXPECT_EQ(visited, (std::set<std::size_t>{0, 1, 2, 3, 4, 5, 6, 7}));
  EXPECT_EQ(halving.chosen_child(root), 7U);
  // The survivors of each halving got more visits than the children dropped first.
  EXPECT_GT(root.children[7].visit_count, root.children[0].visit_count);
}

TEST(SequentialHalving, ImprovedPolicyRaisesWhatSearchFoundGoodAndSumsToOne) {
  SearchNode root = root_with_priors({0.4F, 0.4F, 0.2F}, 0.3F);
  visit(root, 0, 0.2F);
  visit(root, 1, 0.6F);
  auto random = random::Generator::seeded(2);
  SequentialHalving halving;
  halving.start(root, 4, 3, true, random);
  const std::vector<float> policy = halving.improved_policy(root);
  ASSERT_EQ(policy.size(), 3U);
  EXPECT_NEAR(std::accumulate(policy.begin(), policy.end(), 0.0F), 1.0F, 1e-6F);
  EXPECT_GT(policy[1], 0.9F);  // equal priors, the better q takes nearly all
  EXPECT_GT(policy[2], policy[0]);  // unvisited: the mixed value (about 0.37) beats a q of 0.2
}

TEST(SequentialHalving, GumbelNoiseVariesTheCandidatesButTheSeedFixesThem) {
  const SearchNode root = root_with_priors(std::vector<float>(12, 1.0F / 12.0F), 0.25F);
  auto first_candidates = [&](std::uint64_t seed) {
    auto random = random::Generator::seeded(seed);
    SequentialHalving halving;
    halving.start(root, 4, 4, true, random);
    std::vector<std::size_t> out;
    while (auto child = halving.next_child(root)) out.push_back(*child);
    return out;
  };
  EXPECT_EQ(first_candidates(5), first_candidates(5));
  std::set<std::vector<std::size_t>> seen;
  for (std::uint64_t seed = 0; seed < 8; ++seed) seen.insert(first_candidates(seed));
  EXPECT_GT(seen.size(), 4U);
}

}  // namespace
}  // namespace tavrin
