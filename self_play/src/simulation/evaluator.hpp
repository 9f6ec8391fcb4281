#pragma once

#include <span>
#include <string>
#include <variant>

#include "game.hpp"
#include "search_node.hpp"

namespace tavrin {

// A failed evaluation, rendered the two ways the drivers print it.
struct EvaluationFailure {
  std::string display_text;  // "Type: message"
  std::string debug_text;    // full rendering with type, value and traceback
};

// Values by absolute player (valid until the evaluator's next call), or why
// the evaluation failed.
using Evaluation = std::variant<std::span<const float>, EvaluationFailure>;

// Source of position values for the search. A non-terminal position expands
// `node`; a terminal one returns its payoff and leaves the node alone.
class Evaluator {
 public:
  virtual Evaluation evaluate(SearchNode& node, const Game& game) = 0;

 protected:
  ~Evaluator() = default;
};

inline const EvaluationFailure* failure_of(const Evaluation& evaluation) {
  return std::get_if<EvaluationFailure>(&evaluation);
}

}  // namespace tavrin
