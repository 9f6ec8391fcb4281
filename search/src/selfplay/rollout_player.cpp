#include "selfplay/rollout_player.hpp"

#include <cmath>

#include "engine/internal_error.hpp"
#include "selfplay/self_play_game.hpp"
#include "selfplay/self_play_options.hpp"
#include "selfplay/self_play_texts.hpp"

namespace tavrin {

RolloutChoice rollout_search(const Game& game, std::uint64_t simulations, std::uint64_t seed) {
  if (game.is_terminal()) throw InternalError(output::kRolloutGameOver);
  if (simulations == 0) throw InternalError(output::kRolloutWithoutSimulations);
  SearchSettings settings;
  settings.config = Config{game.dim(), 1, simulations, 0, kRolloutExploration, 1.0, 0.0F};
  settings.options.leaf_evaluation = LeafEvaluation::kPlayouts;
  settings.options.selection = SelectionRule::kUcb1;
  settings.options.action_limit = 1;
  SelfPlayGame search(settings, random::RandomSource::seeded(seed), game);
  if (search.advance() != nullptr) throw InternalError(output::kRolloutAskedNetwork);

  RolloutChoice choice;
  choice.tile = search.game().history().back().second;
  // Every simulation goes through exactly one root child, so the shares are
  // visits over simulations.
  const PolicyTarget& shares = search.policies().front();
  choice.visits.reserve(shares.size());
  for (const auto& [tile, share] : shares) {
    const auto visits = static_cast<std::uint32_t>(std::lround(share * static_cast<double>(simulations)));
    choice.visits.emplace_back(static_cast<std::uint64_t>(tile), visits);
  }
  return choice;
}

}  // namespace tavrin
