#include "engine/game.hpp"

#include <algorithm>
#include <cstring>

#include "engine/engine_texts.hpp"
#include "engine/internal_error.hpp"

namespace tavrin {
namespace {

bool is_blocked_for(const Board& board, const Placement& placement, std::uint64_t player) {
  for (std::uint16_t tile : placement.squares()) {
    if (board.is_blocked(tile, player)) return true;
  }
  return false;
}

}  // namespace

Game::Game(Board board)
    : board_(std::move(board)),
      processed_(kPlayers * board_.words_per_plane(), 0),
      legal_(board_.cell_count(), 0) {
  history_.reserve(board_.cell_count());
}

Game Game::reset(std::uint64_t dim) {
  Game game(Board::make(dim));
  game.start_turn(0);
  return game;
}

void Game::start_turn(std::uint64_t player) {
  const Catalogue& catalogue = board_.catalogue();
  const Hand hand = board_.hand(player);
  auto& candidates = candidates_[player];
  std::fill(legal_.begin(), legal_.end(), 0);
  std::erase_if(candidates, [&](std::uint32_t id) {
    const Placement& placement = catalogue.placement(id);
    if (!hand.contains(placement.piece) || is_blocked_for(board_, placement, player)) return true;
    mark_legal(placement);
    return false;
  });

  // A placement through a new corner is added unless one of its other squares
  // is a corner handled earlier: it was considered there already, and if it
  // was possible then it is still a candidate.
  std::uint64_t* processed = processed_corners(player);
  const std::uint64_t* corners = board_.corner_words(player);
  for (std::uint64_t w = 0; w < board_.words_per_plane(); ++w) {
    bits::for_each_bit(corners[w] & ~processed[w], w * 64, [&](std::uint64_t corner) {
      const Window excluded = board_.get_blocked_window(player, corner, processed);
      bits::for_each_bit(hand.id_bits(), 0, [&](std::uint64_t piece) {
        for (const CoverPattern& pattern : catalogue.cover_patterns(static_cast<std::uint8_t>(piece))) {
          if ((pattern.squares & excluded) == 0) {
            const std::uint32_t id = catalogue.placement_at(pattern.variant_slot, corner - pattern.offset);
            candidates.push_back(id);
            mark_legal(catalogue.placement(id));
          }
        }
      });
      bits::set(processed, corner);
    });
  }

  piece_placements_.assign(candidates.begin(), candidates.end());
  chosen_count_ = 0;
  collect_legal_tiles();
}

void Game::collect_legal_tiles() {
  for (std::uint8_t i = 0; i < chosen_count_; ++i) legal_[chosen_squares_[i]] = 0;
  legal_tiles_.clear();
  // Eight tiles per step: most of the board is not legal.
  const std::size_t cells = legal_.size();
  std::size_t tile = 0;
  for (; tile + 8 <= cells; tile += 8) {
    std::uint64_t eight;
    std::memcpy(&eight, legal_.data() + tile, sizeof eight);
    bits::for_each_bit(eight, 0, [&](std::uint64_t bit) { legal_tiles_.push_back(tile + bit / 8); });
  }
  for (; tile < cells; ++tile) {
    if (legal_[tile]) legal_tiles_.push_back(tile);
  }
}

std::optional<std::string> Game::apply(std::uint64_t tile) {
  const std::uint64_t player = current_player_;
  if (!is_legal(tile)) {
    return output::invalid_move_text(player, static_cast<std::int64_t>(tile));
  }
  board_.place_tile(tile, player);
  history_.emplace_back(static_cast<std::int32_t>(player), static_cast<std::int32_t>(tile));
  chosen_squares_[chosen_count_++] = static_cast<std::uint16_t>(tile);

  const Catalogue& catalogue = board_.catalogue();
  std::fill(legal_.begin(), legal_.end(), 0);
  std::erase_if(piece_placements_, [&](std::uint32_t id) {
    const Placement& placement = catalogue.placement(id);
    if (!placement.covers(tile)) return true;
    mark_legal(placement);
    return false;
  });
  collect_legal_tiles();
  if (!legal_tiles_.empty()) return std::nullopt;

  // No candidate reaches beyond the chosen squares: they form one whole
  // placement (distinct placements cover distinct cell sets).
  if (piece_placements_.empty()) return std::string(output::kNoPlacementLeft);
  const Placement& completed = catalogue.placement(piece_placements_.front());
  board_.remove_piece(player, board_.hand(player).index_of(completed.piece));
  last_piece_sizes_[player] = completed.size;
  advance_player();
  return std::nullopt;
}

std::uint64_t Game::advance_player() {
  while (!is_terminal()) {
    current_player_ = (current_player_ + 1) % kPlayers;
    if (finished_[current_player_]) continue;
    start_turn(current_player_);
    if (!piece_placements_.empty()) return current_player_;
    finished_[current_player_] = true;
  }
  return current_player_;
}

std::array<float, kPlayers> payoff_from_scores(const std::array<std::int32_t, kPlayers>& scores) {
  const std::int32_t best = *std::max_element(scores.begin(), scores.end());
  const auto winners = static_cast<float>(std::count(scores.begin(), scores.end(), best));
  std::array<float, kPlayers> payoff{};
  for (std::uint64_t p = 0; p < kPlayers; ++p) payoff[p] = scores[p] == best ? 1.0F / winners : 0.0F;
  return payoff;
}

std::array<float, kPlayers> Game::get_payoff() const {
  return payoff_from_scores(board_.get_scores(last_piece_sizes_));
}

void Game::write_game_state(bool planes_last, std::span<std::uint8_t> out) const {
  const std::uint64_t cells = board_.cell_count();
  if (out.size() < kStatePlanes * cells) {
    throw InternalError(output::kStateBufferTooSmall);
  }
  if (planes_last) {
    // Occupants are written straight into the five-wide cells.
    std::fill(out.begin(), out.begin() + static_cast<std::ptrdiff_t>(kStatePlanes * cells), std::uint8_t{0});
    for (std::uint64_t tile = 0; tile < cells; ++tile) {
      const std::uint8_t byte = board_.cell(tile);
      if ((byte & kOccupantBits) != 0) out[tile * kStatePlanes + (static_cast<std::uint8_t>(byte - 1 - current_player_) & 3U)] = 1;
    }
    for (std::uint64_t tile : legal_tiles_) out[tile * kStatePlanes + 4] = 1;
  } else {
    board_.write_rep(false, current_player_, out);
    auto legal_plane = out.subspan(4 * cells, cells);
    std::fill(legal_plane.begin(), legal_plane.end(), std::uint8_t{0});
    for (std::uint64_t tile : legal_tiles_) legal_plane[tile] = 1;
  }
}

void Game::write_hands(std::span<std::uint8_t> out) const {
  if (out.size() < kHandPlanes) throw InternalError(output::kHandBufferTooSmall);
  for (std::uint64_t k = 0; k < kPlayers; ++k) {
    const std::uint32_t held = board_.hand((current_player_ + k) % kPlayers).id_bits();
    for (std::uint64_t id = 0; id < kPieceCount; ++id) out[k * kPieceCount + id] = (held >> id) & 1U;
  }
}

void Game::write_extended_board(bool planes_last, std::span<std::uint8_t> out) const {
  const std::uint64_t cells = board_.cell_count();
  if (out.size() < kExtendedBoardPlanes * cells) throw InternalError(output::kExtendedBoardBufferTooSmall);
  write_game_state(planes_last, out);
  if (planes_last) {
    // Widen each five-wide cell in place, last cell first, so that no cell
    // is overwritten before it has moved.
    for (std::uint64_t tile = cells; tile-- > 0;) {
      std::memmove(&out[tile * kExtendedBoardPlanes], &out[tile * kStatePlanes], kStatePlanes);
      out[tile * kExtendedBoardPlanes + kStatePlanes] = 0;
    }
    for (std::uint16_t tile : chosen_squares()) out[tile * kExtendedBoardPlanes + kStatePlanes] = 1;
  } else {
    auto chosen = out.subspan(kStatePlanes * cells, cells);
    std::fill(chosen.begin(), chosen.end(), std::uint8_t{0});
    for (std::uint16_t tile : chosen_squares()) chosen[tile] = 1;
  }
}

void Game::write_extended_state(bool planes_last, std::span<std::uint8_t> out) const {
  const std::uint64_t cells = board_.cell_count();
  if (out.size() < kExtendedStatePlanes * cells) {
    throw InternalError(output::kExtendedStateBufferTooSmall);
  }
  std::array<std::uint8_t, kHandPlanes> hands{};
  write_hands(hands);
  write_extended_board(planes_last, out);
  if (planes_last) {
    // As above, from six-wide cells to the full width.
    for (std::uint64_t tile = cells; tile-- > 0;) {
      std::memmove(&out[tile * kExtendedStatePlanes], &out[tile * kExtendedBoardPlanes], kExtendedBoardPlanes);
      std::copy(hands.begin(), hands.end(), out.begin() + static_cast<std::ptrdiff_t>(tile * kExtendedStatePlanes + kExtendedBoardPlanes));
    }
  } else {
    for (std::uint64_t plane = 0; plane < kHandPlanes; ++plane) {
      auto values = out.subspan((kExtendedBoardPlanes + plane) * cells, cells);
      std::fill(values.begin(), values.end(), hands[plane]);
    }
  }
}

}  // namespace tavrin
