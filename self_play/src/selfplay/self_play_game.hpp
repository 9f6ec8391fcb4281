#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "search/config.hpp"
#include "search/evaluator.hpp"
#include "engine/game.hpp"
#include "search/search.hpp"
#include "search/search_node.hpp"

namespace tavrin {

// (tile, share of the root's visits) for every root child at one action.
using PolicyTarget = std::vector<std::pair<std::int32_t, float>>;

// Choices beyond the module's training game, all off by default.
struct SelfPlayOptions {
  // An action with a single legal tile is played without search and records
  // no policy target.
  bool skip_single_tile = false;
  // Playout cap randomisation: an action gets the full `sims_per_move` with
  // this probability and records its policy target; otherwise
  // `reduced_sims` simulations, no root noise and no target.
  float full_search_fraction = 1.0F;
  std::uint64_t reduced_sims = 0;
  // Stop after this many actions (0: play to the end); with a given start
  // position, a search of one action is a player's move choice.
  std::uint64_t action_limit = 0;
  // The network sees the extended planes (pieces in hand, the squares of the
  // piece being laid) after the five.
  bool extended_planes = false;
  // Unvisited children valued at the parent's value estimate minus this,
  // instead of 0 (see Search).
  std::optional<float> first_play_reduction;
};

// One self-play game as a state machine around the shared search: it plays
// until the network must evaluate a position, hands that position out, and
// goes on when the evaluation comes back. The module's training game drives
// it with blocking network calls; the batched pool drives many at once.
class SelfPlayGame {
 public:
  SelfPlayGame(const Config& config, const SelfPlayOptions& options);
  // From a position other than the start; `config.dim` is ignored.
  SelfPlayGame(const Config& config, const SelfPlayOptions& options, Game start);

  // Plays on until a position needs the network (returned; valid until
  // `provide`) or the game is over (nullptr).
  const Game* advance();
  // The evaluation of the position `advance` returned last.
  void provide(const LeafValues& evaluation);

  // Whether the pending position is the search root (its failure reads
  // "Error evaluating root node: ...").
  bool awaiting_root() const { return phase_ == Phase::kRootPending; }
  bool is_over() const { return phase_ == Phase::kOver; }
  const Game& game() const { return game_; }
  // Actions played by this game (from its start position).
  std::uint64_t actions() const { return policies_.size(); }
  // Per action, parallel to the history: the root visit shares, or empty
  // when the action was not searched in full.
  const std::vector<PolicyTarget>& policies() const { return policies_; }

 private:
  enum class Phase { kStartAction, kRootPending, kBeginSimulations, kSimulating, kLeafPending, kOver };

  void play(std::uint64_t tile);

  Config config_;
  SelfPlayOptions options_;
  Game game_;
  SearchNode root_;
  Search search_;
  std::vector<PolicyTarget> policies_;
  Phase phase_ = Phase::kStartAction;
  bool full_search_ = true;
  std::uint64_t simulations_ = 0;
  std::uint64_t simulations_done_ = 0;
};

}  // namespace tavrin
