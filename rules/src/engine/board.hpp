#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "engine/bitboard.hpp"
#include "engine/catalogue.hpp"
#include "engine/pieces.hpp"

namespace tavrin {

inline constexpr std::uint64_t kPlayers = 4;
inline constexpr std::uint8_t kOccupiedBits = 0xF0;
// A cell's occupant: 0 when empty, else the player + 1.
inline constexpr std::uint8_t kOccupantBits = 0x0F;

// A player's pieces still in hand, in catalogue order. Held as a bit set of
// catalogue ids; hand index j names the j-th piece still held.
class Hand {
 public:
  Hand(std::uint32_t ids, const Catalogue& catalogue) : ids_(ids), catalogue_(&catalogue) {}

  std::size_t size() const { return static_cast<std::size_t>(std::popcount(ids_)); }
  bool empty() const { return ids_ == 0; }
  bool contains(std::uint8_t piece_id) const { return (ids_ >> piece_id) & 1U; }
  std::uint32_t id_bits() const { return ids_; }
  // Catalogue id of hand index `index`; throws InternalError past the end.
  std::uint8_t id_at(std::size_t index) const;
  const Piece& operator[](std::size_t index) const { return catalogue_->piece(id_at(index)); }
  // Hand index of a held catalogue id.
  std::size_t index_of(std::uint8_t piece_id) const {
    return static_cast<std::size_t>(std::popcount(ids_ & ((std::uint32_t{1} << piece_id) - 1)));
  }

 private:
  std::uint32_t ids_;
  const Catalogue* catalogue_;
};

// The playing field: cells (occupant in bits 0-3, "blocked for player p" in
// bit 4 + p), each player's hand, and each player's corner cells.
class Board {
 public:
  static Board make(std::uint64_t dim);

  void place_tile(std::uint64_t position, std::uint64_t player);
  std::array<std::int32_t, kPlayers> get_scores(const std::array<std::uint32_t, kPlayers>& last_sizes) const;
  // Writes get_text() and an empty line to standard output in one write.
  void print_board() const;
  // One line of cell symbols per row.
  std::string get_text() const;
  // Who owns each cell, planes relative to `player` (shape 4 x dim x dim, or
  // dim x dim x 4 when planes_last), into a caller's buffer of at least
  // 4 * dim * dim entries (true = 1).
  void write_rep(bool planes_last, std::uint64_t player, std::span<std::uint8_t> out) const;

  std::uint64_t dim() const { return dim_; }
  std::uint64_t cell_count() const { return dim_ * dim_; }
  std::span<const std::uint8_t> cells() const { return cells_; }
  std::uint8_t cell(std::uint64_t tile) const { return cells_[tile]; }
  // The player (0 to 3) whose piece covers `tile`; nothing when it is empty.
  std::optional<std::uint8_t> owner(std::uint64_t tile) const {
    const std::uint8_t occupant = cells_[tile] & kOccupantBits;
    if (occupant == 0) return std::nullopt;
    return static_cast<std::uint8_t>(occupant - 1U);
  }
  bool is_blocked(std::uint64_t tile, std::uint64_t player) const { return (cells_[tile] >> (4 + player)) & 1U; }
  // The cells around `centre` that `player` may not cover, off-board cells
  // included, plus the cells other than `centre` set in `also_excluded` (a
  // bit per tile) when given.
  Window get_blocked_window(std::uint64_t player, std::uint64_t centre,
                            const std::uint64_t* also_excluded = nullptr) const;
  const std::array<std::int32_t, 4>& diagonals() const { return diagonals_; }
  const Catalogue& catalogue() const { return *catalogue_; }

  Hand hand(std::uint64_t player) const { return Hand(hands_[player], *catalogue_); }
  // Removes hand index `index` of `player` (later pieces move down one index)
  // and returns the catalogue id removed.
  std::uint8_t remove_piece(std::uint64_t player, std::size_t index);

  bool is_corner(std::uint64_t player, std::uint64_t tile) const {
    return bits::test(corner_words(player), tile);
  }
  const std::uint64_t* corner_words(std::uint64_t player) const {
    return corner_words_.data() + player * words_per_plane_;
  }
  std::uint64_t words_per_plane() const { return words_per_plane_; }

  static std::uint64_t start_corner(std::uint64_t player, std::uint64_t dim);

 private:
  explicit Board(const Catalogue& catalogue);
  std::uint64_t* own_corner_words(std::uint64_t player) { return corner_words_.data() + player * words_per_plane_; }

  const Catalogue* catalogue_;
  std::uint64_t dim_;
  std::uint64_t words_per_plane_;
  std::array<std::int32_t, 4> diagonals_;
  std::array<std::uint32_t, kPlayers> hands_;
  std::vector<std::uint8_t> cells_;
  std::vector<std::uint64_t> corner_words_;  // kPlayers planes of words_per_plane_ words
};

}  // namespace tavrin
