#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

#include "engine/game.hpp"
#include "search/playout.hpp"

namespace tavrin {

// The exploration constant of the rollout player's UCB1 score; payoffs lie in [0, 1].
inline constexpr float kRolloutExploration = 1.0F;

// What a rollout search found at the root: the tile it plays and the visits
// of every root child, in ascending tile order.
struct RolloutChoice {
  std::uint64_t tile = 0;
  std::uint64_t simulations = 0;  // those it made
  std::vector<std::pair<std::uint64_t, std::uint32_t>> visits;
};

// The classical player: the shared search with leaves valued by one random
// playout to the end of the game, UCB1 selection (unvisited children first in
// random order) and the most visited root child played, ties to the lower
// tile. Draws from a stream seeded from `seed`. Needs a game that is not
// over and at least one simulation (InternalError otherwise). With a
// `budget`, it stops starting simulations once that time has passed (after
// the first), `simulations` then a bound.
RolloutChoice rollout_search(const Game& game, std::uint64_t simulations, std::uint64_t seed,
                             std::optional<std::chrono::nanoseconds> budget = std::nullopt,
                             PlayoutPolicy policy = PlayoutPolicy::kUniform);

}  // namespace tavrin
