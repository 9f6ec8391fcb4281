#include <gtest/gtest.h>

#include <set>
#include <vector>

#include "engine/game.hpp"
#include "search/random.hpp"
#include "selfplay/evaluation_cache.hpp"
#include "selfplay/position_hash.hpp"

namespace tavrin {
namespace {

std::vector<std::uint8_t> network_input(const Game& game) {
  std::vector<std::uint8_t> planes(kExtendedStatePlanes * game.dim() * game.dim());
  game.write_extended_state(false, planes);
  return planes;
}

Game after(std::uint64_t dim, std::initializer_list<std::uint64_t> tiles) {
  Game game = Game::reset(dim);
  for (std::uint64_t tile : tiles) EXPECT_FALSE(game.apply(tile).has_value()) << tile;
  return game;
}

TEST(PositionHasher, TheSquaresOfOnePieceInAnyOrderAreOnePosition) {
  const PositionHasher hasher(8);
  const Game start = Game::reset(8);
  // Two squares of player 0's first piece, laid in both orders.
  bool found = false;
  for (std::uint64_t first : start.get_legal_tiles()) {
    Game one = start;
    one.apply(first);
    for (std::uint64_t second : one.get_legal_tiles()) {
      if (!start.is_legal(second)) continue;
      const Game forward = after(8, {first, second});
      const Game backward = after(8, {second, first});
      EXPECT_EQ(hasher.hash(forward), hasher.hash(backward));
      EXPECT_EQ(network_input(forward), network_input(backward));
      EXPECT_NE(hasher.hash(forward), hasher.hash(one));
      found = true;
    }
  }
  EXPECT_TRUE(found);
}

TEST(PositionHasher, EveryPositionOfAGameHasItsOwnKey) {
  const PositionHasher hasher(8);
  random::Generator generator = random::Generator::seeded(3);
  Game game = Game::reset(8);
  std::set<std::uint64_t> keys{hasher.hash(game)};
  std::size_t positions = 1;
  while (!game.is_terminal()) {
    const auto legal = game.get_legal_tiles();
    game.apply(legal[generator.uniform_index(legal.size())]);
    keys.insert(hasher.hash(game));
    ++positions;
  }
  EXPECT_EQ(keys.size(), positions);
}

TEST(EvaluationCache, AnswersWhatWasStoredAndNeverPriorsOfAnotherLength) {
  EvaluationCache cache(3);  // rounded up to 4 slots
  const std::vector<float> priors{0.25F, 0.75F};
  const std::vector<float> values{0.1F, 0.2F, 0.3F, 0.4F};
  EXPECT_FALSE(cache.find(9, 2).has_value());
  cache.store(9, {priors, values});
  const auto found = cache.find(9, 2);
  ASSERT_TRUE(found.has_value());
  EXPECT_EQ(std::vector<float>(found->priors.begin(), found->priors.end()), priors);
  EXPECT_EQ(std::vector<float>(found->values.begin(), found->values.end()), values);
  EXPECT_FALSE(cache.find(9, 3).has_value());   // a colliding key of a position with other legal tiles
  EXPECT_FALSE(cache.find(13, 2).has_value());  // same slot, another key
  cache.store(13, {priors, values});            // replaces key 9
  EXPECT_FALSE(cache.find(9, 2).has_value());
  EXPECT_EQ(cache.lookups(), 5U);
  EXPECT_EQ(cache.hits(), 1U);

  EvaluationCache off(0);
  off.store(9, {priors, values});
  EXPECT_FALSE(off.enabled() || off.find(9, 2).has_value());
}

}  // namespace
}  // namespace tavrin
