#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "engine/catalogue.hpp"

// Observable output of the search, the self-play games, the fixed players and
// the two extension modules: lines on standard output and the texts of the
// exceptions that reach Python. Worker logs, callers and tests print, parse
// or match them, so changing one breaks them; they live here so that none is
// changed by accident. (The engine keeps its own in engine/engine_texts.hpp.)
namespace tavrin::output {

// --- Lines the drivers print on standard output -------------------------

inline constexpr std::string_view kTrainingGameError = "Error during training game: ";
inline constexpr std::string_view kSearchError = "Error running MCTS: ";
// The exception text of a failed test game (its detail is printed first).
inline constexpr std::string_view kSearchFailed = "Error running MCTS";
inline constexpr std::string_view kPostingError = "Error posting result: ";
inline constexpr std::string_view kRootEvaluationError = "Error evaluating root node: ";
inline constexpr std::string_view kNoPositivePrior = "no legal tile has a positive prior";
inline constexpr std::string_view kFinishedGame = "Finished Game\n";

// --- Internal errors of the search --------------------------------------

inline constexpr const char* kNonFiniteScore = "NaN/Inf in UCB score";
// Both name the root's list of (action, visits), `visit_dist` in the search.
inline constexpr const char* kEmptyVisitDistribution = "assertion failed: visit_dist.len() > 0";
inline constexpr const char* kNoVisitDistribution = "visit_dist should not be empty";
inline constexpr const char* kMissingChild = "Child should have corresponding action";
inline constexpr const char* kUcb1WithoutRandom = "the UCB1 rule needs a random generator";
inline constexpr const char* kSharesNotPerChild = "the shares to sample from do not match the root's children";
inline constexpr const char* kCompleteWithoutLeaf = "Search::complete without a pending leaf";
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

// --- Internal errors of the random generator ----------------------------

inline constexpr const char* kNoEntropySource = "no entropy source available to seed the random generator";
inline constexpr const char* kEmptyRange = "cannot sample empty range";

inline std::string dirichlet_concentration_not_positive(double alpha) {
  return "Dirichlet concentration must be greater than 0, got " + std::to_string(alpha);
}

// --- Self-play games and the batched pool -------------------------------

inline constexpr const char* kAdvanceWhilePending = "SelfPlayGame::advance while an evaluation is pending";
inline constexpr const char* kProvideWithoutPending = "SelfPlayGame::provide without a pending evaluation";
inline constexpr const char* kPoolSidesDiffer = "SelfPlayPool: positions of different board sides";
inline constexpr const char* kBatchBufferTooSmall = "SelfPlayPool: batch buffer too small";
inline constexpr const char* kHashSideDiffers = "PositionHasher: a position of another board side";
inline constexpr const char* kExamplesBeforeTheEnd = "ExampleRecorder: the game is not over";
inline constexpr const char* kCachedValuesWrongSize = "EvaluationCache: an answer without four values";

// Answers the pool cannot use; raised as ValueError.
inline constexpr const char* kNoBatchOpen = "no batch is waiting for answers: call next_batch() first";

inline std::string answer_rows_wrong(std::size_t rows) {
  return "answers must have " + std::to_string(rows) + " rows, one per position of the last batch";
}

inline std::string policy_not_finite(std::size_t row, std::uint64_t tile) {
  return "policy_logits row " + std::to_string(row) + " holds NaN or infinity at legal tile " + std::to_string(tile);
}

inline std::string values_not_finite(std::size_t row) {
  return "value_logits row " + std::to_string(row) + " holds NaN or infinity";
}

// "<what> must be 4 to 128, got <side>": a board side outside the engine's range.
inline std::string side_out_of_range(std::string_view what, const std::string& side) {
  return std::string(what) + " must be " + std::to_string(kMinSide) + " to " + std::to_string(kMaxSide) + ", got " +
         side;
}

// Search settings the pool refuses; raised as ValueError.
inline std::string dim_out_of_range(std::uint64_t dim) { return side_out_of_range("config.dim", std::to_string(dim)); }

inline std::string rep_out_of_range(std::uint64_t rep) {
  return "config.rep must be 1 or 2, got " + std::to_string(rep);
}

inline constexpr const char* kSimsPerMoveTooSmall = "config.sims_per_move must be at least 1";
inline constexpr const char* kDirichletAlphaNotPositive = "config.dirichlet_alpha must be greater than 0";
inline constexpr const char* kExplorationFractionOutOfRange = "config.exploration_fraction must lie in [0, 1]";
inline constexpr const char* kCPuctOutOfRange = "config.c_puct must be a finite number >= 0";
inline constexpr const char* kFullSearchFractionOutOfRange = "full_search_fraction must lie in (0, 1]";
inline constexpr const char* kReducedSimsTooSmall =
    "reduced_sims must be at least 1 when full_search_fraction is below 1";
inline constexpr const char* kReducedSimsNegative = "reduced_sims must not be negative";
inline constexpr const char* kCacheEntriesOutOfRange = "evaluation_cache must be from 0 to 2**24 entries";
inline constexpr const char* kGumbelCandidatesOutOfRange = "gumbel_candidates must be 0 to 65536";
inline constexpr const char* kFirstPlayReductionNotFinite = "first_play_reduction must be a finite number";
inline constexpr const char* kPlayoutsPerLeafOutOfRange = "playouts must be from 1 to 1024 per leaf";
inline constexpr const char* kPlayoutWeightOutOfRange = "playout_weight must lie in [0, 1]";
inline constexpr const char* kSearchedValueWeightOutOfRange = "searched_value_weight must lie in [0, 1]";
inline constexpr const char* kOpeningActionsOutOfRange = "opening_sample_actions must be 0 to 89";
inline constexpr const char* kUnknownLeafEvaluation = "leaf_evaluation must be 'network', 'mixed' or 'playouts'";
inline constexpr const char* kUnknownSelection = "selection must be 'puct' or 'ucb1'";
inline constexpr const char* kSeedsCountWrong = "seeds must give one seed per position";
inline constexpr const char* kSeedOutOfRange = "seed must be None or an integer from 0 to 2**64 - 1";

inline std::string setting_of_wrong_type(std::string_view name, std::string_view wanted, std::string_view given) {
  return "settings." + std::string(name) + " must be " + std::string(wanted) + ", got " + std::string(given);
}

// --- The fixed players ---------------------------------------------------

inline constexpr const char* kPlayoutTileRefused = "random_playout: a legal tile was refused";
inline constexpr const char* kRolloutGameOver = "rollout_search: the game is over";
inline constexpr const char* kRolloutWithoutSimulations = "rollout_search: at least one simulation is needed";
inline constexpr const char* kRolloutAskedNetwork = "rollout_search: a search by playouts asked for the network";

// --- The module tavrin_self_play ----------------------------------------

inline constexpr const char* kInternalErrorName = "tavrin_self_play.InternalError";
inline constexpr const char* kInternalErrorDoc =
    "An impossible state inside the game or the search, or a config object that cannot be read.\n"
    "Derived from BaseException so that `except Exception` does not catch it.";
inline constexpr const char* kInitialisedTwice =
    "tavrin_self_play may only be initialised once per interpreter process";
inline constexpr std::string_view kConfigFieldError = "failed to extract field Config.";
inline constexpr const char* kInvalidRepresentation = "Invalid representation type";
inline constexpr std::string_view kIdArgumentPrefix = "argument 'id': ";
inline constexpr const char* kIdAboveRange = "signed integer is greater than maximum";
inline constexpr const char* kIdBelowRange = "signed integer is less than minimum";
inline constexpr const char* kPropagatingPythonError = "Python exception propagating to the caller";
inline constexpr const char* kFetchWithoutError = "attempted to fetch exception but none was set";
// How a failed evaluation is rendered: "Type: message" on the training
// game's line, the debug form on the test games' lines.
inline constexpr const char* kUnknownTypeName = "<unknown>";
inline constexpr const char* kStrFailed = "<exception str() failed>";
inline constexpr const char* kTypeReprFailed = "<type repr() failed>";
inline constexpr const char* kValueReprFailed = "<exception repr() failed>";
inline constexpr std::string_view kTracebackHeader = "Traceback (most recent call last):\n";
inline constexpr const char* kTracebackFailed = "<traceback formatting failed>\n";

inline std::string display_text(std::string_view type_name, std::string_view message) {
  return std::string(type_name) + ": " + std::string(message);
}

// PyErr { type: <repr>, value: <repr>, traceback: None | Some(<quoted traceback>) }.
inline std::string debug_text(std::string_view type_repr, std::string_view value_repr, std::string_view traceback) {
  return "PyErr { type: " + std::string(type_repr) + ", value: " + std::string(value_repr) +
         ", traceback: " + std::string(traceback) + " }";
}

inline std::string some_traceback(std::string_view quoted_traceback) {
  return "Some(" + std::string(quoted_traceback) + ")";
}

inline constexpr std::string_view kNoTraceback = "None";
inline constexpr const char* kStrNotNumbers = "a str cannot be read as a sequence of numbers";
// printf formats for PyErr_Format, in the host's own wording.
inline constexpr const char* kNotASequenceFormat = "'%.200s' object cannot be converted to 'Sequence'";
inline constexpr const char* kMissingArgumentsFormat = "%s() missing %zu required argument%s: %s";
inline constexpr const char* kTooManyPositionalFormat = "%s() takes %zd positional arguments but %zd were given";
inline constexpr const char* kUnexpectedKeywordFormat = "%s() got an unexpected keyword argument '%s'";
inline constexpr const char* kDuplicateArgumentFormat = "%s() got multiple values for argument '%s'";

// --- The module tavrin_engine --------------------------------------------

inline std::string board_side_out_of_range(std::int64_t dim) {
  return side_out_of_range("board side", std::to_string(dim));
}

inline std::string too_few_simulations(std::int64_t simulations) {
  return "simulations must be at least 1, got " + std::to_string(simulations);
}

inline constexpr const char* kNoTileToChoose = "the game is over: there is no tile to choose";
inline constexpr const char* kTooFewGames = "games must be at least 1";
inline constexpr const char* kTotalGamesNegative = "total_games must not be negative";
inline constexpr const char* kFirstGameNegative = "first_game must not be negative";
inline constexpr const char* kPositionOver = "a position to search is already over";
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
