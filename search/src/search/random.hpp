#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

#include "search/xoshiro.hpp"

namespace tavrin::random {

// xoshiro256** in one of two kinds. A seeded generator gives the same stream
// for the same seed, so that a seeded search or player plays the same game
// twice. An entropy generator is seeded from the operating system's entropy
// source on first use and reseeded after every 65536 bytes of output and
// after a fork, so that forked worker processes never share a sequence; the
// per-thread generator is one.
class Generator {
 public:
  // The state expanded from `seed` with splitmix64.
  static Generator seeded(std::uint64_t seed);
  // The stream of game number `game` under `seed`: distinct games draw
  // distinct streams, and a game's stream does not depend on which pool or
  // process plays it.
  static Generator for_game(std::uint64_t seed, std::uint64_t game);
  static constexpr Generator from_entropy() { return Generator(true); }

  std::uint64_t next_u64() { return reseeds_ ? next_from_entropy() : xoshiro256_next(state_); }
  // Uniform in [0, 1): a multiple of 2^-23, never 1.
  float uniform_float() { return static_cast<float>(next_u64() >> 41) * 0x1.0p-23F; }
  // Uniform in [0, bound) without modulo bias; bound 0 is the internal error
  // "cannot sample empty range".
  std::uint64_t uniform_index(std::uint64_t bound);
  // Symmetric Dirichlet vector of `count` components with concentration
  // `alpha`, in double precision. `alpha` not greater than 0 (or NaN) is an
  // internal error.
  std::vector<double> dirichlet(double alpha, std::size_t count);

 private:
  constexpr explicit Generator(bool reseeds) : reseeds_(reseeds) {}
  std::uint64_t next_from_entropy();
  void reseed();

  std::array<std::uint64_t, 4> state_{};
  bool reseeds_ = false;
  bool seeded_ = false;
  std::uint64_t bytes_since_seed_ = 0;
  std::uint64_t fork_generation_ = 0;
};

// The calling thread's entropy generator.
Generator& thread_generator();

// Where one game draws its random numbers: a stream of its own, or the
// generator of whichever thread runs it at the time of each draw.
class RandomSource {
 public:
  // The running thread's generator.
  RandomSource() = default;
  // Game `game`'s own stream under `seed`; the thread's generator without a seed.
  static RandomSource for_game(std::optional<std::uint64_t> seed, std::uint64_t game) {
    RandomSource source;
    if (seed) source.own_ = Generator::for_game(*seed, game);
    return source;
  }

  // A stream of its own seeded from `seed` alone.
  static RandomSource seeded(std::uint64_t seed) {
    RandomSource source;
    source.own_ = Generator::seeded(seed);
    return source;
  }

  Generator& generator() { return own_ ? *own_ : thread_generator(); }

 private:
  std::optional<Generator> own_;
};

}  // namespace tavrin::random
