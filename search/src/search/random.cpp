#include "search/random.hpp"

#include <pthread.h>
#include <sys/random.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <limits>
#include <mutex>
#include <random>
#include <string>

#include "engine/internal_error.hpp"
#include "search/search_texts.hpp"

namespace tavrin::random {
namespace {

constexpr std::uint64_t kBytesPerSeed = 65536;

// Bumped in the child after every fork; a generator seeded under another
// value is stale.
std::atomic<std::uint64_t> fork_generation{0};
std::once_flag fork_handler_registered;

void on_fork_child() { fork_generation.fetch_add(1, std::memory_order_relaxed); }

bool read_device(const char* path, void* buffer, std::size_t size) {
  std::FILE* device = std::fopen(path, "rb");
  if (device == nullptr) return false;
  const bool complete = std::fread(buffer, 1, size, device) == size;
  std::fclose(device);
  return complete;
}

void fill_from_entropy(void* buffer, std::size_t size) {
  auto* bytes = static_cast<unsigned char*>(buffer);
  std::size_t filled = 0;
  while (filled < size) {
    const ssize_t got = getrandom(bytes + filled, size - filled, 0);
    if (got > 0) {
      filled += static_cast<std::size_t>(got);
    } else if (got < 0 && errno == EINTR) {
      continue;
    } else {
      break;
    }
  }
  if (filled == size) return;
  if (read_device("/dev/urandom", buffer, size) || read_device("/dev/random", buffer, size)) return;
  throw InternalError(output::kNoEntropySource);
}

// splitmix64: one step of the sequence that expands a seed into a state.
std::uint64_t splitmix64(std::uint64_t& sequence) {
  sequence += 0x9E3779B97F4A7C15ULL;
  std::uint64_t z = sequence;
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
  return z ^ (z >> 31);
}

thread_local Generator per_thread = Generator::from_entropy();

// Adapts a generator to the standard distributions.
struct Engine {
  using result_type = std::uint64_t;
  static constexpr result_type min() { return 0; }
  static constexpr result_type max() { return std::numeric_limits<result_type>::max(); }
  result_type operator()() { return generator.next_u64(); }
  Generator& generator;
};

}  // namespace

Generator& thread_generator() { return per_thread; }

Generator Generator::seeded(std::uint64_t seed) {
  Generator generator(false);
  for (std::uint64_t& word : generator.state_) word = splitmix64(seed);
  return generator;
}

Generator Generator::for_game(std::uint64_t seed, std::uint64_t game) {
  // An odd multiplier keeps distinct game numbers apart under one seed.
  std::uint64_t sequence = seed;
  return seeded(splitmix64(sequence) + game * 0xD1B54A32D192ED03ULL);
}

std::uint64_t Generator::next_from_entropy() {
  const std::uint64_t generation = fork_generation.load(std::memory_order_relaxed);
  if (!seeded_ || generation != fork_generation_ || bytes_since_seed_ >= kBytesPerSeed) reseed();
  bytes_since_seed_ += sizeof(std::uint64_t);
  return xoshiro256_next(state_);
}

void Generator::reseed() {
  std::call_once(fork_handler_registered, [] { pthread_atfork(nullptr, nullptr, on_fork_child); });
  fork_generation_ = fork_generation.load(std::memory_order_relaxed);
  do {
    fill_from_entropy(state_.data(), sizeof(state_));
  } while ((state_[0] | state_[1] | state_[2] | state_[3]) == 0);  // the one state that never moves
  bytes_since_seed_ = 0;
  seeded_ = true;
}

std::uint64_t Generator::uniform_index(std::uint64_t bound) {
  if (bound == 0) throw InternalError(output::kEmptyRange);
  // Lemire's multiply-and-reject: the rejected low range removes the bias.
  const std::uint64_t threshold = (0 - bound) % bound;
  while (true) {
    const unsigned __int128 product = static_cast<unsigned __int128>(next_u64()) * bound;
    if (static_cast<std::uint64_t>(product) >= threshold) return static_cast<std::uint64_t>(product >> 64);
  }
}

std::vector<double> Generator::dirichlet(double alpha, std::size_t count) {
  if (!(alpha > 0.0)) throw InternalError(output::dirichlet_concentration_not_positive(alpha));
  Engine engine{*this};
  std::gamma_distribution<double> gamma(alpha, 1.0);
  std::vector<double> sample(count);
  double sum = 0.0;
  for (double& component : sample) {
    component = gamma(engine);
    sum += component;
  }
  if (sum > 0.0) {
    for (double& component : sample) component /= sum;
  } else if (count > 0) {
    // Every draw underflowed (tiny alpha): the limit puts all mass on one component.
    sample[uniform_index(count)] = 1.0;
  }
  return sample;
}

}  // namespace tavrin::random
