#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "config.hpp"
#include "evaluator.hpp"
#include "game.hpp"
#include "search_node.hpp"

namespace tavrin {

// (action, visit count) for every child of the root, in child order.
using VisitDistribution = std::vector<std::pair<std::uint64_t, std::uint32_t>>;

// Position in `node.children` of the child with the greatest PUCT score;
// ties go to the larger action. A NaN or infinite score is an internal error.
std::size_t select_child(const SearchNode& node, float c_puct);

// Runs simulations from a root. Keeps a scratch game and path between
// simulations so that descent and backup allocate nothing once warm.
class Search {
 public:
  Search(Evaluator& evaluator, const Config& config) : evaluator_(evaluator), config_(config) {}

  // Evaluates the root unless it is already expanded.
  std::optional<std::string> prepare_root(SearchNode& root, const Game& game);
  // `sims_per_move` simulations; the first failed evaluation stops them and
  // its display text is returned. Earlier backups stay.
  std::optional<std::string> run_simulations(SearchNode& root, const Game& game);

 private:
  std::optional<std::string> run_simulation(SearchNode& root, const Game& game);

  Evaluator& evaluator_;
  Config config_;
  std::optional<Game> scratch_;
  std::vector<SearchNode*> path_;
};

// Each child receives the value of the player who chose the action leading
// to it, that is its parent's player; the root counts one more visit.
void backup(std::span<SearchNode* const> path, std::span<const float> values);

// Mixes a symmetric Dirichlet vector into the priors of the root's children:
// prior = keep * prior + fraction * noise, keep being 1 - fraction.
void mix_root_noise(SearchNode& root, double alpha, float fraction, float keep);

VisitDistribution visit_distribution(const SearchNode& root);
// An action drawn in proportion to the visit counts; the last entry when no
// running share exceeds the draw (all counts zero, or rounding).
std::uint64_t sample_action(const VisitDistribution& visits);
// The most visited action; ties go to the later entry.
std::uint64_t greedy_action(const VisitDistribution& visits);
// Makes the child for `action` the root, keeping its subtree and freeing the
// old root with every other subtree.
void advance_root(SearchNode& root, std::uint64_t action);

// The legal tile with the highest prior from a single evaluation (ties go to
// the lower tile), or the error text.
std::variant<std::uint64_t, std::string> best_action(Evaluator& evaluator, const Game& game);

// Applies a tile the caller knows to be legal; a refusal is an internal error.
void apply_chosen_tile(Game& game, std::uint64_t tile);

}  // namespace tavrin
