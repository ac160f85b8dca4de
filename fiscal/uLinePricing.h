// How one receipt line reaches the register's item command. The command
// carries a unit price and a quantity but no amount: the register makes the
// line's sum itself, unit price x quantity rounded to kopecks, halves up. A
// line whose amount the host spread a discount over (3 for 100.00) has no
// such unit price, so it goes out in the form whose register sum is exactly
// the host's amount.
//
// Quantities, prices and amounts have four implied decimals, like all money
// here; the prices planned are whole kopecks.
#pragma once

#include <cstdint>
#include <vector>

// The register's sum of one item command: APrice x AQuantity rounded to
// kopecks, halves up; false when it leaves the 64-bit range.
bool RegisterItemSum(int64_t APrice, int64_t AQuantity, int64_t& ASum);

// One item command of a line: a quantity at a unit price.
struct TLinePart {
  int64_t Quantity = 0;
  int64_t Price = 0;
  friend bool operator==(const TLinePart&, const TLinePart&) = default;
};

enum class TLineForm {
  Exact,      // one command: the quantity at a two-decimal price
  Split,      // quantity - 1 at one price, then 1 carrying the rest
  OneUnit,    // one unit at the whole amount; the name must carry the quantity
  Impossible  // only OneUnit would do, and the caller may not change the quantity
};

struct TLinePlan {
  TLineForm Form = TLineForm::Impossible;
  std::vector<TLinePart> Parts;
};

// The commands for AQuantity (positive) for AAmount (whole kopecks, not
// negative), in this order of preference: APreferred when it is a two-decimal
// price that gives the amount, else the two-decimal price nearest the exact
// unit price that does; for a whole quantity of 2 or more, when ACanSplit, a
// split; else, when ACanRequantify, one unit; else, when ACanSplit, a split
// of any quantity above one unit (the last unit carries the rest).
TLinePlan PlanLine(int64_t AQuantity, int64_t AAmount, int64_t APreferred, bool ACanSplit,
                   bool ACanRequantify);
