#pragma once

#include <bit>
#include <cstdint>

namespace tavrin::bits {

// One bit per board cell, packed into 64-bit words.
inline constexpr std::uint64_t words_for(std::uint64_t cells) { return (cells + 63) / 64; }

inline bool test(const std::uint64_t* words, std::uint64_t index) {
  return (words[index >> 6] >> (index & 63)) & 1U;
}
inline void set(std::uint64_t* words, std::uint64_t index) { words[index >> 6] |= std::uint64_t{1} << (index & 63); }
inline void clear(std::uint64_t* words, std::uint64_t index) {
  words[index >> 6] &= ~(std::uint64_t{1} << (index & 63));
}

// Calls visit(index) for every set bit of `word`, lowest first; `base` is the
// index of the word's bit 0.
template <typename Visit>
inline void for_each_bit(std::uint64_t word, std::uint64_t base, Visit&& visit) {
  while (word != 0) {
    visit(base + static_cast<std::uint64_t>(std::countr_zero(word)));
    word &= word - 1;
  }
}

}  // namespace tavrin::bits
