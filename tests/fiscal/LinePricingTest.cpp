// How a line's amount becomes item commands: the edges no scenario reaches
// cheaply (zero amounts, the smallest quantity, prices past 64 bits).
#include <gtest/gtest.h>

#include "fiscal/uLinePricing.h"

namespace {

using TParts = std::vector<TLinePart>;

TEST(LinePricingTest, TheRegistersSumRoundsHalvesUp) {
  int64_t sum = 0;
  ASSERT_TRUE(RegisterItemSum(333300, 15000, sum));
  EXPECT_EQ(sum, 500000) << "1.5 x 33.33 = 49.995";
  ASSERT_TRUE(RegisterItemSum(1999000, 3470, sum));
  EXPECT_EQ(sum, 693700) << "0.347 x 199.90 = 69.3653";
  EXPECT_FALSE(RegisterItemSum(INT64_MAX, INT64_MAX, sum));
}

TEST(LinePricingTest, EachFormInItsTurn) {
  // A price that gives the amount is preferred; else the nearest that does.
  EXPECT_EQ(PlanLine(15000, 500000, 333300, true, true).Parts, (TParts{{15000, 333300}}));
  EXPECT_EQ(PlanLine(15000, 500000, 333400, true, true).Parts, (TParts{{15000, 333300}}));
  EXPECT_EQ(PlanLine(15000, 500000, 333350, true, true).Parts, (TParts{{15000, 333300}}))
      << "a preferred price in fractions of a kopeck is not sent";
  EXPECT_EQ(PlanLine(30000, 0, 0, true, true).Parts, (TParts{{30000, 0}})) << "a free line";
  EXPECT_EQ(PlanLine(1, 100, 0, true, true).Parts, (TParts{{1, 1000000}}))
      << "0.0001 x 100.00 is one kopeck";
  EXPECT_EQ(PlanLine(10000, 123400, 0, false, false).Form, TLineForm::Exact)
      << "one unit always has its price";

  const TLinePlan split = PlanLine(100000, 500, 0, true, true);
  EXPECT_EQ(split.Form, TLineForm::Split);
  EXPECT_EQ(split.Parts, (TParts{{90000, 0}, {10000, 500}})) << "10 for 0.05";
  EXPECT_EQ(PlanLine(100000, 500, 0, false, true).Form, TLineForm::OneUnit);
  // A measured line may not be renamed: 2.5 kg for 25.01 is 1.5 kg at 10.00
  // (15.00) and the last kilogram at 10.01; 1.337 kg for 10.02 (7.49 gives
  // 10.01, 7.50 gives 10.03) is 0.337 kg at 7.49 (2.52413) and 1 kg at 7.50.
  EXPECT_EQ(PlanLine(25000, 250100, 0, true, false).Parts,
            (TParts{{15000, 100000}, {10000, 100100}}));
  EXPECT_EQ(PlanLine(13370, 100200, 0, true, false).Parts, (TParts{{3370, 74900}, {10000, 75000}}));
  EXPECT_EQ(PlanLine(25000, 250100, 0, false, false).Form, TLineForm::Impossible) << "marked";
  EXPECT_EQ(PlanLine(100000, 500, 0, false, false).Form, TLineForm::Impossible);
  // A price past 64 bits is no price: 0.0001 units for 9e14 rubles.
  EXPECT_EQ(PlanLine(1, 9000000000000000000, 0, true, true).Form, TLineForm::OneUnit);
}

}  // namespace
