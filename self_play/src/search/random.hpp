#pragma once

#include <cstdint>
#include <vector>

// One pseudo-random generator per thread, seeded from the operating system's
// entropy source on first use, reseeded after every 65536 bytes of output and
// after a fork, so that forked worker processes never share a sequence.
namespace tavrin::random {

std::uint64_t next_u64();
// Uniform in [0, 1): a multiple of 2^-23, never 1.
float uniform_float();
// Uniform in [0, bound) without modulo bias; bound 0 is the internal error
// "cannot sample empty range".
std::uint64_t uniform_index(std::uint64_t bound);
// Symmetric Dirichlet vector of `count` components with concentration
// `alpha`, in double precision. `alpha` not greater than 0 (or NaN) is an
// internal error.
std::vector<double> dirichlet(double alpha, std::size_t count);

}  // namespace tavrin::random
