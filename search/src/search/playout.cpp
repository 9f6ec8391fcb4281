#include "search/playout.hpp"

#include "engine/catalogue.hpp"
#include "engine/internal_error.hpp"
#include "search/search_texts.hpp"

namespace tavrin {

namespace {

void apply_playout_tile(Game& game, std::uint64_t tile) {
  if (game.apply(tile)) throw InternalError(output::kPlayoutTileRefused);
}

std::uint64_t uniform_tile(const Game& game, random::Generator& random) {
  const auto tiles = game.get_legal_tiles();
  return tiles[random.uniform_index(tiles.size())];
}

// A placement of the piece about to be laid, drawn in proportion to its size squared.
std::span<const std::uint16_t> drawn_placement(const Game& game, random::Generator& random) {
  const Catalogue& catalogue = game.board().catalogue();
  std::uint64_t total = 0;
  for (std::uint32_t id : game.piece_placements()) {
    const std::uint64_t size = catalogue.placement(id).size;
    total += size * size;
  }
  if (total == 0) return {};
  std::uint64_t draw = random.uniform_index(total);
  for (std::uint32_t id : game.piece_placements()) {
    const std::uint64_t size = catalogue.placement(id).size;
    if (draw < size * size) return catalogue.placement(id).squares();
    draw -= size * size;
  }
  return {};
}

}  // namespace

void random_playout(Game& game, random::Generator& random, PlayoutPolicy policy) {
  if (policy == PlayoutPolicy::kUniform) {
    while (!game.is_terminal()) apply_playout_tile(game, uniform_tile(game, random));
    return;
  }
  std::span<const std::uint16_t> plan;
  std::size_t next = 0;
  while (!game.is_terminal()) {
    if (game.chosen_squares().empty()) {
      plan = drawn_placement(game, random);
      next = 0;
    }
    if (next < plan.size()) {
      apply_playout_tile(game, plan[next++]);  // the squares of a placement still possible, in order
    } else {
      apply_playout_tile(game, uniform_tile(game, random));
    }
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
    random_playout(*scratch_, random, policy_);
    const auto payoff = scratch_->get_payoff();
    for (std::size_t p = 0; p < kPlayers; ++p) sum[p] += payoff[p];
  }
  if (count > 0) {
    for (float& value : sum) value /= static_cast<float>(count);
  }
  return sum;
}

}  // namespace tavrin
