// TInt128 against the compiler's own 128-bit integer, which the 32-bit
// Windows build lacks: products past 64 bits, C++ division and remainder
// signs, rounding halves away from zero, and the int64 range check.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <type_traits>
#include <limits>
#include <random>

#include "common/uInt128.h"

namespace {

// The value as the compiler's integer, read from the two 64-bit halves as
// they lie in memory (low half first on this target): no operation of the
// class takes part in checking it.
__int128 AsCompilers(const TInt128& A) {
  static_assert(sizeof(TInt128) == sizeof(__int128) && std::is_trivially_copyable_v<TInt128>);
  __int128 value = 0;
  std::memcpy(&value, &A, sizeof value);
  return value;
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
    ASSERT_TRUE(AsCompilers(p) == product) << a << " * " << b;
    ASSERT_TRUE(AsCompilers(p - TInt128::Mul(d, 10000)) ==
                product - static_cast<__int128>(d) * 10000);
    int64_t remainder = 0;
    ASSERT_TRUE(AsCompilers(p.DivMod(d, remainder)) == product / d)
        << a << " * " << b << " / " << d;
    ASSERT_EQ(remainder, static_cast<int64_t>(product % d)) << a << " * " << b << " % " << d;
    ASSERT_EQ(p.FitsInt64(), product >= INT64_MIN && product <= INT64_MAX) << a << " * " << b;
  }
}

TEST(Int128, RoundsHalvesAwayFromZero) {
  EXPECT_EQ(TInt128(15000).DivRound(10000).ToInt64(), 2);
  EXPECT_EQ(TInt128(-15000).DivRound(10000).ToInt64(), -2);
  EXPECT_EQ(TInt128(14999).DivRound(10000).ToInt64(), 1);
  EXPECT_EQ(TInt128(-14999).DivRound(10000).ToInt64(), -1);
  EXPECT_TRUE(AsCompilers(TInt128::Mul(INT64_MAX, 3).DivRound(2)) ==
              static_cast<__int128>(INT64_MAX) * 3 / 2 + 1)
      << "an odd product's half rounds up past 64 bits";
  EXPECT_TRUE(TInt128::Mul(INT64_MAX, 2).DivRound(2).FitsInt64());
  EXPECT_FALSE(TInt128::Mul(INT64_MAX, 2).FitsInt64());
}

}  // namespace
