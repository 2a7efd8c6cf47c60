#include "message/utc_date_time.h"

#include <gtest/gtest.h>

namespace drovanta {
namespace {

TEST(UtcDateTime, FieldsOfTheEpochRangeEndsAndLeapDays) {
  const UtcDateTime epoch = UtcDateTimeFromSeconds(0);
  EXPECT_EQ(epoch.year, 1970);
  EXPECT_EQ(epoch.weekday, 4);  // a Thursday

  const UtcDateTime first = UtcDateTimeFromSeconds(kFirstUtcSecond);
  EXPECT_EQ(first.year, 1);
  EXPECT_EQ(first.month, 1);
  EXPECT_EQ(first.day, 1);
  EXPECT_EQ(first.weekday, 1);  // 1 January of year 1 was a Monday in the proleptic calendar

  const UtcDateTime last = UtcDateTimeFromSeconds(kLastUtcSecond);
  EXPECT_EQ(last.year, 9999);
  EXPECT_EQ(last.month, 12);
  EXPECT_EQ(last.day, 31);
  EXPECT_EQ(last.hour, 23);
  EXPECT_EQ(last.minute, 59);
  EXPECT_EQ(last.second, 59);
  EXPECT_EQ(last.weekday, 5);

  // One second before the epoch is the last second of 1969, not a negative time of day.
  const UtcDateTime before = UtcDateTimeFromSeconds(-1);
  EXPECT_EQ(before.year, 1969);
  EXPECT_EQ(before.day, 31);
  EXPECT_EQ(before.hour, 23);
  EXPECT_EQ(before.second, 59);

  const std::int64_t leapDay = SecondsSinceEpoch(2024, 2, 29, 12, 0, 0);
  const UtcDateTime leap = UtcDateTimeFromSeconds(leapDay + 12 * 3600);
  EXPECT_EQ(leap.month, 3);
  EXPECT_EQ(leap.day, 1);
  EXPECT_EQ(leap.weekday, 5);
  EXPECT_EQ(SecondsSinceEpoch(1, 1, 1, 0, 0, 0), kFirstUtcSecond);
}

TEST(UtcDateTime, OnlyRealCalendarDatesExist) {
  EXPECT_TRUE(IsCalendarDate(2024, 2, 29));
  EXPECT_TRUE(IsCalendarDate(2000, 2, 29));
  EXPECT_FALSE(IsCalendarDate(1900, 2, 29));
  EXPECT_FALSE(IsCalendarDate(2023, 2, 29));
  EXPECT_FALSE(IsCalendarDate(2024, 4, 31));
  EXPECT_FALSE(IsCalendarDate(2024, 13, 1));
  EXPECT_FALSE(IsCalendarDate(2024, 0, 1));
  EXPECT_FALSE(IsCalendarDate(2024, 1, 0));
}

}  // namespace
}  // namespace drovanta
