#include <nanobind/stl/optional.h>
#include <nanobind/stl/string.h>

#include <chrono>
#include <optional>
#include <string>

#include "engine/game.hpp"
#include "players/greedy.hpp"
#include "search/playout.hpp"
#include "search/random.hpp"
#include "selfplay/rollout_player.hpp"
#include "tavrin_engine/bindings.hpp"
#include "tavrin_engine/search_settings_bindings.hpp"
#include "tavrin_engine/time_budget.hpp"
#include "tavrin_engine/module_texts.hpp"
#include "tavrin_engine/numpy_arrays.hpp"

namespace tavrin::engine_bindings {
namespace {

using namespace nb::literals;

std::uint64_t seed_or_entropy(std::optional<std::uint64_t> seed) {
  return seed ? *seed : tavrin::random::thread_generator().next_u64();
}

void check_rollout_arguments(const Game& game, std::int64_t simulations) {
  if (simulations < 1) {
    throw nb::value_error(output::too_few_simulations(simulations).c_str());
  }
  if (game.is_terminal()) throw nb::value_error(output::kNoTileToChoose);
}

RolloutChoice run_rollout_search(const Game& game, std::int64_t simulations, std::optional<std::uint64_t> seed,
                                 std::optional<double> seconds, const std::string& playouts) {
  check_rollout_arguments(game, simulations);
  const auto budget = budget_of(seconds);
  const PlayoutPolicy policy = playout_policy_named(playouts);
  const std::uint64_t drawn = seed_or_entropy(seed);
  // The search works on its own copy, so other threads may use `game` meanwhile.
  const Game root = game;
  nb::gil_scoped_release unlocked;
  return rollout_search(root, static_cast<std::uint64_t>(simulations), drawn, budget, policy);
}

std::uint64_t rollout_tile(const Game& game, std::int64_t simulations, std::optional<std::uint64_t> seed,
                           std::optional<double> seconds, const std::string& playouts) {
  return run_rollout_search(game, simulations, seed, seconds, playouts).tile;
}

nb::tuple rollout_visits(const Game& game, std::int64_t simulations, std::optional<std::uint64_t> seed,
                         std::optional<double> seconds, const std::string& playouts) {
  const RolloutChoice choice = run_rollout_search(game, simulations, seed, seconds, playouts);
  auto tiles = empty_array<std::int64_t>({choice.visits.size()}, "int64");
  auto visits = empty_array<std::int64_t>({choice.visits.size()}, "int64");
  for (std::size_t k = 0; k < choice.visits.size(); ++k) {
    tiles.values[k] = static_cast<std::int64_t>(choice.visits[k].first);
    visits.values[k] = choice.visits[k].second;
  }
  return nb::make_tuple(choice.tile, tiles.array, visits.array);
}

nb::list greedy_placements(const Game& game) {
  const Catalogue& catalogue = game.board().catalogue();
  nb::list out;
  for (std::uint32_t id : players::greedy_placements(game)) {
    nb::list tiles;
    for (std::uint16_t tile : catalogue.placement(id).squares()) tiles.append(tile);
    out.append(nb::tuple(tiles));
  }
  return out;
}

void play_out(Game& game, std::optional<std::uint64_t> seed) {
  auto random = tavrin::random::Generator::seeded(seed_or_entropy(seed));
  random_playout(game, random);
}

}  // namespace

void bind_players(nb::module_& module) {
  module.def("rollout_search", &rollout_tile, "game"_a, "simulations"_a, "seed"_a = nb::none(),
             "seconds"_a = nb::none(), "playouts"_a = "uniform",
             "The tile that UCT search with uniformly random playouts plays for the player to move "
             "after `simulations` playouts: the pool's search with leaf_evaluation='playouts' and "
             "selection='ucb1' (exploration 1). Four-player values: each node backs up the payoff of the player "
             "who moved into it. The same seed gives the same tile; no seed draws one from the system. With "
             "`seconds`, no playout starts once that time has passed (after the first): `simulations` is then a "
             "bound, and the tile depends on the machine's speed. `playouts`: 'uniform' (any legal tile) or "
             "'larger' (each piece's placement drawn in proportion to its size squared).");
  module.def("rollout_visits", &rollout_visits, "game"_a, "simulations"_a, "seed"_a = nb::none(),
             "seconds"_a = nb::none(), "playouts"_a = "uniform",
             nb::sig("def rollout_visits(game: Game, simulations: int, seed: int | None = None, "
                     "seconds: float | None = None, playouts: str = 'uniform') -> tuple[int, numpy.ndarray, "
                     "numpy.ndarray]"),
             "The search of `rollout_search` with what it saw at the root: the tile it plays, the legal tiles "
             "in ascending order and the playouts that went through each (int64 arrays). The same seed "
             "gives the same tile as `rollout_search`.");
  module.def("greedy_placements", &greedy_placements, "game"_a,
             nb::sig("def greedy_placements(game: Game) -> list[tuple[int, ...]]"),
             "The placements a greedy player picks among: of the placements still possible for the piece "
             "being placed, those of the largest piece opening the most new corner cells for the player "
             "(cells diagonal to the placement, not edge-adjacent to it or to the player's squares, "
             "empty, on the board). Tuples of tiles, ordered by catalogue placement; empty once the game is over.");
  module.def("random_playout", &play_out, "game"_a, "seed"_a = nb::none(),
             "Plays uniformly random legal tiles on `game` until it is over.");
}

}  // namespace tavrin::engine_bindings
