// TInt128 against the compiler's own 128-bit integer, which the 32-bit
// Windows build lacks: products past 64 bits, C++ division and remainder
// signs, rounding halves away from zero, and the int64 range check.
#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <random>

#include "common/uInt128.h"

namespace {

// Compares through three base-2^62 digits, taken with the class's own
// division and with the compiler's.
bool Same(const TInt128& A, __int128 B) {
  const int64_t base = int64_t(1) << 62;
  int64_t low = 0, middle = 0;
  const TInt128 high = A.DivMod(base, low).DivMod(base, middle);
  const __int128 b = base;
  return high.FitsInt64() && high.ToInt64() == static_cast<int64_t>(B / b / b) &&
         middle == static_cast<int64_t>(B / b % b) && low == static_cast<int64_t>(B % b);
}

TEST(Int128, MatchesTheCompilersIntegerOnMoneyArithmetic) {
  std::mt19937_64 random(20240305);
  const int64_t extremes[] = {0,
                              1,
                              -1,
                              99,
                              -99,
                              10000,
                              std::numeric_limits<int64_t>::max(),
                              std::numeric_limits<int64_t>::min() + 1,
                              123456789012345678};
  std::vector<int64_t> values(std::begin(extremes), std::end(extremes));
  for (int i = 0; i < 200; ++i) values.push_back(static_cast<int64_t>(random()) >> (random() % 60));
  for (size_t i = 0; i + 2 < values.size(); ++i) {
    const int64_t a = values[i], b = values[i + 1], d = values[i + 2] == 0 ? 7 : values[i + 2];
    const __int128 product = static_cast<__int128>(a) * b;
    const TInt128 p = TInt128::Mul(a, b);
    ASSERT_TRUE(Same(p, product)) << a << " * " << b;
    ASSERT_TRUE(Same(p - TInt128::Mul(d, 10000), product - static_cast<__int128>(d) * 10000));
    int64_t remainder = 0;
    ASSERT_TRUE(Same(p.DivMod(d, remainder), product / d)) << a << " * " << b << " / " << d;
    ASSERT_EQ(remainder, static_cast<int64_t>(product % d)) << a << " * " << b << " % " << d;
    ASSERT_EQ(p.FitsInt64(), product >= INT64_MIN && product <= INT64_MAX) << a << " * " << b;
  }
}

TEST(Int128, RoundsHalvesAwayFromZero) {
  EXPECT_EQ(TInt128(15000).DivRound(10000).ToInt64(), 2);
  EXPECT_EQ(TInt128(-15000).DivRound(10000).ToInt64(), -2);
  EXPECT_EQ(TInt128(14999).DivRound(10000).ToInt64(), 1);
  EXPECT_EQ(TInt128(-14999).DivRound(10000).ToInt64(), -1);
  EXPECT_TRUE(TInt128::Mul(INT64_MAX, 2).DivRound(2).FitsInt64());
  EXPECT_FALSE(TInt128::Mul(INT64_MAX, 2).FitsInt64());
}

}  // namespace
