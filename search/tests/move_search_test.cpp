#include <gtest/gtest.h>

#include <cstdint>
#include <numeric>
#include <vector>

#include "engine/game.hpp"
#include "search/move_search.hpp"
#include "search_testing/random_positions.hpp"

namespace tavrin {
namespace {

using testing::advanced_game;

// A stand-in network: priors that favour low tiles, a value that depends on
// the position, so that the searches differ from leaf to leaf.
struct StandIn {
  std::vector<float> priors;
  std::vector<float> values;
  LeafValues answer(const Game& position) {
    const auto tiles = position.get_legal_tiles();
    priors.resize(tiles.size());
    float total = 0.0F;
    for (std::size_t k = 0; k < tiles.size(); ++k) total += priors[k] = 1.0F / static_cast<float>(1 + k);
    for (float& prior : priors) prior /= total;
    const float own = static_cast<float>(position.history().size() % 7) / 10.0F;
    values = {own, 0.3F - own / 3, 0.3F - own / 3, 0.4F - own / 3};
    return LeafValues{priors, values};
  }
};

SearchSettings settings_with(std::uint32_t leaf_batch, std::uint32_t gumbel_candidates) {
  SearchSettings settings;
  settings.config = Config{8, 1, 48, 0, 1.5F, 0.5, 0.0F};
  settings.options.leaf_batch = leaf_batch;
  settings.options.gumbel_candidates = gumbel_candidates;
  return settings;
}

// Runs one action's search; the number of network calls it made.
std::size_t search_action(MoveSearch& search, StandIn& network, std::size_t* widest = nullptr) {
  std::size_t calls = 0;
  while (true) {
    const auto pending = search.advance();
    if (pending.empty()) return calls;
    ++calls;
    if (widest != nullptr) *widest = std::max(*widest, pending.size());
    for (std::size_t i = 0; i < pending.size(); ++i) search.provide(i, network.answer(*pending[i]));
  }
}

std::uint32_t child_visits(const SearchNode& node) {
  return std::accumulate(node.children.begin(), node.children.end(), 0U,
                         [](std::uint32_t sum, const SearchNode& child) { return sum + child.visit_count; });
}

// Every simulation of a batched search is backed up once, its virtual
// visits taken back: the counts add up as in a search of one leaf at a time,
// with fewer network calls, and near the end of a game (many descents
// reaching the same leaf) too.
TEST(MoveSearch, LeafBatchesCountEverySimulationOnceWithFewerCalls) {
  for (std::uint32_t gumbel : {0U, 8U}) {
    for (std::uint64_t played : {0U, 20U, 60U}) {
      const Game start = advanced_game(8, played, played + 3);
      if (start.is_terminal() || start.get_legal_tiles().size() < 2) continue;
      StandIn network;
      MoveSearch one(settings_with(1, gumbel), random::RandomSource::seeded(1), start);
      MoveSearch eight(settings_with(8, gumbel), random::RandomSource::seeded(1), start);
      one.begin_action(48, true);
      eight.begin_action(48, true);
      std::size_t widest = 0;
      const std::size_t calls_one = search_action(one, network);
      const std::size_t calls_eight = search_action(eight, network, &widest);
      EXPECT_EQ(one.simulations_done(), eight.simulations_done()) << "gumbel " << gumbel << ", played " << played;
      EXPECT_EQ(child_visits(eight.root()), eight.simulations_done());
      EXPECT_EQ(eight.root().visit_count, eight.simulations_done());
      EXPECT_LE(widest, 8U);
      EXPECT_LT(calls_eight, calls_one);
      EXPECT_NO_THROW(eight.best_tile());
    }
  }
}

// Abandoning a search takes back its pending descents; the next search goes
// on from the same tree, and the tree follows the tiles played.
TEST(MoveSearch, AbandonedSearchLeavesTheTreeWholeAndTheSubtreeIsKept) {
  StandIn network;
  MoveSearch search(settings_with(4, 0), random::RandomSource::seeded(2), Game::reset(8));
  search.begin_action(48, true);
  search_action(search, network);
  const std::uint32_t visits = search.root().visit_count;
  search.begin_action(48, true);
  const auto pending = search.advance();
  ASSERT_FALSE(pending.empty());
  search.abandon();
  EXPECT_EQ(search.root().visit_count, visits);
  EXPECT_EQ(child_visits(search.root()), visits);

  const std::uint64_t tile = search.best_tile();
  const SearchNode* child = nullptr;
  for (const SearchNode& node : search.root().children) {
    if (node.action == tile) child = &node;
  }
  ASSERT_NE(child, nullptr);
  const std::uint32_t kept = child->visit_count;
  search.play(tile);
  EXPECT_EQ(search.root().visit_count, kept);
  EXPECT_GT(kept, 0U);
}

}  // namespace
}  // namespace tavrin
