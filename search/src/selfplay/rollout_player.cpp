#include "selfplay/rollout_player.hpp"


#include "engine/internal_error.hpp"
#include "search/move_search.hpp"
#include "selfplay/self_play_options.hpp"
#include "selfplay/self_play_texts.hpp"

namespace tavrin {

RolloutChoice rollout_search(const Game& game, std::uint64_t simulations, std::uint64_t seed,
                             std::optional<std::chrono::nanoseconds> budget, PlayoutPolicy policy) {
  if (game.is_terminal()) throw InternalError(output::kRolloutGameOver);
  if (simulations == 0) throw InternalError(output::kRolloutWithoutSimulations);
  const auto started = MoveSearch::Clock::now();
  SearchSettings settings;
  settings.config = Config{game.dim(), 1, simulations, 0, kRolloutExploration, 1.0, 0.0F};
  settings.options.leaf_evaluation = LeafEvaluation::kPlayouts;
  settings.options.selection = SelectionRule::kUcb1;
  settings.options.playout_policy = policy;
  MoveSearch search(settings, random::RandomSource::seeded(seed), game);
  std::optional<MoveSearch::Clock::time_point> deadline;
  if (budget) deadline = started + std::chrono::duration_cast<MoveSearch::Clock::duration>(*budget);
  search.begin_action(simulations, true, deadline);
  if (!search.advance().empty()) throw InternalError(output::kRolloutAskedNetwork);

  RolloutChoice choice;
  choice.tile = search.best_tile();
  choice.simulations = search.simulations_done();
  choice.visits.reserve(search.root().children.size());
  for (const SearchNode& child : search.root().children) choice.visits.emplace_back(child.action, child.visit_count);
  return choice;
}

}  // namespace tavrin
