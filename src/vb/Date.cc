#include "vb/Date.h"

#include <chrono>
#include <cmath>

#include "vb/ComError.h"
#include "vb/TextScan.h"

namespace vb {
namespace {

using std::chrono::days;
using std::chrono::sys_days;
using std::chrono::year_month_day;

constexpr int64_t kSecondsPerDay = 86400;
// Day numbers of 1 Jan 100 and 31 Dec 9999, the host's range.
constexpr int64_t kFirstDay = -657434;
constexpr int64_t kLastDay = 2958465;

constexpr sys_days kDayZero = sys_days{std::chrono::year{1899} / 12 / 30};

// A moment split into its day number and the second of that day, to the nearest second.
struct Moment {
  int64_t day;
  int64_t second;
};

int64_t FloorDiv(int64_t a, int64_t b) { return a / b - (a % b != 0 && (a < 0) != (b < 0)); }

// Seconds on a straight time line from day zero: the serial's whole part counts days and its
// fraction, whatever the sign, adds the time of day.
Moment FromTimeline(int64_t seconds) {
  const int64_t day = FloorDiv(seconds, kSecondsPerDay);
  return {day, seconds - day * kSecondsPerDay};
}

Moment Split(double serial) {
  const double whole = std::trunc(serial);
  const auto timeOfDay = std::llround(std::fabs(serial - whole) * kSecondsPerDay);
  return FromTimeline(static_cast<int64_t>(whole) * kSecondsPerDay + timeOfDay);
}

double Join(Moment m) {
  const double fraction = static_cast<double>(m.second) / kSecondsPerDay;
  const auto day = static_cast<double>(m.day);
  return m.day >= 0 ? day + fraction : day - fraction;
}

year_month_day Civil(int64_t day) { return year_month_day{kDayZero + days{day}}; }

std::optional<Moment> MomentOf(int year, int month, int day, int hour, int minute, int second) {
  if (year < 100 || year > 9999 || month < 1 || month > 12 || day < 1) return std::nullopt;
  if (hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 59) {
    return std::nullopt;
  }
  const year_month_day ymd{std::chrono::year{year},
                           std::chrono::month{static_cast<unsigned>(month)},
                           std::chrono::day{static_cast<unsigned>(day)}};
  if (!ymd.ok()) return std::nullopt;
  return Moment{(sys_days{ymd} - kDayZero).count(), hour * 3600 + minute * 60 + second};
}

// The number written in count digits at text[at], or -1 when one of them is not a digit.
int DigitsAt(std::string_view text, std::size_t at, std::size_t count) {
  int value = 0;
  for (std::size_t i = at; i < at + count; ++i) {
    if (text[i] < '0' || text[i] > '9') return -1;
    value = value * 10 + (text[i] - '0');
  }
  return value;
}

// The two forms the engines hand back, "yyyy-mm-dd" and "yyyy-mm-dd hh:mm:ss", read at their
// fixed places (a list reads thousands of them); nullopt for any other text.
std::optional<Moment> FixedIsoMoment(std::string_view text) {
  constexpr std::size_t kDateOnly = 10;
  constexpr std::size_t kDateTime = 19;
  if (text.size() != kDateOnly && text.size() != kDateTime) return std::nullopt;
  if (text[4] != '-' || text[7] != '-') return std::nullopt;
  int hour = 0, minute = 0, second = 0;
  if (text.size() == kDateTime) {
    if ((text[10] != ' ' && text[10] != 'T') || text[13] != ':' || text[16] != ':') {
      return std::nullopt;
    }
    hour = DigitsAt(text, 11, 2);
    minute = DigitsAt(text, 14, 2);
    second = DigitsAt(text, 17, 2);
  }
  // A part that is not digits is -1, which MomentOf refuses.
  return MomentOf(DigitsAt(text, 0, 4), DigitsAt(text, 5, 2), DigitsAt(text, 8, 2), hour, minute,
                  second);
}

}  // namespace

Date Date::FromParts(int year, int month, int day, int hour, int minute, int second) {
  const auto date = TryFromParts(year, month, day, hour, minute, second);
  if (!date) throw ComError::Runtime(kInvalidProcedureCall);
  return *date;
}

std::optional<Date> Date::TryFromParts(int year, int month, int day, int hour, int minute,
                                       int second) {
  const auto moment = MomentOf(year, month, day, hour, minute, second);
  if (!moment) return std::nullopt;
  return Date(Join(*moment));
}

Date Date::FromIso(std::string_view text) {
  const auto date = TryFromIso(text);
  if (!date) throw ComError::Runtime(kTypeMismatch);
  return *date;
}

std::optional<Date> Date::TryFromIso(std::string_view text) {
  if (const auto moment = FixedIsoMoment(text)) return Date(Join(*moment));
  TextScan scan(text);
  const auto year = scan.TakeNumber(4, 4);
  if (!year || !scan.Take('-')) return std::nullopt;
  const auto month = scan.TakeNumber(2, 2);
  if (!month || !scan.Take('-')) return std::nullopt;
  const auto day = scan.TakeNumber(2, 2);
  if (!day) return std::nullopt;
  std::optional<int> hour = 0, minute = 0, second = 0;
  bool roundUp = false;
  if (scan.Take(' ') || scan.Take('T')) {
    hour = scan.TakeNumber(2, 2);
    if (!hour || !scan.Take(':')) return std::nullopt;
    minute = scan.TakeNumber(2, 2);
    if (!minute || !scan.Take(':')) return std::nullopt;
    second = scan.TakeNumber(2, 2);
    if (!second) return std::nullopt;
    if (scan.Take('.')) {
      roundUp = scan.Peek() >= '5';
      if (scan.SkipDigits() == 0) return std::nullopt;
    }
  }
  if (!scan.AtEnd()) return std::nullopt;
  const auto moment = MomentOf(*year, *month, *day, *hour, *minute, *second);
  if (!moment) return std::nullopt;
  const int64_t seconds = moment->day * kSecondsPerDay + moment->second + (roundUp ? 1 : 0);
  return Date(Join(FromTimeline(seconds)));
}

bool Date::IsValidSerial(double serial) {
  if (!(serial > static_cast<double>(kFirstDay - 1) &&
        serial < static_cast<double>(kLastDay + 1))) {
    return false;
  }
  const int64_t day = Split(serial).day;
  return day >= kFirstDay && day <= kLastDay;
}

int Date::Year() const { return static_cast<int>(Civil(Split(serial_).day).year()); }
int Date::Month() const {
  return static_cast<int>(static_cast<unsigned>(Civil(Split(serial_).day).month()));
}
int Date::Day() const {
  return static_cast<int>(static_cast<unsigned>(Civil(Split(serial_).day).day()));
}
int Date::Hour() const { return static_cast<int>(Split(serial_).second / 3600); }
int Date::Minute() const { return static_cast<int>(Split(serial_).second / 60 % 60); }
int Date::Second() const { return static_cast<int>(Split(serial_).second % 60); }

Date Date::DateOnly() const { return Date(Join({Split(serial_).day, 0})); }

bool Date::HasTime() const { return Split(serial_).second != 0; }

Date Date::AddDays(int32_t n) const {
  const Moment m = Split(serial_);
  return Date(Join({m.day + n, m.second}));
}

int32_t Date::DaysUntil(const Date& other) const {
  return static_cast<int32_t>(Split(other.serial_).day - Split(serial_).day);
}

std::string Date::ToIso() const {
  // Written digit by digit, from one split of the serial: every date a statement binds or a
  // record set stores passes through here.
  const Moment m = Split(serial_);
  const year_month_day ymd = Civil(m.day);
  const auto year = static_cast<int>(ymd.year());
  const auto put = [](char* at, int value, int width) {
    for (int k = width - 1; k >= 0; --k, value /= 10) at[k] = static_cast<char>('0' + value % 10);
  };
  std::string text = "0000-00-00 00:00:00";
  put(text.data(), year, 4);
  put(text.data() + 5, static_cast<int>(static_cast<unsigned>(ymd.month())), 2);
  put(text.data() + 8, static_cast<int>(static_cast<unsigned>(ymd.day())), 2);
  put(text.data() + 11, static_cast<int>(m.second / 3600), 2);
  put(text.data() + 14, static_cast<int>(m.second / 60 % 60), 2);
  put(text.data() + 17, static_cast<int>(m.second % 60), 2);
  return text;
}

}  // namespace vb
