#include <nanobind/nanobind.h>

#include "tavrin_engine/bindings.hpp"

NB_MODULE(tavrin_engine, module) {
  module.doc() =
      "The tavrin game engine as Python objects: a game you can copy, inspect and play tile by tile, "
      "with numpy arrays at the boundary, and the search and scoring of the fixed players.";
  tavrin::engine_bindings::bind_constants(module);
  tavrin::engine_bindings::bind_game(module);
  tavrin::engine_bindings::bind_players(module);
  tavrin::engine_bindings::bind_search_settings(module);
  tavrin::engine_bindings::bind_pool(module);
  tavrin::engine_bindings::bind_move_search(module);
  tavrin::engine_bindings::bind_targets(module);
}
