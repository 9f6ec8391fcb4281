#include <nanobind/nanobind.h>

#include "engine_module/bindings.hpp"

NB_MODULE(tavrin_engine, module) {
  module.doc() =
      "The tavrin game engine as Python objects: a game you can copy, inspect and play tile by tile, "
      "with numpy arrays at the boundary, and the search and scoring of the fixed players.";
  tavrin::engine_module::bind_constants(module);
  tavrin::engine_module::bind_game(module);
  tavrin::engine_module::bind_players(module);
  tavrin::engine_module::bind_pool(module);
}
