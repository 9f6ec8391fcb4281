#include "search/random.hpp"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cmath>
#include <numeric>

#include "engine/internal_error.hpp"

namespace tavrin {
namespace {

TEST(UniformFloat, StaysInTheUnitIntervalOnTheTwentyThreeBitGrid) {
  for (int i = 0; i < 10000; ++i) {
    const float u = random::thread_generator().uniform_float();
    ASSERT_GE(u, 0.0F);
    ASSERT_LT(u, 1.0F);
    const float scaled = u * 0x1.0p23F;
    ASSERT_EQ(scaled, std::floor(scaled));
  }
}

TEST(UniformIndex, CoversTheRangeEvenlyAndRefusesAnEmptyOne) {
  EXPECT_THROW(random::thread_generator().uniform_index(0), InternalError);
  EXPECT_EQ(random::thread_generator().uniform_index(1), 0U);
  std::array<int, 7> counts{};
  constexpr int kDraws = 70000;
  for (int i = 0; i < kDraws; ++i) ++counts.at(random::thread_generator().uniform_index(counts.size()));
  for (int count : counts) EXPECT_NEAR(count, kDraws / 7, 600);  // about 6 standard deviations
}

TEST(Dirichlet, ComponentsArePositiveAndSumToOne) {
  for (double alpha : {0.03, 0.3, 5.0}) {
    const auto sample = random::thread_generator().dirichlet(alpha, 10);
    ASSERT_EQ(sample.size(), 10U);
    for (double component : sample) EXPECT_GE(component, 0.0);
    EXPECT_NEAR(std::accumulate(sample.begin(), sample.end(), 0.0), 1.0, 1e-12);
  }
  EXPECT_THROW(random::thread_generator().dirichlet(-1.0, 3), InternalError);
}

TEST(SeededStreams, OneStreamPerSeedAndGameNumber) {
  const auto draws = [](random::Generator generator) {
    std::array<std::uint64_t, 4> out{};
    for (auto& draw : out) draw = generator.next_u64();
    return out;
  };
  EXPECT_EQ(draws(random::Generator::for_game(7, 3)), draws(random::Generator::for_game(7, 3)));
  EXPECT_NE(draws(random::Generator::for_game(7, 3)), draws(random::Generator::for_game(7, 4)));
  EXPECT_NE(draws(random::Generator::for_game(7, 3)), draws(random::Generator::for_game(8, 3)));
  // A game with its own stream leaves the thread's generator alone; one without draws from it.
  random::RandomSource own = random::RandomSource::for_game(7, 3);
  random::RandomSource shared = random::RandomSource::for_game(std::nullopt, 3);
  EXPECT_NE(&own.generator(), &random::thread_generator());
  EXPECT_EQ(&shared.generator(), &random::thread_generator());
  EXPECT_EQ(own.generator().next_u64(), draws(random::Generator::for_game(7, 3))[0]);
}

// Draws in a forked child and hands them back over a pipe.
std::array<std::uint64_t, 4> draws_in_child() {
  int fds[2];
  if (pipe(fds) != 0) ADD_FAILURE() << "pipe failed";
  std::array<std::uint64_t, 4> draws{};
  const pid_t child = fork();
  if (child == 0) {
    for (auto& draw : draws) draw = random::thread_generator().next_u64();
    const ssize_t written = write(fds[1], draws.data(), sizeof(draws));
    _exit(written == static_cast<ssize_t>(sizeof(draws)) ? 0 : 1);
  }
  close(fds[1]);
  const ssize_t got = read(fds[0], draws.data(), sizeof(draws));
  close(fds[0]);
  int status = 0;
  waitpid(child, &status, 0);
  EXPECT_EQ(got, static_cast<ssize_t>(sizeof(draws)));
  return draws;
}

TEST(Generator, ForkedChildrenDrawTheirOwnSequences) {
  random::thread_generator().next_u64();  // seed the parent before forking
  const auto first = draws_in_child();
  const auto second = draws_in_child();
  std::array<std::uint64_t, 4> parent{};
  for (auto& draw : parent) draw = random::thread_generator().next_u64();
  EXPECT_NE(first, second);
  EXPECT_NE(first, parent);
  EXPECT_NE(second, parent);
}

}  // namespace
}  // namespace tavrin
