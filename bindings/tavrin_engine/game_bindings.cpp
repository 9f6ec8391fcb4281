#include <nanobind/stl/string.h>
#include <nanobind/stl/tuple.h>
#include <nanobind/stl/vector.h>

#include <algorithm>
#include <stdexcept>
#include <string>
#include <tuple>
#include <vector>

#include "engine/catalogue.hpp"
#include "engine/engine_texts.hpp"
#include "engine/game.hpp"
#include "tavrin_engine/bindings.hpp"
#include "tavrin_engine/module_texts.hpp"
#include "tavrin_engine/numpy_arrays.hpp"

namespace tavrin::engine_bindings {
namespace {

using namespace nb::literals;

Game new_game(std::int64_t dim) {
  if (dim < static_cast<std::int64_t>(kMinSide) || dim > static_cast<std::int64_t>(kMaxSide)) {
    throw nb::value_error(output::board_side_out_of_range(dim).c_str());
  }
  return Game::reset(static_cast<std::uint64_t>(dim));
}

void apply_tile(Game& game, std::int64_t tile) {
  // Off-board and negative tiles get the engine's own message.
  if (tile < 0 || !game.is_legal(static_cast<std::uint64_t>(tile))) {
    throw nb::value_error(output::invalid_move_text(game.current_player(), tile).c_str());
  }
  if (auto error = game.apply(static_cast<std::uint64_t>(tile))) throw nb::value_error(error->c_str());
}

// A pickled game is its side and the tiles played; replaying them rebuilds
// every internal table exactly.
using SavedGame = std::tuple<std::int64_t, std::vector<std::int64_t>>;

SavedGame save(const Game& game) {
  std::vector<std::int64_t> tiles;
  tiles.reserve(game.history().size());
  for (const auto& [player, tile] : game.history()) tiles.push_back(tile);
  return {static_cast<std::int64_t>(game.dim()), std::move(tiles)};
}

Game restore(const SavedGame& saved) {
  Game game = new_game(std::get<0>(saved));
  for (std::int64_t tile : std::get<1>(saved)) apply_tile(game, tile);
  return game;
}

nb::tuple tiles_tuple(std::span<const std::uint16_t> tiles) {
  nb::list items;
  for (std::uint16_t tile : tiles) items.append(tile);
  return nb::tuple(items);
}

nb::object legal_tiles(const Game& game) {
  const auto tiles = game.get_legal_tiles();
  auto out = empty_array<std::int64_t>({tiles.size()}, "int64");
  std::copy(tiles.begin(), tiles.end(), out.values.begin());
  return out.array;
}

nb::object state(const Game& game, bool planes_last, bool extended) {
  const std::size_t dim = game.dim(), planes = extended ? kExtendedStatePlanes : kStatePlanes;
  auto out = planes_last ? empty_array<bool>({dim, dim, planes}, "bool") : empty_array<bool>({planes, dim, dim}, "bool");
  // numpy bools are one byte holding 0 or 1, exactly what the engine writes.
  const std::span<std::uint8_t> values{reinterpret_cast<std::uint8_t*>(out.values.data()), out.values.size()};
  if (extended) {
    game.write_extended_state(planes_last, values);
  } else {
    game.write_game_state(planes_last, values);
  }
  return out.array;
}

nb::list placements(const Game& game) {
  const Catalogue& catalogue = game.board().catalogue();
  std::vector<std::vector<std::uint16_t>> squares;
  for (std::uint32_t id : game.piece_placements()) {
    const auto cells = catalogue.placement(id).squares();
    // Laid in full while larger ones through it remain: the piece goes on
    // past it, so it is no longer possible.
    if (cells.size() == game.chosen_squares().size()) continue;
    squares.emplace_back(cells.begin(), cells.end());
  }
  std::sort(squares.begin(), squares.end());
  nb::list out;
  for (const auto& cells : squares) out.append(tiles_tuple(cells));
  return out;
}

nb::tuple hands(const Game& game) {
  nb::list players;
  for (std::uint64_t player = 0; player < kPlayers; ++player) {
    nb::list ids;
    bits::for_each_bit(game.board().hand(player).id_bits(), 0, [&](std::uint64_t id) { ids.append(id); });
    players.append(nb::tuple(ids));
  }
  return nb::tuple(players);
}

nb::list history(const Game& game) {
  nb::list out;
  for (const auto& [player, tile] : game.history()) out.append(nb::make_tuple(player, tile));
  return out;
}

std::string describe(const Game& game) {
  return output::game_repr(game.dim(), game.history().size(), game.is_terminal(), game.current_player());
}

}  // namespace

void bind_game(nb::module_& module) {
  nb::class_<Game>(module, "Game",
                   "One four-player game, played one tile (row * dim + column) per action. Copies are "
                   "independent; copy.copy, copy.deepcopy and pickle work.")
      .def("__init__", [](Game* self, std::int64_t dim) { new (self) Game(new_game(dim)); }, "dim"_a,
           "A fresh game on a board of side `dim` (4 to 128), player 0 to move.")
      .def_prop_ro("dim", [](const Game& g) { return g.dim(); }, "The board side.")
      .def_prop_ro("current_player", [](const Game& g) { return g.current_player(); },
                   "The player to move, 0 to 3.")
      .def("legal_tiles", &legal_tiles, nb::sig("def legal_tiles(self) -> numpy.typing.NDArray[numpy.int64]"),
           "The legal tiles of the player to move, ascending (numpy int64).")
      .def("apply", &apply_tile, "tile"_a,
           "Plays `tile` for the player to move. An illegal tile raises ValueError and changes nothing.")
      .def("is_terminal", &Game::is_terminal, "True once every player is out.")
      .def_prop_ro("finished",
                   [](const Game& g) {
                     const auto& out = g.finished();
                     return std::make_tuple(out[0], out[1], out[2], out[3]);
                   },
                   nb::for_getter(nb::sig("def finished(self) -> tuple[bool, bool, bool, bool]")),
                   "Per player, whether they are out: no placement was left to them at a turn of theirs.")
      .def("payoff",
           [](const Game& g) {
             const auto p = g.get_payoff();
             return std::make_tuple(double{p[0]}, double{p[1]}, double{p[2]}, double{p[3]});
           },
           "The four payoffs: the players with the best score share 1.")
      .def("scores",
           [](const Game& g) {
             const auto s = g.board().get_scores(g.last_piece_sizes());
             return std::make_tuple(s[0], s[1], s[2], s[3]);
           },
           "The four scores: minus the squares in hand, +15 for an empty hand, +5 more if the single "
           "square came last.")
      .def_prop_ro("history", &history, nb::for_getter(nb::sig("def history(self) -> list[tuple[int, int]]")),
                   "Every action so far as (player, tile).")
      .def_prop_ro("hands", &hands,
                   nb::for_getter(nb::sig("def hands(self) -> tuple[tuple[int, ...], tuple[int, ...], tuple[int, ...], tuple[int, ...]]")),
                   "Per player, the catalogue ids of the pieces still in hand.")
      .def_prop_ro("chosen_squares", [](const Game& g) { return tiles_tuple(g.chosen_squares()); },
                   nb::for_getter(nb::sig("def chosen_squares(self) -> tuple[int, ...]")),
                   "The tiles already laid for the piece being placed.")
      .def("placements", &placements, nb::sig("def placements(self) -> list[tuple[int, ...]]"),
           "Every placement still possible for the piece being placed, as tuples of tiles (ascending): each "
           "covers the squares laid so far and at least one legal tile.")
      .def("state", &state, "planes_last"_a = false, "extended"_a = false,
           nb::sig("def state(self, planes_last: bool = False, extended: bool = False) -> "
                   "numpy.typing.NDArray[numpy.bool_]"),
           "The network input: bool (5, dim, dim), or (dim, dim, 5) with planes_last. Planes 0-3 hold the "
           "squares of players current + k (mod 4), plane 4 the legal tiles. extended adds 85 planes (90 in "
           "all): plane 5 the squares already laid for the piece being placed, then for each player current + "
           "k one constant plane per catalogue piece (ids 0-20), true while the piece is in that hand.")
      .def("board_text", [](const Game& g) { return g.board().get_text(); }, "The board as printed text.")
      .def("copy", [](const Game& g) { return Game(g); }, "An independent copy.")
      .def("__copy__", [](const Game& g) { return Game(g); })
      .def("__deepcopy__", [](const Game& g, nb::handle) { return Game(g); }, "memo"_a)
      .def("__getstate__", &save)
      .def("__setstate__", [](Game& self, const SavedGame& saved) { new (&self) Game(restore(saved)); })
      .def("__repr__", &describe);
}

}  // namespace tavrin::engine_bindings
