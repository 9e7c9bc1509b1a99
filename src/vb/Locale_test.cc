#include "vb/Locale.h"

#include <gtest/gtest.h>

#include "vb/ComError.h"

namespace vb {
namespace {

const Date kAfternoon = Date::FromParts(2025, 1, 2, 15, 4, 5);

TEST(LocaleFormatDate, ShortDateThenTimeOnlyWhenNotMidnight) {
  EXPECT_EQ(Locale::EnUS().FormatDate(kAfternoon), "1/2/2025 3:04:05 PM");
  EXPECT_EQ(Locale::EnGB().FormatDate(kAfternoon), "02/01/2025 15:04:05");
  EXPECT_EQ(Locale::EnUS().FormatDate(kAfternoon.DateOnly()), "1/2/2025");
  EXPECT_EQ(Locale::EnUS().FormatDate(Date::FromParts(2025, 1, 2, 0, 0, 1)),
            "1/2/2025 12:00:01 AM");
  EXPECT_EQ(Locale::EnUS().FormatDate(Date::FromParts(2025, 1, 2, 12, 30, 0)),
            "1/2/2025 12:30:00 PM");
  EXPECT_EQ(Locale::EnUS().FormatShortDate(Date::FromParts(999, 10, 11)), "10/11/0999");
  // Day zero has no day part: only its time is written.
  EXPECT_EQ(Locale::EnUS().FormatDate(Date()), "12:00:00 AM");
  EXPECT_EQ(Locale::EnUS().FormatDate(Date::FromSerial(0.75)), "6:00:00 PM");
  EXPECT_EQ(Locale::EnUS().FormatDate(Date::FromSerial(1.0)), "12/31/1899");
}

TEST(LocalePattern, FollowsTheFieldsAndSeparatorItNames) {
  const Locale german("dd.MM.yy");
  EXPECT_EQ(german.FormatDate(kAfternoon), "02.01.25 15:04:05");
  EXPECT_EQ(german.ParseDate("2.1.25"), kAfternoon.DateOnly());
  EXPECT_EQ(Locale("yyyy-M-d").FormatShortDate(kAfternoon), "2025-1-2");
  for (const char* bad : {"", "d/M", "d/M/y", "d/M/yyy", "dd/MM-yyyy", "d/d/yyyy", "d/M/yyyy ",
                          "ddd/M/yyyy", "M d yyyy"}) {
    EXPECT_THROW(Locale{bad}, ComError) << bad;
  }
}

TEST(LocaleParseDate, ReadsTheLocaleOrderWithOptionalTime) {
  const Locale& us = Locale::EnUS();
  EXPECT_EQ(us.ParseDate("1/2/2025"), kAfternoon.DateOnly());
  EXPECT_EQ(us.ParseDate(" 01/02/2025 "), kAfternoon.DateOnly());
  EXPECT_EQ(us.ParseDate("1/2/2025 3:04:05 PM"), kAfternoon);
  EXPECT_EQ(us.ParseDate("1/2/2025 15:04:05"), kAfternoon);
  EXPECT_EQ(us.ParseDate("1/2/2025 12:15 am"), Date::FromParts(2025, 1, 2, 0, 15, 0));
  EXPECT_EQ(Locale::EnGB().ParseDate("02/01/2025 15:04:05"), kAfternoon);
  EXPECT_EQ(Locale::EnGB().ParseDate("2025-01-02 15:04:05"), kAfternoon);
  EXPECT_EQ(us.ParseDate("2025-01-02"), kAfternoon.DateOnly());
  // Two-digit years pivot at 30.
  EXPECT_EQ(us.ParseDate("1/2/29")->Year(), 2029);
  EXPECT_EQ(us.ParseDate("1/2/30")->Year(), 1930);
  EXPECT_EQ(us.ParseDate("1/2/00")->Year(), 2000);
}

TEST(LocaleParseDate, RejectsInvalidDaysAndMalformedText) {
  const Locale& us = Locale::EnUS();
  for (const char* bad : {"2/30/2025", "13/1/2025", "0/1/2025", "1/2/025", "1/2/20255", "1/2",
                          "1-2-2025", "1/2/2025 25:00", "1/2/2025 13:00 PM", "1/2/2025 0:00 AM",
                          "1/2/2025 3:4", "1/2/2025 3:04 XM", "1/2/2025x", "", "abc"}) {
    EXPECT_FALSE(us.ParseDate(bad)) << bad;
  }
  EXPECT_FALSE(Locale::EnGB().ParseDate("1/13/2025"));
  EXPECT_TRUE(Locale::EnGB().ParseDate("13/1/2025"));
}

}  // namespace
}  // namespace vb
