#pragma once

#include <string_view>

// Observable output: texts that callers print, parse or match (worker logs,
// exception messages, tests). Changing one breaks them; they live here so
// that none is changed by accident.
namespace tavrin::output {

inline constexpr std::string_view kTrainingGameError = "Error during training game: ";
inline constexpr std::string_view kSearchError = "Error running MCTS: ";
// The exception text of a failed test game (its detail is printed first).
inline constexpr std::string_view kSearchFailed = "Error running MCTS";
inline constexpr std::string_view kPostingError = "Error posting result: ";
inline constexpr std::string_view kRootEvaluationError = "Error evaluating root node: ";
inline constexpr std::string_view kNoPositivePrior = "no legal tile has a positive prior";
inline constexpr std::string_view kFinishedGame = "Finished Game\n";

}  // namespace tavrin::output
