#include "search/move_search.hpp"

#include <algorithm>

#include "engine/internal_error.hpp"
#include "search/search_texts.hpp"

namespace tavrin {

MoveSearch::MoveSearch(const SearchSettings& settings, random::RandomSource random, Game start)
    : config_(settings.config),
      options_(settings.options),
      random_(std::move(random)),
      game_(std::move(start)),
      playouts_(settings.options.playout_policy) {
  const std::size_t width = std::max<std::uint32_t>(options_.leaf_batch, 1);
  searches_.reserve(width);
  for (std::size_t i = 0; i < width; ++i) {
    searches_.emplace_back(config_.c_puct, options_.first_play_reduction, options_.selection);
  }
  leaves_.reserve(width);
  pending_.reserve(width);
  pending_leaf_.reserve(width);
}

void MoveSearch::begin_action(std::uint64_t simulations, bool full, std::optional<Clock::time_point> deadline) {
  if (game_.is_terminal()) throw InternalError(output::kSearchOfFinishedGame);
  simulations_ = simulations;
  deadline_ = deadline;
  full_ = full;
  gumbel_ = false;
  phase_ = Phase::kBeginSimulations;
  if (root_.is_expanded()) return;
  if (options_.leaf_evaluation == LeafEvaluation::kPlayouts) {
    evaluate_with_playouts(true, nullptr);
    return;
  }
  phase_ = Phase::kRootPending;
  pending_.assign(1, &game_);
  pending_leaf_.clear();
  provided_ = 0;
}

std::span<const Game* const> MoveSearch::advance() {
  switch (phase_) {
    case Phase::kIdle:
    case Phase::kDone:
      return {};
    case Phase::kRootPending:
    case Phase::kLeavesPending:
      // Asking again gives the same positions, until one of them is answered.
      if (provided_ == 0) return pending_;
      throw InternalError(output::kAdvanceWhilePending);
    case Phase::kBeginSimulations: {
      const bool searched = full_ && root_.children.size() >= 2;
      gumbel_ = searched && options_.gumbel_candidates >= 2;
      if (gumbel_) {
        halving_.start(root_, simulations_, options_.gumbel_candidates, config_.exploration_fraction > 0,
                       random_.generator());
      } else if (searched && options_.selection == SelectionRule::kPuct) {
        // The module's rule: noise is drawn and mixed even at weight 0 (a NaN weight shows in the scores).
        mix_root_noise(root_, config_.dirichlet_alpha, config_.exploration_fraction,
                       1.0F - config_.exploration_fraction, random_.generator());
      }
      simulations_done_ = 0;
      searched_sum_.fill(0.0F);
      phase_ = Phase::kSimulating;
      [[fallthrough]];
    }
    case Phase::kSimulating:
      if (gather()) {
        phase_ = Phase::kLeavesPending;
        return pending_;
      }
      phase_ = Phase::kDone;
      return {};
  }
  return {};
}

bool MoveSearch::may_descend() const {
  return simulations_done_ + leaves_.size() < simulations_;
}

bool MoveSearch::out_of_time() const {
  return deadline_ && simulations_done_ + leaves_.size() > 0 && Clock::now() >= *deadline_;
}

bool MoveSearch::gather() {
  leaves_.clear();
  pending_.clear();
  pending_leaf_.clear();
  provided_ = 0;
  // Playouts value a leaf at once: nothing to gather.
  const std::size_t width =
      options_.leaf_evaluation == LeafEvaluation::kPlayouts ? 1 : std::max<std::uint32_t>(options_.leaf_batch, 1);
  while (leaves_.size() < width) {
    if (out_of_time()) break;
    std::optional<std::size_t> root_child;
    if (gumbel_) {
      // A halving reads the values of its phase: the batch ends with the phase.
      if (!leaves_.empty() && halving_.at_phase_end()) break;
      root_child = halving_.next_child(root_);
      if (!root_child) break;
    } else if (!may_descend()) {
      break;
    }
    Search& search = searches_[leaves_.size()];
    if (search.descend(root_, game_, root_child, &random_.generator()) == nullptr) {
      note_simulation(search);  // a finished game, backed up at once
      continue;
    }
    if (options_.leaf_evaluation == LeafEvaluation::kPlayouts) {
      evaluate_with_playouts(false, &search);
      note_simulation(search);
      continue;
    }
    PendingLeaf leaf;
    leaf.search = leaf.leader = leaves_.size();
    for (const PendingLeaf& other : leaves_) {
      if (other.leader == other.search && searches_[other.search].leaf_node() == search.leaf_node()) {
        leaf.leader = other.search;
        break;
      }
    }
    if (leaf.leader == leaf.search) {
      pending_.push_back(&search.leaf());
      pending_leaf_.push_back(leaves_.size());
    }
    leaves_.push_back(leaf);
  }
  return !leaves_.empty();
}

void MoveSearch::provide(std::size_t index, const LeafValues& evaluation) {
  if (phase_ == Phase::kRootPending && index == 0) {
    expand_with_evaluation(root_, game_, evaluation);
    pending_.clear();
    pending_leaf_.clear();
    phase_ = Phase::kBeginSimulations;
    return;
  }
  if (phase_ != Phase::kLeavesPending || index >= pending_leaf_.size()) {
    throw InternalError(output::kProvideWithoutPending);
  }
  PendingLeaf& leader = leaves_[pending_leaf_[index]];
  if (leader.provided) throw InternalError(output::kProvideWithoutPending);
  Search& search = searches_[leader.search];
  leader.value_count = std::min<std::size_t>(evaluation.values.size(), kPlayers);
  if (options_.leaf_evaluation == LeafEvaluation::kMixed) {
    run_playouts_of(leader);
    const float weight = options_.playout_weight;
    for (std::size_t p = 0; p < kPlayers; ++p) {
      // A short value list is the backup's error to report.
      const float network = p < evaluation.values.size() ? evaluation.values[p] : 0.0F;
      leader.values[p] = (1.0F - weight) * network + weight * leader.playout_values[p];
    }
    search.complete(LeafValues{evaluation.priors, std::span<const float>(leader.values.data(), leader.value_count)});
  } else {
    std::copy_n(evaluation.values.begin(), leader.value_count, leader.values.begin());
    search.complete(evaluation);
  }
  note_simulation(search);
  leader.provided = true;
  for (PendingLeaf& follower : leaves_) {
    if (follower.leader != leader.search || follower.search == leader.search) continue;
    Search& shared = searches_[follower.search];
    shared.complete_shared(std::span<const float>(leader.values.data(), leader.value_count));
    note_simulation(shared);
    follower.provided = true;
  }
  if (++provided_ == pending_.size()) phase_ = Phase::kSimulating;
}

void MoveSearch::abandon() {
  if (phase_ == Phase::kLeavesPending) {
    for (const PendingLeaf& leaf : leaves_) {
      if (!leaf.provided) searches_[leaf.search].abandon();
    }
  }
  leaves_.clear();
  pending_.clear();
  pending_leaf_.clear();
  provided_ = 0;
  phase_ = Phase::kIdle;
}

void MoveSearch::run_playouts() {
  if (phase_ != Phase::kLeavesPending || options_.leaf_evaluation != LeafEvaluation::kMixed) return;
  for (std::size_t index : pending_leaf_) run_playouts_of(leaves_[index]);
}

void MoveSearch::run_playouts_of(PendingLeaf& leaf) {
  if (leaf.playouts_ready || leaf.provided) return;
  leaf.playout_values =
      playouts_.mean_payoff(searches_[leaf.search].leaf(), options_.playouts, random_.generator());
  leaf.playouts_ready = true;
}

void MoveSearch::evaluate_with_playouts(bool root, Search* search) {
  const Game& position = root ? game_ : search->leaf();
  uniform_priors_.assign(position.get_legal_tiles().size(),
                         1.0F / static_cast<float>(position.get_legal_tiles().size()));
  // The root's value is never backed up; only a first-play reduction reads it.
  playout_only_values_.fill(1.0F / kPlayers);
  if (!root || options_.first_play_reduction) {
    playout_only_values_ = playouts_.mean_payoff(position, options_.playouts, random_.generator());
  }
  const LeafValues evaluation{uniform_priors_, playout_only_values_};
  if (root) {
    expand_with_evaluation(root_, game_, evaluation);
  } else {
    search->complete(evaluation);
  }
}

void MoveSearch::note_simulation(const Search& search) {
  ++simulations_done_;
  const auto& values = search.backed_up();
  for (std::size_t p = 0; p < kPlayers; ++p) searched_sum_[p] += values[p];
}

std::optional<std::array<float, kPlayers>> MoveSearch::searched_value() const {
  if (simulations_done_ == 0) return std::nullopt;
  std::array<float, kPlayers> mean = searched_sum_;
  for (float& value : mean) value /= static_cast<float>(simulations_done_);
  return mean;
}

std::uint64_t MoveSearch::best_tile() const {
  if (gumbel_) return root_.children[halving_.chosen_child(root_)].action;
  const RootVisits visit_dist = root_visits(root_);
  return options_.selection == SelectionRule::kUcb1 ? most_visited_lowest(visit_dist) : greedy_action(visit_dist);
}

void MoveSearch::restart(Game start) {
  abandon();
  game_ = std::move(start);
  root_ = SearchNode{};
}

void MoveSearch::play(std::uint64_t tile) {
  apply_chosen_tile(game_, tile);
  if (root_.find_child(tile) != nullptr) {
    advance_root(root_, tile);
  } else {
    root_ = SearchNode{};  // an action the search never reached: nothing to keep
  }
  phase_ = Phase::kIdle;
}

}  // namespace tavrin
