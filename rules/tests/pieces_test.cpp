#include <gtest/gtest.h>

#include <numeric>

#include "engine/internal_error.hpp"
#include "engine/pieces.hpp"
#include "engine_testing/matrix_text.hpp"

namespace tavrin {
namespace {

using testing::matrix;
using testing::render;

std::vector<std::string> orientations(std::uint8_t id) {
  std::vector<std::string> shapes;
  for (const auto& variant : Piece::make(id, 20).variants) shapes.push_back(render(variant.shape));
  return shapes;
}

TEST(PieceTransforms, RotateTurnsClockwiseAndFlipMirrors) {
  EXPECT_EQ(render(Piece::rotate(matrix("XX/.X"))), ".X/XX");
  EXPECT_EQ(render(Piece::rotate(matrix("XXX/X.."))), "XX/.X/.X");
  EXPECT_EQ(render(Piece::flip(matrix("XX./.XX"))), ".XX/XX.");
  EXPECT_THROW(Piece::rotate({}), InternalError);
  EXPECT_THROW(Piece::rotate(matrix("XX/X")), InternalError);
}

TEST(PieceCatalogue, OrientationsComeInGenerationOrder) {
  EXPECT_EQ(orientations(1), (std::vector<std::string>{"XX", "X/X"}));
  EXPECT_EQ(orientations(2), (std::vector<std::string>{"XX/.X", ".X/XX", "X./XX", "XX/X."}));
  EXPECT_EQ(orientations(5), (std::vector<std::string>{"XX/X./X.", "XXX/..X", ".X/.X/XX", "X../XXX", "XX/.X/.X",
                                                       "..X/XXX", "X./X./XX", "XXX/X.."}));
  EXPECT_EQ(orientations(16), (std::vector<std::string>{"XXX/X.X", "XX/.X/XX", "X.X/XXX", "XX/X./XX"}));
}

TEST(PieceCatalogue, CountsSizesAndOrientations) {
  const std::vector<std::size_t> expected_orientations = {1, 2, 4, 2, 2, 8, 4, 1, 4, 2, 8,
                                                          8, 8, 4, 4, 4, 4, 8, 1, 8, 4};
  const std::vector<std::uint32_t> expected_sizes = {1, 2, 3, 3, 4, 4, 4, 4, 4, 5, 5,
                                                     5, 5, 5, 5, 5, 5, 5, 5, 5, 5};
  std::size_t total_orientations = 0;
  std::uint32_t total_squares = 0;
  for (std::uint8_t id = 0; id < kPieceCount; ++id) {
    const Piece piece = Piece::make(id, 20);
    EXPECT_EQ(piece.id, id);
    EXPECT_EQ(piece.variants.size(), expected_orientations[id]) << "piece " << int(id);
    EXPECT_EQ(piece.size, expected_sizes[id]) << "piece " << int(id);
    for (const auto& variant : piece.variants) EXPECT_EQ(variant.offsets.size(), piece.size);
    total_orientations += piece.variants.size();
    total_squares += piece.size;
  }
  EXPECT_EQ(total_orientations, 91U);
  EXPECT_EQ(total_squares, 89U);
}

TEST(PieceCatalogue, IndexPastTheEndBuildsTheLastMatrixButKeepsItsId) {
  const Piece piece = Piece::make(21, 20);
  EXPECT_EQ(piece.id, 21U);
  EXPECT_EQ(render(piece.shape), "XXX/.X./.X.");
  EXPECT_EQ(piece.variants.size(), 4U);
}

TEST(PieceVariantLayout, MaskFollowsTheBoardRowStride) {
  const PieceVariant variant = PieceVariant::make(matrix("XX/X./X."), 20);
  EXPECT_EQ(variant.width, 2U);
  EXPECT_EQ(variant.mask.size(), 42U);
  EXPECT_EQ(variant.offsets, (std::vector<std::uint64_t>{0, 1, 20, 40}));
  EXPECT_TRUE(variant.mask[0] && variant.mask[1] && variant.mask[20] && variant.mask[40]);
  EXPECT_EQ(std::count(variant.mask.begin(), variant.mask.end(), true), 4);

  const PieceVariant offset_corner = PieceVariant::make(matrix(".X/XX"), 7);
  EXPECT_EQ(offset_corner.offsets, (std::vector<std::uint64_t>{1, 7, 8}));
  EXPECT_EQ(offset_corner.mask.size(), 9U);
}

TEST(PieceVariantLayout, BoardsBelowSideFourAreRejected) {
  EXPECT_THROW(Piece::make(10, 3), InternalError);
  EXPECT_NO_THROW(Piece::make(10, 4));
  EXPECT_THROW(PieceVariant::make({}, 20), InternalError);
}

}  // namespace
}  // namespace tavrin
