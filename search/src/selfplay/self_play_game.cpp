#include "selfplay/self_play_game.hpp"

#include <algorithm>

#include "engine/internal_error.hpp"
#include "selfplay/self_play_texts.hpp"

namespace tavrin {

SelfPlayGame::SelfPlayGame(const SearchSettings& settings, random::RandomSource random)
    : SelfPlayGame(settings, std::move(random), Game::reset(settings.config.dim)) {}

SelfPlayGame::SelfPlayGame(const SearchSettings& settings, random::RandomSource random, Game start)
    : config_(settings.config),
      options_(settings.options),
      random_(std::move(random)),
      game_(std::move(start)),
      search_(settings.config.c_puct, settings.options.first_play_reduction, settings.options.selection) {
  if (options_.record_examples) {
    recorder_.emplace(game_.dim(), options_.extended_planes, options_.searched_value_weight);
  }
}

void SelfPlayGame::play(std::uint64_t tile) {
  ++actions_by_player_[game_.current_player()];
  apply_chosen_tile(game_, tile);
  if (root_.find_child(tile) != nullptr) {
    advance_root(root_, tile);
  } else {
    root_ = SearchNode{};  // an action taken without search: nothing to keep
  }
  phase_ = Phase::kStartAction;
}

const Game* SelfPlayGame::advance() {
  while (true) {
    switch (phase_) {
      case Phase::kOver:
        return nullptr;
      case Phase::kRootPending:
      case Phase::kLeafPending:
        throw InternalError(output::kAdvanceWhilePending);
      case Phase::kStartAction: {
        if (game_.is_terminal() || (options_.action_limit > 0 && actions() >= options_.action_limit)) {
          phase_ = Phase::kOver;
          return nullptr;
        }
        if (options_.skip_single_tile && game_.get_legal_tiles().size() == 1) {
          // A search could only put every visit on the one tile: its target
          // is known without one, and recorded as the search would have.
          const std::uint64_t tile = game_.get_legal_tiles().front();
          policies_.emplace_back(1, std::pair(static_cast<std::int32_t>(tile), 1.0F));
          if (recorder_) recorder_->add(game_);
          keep_placements(false);
          play(tile);
          break;
        }
        full_search_ = options_.full_search_fraction >= 1.0F ||
                       random_.generator().uniform_float() < options_.full_search_fraction;
        simulations_ = full_search_ ? config_.sims_per_move : options_.reduced_sims;
        if (!root_.is_expanded()) {
          phase_ = Phase::kRootPending;
          if (options_.leaf_evaluation != LeafEvaluation::kPlayouts) return &game_;
          evaluate_with_playouts(true);
          phase_ = Phase::kBeginSimulations;
          break;
        }
        phase_ = Phase::kBeginSimulations;
        break;
      }
      case Phase::kBeginSimulations: {
        const bool searched = full_search_ && root_.children.size() >= 2;
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
        break;
      }
      case Phase::kSimulating: {
        while (true) {
          std::optional<std::size_t> root_child;
          if (gumbel_) {
            root_child = halving_.next_child(root_);
            if (!root_child) break;
          } else if (simulations_done_ >= simulations_) {
            break;
          }
          if (const Game* leaf = search_.descend(root_, game_, root_child, &random_.generator())) {
            phase_ = Phase::kLeafPending;
            playouts_ready_ = false;
            if (options_.leaf_evaluation != LeafEvaluation::kPlayouts) return leaf;
            evaluate_with_playouts(false);
            phase_ = Phase::kSimulating;
          }
          note_simulation();  // backed up at once: a finished game, or a leaf valued by playouts
        }
        if (gumbel_) {
          finish_gumbel_action();
        } else {
          finish_puct_action();
        }
        break;
      }
    }
  }
}

void SelfPlayGame::finish_puct_action() {
  const RootVisits visit_dist = root_visits(root_);
  PolicyTarget& target = policies_.emplace_back();
  if (full_search_) {
    target.reserve(visit_dist.size());
    for (const RootChild& child : visit_dist) {
      target.emplace_back(static_cast<std::int32_t>(child.action), child.share);
    }
    if (recorder_) recorder_->add(game_, searched_value());
  }
  keep_placements(true);
  const bool sampled = policies_.size() < config_.sample_moves || in_opening();
  if (sampled) {
    play(sample_action(visit_dist, random_.generator()));
  } else {
    play(options_.selection == SelectionRule::kUcb1 ? most_visited_lowest(visit_dist) : greedy_action(visit_dist));
  }
}

void SelfPlayGame::finish_gumbel_action() {
  // The noise already chose among the candidates: nothing is sampled.
  const std::vector<float> improved = halving_.improved_policy(root_);
  PolicyTarget& target = policies_.emplace_back();
  target.reserve(improved.size());
  for (std::size_t c = 0; c < improved.size(); ++c) {
    target.emplace_back(static_cast<std::int32_t>(root_.children[c].action), improved[c]);
  }
  if (recorder_) recorder_->add(game_, searched_value());
  keep_placements(true);
  if (in_opening()) {
    play(sample_action(root_visits_with_shares(root_, improved), random_.generator()));
  } else {
    play(root_.children[halving_.chosen_child(root_)].action);
  }
}

void SelfPlayGame::provide(const LeafValues& evaluation) {
  if (phase_ == Phase::kRootPending) {
    expand_with_evaluation(root_, game_, evaluation);
    phase_ = Phase::kBeginSimulations;
  } else if (phase_ == Phase::kLeafPending) {
    if (options_.leaf_evaluation == LeafEvaluation::kMixed) {
      run_playouts();
      const float weight = options_.playout_weight;
      for (std::size_t p = 0; p < kPlayers; ++p) {
        // A short value list is the backup's error to report.
        const float network = p < evaluation.values.size() ? evaluation.values[p] : 0.0F;
        leaf_values_[p] = (1.0F - weight) * network + weight * playout_values_[p];
      }
      const std::size_t given = std::min<std::size_t>(evaluation.values.size(), kPlayers);
      search_.complete(LeafValues{evaluation.priors, std::span<const float>(leaf_values_.data(), given)});
    } else {
      search_.complete(evaluation);
    }
    note_simulation();
    phase_ = Phase::kSimulating;
  } else {
    throw InternalError(output::kProvideWithoutPending);
  }
}

bool SelfPlayGame::in_opening() const {
  return actions_by_player_[game_.current_player()] < options_.opening_sample_actions;
}

void SelfPlayGame::keep_placements(bool searched) {
  if (!options_.record_placements) return;
  placements_.push_back(searched ? placement_visits(root_, game_) : std::vector<PlacementVisits>{});
}

void SelfPlayGame::note_simulation() {
  ++simulations_done_;
  const auto& values = search_.backed_up();
  for (std::size_t p = 0; p < kPlayers; ++p) searched_sum_[p] += values[p];
}

std::optional<std::array<float, kPlayers>> SelfPlayGame::searched_value() const {
  if (simulations_done_ == 0) return std::nullopt;
  std::array<float, kPlayers> mean = searched_sum_;
  for (float& value : mean) value /= static_cast<float>(simulations_done_);
  return mean;
}

bool SelfPlayGame::pending_leaf_needs_playouts() const {
  return phase_ == Phase::kLeafPending && options_.leaf_evaluation == LeafEvaluation::kMixed && !playouts_ready_;
}

void SelfPlayGame::run_playouts() {
  if (!pending_leaf_needs_playouts()) return;
  playout_values_ = playouts_.mean_payoff(search_.leaf(), options_.playouts_per_leaf, random_.generator());
  playouts_ready_ = true;
}

void SelfPlayGame::evaluate_with_playouts(bool root) {
  const Game& position = root ? game_ : search_.leaf();
  uniform_priors_.assign(position.get_legal_tiles().size(),
                         1.0F / static_cast<float>(position.get_legal_tiles().size()));
  // The root's value is never backed up; only a first-play reduction reads it.
  leaf_values_.fill(1.0F / kPlayers);
  if (!root || options_.first_play_reduction) {
    leaf_values_ = playouts_.mean_payoff(position, options_.playouts_per_leaf, random_.generator());
  }
  const LeafValues evaluation{uniform_priors_, leaf_values_};
  if (root) {
    expand_with_evaluation(root_, game_, evaluation);
  } else {
    search_.complete(evaluation);
  }
}

}  // namespace tavrin
