#pragma once
// The host's date: days since 30 Dec 1899 as a double, the time of day as the fraction. Before
// that day the whole part counts days backwards while the fraction still adds the time of day:
// -1.25 is 29 Dec 1899 06:00. Calendar parts are read to the nearest second. Serials must lie in
// the host's range (years 100 to 9999); CDate checks that for values it is given.
#include <compare>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace vb {

class Date {
 public:
  constexpr Date() = default;
  /// From the host's serial value (0 = 30 Dec 1899 00:00).
  static constexpr Date FromSerial(double serial) { return Date(serial); }
  /// From calendar parts; raises 5 "Invalid procedure call or argument" for an invalid day
  /// (2025-02-30, month 13, hour 24 …). Years 100 to 9999.
  static Date FromParts(int year, int month, int day, int hour = 0, int minute = 0, int second = 0);
  /// Like FromParts, but nullopt for an invalid day or time.
  static std::optional<Date> TryFromParts(int year, int month, int day, int hour = 0,
                                          int minute = 0, int second = 0);
  /// Parses "yyyy-mm-dd" or "yyyy-mm-dd hh:mm:ss" (also with 'T', and optional fractional
  /// seconds, rounded to the second); raises 13 when malformed or not a valid day.
  static Date FromIso(std::string_view text);
  /// Like FromIso, but nullopt when the text is not an ISO date.
  static std::optional<Date> TryFromIso(std::string_view text);

  /// Whether a serial lies in the host's range, 1 Jan 100 to 31 Dec 9999 23:59:59 (NaN does not).
  [[nodiscard]] static bool IsValidSerial(double serial);

  [[nodiscard]] constexpr double Serial() const { return serial_; }
  [[nodiscard]] int Year() const;
  [[nodiscard]] int Month() const;
  [[nodiscard]] int Day() const;
  [[nodiscard]] int Hour() const;
  [[nodiscard]] int Minute() const;
  [[nodiscard]] int Second() const;
  /// The same day at midnight.
  [[nodiscard]] Date DateOnly() const;
  [[nodiscard]] bool HasTime() const;
  /// The date n whole days later (earlier when n is negative), time of day kept.
  [[nodiscard]] Date AddDays(int32_t n) const;
  /// Whole calendar days from this date's day to other's day (other - this).
  [[nodiscard]] int32_t DaysUntil(const Date& other) const;
  /// "yyyy-mm-dd hh:mm:ss": the one form in which the library writes dates to a database.
  [[nodiscard]] std::string ToIso() const;

  // NOLINTNEXTLINE(modernize-use-nullptr): clang-tidy misreads the defaulted comparison.
  friend constexpr auto operator<=>(const Date&, const Date&) = default;

 private:
  explicit constexpr Date(double serial) : serial_(serial) {}
  double serial_ = 0.0;
};

}  // namespace vb
