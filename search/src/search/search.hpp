#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <variant>
#include <vector>

#include "engine/game.hpp"
#include "search/evaluator.hpp"
#include "search/random.hpp"
#include "search/search_node.hpp"
#include "search/selection_rule.hpp"

namespace tavrin {

// One child of the search root: the action, its visits and its share of the
// root children's visits (0 when nothing was visited). In child order, that
// is ascending action. The one list behind the policy record, sampling and
// the greedy choice.
struct RootChild {
  std::uint64_t action = 0;
  std::uint32_t visits = 0;
  float share = 0.0F;
};
using RootVisits = std::vector<RootChild>;

// Position in `node.children` of the child with the greatest PUCT score;
// ties go to the larger action. An unvisited child's value is `unvisited_q`
// (the module's rule: 0, a loss). A NaN or infinite score is an internal error.
std::size_t select_child(const SearchNode& node, float c_puct, float unvisited_q = 0.0F);
// Position of the child UCB1 picks (SelectionRule::kUcb1) with exploration
// constant `exploration`: a uniformly random unvisited child while there is
// one, else the greatest mean value plus exploration * sqrt(ln N / n), equal
// scores broken at random.
std::size_t select_child_ucb1(const SearchNode& node, float exploration, random::Generator& random);

// Gives `node` the player to move in `game`, a child per legal tile whose
// prior (parallel to the legal tiles) is positive, and its value estimate for
// the player to move.
void expand_with_evaluation(SearchNode& node, const Game& game, const LeafValues& evaluation);

// PUCT simulations that can stop at a leaf while its evaluation is pending:
// `descend` walks down from the root on a scratch copy of the game, and
// `complete` expands the leaf and backs up the values. Whoever evaluates the
// leaf (a blocking network call, or a batch of games) only reads positions.
// Keeps its scratch game and path between simulations: nothing is allocated
// once warm.
class Search {
 public:
  // `first_play_reduction`: when set, an unvisited child is valued at its
  // parent's value estimate minus this reduction instead of 0. With payoffs
  // averaging 1/4, the value 0 makes every explored child look better than
  // any unexplored one, and the search hardly widens beyond the first
  // children it tries.
  explicit Search(float c_puct, std::optional<float> first_play_reduction = std::nullopt,
                  SelectionRule rule = SelectionRule::kPuct)
      : c_puct_(c_puct), first_play_reduction_(first_play_reduction), rule_(rule) {}

  // Starts a simulation. A terminal leaf is backed up with its payoff at once
  // and nullptr returned; otherwise the leaf position, which must be
  // evaluated and handed to `complete` before the next `descend`.
  // `root_child`: the root's child the simulation must go through (the
  // sequential halving of a Gumbel root), instead of the PUCT choice.
  // `random`: what the UCB1 rule draws its choices from (unused by PUCT).
  const Game* descend(SearchNode& root, const Game& game, std::optional<std::size_t> root_child = std::nullopt,
                      random::Generator* random = nullptr);
  // The visits of the path were counted by `descend`.
  void complete(const LeafValues& evaluation);
  // Completes a simulation that ended on the same leaf as another one of the
  // same batch, which expanded it: backs up `values` along this path only.
  void complete_shared(std::span<const float> values);
  // Gives up the pending simulation: its path's visits are taken back, as if
  // it had never started.
  void abandon();
  // The node `descend` stopped at last, while its evaluation is pending.
  const SearchNode* leaf_node() const { return path_.empty() ? nullptr : path_.back(); }
  // The position `descend` returned last, still awaiting `complete`.
  const Game& leaf() const { return *scratch_; }
  // The value per absolute player that the last simulation backed up: a
  // finished game's payoff or the leaf's evaluation.
  const std::array<float, kPlayers>& backed_up() const { return backed_up_; }

 private:
  float c_puct_;
  std::optional<float> first_play_reduction_;
  SelectionRule rule_;
  std::optional<Game> scratch_;
  std::vector<SearchNode*> path_;
  std::array<float, kPlayers> backed_up_{};
};

// Each child receives the value of the player who chose the action leading
// to it, that is its parent's player; the root counts one more visit.
void backup(std::span<SearchNode* const> path, std::span<const float> values);
// The two halves of a backup: one visit more for every node of the path, and
// each child's value for its parent's player.
void add_visits(std::span<SearchNode* const> path);
void add_values(std::span<SearchNode* const> path, std::span<const float> values);

// Mixes a symmetric Dirichlet vector drawn from `random` into the priors of
// the root's children: prior = keep * prior + fraction * noise, keep being
// 1 - fraction.
void mix_root_noise(SearchNode& root, double alpha, float fraction, float keep, random::Generator& random);

// The root's children with their visits and shares; an internal error when
// the root has none.
RootVisits root_visits(const SearchNode& root);
// The root's children with `shares` (parallel to them, e.g. a Gumbel root's
// improved policy) in place of their visit shares.
RootVisits root_visits_with_shares(const SearchNode& root, std::span<const float> shares);
// An action drawn from `random` in proportion to the visit counts; the last
// entry when no running share exceeds the draw (all counts zero, or rounding).
std::uint64_t sample_action(const RootVisits& visit_dist, random::Generator& random);
// The most visited action; ties go to the later entry.
std::uint64_t greedy_action(const RootVisits& visit_dist);
// The most visited action; ties go to the earlier entry (the lower tile).
std::uint64_t most_visited_lowest(const RootVisits& visit_dist);
// Makes the child for `action` the root, keeping its subtree and freeing the
// old root with every other subtree.
void advance_root(SearchNode& root, std::uint64_t action);

// The legal tile with the highest prior from a single evaluation (ties go to
// the lower tile), or the error text.
std::variant<std::uint64_t, std::string> best_action(Evaluator& evaluator, const Game& game);

// Applies a tile the caller knows to be legal; a refusal is an internal error.
void apply_chosen_tile(Game& game, std::uint64_t tile);

}  // namespace tavrin
