#include "engine/board.hpp"

#include <cstdio>
#include <string>

#include "engine/engine_texts.hpp"
#include "engine/internal_error.hpp"

namespace tavrin {
namespace {

constexpr std::uint32_t kFullHand = (std::uint32_t{1} << kPieceCount) - 1;

void check_player(std::uint64_t player, const char* where) {
  if (player >= kPlayers) {
    throw InternalError(output::player_out_of_range(where, player));
  }
}

}  // namespace

std::uint8_t Hand::id_at(std::size_t index) const {
  std::uint32_t rest = ids_;
  for (std::size_t skipped = 0; rest != 0; ++skipped) {
    if (skipped == index) return static_cast<std::uint8_t>(std::countr_zero(rest));
    rest &= rest - 1;
  }
  throw InternalError(output::hand_index_out_of_range(index, size()));
}

std::uint64_t Board::start_corner(std::uint64_t player, std::uint64_t dim) {
  switch (player) {
    case 0: return 0;
    case 1: return dim - 1;
    case 2: return dim * dim - 1;
    case 3: return dim * (dim - 1);
    default: throw InternalError(output::kInvalidPlayerNumber);
  }
}

Board::Board(const Catalogue& catalogue)
    : catalogue_(&catalogue),
      dim_(catalogue.dim()),
      words_per_plane_(bits::words_for(catalogue.cell_count())),
      diagonals_{static_cast<std::int32_t>(dim_ + 1), -static_cast<std::int32_t>(dim_ + 1),
                 1 - static_cast<std::int32_t>(dim_), static_cast<std::int32_t>(dim_) - 1},
      hands_{kFullHand, kFullHand, kFullHand, kFullHand},
      cells_(catalogue.cell_count(), 0),
      corner_words_(kPlayers * words_per_plane_, 0) {
  for (std::uint64_t player = 0; player < kPlayers; ++player) {
    bits::set(own_corner_words(player), start_corner(player, dim_));
  }
}

Board Board::make(std::uint64_t dim) { return Board(Catalogue::for_side(dim)); }

void Board::place_tile(std::uint64_t position, std::uint64_t player) {
  check_player(player, "Board::place_tile");
  const std::uint64_t cells = cell_count();
  if (position >= cells) {
    throw InternalError(output::tile_out_of_range(position, cells));
  }
  const std::uint8_t blocked = static_cast<std::uint8_t>(0x10U << player);
  cells_[position] = static_cast<std::uint8_t>(kOccupiedBits + player + 1);
  for (std::uint64_t p = 0; p < kPlayers; ++p) bits::clear(own_corner_words(p), position);

  std::uint64_t* own_corners = own_corner_words(player);
  const std::uint64_t column = position % dim_;
  auto block = [&](std::uint64_t neighbour) {
    cells_[neighbour] |= blocked;
    bits::clear(own_corners, neighbour);
  };
  if (column != 0) block(position - 1);
  if (column != dim_ - 1) block(position + 1);
  if (position >= dim_) block(position - dim_);
  if (position < dim_ * (dim_ - 1)) block(position + dim_);

  for (std::int32_t step : diagonals_) {
    const std::int64_t target = static_cast<std::int64_t>(position) + step;
    if (target < 0 || target >= static_cast<std::int64_t>(cells)) continue;
    const auto neighbour = static_cast<std::uint64_t>(target);
    if (cells_[neighbour] & blocked) continue;
    const std::uint64_t target_column = neighbour % dim_;
    if ((column == 0 && target_column == dim_ - 1) || (column == dim_ - 1 && target_column == 0)) continue;
    bits::set(own_corners, neighbour);
  }
}

Window Board::get_blocked_window(std::uint64_t player, std::uint64_t centre,
                                 const std::uint64_t* also_excluded) const {
  const auto side = static_cast<std::int64_t>(dim_);
  const auto row = static_cast<std::int64_t>(centre / dim_);
  const auto column = static_cast<std::int64_t>(centre % dim_);
  const std::uint8_t blocked = static_cast<std::uint8_t>(0x10U << player);
  // Off-board cells first: whole rows above and below, then columns beside.
  Window window = 0;
  const Window row_bits = (Window{1} << kWindowSide) - 1;
  for (int dr = -kWindowReach; dr <= kWindowReach; ++dr) {
    const std::int64_t r = row + dr;
    if (r < 0 || r >= side) {
      window |= row_bits << window_bit(dr, -kWindowReach);
      continue;
    }
    for (int dc = -kWindowReach; dc <= kWindowReach; ++dc) {
      const std::int64_t c = column + dc;
      bool excluded = c < 0 || c >= side;
      if (!excluded) {
        const auto tile = static_cast<std::uint64_t>(r * side + c);
        excluded = (cells_[tile] & blocked) || (also_excluded && tile != centre && bits::test(also_excluded, tile));
      }
      if (excluded) window |= Window{1} << window_bit(dr, dc);
    }
  }
  return window;
}

std::array<std::int32_t, kPlayers> Board::get_scores(const std::array<std::uint32_t, kPlayers>& last_sizes) const {
  std::array<std::int32_t, kPlayers + 1> counts{};
  for (std::uint8_t byte : cells_) {
    const std::uint8_t occupant = byte & kOccupantBits;
    if (occupant > kPlayers) {
      throw InternalError(output::occupant_out_of_range(occupant));
    }
    ++counts[occupant];
  }
  std::array<std::int32_t, kPlayers> scores{};
  for (std::uint64_t p = 0; p < kPlayers; ++p) {
    const std::int32_t squares = counts[p + 1];
    if (hands_[p] != 0) {
      scores[p] = squares - static_cast<std::int32_t>(kSquaresPerSet);
    } else {
      scores[p] = squares - (last_sizes[p] == 1 ? 69 : 74);
    }
  }
  return scores;
}

std::string Board::get_text() const {
  static constexpr const char* kSymbols[] = {"\u2B1C", "\U0001F7E5", "\U0001F7E6", "\U0001F7E8", "\U0001F7E9"};
  std::string text;
  text.reserve(cells_.size() * 4 + dim_);
  for (std::uint64_t row = 0; row < dim_; ++row) {
    for (std::uint64_t column = 0; column < dim_; ++column) {
      const std::uint8_t occupant = cells_[row * dim_ + column] & kOccupantBits;
      text += kSymbols[occupant <= kPlayers ? occupant : 0];
    }
    text += '\n';
  }
  return text;
}

void Board::print_board() const {
  const std::string text = get_text() + "\n";
  std::fwrite(text.data(), 1, text.size(), stdout);
  std::fflush(stdout);
}

std::uint8_t Board::remove_piece(std::uint64_t player, std::size_t index) {
  check_player(player, "Board::remove_piece");
  const std::uint8_t id = hand(player).id_at(index);
  hands_[player] &= ~(std::uint32_t{1} << id);
  return id;
}

void Board::write_rep(bool planes_last, std::uint64_t player, std::span<std::uint8_t> out) const {
  check_player(player, "Board::get_rep");
  const std::uint64_t cells = cell_count();
  if (out.size() < 4 * cells) throw InternalError(output::kRepBufferTooSmall);
  std::fill(out.begin(), out.begin() + static_cast<std::ptrdiff_t>(4 * cells), std::uint8_t{0});
  for (std::uint64_t tile = 0; tile < cells; ++tile) {
    const std::uint8_t byte = cells_[tile];
    if ((byte & kOccupantBits) == 0) continue;
    const std::uint64_t plane = static_cast<std::uint8_t>(byte - 1 - player) & 3U;
    out[planes_last ? tile * 4 + plane : plane * cells + tile] = 1;
  }
}

}  // namespace tavrin
