#include "engine/pieces.hpp"

#include <array>
#include <string>
#include <string_view>

#include "engine/engine_texts.hpp"
#include "engine/internal_error.hpp"

namespace tavrin {
namespace {

// Rows separated by '/', 'X' a square, '.' empty.
constexpr std::array<std::string_view, kPieceCount> kCatalogue = {
    "X",         "XX",          "XX/.X",      "XXX",        "XXXX",       "XX/X./X.",  "XXX/.X.",
    "XX/XX",     "XX./.XX",     "XXXXX",      "XXXX/X...",  "XXX./..XX",  "XXX/XX.",   "XXX/X../X..",
    "XX./.XX/..X", "XX./.X./.XX", "XXX/X.X",  "XXXX/.X..",  ".X./XXX/.X.", ".X./XXX/X..", "XXX/.X./.X.",
};

CellMatrix parse(std::string_view text) {
  CellMatrix matrix(1);
  for (char symbol : text) {
    if (symbol == '/') {
      matrix.emplace_back();
    } else {
      matrix.back().push_back(symbol == 'X');
    }
  }
  return matrix;
}

}  // namespace

CellMatrix catalogue_matrix(std::uint8_t id) {
  return parse(kCatalogue[id < kPieceCount ? id : kPieceCount - 1]);
}

PieceVariant PieceVariant::make(CellMatrix shape, std::uint64_t dim) {
  if (shape.empty()) {
    throw InternalError(output::kVariantWithoutRows);
  }
  PieceVariant variant;
  for (std::size_t row = 0; row < shape.size(); ++row) {
    const auto& entries = shape[row];
    variant.mask.insert(variant.mask.end(), entries.begin(), entries.end());
    if (row + 1 < shape.size()) {
      if (entries.size() > dim) {
        throw InternalError(output::variant_row_too_long(entries.size(), dim));
      }
      variant.mask.insert(variant.mask.end(), dim - entries.size(), false);
    }
  }
  for (std::size_t i = 0; i < variant.mask.size(); ++i) {
    if (variant.mask[i]) variant.offsets.push_back(i);
  }
  variant.width = shape[0].size();
  variant.shape = std::move(shape);
  return variant;
}

CellMatrix Piece::rotate(CellMatrix matrix) {
  if (matrix.empty()) throw InternalError(output::kRotateWithoutRows);
  const std::size_t height = matrix.size();
  const std::size_t width = matrix[0].size();
  CellMatrix turned(width, std::vector<bool>(height));
  for (std::size_t j = 0; j < width; ++j) {
    for (std::size_t k = 0; k < height; ++k) {
      const auto& source = matrix[height - 1 - k];
      if (j >= source.size()) {
        throw InternalError(output::rotate_row_too_short(height - 1 - k));
      }
      turned[j][k] = source[j];
    }
  }
  return turned;
}

CellMatrix Piece::flip(CellMatrix matrix) {
  for (auto& row : matrix) {
    std::vector<bool> reversed(row.rbegin(), row.rend());
    row = std::move(reversed);
  }
  return matrix;
}

Piece Piece::make(std::uint8_t id, std::uint64_t dim) {
  Piece piece;
  piece.id = id;
  piece.shape = catalogue_matrix(id);
  for (const auto& row : piece.shape) {
    for (bool square : row) piece.size += square ? 1 : 0;
  }

  auto keep_if_new = [&](CellMatrix candidate) {
    PieceVariant variant = PieceVariant::make(std::move(candidate), dim);
    for (const auto& kept : piece.variants) {
      if (kept.mask == variant.mask) return;
    }
    piece.variants.push_back(std::move(variant));
  };

  CellMatrix turning = piece.shape;
  for (int turn = 0; turn < 4; ++turn) {
    if (turn > 0) turning = rotate(std::move(turning));
    keep_if_new(turning);
  }
  CellMatrix mirrored = flip(piece.shape);
  for (int turn = 0; turn < 4; ++turn) {
    if (turn > 0) mirrored = rotate(std::move(mirrored));
    keep_if_new(mirrored);
  }
  return piece;
}

}  // namespace tavrin
