#pragma once

#include <span>
#include <vector>

#include "game.hpp"
#include "search_node.hpp"

namespace tavrin {

// Turns a network reply into an expanded node and values by absolute player.
// Keeps its buffers between calls so that decoding allocates nothing once warm.
class NetworkOutputDecoder {
 public:
  // Priors: softmax of the legal tiles' policy logits. Values: softmax of the
  // value logits (relative to the player to move), rotated so that entry i
  // belongs to player i. The span is valid until the next call.
  std::span<const float> decode(SearchNode& node, const Game& game, std::span<const float> policy_logits,
                                std::span<const float> value_logits);
  // The payoff of a terminal position, as values.
  std::span<const float> payoff(const Game& game);

 private:
  std::vector<float> legal_probabilities_;
  std::vector<float> relative_values_;
  std::vector<float> values_;
};

}  // namespace tavrin
