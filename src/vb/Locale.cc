#include "vb/Locale.h"

#include <fmt/format.h>

#include <array>
#include <charconv>
#include <string>

#include "vb/ComError.h"
#include "vb/NeverDestroyed.h"
#include "vb/TextScan.h"

namespace vb {
namespace {

// Appends a non-negative number in decimal, zero-padded to width digits: a notice formats a
// dozen dates, and a format call per part costs more than the digits.
void AppendPadded(std::string& text, int number, int width) {
  std::array<char, 16> digits{};
  const auto end = std::to_chars(digits.data(), digits.data() + digits.size(), number).ptr;
  const auto count = static_cast<int>(end - digits.data());
  if (count < width) text.append(static_cast<std::size_t>(width - count), '0');
  text.append(digits.data(), end);
}

constexpr std::string_view kSeparators = "/.-";

// Two-digit years: 00-29 are this century, 30-99 the last one.
int ExpandYear(int year, std::size_t digits) {
  if (digits != 2) return year;
  return year < 30 ? 2000 + year : 1900 + year;
}

struct TimeOfDay {
  int hour = 0;
  int minute = 0;
  int second = 0;
};

// "h:mm" or "h:mm:ss", then optionally AM or PM (12 AM is midnight, 12 PM noon).
std::optional<TimeOfDay> ReadTime(TextScan& scan) {
  TimeOfDay t;
  const auto hour = scan.TakeNumber(1, 2);
  if (!hour || !scan.Take(':')) return std::nullopt;
  const auto minute = scan.TakeNumber(2, 2);
  if (!minute) return std::nullopt;
  t.hour = *hour;
  t.minute = *minute;
  if (scan.Take(':')) {
    const auto second = scan.TakeNumber(2, 2);
    if (!second) return std::nullopt;
    t.second = *second;
  }
  scan.SkipBlanks();
  const bool am = scan.TakeWordNoCase("AM");
  const bool pm = !am && scan.TakeWordNoCase("PM");
  if (am || pm) {
    if (t.hour < 1 || t.hour > 12) return std::nullopt;
    t.hour = t.hour % 12 + (pm ? 12 : 0);
  }
  return t;
}

}  // namespace

const Locale& Locale::EnUS() {
  static const NeverDestroyed<Locale> locale("M/d/yyyy");
  return locale.Get();
}

const Locale& Locale::EnGB() {
  static const NeverDestroyed<Locale> locale("dd/MM/yyyy");
  return locale.Get();
}

Locale::Locale(std::string shortDatePattern) : pattern_(std::move(shortDatePattern)) {
  const auto invalid = [] { return ComError::Runtime(kInvalidProcedureCall); };
  const std::size_t sep = pattern_.find_first_of(kSeparators);
  if (sep == std::string::npos) throw invalid();
  separator_ = pattern_[sep];
  bool seen[3] = {false, false, false};
  std::size_t pos = 0;
  for (std::size_t i = 0; i < fields_.size(); ++i) {
    if (i > 0 && (pos >= pattern_.size() || pattern_[pos++] != separator_)) throw invalid();
    const char letter = pos < pattern_.size() ? pattern_[pos] : '\0';
    const std::size_t end = pattern_.find_first_not_of(letter, pos);
    const int width = static_cast<int>((end == std::string::npos ? pattern_.size() : end) - pos);
    pos += static_cast<std::size_t>(width);
    Part part{};
    if (letter == 'd' && width <= 2) {
      part = Part::kDay;
    } else if (letter == 'M' && width <= 2) {
      part = Part::kMonth;
    } else if (letter == 'y' && (width == 2 || width == 4)) {
      part = Part::kYear;
    } else {
      throw invalid();
    }
    if (seen[static_cast<int>(part)]) throw invalid();
    seen[static_cast<int>(part)] = true;
    fields_[i] = {part, width};
  }
  if (pos != pattern_.size()) throw invalid();
  int dayAt = 0;
  int monthAt = 0;
  for (int i = 0; i < 3; ++i) {
    if (fields_[i].part == Part::kDay) dayAt = i;
    if (fields_[i].part == Part::kMonth) monthAt = i;
  }
  dayFirst_ = dayAt < monthAt;
  hour12_ = fields_[0].part == Part::kMonth;
}

std::string Locale::FormatShortDate(const Date& date) const {
  std::string text;
  text.reserve(12);
  for (const Field& field : fields_) {
    if (!text.empty()) text += separator_;
    switch (field.part) {
      case Part::kDay:
        AppendPadded(text, date.Day(), field.width);
        break;
      case Part::kMonth:
        AppendPadded(text, date.Month(), field.width);
        break;
      case Part::kYear:
        AppendPadded(text, field.width == 2 ? date.Year() % 100 : date.Year(), field.width);
        break;
    }
  }
  return text;
}

std::string Locale::FormatTime(const Date& date) const {
  if (!hour12_) return fmt::format("{:02}:{:02}:{:02}", date.Hour(), date.Minute(), date.Second());
  const int hour = date.Hour() % 12 == 0 ? 12 : date.Hour() % 12;
  return fmt::format("{}:{:02}:{:02} {}", hour, date.Minute(), date.Second(),
                     date.Hour() < 12 ? "AM" : "PM");
}

std::string Locale::FormatDate(const Date& date) const {
  // Day zero (12/30/1899) stands for "no day": a time of day alone, midnight included.
  if (date.DateOnly() == Date()) return FormatTime(date);
  std::string text = FormatShortDate(date);
  if (date.HasTime()) {
    text += ' ';
    text += FormatTime(date);
  }
  return text;
}

std::optional<Date> Locale::ParseDate(std::string_view text) const {
  text = TrimBlanks(text);
  if (auto iso = Date::TryFromIso(text)) return iso;
  return ParseInOrder(text);
}

std::optional<Date> Locale::ParseInOrder(std::string_view text) const {
  TextScan scan(text);
  int parts[3] = {0, 0, 0};
  for (std::size_t i = 0; i < fields_.size(); ++i) {
    if (i > 0 && !scan.Take(separator_)) return std::nullopt;
    const bool isYear = fields_[i].part == Part::kYear;
    const std::size_t start = scan.Position();
    const auto value = scan.TakeNumber(1, isYear ? 4 : 2);
    if (!value) return std::nullopt;
    const std::size_t digits = scan.Position() - start;
    if (isYear && digits != 2 && digits != 4) return std::nullopt;
    parts[static_cast<int>(fields_[i].part)] = isYear ? ExpandYear(*value, digits) : *value;
  }
  TimeOfDay time;
  if (scan.SkipBlanks() > 0 && !scan.AtEnd()) {
    const auto read = ReadTime(scan);
    if (!read) return std::nullopt;
    time = *read;
  }
  if (!scan.AtEnd()) return std::nullopt;
  return Date::TryFromParts(
      parts[static_cast<int>(Part::kYear)], parts[static_cast<int>(Part::kMonth)],
      parts[static_cast<int>(Part::kDay)], time.hour, time.minute, time.second);
}

}  // namespace vb
