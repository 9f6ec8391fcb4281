#include "selfplay/position_hash.hpp"

#include "engine/internal_error.hpp"
#include "search/random.hpp"
#include "selfplay/self_play_texts.hpp"

namespace tavrin {
namespace {

// Any fixed seed: the keys only need to be random-looking and the same everywhere.
constexpr std::uint64_t kKeySeed = 0x5EEDC0DEB0A2D5ULL;

std::vector<std::uint64_t> random_words(random::Generator& generator, std::uint64_t count) {
  std::vector<std::uint64_t> words(count);
  for (std::uint64_t& word : words) word = generator.next_u64();
  return words;
}

}  // namespace

PositionHasher::PositionHasher(std::uint64_t dim) : dim_(dim) {
  random::Generator generator = random::Generator::seeded(kKeySeed);
  const std::uint64_t cells = dim * dim;
  occupant_keys_ = random_words(generator, kPlayers * cells);
  chosen_keys_ = random_words(generator, cells);
  hand_keys_ = random_words(generator, kPlayers * kPieceCount);
  mover_keys_ = random_words(generator, kPlayers);
}

std::uint64_t PositionHasher::hash(const Game& game) const {
  if (game.dim() != dim_) throw InternalError(output::kHashSideDiffers);
  const Board& board = game.board();
  const std::uint64_t cells = board.cell_count();
  std::uint64_t key = mover_keys_[game.current_player()];
  for (std::uint64_t tile = 0; tile < cells; ++tile) {
    if (const auto owner = board.owner(tile)) key ^= occupant_keys_[*owner * cells + tile];
  }
  for (std::uint16_t tile : game.chosen_squares()) key ^= chosen_keys_[tile];
  for (std::uint64_t player = 0; player < kPlayers; ++player) {
    const std::uint32_t held = board.hand(player).id_bits();
    for (std::uint64_t id = 0; id < kPieceCount; ++id) {
      if ((held >> id) & 1U) key ^= hand_keys_[player * kPieceCount + id];
    }
  }
  return key;
}

}  // namespace tavrin
