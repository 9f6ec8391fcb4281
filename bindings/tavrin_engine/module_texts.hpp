#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "selfplay/self_play_texts.hpp"

// The texts of the module tavrin_engine's errors and reprs: callers, worker
// logs and tests print, parse or match them, so changing one breaks them; they
// live here so that none is changed by accident.
namespace tavrin::output {

inline std::string board_side_out_of_range(std::int64_t dim) {
  return side_out_of_range("board side", std::to_string(dim));
}

inline std::string too_few_simulations(std::int64_t simulations) {
  return "simulations must be at least 1, got " + std::to_string(simulations);
}

inline constexpr const char* kTargetsOfUnfinishedGame = "the game is not over: its final targets need its end";
inline constexpr const char* kMoversNotPlayers = "movers must be players 0 to 3";
inline constexpr const char* kNoTileToChoose = "the game is over: there is no tile to choose";
inline constexpr const char* kTooFewGames = "games must be at least 1";
inline constexpr const char* kTotalGamesNegative = "total_games must not be negative";
inline constexpr const char* kFirstGameNegative = "first_game must not be negative";
inline constexpr const char* kPositionOver = "a position to search is already over";
inline constexpr const char* kTileNotLegal = "that tile is not legal in the search's position";
inline constexpr const char* kSimulationsTooFew = "a search needs at least 1 simulation";
// A time budget of one action beyond this is a mistake, not a wish.
inline constexpr double kMaxSearchSeconds = 3600.0;
inline std::string search_seconds_out_of_range(double seconds) {
  return "a search's time budget must be more than 0 and at most 3600 seconds, got " + std::to_string(seconds);
}
inline constexpr const char* kPositionSidesDiffer = "positions to search must share one board side";
inline std::string not_float32(std::string_view name) { return std::string(name) + " must be float32"; }

// `shape` as Python writes a tuple: "(3, 49)", "(49,)".
inline std::string shape_mismatch(std::string_view name, std::size_t rows, std::size_t columns,
                                  std::string_view shape) {
  return std::string(name) + " must have shape (" + std::to_string(rows) + ", " + std::to_string(columns) + "), got " +
         std::string(shape);
}

inline std::string game_repr(std::uint64_t dim, std::size_t actions, bool over, std::uint64_t player) {
  return "Game(dim=" + std::to_string(dim) + ", " + std::to_string(actions) + " actions, " +
         (over ? "over)" : "player " + std::to_string(player) + " to move)");
}

}  // namespace tavrin::output
