// Zone offsets read from the system's zone files, checked against known instants: the recorded
// changes, the footer rule beyond them (both hemispheres), zones without daylight time, and
// names that are not zones.
#include "app/TimeZone.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "vb/ComError.h"

namespace app {
namespace {

TEST(TimeZone, OffsetsMatchTheZoneDatabaseOnBothSidesOfEachChange) {
  struct Case {
    std::string zone;
    int64_t instant;
    int32_t offset;
  };
  const std::vector<Case> cases = {
      {"Europe/Berlin", 1711846799, 3600},  // 2024-03-31 00:59:59 UTC, recorded change
      {"Europe/Berlin", 1711846800, 7200},
      {"Europe/Berlin", 1729990799, 7200},
      {"Europe/Berlin", 1729990800, 3600},
      {"Europe/Berlin", 2531955599, 3600},  // 2050: the footer rule
      {"Europe/Berlin", 2531955600, 7200},
      {"Europe/Berlin", 2550704400, 3600},
      {"Pacific/Auckland", 2532520799, 46800},  // southern summer spans the new year
      {"Pacific/Auckland", 2532520800, 43200},
      {"Pacific/Auckland", 2547640799, 43200},
      {"Pacific/Auckland", 2547640800, 46800},
      {"America/New_York", 2867032799, -14400},  // 2060, first Sunday of November
      {"America/New_York", 2867032800, -18000},
      {"Asia/Kolkata", 2524608000, 19800},  // "<+0530>"-style half hours, no daylight time
      {"Pacific/Kiritimati", 0, -38400},    // before its jump across the date line
      {"Pacific/Kiritimati", 1710460800, 50400},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(TimeZone::Load(c.zone).OffsetAt(c.instant), c.offset) << c.zone << ' ' << c.instant;
  }
  // 2024-03-14 11:30 UTC is already the 15th in Auckland.
  EXPECT_EQ(TimeZone::Load("Pacific/Auckland").LocalTime(1710415800),
            vb::Date::FromParts(2024, 3, 15, 0, 30, 0));
}

TEST(TimeZone, RefusesWhatIsNoZoneAndRulesItCannotRead) {
  for (const char* name : {"Mars/Olympus", "../../etc/passwd", "/etc/localtime", ""}) {
    EXPECT_FALSE(TimeZone::Exists(name)) << name;
    EXPECT_THROW((void)TimeZone::Load(name), vb::ComError) << name;
  }
  TimeZone::Rule rule;
  EXPECT_TRUE(TimeZone::ParseRule("<+0530>-5:30", rule));
  EXPECT_EQ(rule.standard, 19800);
  for (const char* text : {"CET-1CEST,M3.5.0", "CET-1CEST,M13.5.0,M10.5.0", "C-1", "CET"}) {
    EXPECT_FALSE(TimeZone::ParseRule(text, rule)) << text;
  }
}

}  // namespace
}  // namespace app
