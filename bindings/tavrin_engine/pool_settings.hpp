#pragma once

#include <nanobind/nanobind.h>

#include <string>

#include "selfplay/self_play_options.hpp"

namespace tavrin::engine_bindings {

// A pool's search settings from any object: the module's seven config
// attributes through the module's own reader (its AttributeError, or its
// TypeError "failed to extract field Config.<name>", is raised as it is),
// then the optional attributes by name where the object has them:
// skip_single_tile, full_search_fraction and reduced_sims (whole games only),
// extended_planes, first_play_reduction and seed. An optional attribute of
// the wrong type raises TypeError; a setting out of range raises ValueError
// (find_settings_problem).
SearchSettings read_pool_settings(nanobind::handle source, bool whole_games);
// The playout policy of a name, 'uniform' or 'larger'; ValueError for another.
PlayoutPolicy playout_policy_named(const std::string& name);

}  // namespace tavrin::engine_bindings
