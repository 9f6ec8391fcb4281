#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "engine/game.hpp"

namespace tavrin {

// Final owner class of an empty cell (the classes before it are the players
// relative to the mover).
inline constexpr std::int8_t kNoOwner = kPlayers;

// The targets only the end of a game knows, for positions of that game whose
// players to move are `movers`: the final owner of every cell and every
// player's score margin, each seen from that position's mover. The one
// builder of these targets: the batched pool, the module's records and the
// demonstrations all take theirs from here.
struct FinalTargets {
  std::vector<std::int8_t> owners;  // movers x cells: final owner - mover (mod 4), kNoOwner if empty
  std::vector<float> score;         // movers x kPlayers: score margin of player mover + k
};

// `final` must be over and every mover below kPlayers.
FinalTargets final_targets(const Game& final, std::span<const std::uint8_t> movers);

}  // namespace tavrin
