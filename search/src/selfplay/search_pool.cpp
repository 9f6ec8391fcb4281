#include "selfplay/search_pool.hpp"

#include <algorithm>
#include <cmath>
#include <tuple>
#include <utility>

#include "engine/internal_error.hpp"
#include "selfplay/player_search.hpp"
#include "selfplay/self_play_texts.hpp"

namespace tavrin {
namespace {

FinishedGame finished_record(SelfPlayGame& play, std::uint64_t index) {
  const Game& game = play.game();
  FinishedGame done{index, game.history(), play.policies(), game.get_payoff(), play.take_examples(), play.placements()};
  // A game started from a position records only the actions it played.
  done.moves.erase(done.moves.begin(), done.moves.end() - static_cast<std::ptrdiff_t>(play.actions()));
  return done;
}

SearchSettings recording_examples(SearchSettings settings) {
  settings.options.record_examples = true;
  return settings;
}

}  // namespace

SearchPool::SearchPool(const SearchSettings& settings, std::size_t concurrent, std::size_t total_games,
                           std::uint64_t first_game)
    : settings_(recording_examples(settings)),
      first_game_(first_game),
      dim_(settings.config.dim),
      total_games_(total_games),
      cache_(settings.options.evaluation_cache) {
  if (cache_.enabled()) hasher_.emplace(dim_);
  slots_.resize(std::min(concurrent, total_games));
  for (Slot& slot : slots_) {
    if (started_ < total_games_) start(slot, std::nullopt);  // earlier slots may have played them all
  }
}

SearchPool::SearchPool(const SearchSettings& settings, std::vector<Game> starts, std::vector<std::uint64_t> seeds)
    : settings_(settings),
      total_games_(starts.size()),
      cache_(settings.options.evaluation_cache),
      seeds_(std::move(seeds)) {
  if (!seeds_.empty() && seeds_.size() != starts.size()) throw InternalError(output::kSeedsCountWrong);
  settings_.options.record_examples = false;  // a game from a given position has no whole-game targets
  if (!starts.empty()) dim_ = starts.front().dim();
  if (cache_.enabled()) hasher_.emplace(dim_);
  slots_.resize(starts.size());
  for (std::size_t i = 0; i < starts.size(); ++i) {
    if (starts[i].dim() != dim_) throw InternalError(output::kPoolSidesDiffer);
    begin(slots_[i], std::move(starts[i]));
  }
  // Only once every position has its game: a search that needs no network
  // ends at once, and must not make room for a game from the start.
  for (Slot& slot : slots_) resume(slot);
}

void SearchPool::start(Slot& slot, std::optional<Game> start) {
  begin(slot, std::move(start));
  resume(slot);
}

void SearchPool::begin(Slot& slot, std::optional<Game> start) {
  slot.index = first_game_ + started_++;
  auto random = seeds_.empty() ? random::RandomSource::for_game(settings_.seed, slot.index)
                               : random::RandomSource::seeded(seeds_.at(slot.index));
  if (start) {
    slot.game.emplace(settings_, std::move(random), std::move(*start));
  } else {
    slot.game.emplace(settings_, std::move(random));
  }
  ++active_;
}

void SearchPool::resume(Slot& slot) {
  // A loop, not a call per game: games valued by playouts alone finish
  // without ever waiting, one after another in this slot.
  while (true) {
    while (true) {
      const auto pending = slot.game->advance_all();
      if (pending.empty()) break;
      requests_ += pending.size();
      slot.waiting.clear();
      for (std::size_t i = 0; i < pending.size(); ++i) {
        Waiting waiting{i, pending[i], 0};
        if (cache_.enabled()) {
          waiting.key = hasher_->hash(*waiting.position);
          if (const auto known = cache_.find(waiting.key, waiting.position->get_legal_tiles().size())) {
            slot.game->provide(i, *known);
            continue;
          }
        }
        slot.waiting.push_back(waiting);
      }
      if (!slot.waiting.empty()) return;
    }
    slot.waiting.clear();
    finished_.push_back(finished_record(*slot.game, slot.index));
    slot.game.reset();
    --active_;
    if (started_ >= total_games_) return;
    begin(slot, std::nullopt);
  }
}

std::size_t SearchPool::pending() const {
  std::size_t count = 0;
  for (const Slot& slot : slots_) count += slot.waiting.size();
  return count;
}

SearchPool::~SearchPool() {
  if (playouts_.valid()) playouts_.wait();
}

void SearchPool::finish_playouts() {
  if (playouts_.valid()) playouts_.get();  // rethrows what the thread threw
}

std::size_t SearchPool::open_batch() {
  finish_playouts();
  members_.clear();
  rows_.clear();
  for (std::size_t s = 0; s < slots_.size(); ++s) {
    slots_[s].unanswered = slots_[s].waiting.size();
    slots_[s].in_batch = !slots_[s].waiting.empty();
    for (std::size_t e = 0; e < slots_[s].waiting.size(); ++e) members_.push_back(Member{s, e});
  }
  if (cache_.enabled()) {
    // Equal keys side by side; among them, and between keys, slot order, so
    // the rows are the same whenever the same games wait.
    std::sort(members_.begin(), members_.end(), [this](const Member& a, const Member& b) {
      return std::tuple(waiting_of(a).key, a.slot, a.entry) < std::tuple(waiting_of(b).key, b.slot, b.entry);
    });
  }
  for (std::size_t i = 0; i < members_.size(); ++i) {
    const bool shares = cache_.enabled() && !rows_.empty() &&
                        waiting_of(members_[rows_.back().first]).key == waiting_of(members_[i]).key;
    if (shares) {
      ++rows_.back().count;
    } else {
      rows_.push_back(Row{i, 1});
    }
  }
  row_positions_.clear();
  for (const Row& row : rows_) row_positions_.push_back(&row_position(row));
  batch_open_ = true;
  if (settings_.options.leaf_evaluation == LeafEvaluation::kMixed && !members_.empty()) {
    // The waiting games are left alone until `submit`, which waits first.
    playouts_ = std::async(std::launch::async, [this] {
      for (std::size_t s = 0; s < slots_.size(); ++s) {
        if (!slots_[s].waiting.empty()) slots_[s].game->run_playouts();
      }
    });
  }
  return rows_.size();
}

void SearchPool::write_batch(std::span<std::uint8_t> out) const {
  const std::size_t row_size = input_planes() * dim_ * dim_;
  if (out.size() < rows_.size() * row_size) throw InternalError(output::kBatchBufferTooSmall);
  for (std::size_t r = 0; r < rows_.size(); ++r) {
    const auto row = out.subspan(r * row_size, row_size);
    if (settings_.options.extended_planes) {
      row_position(rows_[r]).write_extended_state(planes_last(), row);
    } else {
      row_position(rows_[r]).write_game_state(planes_last(), row);
    }
  }
}

void SearchPool::write_inputs(std::span<std::uint8_t> board_out, std::span<std::uint8_t> hands_out) const {
  write_network_inputs(row_positions_, planes_last(), settings_.options.extended_planes, board_out, hands_out);
}

std::optional<std::string> SearchPool::check_answers(std::span<const float> policy_logits,
                                                       std::span<const float> value_logits) const {
  if (!batch_open_) return output::kNoBatchOpen;
  if (rows_.empty()) {
    if (policy_logits.empty() && value_logits.empty()) return std::nullopt;
    return output::answer_rows_wrong(0);
  }
  return find_answer_problem(row_positions_, policy_logits, value_logits);
}

std::optional<std::string> SearchPool::submit(std::span<const float> policy_logits,
                                                std::span<const float> value_logits) {
  finish_playouts();
  if (auto problem = check_answers(policy_logits, value_logits)) return problem;
  const std::size_t cells = dim_ * dim_;
  batch_open_ = false;
  for (std::size_t r = 0; r < rows_.size(); ++r) {
    const Row& row = rows_[r];
    const LeafValues answer = decoder_.decode(row_position(row), policy_logits.subspan(r * cells, cells),
                                              value_logits.subspan(r * kPlayers, kPlayers));
    if (cache_.enabled()) cache_.store(waiting_of(members_[row.first]).key, answer);
    // Every member takes the answer before any plays on: resuming a game
    // leaves the decoder's buffers alone but moves the members' positions.
    // A game plays on once all its positions of the batch are answered.
    for (std::size_t m = row.first; m < row.first + row.count; ++m) {
      Slot& slot = slots_[members_[m].slot];
      slot.game->provide(waiting_of(members_[m]).index, answer);
      --slot.unanswered;
    }
    for (std::size_t m = row.first; m < row.first + row.count; ++m) {
      Slot& slot = slots_[members_[m].slot];
      if (slot.unanswered == 0 && slot.in_batch) {
        slot.in_batch = false;
        resume(slot);
      }
    }
    ++evaluations_;
    shared_rows_ += row.count - 1;
  }
  return std::nullopt;
}

std::vector<FinishedGame> SearchPool::take_finished() { return std::exchange(finished_, {}); }

}  // namespace tavrin
