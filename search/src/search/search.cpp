#include "search/search.hpp"

#include <algorithm>
#include <cmath>
#include <string>

#include "engine/internal_error.hpp"
#include "search/search_texts.hpp"

namespace tavrin {

std::size_t select_child(const SearchNode& node, float c_puct, float unvisited_q) {
  const float exploration = c_puct * std::sqrt(static_cast<float>(node.visit_count));
  std::size_t best = 0;
  float best_score = 0.0F;
  for (std::size_t i = 0; i < node.children.size(); ++i) {
    const SearchNode& child = node.children[i];
    const float visits = static_cast<float>(child.visit_count);
    const float q = child.visit_count > 0 ? child.value_sum / visits : unvisited_q;
    const float u = child.prior * (exploration / (visits + 1.0F));
    const float score = u + q;
    if (!std::isfinite(score)) throw InternalError(output::kNonFiniteScore);
    // Children ascend by action, so `>=` hands ties to the larger action.
    if (i == 0 || score >= best_score) {
      best = i;
      best_score = score;
    }
  }
  return best;
}

std::size_t select_child_ucb1(const SearchNode& node, float exploration, random::Generator& random) {
  std::size_t unvisited = 0;
  for (const SearchNode& child : node.children) unvisited += child.visit_count == 0 ? 1 : 0;
  if (unvisited > 0) {
    std::uint64_t pick = random.uniform_index(unvisited);
    for (std::size_t i = 0; i < node.children.size(); ++i) {
      if (node.children[i].visit_count == 0 && pick-- == 0) return i;
    }
  }
  const float log_visits = std::log(static_cast<float>(std::max<std::uint32_t>(node.visit_count, 1)));
  std::size_t best = 0;
  float best_score = 0.0F;
  std::uint64_t tied = 0;
  for (std::size_t i = 0; i < node.children.size(); ++i) {
    const SearchNode& child = node.children[i];
    const float visits = static_cast<float>(child.visit_count);
    const float score = child.value_sum / visits + exploration * std::sqrt(log_visits / visits);
    if (!std::isfinite(score)) throw InternalError(output::kNonFiniteScore);
    if (i == 0 || score > best_score) {
      best = i;
      best_score = score;
      tied = 1;
    } else if (score == best_score && random.uniform_index(++tied) == 0) {
      best = i;  // each of the tied children is kept with equal chance
    }
  }
  return best;
}

void add_visits(std::span<SearchNode* const> path) {
  for (SearchNode* node : path) node->visit_count += 1;
}

void add_values(std::span<SearchNode* const> path, std::span<const float> values) {
  for (std::size_t i = 1; i < path.size(); ++i) {
    const std::uint64_t chooser = path[i - 1]->player;
    if (chooser >= values.size()) {
      throw InternalError(output::no_value_for_player(chooser, values.size()));
    }
    path[i]->value_sum += values[chooser];
  }
}

void backup(std::span<SearchNode* const> path, std::span<const float> values) {
  add_values(path, values);
  add_visits(path);
}

void expand_with_evaluation(SearchNode& node, const Game& game, const LeafValues& evaluation) {
  const std::uint64_t player = game.current_player();
  expand(node, player, game.get_legal_tiles(), evaluation.priors);
  // A short value list is the backup's error to report, where the module reports it.
  if (player < evaluation.values.size()) node.value_estimate = evaluation.values[player];
}

const Game* Search::descend(SearchNode& root, const Game& game, std::optional<std::size_t> root_child,
                            random::Generator* random) {
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
    std::size_t child = 0;
    if (root_child) {
      child = *root_child;
    } else if (rule_ == SelectionRule::kUcb1) {
      if (random == nullptr) throw InternalError(output::kUcb1WithoutRandom);
      child = select_child_ucb1(*node, c_puct_, *random);
    } else {
      const float unvisited_q = first_play_reduction_ ? node->value_estimate - *first_play_reduction_ : 0.0F;
      child = select_child(*node, c_puct_, unvisited_q);
    }
    if (child >= node->children.size()) throw InternalError(output::kMissingChild);
    root_child.reset();
    node = &node->children[child];
    copy.apply(node->action);  // children are legal tiles of their parent's position
    path_.push_back(node);
  }
  if (!copy.is_terminal()) {
    // Counted now, valued on completion: until then the path reads as a
    // loss to any other descent (a virtual loss). Selection above read the
    // counts before this, so a search that completes every leaf before its
    // next descent goes exactly as one backup would take it.
    add_visits(path_);
    return &copy;
  }
  backed_up_ = copy.get_payoff();
  backup(path_, backed_up_);
  return nullptr;
}

