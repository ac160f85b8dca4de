#include "common/uClock.h"

#include <gtest/gtest.h>

TEST(DateTime, ValidatesCalendarDates) {
  EXPECT_TRUE(TDateTime::IsValidDate(2024, 2, 29));
  EXPECT_FALSE(TDateTime::IsValidDate(2023, 2, 29));
  EXPECT_FALSE(TDateTime::IsValidDate(2024, 2, 31));
  EXPECT_FALSE(TDateTime::IsValidDate(2024, 13, 1));
  EXPECT_TRUE(TDateTime::IsValidTime(23, 59, 59));
  EXPECT_FALSE(TDateTime::IsValidTime(24, 0, 0));
}

TEST(DateTime, AddsSecondsAcrossYearEnd) {
  const TDateTime t{2024, 12, 31, 23, 59, 30, 0};
  EXPECT_EQ(t.AddSeconds(45), (TDateTime{2025, 1, 1, 0, 0, 15, 0}));
  EXPECT_EQ(t.ToXml(), "2024-12-31T23:59:30");
}

TEST(ManualClock, SleepingMovesBothClocksAndCounts) {
  TManualClock clock({2024, 3, 5, 23, 59, 59, 900});
  TScopedClock scope(clock);
  const auto before = Clock().SteadyNow();
  Clock().Sleep(std::chrono::milliseconds(250));
  EXPECT_EQ(Clock().SteadyNow() - before, std::chrono::milliseconds(250));
  EXPECT_EQ(Clock().LocalNow(), (TDateTime{2024, 3, 6, 0, 0, 0, 150}));
  EXPECT_EQ(clock.Slept(), std::chrono::milliseconds(250));
}

TEST(Calendar, DayNumbersRoundTripAcrossLeapDaysAndCenturies) {
  EXPECT_EQ(DaysFromCivil(1970, 1, 1), 0);
  EXPECT_EQ(DaysFromCivil(2000, 3, 1) - DaysFromCivil(2000, 2, 28), 2) << "2000 is a leap year";
  EXPECT_EQ(DaysFromCivil(2100, 3, 1) - DaysFromCivil(2100, 2, 28), 1) << "2100 is not";
  for (int64_t z : {-1, 0, 11016, 19787, 47540}) {
    int y, m, d;
    CivilFromDays(z, y, m, d);
    EXPECT_EQ(DaysFromCivil(y, m, d), z);
  }
}
