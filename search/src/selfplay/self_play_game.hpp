#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "engine/game.hpp"
#include "search/evaluator.hpp"
#include "search/placement_walk.hpp"
#include "search/move_search.hpp"
#include "search/random.hpp"
#include "search/search.hpp"
#include "search/search_node.hpp"
#include "selfplay/self_play_options.hpp"
#include "selfplay/training_examples.hpp"

namespace tavrin {

// One self-play game: a MoveSearch for every action, and what recording a
// training game adds to it (the policy targets, the training positions, the
// sampled openings, the placements searched). It plays until positions need
// the network, hands them out, and goes on when their evaluations come back.
// The module's training game drives it with blocking network calls; the
// batched pool drives many at once.
class SelfPlayGame {
 public:
  // `settings.seed` is the caller's: the game draws from `random`.
  SelfPlayGame(const SearchSettings& settings, random::RandomSource random);
  // From a position other than the start; `config.dim` is ignored.
  SelfPlayGame(const SearchSettings& settings, random::RandomSource random, Game start);

  // Plays on until positions need the network (returned; valid until the
  // last of them is provided; more than one only with a leaf batch) or the
  // game is over (empty).
  std::span<const Game* const> advance_all();
  // The first of them, or nullptr: for callers that evaluate one leaf at a time.
  const Game* advance() {
    const auto pending = advance_all();
    return pending.empty() ? nullptr : pending.front();
  }
  // The evaluation of pending position `index`: the network's answer, which
  // a mixed search blends with its playouts' mean payoff.
  void provide(std::size_t index, const LeafValues& evaluation) { search_.provide(index, evaluation); }
  void provide(const LeafValues& evaluation) { provide(0, evaluation); }
  // A mixed search's playouts from the pending leaves, drawn from this
  // game's random source; `provide` runs them when nobody did. May run on
  // another thread while the game waits, as long as nothing else touches the game.
  void run_playouts() { search_.run_playouts(); }

  // Whether the pending position is the search root (its failure reads
  // "Error evaluating root node: ...").
  bool awaiting_root() const { return search_.awaiting_root(); }
  const Game& game() const { return search_.game(); }
  // The search tree's root: the position of game(), with the subtree kept
  // from the searches so far.
  const SearchNode& root() const { return search_.root(); }
  // Actions played by this game (from its start position).
  std::uint64_t actions() const { return policies_.size(); }
  // Per action, parallel to the history: the root visit shares, or empty
  // when the action was not searched in full.
  const std::vector<PolicyTarget>& policies() const { return policies_; }
  // With `options.placement_shares`, per searched action (parallel to
  // `policies`, empty for an action played without search) the whole
  // placements its search went through.
  const std::vector<std::vector<PlacementVisits>>& placements() const { return placements_; }
  // With `options.record_examples`, the position of every action that
  // records a policy target, with all its targets; once the game is over.
  TrainingExamples take_examples() { return recorder_ ? recorder_->finish(game()) : TrainingExamples{}; }

 private:
  enum class Phase { kStartAction, kSearching, kOver };

  void play(std::uint64_t tile);
  // Whether the player to move is still within its sampled opening actions.
  bool in_opening() const;
  // Keeps the searched root's placements, when asked to, before its action is played.
  void keep_placements(bool searched);
  // Records the action's target and plays it, once its search is done.
  void finish_puct_action();
  void finish_gumbel_action();

  Config config_;
  SelfPlayOptions options_;
  MoveSearch search_;
  std::vector<PolicyTarget> policies_;
  std::vector<std::vector<PlacementVisits>> placements_;
  std::array<std::uint32_t, kPlayers> actions_by_player_{};
  std::optional<ExampleRecorder> recorder_;
  Phase phase_ = Phase::kStartAction;
  bool full_search_ = true;
};

}  // namespace tavrin
