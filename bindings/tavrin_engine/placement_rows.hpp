#pragma once

#include <nanobind/nanobind.h>

#include <cstdint>
#include <vector>

#include "search/placement_walk.hpp"

namespace tavrin::engine_bindings {

// The whole placements a search went through, most visited first, as
// (squares, share of the placing simulations, mean value for the placer).
inline nanobind::list placement_rows(const std::vector<PlacementVisits>& found) {
  std::uint64_t total = 0;
  for (const PlacementVisits& placement : found) total += placement.visits;
  nanobind::list rows;
  for (const PlacementVisits& placement : found) {
    nanobind::list squares;
    for (std::uint16_t square : placement.squares) squares.append(square);
    const double visits = placement.visits;
    rows.append(nanobind::make_tuple(nanobind::tuple(squares), visits / static_cast<double>(total),
                                     placement.value_sum / visits));
  }
  return rows;
}

}  // namespace tavrin::engine_bindings
