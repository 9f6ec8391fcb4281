#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace tavrin {

// Softmax in 32-bit arithmetic with the maximum subtracted first. NaN inputs
// are not guarded: they make every output NaN.
void softmax_in_place(std::span<float> values);
std::vector<float> softmax(std::vector<float> logits);

// Copies policy[tile] for every tile of `legal` into `out` (resized to fit).
// A tile past the end of the policy is an internal error.
void gather_legal_logits(std::span<const float> policy, std::span<const std::uint64_t> legal, std::vector<float>& out);

// Softmax over the legal tiles' logits, scattered back into a vector of the
// policy's length; every other entry is exactly 0.
std::vector<float> masked_softmax(std::span<const float> policy, std::span<const std::uint64_t> legal);

}  // namespace tavrin
