#include "selfplay/self_play_game.hpp"

#include "engine/internal_error.hpp"
#include "selfplay/self_play_texts.hpp"

namespace tavrin {

SelfPlayGame::SelfPlayGame(const SearchSettings& settings, random::RandomSource random)
    : SelfPlayGame(settings, std::move(random), Game::reset(settings.config.dim)) {}

SelfPlayGame::SelfPlayGame(const SearchSettings& settings, random::RandomSource random, Game start)
    : config_(settings.config), options_(settings.options), search_(settings, std::move(random), std::move(start)) {
  if (options_.record_examples) {
    recorder_.emplace(game().dim(), options_.extended_planes, options_.searched_value_weight);
  }
}

void SelfPlayGame::play(std::uint64_t tile) {
  ++actions_by_player_[game().current_player()];
  search_.play(tile);
  phase_ = Phase::kStartAction;
}

std::span<const Game* const> SelfPlayGame::advance_all() {
  while (true) {
    switch (phase_) {
      case Phase::kOver:
        return {};
      case Phase::kStartAction: {
        const Game& position = game();
        if (position.is_terminal() || (options_.action_limit > 0 && actions() >= options_.action_limit)) {
          phase_ = Phase::kOver;
          return {};
        }
        if (options_.skip_single_tile && position.get_legal_tiles().size() == 1) {
          // A search could only put every visit on the one tile: its target
          // is known without one, and recorded as the search would have.
          const std::uint64_t tile = position.get_legal_tiles().front();
          policies_.emplace_back(1, std::pair(static_cast<std::int32_t>(tile), 1.0F));
          if (recorder_) recorder_->add(position);
          keep_placements(false);
          play(tile);
          break;
        }
        full_search_ = options_.full_search_fraction >= 1.0F ||
                       search_.random().uniform_float() < options_.full_search_fraction;
        search_.begin_action(full_search_ ? config_.sims_per_move : options_.reduced_sims, full_search_);
        phase_ = Phase::kSearching;
        break;
      }
      case Phase::kSearching: {
        const auto pending = search_.advance();
        if (!pending.empty()) return pending;
        if (search_.gumbel()) {
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
  const RootVisits visit_dist = root_visits(root());
  PolicyTarget& target = policies_.emplace_back();
  if (full_search_) {
    target.reserve(visit_dist.size());
    for (const RootChild& child : visit_dist) {
      target.emplace_back(static_cast<std::int32_t>(child.action), child.share);
    }
    if (recorder_) recorder_->add(game(), search_.searched_value());
  }
  keep_placements(true);
  const bool sampled = policies_.size() < config_.sample_moves || in_opening();
  play(sampled ? sample_action(visit_dist, search_.random()) : search_.best_tile());
}

void SelfPlayGame::finish_gumbel_action() {
  // The noise already chose among the candidates: nothing is sampled.
  const std::vector<float> improved = search_.improved_policy();
  PolicyTarget& target = policies_.emplace_back();
  target.reserve(improved.size());
  for (std::size_t c = 0; c < improved.size(); ++c) {
    target.emplace_back(static_cast<std::int32_t>(root().children[c].action), improved[c]);
  }
  if (recorder_) recorder_->add(game(), search_.searched_value());
  keep_placements(true);
  if (in_opening()) {
    play(sample_action(root_visits_with_shares(root(), improved), search_.random()));
  } else {
    play(search_.best_tile());
  }
}

bool SelfPlayGame::in_opening() const {
  return actions_by_player_[game().current_player()] < options_.opening_sample_actions;
}

void SelfPlayGame::keep_placements(bool searched) {
  if (!options_.placement_shares) return;
  placements_.push_back(searched ? placement_visits(root(), game()) : std::vector<PlacementVisits>{});
}

}  // namespace tavrin
