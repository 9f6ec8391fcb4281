#pragma once

#include <cstdint>
#include <vector>

#include "engine/game.hpp"
#include "search/random.hpp"

namespace tavrin::players {

// What a rollout search found at the root: the tile it plays and the visits
// of every root child, in ascending tile order.
struct RolloutChoice {
  std::uint64_t tile = 0;
  std::vector<std::pair<std::uint64_t, std::uint32_t>> visits;
};

// The exploration constant of the UCB1 score; payoffs lie in [0, 1].
inline constexpr double kRolloutExploration = 1.0;

// UCT over tiles with uniformly random playouts to the end of the game. Each
// node holds the payoffs of the player who moved into it, so four players
// (and one player laying several squares in a row) back up correctly. Plays
// the most visited root child, ties to the lower tile. Needs a game that is
// not over and at least one simulation (InternalError otherwise).
RolloutChoice rollout_search(const Game& game, std::uint64_t simulations, random::Generator& random);

// Plays uniformly random legal tiles until the game is over.
void random_playout(Game& game, random::Generator& random);

}  // namespace tavrin::players
