#include "search.hpp"

#include <cmath>
#include <string>

#include "internal_error.hpp"
#include "random.hpp"

namespace tavrin {

std::size_t select_child(const SearchNode& node, float c_puct) {
  const float exploration = c_puct * std::sqrt(static_cast<float>(node.visit_count));
  std::size_t best = 0;
  float best_score = 0.0F;
  for (std::size_t i = 0; i < node.children.size(); ++i) {
    const SearchNode& child = node.children[i];
    const float visits = static_cast<float>(child.visit_count);
    const float q = child.visit_count > 0 ? child.value_sum / visits : 0.0F;
    const float u = child.prior * (exploration / (visits + 1.0F));
    const float score = u + q;
    if (!std::isfinite(score)) throw InternalError("NaN/Inf in UCB score");
    // Children ascend by action, so `>=` hands ties to the larger action.
    if (i == 0 || score >= best_score) {
      best = i;
      best_score = score;
    }
  }
  return best;
}

void backup(std::span<SearchNode* const> path, std::span<const float> values) {
  for (std::size_t i = 1; i < path.size(); ++i) {
    const std::uint64_t chooser = path[i - 1]->player;
    if (chooser >= values.size()) {
      throw InternalError("index out of range: no value for player " + std::to_string(chooser) + " among " +
                          std::to_string(values.size()));
    }
    path[i]->visit_count += 1;
    path[i]->value_sum += values[chooser];
  }
  path.front()->visit_count += 1;
}

std::optional<std::string> Search::prepare_root(SearchNode& root, const Game& game) {
  if (root.is_expanded()) return std::nullopt;
  const Evaluation evaluation = evaluator_.evaluate(root, game);
  if (const auto* failure = failure_of(evaluation)) return "Error evaluating root node: " + failure->display_text;
  return std::nullopt;
}

std::optional<std::string> Search::run_simulations(SearchNode& root, const Game& game) {
  for (std::uint64_t i = 0; i < config_.sims_per_move; ++i) {
    if (auto error = run_simulation(root, game)) return error;
  }
  return std::nullopt;
}

std::optional<std::string> Search::run_simulation(SearchNode& root, const Game& game) {
  // Copy-assignment reuses the scratch game's buffers.
  if (scratch_) {
    *scratch_ = game;
  } else {
    scratch_.emplace(game);
  }
  Game& copy = *scratch_;
  path_.clear();
  SearchNode* node = &root;
  path_.push_back(node);
  while (node->is_expanded()) {
    node = &node->children[select_child(*node, config_.c_puct)];
    copy.apply(node->action);  // children are legal tiles of their parent's position
    path_.push_back(node);
  }
  const Evaluation evaluation = evaluator_.evaluate(*node, copy);
  if (const auto* failure = failure_of(evaluation)) return failure->display_text;
  backup(path_, std::get<std::span<const float>>(evaluation));
  return std::nullopt;
}

void mix_root_noise(SearchNode& root, double alpha, float fraction, float keep) {
  const std::vector<double> noise = random::dirichlet(alpha, root.children.size());
  for (std::size_t l = 0; l < root.children.size(); ++l) {
    SearchNode& child = root.children[l];
    const float kept = keep * child.prior;
    const float mixed = fraction * static_cast<float>(noise[l]);
    child.prior = kept + mixed;
  }
}

VisitDistribution visit_distribution(const SearchNode& root) {
  VisitDistribution visits;
  visits.reserve(root.children.size());
  for (const SearchNode& child : root.children) visits.emplace_back(child.action, child.visit_count);
  if (visits.empty()) throw InternalError("assertion failed: visit_dist.len() > 0");
  return visits;
}

std::uint64_t sample_action(const VisitDistribution& visits) {
  if (visits.empty()) throw InternalError("assertion failed: visit_dist.len() > 0");
  std::uint32_t total = 0;
  for (const auto& [action, count] : visits) total += count;
  const float draw = random::uniform_float();
  if (total > 0) {
    float running = 0.0F;
    for (const auto& [action, count] : visits) {
      running += static_cast<float>(count) / static_cast<float>(total);
      if (running > draw) return action;
    }
  }
  return visits.back().first;
}

std::uint64_t greedy_action(const VisitDistribution& visits) {
  if (visits.empty()) throw InternalError("visit_dist should not be empty");
  const auto* best = &visits.front();
  for (const auto& entry : visits) {
    if (entry.second >= best->second) best = &entry;
  }
  return best->first;
}

void advance_root(SearchNode& root, std::uint64_t action) {
  SearchNode* child = root.find_child(action);
  if (child == nullptr) throw InternalError("Child should have corresponding action");
  SearchNode chosen = std::move(*child);
  root = std::move(chosen);  // drops the old root's other children
}

std::variant<std::uint64_t, std::string> best_action(Evaluator& evaluator, const Game& game) {
  SearchNode root;
  const Evaluation evaluation = evaluator.evaluate(root, game);
  if (const auto* failure = failure_of(evaluation)) return "Error evaluating root node: " + failure->debug_text;
  if (!root.is_expanded()) return std::string("Error evaluating root node: no legal tile has a positive prior");
  const SearchNode* best = &root.children.front();
  for (const SearchNode& child : root.children) {
    if (child.prior > best->prior) best = &child;
  }
  return std::uint64_t{best->action};
}

void apply_chosen_tile(Game& game, std::uint64_t tile) {
  if (auto error = game.apply(tile)) throw InternalError("chosen tile refused by the game: " + *error);
}

}  // namespace tavrin
