// Sums of whole numbers taken several at a time equal the sum in order, bit
// for bit, and anything they could not take exactly is left to the caller.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <numeric>
#include <vector>

#include "WholeSum.h"

namespace {

double in_order(const std::vector<double>& values) { return std::accumulate(values.begin(), values.end(), 0.0); }

bool same_bits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

TEST(WholeSum, EqualsTheSumInOrderForWholeNumbersOfAnyCount) {
  for (std::size_t n : {0u, 1u, 7u, 8u, 9u, 1024u, 1025u}) {
    std::vector<double> values(n);
    for (std::size_t i = 0; i < n; i++) values[i] = (i % 5 == 0 ? -1.0 : 1.0) * double(i * 7919 % 100003 + 1);
    const std::optional<double> sum = rootcompat::WholeSum(values.data(), n);
    ASSERT_TRUE(sum.has_value()) << n;
    EXPECT_TRUE(same_bits(*sum, in_order(values))) << n;
  }
  std::vector<double> zeros(16, 0.0);
  zeros[3] = -0.0;
  const std::optional<double> zero = rootcompat::WholeSum(zeros.data(), zeros.size());
  EXPECT_TRUE(!zero || same_bits(*zero, 0.0)) << "a positive zero, as in order";
}

TEST(WholeSum, LeavesFractionsLargeMagnitudesAndNonNumbersToTheCaller) {
  const double infinity = std::numeric_limits<double>::infinity();
  const double refused[] = {0.5, -0.5, 0x1p51 + 0.5, -0x1p51 - 0.5, 0x1p51, -0x1p51, 1e300,
                            infinity, -infinity, std::numeric_limits<double>::quiet_NaN()};
  for (double odd : refused)
    for (std::size_t at : {0u, 5u, 8u, 16u}) {  // in a group of eight or among the last few
      std::vector<double> values(17, 3.0);
      values[at] = odd;
      EXPECT_FALSE(rootcompat::WholeSum(values.data(), values.size()).has_value()) << odd << " at " << at;
    }
  std::vector<double> large(16, 0x1p47);  // each one small enough, together 2^51
  EXPECT_FALSE(rootcompat::WholeSum(large.data(), large.size()).has_value());
  large.pop_back();
  EXPECT_TRUE(same_bits(*rootcompat::WholeSum(large.data(), large.size()), in_order(large)));
}

}  // namespace
