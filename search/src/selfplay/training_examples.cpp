#include "selfplay/training_examples.hpp"

#include <algorithm>
#include <numeric>
#include <span>

#include "engine/internal_error.hpp"
#include "search/output_texts.hpp"

namespace tavrin {

ExampleRecorder::ExampleRecorder(std::uint64_t dim, bool extended_planes, float searched_value_weight)
    : cells_(dim * dim), extended_(extended_planes), searched_weight_(searched_value_weight) {
  examples_.board_planes = extended_planes ? kExtendedBoardPlanes : kStatePlanes;
  examples_.hand_entries = extended_planes ? kHandPlanes : 0;
}

void ExampleRecorder::add(const Game& position, const PolicyTarget& target,
                          const std::optional<std::array<float, kPlayers>>& searched) {
  TrainingExamples& e = examples_;
  const std::size_t planes_at = e.planes.size();
  e.planes.resize(planes_at + e.board_planes * cells_);
  const std::span<std::uint8_t> planes(e.planes.data() + planes_at, e.board_planes * cells_);
  if (extended_) {
    position.write_extended_board(false, planes);
    const std::size_t hands_at = e.hands.size();
    e.hands.resize(hands_at + kHandPlanes);
    position.write_hands({e.hands.data() + hands_at, kHandPlanes});
  } else {
    position.write_game_state(false, planes);
  }
  const std::size_t policy_at = e.policy.size();
  e.policy.resize(policy_at + cells_, 0.0F);
  for (const auto& [tile, share] : target) e.policy[policy_at + static_cast<std::size_t>(tile)] = share;
  movers_.push_back(static_cast<std::uint8_t>(position.current_player()));
  searched_.push_back(searched);
  ++e.count;
}

TrainingExamples ExampleRecorder::finish(const Game& final) {
  if (!final.is_terminal()) throw InternalError(output::kExamplesBeforeTheEnd);
  TrainingExamples& e = examples_;
  const Board& board = final.board();
  const std::array<float, kPlayers> payoffs = final.get_payoff();
  const std::array<std::int32_t, kPlayers> scores = board.get_scores(final.last_piece_sizes());
  // Margins over the mean, in units of one player's share of the board, so
  // that the target has one scale on every side.
  const float mean = static_cast<float>(std::accumulate(scores.begin(), scores.end(), 0)) / kPlayers;
  const float share = static_cast<float>(cells_) / kPlayers;
  std::array<float, kPlayers> margins{};
  for (std::size_t p = 0; p < kPlayers; ++p) margins[p] = (static_cast<float>(scores[p]) - mean) / share;

  // The final owner of every cell, once: each row only relabels it.
  std::vector<std::int8_t> final_owner(cells_, kNoOwner);
  for (std::uint64_t tile = 0; tile < cells_; ++tile) {
    const std::uint8_t occupant = board.cell(tile) & 0x0F;
    if (occupant != 0) final_owner[tile] = static_cast<std::int8_t>(occupant - 1U);
  }
  e.value.resize(e.count * kPlayers);
  e.score.resize(e.count * kPlayers);
  e.owners.resize(e.count * cells_);
  for (std::uint64_t row = 0; row < e.count; ++row) {
    const std::uint8_t mover = movers_[row];
    const auto& searched = searched_[row];
    const float weight = searched ? searched_weight_ : 0.0F;
    for (std::size_t k = 0; k < kPlayers; ++k) {
      const std::size_t player = (mover + k) % kPlayers;
      const float searched_value = searched ? (*searched)[player] : 0.0F;
      e.value[row * kPlayers + k] = (1.0F - weight) * payoffs[player] + weight * searched_value;
      e.score[row * kPlayers + k] = margins[player];
    }
    std::int8_t* owners = e.owners.data() + row * cells_;
    for (std::uint64_t tile = 0; tile < cells_; ++tile) {
      const std::int8_t owner = final_owner[tile];
      owners[tile] = owner == kNoOwner ? kNoOwner : static_cast<std::int8_t>((owner + kPlayers - mover) % kPlayers);
    }
  }
  movers_.clear();
  searched_.clear();
  return std::exchange(examples_, TrainingExamples{0, e.board_planes, e.hand_entries, {}, {}, {}, {}, {}, {}});
}

}  // namespace tavrin
