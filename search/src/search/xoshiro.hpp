#pragma once

#include <array>
#include <cstdint>

namespace tavrin::random {

// One step of xoshiro256**: small state, fast, and good enough for search
// noise and playouts. The all-zero state never moves.
inline std::uint64_t xoshiro256_next(std::array<std::uint64_t, 4>& state) {
  const auto rotl = [](std::uint64_t x, int k) { return (x << k) | (x >> (64 - k)); };
  const std::uint64_t result = rotl(state[1] * 5, 7) * 9;
  const std::uint64_t t = state[1] << 17;
  state[2] ^= state[0];
  state[3] ^= state[1];
  state[1] ^= state[2];
  state[0] ^= state[3];
  state[2] ^= t;
  state[3] = rotl(state[3], 45);
  return result;
}

}  // namespace tavrin::random
