#include "engine/catalogue.hpp"

#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "engine/engine_texts.hpp"
#include "engine/internal_error.hpp"

namespace tavrin {

const Catalogue& Catalogue::for_side(std::uint64_t dim) {
  if (dim > kMaxSide) {
    throw InternalError(output::side_not_supported(dim, kMaxSide));
  }
  // Memoised immutable tables, one per side; never evicted, so references
  // handed out stay valid for the life of the process.
  static std::mutex guard;
  static std::map<std::uint64_t, std::unique_ptr<const Catalogue>> built;
  std::lock_guard lock(guard);
  auto found = built.find(dim);
  if (found == built.end()) {
    found = built.emplace(dim, std::make_unique<const Catalogue>(dim)).first;
  }
  return *found->second;
}

void Catalogue::add_cover_patterns(const PieceVariant& variant, std::uint32_t variant_slot) {
  struct Square {
    int row;
    int column;
    std::uint32_t offset;
  };
  std::vector<Square> squares;
  for (std::size_t r = 0; r < variant.shape.size(); ++r) {
    for (std::size_t c = 0; c < variant.shape[r].size(); ++c) {
      if (variant.shape[r][c]) {
        squares.push_back({int(r), int(c), static_cast<std::uint32_t>(r * dim_ + c)});
      }
    }
  }
  for (const Square& centre : squares) {
    CoverPattern pattern;
    pattern.variant_slot = variant_slot;
    pattern.offset = centre.offset;
    for (const Square& square : squares) {
      pattern.squares |= Window{1} << window_bit(square.row - centre.row, square.column - centre.column);
    }
    patterns_.push_back(pattern);
  }
}

Catalogue::Catalogue(std::uint64_t dim) : dim_(dim) {
  pieces_.reserve(kPieceCount);
  for (std::uint8_t id = 0; id < kPieceCount; ++id) pieces_.push_back(Piece::make(id, dim));

  const std::uint64_t cells = dim * dim;
  std::uint32_t variant_slot = 0;
  for (const Piece& piece : pieces_) {
    pattern_begin_[piece.id] = static_cast<std::uint32_t>(patterns_.size());
    for (std::size_t v = 0; v < piece.variants.size(); ++v, ++variant_slot) {
      const PieceVariant& variant = piece.variants[v];
      add_cover_patterns(variant, variant_slot);
      placement_at_.resize(placement_at_.size() + cells, 0);
      const std::uint64_t rows = variant.rows();
      for (std::uint64_t row = 0; row + rows <= dim; ++row) {
        for (std::uint64_t column = 0; column + variant.width <= dim; ++column) {
          Placement placement;
          placement.piece = static_cast<std::uint8_t>(piece.id);
          placement.variant = static_cast<std::uint8_t>(v);
          placement.position = static_cast<std::uint16_t>(row * dim + column);
          for (std::uint64_t offset : variant.offsets) {
            const auto tile = static_cast<std::uint16_t>(placement.position + offset);
            placement.cells[placement.size++] = tile;
          }
          placement_at_[variant_slot * cells + placement.position] = static_cast<std::uint32_t>(placements_.size());
          placements_.push_back(placement);
        }
      }
    }
  }

  pattern_begin_[kPieceCount] = static_cast<std::uint32_t>(patterns_.size());
}

}  // namespace tavrin
