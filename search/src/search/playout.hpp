#pragma once

#include <array>
#include <cstdint>
#include <optional>

#include "engine/game.hpp"
#include "search/random.hpp"

namespace tavrin {

// How a random playout chooses its tiles.
enum class PlayoutPolicy : std::uint8_t {
  kUniform,  // a uniformly random legal tile
  // At the start of each piece, a whole placement drawn in proportion to the
  // square of its size, its squares then laid one by one (and uniformly
  // random tiles after them while a larger placement still holds them): as
  // players do, large pieces first, at the price of one pass over the
  // piece's placements.
  kLargerPieces,
};

// Plays random legal tiles until the game is over.
void random_playout(Game& game, random::Generator& random, PlayoutPolicy policy = PlayoutPolicy::kUniform);

// The mean payoff per absolute player of `count` random playouts from a
// position. Keeps its scratch game between calls: nothing is allocated once warm.
class PlayoutValuer {
 public:
  explicit PlayoutValuer(PlayoutPolicy policy = PlayoutPolicy::kUniform) : policy_(policy) {}
  std::array<float, kPlayers> mean_payoff(const Game& position, std::uint32_t count, random::Generator& random);

 private:
  PlayoutPolicy policy_;
  std::optional<Game> scratch_;
};

}  // namespace tavrin
