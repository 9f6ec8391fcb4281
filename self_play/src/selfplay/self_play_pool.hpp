#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "search/network_output.hpp"
#include "search/search_settings.hpp"
#include "selfplay/self_play_game.hpp"

namespace tavrin {

// A game the pool finished, with what training needs beyond the module's
// record: every player's score and the final owner of every cell.
struct FinishedGame {
  std::uint64_t index = 0;  // the game number (see SelfPlayPool)
  std::vector<HistoryEntry> moves;
  std::vector<PolicyTarget> policies;  // empty where an action carries no target
  std::array<float, kPlayers> payoffs{};
  std::array<std::int32_t, kPlayers> scores{};
  std::vector<std::int8_t> owners;  // per cell: -1 empty, else the player
};

// Many self-play games in one thread, evaluated in batches: each round every
// game that waits on the network contributes one position, and the answers
// for the whole batch resume them all. The games share the search code of the
// module's training game, one SelfPlayGame each. With a seed in the
// settings, each game draws from the stream of its game number, so the same
// numbered games come out the same however they are shared among pools.
class SelfPlayPool {
 public:
  // `concurrent` games at a time until `total_games` have been played,
  // numbered from `first_game` in the order they start.
  SelfPlayPool(const SearchSettings& settings, std::size_t concurrent, std::size_t total_games,
               std::uint64_t first_game = 0);
  // One game from each start position (its own side), game i from position
  // i, e.g. one searched action per position with `options.action_limit` = 1.
  SelfPlayPool(const SearchSettings& settings, std::vector<Game> starts);

  bool done() const { return active_ == 0; }
  std::uint64_t dim() const { return dim_; }
  bool planes_last() const { return settings_.config.rep == 2; }
  std::uint64_t input_planes() const {
    return settings_.options.extended_planes ? kExtendedStatePlanes : kStatePlanes;
  }
  std::size_t pending() const;
  // Fills `out` (pending() x input_planes() x dim x dim bytes, or planes last) with the
  // positions waiting on the network; their order is the order `submit` reads.
  std::size_t write_batch(std::span<std::uint8_t> out);
  // Resumes every game of the last batch with its row of answers (dim * dim
  // policy logits, 4 value logits); games play on until they wait on the
  // network again or end. Answers that cannot be used (wrong row count, NaN
  // or infinity on a legal tile or among the values) change nothing and come
  // back as the reason.
  std::optional<std::string> submit(std::span<const float> policy_logits, std::span<const float> value_logits);
  std::vector<FinishedGame> take_finished();
  std::size_t batch_size() const { return batch_.size(); }
  std::uint64_t evaluations() const { return evaluations_; }

 private:
  struct Slot {
    std::optional<SelfPlayGame> game;
    const Game* waiting = nullptr;
    std::uint64_t index = 0;
  };

  std::optional<std::string> check_answers(std::span<const float> policy_logits,
                                           std::span<const float> value_logits) const;
  void start(Slot& slot, std::optional<Game> start);
  // Advances the slot's game to its next request, finishing (and refilling)
  // the slot when the game ends.
  void resume(Slot& slot);

  SearchSettings settings_;
  std::uint64_t first_game_ = 0;
  std::uint64_t dim_ = 0;
  std::size_t total_games_ = 0;
  std::size_t started_ = 0;
  std::size_t active_ = 0;
  std::uint64_t evaluations_ = 0;
  std::vector<Slot> slots_;
  std::vector<std::size_t> batch_;  // slot of each row of the last batch
  bool batch_open_ = false;
  std::vector<FinishedGame> finished_;
  NetworkOutputDecoder decoder_;
};

}  // namespace tavrin
