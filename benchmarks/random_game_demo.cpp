// Plays one game with uniformly random legal tiles and prints the final board
// and payoff: a quick look at the engine without Python.
#include <cstdio>
#include <cstdlib>
#include <random>

#include "engine/game.hpp"
#include "engine/internal_error.hpp"

int main(int argc, char** argv) {
  const std::uint64_t dim = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 20;
  try {
    std::random_device entropy;
    std::mt19937_64 rng(entropy());
    tavrin::Game game = tavrin::Game::reset(dim);
    while (!game.is_terminal()) {
      const auto legal = game.get_legal_tiles();
      std::uniform_int_distribution<std::size_t> pick(0, legal.size() - 1);
      if (auto error = game.apply(legal[pick(rng)])) {
        std::fprintf(stderr, "%s\n", error->c_str());
        return 1;
      }
    }
    game.board().print_board();
    const auto payoff = game.get_payoff();
    std::printf("actions %zu, payoff %.3f %.3f %.3f %.3f\n", game.history().size(), payoff[0], payoff[1], payoff[2],
                payoff[3]);
  } catch (const tavrin::InternalError& error) {
    std::fprintf(stderr, "internal error: %s\n", error.what());
    return 2;
  }
  return 0;
}
