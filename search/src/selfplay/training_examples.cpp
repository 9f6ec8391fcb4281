#include "selfplay/training_examples.hpp"

#include <span>
#include <utility>

namespace tavrin {

ExampleRecorder::ExampleRecorder(std::uint64_t dim, bool extended_planes, float searched_value_weight)
    : cells_(dim * dim), extended_(extended_planes), searched_weight_(searched_value_weight) {
  examples_.board_planes = extended_planes ? kExtendedBoardPlanes : kStatePlanes;
  examples_.hand_entries = extended_planes ? kHandPlanes : 0;
}

void ExampleRecorder::add(const Game& position, const std::optional<std::array<float, kPlayers>>& searched) {
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
  movers_.push_back(static_cast<std::uint8_t>(position.current_player()));
  searched_.push_back(searched);
  ++e.count;
}

TrainingExamples ExampleRecorder::finish(const Game& final) {
  TrainingExamples& e = examples_;
  FinalTargets targets = final_targets(final, movers_);
  e.owners = std::move(targets.owners);
  e.score = std::move(targets.score);
  const std::array<float, kPlayers> payoffs = final.get_payoff();
  e.value.resize(e.count * kPlayers);
  for (std::uint64_t row = 0; row < e.count; ++row) {
    const std::uint8_t mover = movers_[row];
    const auto& searched = searched_[row];
    const float weight = searched ? searched_weight_ : 0.0F;
    for (std::size_t k = 0; k < kPlayers; ++k) {
      const std::size_t player = (mover + k) % kPlayers;
      const float searched_value = searched ? (*searched)[player] : 0.0F;
      e.value[row * kPlayers + k] = (1.0F - weight) * payoffs[player] + weight * searched_value;
    }
  }
  movers_.clear();
  searched_.clear();
  return std::exchange(examples_, TrainingExamples{0, e.board_planes, e.hand_entries, {}, {}, {}, {}, {}});
}

}  // namespace tavrin
