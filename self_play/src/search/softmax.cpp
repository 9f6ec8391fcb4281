#include "search/softmax.hpp"

#include <cmath>
#include <limits>
#include <string>

#include "engine/internal_error.hpp"

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

std::vector<float> softmax(std::vector<float> logits) {
  softmax_in_place(logits);
  return logits;
}

void gather_legal_logits(std::span<const float> policy, std::span<const std::uint64_t> legal, std::vector<float>& out) {
  out.resize(legal.size());
  for (std::size_t k = 0; k < legal.size(); ++k) {
    if (legal[k] >= policy.size()) {
      throw InternalError("index out of range: the policy has " + std::to_string(policy.size()) +
                          " entries but tile " + std::to_string(legal[k]) + " is legal");
    }
    out[k] = policy[legal[k]];
  }
}

std::vector<float> masked_softmax(std::span<const float> policy, std::span<const std::uint64_t> legal) {
  std::vector<float> legal_probabilities;
  gather_legal_logits(policy, legal, legal_probabilities);
  softmax_in_place(legal_probabilities);
  std::vector<float> result(policy.size(), 0.0F);
  for (std::size_t k = 0; k < legal.size(); ++k) result[legal[k]] = legal_probabilities[k];
  return result;
}

}  // namespace tavrin
