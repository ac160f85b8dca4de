// An exact signed 128-bit integer for money arithmetic whose intermediate
// products pass 64 bits (a quantity times a price, both with four implied
// decimals). The 32-bit Windows build has no __int128, so the few operations
// needed are written out here, the same on every target.
#pragma once

#include <cstdint>

class TInt128 {
 public:
  TInt128() = default;
  TInt128(int64_t AValue)  // NOLINT: widening is always exact
      : FLo(static_cast<uint64_t>(AValue)), FHi(AValue < 0 ? ~uint64_t(0) : 0) {}

  // A * B, exactly.
  static TInt128 Mul(int64_t A, int64_t B);

  TInt128 operator-() const;
  friend TInt128 operator+(const TInt128& A, const TInt128& B);
  friend TInt128 operator-(const TInt128& A, const TInt128& B) { return A + -B; }

  // Quotient truncated toward zero and the remainder with the dividend's sign,
  // as C++ divides; ADivisor must not be 0.
  TInt128 DivMod(int64_t ADivisor, int64_t& ARemainder) const;
  // Divided by a positive divisor, halves away from zero.
  TInt128 DivRound(int64_t ADivisor) const;

  bool Negative() const { return static_cast<int64_t>(FHi) < 0; }
  bool FitsInt64() const { return FHi == (static_cast<int64_t>(FLo) < 0 ? ~uint64_t(0) : 0); }
  // Only meaningful when FitsInt64().
  int64_t ToInt64() const { return static_cast<int64_t>(FLo); }

  friend bool operator==(const TInt128& A, const TInt128& B) = default;

 private:
  TInt128(uint64_t ALo, uint64_t AHi) : FLo(ALo), FHi(AHi) {}
  uint64_t FLo = 0;
  uint64_t FHi = 0;
};
