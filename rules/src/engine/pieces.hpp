#pragma once

#include <cstdint>
#include <vector>

namespace tavrin {

// A list of rows, each a list of booleans; true marks a square of the piece.
using CellMatrix = std::vector<std::vector<bool>>;

inline constexpr std::uint64_t kPieceCount = 21;
inline constexpr std::uint32_t kSquaresPerSet = 89;

// One distinct orientation of a piece, laid out at the row stride of a board
// of side `dim`: square (r, c) of `shape` sits at flat offset r * dim + c.
struct PieceVariant {
  CellMatrix shape;
  std::uint64_t width = 0;
  std::vector<bool> mask;
  std::vector<std::uint64_t> offsets;

  static PieceVariant make(CellMatrix shape, std::uint64_t dim);

  std::uint64_t rows() const { return shape.size(); }
};

struct Piece {
  std::uint64_t id = 0;
  CellMatrix shape;
  std::vector<PieceVariant> variants;
  std::uint32_t size = 0;

  // Builds catalogue entry `id` (entries past the end build the last entry's
  // matrix, keeping the given id) with its orientations for side `dim`.
  static Piece make(std::uint8_t id, std::uint64_t dim);

  // Quarter turn clockwise: output row j is input column j read bottom-up.
  static CellMatrix rotate(CellMatrix matrix);
  // Mirror left to right.
  static CellMatrix flip(CellMatrix matrix);
};

// The base matrix of catalogue entry `id` (entries past the end give entry 20).
CellMatrix catalogue_matrix(std::uint8_t id);

}  // namespace tavrin
