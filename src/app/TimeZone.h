#pragma once
// Time zones read from the system's zone database (the TZif files under /usr/share/zoneinfo, or
// $TZDIR), without touching the process's environment: switching TZ to convert would race every
// other thread that reads the local time, such as the web server's request threads.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "vb/Date.h"

namespace app {

/// One zone's offsets from UTC over time: its recorded transitions and, beyond the last of
/// them, the rule of the file's footer (the zone's daylight-saving rule).
class TimeZone {
 public:
  /// Reads the zone named (an IANA name such as "Europe/Berlin"). Raises kInvalidInput naming
  /// the setting TimeZone for a name that is not a zone of the database or a file that is not
  /// one.
  [[nodiscard]] static TimeZone Load(std::string_view name);
  /// Whether name is a zone the database holds.
  [[nodiscard]] static bool Exists(std::string_view name);

  /// Seconds east of UTC at the instant unixSeconds.
  [[nodiscard]] int32_t OffsetAt(int64_t unixSeconds) const;
  /// The zone's wall-clock time at the instant unixSeconds.
  [[nodiscard]] vb::Date LocalTime(int64_t unixSeconds) const;

  /// The daylight-saving rule of a footer such as "CET-1CEST,M3.5.0,M10.5.0/3".
  struct Rule {
    int32_t standard = 0;  ///< seconds east of UTC
    int32_t daylight = 0;
    bool hasDaylight = false;
    /// Start and end of daylight time: kind 'M' (month, week, weekday), 'J' (day 1-365, no
    /// 29 February) or 'D' (day 0-365); at seconds after local midnight.
    struct When {
      char kind = 'M';
      int month = 0, week = 0, day = 0;
      int32_t seconds = 2 * 3600;
    } start, end;
  };
  /// Reads a footer rule; false when it is not one this reader understands.
  [[nodiscard]] static bool ParseRule(std::string_view text, Rule& rule);
  /// Seconds east of UTC that rule gives at unixSeconds.
  [[nodiscard]] static int32_t OffsetOf(const Rule& rule, int64_t unixSeconds);

 private:
  std::vector<int64_t> transitions_;
  std::vector<uint8_t> typeOf_;   ///< the offset index in force from each transition
  std::vector<int32_t> offsets_;  ///< seconds east of UTC of each local time type
  Rule rule_;
  bool hasRule_ = false;
};

/// The instant (seconds since 1970 UTC) of a wall-clock time of the server's own zone. The C
/// library reads the server's zone without changing it, so this is safe from any thread.
[[nodiscard]] int64_t InstantOfServerTime(const vb::Date& local);

}  // namespace app
