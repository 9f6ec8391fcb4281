#pragma once

#include <span>
#include <string>
#include <variant>

#include "engine/game.hpp"

namespace tavrin {

// A failed evaluation, rendered the two ways the drivers print it.
struct EvaluationFailure {
  std::string display_text;  // "Type: message"
  std::string debug_text;    // full rendering with type, value and traceback
};

// What the network says about a position: a prior per legal tile (parallel
// to Game::get_legal_tiles()) and a value per absolute player. The spans stay
// valid until the evaluator's next call.
struct LeafValues {
  std::span<const float> priors;
  std::span<const float> values;
};

using Evaluation = std::variant<LeafValues, EvaluationFailure>;

// Source of position evaluations for the search. It only reads positions;
// expanding the tree and scoring finished games is the search's job.
class Evaluator {
 public:
  // `game` is never terminal.
  virtual Evaluation evaluate(const Game& game) = 0;

 protected:
  ~Evaluator() = default;
};

inline const EvaluationFailure* failure_of(const Evaluation& evaluation) {
  return std::get_if<EvaluationFailure>(&evaluation);
}

}  // namespace tavrin
