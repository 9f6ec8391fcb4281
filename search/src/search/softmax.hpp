#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace tavrin {

// Softmax in 32-bit arithmetic with the maximum subtracted first. NaN inputs
// are not guarded: they make every output NaN.
void softmax_in_place(std::span<float> values);

// Copies policy[tile] for every tile of `legal` into `out` (resized to fit).
// A tile past the end of the policy is an internal error.
void gather_legal_logits(std::span<const float> policy, std::span<const std::uint64_t> legal, std::vector<float>& out);

}  // namespace tavrin
