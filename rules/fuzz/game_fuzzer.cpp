// libFuzzer target: the input drives one game. The first byte picks the board
// side; then each byte either plays the legal tile it indexes or, with the high
// bit set, tries the arbitrary tile named by the next two bytes. After every
// step the state must equal a brute-force recomputation, and an illegal tile
// must have changed nothing.
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "engine/game.hpp"
#include "engine_testing/reference_checker.hpp"

namespace {

[[noreturn]] void fail(const std::string& what) {
  std::fprintf(stderr, "game fuzzer: %s\n", what.c_str());
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::uint64_t dim = 4 + data[0] % 11;
  tavrin::Game game = tavrin::Game::reset(dim);
  tavrin::testing::ReferenceChecker checker(game);
  for (std::size_t i = 1; i < size && !game.is_terminal(); ++i) {
    const std::uint8_t step = data[i];
    if (step & 0x80) {
      if (i + 2 >= size) break;
      const std::uint64_t tile = (std::uint64_t{data[i + 1]} << 8 | data[i + 2]) % (dim * dim + 8);
      i += 2;
      if (game.is_legal(tile)) continue;
      const tavrin::Game before = game;
      if (!game.apply(tile)) fail("an illegal tile was accepted");
      if (auto difference = tavrin::testing::ReferenceChecker::difference(before, game)) {
        fail("an illegal tile changed the game: " + *difference);
      }
      continue;
    }
    const auto legal = game.get_legal_tiles();
    const std::uint64_t tile = legal[step % legal.size()];
    if (auto error = game.apply(tile)) fail("a legal tile was refused: " + *error);
    if (auto mismatch = checker.after_apply(game, tile)) fail(*mismatch);
  }
  if (game.is_terminal()) {
    if (auto mismatch = tavrin::testing::ReferenceChecker::check_finished(game)) fail(*mismatch);
  }
  return 0;
}
