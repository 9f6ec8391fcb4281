#include "selfplay/self_play_pool.hpp"

#include <cmath>
#include <utility>

#include "engine/internal_error.hpp"
#include "search/output_texts.hpp"

namespace tavrin {
namespace {

FinishedGame finished_record(const SelfPlayGame& play, std::uint64_t index) {
  const Game& game = play.game();
  const Board& board = game.board();
  FinishedGame done{index, game.history(), play.policies(), game.get_payoff(),
                    board.get_scores(game.last_piece_sizes()), std::vector<std::int8_t>(board.cell_count(), -1)};
  for (std::uint64_t tile = 0; tile < board.cell_count(); ++tile) {
    const std::uint8_t occupant = board.cell(tile) & 0x0F;
    if (occupant != 0) done.owners[tile] = static_cast<std::int8_t>(occupant - 1);
  }
  // A game started from a position records only the actions it played.
  done.moves.erase(done.moves.begin(), done.moves.end() - static_cast<std::ptrdiff_t>(play.actions()));
  return done;
}

}  // namespace

SelfPlayPool::SelfPlayPool(const SearchSettings& settings, std::size_t concurrent, std::size_t total_games,
                           std::uint64_t first_game)
    : settings_(settings), first_game_(first_game), dim_(settings.config.dim), total_games_(total_games) {
  slots_.resize(std::min(concurrent, total_games));
  for (Slot& slot : slots_) start(slot, std::nullopt);
}

SelfPlayPool::SelfPlayPool(const SearchSettings& settings, std::vector<Game> starts)
    : settings_(settings), total_games_(starts.size()) {
  if (!starts.empty()) dim_ = starts.front().dim();
  slots_.resize(starts.size());
  for (std::size_t i = 0; i < starts.size(); ++i) {
    if (starts[i].dim() != dim_) throw InternalError(output::kPoolSidesDiffer);
    start(slots_[i], std::move(starts[i]));
  }
}

void SelfPlayPool::start(Slot& slot, std::optional<Game> start) {
  slot.index = first_game_ + started_++;
  auto random = random::RandomSource::for_game(settings_.seed, slot.index);
  if (start) {
    slot.game.emplace(settings_, std::move(random), std::move(*start));
  } else {
    slot.game.emplace(settings_, std::move(random));
  }
  ++active_;
  resume(slot);
}

void SelfPlayPool::resume(Slot& slot) {
  slot.waiting = slot.game->advance();
  if (slot.waiting != nullptr) return;
  finished_.push_back(finished_record(*slot.game, slot.index));
  slot.game.reset();
  --active_;
  if (started_ < total_games_) start(slot, std::nullopt);
}

std::size_t SelfPlayPool::pending() const {
  std::size_t count = 0;
  for (const Slot& slot : slots_) count += slot.waiting != nullptr ? 1 : 0;
  return count;
}

std::size_t SelfPlayPool::write_batch(std::span<std::uint8_t> out) {
  const std::size_t state_size = input_planes() * dim_ * dim_;
  batch_.clear();
  for (std::size_t s = 0; s < slots_.size(); ++s) {
    if (slots_[s].waiting == nullptr) continue;
    if (out.size() < (batch_.size() + 1) * state_size) throw InternalError(output::kBatchBufferTooSmall);
    const auto row = out.subspan(batch_.size() * state_size, state_size);
    if (settings_.options.extended_planes) {
      slots_[s].waiting->write_extended_state(planes_last(), row);
    } else {
      slots_[s].waiting->write_game_state(planes_last(), row);
    }
    batch_.push_back(s);
  }
  batch_open_ = true;
  return batch_.size();
}

std::optional<std::string> SelfPlayPool::check_answers(std::span<const float> policy_logits,
                                                       std::span<const float> value_logits) const {
  if (!batch_open_) return output::kNoBatchOpen;
  const std::size_t cells = dim_ * dim_;
  if (policy_logits.size() != batch_.size() * cells || value_logits.size() != batch_.size() * kPlayers) {
    return output::answer_rows_wrong(batch_.size());
  }
  for (std::size_t row = 0; row < batch_.size(); ++row) {
    for (std::uint64_t tile : slots_[batch_[row]].waiting->get_legal_tiles()) {
      if (!std::isfinite(policy_logits[row * cells + tile])) {
        return output::policy_not_finite(row, tile);
      }
    }
    for (std::size_t k = 0; k < kPlayers; ++k) {
      if (!std::isfinite(value_logits[row * kPlayers + k])) {
        return output::values_not_finite(row);
      }
    }
  }
  return std::nullopt;
}

std::optional<std::string> SelfPlayPool::submit(std::span<const float> policy_logits,
                                                std::span<const float> value_logits) {
  if (auto problem = check_answers(policy_logits, value_logits)) return problem;
  const std::size_t cells = dim_ * dim_;
  batch_open_ = false;
  for (std::size_t row = 0; row < batch_.size(); ++row) {
    Slot& slot = slots_[batch_[row]];
    slot.game->provide(decoder_.decode(*slot.waiting, policy_logits.subspan(row * cells, cells),
                                       value_logits.subspan(row * kPlayers, kPlayers)));
    ++evaluations_;
    resume(slot);
  }
  return std::nullopt;
}

std::vector<FinishedGame> SelfPlayPool::take_finished() { return std::exchange(finished_, {}); }

}  // namespace tavrin
