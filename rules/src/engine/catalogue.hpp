#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <vector>

#include "engine/pieces.hpp"

namespace tavrin {

// The board sides the game is played on. Below 4 a piece's four-square row
// cannot be laid out at the board's row stride; above 128 tiles no longer fit
// 16 bits and the placement tables would pass about 40 MB.
inline constexpr std::uint64_t kMinSide = 4;
inline constexpr std::uint64_t kMaxSide = 128;

// One in-bounds position of one orientation of one catalogue piece; 16 bytes,
// four to a cache line.
struct Placement {
  std::array<std::uint16_t, 5> cells{};  // covered tiles, ascending; `size` used
  std::uint8_t size = 0;
  std::uint8_t piece = 0;    // catalogue id
  std::uint8_t variant = 0;  // index into the piece's variants
  std::uint16_t position = 0;

  std::span<const std::uint16_t> squares() const { return {cells.data(), size}; }
  bool covers(std::uint64_t tile) const {
    for (std::uint8_t i = 0; i < size; ++i) {
      if (cells[i] == tile) return true;
    }
    return false;
  }
};
static_assert(sizeof(Placement) == 16);

// Cells within four rows and columns of a centre cell, one bit per cell:
// bit (row offset + 4) * 9 + (column offset + 4). Every square of a piece
// lies in the window centred on any other of its squares.
using Window = unsigned __int128;
inline constexpr int kWindowReach = 4;
inline constexpr int kWindowSide = 2 * kWindowReach + 1;
inline constexpr int window_bit(int row_offset, int column_offset) {
  return (row_offset + kWindowReach) * kWindowSide + column_offset + kWindowReach;
}

// One way for a piece to cover a given cell: an orientation and which of its
// squares lands there, with the orientation's squares as a window around it.
struct CoverPattern {
  Window squares = 0;
  std::uint32_t variant_slot = 0;  // index over all orientations of all pieces
  std::uint32_t offset = 0;        // the covering square's offset in the variant
};

// Everything about the pieces that depends only on the board side: the 21
// pieces with their orientations, every in-bounds placement, and the ways each
// piece can cover a cell. Immutable and shared by every board of that side.
class Catalogue {
 public:
  // The catalogue of side `dim`, built on first use and kept for the life of
  // the process (thread-safe). Throws InternalError for an unsupported side
  // before allocating anything.
  static const Catalogue& for_side(std::uint64_t dim);

  explicit Catalogue(std::uint64_t dim);

  std::uint64_t dim() const { return dim_; }
  std::uint64_t cell_count() const { return dim_ * dim_; }
  const Piece& piece(std::uint8_t id) const { return pieces_[id]; }
  const Placement& placement(std::uint32_t id) const { return placements_[id]; }

  // The ways catalogue piece `piece` can cover a cell, independent of the cell.
  std::span<const CoverPattern> cover_patterns(std::uint8_t piece) const {
    return {patterns_.data() + pattern_begin_[piece], patterns_.data() + pattern_begin_[piece + 1]};
  }
  // The placement of orientation `variant_slot` at `position`, which must be
  // in bounds.
  std::uint32_t placement_at(std::uint32_t variant_slot, std::uint64_t position) const {
    return placement_at_[variant_slot * cell_count() + position];
  }

 private:
  void add_cover_patterns(const PieceVariant& variant, std::uint32_t variant_slot);

  std::uint64_t dim_;
  std::vector<Piece> pieces_;
  std::vector<Placement> placements_;
  std::vector<CoverPattern> patterns_;
  std::array<std::uint32_t, kPieceCount + 1> pattern_begin_{};
  std::vector<std::uint32_t> placement_at_;  // variant slot * cells + position
};

}  // namespace tavrin
