#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

#include "engine/game.hpp"
#include "selfplay/final_targets.hpp"

namespace tavrin {

// (tile, share of the root's visits) for every root child at one action.
using PolicyTarget = std::vector<std::pair<std::int32_t, float>>;

// The training positions of one game, laid out as the trainer's replay
// buffer keeps them, planes first whatever the network's layout: per
// position the board planes (5, or the 6 extended board planes), the hands
// (kHandPlanes entries when extended, else none), and the value, ownership
// and score targets relative to the player to move. The policy target is the
// game's own record of each action (SelfPlayGame::policies), not repeated.
struct TrainingExamples {
  std::uint64_t count = 0;
  std::uint64_t board_planes = kStatePlanes;
  std::uint64_t hand_entries = 0;
  std::vector<std::uint8_t> planes;  // count x board_planes x cells, 0 or 1
  std::vector<std::uint8_t> hands;   // count x hand_entries, 0 or 1
  std::vector<float> value;          // count x kPlayers: payoff of player mover + k
  std::vector<std::int8_t> owners;   // count x cells: final owner - mover (mod 4), kNoOwner if empty
  std::vector<float> score;          // count x kPlayers: score margin of player mover + k
};

// Collects the positions as the game plays them, and their targets once it
// is over.
class ExampleRecorder {
 public:
  // `searched_value_weight`: share of each position's searched value in its
  // value target, beside the game's outcome.
  ExampleRecorder(std::uint64_t dim, bool extended_planes, float searched_value_weight = 0.0F);

  // The position before its action is played (an action that records a
  // policy target) and, when it was searched, the mean value per absolute
  // player of its simulations.
  void add(const Game& position, const std::optional<std::array<float, kPlayers>>& searched = std::nullopt);
  // Fills the targets that only the end of the game knows; `final` is the
  // terminal position. Gives the examples away.
  TrainingExamples finish(const Game& final);

 private:
  std::uint64_t cells_;
  bool extended_;
  float searched_weight_;
  TrainingExamples examples_;
  std::vector<std::uint8_t> movers_;
  std::vector<std::optional<std::array<float, kPlayers>>> searched_;
};

}  // namespace tavrin
