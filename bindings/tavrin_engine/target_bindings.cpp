#include <nanobind/ndarray.h>
#include <nanobind/stl/pair.h>

#include <algorithm>
#include <cstdint>
#include <span>
#include <vector>

#include "engine/game.hpp"
#include "selfplay/final_targets.hpp"
#include "tavrin_engine/bindings.hpp"
#include "tavrin_engine/module_texts.hpp"
#include "tavrin_engine/numpy_arrays.hpp"

namespace tavrin::engine_bindings {
namespace {

using namespace nb::literals;
// Read as int64, so that no integer dtype is narrowed before the range check.
using Movers = nb::ndarray<const std::int64_t, nb::ndim<1>, nb::c_contig, nb::device::cpu>;

std::pair<nb::object, nb::object> final_targets_of(const Game& final, const Movers& movers) {
  if (!final.is_terminal()) throw nb::value_error(output::kTargetsOfUnfinishedGame);
  const std::span<const std::int64_t> given(movers.data(), movers.shape(0));
  const auto not_a_player = [](std::int64_t p) { return p < 0 || p >= static_cast<std::int64_t>(kPlayers); };
  if (std::any_of(given.begin(), given.end(), not_a_player)) {
    throw nb::value_error(output::kMoversNotPlayers);
  }
  const std::vector<std::uint8_t> players(given.begin(), given.end());
  const FinalTargets targets = final_targets(final, players);
  const std::size_t rows = players.size();
  const std::size_t dim = final.dim();
  auto owners = empty_array<std::int8_t>({rows, dim, dim}, "int8");
  auto score = empty_array<float>({rows, kPlayers}, "float32");
  std::copy(targets.owners.begin(), targets.owners.end(), owners.values.begin());
  std::copy(targets.score.begin(), targets.score.end(), score.values.begin());
  return {std::move(owners.array), std::move(score.array)};
}

}  // namespace

void bind_targets(nb::module_& module) {
  module.def("final_targets", &final_targets_of, "game"_a, "movers"_a,
             nb::sig("def final_targets(game: Game, movers: numpy.typing.NDArray[numpy.integer]) -> "
                     "tuple[numpy.typing.NDArray[numpy.int8], numpy.typing.NDArray[numpy.float32]]"),
             "The targets only the end of a game knows, for its positions whose players to move are `movers` "
             "(integers, one per position): owners int8 (K, dim, dim), the final owner of every cell relative to "
             "the position's mover (4 empty), and score float32 (K, 4), every player's final score minus the "
             "mean of the four over a quarter of the board, from the mover on. `game` must be over. The "
             "batched pool's records carry the same targets (example_owners, example_score).");
}

}  // namespace tavrin::engine_bindings
