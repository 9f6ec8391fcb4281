#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "engine/catalogue.hpp"

// The drivers' lines on standard output and the errors of self-play games, the
// batched pool, its settings and the rollout player: callers, worker logs and
// tests print, parse or match them, so changing one breaks them; they live
// here so that none is changed by accident.
namespace tavrin::output {

inline constexpr std::string_view kTrainingGameError = "Error during training game: ";
inline constexpr std::string_view kSearchError = "Error running MCTS: ";

// The exception text of a failed test game (its detail is printed first).
inline constexpr std::string_view kSearchFailed = "Error running MCTS";

inline constexpr std::string_view kPostingError = "Error posting result: ";
inline constexpr std::string_view kFinishedGame = "Finished Game\n";
inline constexpr const char* kPoolSidesDiffer = "SelfPlayPool: positions of different board sides";
inline constexpr const char* kBatchBufferTooSmall = "SelfPlayPool: batch buffer too small";
inline constexpr const char* kHashSideDiffers = "PositionHasher: a position of another board side";
inline constexpr const char* kTargetsBeforeTheEnd = "final_targets: the game is not over";
inline constexpr const char* kMoverOutOfRange = "final_targets: a mover is not a player";
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
inline constexpr const char* kLeafBatchOutOfRange = "leaf_batch must be 1 to 256 leaves per network call";
inline constexpr const char* kUnknownLeafEvaluation = "leaf_evaluation must be 'network', 'mixed' or 'playouts'";
inline constexpr const char* kUnknownSelection = "selection must be 'puct' or 'ucb1'";
inline constexpr const char* kUnknownPlayoutPolicy =
    "playout_policy must be 'uniform' (any legal tile) or 'larger' (placements drawn by size squared)";
inline constexpr const char* kSeedsCountWrong = "seeds must give one seed per position";
inline constexpr const char* kSeedOutOfRange = "seed must be None or an integer from 0 to 2**64 - 1";

inline std::string setting_of_wrong_type(std::string_view name, std::string_view wanted, std::string_view given) {
  return "settings." + std::string(name) + " must be " + std::string(wanted) + ", got " + std::string(given);
}

inline std::string setting_negative(std::string_view name, std::int64_t given) {
  return "settings." + std::string(name) + " must not be negative, got " + std::to_string(given);
}
inline std::string unknown_setting(std::string_view name) {
  return "SearchSettings has no setting named '" + std::string(name) + "'";
}
inline constexpr const char* kSettingsWithoutDim = "SearchSettings needs dim, the board side";

inline constexpr const char* kRolloutGameOver = "rollout_search: the game is over";
inline constexpr const char* kRolloutWithoutSimulations = "rollout_search: at least one simulation is needed";
inline constexpr const char* kRolloutAskedNetwork = "rollout_search: a search by playouts asked for the network";

}  // namespace tavrin::output
