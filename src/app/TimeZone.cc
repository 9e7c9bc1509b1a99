#include "app/TimeZone.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "app/Errors.h"

namespace app {
namespace {

namespace chr = std::chrono;

constexpr int64_t kSecondsPerDay = 86400;

std::filesystem::path ZoneFolder() {
  const char* folder = std::getenv("TZDIR");
  return folder != nullptr && *folder != '\0' ? folder : "/usr/share/zoneinfo";
}

/// The file of a zone name; empty for a name that could leave the folder.
std::filesystem::path ZoneFile(std::string_view name) {
  if (name.empty() || name.front() == '/' || name.find("..") != std::string_view::npos) return {};
  return ZoneFolder() / std::string(name);
}

[[noreturn]] void NotAZone(std::string_view name) {
  throw Invalid("TimeZone", name, "a time zone name such as Europe/Berlin");
}

/// Reads big-endian whole numbers from the bytes of a zone file.
class Reader {
 public:
  explicit Reader(std::string_view bytes) : rest_(bytes) {}
  [[nodiscard]] bool Has(size_t n) const { return rest_.size() >= n; }
  int64_t Number(size_t width) {
    uint64_t value = 0;
    for (size_t i = 0; i < width; ++i) value = (value << 8) | static_cast<uint8_t>(rest_[i]);
    rest_.remove_prefix(width);
    // Sign-extend the 4- and 8-byte two's complement fields.
    const int shift = static_cast<int>(64 - 8 * width);
    return static_cast<int64_t>(value << shift) >> shift;
  }
  void Skip(size_t n) { rest_.remove_prefix(std::min(n, rest_.size())); }
  [[nodiscard]] std::string_view Rest() const { return rest_; }

 private:
  std::string_view rest_;
};

struct Counts {
  size_t isut = 0, isstd = 0, leap = 0, time = 0, type = 0, chars = 0;
  [[nodiscard]] size_t DataSize(size_t timeWidth) const {
    return time * timeWidth + time + type * 6 + chars + leap * (timeWidth + 4) + isstd + isut;
  }
};

bool ReadHeader(Reader& in, Counts& counts, char& version) {
  if (!in.Has(44) || in.Rest().substr(0, 4) != "TZif") return false;
  version = in.Rest()[4];
  in.Skip(20);
  counts.isut = static_cast<size_t>(in.Number(4));
  counts.isstd = static_cast<size_t>(in.Number(4));
  counts.leap = static_cast<size_t>(in.Number(4));
  counts.time = static_cast<size_t>(in.Number(4));
  counts.type = static_cast<size_t>(in.Number(4));
  counts.chars = static_cast<size_t>(in.Number(4));
  return counts.type > 0;
}

// The footer's pieces: a zone abbreviation ("CET" or "<+0530>") and an offset ("-1", "5:30").
bool SkipName(std::string_view& text) {
  if (!text.empty() && text.front() == '<') {
    const size_t close = text.find('>');
    if (close == std::string_view::npos) return false;
    text.remove_prefix(close + 1);
    return true;
  }
  size_t n = 0;
  while (n < text.size() && std::isalpha(static_cast<unsigned char>(text[n])) != 0) ++n;
  text.remove_prefix(n);
  return n >= 3;
}

bool ReadNumber(std::string_view& text, int& value) {
  if (text.empty() || std::isdigit(static_cast<unsigned char>(text.front())) == 0) return false;
  value = 0;
  while (!text.empty() && std::isdigit(static_cast<unsigned char>(text.front())) != 0) {
    value = value * 10 + (text.front() - '0');
    text.remove_prefix(1);
  }
  return true;
}

/// [+-]hh[:mm[:ss]] as seconds.
bool ReadClock(std::string_view& text, int32_t& seconds) {
  int sign = 1;
  if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
    sign = text.front() == '-' ? -1 : 1;
    text.remove_prefix(1);
  }
  int part = 0;
  if (!ReadNumber(text, part)) return false;
  seconds = part * 3600;
  for (const int scale : {60, 1}) {
    if (text.empty() || text.front() != ':') break;
    text.remove_prefix(1);
    if (!ReadNumber(text, part)) return false;
    seconds += part * scale;
  }
  seconds *= sign;
  return true;
}

bool ReadWhen(std::string_view& text, TimeZone::Rule::When& when) {
  if (text.empty() || text.front() != ',') return false;
  text.remove_prefix(1);
  if (!text.empty() && text.front() == 'M') {
    text.remove_prefix(1);
    when.kind = 'M';
    if (!ReadNumber(text, when.month) || text.empty() || text.front() != '.') return false;
    text.remove_prefix(1);
    if (!ReadNumber(text, when.week) || text.empty() || text.front() != '.') return false;
    text.remove_prefix(1);
    if (!ReadNumber(text, when.day)) return false;
    if (when.month < 1 || when.month > 12 || when.week < 1 || when.week > 5 || when.day > 6) {
      return false;
    }
  } else {
    when.kind = !text.empty() && text.front() == 'J' ? 'J' : 'D';
    if (when.kind == 'J') text.remove_prefix(1);
    if (!ReadNumber(text, when.day)) return false;
  }
  if (!text.empty() && text.front() == '/') {
    text.remove_prefix(1);
    return ReadClock(text, when.seconds);
  }
  return true;
}

/// The local midnight (as days since 1970) on which when falls in year.
int64_t DayOf(const TimeZone::Rule::When& when, int year) {
  const chr::year y{year};
  if (when.kind == 'M') {
    const chr::month m{static_cast<unsigned>(when.month)};
    const chr::weekday wd{static_cast<unsigned>(when.day)};
    const chr::sys_days day = when.week == 5
                                  ? chr::sys_days(y / m / wd[chr::last])
                                  : chr::sys_days(y / m / wd[static_cast<unsigned>(when.week)]);
    return day.time_since_epoch().count();
  }
  const int64_t first = chr::sys_days(y / chr::January / 1).time_since_epoch().count();
  // Jn counts 1 to 365 and never 29 February; n counts from 0 with it.
  if (when.kind == 'J') return first + when.day - 1 + (y.is_leap() && when.day >= 60 ? 1 : 0);
  return first + when.day;
}

}  // namespace

