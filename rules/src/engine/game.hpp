#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "engine/board.hpp"

namespace tavrin {

// One action of the history: (player, tile), as the training record carries it.
using HistoryEntry = std::pair<std::int32_t, std::int32_t>;

// The players with the best score share the win: 1/k each, 0 for the others.
std::array<float, kPlayers> payoff_from_scores(const std::array<std::int32_t, kPlayers>& scores);

// The network input: planes 0-3 the squares of players current + k, plane 4
// the legal tiles. Shape 5 x dim x dim, or dim x dim x 5 when planes last.
inline constexpr std::uint64_t kStatePlanes = 5;
// What the five planes cannot show, after them: the board planes end with
// plane 5, the squares already chosen for the piece being laid; then come the
// hand planes, for each player current + k in turn one constant plane per
// catalogue piece (ids 0-20), all true while that piece is in the player's
// hand. Planes first or last as the five.
inline constexpr std::uint64_t kExtendedBoardPlanes = kStatePlanes + 1;
inline constexpr std::uint64_t kHandPlanes = kPlayers * kPieceCount;
inline constexpr std::uint64_t kExtendedStatePlanes = kExtendedBoardPlanes + kHandPlanes;

// Naming of Game and Board members: what the object holds, or what is fixed
// once the board side is known, is read under its own name (dim, cell_count,
// cells, start_corner, current_player, history, finished); what follows from
// the play so far is a get_ query (get_legal_tiles, get_payoff, get_scores,
// get_text), also where a cache answers it. is_ marks a predicate, write_
// fills a caller's buffer, and operations are verbs (reset, apply,
// place_tile, remove_piece, print_board).

// The whole state of one four-player game. A piece is laid one square (tile)
// per action; the game tracks the placements that still agree with the
// squares chosen so far. A plain value: copies are independent and cost a few
// flat buffers, nothing per piece or per placement.
class Game {
 public:
  static Game reset(std::uint64_t dim);

  // Plays `tile` for the player to move. An illegal tile changes nothing and
  // returns "Invalid move - Player {p}, Tile {tile}".
  std::optional<std::string> apply(std::uint64_t tile);
  // Passes the turn to the next player who can move, marking players without
  // a legal tile as finished; a no-op once every player is finished.
  std::uint64_t advance_player();

  // The legal tiles, ascending.
  std::span<const std::uint64_t> get_legal_tiles() const { return legal_tiles_; }
  bool is_legal(std::uint64_t tile) const { return tile < legal_.size() && legal_[tile] != 0; }
  bool is_terminal() const { return finished_[0] && finished_[1] && finished_[2] && finished_[3]; }
  std::array<float, kPlayers> get_payoff() const;

  // The five planes into a caller's buffer of at least 5 * dim * dim entries.
  void write_game_state(bool planes_last, std::span<std::uint8_t> out) const;
  // The five planes and the extended ones into a buffer of at least
  // kExtendedStatePlanes * dim * dim entries.
  void write_extended_state(bool planes_last, std::span<std::uint8_t> out) const;
  // The extended input without widening the hands: the six board planes into
  // a buffer of at least kExtendedBoardPlanes * dim * dim entries, and the
  // hands, one entry per hand plane, into one of at least kHandPlanes.
  void write_extended_board(bool planes_last, std::span<std::uint8_t> out) const;
  void write_hands(std::span<std::uint8_t> out) const;

  const Board& board() const { return board_; }
  std::uint64_t dim() const { return board_.dim(); }
  std::uint64_t current_player() const { return current_player_; }
  const std::vector<HistoryEntry>& history() const { return history_; }
  const std::array<std::uint32_t, kPlayers>& last_piece_sizes() const { return last_piece_sizes_; }
  const std::array<bool, kPlayers>& finished() const { return finished_; }
  // Squares already chosen for the piece being laid.
  std::span<const std::uint16_t> chosen_squares() const { return {chosen_squares_.data(), chosen_count_}; }
  // Catalogue placement ids still possible for the piece being laid (each
  // covers every chosen square); in no particular order.
  std::span<const std::uint32_t> piece_placements() const { return piece_placements_; }

 private:
  explicit Game(Board board);

  // Brings `player`'s candidate placements up to date and starts a new piece
  // with them: drops placements that became blocked or whose piece is gone,
  // and adds the placements through corners that appeared since the player's
  // last turn.
  void start_turn(std::uint64_t player);
  void mark_legal(const Placement& placement) {
    for (std::uint16_t tile : placement.squares()) legal_[tile] = 1;
  }
  // The marked tiles less the chosen squares become the legal tiles.
  void collect_legal_tiles();
  std::uint64_t* processed_corners(std::uint64_t player) { return processed_.data() + player * board_.words_per_plane(); }

  Board board_;
  std::vector<HistoryEntry> history_;
  std::uint64_t current_player_ = 0;
  std::array<std::uint32_t, kPlayers> last_piece_sizes_{};
  std::array<bool, kPlayers> finished_{};

  // Per player: every placement that was legal when one of its squares became
  // a corner of the player, minus those found impossible since. Blocked bits
  // and hands only ever shrink what is possible, so the legal placements of a
  // player are exactly the candidates that are still unblocked and in hand.
  std::array<std::vector<std::uint32_t>, kPlayers> candidates_;
  // Per player, the corner cells already turned into candidates.
  std::vector<std::uint64_t> processed_;
  // Placements of the piece being laid that cover every chosen square.
  std::vector<std::uint32_t> piece_placements_;
  std::array<std::uint16_t, 5> chosen_squares_{};
  std::uint8_t chosen_count_ = 0;
  // A byte per tile, 1 when legal: plain stores while marking, no
  // read-modify-write chains on shared words.
  std::vector<std::uint8_t> legal_;
  std::vector<std::uint64_t> legal_tiles_;
};

}  // namespace tavrin