void Search::complete(const LeafValues& evaluation) {
  if (path_.empty() || !scratch_) throw InternalError(output::kCompleteWithoutLeaf);
  expand_with_evaluation(*path_.back(), *scratch_, evaluation);
  complete_shared(evaluation.values);
}

void Search::complete_shared(std::span<const float> values) {
  if (path_.empty() || !scratch_) throw InternalError(output::kCompleteWithoutLeaf);
  add_values(path_, values);
  // A value list of another length reaches here only from a misbehaving network; its backup above
  // read only the players on the path.
  backed_up_.fill(0.0F);
  std::copy_n(values.begin(), std::min<std::size_t>(values.size(), kPlayers), backed_up_.begin());
  path_.clear();
}

void Search::abandon() {
  for (SearchNode* node : path_) node->visit_count -= 1;
  path_.clear();
}

void mix_root_noise(SearchNode& root, double alpha, float fraction, float keep, random::Generator& random) {
  const std::vector<double> noise = random.dirichlet(alpha, root.children.size());
  for (std::size_t l = 0; l < root.children.size(); ++l) {
    SearchNode& child = root.children[l];
    const float kept = keep * child.prior;
    const float mixed = fraction * static_cast<float>(noise[l]);
    child.prior = kept + mixed;
  }
}

RootVisits root_visits(const SearchNode& root) {
  if (root.children.empty()) throw InternalError(output::kEmptyVisitDistribution);
  std::uint32_t total = 0;
  for (const SearchNode& child : root.children) total += child.visit_count;
  RootVisits visit_dist;
  visit_dist.reserve(root.children.size());
  for (const SearchNode& child : root.children) {
    const float share = total > 0 ? static_cast<float>(child.visit_count) / static_cast<float>(total) : 0.0F;
    visit_dist.push_back({child.action, child.visit_count, share});
  }
  return visit_dist;
}

RootVisits root_visits_with_shares(const SearchNode& root, std::span<const float> shares) {
  RootVisits visit_dist = root_visits(root);
  if (shares.size() != visit_dist.size()) throw InternalError(output::kSharesNotPerChild);
  for (std::size_t c = 0; c < visit_dist.size(); ++c) visit_dist[c].share = shares[c];
  return visit_dist;
}

std::uint64_t sample_action(const RootVisits& visit_dist, random::Generator& random) {
  if (visit_dist.empty()) throw InternalError(output::kEmptyVisitDistribution);
  const float draw = random.uniform_float();
  float running = 0.0F;
  for (const RootChild& child : visit_dist) {
    running += child.share;
    if (running > draw) return child.action;
  }
  return visit_dist.back().action;
}

std::uint64_t greedy_action(const RootVisits& visit_dist) {
  if (visit_dist.empty()) throw InternalError(output::kNoVisitDistribution);
  const RootChild* best = &visit_dist.front();
  for (const RootChild& child : visit_dist) {
    if (child.visits >= best->visits) best = &child;
  }
  return best->action;
}

std::uint64_t most_visited_lowest(const RootVisits& visit_dist) {
  if (visit_dist.empty()) throw InternalError(output::kNoVisitDistribution);
  const RootChild* best = &visit_dist.front();
  for (const RootChild& child : visit_dist) {
    if (child.visits > best->visits) best = &child;
  }
  return best->action;
}

void advance_root(SearchNode& root, std::uint64_t action) {
  SearchNode* child = root.find_child(action);
  if (child == nullptr) throw InternalError(output::kMissingChild);
  SearchNode chosen = std::move(*child);
  root = std::move(chosen);  // drops the old root's other children
}

std::variant<std::uint64_t, std::string> best_action(Evaluator& evaluator, const Game& game) {
  const Evaluation evaluation = evaluator.evaluate(game);
  if (const auto* failure = failure_of(evaluation)) {
    return std::string(output::kRootEvaluationError) + failure->debug_text;
  }
  const auto tiles = game.get_legal_tiles();
  const auto priors = std::get<LeafValues>(evaluation).priors;
  // Only tiles of positive prior count, as only they would become children.
  std::optional<std::size_t> best;
  for (std::size_t k = 0; k < tiles.size(); ++k) {
    if (priors[k] > 0.0F && (!best || priors[k] > priors[*best])) best = k;
  }
  if (!best) return std::string(output::kRootEvaluationError) + std::string(output::kNoPositivePrior);
  return tiles[*best];
}

void apply_chosen_tile(Game& game, std::uint64_t tile) {
  if (auto error = game.apply(tile)) throw InternalError(std::string(output::kChosenTileRefused) + *error);
}

}  // namespace tavrin
