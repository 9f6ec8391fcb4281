#include "search/playout.hpp"

#include "engine/internal_error.hpp"
#include "search/search_texts.hpp"

namespace tavrin {

void random_playout(Game& game, random::Generator& random) {
  while (!game.is_terminal()) {
    const auto tiles = game.get_legal_tiles();
    const std::uint64_t tile = tiles[random.uniform_index(tiles.size())];
    if (game.apply(tile)) throw InternalError(output::kPlayoutTileRefused);
  }
}

std::array<float, kPlayers> PlayoutValuer::mean_payoff(const Game& position, std::uint32_t count,
                                                       random::Generator& random) {
  std::array<float, kPlayers> sum{};
  for (std::uint32_t playout = 0; playout < count; ++playout) {
    // Copy-assignment reuses the scratch game's buffers.
    if (scratch_) {
      *scratch_ = position;
    } else {
      scratch_.emplace(position);
    }
    random_playout(*scratch_, random);
    const auto payoff = scratch_->get_payoff();
    for (std::size_t p = 0; p < kPlayers; ++p) sum[p] += payoff[p];
  }
  if (count > 0) {
    for (float& value : sum) value /= static_cast<float>(count);
  }
  return sum;
}

}  // namespace tavrin
