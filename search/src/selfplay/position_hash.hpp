#pragma once

#include <cstdint>
#include <vector>

#include "engine/game.hpp"

namespace tavrin {

// Zobrist keys of the positions of one board side: one random word per
// (player, cell) occupant, per chosen square, per (player, piece) in hand and
// per player to move, XORed together. Those four things fix everything the
// network sees, the legal tiles included, so equal positions reached in any
// order (the squares of one piece laid in another order, a shared opening)
// share a key. The words are fixed: keys agree between pools and runs.
class PositionHasher {
 public:
  explicit PositionHasher(std::uint64_t dim);

  std::uint64_t dim() const { return dim_; }
  // `game` must be of this hasher's side.
  std::uint64_t hash(const Game& game) const;

 private:
  std::uint64_t dim_;
  std::vector<std::uint64_t> occupant_keys_;  // player * cells + cell
  std::vector<std::uint64_t> chosen_keys_;    // per cell
  std::vector<std::uint64_t> hand_keys_;      // player * kPieceCount + piece id
  std::vector<std::uint64_t> mover_keys_;     // per player
};

}  // namespace tavrin