bool TimeZone::Exists(std::string_view name) {
  const auto file = ZoneFile(name);
  std::error_code error;
  return !file.empty() && std::filesystem::is_regular_file(file, error);
}

TimeZone TimeZone::Load(std::string_view name) {
  if (!Exists(name)) NotAZone(name);
  std::ifstream in(ZoneFile(name), std::ios::binary);
  const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  Reader reader(bytes);
  Counts counts;
  char version = 0;
  if (!ReadHeader(reader, counts, version)) NotAZone(name);
  size_t width = 4;
  // Version 2 and later repeat the data with 64-bit times after the first block, then a footer.
  if (version >= '2') {
    reader.Skip(counts.DataSize(4));
    if (!ReadHeader(reader, counts, version)) NotAZone(name);
    width = 8;
  }
  if (!reader.Has(counts.DataSize(width))) NotAZone(name);
  TimeZone zone;
  for (size_t i = 0; i < counts.time; ++i) zone.transitions_.push_back(reader.Number(width));
  for (size_t i = 0; i < counts.time; ++i) {
    zone.typeOf_.push_back(static_cast<uint8_t>(reader.Number(1)));
    if (zone.typeOf_.back() >= counts.type) NotAZone(name);
  }
  for (size_t i = 0; i < counts.type; ++i) {
    zone.offsets_.push_back(static_cast<int32_t>(reader.Number(4)));
    reader.Skip(2);
  }
  reader.Skip(counts.chars + counts.leap * (width + 4) + counts.isstd + counts.isut);
  std::string_view footer = reader.Rest();
  if (width == 8 && footer.size() > 2 && footer.front() == '\n') {
    footer.remove_prefix(1);
    footer = footer.substr(0, footer.find('\n'));
    zone.hasRule_ = ParseRule(footer, zone.rule_);
  }
  return zone;
}

bool TimeZone::ParseRule(std::string_view text, Rule& rule) {
  rule = Rule{};
  int32_t west = 0;
  if (!SkipName(text) || !ReadClock(text, west)) return false;
  rule.standard = -west;  // the footer counts hours west of UTC
  if (text.empty()) return true;
  if (!SkipName(text)) return false;
  rule.hasDaylight = true;
  rule.daylight = rule.standard + 3600;
  if (!text.empty() && text.front() != ',') {
    if (!ReadClock(text, west)) return false;
    rule.daylight = -west;
  }
  return ReadWhen(text, rule.start) && ReadWhen(text, rule.end) && text.empty();
}

int32_t TimeZone::OffsetOf(const Rule& rule, int64_t unixSeconds) {
  if (!rule.hasDaylight) return rule.standard;
  const auto standardDay =
      chr::floor<chr::days>(chr::sys_seconds(chr::seconds(unixSeconds + rule.standard)));
  const int year = static_cast<int>(chr::year_month_day(standardDay).year());
  // Daylight time starts at a standard-time moment and ends at a daylight-time one.
  const int64_t start =
      DayOf(rule.start, year) * kSecondsPerDay + rule.start.seconds - rule.standard;
  const int64_t end = DayOf(rule.end, year) * kSecondsPerDay + rule.end.seconds - rule.daylight;
  // In the southern hemisphere daylight time spans the turn of the year.
  const bool daylight = start < end ? unixSeconds >= start && unixSeconds < end
                                    : unixSeconds >= start || unixSeconds < end;
  return daylight ? rule.daylight : rule.standard;
}

int32_t TimeZone::OffsetAt(int64_t unixSeconds) const {
  if (transitions_.empty() || unixSeconds < transitions_.front()) {
    return transitions_.empty() && hasRule_ ? OffsetOf(rule_, unixSeconds) : offsets_.front();
  }
  if (unixSeconds >= transitions_.back() && hasRule_) return OffsetOf(rule_, unixSeconds);
  const auto after = std::upper_bound(transitions_.begin(), transitions_.end(), unixSeconds);
  return offsets_[typeOf_[static_cast<size_t>(after - transitions_.begin()) - 1]];
}

vb::Date TimeZone::LocalTime(int64_t unixSeconds) const {
  // Built from its calendar parts, so that it equals the same moment written as a date.
  const chr::sys_seconds local{chr::seconds(unixSeconds + OffsetAt(unixSeconds))};
  const auto day = chr::floor<chr::days>(local);
  const chr::year_month_day date(day);
  const chr::hh_mm_ss time(local - day);
  return vb::Date::FromParts(
      static_cast<int>(date.year()), static_cast<int>(unsigned(date.month())),
      static_cast<int>(unsigned(date.day())), static_cast<int>(time.hours().count()),
      static_cast<int>(time.minutes().count()), static_cast<int>(time.seconds().count()));
}

int64_t InstantOfServerTime(const vb::Date& local) {
  std::tm parts{};
  parts.tm_year = local.Year() - 1900;
  parts.tm_mon = local.Month() - 1;
  parts.tm_mday = local.Day();
  parts.tm_hour = local.Hour();
  parts.tm_min = local.Minute();
  parts.tm_sec = local.Second();
  parts.tm_isdst = -1;
  return static_cast<int64_t>(std::mktime(&parts));
}

}  // namespace app
