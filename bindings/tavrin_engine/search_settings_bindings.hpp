#pragma once

#include <nanobind/nanobind.h>

#include <string>

#include "selfplay/self_play_options.hpp"

namespace tavrin::engine_bindings {

// The settings a pool or a seat's search runs with. A te.SearchSettings is
// taken as it is; any other object is read as the module reads its config
// (the seven attributes dim, rep, sims_per_move, sample_moves, c_puct,
// dirichlet_alpha and exploration_fraction, the module's AttributeError or
// TypeError "failed to extract field Config.<name>" raised as they are),
// then every other setting it has, by the same name and with the same
// checks as te.SearchSettings. Without `whole_games`, skip_single_tile,
// full_search_fraction and reduced_sims are left at their defaults. A
// setting out of range raises ValueError (find_settings_problem).
SearchSettings settings_from(nanobind::handle source, bool whole_games);
// The playout policy of a name, 'uniform' or 'larger'; ValueError for another.
PlayoutPolicy playout_policy_named(const std::string& name);

}  // namespace tavrin::engine_bindings
