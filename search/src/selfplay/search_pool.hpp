#pragma once

#include <array>
#include <cstdint>
#include <future>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "search/network_output.hpp"
#include "selfplay/evaluation_cache.hpp"
#include "selfplay/position_hash.hpp"
#include "selfplay/self_play_game.hpp"
#include "selfplay/self_play_options.hpp"
#include "selfplay/training_examples.hpp"

namespace tavrin {

// A game the pool finished: the module's record (moves, policy targets,
// payoffs) and its training positions.
struct FinishedGame {
  std::uint64_t index = 0;  // the game number (see SearchPool)
  std::vector<HistoryEntry> moves;
  std::vector<PolicyTarget> policies;  // empty where an action carries no target
  std::array<float, kPlayers> payoffs{};
  TrainingExamples examples;         // none for a game from a given position
  std::vector<std::vector<PlacementVisits>> placements;  // with options.placement_shares
};

// Many self-play games in one thread, evaluated in batches: each round every
// game that waits on the network contributes its positions (one, or up to
// its leaf batch), and the answers
// for the whole batch resume them all. The games share the search code of the
// module's training game, one SelfPlayGame each. With a seed in the
// settings, each game draws from the stream of its game number, so the same
// numbered games come out the same however they are shared among pools.
//
// With `options.evaluation_cache`, a position reached again (in this
// pool, by any game) is answered from the cache, and the games of one batch
// that wait on the same position share one row: the network sees each
// position once. The answers are the network's own, so the games play as
// they would without the cache, given a network whose answer to a position
// does not depend on the rest of its batch.
class SearchPool {
 public:
  // `concurrent` games at a time until `total_games` have been played,
  // numbered from `first_game` in the order they start.
  SearchPool(const SearchSettings& settings, std::size_t concurrent, std::size_t total_games,
               std::uint64_t first_game = 0);
  // One game from each start position (its own side), game i from position
  // i, e.g. one searched action per position with `options.action_limit` = 1.
  // `seeds`, when given, one per position: game i draws from a stream seeded
  // from seeds[i] alone (a player handed each game's own stream), whatever
  // `settings.seed` says.
  SearchPool(const SearchSettings& settings, std::vector<Game> starts, std::vector<std::uint64_t> seeds = {});
  SearchPool(SearchPool&&) = default;
  // Waits for the playouts of an open batch.
  ~SearchPool();

  bool done() const { return active_ == 0; }
  std::uint64_t dim() const { return dim_; }
  bool planes_last() const { return settings_.config.rep == 2; }
  std::uint64_t input_planes() const {
    return settings_.options.extended_planes ? kExtendedStatePlanes : kStatePlanes;
  }
  std::size_t pending() const;
  // Gathers the games waiting on the network into the rows of a batch, one
  // row per distinct position; returns the row count. Asking again before
  // `submit` gives the same rows. A mixed search's playouts from the
  // batch's leaves start on a thread of their own, to run while the caller
  // computes the network's answers; `submit` waits for them.
  std::size_t open_batch();
  // The open batch's rows: all input_planes() planes per row (the hands
  // widened over the board as Game::write_extended_state does), into
  // rows x input_planes() x dim x dim bytes, or planes last.
  void write_batch(std::span<std::uint8_t> out) const;
  // The open batch's rows with the hands as one entry per hand plane: the
  // board planes into rows x board_planes() x dim x dim bytes (or planes
  // last), the hands into rows x hand_entries() bytes.
  void write_inputs(std::span<std::uint8_t> board_out, std::span<std::uint8_t> hands_out) const;
  std::uint64_t board_planes() const { return settings_.options.extended_planes ? kExtendedBoardPlanes : kStatePlanes; }
  std::uint64_t hand_entries() const { return settings_.options.extended_planes ? kHandPlanes : 0; }
  // Resumes every game of the open batch with its row of answers (dim * dim
  // policy logits, 4 value logits); games play on until they wait on the
  // network again or end. Answers that cannot be used (wrong row count, NaN
  // or infinity on a legal tile or among the values) change nothing and come
  // back as the reason.
  std::optional<std::string> submit(std::span<const float> policy_logits, std::span<const float> value_logits);
  std::vector<FinishedGame> take_finished();
  std::size_t batch_size() const { return rows_.size(); }
  // Network answers used (rows submitted), positions the games asked for,
  // and those of them answered without a row of their own (from the cache,
  // or sharing a row of their batch).
  std::uint64_t evaluations() const { return evaluations_; }
  std::uint64_t requests() const { return requests_; }
  std::uint64_t answered_without_network() const { return cache_.hits() + shared_rows_; }

 private:
  // A position a game waits on: its place among the game's pending
  // positions, and its key with the cache on.
  struct Waiting {
    std::size_t index = 0;
    const Game* position = nullptr;
    std::uint64_t key = 0;
  };
  struct Slot {
    std::optional<SelfPlayGame> game;
    std::vector<Waiting> waiting;  // more than one with a leaf batch
    std::size_t unanswered = 0;   // of `waiting`, in the open batch
    bool in_batch = false;        // waits on the open batch, not yet resumed
    std::uint64_t index = 0;
  };
  // One position of the open batch: waiting[entry] of slots_[slot].
  struct Member {
    std::size_t slot = 0;
    std::size_t entry = 0;
  };
  // The positions of one batch row: members_[first, first + count), all
  // the same position.
  struct Row {
    std::size_t first = 0;
    std::size_t count = 0;
  };

  void finish_playouts();
  std::optional<std::string> check_answers(std::span<const float> policy_logits,
                                           std::span<const float> value_logits) const;
  // Starts the next game in `slot` and plays it to its first request.
  void start(Slot& slot, std::optional<Game> start);
  // Starts the next game in `slot` without playing it.
  void begin(Slot& slot, std::optional<Game> start);
  // Advances the slot's game to its next request, finishing (and refilling)
  // the slot when the game ends.
  void resume(Slot& slot);
  const Waiting& waiting_of(const Member& member) const { return slots_[member.slot].waiting[member.entry]; }
  const Game& row_position(const Row& row) const { return *waiting_of(members_[row.first]).position; }

  SearchSettings settings_;
  std::uint64_t first_game_ = 0;
  std::uint64_t dim_ = 0;
  std::size_t total_games_ = 0;
  std::size_t started_ = 0;
  std::size_t active_ = 0;
  std::uint64_t evaluations_ = 0;
  std::vector<Slot> slots_;
  std::vector<Row> rows_;
  std::vector<Member> members_;  // positions of the open batch, grouped by row
  std::vector<const Game*> row_positions_;  // the position of each row
  bool batch_open_ = false;
  std::optional<PositionHasher> hasher_;
  EvaluationCache cache_;
  std::uint64_t requests_ = 0;
  std::uint64_t shared_rows_ = 0;
  std::vector<FinishedGame> finished_;
  NetworkOutputDecoder decoder_;
  std::vector<std::uint64_t> seeds_;  // per game, when the caller gives them
  // Last, so that it is waited for before anything it touches goes.
  std::future<void> playouts_;
};

}  // namespace tavrin
