#pragma once

#include <array>
#include <cstdint>

#include "search/xoshiro.hpp"

namespace tavrin::players {

// xoshiro256** seeded through splitmix64: a reproducible stream per seed, so
// that a seeded player or search plays the same game twice. (The search's
// own generator reseeds from the system instead.)
class SeededRandom {
 public:
  explicit SeededRandom(std::uint64_t seed) {
    for (std::uint64_t& word : state_) {
      seed += 0x9E3779B97F4A7C15ULL;
      std::uint64_t z = seed;
      z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
      z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
      word = z ^ (z >> 31);
    }
  }

  std::uint64_t next() { return random::xoshiro256_next(state_); }

  // Uniform in [0, bound) for bound >= 1: Lemire's multiply, rejecting the
  // biased low products.
  std::uint64_t below(std::uint64_t bound) {
    unsigned __int128 product = static_cast<unsigned __int128>(next()) * bound;
    auto low = static_cast<std::uint64_t>(product);
    if (low < bound) {
      const std::uint64_t threshold = -bound % bound;
      while (low < threshold) {
        product = static_cast<unsigned __int128>(next()) * bound;
        low = static_cast<std::uint64_t>(product);
      }
    }
    return static_cast<std::uint64_t>(product >> 64);
  }

 private:
  std::array<std::uint64_t, 4> state_{};
};

}  // namespace tavrin::players
