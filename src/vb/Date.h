#pragma once
// The host's date: days since 30 Dec 1899 as a double, the time of day as the fraction.
#include <compare>
#include <cstdint>
#include <string>

namespace vb {

class Date {
 public:
  constexpr Date() = default;
  /// From the host's serial value (0 = 30 Dec 1899 00:00).
  static constexpr Date FromSerial(double serial) { return Date(serial); }
  /// From calendar parts; raises 5 "Invalid procedure call or argument" for an invalid day
  /// (2025-02-30, month 13, hour 24 …). Years 100 to 9999.
  static Date FromParts(int year, int month, int day, int hour = 0, int minute = 0,
                        int second = 0);
  /// Parses "yyyy-mm-dd" or "yyyy-mm-dd hh:mm:ss" (also with 'T'); raises 13 when malformed.
  static Date FromIso(std::string_view text);

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

  friend constexpr auto operator<=>(const Date&, const Date&) = default;

 private:
  explicit constexpr Date(double serial) : serial_(serial) {}
  double serial_ = 0.0;
};

}  // namespace vb
