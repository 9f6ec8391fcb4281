#include "selfplay/player_search.hpp"

#include <algorithm>
#include <cmath>

#include "engine/internal_error.hpp"
#include "selfplay/self_play_texts.hpp"

namespace tavrin {

PlayerSearch::PlayerSearch(const SearchSettings& settings, Game start, std::optional<std::uint64_t> seed)
    : settings_(settings),
      search_(settings, seed ? random::RandomSource::seeded(*seed) : random::RandomSource(), std::move(start)) {}

bool PlayerSearch::continued_by(const Game& game) const {
  const auto& ours = search_.game().history();
  const auto& theirs = game.history();
  return game.dim() == search_.game().dim() && theirs.size() >= ours.size() &&
         std::equal(ours.begin(), ours.end(), theirs.begin());
}

bool PlayerSearch::sync(const Game& game) {
  search_.abandon();
  if (!continued_by(game)) {
    search_.restart(game);
    return false;
  }
  const auto& theirs = game.history();
  for (std::size_t i = search_.game().history().size(); i < theirs.size(); ++i) search_.play(theirs[i].second);
  return true;
}

void PlayerSearch::reseed(std::uint64_t seed) { search_.reseed(seed); }

void PlayerSearch::begin(std::uint64_t simulations, std::optional<MoveSearch::Clock::time_point> deadline) {
  search_.begin_action(simulations, true, deadline);
}

void write_network_inputs(std::span<const Game* const> positions, bool planes_last, bool extended,
                          std::span<std::uint8_t> board_out, std::span<std::uint8_t> hands_out) {
  if (positions.empty()) return;
  const std::uint64_t dim = positions.front()->dim();
  const std::size_t board_size = (extended ? kExtendedBoardPlanes : kStatePlanes) * dim * dim;
  const std::size_t hand_size = extended ? kHandPlanes : 0;
  if (board_out.size() < positions.size() * board_size || hands_out.size() < positions.size() * hand_size) {
    throw InternalError(output::kBatchBufferTooSmall);
  }
  for (std::size_t r = 0; r < positions.size(); ++r) {
    const Game& position = *positions[r];
    const auto board = board_out.subspan(r * board_size, board_size);
    if (extended) {
      position.write_extended_board(planes_last, board);
      position.write_hands(hands_out.subspan(r * hand_size, hand_size));
    } else {
      position.write_game_state(planes_last, board);
    }
  }
}

std::optional<std::string> find_answer_problem(std::span<const Game* const> positions,
                                               std::span<const float> policy_logits,
                                               std::span<const float> value_logits) {
  if (positions.empty()) return output::kNoBatchOpen;
  const std::size_t cells = positions.front()->dim() * positions.front()->dim();
  if (policy_logits.size() != positions.size() * cells || value_logits.size() != positions.size() * kPlayers) {
    return output::answer_rows_wrong(positions.size());
  }
  for (std::size_t row = 0; row < positions.size(); ++row) {
    for (std::uint64_t tile : positions[row]->get_legal_tiles()) {
      if (!std::isfinite(policy_logits[row * cells + tile])) return output::policy_not_finite(row, tile);
    }
    for (std::size_t k = 0; k < kPlayers; ++k) {
      if (!std::isfinite(value_logits[row * kPlayers + k])) return output::values_not_finite(row);
    }
  }
  return std::nullopt;
}

std::optional<std::string> PlayerSearch::submit(std::span<const float> policy_logits,
                                                std::span<const float> value_logits) {
  const auto pending = search_.advance();
  if (auto problem = find_answer_problem(pending, policy_logits, value_logits)) return problem;
  const std::size_t cells = search_.game().dim() * search_.game().dim();
  // Decoded and provided row by row: a row's answer is taken before the next is decoded.
  const std::size_t rows = pending.size();
  for (std::size_t r = 0; r < rows; ++r) {
    const LeafValues answer = decoder_.decode(*pending[r], policy_logits.subspan(r * cells, cells),
                                              value_logits.subspan(r * kPlayers, kPlayers));
    search_.provide(r, answer);
  }
  return std::nullopt;
}

}  // namespace tavrin
