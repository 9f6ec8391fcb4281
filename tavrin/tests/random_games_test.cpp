// Random games on several board sides, checking after every action that the
// incrementally maintained state equals a recomputation from scratch.
#include <gtest/gtest.h>

#include <random>
#include <set>

#include "game.hpp"

namespace tavrin {
namespace {

struct Expected {
  std::set<std::uint64_t> legal_tiles;
  std::set<PlacementKey> placements;
};

std::set<PlacementKey> placements_by_brute_force(const Board& board, std::uint64_t player) {
  std::set<PlacementKey> found;
  const Hand hand = board.hand(player);
  for (std::size_t j = 0; j < hand.size(); ++j) {
    const auto& variants = hand[j].variants;
    for (std::size_t v = 0; v < variants.size(); ++v) {
      for (std::uint64_t position = 0; position < board.cell_count(); ++position) {
        if (board.is_valid_move(player, variants[v], position)) found.insert({j, v, position});
      }
    }
  }
  return found;
}

std::set<std::uint64_t> covered(const Board& board, std::uint64_t player, const PlacementKey& key) {
  std::set<std::uint64_t> tiles;
  for (std::uint64_t offset : board.hand(player)[key.piece_index].variants[key.variant_index].offsets) {
    tiles.insert(key.position + offset);
  }
  return tiles;
}

void expect_board_consistent(const Board& board) {
  const std::uint64_t dim = board.dim();
  const auto owner = [&](std::int64_t row, std::int64_t column) -> int {
    if (row < 0 || column < 0 || row >= std::int64_t(dim) || column >= std::int64_t(dim)) return 0;
    return board.cell(std::uint64_t(row) * dim + std::uint64_t(column)) & 0x0F;
  };
  for (std::uint64_t tile = 0; tile < board.cell_count(); ++tile) {
    const std::int64_t r = std::int64_t(tile / dim), c = std::int64_t(tile % dim);
    const int here = owner(r, c);
    for (std::uint64_t p = 0; p < kPlayers; ++p) {
      const int mine = int(p) + 1;
      const bool edge = owner(r - 1, c) == mine || owner(r + 1, c) == mine || owner(r, c - 1) == mine ||
                        owner(r, c + 1) == mine;
      const bool diagonal = owner(r - 1, c - 1) == mine || owner(r - 1, c + 1) == mine ||
                            owner(r + 1, c - 1) == mine || owner(r + 1, c + 1) == mine;
      const bool blocked = here != 0 || edge;
      ASSERT_EQ(board.is_blocked(tile, p), blocked) << "tile " << tile << " player " << p;
      const bool corner = !blocked && (diagonal || tile == Board::start_corner(p, dim));
      ASSERT_EQ(board.is_corner(p, tile), corner) << "tile " << tile << " player " << p;
    }
    if (here != 0) ASSERT_EQ(board.cell(tile) & 0xF0, 0xF0);
  }
}

void play_and_check(std::uint64_t dim, std::mt19937_64& rng) {
  Game game = Game::reset(dim);
  Game piece_start = game;  // position before the first square of the current piece
  std::set<PlacementKey> start_placements = placements_by_brute_force(game.board(), 0);
  std::vector<std::uint64_t> chosen;

  while (!game.is_terminal()) {
    const std::uint64_t player = game.current_player();
    // Placements through every chosen square; the legal tiles extend them.
    Expected expected;
    for (const PlacementKey& key : start_placements) {
      const auto tiles = covered(piece_start.board(), player, key);
      if (!std::all_of(chosen.begin(), chosen.end(), [&](auto t) { return tiles.count(t) > 0; })) continue;
      if (tiles.size() == chosen.size()) continue;
      expected.placements.insert(key);
      for (std::uint64_t t : tiles) expected.legal_tiles.insert(t);
    }
    for (std::uint64_t t : chosen) expected.legal_tiles.erase(t);
    const auto legal = game.get_legal_tiles();
    ASSERT_EQ(std::set<std::uint64_t>(legal.begin(), legal.end()), expected.legal_tiles) << "dim " << dim;
    ASSERT_TRUE(std::is_sorted(legal.begin(), legal.end()));
    std::set<PlacementKey> listed;
    for (const auto& [tile, keys] : game.tile_moves()) listed.insert(keys.begin(), keys.end());
    ASSERT_EQ(listed, expected.placements);
    ASSERT_FALSE(legal.empty());

    const std::uint64_t tile = legal[std::uniform_int_distribution<std::size_t>(0, legal.size() - 1)(rng)];
    const auto illegal = std::uniform_int_distribution<std::uint64_t>(0, dim * dim + 3)(rng);
    if (!game.is_legal(illegal)) {
      const Game before = game;
      ASSERT_TRUE(game.apply(illegal).has_value());
      ASSERT_EQ(game.history(), before.history());
      ASSERT_TRUE(std::equal(game.board().cells().begin(), game.board().cells().end(),
                             before.board().cells().begin()));
    }
    ASSERT_EQ(game.apply(tile), std::nullopt);
    chosen.push_back(tile);
    expect_board_consistent(game.board());
    if (::testing::Test::HasFatalFailure()) return;

    if (game.chosen_squares().empty()) {  // the piece was completed
      ASSERT_EQ(game.last_piece_sizes()[player], chosen.size());
      chosen.clear();
      piece_start = game;
      if (!game.is_terminal()) {
        start_placements = placements_by_brute_force(game.board(), game.current_player());
        ASSERT_EQ(get_tile_moves(game.board(), game.current_player()), game.tile_moves());
      }
      // Every player skipped on the way had nothing to play.
      for (std::uint64_t p = 0; p < kPlayers; ++p) {
        if (game.finished()[p]) ASSERT_TRUE(placements_by_brute_force(game.board(), p).empty());
      }
    }
  }

  ASSERT_TRUE(game.get_legal_tiles().empty());
  std::size_t occupied = 0;
  for (std::uint8_t cell : game.board().cells()) occupied += (cell & 0x0F) != 0;
  ASSERT_EQ(game.history().size(), occupied);
  // The squares of one piece are consecutive entries of one player.
  const auto& history = game.history();
  for (std::size_t i = 0; i < history.size(); ++i) {
    ASSERT_EQ(game.board().cell(std::uint64_t(history[i].second)) & 0x0F, history[i].first + 1);
  }
  const auto payoff = game.get_payoff();
  ASSERT_NEAR(payoff[0] + payoff[1] + payoff[2] + payoff[3], 1.0F, 1e-6F);
}

TEST(RandomGames, IncrementalStateMatchesRecomputation) {
  std::mt19937_64 rng(20261207);
  for (std::uint64_t dim : {4, 5, 6, 7, 9, 12}) {
    for (int round = 0; round < 12; ++round) {
      play_and_check(dim, rng);
      if (HasFatalFailure()) return;
    }
  }
  for (int round = 0; round < 3; ++round) {
    play_and_check(20, rng);
    if (HasFatalFailure()) return;
  }
}

// Large boards: whole random games, every piece of every player laid down.
TEST(RandomGames, LargestSidesPlayToTheEnd) {
  std::mt19937_64 rng(11);
  for (std::uint64_t dim : {std::uint64_t{64}, kMaxSide}) {
    Game game = Game::reset(dim);
    while (!game.is_terminal()) {
      const auto tiles = game.get_legal_tiles();
      ASSERT_EQ(game.apply(tiles[std::uniform_int_distribution<std::size_t>(0, tiles.size() - 1)(rng)]), std::nullopt);
    }
    EXPECT_EQ(game.history().size(), 4U * kSquaresPerSet) << dim;
    std::set<std::int32_t> tiles;
    for (const auto& [player, tile] : game.history()) {
      ASSERT_LT(std::uint64_t(tile), dim * dim);
      tiles.insert(tile);
    }
    EXPECT_EQ(tiles.size(), game.history().size());  // no cell written twice
  }
}

}  // namespace
}  // namespace tavrin
