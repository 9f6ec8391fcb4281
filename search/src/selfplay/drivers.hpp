#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "engine/game.hpp"
#include "search/config.hpp"
#include "search/evaluator.hpp"
#include "selfplay/self_play_game.hpp"

namespace tavrin {

// Status codes of the training game and of the game against random players.
inline constexpr std::uint8_t kStatusPosted = 0;
inline constexpr std::uint8_t kStatusErrorPrinted = 1;

struct TrainingRecord {
  std::vector<HistoryEntry> moves;
  std::vector<PolicyTarget> policies;
  std::array<float, kPlayers> payoffs{};
};

// Where the drivers post their results; a failed post returns the display
// text of the failure.
class ResultSink {
 public:
  virtual std::optional<std::string> post_training_record(const TrainingRecord& record) = 0;
  virtual std::optional<std::string> post_payoff(float payoff) = 0;

 protected:
  ~ResultSink() = default;
};

// A self-play game searched with root noise; posts its training record.
std::uint8_t training_game(Evaluator& network, ResultSink& results, const Config& config);
// Player 0 plays the network's best tile, players 1 to 3 random legal tiles;
// posts player 0's payoff.
std::uint8_t test_against_random(Evaluator& network, ResultSink& results, const Config& config);
// Candidate (player 0) against baseline (players 1 to 3) on a board of side
// 20; prints the final board and gives player 0's payoff or the error text.
std::variant<float, std::string> test_game(Evaluator& candidate, Evaluator& baseline);

}  // namespace tavrin
