#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>

#include "engine/board.hpp"
#include "engine/internal_error.hpp"
#include "engine_testing/matrix_text.hpp"
#include "engine_testing/placement_rule.hpp"

namespace tavrin {
namespace {

using testing::corner_tiles;
using testing::is_valid_move;
using Tiles = std::vector<std::uint64_t>;

const PieceVariant& monomino(const Board& board) { return board.hand(0)[0].variants[0]; }

TEST(BoardSetup, NewBoardIsEmptyWithStartCorners) {
  const Board board = Board::make(20);
  for (std::uint8_t cell : board.cells()) EXPECT_EQ(cell, 0);
  EXPECT_EQ(board.cells().size(), 400U);
  EXPECT_EQ(corner_tiles(board, 0), Tiles{0});
  EXPECT_EQ(corner_tiles(board, 1), Tiles{19});
  EXPECT_EQ(corner_tiles(board, 2), Tiles{399});
  EXPECT_EQ(corner_tiles(board, 3), Tiles{380});
  EXPECT_EQ(board.diagonals(), (std::array<std::int32_t, 4>{21, -21, -19, 19}));
  for (std::uint64_t p = 0; p < kPlayers; ++p) EXPECT_EQ(board.hand(p).size(), 21U);
  EXPECT_THROW(Board::start_corner(4, 20), InternalError);
  EXPECT_EQ(board.get_scores({0, 0, 0, 0}), (std::array<std::int32_t, 4>{-89, -89, -89, -89}));
}

TEST(BoardSetup, SidesOutsideTheSupportedRangeFailClearly) {
  EXPECT_THROW(Board::make(3), InternalError);
  EXPECT_THROW(Board::make(0), InternalError);
  EXPECT_NO_THROW(Board::make(4));
  EXPECT_NO_THROW(Board::make(64));
  EXPECT_THROW(Board::make(std::uint64_t{1} << 32), InternalError);  // dim * dim would overflow 64 bits
  try {
    Board::make(kMaxSide + 1);
    FAIL() << "expected an internal error";
  } catch (const InternalError& error) {
    EXPECT_NE(std::string(error.what()).find("not supported"), std::string::npos);
  }
}

TEST(PlaceTile, UpdatesCellsBlockedBitsAndCorners) {
  Board board = Board::make(20);
  board.place_tile(0, 0);
  EXPECT_EQ(board.cell(0), 0xF1);
  EXPECT_EQ(board.cell(1), 0x10);
  EXPECT_EQ(board.cell(20), 0x10);
  EXPECT_EQ(corner_tiles(board, 0), Tiles{21});  // cell 19 would wrap; the upper diagonals are off the board
  EXPECT_EQ(corner_tiles(board, 1), Tiles{19});
  EXPECT_EQ(corner_tiles(board, 2), Tiles{399});
  EXPECT_EQ(corner_tiles(board, 3), Tiles{380});

  // Another player's square removes the cell from every corner set and
  // blocks its edge neighbours for its owner only.
  board.place_tile(21, 1);
  EXPECT_EQ(board.cell(21), 0xF2);
  EXPECT_EQ(corner_tiles(board, 0), Tiles{});
  EXPECT_EQ(board.cell(1), 0x30);
  EXPECT_EQ(board.cell(20), 0x30);
  EXPECT_EQ(board.cell(22), 0x20);
  EXPECT_EQ(board.cell(41), 0x20);
  EXPECT_EQ(corner_tiles(board, 1), (Tiles{2, 19, 40, 42}));
  EXPECT_EQ(corner_tiles(board, 2), Tiles{399});
}

TEST(PlaceTile, DiagonalsNeverWrapAroundTheSides) {
  Board board = Board::make(6);
  board.place_tile(11, 0);  // row 1, last column
  EXPECT_EQ(corner_tiles(board, 0), (Tiles{0, 4, 16}));
  board.place_tile(12, 0);  // row 2, first column: its left diagonals would wrap
  for (std::uint64_t tile : corner_tiles(board, 0)) EXPECT_NE(tile % 6, 5U) << tile;
  EXPECT_THROW(board.place_tile(36, 0), InternalError);
  EXPECT_THROW(board.place_tile(0, 4), InternalError);
}

TEST(IsValidMove, PlacementRule) {
  Board board = Board::make(20);
  const Hand hand = board.hand(0);
  const PieceVariant& single = monomino(board);
  EXPECT_TRUE(is_valid_move(board, 0, single, 0));
  EXPECT_FALSE(is_valid_move(board, 0, single, 1));  // not on the start corner
  EXPECT_FALSE(is_valid_move(board, 1, single, 0));
  EXPECT_TRUE(is_valid_move(board, 1, single, 19));
  board.place_tile(0, 0);
  EXPECT_TRUE(is_valid_move(board, 0, single, 21));
  EXPECT_FALSE(is_valid_move(board, 0, single, 1));   // shares an edge
  EXPECT_FALSE(is_valid_move(board, 0, single, 20));  // shares an edge
  EXPECT_FALSE(is_valid_move(board, 0, single, 22));  // not on a corner
  EXPECT_FALSE(is_valid_move(board, 0, single, 0));   // occupied
  EXPECT_TRUE(is_valid_move(board, 1, single, 19));
  EXPECT_FALSE(is_valid_move(board, 1, single, 1));
  EXPECT_THROW(is_valid_move(board, 4, single, 0), InternalError);

  // Cell 1 is blocked for player 0 only: player 1 may cover it.
  const PieceVariant& horizontal_five = hand[9].variants[0];  // XXXXX
  EXPECT_TRUE(is_valid_move(board, 1, horizontal_five, 15));
  EXPECT_FALSE(is_valid_move(board, 1, horizontal_five, 14));  // misses the corner
}

TEST(IsValidMove, PiecesMayNotLeaveTheBoard) {
  Board board = Board::make(20);
  const Hand hand = board.hand(1);
  const PieceVariant& domino = hand[1].variants[0];  // XX
  // Starting in the last column the domino would wrap onto cell 20 of row 1:
  // illegal even though cell 19 is player 1's corner.
  EXPECT_FALSE(is_valid_move(board, 1, domino, 19));
  EXPECT_TRUE(is_valid_move(board, 1, domino, 18));
  const PieceVariant& vertical = hand[1].variants[1];  // X/X
  EXPECT_FALSE(is_valid_move(board, 2, vertical, 399));  // runs past the last cell
  EXPECT_TRUE(is_valid_move(board, 2, vertical, 379));
}

TEST(Scores, BonusForAnEmptyHandAndForTheSingleSquareLast) {
  Board board = Board::make(20);
  // 89 squares of player 0 and 5 of player 1; player 0 empties its hand.
  for (std::uint64_t tile = 0; tile < 89; ++tile) board.place_tile(tile, 0);
  for (std::uint64_t tile = 100; tile < 105; ++tile) board.place_tile(tile, 1);
  while (!board.hand(0).empty()) board.remove_piece(0, 0);
  EXPECT_EQ(board.get_scores({5, 0, 0, 0}), (std::array<std::int32_t, 4>{15, -84, -89, -89}));
  EXPECT_EQ(board.get_scores({1, 0, 0, 0}), (std::array<std::int32_t, 4>{20, -84, -89, -89}));
  EXPECT_THROW(board.remove_piece(0, 0), InternalError);
}

TEST(Hands, RemovingKeepsTheOrderOfTheOthers) {
  Board board = Board::make(20);
  EXPECT_EQ(board.remove_piece(2, 3), 3);
  EXPECT_EQ(board.hand(2).id_at(3), 4);
  EXPECT_EQ(board.remove_piece(2, 0), 0);
  EXPECT_EQ(board.hand(2).id_at(0), 1);
  EXPECT_EQ(board.hand(2).size(), 19U);
  EXPECT_EQ(board.hand(2).index_of(20), 18U);
  EXPECT_THROW(board.remove_piece(2, 19), InternalError);
}

TEST(PrintBoard, OneSymbolPerCellAndATrailingEmptyLine) {
  Board board = Board::make(4);
  const std::string white = "\u2B1C";
  const std::string row = white + white + white + white + "\n";
  EXPECT_EQ(board.get_text(), row + row + row + row);

  board.place_tile(0, 0);
  board.place_tile(15, 2);
  EXPECT_EQ(board.get_text(),
            "\U0001F7E5" + white + white + white + "\n" + row + row + white + white + white + "\U0001F7E8\n");

  // print_board writes the text plus one more newline to standard output.
  std::fflush(stdout);
  ::testing::internal::CaptureStdout();
  board.print_board();
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), board.get_text() + "\n");
}

}  // namespace
}  // namespace tavrin
