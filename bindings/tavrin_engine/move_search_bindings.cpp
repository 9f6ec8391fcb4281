#include <nanobind/stl/optional.h>
#include <nanobind/stl/string.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "selfplay/player_search.hpp"
#include "selfplay/self_play_texts.hpp"
#include "tavrin_engine/array_input.hpp"
#include "tavrin_engine/bindings.hpp"
#include "tavrin_engine/module_texts.hpp"
#include "tavrin_engine/numpy_arrays.hpp"
#include "tavrin_engine/placement_rows.hpp"
#include "tavrin_engine/search_settings_bindings.hpp"
#include "tavrin_engine/time_budget.hpp"

namespace tavrin::engine_bindings {
namespace {

using namespace nb::literals;

nb::object next_inputs(PlayerSearch& search) {
  std::span<const Game* const> pending;
  {
    nb::gil_scoped_release unlocked;
    pending = search.advance();
  }
  if (pending.empty()) return nb::none();
  const bool extended = search.extended_planes();
  return network_input_arrays(pending.size(), search.game().dim(), extended ? kExtendedBoardPlanes : kStatePlanes,
                              extended ? kHandPlanes : 0, search.planes_last(),
                              [&](std::span<std::uint8_t> board, std::span<std::uint8_t> hands) {
                                write_network_inputs(pending, search.planes_last(), extended, board, hands);
                              });
}

void submit(PlayerSearch& search, const AnyArray& policy_logits, const AnyArray& value_logits) {
  const std::size_t rows = search.advance().size(), dim = search.game().dim();
  if (rows == 0) throw nb::value_error(output::kNoBatchOpen);
  const std::vector<float> policy = float_rows(policy_logits, "policy_logits", rows, dim * dim);
  const std::vector<float> values = float_rows(value_logits, "value_logits", rows, kPlayers);
  std::optional<std::string> problem;
  {
    nb::gil_scoped_release unlocked;
    problem = search.submit(policy, values);
  }
  if (problem) throw nb::value_error(problem->c_str());
}

nb::list root_visits(const PlayerSearch& search) {
  nb::list out;
  for (const SearchNode& child : search.root().children) out.append(nb::make_tuple(child.action, child.visit_count));
  return out;
}

nb::list placements(const PlayerSearch& search) { return placement_rows(search.placements()); }

}  // namespace

void bind_move_search(nb::module_& module) {
  nb::class_<PlayerSearch>(
      module, "MoveSearch",
      "One seat's search through a whole game, the tree kept from action to action. sync(game) brings it to the "
      "game (the actions since its last position are played, and the subtree they lead to kept; a game that "
      "does not continue it starts it over); begin() starts the search of the action to play; next_inputs() gives "
      "the positions waiting on the network (up to leaf_batch at once) until the search is done (None); submit() "
      "takes their answers; best_tile() is the choice and play(tile) plays it.")
      .def("__init__",
           [](PlayerSearch* self, nb::handle settings, const Game& game, std::optional<std::uint64_t> seed) {
             if (game.is_terminal()) throw nb::value_error(output::kPositionOver);
             const SearchSettings read = settings_from(settings, false);
             new (self) PlayerSearch(read, game, seed);
           },
           "settings"_a, "game"_a, "seed"_a = nb::none(),
           "`settings` as SearchPool takes them (dim, skip_single_tile, full_search_fraction and reduced_sims "
           "ignored), leaf_batch (1) among them; `game` is copied; `seed` (None: the system's entropy) seeds its "
           "random stream.")
      .def("sync", &PlayerSearch::sync, "game"_a,
           "Brings the search to `game`; True when the tree was kept (the game continues the search's own).")
      .def("continued_by", &PlayerSearch::continued_by, "game"_a,
           "Whether `game` continues the search's own position: sync(game) would keep the tree.")
      .def_prop_ro("actions", [](const PlayerSearch& search) { return search.game().history().size(); },
                   "Actions played in the search's position.")
      .def("reseed", &PlayerSearch::reseed, "seed"_a, "A random stream seeded from `seed` alone from now on.")
      .def("begin",
           [](PlayerSearch& search, std::int64_t simulations, std::optional<double> seconds) {
             if (simulations < 1) throw nb::value_error(output::kSimulationsTooFew);
             if (search.game().is_terminal()) throw nb::value_error(output::kPositionOver);
             std::optional<MoveSearch::Clock::time_point> deadline;
             if (const auto budget = budget_of(seconds)) {
               deadline = MoveSearch::Clock::now() + std::chrono::duration_cast<MoveSearch::Clock::duration>(*budget);
             }
             search.begin(static_cast<std::uint64_t>(simulations), deadline);
           },
           "simulations"_a, "seconds"_a = nb::none(),
           "Starts the search of the action to play with that many simulations (at least 1); with `seconds`, "
           "no leaf batch is gathered once that time has passed (after the first simulation): the search is "
           "then done with the simulations it made (simulations_done).")
      .def("next_inputs", &next_inputs,
           nb::sig("def next_inputs(self) -> tuple[numpy.typing.NDArray[numpy.bool_], "
                   "numpy.typing.NDArray[numpy.bool_]] | None"),
           "The positions waiting on the network as SearchPool.next_inputs gives them, or None once the "
           "search is done. Asking again before submit() gives the same positions.")
      .def("submit", &submit, "policy_logits"_a, "value_logits"_a,
           "float32 (B, dim*dim) and (B, 4) answers for the positions of next_inputs(), as SearchPool.submit takes them.")
      .def("run_playouts", &PlayerSearch::run_playouts, nb::call_guard<nb::gil_scoped_release>(),
           "A mixed search's playouts from the waiting leaves (submit runs those not run), without the GIL: "
           "another thread may run them while the network computes.")
      .def("abandon", &PlayerSearch::abandon,
           "Gives up the action's search where it stands; the tree stays whole for the next one.")
      .def("best_tile", &PlayerSearch::best_tile, "The search's choice, once it is done.")
      .def("play", [](PlayerSearch& search, std::uint64_t tile) {
             const auto legal = search.game().get_legal_tiles();
             if (std::find(legal.begin(), legal.end(), tile) == legal.end()) throw nb::value_error(output::kTileNotLegal);
             search.play(tile);
           }, "tile"_a, "Plays a legal tile; its subtree becomes the next root.")
      .def("root_visits", &root_visits, "(tile, visits) of every root child, ascending tile.")
      .def("placements", &placements,
           "The whole placements the search went through: (squares, share, mean value for the placing player).")
      .def_prop_ro("simulations_done", &PlayerSearch::simulations_done, "Simulations of the last action's search.")
      .def_prop_ro("root_visit_count", [](const PlayerSearch& search) { return search.root().visit_count; },
                   "Visits of the root so far, those kept from earlier searches included.")
      .def_prop_ro("game", [](const PlayerSearch& search) { return search.game(); }, "A copy of the search's position.");
}

}  // namespace tavrin::engine_bindings
