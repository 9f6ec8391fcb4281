#include <nanobind/stl/optional.h>
#include <nanobind/stl/string.h>
#include <nanobind/stl/vector.h>

#include <algorithm>
#include <cmath>
#include <optional>
#include <string>
#include <vector>

#include "selfplay/search_pool.hpp"
#include "selfplay/self_play_texts.hpp"
#include "tavrin_engine/array_input.hpp"
#include "tavrin_engine/bindings.hpp"
#include "tavrin_engine/module_texts.hpp"
#include "tavrin_engine/numpy_arrays.hpp"
#include "tavrin_engine/placement_rows.hpp"
#include "tavrin_engine/search_settings_bindings.hpp"

namespace tavrin::engine_bindings {
namespace {

using namespace nb::literals;

nb::object next_batch(SearchPool& pool) {
  const std::size_t dim = pool.dim(), rows = pool.open_batch(), planes = pool.input_planes();
  auto out = pool.planes_last() ? empty_array<bool>({rows, dim, dim, planes}, "bool")
                                : empty_array<bool>({rows, planes, dim, dim}, "bool");
  {
    nb::gil_scoped_release unlocked;
    pool.write_batch({reinterpret_cast<std::uint8_t*>(out.values.data()), out.values.size()});
  }
  return out.array;
}

nb::tuple next_inputs(SearchPool& pool) {
  const std::size_t rows = pool.open_batch();
  return network_input_arrays(rows, pool.dim(), pool.board_planes(), pool.hand_entries(), pool.planes_last(),
                              [&](std::span<std::uint8_t> board, std::span<std::uint8_t> hands) {
                                pool.write_inputs(board, hands);
                              });
}

void submit(SearchPool& pool, const AnyArray& policy_logits, const AnyArray& value_logits) {
  const std::size_t rows = pool.batch_size();
  const std::vector<float> policy = float_rows(policy_logits, "policy_logits", rows, pool.dim() * pool.dim());
  const std::vector<float> values = float_rows(value_logits, "value_logits", rows, kPlayers);
  std::optional<std::string> problem;
  {
    nb::gil_scoped_release unlocked;
    problem = pool.submit(policy, values);
  }
  if (problem) throw nb::value_error(problem->c_str());
}

template <typename T>
nb::object numpy_of(const std::vector<T>& values, const char* dtype) {
  auto out = empty_array<T>({values.size()}, dtype);
  std::copy(values.begin(), values.end(), out.values.begin());
  return out.array;
}

nb::object bool_array_of(const std::vector<std::uint8_t>& values) {
  auto out = empty_array<bool>({values.size()}, "bool");
  std::transform(values.begin(), values.end(), out.values.begin(), [](std::uint8_t bit) { return bit != 0; });
  return out.array;
}

nb::dict record_of(const FinishedGame& game, std::size_t dim) {
  std::vector<std::int32_t> moves;
  std::vector<std::int32_t> tiles;
  std::vector<float> shares;
  std::vector<std::int64_t> offsets{0};
  for (const auto& [player, tile] : game.moves) {
    moves.push_back(player);
    moves.push_back(tile);
  }
  for (const PolicyTarget& target : game.policies) {
    for (const auto& [tile, share] : target) {
      tiles.push_back(tile);
      shares.push_back(share);
    }
    offsets.push_back(static_cast<std::int64_t>(tiles.size()));
  }
  nb::dict record;
  record["index"] = game.index;
  record["moves"] = numpy_of(moves, "int32").attr("reshape")(-1, 2);
  record["policy_tiles"] = numpy_of(tiles, "int32");
  record["policy_shares"] = numpy_of(shares, "float32");
  record["policy_offsets"] = numpy_of(offsets, "int64");
  record["payoffs"] = numpy_of(std::vector<float>(game.payoffs.begin(), game.payoffs.end()), "float32");
  if (!game.placements.empty()) {
    nb::list per_action;
    for (const auto& found : game.placements) per_action.append(placement_rows(found));
    record["placements"] = per_action;
  }
  const TrainingExamples& examples = game.examples;
  if (examples.count > 0) {
    const std::size_t rows = examples.count;
    record["example_planes"] = bool_array_of(examples.planes).attr("reshape")(rows, examples.board_planes, dim, dim);
    record["example_hands"] = bool_array_of(examples.hands).attr("reshape")(rows, examples.hand_entries);
    record["example_value"] = numpy_of(examples.value, "float32").attr("reshape")(rows, kPlayers);
    record["example_owners"] = numpy_of(examples.owners, "int8").attr("reshape")(rows, dim, dim);
    record["example_score"] = numpy_of(examples.score, "float32").attr("reshape")(rows, kPlayers);
  }
  return record;
}

nb::list take_finished(SearchPool& pool) {
  nb::list out;
  for (const FinishedGame& game : pool.take_finished()) out.append(record_of(game, pool.dim()));
  return out;
}

}  // namespace

void bind_pool(nb::module_& module) {
  nb::class_<SearchPool>(
      module, "SearchPool",
      "Many searches in one process, their networks' positions evaluated in batches: whole self-play games, or "
      "one action from each of many positions (for_positions: the players' and the arena's move choices). "
      "SelfPlayPool is the same class under its earlier name. Each round, next_batch() gives the position "
      "of every game waiting on the network; submit() takes the answers for exactly that batch and plays every "
      "game on to its next request. Finished games come from take_finished() as dicts of numpy arrays. The "
      "search is the module's: same selection, backup, root noise, sampling and tree reuse, unless "
      "first_play_reduction or gumbel_candidates is given.")
      .def("__init__",
           [](SearchPool* self, nb::handle settings, std::int64_t games, std::optional<std::int64_t> total_games,
              std::int64_t first_game) {
             if (games < 1) throw nb::value_error(output::kTooFewGames);
             const std::int64_t total = total_games.value_or(games);
             if (total < 0) throw nb::value_error(output::kTotalGamesNegative);
             if (first_game < 0) throw nb::value_error(output::kFirstGameNegative);
             const SearchSettings read = settings_from(settings, true);
             // Games valued by playouts alone play to the end right here.
             nb::gil_scoped_release unlocked;
             new (self) SearchPool(read, static_cast<std::size_t>(games), static_cast<std::size_t>(total),
                                     static_cast<std::uint64_t>(first_game));
           },
           "settings"_a, "games"_a = 64, "total_games"_a = nb::none(), "first_game"_a = 0,
           "`settings`: a SearchSettings (its documentation tells what each setting does), or any object with "
           "the module's seven config attributes, read as the module reads them, and any of the other settings by "
           "name. `games` play at once until `total_games` (default `games`) are done; they are "
           "numbered from `first_game` in the order they start, and a record's index is its number.")
      .def_static(
          "for_positions",
          [](nb::list positions, nb::handle settings, std::optional<std::vector<std::uint64_t>> seeds) {
            std::vector<Game> starts;
            for (nb::handle item : positions) {
              const Game& game = nb::cast<const Game&>(item);
              if (game.is_terminal()) throw nb::value_error(output::kPositionOver);
              if (!starts.empty() && game.dim() != starts.front().dim()) {
                throw nb::value_error(output::kPositionSidesDiffer);
              }
              starts.push_back(game);
            }
            SearchSettings read = settings_from(settings, false);
            read.options.action_limit = 1;
            if (seeds && seeds->size() != starts.size()) throw nb::value_error(output::kSeedsCountWrong);
            // Searches by playouts alone finish right here.
            nb::gil_scoped_release unlocked;
            return SearchPool(read, std::move(starts), seeds.value_or(std::vector<std::uint64_t>{}));
          },
          "positions"_a, "settings"_a, "seeds"_a = nb::none(),
          "One search of one action from each position (copied), e.g. a player's move choice. The chosen tile "
          "of position i is the single move of the finished record whose index is i; with a seed, position i "
          "draws the stream of game i; with `seeds` (one int per position), position i draws a stream seeded from "
          "seeds[i] alone. `settings` as for the constructor; dim, skip_single_tile, "
          "full_search_fraction and reduced_sims are ignored.")
      .def("done", &SearchPool::done, "True once every game has ended.")
      .def("next_batch", &next_batch,
           nb::sig("def next_batch(self) -> numpy.typing.NDArray[numpy.bool_]"),
           "A fresh bool array (B, P, dim, dim), or (B, dim, dim, P) with rep 2: the positions waiting on the "
           "network, one per game; P is input_planes. Asking again before submit() gives the same batch.")
      .def("next_inputs", &next_inputs,
           nb::sig("def next_inputs(self) -> tuple[numpy.typing.NDArray[numpy.bool_], "
                   "numpy.typing.NDArray[numpy.bool_]]"),
           "The same batch with the hands not widened: bool (B, board_planes, dim, dim) (or planes last with rep "
           "2), and bool (B, hand_entries), one entry per hand plane (none with five planes).")
      .def("submit", &submit, "policy_logits"_a, "value_logits"_a,
           "float32 (B, dim*dim) and (B, 4), numpy or torch on the CPU, rows in batch order, values relative to "
           "the player to move. NaN or infinity (on a legal tile, or among the values) and wrong shapes raise "
           "and change nothing.")
      .def("take_finished", &take_finished,
           "Games finished since the last call: dicts with index, moves (N, 2) int32 of (player, tile), "
           "policy_tiles / policy_shares with policy_offsets (N + 1) delimiting each action's target (empty: "
           "no target) and payoffs (4,); for a whole game, also its training positions, one per action with a "
           "target, in order: example_planes (K, board_planes, dim, dim) bool planes first, example_hands (K, "
           "hand_entries) bool, and relative to the player to move example_value (K, 4), example_owners (K, "
           "dim, dim) int8 (4 empty) and example_score (K, 4) score margins (see final_targets).")
      .def_prop_ro("dim", &SearchPool::dim)
      .def_prop_ro("input_planes", &SearchPool::input_planes, "Planes per position: 5, or 90 extended.")
      .def_prop_ro("evaluations", &SearchPool::evaluations, "Network answers used so far (rows submitted).")
      .def_prop_ro("requests", &SearchPool::requests, "Positions the games asked the network about so far.")
      .def_prop_ro("answered_without_network", &SearchPool::answered_without_network,
                   "Requests answered from the evaluation cache, or by sharing a batch row with a game waiting on "
                   "the same position.")
      .def_prop_ro("board_planes", &SearchPool::board_planes, "Board planes per position: 5, or 6 extended.")
      .def_prop_ro("hand_entries", &SearchPool::hand_entries, "Hand entries per position: 0, or 84 extended.")
      .def_prop_ro("pending", &SearchPool::pending, "Games waiting on the network now.");
  // The name it had when it played self-play games alone; callers of that time keep working.
  module.attr("SelfPlayPool") = module.attr("SearchPool");
}

}  // namespace tavrin::engine_bindings
