#include "search/softmax.hpp"

#include <cmath>
#include <limits>
#include <string>

#include "engine/internal_error.hpp"
#include "search/search_texts.hpp"

namespace tavrin {

void softmax_in_place(std::span<float> values) {
  if (values.empty()) return;
  // `v > maximum` is false for NaN, so NaN entries are skipped as in maxNum.
  float maximum = -std::numeric_limits<float>::infinity();
  for (float v : values) {
    if (v > maximum) maximum = v;
  }
  float sum = 0.0F;
  for (float& v : values) {
    v = std::exp(v - maximum);
    sum += v;
  }
  for (float& v : values) v /= sum;
}

void gather_legal_logits(std::span<const float> policy, std::span<const std::uint64_t> legal, std::vector<float>& out) {
  out.resize(legal.size());
  for (std::size_t k = 0; k < legal.size(); ++k) {
    if (legal[k] >= policy.size()) {
      throw InternalError(output::legal_tile_past_policy(policy.size(), legal[k]));
    }
    out[k] = policy[legal[k]];
  }
}

}  // namespace tavrin
