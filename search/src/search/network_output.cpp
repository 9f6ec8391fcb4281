#include "search/network_output.hpp"

#include <string>

#include "engine/internal_error.hpp"
#include "search/search_texts.hpp"
#include "search/softmax.hpp"

namespace tavrin {

LeafValues NetworkOutputDecoder::decode(const Game& game, std::span<const float> policy_logits,
                                        std::span<const float> value_logits) {
  const std::uint64_t player = game.current_player();
  const auto legal = game.get_legal_tiles();
  gather_legal_logits(policy_logits, legal, legal_probabilities_);
  softmax_in_place(legal_probabilities_);

  relative_values_.assign(value_logits.begin(), value_logits.end());
  softmax_in_place(relative_values_);
  const std::size_t count = relative_values_.size();
  if (count < player) {
    throw InternalError(output::values_not_rotatable(count, player));
  }
  values_.resize(count);
  for (std::size_t k = 0; k < count; ++k) values_[(k + player) % count] = relative_values_[k];
  return {legal_probabilities_, values_};
}

}  // namespace tavrin
