#include "common/uInt128.h"

namespace {

uint64_t Magnitude(int64_t AValue) {
  return AValue < 0 ? ~static_cast<uint64_t>(AValue) + 1 : static_cast<uint64_t>(AValue);
}

}  // namespace

TInt128 TInt128::Mul(int64_t A, int64_t B) {
  const uint64_t a = Magnitude(A), b = Magnitude(B);
  // Schoolbook product of 32-bit halves.
  const uint64_t aLo = a & 0xFFFFFFFFu, aHi = a >> 32, bLo = b & 0xFFFFFFFFu, bHi = b >> 32;
  const uint64_t ll = aLo * bLo, lh = aLo * bHi, hl = aHi * bLo, hh = aHi * bHi;
  const uint64_t middle = (ll >> 32) + (lh & 0xFFFFFFFFu) + (hl & 0xFFFFFFFFu);
  TInt128 product((middle << 32) | (ll & 0xFFFFFFFFu),
                  hh + (lh >> 32) + (hl >> 32) + (middle >> 32));
  return (A < 0) != (B < 0) ? -product : product;
}

TInt128 TInt128::operator-() const {
  const uint64_t lo = ~FLo + 1;
  return TInt128(lo, ~FHi + (lo == 0 ? 1 : 0));
}

TInt128 operator+(const TInt128& A, const TInt128& B) {
  const uint64_t lo = A.FLo + B.FLo;
  return TInt128(lo, A.FHi + B.FHi + (lo < A.FLo ? 1 : 0));
}

TInt128 TInt128::DivMod(int64_t ADivisor, int64_t& ARemainder) const {
  const bool negative = Negative();
  const TInt128 dividend = negative ? -*this : *this;
  const uint64_t divisor = Magnitude(ADivisor);
  // Long division, one bit at a time; the remainder stays below the divisor
  // (at most 2^63), so doubling it never overflows.
  uint64_t lo = 0, hi = 0, remainder = 0;
  for (int bit = 127; bit >= 0; --bit) {
    const uint64_t next = bit >= 64 ? (dividend.FHi >> (bit - 64)) & 1 : (dividend.FLo >> bit) & 1;
    remainder = (remainder << 1) | next;
    if (remainder >= divisor) {
      remainder -= divisor;
      if (bit >= 64)
        hi |= uint64_t(1) << (bit - 64);
      else
        lo |= uint64_t(1) << bit;
    }
  }
  TInt128 quotient(lo, hi);
  if (negative != (ADivisor < 0)) quotient = -quotient;
  ARemainder = negative ? -static_cast<int64_t>(remainder) : static_cast<int64_t>(remainder);
  return quotient;
}

TInt128 TInt128::DivRound(int64_t ADivisor) const {
  int64_t ignored = 0;
  const TInt128 magnitude = Negative() ? -*this : *this;
  const TInt128 q = (magnitude + TInt128(ADivisor / 2)).DivMod(ADivisor, ignored);
  return Negative() ? -q : q;
}
