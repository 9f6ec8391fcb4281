#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// Observable output of the engine: the refusal of an illegal tile and the
// messages of its internal errors, which reach Python as exception texts.
// Callers and tests match them; they live here so that none is changed by
// accident. (The layers above keep theirs in search/output_texts.hpp.)
namespace tavrin::output {

// "Invalid move - Player {p}, Tile {tile}".
inline std::string invalid_move_text(std::uint64_t player, std::int64_t tile) {
  return "Invalid move - Player " + std::to_string(player) + ", Tile " + std::to_string(tile);
}

// A piece completed by no placement: the game's move tables disagree.
inline constexpr std::string_view kNoPlacementLeft = "valid_moves must be non-empty";
inline constexpr const char* kInvalidPlayerNumber = "Invalid player number";

inline std::string player_out_of_range(std::string_view where, std::uint64_t player) {
  return std::string(where) + ": index out of range: player " + std::to_string(player) + " (players are 0 to 3)";
}

inline std::string hand_index_out_of_range(std::size_t index, std::size_t size) {
  return "removal index (is " + std::to_string(index) + ") should be < len (is " + std::to_string(size) + ")";
}

inline std::string tile_out_of_range(std::uint64_t tile, std::uint64_t cells) {
  return "Board::place_tile: index out of range: tile " + std::to_string(tile) + " on a board of " +
         std::to_string(cells) + " cells";
}

inline std::string occupant_out_of_range(unsigned occupant) {
  return "Board::get_scores: index out of range: cell occupant " + std::to_string(occupant);
}

inline constexpr const char* kRepBufferTooSmall = "Board::get_rep: index out of range: buffer too small";
inline constexpr const char* kStateBufferTooSmall = "Game::get_game_state: index out of range: buffer too small";
inline constexpr const char* kExtendedStateBufferTooSmall = "Game::write_extended_state: buffer too small";
inline constexpr const char* kExtendedBoardBufferTooSmall = "Game::write_extended_board: buffer too small";
inline constexpr const char* kHandBufferTooSmall = "Game::write_hands: buffer too small";

inline std::string side_not_supported(std::uint64_t dim, std::uint64_t largest) {
  return "Board side " + std::to_string(dim) + " is not supported: the largest side is " + std::to_string(largest);
}

inline constexpr const char* kVariantWithoutRows = "PieceVariant: index out of range: the matrix has no rows";

inline std::string variant_row_too_long(std::size_t entries, std::uint64_t dim) {
  return "PieceVariant: requested length out of range: a row of " + std::to_string(entries) +
         " entries does not fit a board of side " + std::to_string(dim) + " (boards need a side of at least 4)";
}

inline constexpr const char* kRotateWithoutRows = "Piece::rotate: index out of range: the matrix has no rows";

inline std::string rotate_row_too_short(std::size_t row) {
  return "Piece::rotate: index out of range: row " + std::to_string(row) + " is shorter than the first row";
}

}  // namespace tavrin::output
