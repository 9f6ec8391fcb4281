#include <gtest/gtest.h>

#include <limits>

#include "engine/internal_error.hpp"
#include "search/search.hpp"
#include "search_testing/blocking_search.hpp"
#include "search_testing/fake_network.hpp"
#include "search_testing/tree.hpp"

namespace tavrin {
namespace {

using testing::count_nodes;
using testing::FakeNetwork;

SearchNode node_with_children(std::vector<std::pair<std::uint32_t, float>> action_priors) {
  SearchNode node;
  for (const auto& [action, prior] : action_priors) {
    SearchNode child;
    child.action = action;
    child.prior = prior;
    node.children.push_back(child);
  }
  return node;
}

TEST(SelectChild, EqualScoresGoToTheLargerAction) {
  SearchNode node = node_with_children({{3, 0.2F}, {7, 0.5F}, {9, 0.3F}});
  // An unvisited parent gives no exploration term: every score is 0.
  EXPECT_EQ(select_child(node, 1.5F), 2U);
  node.visit_count = 4;
  EXPECT_EQ(select_child(node, 1.5F), 1U);  // now the prior decides
  node.children[0].visit_count = 1;
  node.children[0].value_sum = 1.0F;
  EXPECT_EQ(select_child(node, 0.5F), 0U);  // a won visit outweighs the prior
}

TEST(SelectChild, NonFiniteScoreIsInternal) {
  SearchNode node = node_with_children({{1, 0.5F}, {2, 0.5F}});
  node.visit_count = 1;
  EXPECT_THROW(select_child(node, std::numeric_limits<float>::infinity()), InternalError);
  node.children[1].visit_count = 1;
  node.children[1].value_sum = std::numeric_limits<float>::quiet_NaN();
  EXPECT_THROW(select_child(node, 1.0F), InternalError);
}

TEST(Backup, EachChildGetsTheValueOfThePlayerWhoChoseIt) {
  SearchNode root = node_with_children({{5, 1.0F}});
  root.player = 1;
  SearchNode& middle = root.children[0];
  middle.player = 2;
  middle.children.push_back(SearchNode{});
  SearchNode& leaf = middle.children[0];
  leaf.player = 3;
  std::vector<SearchNode*> path{&root, &middle, &leaf};
  backup(path, std::vector<float>{0.1F, 0.2F, 0.3F, 0.4F});
  EXPECT_EQ(middle.value_sum, 0.2F);
  EXPECT_EQ(leaf.value_sum, 0.3F);
  EXPECT_EQ(middle.visit_count, 1U);
  EXPECT_EQ(leaf.visit_count, 1U);
  EXPECT_EQ(root.visit_count, 1U);
  EXPECT_EQ(root.value_sum, 0.0F);
  EXPECT_THROW(backup(path, std::vector<float>{0.1F, 0.2F}), InternalError);
}

TEST(Search, EverySimulationCountsAtTheRootAndVisitsOneRootChild) {
  FakeNetwork network;
  const Game game = Game::reset(20);
  Search search(1.5F);
  SearchNode root;
  ASSERT_FALSE(testing::prepare_root(network, root, game));
  ASSERT_FALSE(testing::run_simulations(network, search, root, game, 24));
  EXPECT_EQ(root.visit_count, 24U);
  std::uint32_t child_visits = 0;
  std::size_t visited_children = 0;
  for (const SearchNode& child : root.children) {
    child_visits += child.visit_count;
    visited_children += child.visit_count > 0 ? 1 : 0;
  }
  EXPECT_EQ(child_visits, 24U);
  // Once the root has a count the exploration term spreads the visits.
  EXPECT_GT(visited_children, 1U);
  EXPECT_EQ(network.players_asked.size(), 25U);  // root, then one leaf per simulation
}

std::size_t visited_root_children(const SearchNode& root) {
  std::size_t visited = 0;
  for (const SearchNode& child : root.children) visited += child.visit_count > 0 ? 1 : 0;
  return visited;
}

TEST(Search, FirstPlayValueFromTheParentWidensTheSearch) {
  // Even priors, every value 1/4: a tried child is worth 1/4 to its chooser.
  const Game game = Game::reset(20);
  auto visited_with = [&](std::optional<float> reduction) {
    FakeNetwork network;
    Search search(1.5F, reduction);
    SearchNode root;
    EXPECT_FALSE(testing::prepare_root(network, root, game));
    EXPECT_FLOAT_EQ(root.value_estimate, 0.25F);
    EXPECT_FALSE(testing::run_simulations(network, search, root, game, 12));
    return visited_root_children(root);
  };
  // Valued at 0, untried children trail every tried one: few are tried.
  EXPECT_LE(visited_with(std::nullopt), 6U);
  // Valued at the parent's 1/4, the exploration term picks a new one each
  // time (the first tile has 15 children).
  EXPECT_EQ(visited_with(0.0F), 12U);
  // A reduction at least the parent's value is the rule of 0 again.
  EXPECT_EQ(visited_with(0.25F), visited_with(std::nullopt));
}

TEST(Search, KeptSubtreeNeedsNoRootEvaluationAndKeepsItsCounts) {
  FakeNetwork network;
  Game game = Game::reset(20);
  Search search(1.5F);
  SearchNode root;
  ASSERT_FALSE(testing::prepare_root(network, root, game));
  ASSERT_FALSE(testing::run_simulations(network, search, root, game, 40));
  const RootVisits visits = root_visits(root);
  const std::uint64_t action = greedy_action(visits);
  const SearchNode& chosen = *root.find_child(action);
  const std::uint32_t kept_visits = chosen.visit_count;
  const std::size_t kept_nodes = count_nodes(chosen);
  ASSERT_TRUE(chosen.is_expanded());
  game.apply(action);
  advance_root(root, action);
  EXPECT_EQ(root.visit_count, kept_visits);
  EXPECT_EQ(count_nodes(root), kept_nodes);  // the old root and its other subtrees are gone

  const std::size_t requests = network.players_asked.size();
  ASSERT_FALSE(testing::prepare_root(network, root, game));
  EXPECT_EQ(network.players_asked.size(), requests);
  EXPECT_THROW(advance_root(root, 100000), InternalError);
}

TEST(Search, FailedLeafStopsTheSearchAndKeepsEarlierBackups) {
  FakeNetwork network;
  network.fail_at_request = 4;  // root, three good simulations, then failure
  const Game game = Game::reset(20);
  Search search(1.5F);
  SearchNode root;
  ASSERT_FALSE(testing::prepare_root(network, root, game));
  EXPECT_EQ(testing::run_simulations(network, search, root, game, 10), "RuntimeError: boom");
  EXPECT_EQ(root.visit_count, 3U);
  EXPECT_EQ(network.players_asked.size(), 5U);

  FakeNetwork failing_root;
  failing_root.fail_at_request = 0;
  SearchNode fresh;
  EXPECT_EQ(testing::prepare_root(failing_root, fresh, game), "Error evaluating root node: RuntimeError: boom");
}

}  // namespace
}  // namespace tavrin
