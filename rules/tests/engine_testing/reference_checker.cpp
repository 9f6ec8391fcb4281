#include "engine_testing/reference_checker.hpp"

#include <algorithm>

#include "engine_testing/placement_rule.hpp"

namespace tavrin::testing {
namespace {

std::set<std::uint64_t> covered(const Board& board, std::uint64_t player, const PlacementKey& key) {
  std::set<std::uint64_t> tiles;
  for (std::uint64_t offset : board.hand(player)[key.piece_index].variants[key.variant_index].offsets) {
    tiles.insert(key.position + offset);
  }
  return tiles;
}

std::optional<std::string> check_board(const Board& board) {
  const auto dim = static_cast<std::int64_t>(board.dim());
  const auto owner = [&](std::int64_t row, std::int64_t column) -> int {
    if (row < 0 || column < 0 || row >= dim || column >= dim) return 0;
    return board.cell(static_cast<std::uint64_t>(row * dim + column)) & 0x0F;
  };
  for (std::uint64_t tile = 0; tile < board.cell_count(); ++tile) {
    const auto r = static_cast<std::int64_t>(tile) / dim;
    const auto c = static_cast<std::int64_t>(tile) % dim;
    const int here = owner(r, c);
    if (here > 4 || (here != 0 && (board.cell(tile) & 0xF0) != 0xF0)) return "bad cell byte at " + std::to_string(tile);
    for (std::uint64_t p = 0; p < kPlayers; ++p) {
      const int mine = static_cast<int>(p) + 1;
      const bool edge = owner(r - 1, c) == mine || owner(r + 1, c) == mine || owner(r, c - 1) == mine ||
                        owner(r, c + 1) == mine;
      const bool diagonal = owner(r - 1, c - 1) == mine || owner(r - 1, c + 1) == mine ||
                            owner(r + 1, c - 1) == mine || owner(r + 1, c + 1) == mine;
      const bool blocked = here != 0 || edge;
      const std::string where = " at tile " + std::to_string(tile) + " for player " + std::to_string(p);
      if (board.is_blocked(tile, p) != blocked) return "blocked bit differs" + where;
      const bool corner = !blocked && (diagonal || tile == Board::start_corner(p, board.dim()));
      if (board.is_corner(p, tile) != corner) return "corner set differs" + where;
    }
  }
  return std::nullopt;
}

}  // namespace

std::set<PlacementKey> placements_by_brute_force(const Board& board, std::uint64_t player) {
  std::set<PlacementKey> found;
  const Hand hand = board.hand(player);
  for (std::size_t j = 0; j < hand.size(); ++j) {
    const auto& variants = hand[j].variants;
    for (std::size_t v = 0; v < variants.size(); ++v) {
      for (std::uint64_t position = 0; position < board.cell_count(); ++position) {
        if (is_valid_move(board, player, variants[v], position)) found.insert({j, v, position});
      }
    }
  }
  return found;
}

ReferenceChecker::ReferenceChecker(const Game& game)
    : piece_start_(game), start_placements_(placements_by_brute_force(game.board(), game.current_player())) {}

std::optional<std::string> ReferenceChecker::check(const Game& game) const {
  if (auto board_error = check_board(game.board())) return board_error;
  const std::uint64_t player = game.current_player();
  std::set<PlacementKey> expected_placements;
  std::set<std::uint64_t> expected_tiles;
  if (!game.is_terminal()) {
    for (const PlacementKey& key : start_placements_) {
      const auto tiles = covered(piece_start_.board(), player, key);
      if (tiles.size() == chosen_.size()) continue;
      if (!std::all_of(chosen_.begin(), chosen_.end(), [&](std::uint64_t t) { return tiles.count(t) > 0; })) continue;
      expected_placements.insert(key);
      expected_tiles.insert(tiles.begin(), tiles.end());
    }
    for (std::uint64_t t : chosen_) expected_tiles.erase(t);
    if (expected_tiles.empty()) return std::string("a player to move has no legal tile");
  }
  const auto legal = game.get_legal_tiles();
  if (!std::is_sorted(legal.begin(), legal.end())) return std::string("legal tiles out of order");
  if (std::set<std::uint64_t>(legal.begin(), legal.end()) != expected_tiles) return std::string("legal tiles differ");
  std::set<PlacementKey> listed;
  for (const auto& [tile, keys] : tile_moves(game)) listed.insert(keys.begin(), keys.end());
  if (listed != expected_placements) return std::string("candidate placements differ");
  return std::nullopt;
}

std::optional<std::string> ReferenceChecker::after_apply(const Game& game, std::uint64_t tile) {
  const std::uint64_t mover = piece_start_.current_player();
  chosen_.push_back(tile);
  if (game.chosen_squares().empty()) {  // the piece is complete
    if (game.last_piece_sizes()[mover] != chosen_.size()) return std::string("completed piece has the wrong size");
    for (std::uint64_t p = 0; p < kPlayers; ++p) {
      if (game.finished()[p] && !placements_by_brute_force(game.board(), p).empty()) {
        return "player " + std::to_string(p) + " marked finished with a legal placement";
      }
    }
    if (!game.is_terminal() && get_tile_moves(game.board(), game.current_player()) != tile_moves(game)) {
      return std::string("get_tile_moves differs from the game's own placements");
    }
    *this = ReferenceChecker(game);
  }
  return check(game);
}

std::optional<std::string> ReferenceChecker::difference(const Game& a, const Game& b) {
  if (!std::ranges::equal(a.board().cells(), b.board().cells())) return std::string("cells differ");
  if (a.history() != b.history()) return std::string("histories differ");
  if (a.current_player() != b.current_player()) return std::string("players to move differ");
  if (!std::ranges::equal(a.get_legal_tiles(), b.get_legal_tiles())) return std::string("legal tiles differ");
  if (tile_moves(a) != tile_moves(b)) return std::string("tile moves differ");
  if (a.finished() != b.finished() || a.last_piece_sizes() != b.last_piece_sizes()) return std::string("turn state differs");
  for (std::uint64_t p = 0; p < kPlayers; ++p) {
    if (a.board().hand(p).id_bits() != b.board().hand(p).id_bits()) return std::string("hands differ");
    if (corner_tiles(a.board(), p) != corner_tiles(b.board(), p)) return std::string("corner sets differ");
  }
  return std::nullopt;
}

std::optional<std::string> ReferenceChecker::check_finished(const Game& game) {
  if (!game.get_legal_tiles().empty()) return std::string("finished game with legal tiles");
  std::size_t occupied = 0;
  for (std::uint8_t cell : game.board().cells()) occupied += (cell & 0x0F) != 0;
  if (game.history().size() != occupied) return std::string("history length differs from the squares on the board");
  const auto& history = game.history();
  for (std::size_t k = 0; k < history.size(); ++k) {
    if ((game.board().cell(static_cast<std::uint64_t>(history[k].second)) & 0x0F) != history[k].first + 1) {
      return "history entry " + std::to_string(k) + " names a square of another player";
    }
  }
  const auto payoff = game.get_payoff();
  const float total = payoff[0] + payoff[1] + payoff[2] + payoff[3];
  if (total < 0.999F || total > 1.001F) return std::string("payoff does not sum to 1");
  return std::nullopt;
}

}  // namespace tavrin::testing
