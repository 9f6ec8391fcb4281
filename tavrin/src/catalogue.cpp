#include "catalogue.hpp"

#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "internal_error.hpp"

namespace tavrin {

const Catalogue& Catalogue::for_side(std::uint64_t dim) {
  if (dim > kMaxSide) {
    throw InternalError("Board side " + std::to_string(dim) + " is not supported: the largest side is " +
                        std::to_string(kMaxSide));
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

Catalogue::Catalogue(std::uint64_t dim) : dim_(dim) {
  pieces_.reserve(kPieceCount);
  for (std::uint8_t id = 0; id < kPieceCount; ++id) pieces_.push_back(Piece::make(id, dim));

  const std::uint64_t cells = dim * dim;
  std::vector<std::uint32_t> per_slot(cells * kPieceCount + 1, 0);
  for (const Piece& piece : pieces_) {
    for (std::size_t v = 0; v < piece.variants.size(); ++v) {
      const PieceVariant& variant = piece.variants[v];
      const std::uint64_t rows = variant.rows();
      for (std::uint64_t row = 0; row + rows <= dim; ++row) {
        for (std::uint64_t column = 0; column + variant.width <= dim; ++column) {
          Placement placement;
          placement.piece = static_cast<std::uint8_t>(piece.id);
          placement.variant = static_cast<std::uint8_t>(v);
          placement.position = static_cast<std::uint32_t>(row * dim + column);
          for (std::uint64_t offset : variant.offsets) {
            const auto tile = static_cast<std::uint16_t>(placement.position + offset);
            placement.cells[placement.size++] = tile;
            ++per_slot[tile * kPieceCount + piece.id];
          }
          placements_.push_back(placement);
        }
      }
    }
  }

  cover_begin_.assign(cells * kPieceCount + 1, 0);
  for (std::size_t slot = 0; slot < cells * kPieceCount; ++slot) {
    cover_begin_[slot + 1] = cover_begin_[slot] + per_slot[slot];
  }
  cover_ids_.resize(cover_begin_.back());
  std::vector<std::uint32_t> fill(cover_begin_.begin(), cover_begin_.end() - 1);
  // Placements are stored by piece, variant and position, so every slot lists
  // its placements in that order too.
  for (std::uint32_t id = 0; id < placements_.size(); ++id) {
    const Placement& placement = placements_[id];
    for (std::uint16_t tile : placement.squares()) {
      cover_ids_[fill[tile * kPieceCount + placement.piece]++] = id;
    }
  }
}

}  // namespace tavrin
