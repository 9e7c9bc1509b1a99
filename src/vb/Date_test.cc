#include "vb/Date.h"

#include <cmath>

#include <gtest/gtest.h>

#include "vb/ComError.h"
#include "vb/testing/ErrorOf.h"

namespace vb {
namespace {

TEST(DateSerial, CountsDaysFromTheLastDaysOf1899WithTheTimeOfDayAdded) {
  EXPECT_EQ(Date::FromParts(1899, 12, 30).Serial(), 0.0);
  EXPECT_EQ(Date::FromParts(1900, 1, 1).Serial(), 2.0);
  EXPECT_EQ(Date::FromParts(2025, 1, 2, 15, 0, 0).Serial(), 45659.625);
  EXPECT_EQ(Date::FromParts(1970, 1, 1).Serial(), 25569.0);
  // Before day zero a serial's whole days count back and its fraction adds the time of day.
  const Date d = Date::FromSerial(-1.25);
  EXPECT_EQ(d.ToIso(), "1899-12-29 06:00:00");
  EXPECT_EQ(Date::FromParts(1899, 12, 29, 6, 0, 0).Serial(), -1.25);
  EXPECT_EQ(Date::FromSerial(-0.5).ToIso(), "1899-12-30 12:00:00");
  EXPECT_EQ(d.DateOnly().Serial(), -1.0);
  EXPECT_EQ(d.AddDays(2).ToIso(), "1899-12-31 06:00:00");
  EXPECT_EQ(Date::FromParts(100, 1, 1).Serial(), -657434.0);
}

TEST(DateParts, RoundToTheNearestSecondAcrossMidnight) {
  const Date d = Date::FromSerial(45658.0 + 86399.6 / 86400);
  EXPECT_EQ(d.ToIso(), "2025-01-02 00:00:00");
  EXPECT_FALSE(d.HasTime());
  EXPECT_EQ(Date::FromSerial(45658.0 + 1.4 / 86400).Second(), 1);
}

TEST(DateFromParts, RejectsInvalidDaysWithError5) {
  EXPECT_EQ(testing::ErrorOf([] { (void)Date::FromParts(2025, 2, 29); }).number(),
            kInvalidProcedureCall);
  EXPECT_NO_THROW((void)Date::FromParts(2024, 2, 29));
  EXPECT_FALSE(Date::TryFromParts(2025, 13, 1));
  EXPECT_FALSE(Date::TryFromParts(2025, 1, 1, 24));
  EXPECT_FALSE(Date::TryFromParts(99, 1, 1));
  EXPECT_FALSE(Date::TryFromParts(10000, 1, 1));
}

TEST(DateArithmetic, AddDaysKeepsTimeAndDaysUntilCountsCalendarDays) {
  const Date evening = Date::FromParts(2024, 2, 28, 23, 30, 0);
  EXPECT_EQ(evening.AddDays(2).ToIso(), "2024-03-01 23:30:00");
  EXPECT_EQ(evening.AddDays(-59).ToIso(), "2023-12-31 23:30:00");
  const Date nextMorning = Date::FromParts(2024, 2, 29, 0, 10, 0);
  EXPECT_EQ(evening.DaysUntil(nextMorning), 1);
  EXPECT_EQ(nextMorning.DaysUntil(evening), -1);
  EXPECT_EQ(Date::FromSerial(-1.75).DaysUntil(Date::FromSerial(0.1)), 1);
}

TEST(DateIso, ReadsTheFormsTheLibraryWritesAndRejectsOthers) {
  EXPECT_EQ(Date::FromIso("2025-01-02").ToIso(), "2025-01-02 00:00:00");
  EXPECT_EQ(Date::FromIso("2025-01-02 03:04:05").ToIso(), "2025-01-02 03:04:05");
  EXPECT_EQ(Date::FromIso("2025-01-02T03:04:05.5").ToIso(), "2025-01-02 03:04:06");
  EXPECT_EQ(Date::FromIso("2025-12-31 23:59:59.9").ToIso(), "2026-01-01 00:00:00");
  EXPECT_EQ(Date::FromIso("0100-01-01T00:00:00").ToIso(), "0100-01-01 00:00:00");
  for (const char* bad :
       {"2025-1-02", "2025-02-30", "2025-01-02 3:04:05", "2025-01-02 03:04", "2025-01-02 ",
        "2025-01-02 03:04:05.", "", "20250102", "2025-13-02", "2025-00-02", "0099-12-31",
        "2025-01-02 24:00:00", "2025-01-02 23:60:00", "2025-01-02x03:04:05", "2025-0a-02",
        "2025-01-02 03-04-05", "-025-01-02"}) {
    EXPECT_FALSE(Date::TryFromIso(bad)) << bad;
  }
  EXPECT_EQ(testing::ErrorOf([] { (void)Date::FromIso("x"); }).number(), kTypeMismatch);
}

TEST(DateValidSerial, CoversYears100To9999) {
  EXPECT_TRUE(Date::IsValidSerial(-657434.5));
  EXPECT_FALSE(Date::IsValidSerial(-657435.0));
  EXPECT_TRUE(Date::IsValidSerial(2958465.99998));
  EXPECT_FALSE(Date::IsValidSerial(2958465.999999999));  // rounds into year 10000
  EXPECT_FALSE(Date::IsValidSerial(std::nan("")));
}

}  // namespace
}  // namespace vb
