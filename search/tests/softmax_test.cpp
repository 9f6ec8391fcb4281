#include "search/softmax.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "engine/internal_error.hpp"
#include "search_testing/softmax_vectors.hpp"

namespace tavrin {
namespace {

using testing::masked_softmax;
using testing::softmax;

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();

TEST(Softmax, EqualLogitsShareEvenlyAndLargeOnesDoNotOverflow) {
  EXPECT_EQ(softmax({0, 0, 0, 0}), (std::vector<float>{0.25F, 0.25F, 0.25F, 0.25F}));
  EXPECT_EQ(softmax({1000, 0}), (std::vector<float>{1.0F, 0.0F}));
  EXPECT_TRUE(softmax({}).empty());
}

TEST(Softmax, NonFiniteInputsPoisonEveryEntry) {
  for (const auto& logits : {std::vector<float>{0, kNaN, 1}, std::vector<float>{kInf, 0}, std::vector<float>{-kInf, -kInf}}) {
    for (float p : softmax(logits)) EXPECT_TRUE(std::isnan(p));
  }
}

TEST(MaskedSoftmax, OnlyLegalTilesGetMassWhateverTheirOrder) {
  const std::vector<float> policy{1, 2, 3, 4};
  const std::vector<std::uint64_t> ascending{1, 3};
  const std::vector<std::uint64_t> descending{3, 1};
  const auto result = masked_softmax(policy, descending);
  EXPECT_EQ(result, masked_softmax(policy, ascending));
  ASSERT_EQ(result.size(), 4U);
  EXPECT_EQ(result[0], 0.0F);
  EXPECT_EQ(result[2], 0.0F);
  EXPECT_NEAR(result[1], std::exp(2.0) / (std::exp(2.0) + std::exp(4.0)), 1e-6);
  EXPECT_NEAR(result[1] + result[3], 1.0F, 1e-6);
}

TEST(MaskedSoftmax, IllegalNaNIsIgnoredAndFarBelowTheBestIsExactlyZero) {
  const std::vector<float> policy{kNaN, 0.0F, -120.0F};
  const std::vector<std::uint64_t> legal{1, 2};
  const auto result = masked_softmax(policy, legal);
  EXPECT_EQ(result, (std::vector<float>{0.0F, 1.0F, 0.0F}));
}

TEST(MaskedSoftmax, EmptyLegalListGivesZerosAndOutOfRangeTileIsInternal) {
  EXPECT_EQ(masked_softmax(std::vector<float>{1, 2}, {}), (std::vector<float>{0, 0}));
  const std::vector<std::uint64_t> legal{0, 2};
  EXPECT_THROW(masked_softmax(std::vector<float>{1, 2}, legal), InternalError);
}

}  // namespace
}  // namespace tavrin
