#pragma once

#include <nanobind/nanobind.h>

namespace tavrin::engine_bindings {

namespace nb = nanobind;

// The engine's sizes: te.PLAYERS, te.PIECES, the plane counts of the
// network input and the board sides te.Game accepts.
void bind_constants(nanobind::module_& module);
// The game as a Python object: te.Game.
void bind_game(nanobind::module_& module);
// The fixed players' search and scoring: te.rollout_search, te.greedy_placements.
void bind_players(nanobind::module_& module);
// The settings of every search: te.SearchSettings.
void bind_search_settings(nanobind::module_& module);
// Batched searches: te.SearchPool (also te.SelfPlayPool, its earlier name).
void bind_pool(nanobind::module_& module);
// A seat's search through a whole game: te.MoveSearch.
void bind_move_search(nanobind::module_& module);
// The training targets that the end of a game gives: te.final_targets.
void bind_targets(nanobind::module_& module);

}  // namespace tavrin::engine_bindings
