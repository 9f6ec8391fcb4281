#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "engine/game.hpp"
#include "search/evaluator.hpp"
#include "search/gumbel_root.hpp"
#include "search/placement_walk.hpp"
#include "search/playout.hpp"
#include "search/random.hpp"
#include "search/search.hpp"
#include "search/search_node.hpp"
#include "selfplay/self_play_options.hpp"
#include "selfplay/training_examples.hpp"

namespace tavrin {

// One self-play game as a state machine around the shared search: it plays
// until the network must evaluate a position, hands that position out, and
// goes on when the evaluation comes back. The module's training game drives
// it with blocking network calls; the batched pool drives many at once.
class SelfPlayGame {
 public:
  // `settings.seed` is the caller's: the game draws from `random`.
  SelfPlayGame(const SearchSettings& settings, random::RandomSource random);
  // From a position other than the start; `config.dim` is ignored.
  SelfPlayGame(const SearchSettings& settings, random::RandomSource random, Game start);

  // Plays on until a position needs the network (returned; valid until
  // `provide`) or the game is over (nullptr).
  const Game* advance();
  // The evaluation of the position `advance` returned last: the network's
  // answer, which a mixed search blends with its playouts' mean payoff.
  void provide(const LeafValues& evaluation);
  // A mixed search's playouts from the pending leaf, drawn from this game's
  // random source; `provide` runs them when nobody did. May run on another
  // thread while the game waits, as long as nothing else touches the game.
  void run_playouts();

  // Whether the pending position is the search root (its failure reads
  // "Error evaluating root node: ...").
  bool awaiting_root() const { return phase_ == Phase::kRootPending; }
  const Game& game() const { return game_; }
  // The search tree's root: the position of game(), with the subtree kept
  // from the searches so far.
  const SearchNode& root() const { return root_; }
  // Actions played by this game (from its start position).
  std::uint64_t actions() const { return policies_.size(); }
  // Per action, parallel to the history: the root visit shares, or empty
  // when the action was not searched in full.
  const std::vector<PolicyTarget>& policies() const { return policies_; }
  // With `options.record_placements`, per searched action (parallel to
  // `policies`, empty for an action played without search) the whole
  // placements its search went through.
  const std::vector<std::vector<PlacementVisits>>& placements() const { return placements_; }
  // With `options.record_examples`, the position of every action that
  // records a policy target, with all its targets; once the game is over.
  TrainingExamples take_examples() { return recorder_ ? recorder_->finish(game_) : TrainingExamples{}; }

 private:
  enum class Phase { kStartAction, kRootPending, kBeginSimulations, kSimulating, kLeafPending, kOver };

  void play(std::uint64_t tile);
  // Whether the player to move is still within its sampled opening actions.
  bool in_opening() const;
  // Keeps the searched root's placements, when asked to, before its action is played.
  void keep_placements(bool searched);
  // Records the action's target and plays it, once its simulations are done.
  void finish_puct_action();
  void finish_gumbel_action();
  // Expands the pending position with uniform priors and the playouts' mean
  // payoff (LeafEvaluation::kPlayouts): no network involved.
  void evaluate_with_playouts(bool root);
  bool pending_leaf_needs_playouts() const;
  // Counts a finished simulation and adds what it backed up to the action's searched value.
  void note_simulation();
  // The mean value per player of this action's simulations; none without any.
  std::optional<std::array<float, kPlayers>> searched_value() const;

  Config config_;
  SelfPlayOptions options_;
  random::RandomSource random_;
  Game game_;
  SearchNode root_;
  Search search_;
  std::vector<PolicyTarget> policies_;
  std::vector<std::vector<PlacementVisits>> placements_;
  std::array<std::uint32_t, kPlayers> actions_by_player_{};
  std::optional<ExampleRecorder> recorder_;
  Phase phase_ = Phase::kStartAction;
  bool full_search_ = true;
  bool gumbel_ = false;  // this action's search has a Gumbel root
  SequentialHalving halving_;
  std::uint64_t simulations_ = 0;
  std::uint64_t simulations_done_ = 0;
  std::array<float, kPlayers> searched_sum_{};
  PlayoutValuer playouts_;
  bool playouts_ready_ = false;  // for the pending leaf
  std::array<float, kPlayers> playout_values_{};
  std::array<float, kPlayers> leaf_values_{};
  std::vector<float> uniform_priors_;
};

}  // namespace tavrin
