#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// Texts of the search's errors and of the random generator: callers, worker
// logs and tests print, parse or match them, so changing one breaks them; they
// live here so that none is changed by accident.
namespace tavrin::output {

inline constexpr std::string_view kRootEvaluationError = "Error evaluating root node: ";
inline constexpr std::string_view kNoPositivePrior = "no legal tile has a positive prior";
inline constexpr const char* kNonFiniteScore = "NaN/Inf in UCB score";

// Both name the root's list of (action, visits), `visit_dist` in the search.
inline constexpr const char* kEmptyVisitDistribution = "assertion failed: visit_dist.len() > 0";

inline constexpr const char* kNoVisitDistribution = "visit_dist should not be empty";
inline constexpr const char* kMissingChild = "Child should have corresponding action";
inline constexpr const char* kUcb1WithoutRandom = "the UCB1 rule needs a random generator";
inline constexpr const char* kSharesNotPerChild = "the shares to sample from do not match the root's children";
inline constexpr const char* kCompleteWithoutLeaf = "Search::complete without a pending leaf";
inline constexpr const char* kAdvanceWhilePending = "MoveSearch::advance while an evaluation is pending";
inline constexpr const char* kProvideWithoutPending = "MoveSearch::provide without a pending evaluation";
inline constexpr const char* kSearchOfFinishedGame = "MoveSearch::begin_action on a finished game";
inline constexpr std::string_view kChosenTileRefused = "chosen tile refused by the game: ";

inline std::string no_value_for_player(std::uint64_t player, std::size_t values) {
  return "index out of range: no value for player " + std::to_string(player) + " among " + std::to_string(values);
}

inline std::string legal_tile_past_policy(std::size_t policy_size, std::uint64_t tile) {
  return "index out of range: the policy has " + std::to_string(policy_size) + " entries but tile " +
         std::to_string(tile) + " is legal";
}

inline std::string values_not_rotatable(std::size_t count, std::uint64_t player) {
  return "index out of range: " + std::to_string(count) + " value logits cannot be rotated by player " +
         std::to_string(player);
}

inline constexpr const char* kNoEntropySource = "no entropy source available to seed the random generator";
inline constexpr const char* kEmptyRange = "cannot sample empty range";

inline std::string dirichlet_concentration_not_positive(double alpha) {
  return "Dirichlet concentration must be greater than 0, got " + std::to_string(alpha);
}

inline constexpr const char* kPlayoutTileRefused = "random_playout: a legal tile was refused";

inline std::string display_text(std::string_view type_name, std::string_view message) {
  return std::string(type_name) + ": " + std::string(message);
}

// PyErr { type: <repr>, value: <repr>, traceback: None | Some(<quoted traceback>) }.
inline std::string debug_text(std::string_view type_repr, std::string_view value_repr, std::string_view traceback) {
  return "PyErr { type: " + std::string(type_repr) + ", value: " + std::string(value_repr) +
         ", traceback: " + std::string(traceback) + " }";
}

}  // namespace tavrin::output
