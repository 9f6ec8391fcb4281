#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

#include "search/evaluator.hpp"

namespace tavrin {

// Network answers by position key, so that a position reached again costs
// no network call. Bounded and direct-mapped: a key owns one slot, and a new
// answer replaces whatever held that slot. An entry also keeps how many legal
// tiles its position had; a key that finds a different count is a miss, so
// even a colliding key can never hand the search priors of the wrong length.
// Slots keep their buffers when replaced: nothing is allocated once warm.
class EvaluationCache {
 public:
  // `entries` is rounded up to a power of two; 0 disables the cache.
  explicit EvaluationCache(std::size_t entries);

  bool enabled() const { return !slots_.empty(); }
  // The stored answer (spans valid until the next `store`), or nothing.
  std::optional<LeafValues> find(std::uint64_t key, std::size_t legal_tiles);
  void store(std::uint64_t key, const LeafValues& answer);

  std::uint64_t lookups() const { return lookups_; }
  std::uint64_t hits() const { return hits_; }

 private:
  struct Slot {
    bool used = false;
    std::uint64_t key = 0;
    std::vector<float> priors;
    std::array<float, kPlayers> values{};
  };

  std::vector<Slot> slots_;
  std::uint64_t mask_ = 0;
  std::uint64_t lookups_ = 0;
  std::uint64_t hits_ = 0;
};

}  // namespace tavrin
