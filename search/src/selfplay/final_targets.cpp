#include "selfplay/final_targets.hpp"

#include <array>
#include <numeric>

#include "engine/internal_error.hpp"
#include "selfplay/self_play_texts.hpp"

namespace tavrin {

FinalTargets final_targets(const Game& final, std::span<const std::uint8_t> movers) {
  if (!final.is_terminal()) throw InternalError(output::kTargetsBeforeTheEnd);
  const Board& board = final.board();
  const std::uint64_t cells = board.cell_count();
  const std::array<std::int32_t, kPlayers> scores = board.get_scores(final.last_piece_sizes());
  // Margins over the mean, in units of one player's share of the board, so
  // that the target has one scale on every side.
  const float mean = static_cast<float>(std::accumulate(scores.begin(), scores.end(), 0)) / kPlayers;
  const float share = static_cast<float>(cells) / kPlayers;
  std::array<float, kPlayers> margins{};
  for (std::size_t p = 0; p < kPlayers; ++p) margins[p] = (static_cast<float>(scores[p]) - mean) / share;

  FinalTargets targets{std::vector<std::int8_t>(movers.size() * cells), std::vector<float>(movers.size() * kPlayers)};
  for (std::size_t row = 0; row < movers.size(); ++row) {
    const std::uint8_t mover = movers[row];
    if (mover >= kPlayers) throw InternalError(output::kMoverOutOfRange);
    for (std::size_t k = 0; k < kPlayers; ++k) targets.score[row * kPlayers + k] = margins[(mover + k) % kPlayers];
    std::int8_t* owners = targets.owners.data() + row * cells;
    for (std::uint64_t tile = 0; tile < cells; ++tile) {
      const auto owner = board.owner(tile);
      owners[tile] = owner ? static_cast<std::int8_t>((*owner + kPlayers - mover) % kPlayers) : kNoOwner;
    }
  }
  return targets;
}

}  // namespace tavrin
