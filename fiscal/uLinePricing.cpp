#include "fiscal/uLinePricing.h"

#include <limits>
#include <optional>

#include "common/uInt128.h"

namespace {

constexpr int64_t kKopeck = 100;  // a kopeck in four implied decimals
constexpr int64_t kUnit = 10000;  // one unit of quantity

bool Below(const TInt128& A, const TInt128& B) {
  return (A - B).Negative();
}

// A / B rounded up, for B > 0.
TInt128 CeilDiv(const TInt128& A, int64_t B) {
  int64_t rest = 0;
  const TInt128 quotient = A.DivMod(B, rest);
  return rest > 0 ? quotient + 1 : quotient;
}

// A two-decimal unit price (in kopecks) whose register sum for AQuantity is
// AKopecks. The register's sum is p x q / 10000 rounded halves up, so p
// gives the amount exactly when 10000 A - 5000 <= p x q < 10000 A + 5000.
std::optional<int64_t> ExactPrice(int64_t AQuantity, int64_t AKopecks, int64_t APreferred) {
  const TInt128 scaled = TInt128::Mul(AKopecks, kUnit);
  TInt128 low = CeilDiv(scaled - kUnit / 2, AQuantity);
  if (low.Negative()) low = 0;
  const TInt128 high = CeilDiv(scaled + kUnit / 2, AQuantity) - 1;
  if (Below(high, low)) return std::nullopt;
  TInt128 price = scaled.DivRound(AQuantity);
  if (APreferred >= 0 && APreferred % kKopeck == 0) {
    const TInt128 preferred = APreferred / kKopeck;
    if (!Below(preferred, low) && !Below(high, preferred)) price = preferred;
  }
  if (Below(price, low)) price = low;
  if (Below(high, price)) price = high;
  if (!price.FitsInt64() || price.ToInt64() > std::numeric_limits<int64_t>::max() / kKopeck)
    return std::nullopt;
  return price.ToInt64();
}

}  // namespace

bool RegisterItemSum(int64_t APrice, int64_t AQuantity, int64_t& ASum) {
  // The product has eight implied decimals, kopecks two of them.
  const TInt128 kopecks = TInt128::Mul(APrice, AQuantity).DivRound(kUnit * kUnit / kKopeck);
  if (!kopecks.FitsInt64() || kopecks.ToInt64() > std::numeric_limits<int64_t>::max() / kKopeck ||
      kopecks.ToInt64() < std::numeric_limits<int64_t>::min() / kKopeck)
    return false;
  ASum = kopecks.ToInt64() * kKopeck;
  return true;
}

TLinePlan PlanLine(int64_t AQuantity, int64_t AAmount, int64_t APreferred, bool ACanSplit,
                   bool ACanRequantify) {
  const int64_t kopecks = AAmount / kKopeck;
  if (const std::optional<int64_t> price = ExactPrice(AQuantity, kopecks, APreferred))
    return {TLineForm::Exact, {{AQuantity, *price * kKopeck}}};
  // Whole units sum without rounding: all but one unit at the amount's
  // share rounded down, the last one takes what is left.
  const int64_t units = AQuantity / kUnit;
  if (ACanSplit && AQuantity % kUnit == 0 && units >= 2) {
    const int64_t share = kopecks / units;
    const int64_t last = kopecks - (units - 1) * share;
    return {TLineForm::Split, {{(units - 1) * kUnit, share * kKopeck}, {kUnit, last * kKopeck}}};
  }
  if (ACanRequantify) return {TLineForm::OneUnit, {{kUnit, AAmount}}};
  // A measured quantity above one unit that no price fits (2.5 kg for 25.01)
  // may not become one renamed unit, and refusing it would refuse most
  // weighed lines of a receipt with a spread discount. The last unit takes
  // any kopeck, so: all but one unit at the amount's share rounded down, the
  // last unit the rest.
  if (ACanSplit && AQuantity > kUnit) {
    const int64_t rest = AQuantity - kUnit;
    int64_t remainder = 0;
    const TInt128 share = TInt128::Mul(kopecks, kUnit).DivMod(AQuantity, remainder);
    int64_t first = 0;
    if (share.FitsInt64() && share.ToInt64() <= std::numeric_limits<int64_t>::max() / kKopeck &&
        RegisterItemSum(share.ToInt64() * kKopeck, rest, first))
      return {TLineForm::Split,
              {{rest, share.ToInt64() * kKopeck}, {kUnit, AAmount / kKopeck * kKopeck - first}}};
  }
  return {};
}
