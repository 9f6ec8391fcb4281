#include "selfplay/self_play_options.hpp"

#include <cmath>

#include "engine/catalogue.hpp"
#include "selfplay/self_play_texts.hpp"

namespace tavrin {

std::optional<std::string> find_settings_problem(const SearchSettings& settings, bool whole_games) {
  const Config& config = settings.config;
  const SelfPlayOptions& options = settings.options;
  if (whole_games && (config.dim < kMinSide || config.dim > kMaxSide)) return output::dim_out_of_range(config.dim);
  if (config.rep != 1 && config.rep != 2) return output::rep_out_of_range(config.rep);
  if (config.sims_per_move < 1) return output::kSimsPerMoveTooSmall;
  if (!(config.dirichlet_alpha > 0)) return output::kDirichletAlphaNotPositive;
  if (!(config.exploration_fraction >= 0 && config.exploration_fraction <= 1)) {
    return output::kExplorationFractionOutOfRange;
  }
  if (!std::isfinite(config.c_puct) || config.c_puct < 0) return output::kCPuctOutOfRange;
  if (whole_games) {
    if (!(options.full_search_fraction > 0 && options.full_search_fraction <= 1)) {
      return output::kFullSearchFractionOutOfRange;
    }
    if (options.full_search_fraction < 1 && options.reduced_sims < 1) return output::kReducedSimsTooSmall;
  }
  if (options.first_play_reduction && !std::isfinite(*options.first_play_reduction)) {
    return output::kFirstPlayReductionNotFinite;
  }
  if (options.playouts < 1 || options.playouts > kMaxPlayoutsPerLeaf) {
    return output::kPlayoutsPerLeafOutOfRange;
  }
  if (!(options.playout_weight >= 0 && options.playout_weight <= 1)) return output::kPlayoutWeightOutOfRange;
  if (!(options.searched_value_weight >= 0 && options.searched_value_weight <= 1)) {
    return output::kSearchedValueWeightOutOfRange;
  }
  return std::nullopt;
}

}  // namespace tavrin
