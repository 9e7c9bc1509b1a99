#pragma once
// The locale's short date form, used wherever dates are written as text or read from text.
#include <array>
#include <optional>
#include <string>
#include <string_view>

#include "vb/Date.h"

namespace vb {

class Locale {
 public:
  /// en-US, "M/d/yyyy": the default.
  [[nodiscard]] static const Locale& EnUS();
  /// en-GB, "dd/MM/yyyy": a day-first locale.
  [[nodiscard]] static const Locale& EnGB();
  /// A locale from a short date pattern made of d, dd, M, MM, yy, yyyy and one separator among
  /// "/", "." and "-" (each of day, month and year exactly once); raises 5 for any other pattern.
  /// Times are written "h:mm:ss AM/PM" when the month comes first, "HH:mm:ss" otherwise.
  explicit Locale(std::string shortDatePattern);

  [[nodiscard]] const std::string& ShortDatePattern() const { return pattern_; }
  /// The date in the short date form (no time of day).
  [[nodiscard]] std::string FormatShortDate(const Date& date) const;
  /// "the text form of a date": the short date, then " h:mm:ss AM/PM" (en-US) or " HH:mm:ss"
  /// (day-first locales) when the time of day is not midnight.
  [[nodiscard]] std::string FormatDate(const Date& date) const;
  /// Reads a date (and optional time) written in this locale's order, or ISO "yyyy-mm-dd";
  /// two-digit years 00-29 are 2000s and 30-99 1900s; nullopt when it is not a valid date.
  /// The time is "h:mm" or "h:mm:ss", optionally followed by AM or PM; blanks around are ignored.
  [[nodiscard]] std::optional<Date> ParseDate(std::string_view text) const;

 private:
  enum class Part : char { kDay, kMonth, kYear };
  struct Field {
    Part part;
    int width;  // digits written: 1 (d, M: as many as needed), 2 or 4
  };
  [[nodiscard]] std::string FormatTime(const Date& date) const;
  [[nodiscard]] std::optional<Date> ParseInOrder(std::string_view text) const;

  std::string pattern_;
  std::array<Field, 3> fields_{};
  char separator_ = '/';
  bool dayFirst_ = false;
  bool hour12_ = true;
};

}  // namespace vb
