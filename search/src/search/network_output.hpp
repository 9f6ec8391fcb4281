#pragma once

#include <span>
#include <vector>

#include "engine/game.hpp"
#include "search/evaluator.hpp"

namespace tavrin {

// Turns a network reply into priors and values. Keeps its buffers between
// calls so that decoding allocates nothing once warm.
class NetworkOutputDecoder {
 public:
  // Priors: softmax of the legal tiles' policy logits. Values: softmax of the
  // value logits (relative to the player to move), rotated so that entry i
  // belongs to player i. The spans are valid until the next call.
  LeafValues decode(const Game& game, std::span<const float> policy_logits, std::span<const float> value_logits);

 private:
  std::vector<float> legal_probabilities_;
  std::vector<float> relative_values_;
  std::vector<float> values_;
};

}  // namespace tavrin
