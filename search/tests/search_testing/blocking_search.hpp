#pragma once

#include <optional>
#include <string>

#include "search/evaluator.hpp"
#include "search/search.hpp"

namespace tavrin::testing {

// The search driven with blocking evaluations, one simulation at a time.
inline std::optional<std::string> prepare_root(Evaluator& network, SearchNode& root, const Game& game) {
  if (root.is_expanded()) return std::nullopt;
  const Evaluation evaluation = network.evaluate(game);
  if (const auto* failure = failure_of(evaluation)) return "Error evaluating root node: " + failure->display_text;
  expand_with_evaluation(root, game, std::get<LeafValues>(evaluation));
  return std::nullopt;
}

inline std::optional<std::string> run_simulations(Evaluator& network, Search& search, SearchNode& root,
                                                  const Game& game, std::uint64_t simulations) {
  for (std::uint64_t i = 0; i < simulations; ++i) {
    const Game* leaf = search.descend(root, game);
    if (leaf == nullptr) continue;
    const Evaluation evaluation = network.evaluate(*leaf);
    if (const auto* failure = failure_of(evaluation)) {
      search.abandon();
      return failure->display_text;
    }
    search.complete(std::get<LeafValues>(evaluation));
  }
  return std::nullopt;
}

}  // namespace tavrin::testing
