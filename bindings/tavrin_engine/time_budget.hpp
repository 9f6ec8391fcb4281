#pragma once

#include <nanobind/nanobind.h>

#include <chrono>
#include <optional>

#include "tavrin_engine/module_texts.hpp"

namespace tavrin::engine_bindings {

// A search's time budget given in seconds, checked: none when not given.
inline std::optional<std::chrono::nanoseconds> budget_of(std::optional<double> seconds) {
  if (!seconds) return std::nullopt;
  if (!(*seconds > 0 && *seconds <= output::kMaxSearchSeconds)) {
    throw nanobind::value_error(output::search_seconds_out_of_range(*seconds).c_str());
  }
  return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::duration<double>(*seconds));
}

}  // namespace tavrin::engine_bindings
