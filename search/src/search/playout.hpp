#pragma once

#include <array>
#include <cstdint>
#include <optional>

#include "engine/game.hpp"
#include "search/random.hpp"

namespace tavrin {

// Plays uniformly random legal tiles until the game is over.
void random_playout(Game& game, random::Generator& random);

// The mean payoff per absolute player of `count` random playouts from a
// position. Keeps its scratch game between calls: nothing is allocated once warm.
class PlayoutValuer {
 public:
  std::array<float, kPlayers> mean_payoff(const Game& position, std::uint32_t count, random::Generator& random);

 private:
  std::optional<Game> scratch_;
};

}  // namespace tavrin
