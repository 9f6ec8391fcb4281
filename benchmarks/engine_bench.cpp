// Single-thread engine throughput: whole random games, the search's
// copy-and-descend step, game copy, reset and the network-input encoding.
#include <benchmark/benchmark.h>

#include <random>

#include "engine/game.hpp"

namespace {

using tavrin::Game;

std::uint64_t random_tile(const Game& game, std::mt19937_64& rng) {
  const auto tiles = game.get_legal_tiles();
  return tiles[std::uniform_int_distribution<std::size_t>(0, tiles.size() - 1)(rng)];
}

// A position after `actions` random actions (fewer if the game ends first).
Game random_position(std::uint64_t dim, int actions, std::uint64_t seed) {
  std::mt19937_64 rng(seed);
  Game game = Game::reset(dim);
  for (int i = 0; i < actions && !game.is_terminal(); ++i) game.apply(random_tile(game, rng));
  return game;
}

void BM_RandomPlayout(benchmark::State& state) {
  const auto dim = static_cast<std::uint64_t>(state.range(0));
  std::mt19937_64 rng(1);
  std::int64_t actions = 0;
  for (auto _ : state) {
    Game game = Game::reset(dim);
    while (!game.is_terminal()) {
      game.apply(random_tile(game, rng));
      ++actions;
    }
    benchmark::DoNotOptimize(game.get_payoff());
  }
  state.counters["games/s"] = benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
  state.counters["actions/s"] = benchmark::Counter(static_cast<double>(actions), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_RandomPlayout)->Arg(20)->Arg(10)->Unit(benchmark::kMicrosecond);

// What one simulation does to the game: copy the position and apply up to 6
// random legal tiles to the copy.
void BM_CopyAndDescend(benchmark::State& state) {
  const auto dim = static_cast<std::uint64_t>(state.range(0));
  std::vector<Game> positions;
  for (std::uint64_t seed = 0; seed < 16; ++seed) {
    positions.push_back(random_position(dim, static_cast<int>(dim * dim / 4), seed));
  }
  std::mt19937_64 rng(2);
  std::size_t next = 0;
  for (auto _ : state) {
    Game copy = positions[next++ % positions.size()];
    for (int step = 0; step < 6 && !copy.is_terminal(); ++step) copy.apply(random_tile(copy, rng));
    benchmark::DoNotOptimize(copy.current_player());
  }
  state.counters["copies/s"] = benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_CopyAndDescend)->Arg(20)->Arg(10)->Unit(benchmark::kMicrosecond);

void BM_GameCopy(benchmark::State& state) {
  const Game game = random_position(static_cast<std::uint64_t>(state.range(0)), 100, 5);
  for (auto _ : state) {
    Game copy = game;
    benchmark::DoNotOptimize(copy);
  }
}
BENCHMARK(BM_GameCopy)->Arg(20)->Arg(10);

void BM_Reset(benchmark::State& state) {
  const auto dim = static_cast<std::uint64_t>(state.range(0));
  for (auto _ : state) benchmark::DoNotOptimize(Game::reset(dim));
}
BENCHMARK(BM_Reset)->Arg(20)->Arg(10);

void BM_GameState(benchmark::State& state) {
  const Game game = random_position(20, 100, 4);
  std::vector<std::uint8_t> buffer(5 * 400);
  for (auto _ : state) {
    game.write_game_state(state.range(0) != 0, buffer);
    benchmark::DoNotOptimize(buffer.data());
  }
}
BENCHMARK(BM_GameState)->Arg(0)->Arg(1);

}  // namespace

BENCHMARK_MAIN();
