#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "search/softmax.hpp"

// The search's in-place softmax and legal-tile gathering as functions of
// whole vectors, the forms the tests and the fuzzer state expectations in.
namespace tavrin::testing {

inline std::vector<float> softmax(std::vector<float> logits) {
  softmax_in_place(logits);
  return logits;
}

// Softmax over the legal tiles' logits, scattered back into a vector of the
// policy's length; every other entry is exactly 0. A legal tile past the
// policy's end is an internal error.
inline std::vector<float> masked_softmax(std::span<const float> policy, std::span<const std::uint64_t> legal) {
  std::vector<float> legal_probabilities;
  gather_legal_logits(policy, legal, legal_probabilities);
  softmax_in_place(legal_probabilities);
  std::vector<float> result(policy.size(), 0.0F);
  for (std::size_t k = 0; k < legal.size(); ++k) result[legal[k]] = legal_probabilities[k];
  return result;
}

}  // namespace tavrin::testing
