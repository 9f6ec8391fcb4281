#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "search/search_settings.hpp"

namespace tavrin {

// The first setting outside what the search is built for, as the text the
// caller reports, or nothing when every setting is sound. The module takes
// any values and fails where one is used; batched self-play checks them up
// front. `whole_games`: the board side and the per-action choices of whole
// games are checked too (a search of one action from given positions uses
// neither).
std::optional<std::string> find_settings_problem(const SearchSettings& settings, bool whole_games);

}  // namespace tavrin
