#include "vb/Convert.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>
#include <optional>
#include <system_error>
#include <type_traits>
#include <variant>

#include <fmt/format.h>

#include "vb/ComError.h"
#include "vb/TextScan.h"

namespace vb {
namespace {

template <class... F>
struct Overloaded : F... {
  using F::operator()...;
};
template <class... F>
Overloaded(F...) -> Overloaded<F...>;

// The shape of a decimal number at the start of a text: sign, digits, optional point and
// digits, optional exponent. length is 0 when no mantissa digit comes first.
struct NumberShape {
  std::size_t length = 0;
  int64_t magnitude = 0;  // roughly the power of ten of the value, to tell overflow from underflow
};

NumberShape ScanNumber(std::string_view text) {
  TextScan scan(text);
  if (!scan.Take('-')) scan.Take('+');
  std::size_t leadingZeros = 0;
  while (scan.Take('0')) ++leadingZeros;
  const std::size_t whole = scan.SkipDigits();
  std::size_t zerosAfterPoint = 0;
  std::size_t fraction = 0;
  if (scan.Take('.')) {
    if (whole == 0) {
      while (scan.Take('0')) ++zerosAfterPoint;
    }
    fraction = zerosAfterPoint + scan.SkipDigits();
  }
  if (leadingZeros + whole + fraction == 0) return {};
  NumberShape shape{scan.Position(), whole > 0 ? static_cast<int64_t>(whole)
                                               : -static_cast<int64_t>(zerosAfterPoint)};
  TextScan exponent(text.substr(shape.length));
  if (exponent.Take('e') || exponent.Take('E')) {
    const bool negative = exponent.Take('-');
    if (!negative) exponent.Take('+');
    const std::size_t start = exponent.Position();
    const std::size_t count = exponent.SkipDigits();
    if (count > 0) {
      // Beyond seven digits the exponent is out of any double's reach either way.
      int64_t value = 10'000'000;
      if (count < 8) {
        const std::string_view digits = text.substr(shape.length + start, count);
        std::from_chars(digits.data(), digits.data() + digits.size(), value);
      }
      shape.length += exponent.Position();
      shape.magnitude += negative ? -value : value;
    }
  }
  return shape;
}

// The value of a text that ScanNumber accepted; too large raises 6, too small is 0.
double DecimalValue(std::string_view number, int64_t magnitude) {
  const bool negative = !number.empty() && number.front() == '-';
  if (!number.empty() && (number.front() == '-' || number.front() == '+')) number.remove_prefix(1);
  double value = 0.0;
  const auto [end, ec] = std::from_chars(number.data(), number.data() + number.size(), value);
  if (ec == std::errc::result_out_of_range) {
    if (magnitude > 0) throw ComError::Runtime(kOverflow);
    value = 0.0;
  }
  return negative ? -value : value;
}

// "&H" and 1 to 8 hex digits, read as the host reads such a literal: up to 4 digits a 16-bit
// value, more a 32-bit one (so "&HFFFF" is -1).
std::optional<double> HexValue(std::string_view text) {
  if (text.size() < 3 || text[0] != '&' || FoldAscii(text[1]) != 'h') return std::nullopt;
  const std::string_view digits = text.substr(2);
  uint32_t bits = 0;
  const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), bits, 16);
  if (ec != std::errc{} || end != digits.data() + digits.size() || digits.size() > 8) {
    throw ComError::Runtime(kTypeMismatch);
  }
  if (digits.size() <= 4) return static_cast<int16_t>(static_cast<uint16_t>(bits));
  return static_cast<int32_t>(bits);
}

// A whole text read as a number (blanks around allowed); raises 13 when it is not one.
double NumberFromText(std::string_view text) {
  text = TrimBlanks(text);
  if (const auto hex = HexValue(text)) return *hex;
  const NumberShape shape = ScanNumber(text);
  if (shape.length == 0 || shape.length != text.size()) throw ComError::Runtime(kTypeMismatch);
  return DecimalValue(text, shape.magnitude);
}

// Any value read as a number: Empty 0, True -1, a date its serial.
double NumberOf(const Variant& v) {
  return std::visit(
      Overloaded{[](std::monostate) { return 0.0; },
                 [](NullValue) -> double { throw ComError::Runtime(kInvalidUseOfNull); },
                 [](bool b) { return b ? -1.0 : 0.0; },
                 [](int16_t i) { return static_cast<double>(i); },
                 [](int32_t l) { return static_cast<double>(l); }, [](double d) { return d; },
                 [](Date d) { return d.Serial(); },
                 [](const std::string& s) { return NumberFromText(s); }},
      v.storage());
}

template <class Int>
Int RoundedInteger(const Variant& v) {
  const double r = RoundHalfEven(NumberOf(v));
  if (!(r >= std::numeric_limits<Int>::min() && r <= std::numeric_limits<Int>::max())) {
    throw ComError::Runtime(kOverflow);
  }
  return static_cast<Int>(r);
}

// A double in the shortest digits that read back to the same value; plain decimal notation for
// magnitudes from 1E-04 up to below 1E+15, otherwise "d.dddE+XX" with a signed two-digit (or
// longer) exponent, as the host prints them.
std::string DoubleText(double x) {
  if (x == 0.0) return "0";
  char buffer[64];
  const auto [end, ec] =
      std::to_chars(buffer, buffer + sizeof buffer, x, std::chars_format::scientific);
  const std::string_view sci(buffer, static_cast<std::size_t>(end - buffer));
  const std::size_t e = sci.find('e');
  std::string digits;
  for (const char c : sci.substr(0, e)) {
    if (IsDigit(c)) digits += c;
  }
  int exponent = 0;
  const std::string_view exponentText = sci.substr(e + (sci[e + 1] == '+' ? 2 : 1));
  std::from_chars(exponentText.data(), exponentText.data() + exponentText.size(), exponent);
  const std::string sign = x < 0 ? "-" : "";
  if (exponent >= 15 || exponent < -4) {
    const std::string mantissa =
        digits.size() > 1 ? digits.substr(0, 1) + "." + digits.substr(1) : digits;
    return fmt::format("{}{}E{}{:02}", sign, mantissa, exponent < 0 ? '-' : '+',
                       std::abs(exponent));
  }
  if (exponent < 0)
    return sign + "0." + std::string(static_cast<std::size_t>(-exponent - 1), '0') + digits;
  const auto intDigits = static_cast<std::size_t>(exponent) + 1;
  if (digits.size() <= intDigits)
    return sign + digits + std::string(intDigits - digits.size(), '0');
  return sign + digits.substr(0, intDigits) + "." + digits.substr(intDigits);
}

Date DateFromSerial(double serial) {
  if (!Date::IsValidSerial(serial)) throw ComError::Runtime(kOverflow);
  return Date::FromSerial(serial);
}

}  // namespace

std::string CStr(const Variant& v, const Locale& locale) {
  return std::visit(
      Overloaded{
          [](std::monostate) { return std::string(); },
          [](NullValue) -> std::string { throw ComError::Runtime(kInvalidUseOfNull); },
          [](bool b) { return std::string(b ? "True" : "False"); },
          [](int16_t i) { return std::to_string(i); }, [](int32_t l) { return std::to_string(l); },
          [](double d) { return DoubleText(d); }, [&](Date d) { return locale.FormatDate(d); },
          [](const std::string& s) { return s; }},
      v.storage());
}

std::string TextOf(const Variant& v, const Locale& locale) {
  return v.IsNull() ? std::string() : CStr(v, locale);
}

int16_t CInt(const Variant& v, const Locale& /*locale*/) { return RoundedInteger<int16_t>(v); }

int32_t CLng(const Variant& v, const Locale& /*locale*/) { return RoundedInteger<int32_t>(v); }

double CDbl(const Variant& v, const Locale& /*locale*/) { return NumberOf(v); }

bool CBool(const Variant& v, const Locale& /*locale*/) {
  if (v.IsString()) {
    const std::string_view text = TrimBlanks(std::get<std::string>(v.storage()));
    if (EqualsText(text, "True") || EqualsText(text, "#TRUE#")) return true;
    if (EqualsText(text, "False") || EqualsText(text, "#FALSE#")) return false;
  }
  return NumberOf(v) != 0.0;
}

Date CDate(const Variant& v, const Locale& locale) {
  if (v.IsDate()) return std::get<Date>(v.storage());
  if (v.IsString()) {
    const std::string& text = std::get<std::string>(v.storage());
    if (const auto date = locale.ParseDate(text)) return *date;
    // A text that is no date but a number counts days from 12/30/1899, as a number does.
    return DateFromSerial(NumberFromText(text));
  }
  return DateFromSerial(NumberOf(v));
}

bool IsDate(const Variant& v, const Locale& locale) {
  if (v.IsDate()) return true;
  return v.IsString() && locale.ParseDate(std::get<std::string>(v.storage())).has_value();
}

Date DateValue(std::string_view text, const Locale& locale) {
  const auto date = locale.ParseDate(text);
  if (!date) throw ComError::Runtime(kTypeMismatch);
  return date->DateOnly();
}

double Val(std::string_view text) {
  // The host skips blanks, tabs and line feeds anywhere in the text.
  std::string packed;
  for (const char c : text) {
    if (!IsBlank(c) && c != '\n' && c != '\r') packed += c;
  }
  const NumberShape shape = ScanNumber(packed);
  if (shape.length == 0) return 0.0;
  return DecimalValue(std::string_view(packed).substr(0, shape.length), shape.magnitude);
}

double RoundHalfEven(double x) {
  const double nearest = std::round(x);  // halves away from zero
  if (std::fabs(x - std::trunc(x)) == 0.5) return 2.0 * std::round(x / 2.0);
  return nearest;
}

std::string LCase(std::string_view s) {
  std::string out(s);
  std::transform(out.begin(), out.end(), out.begin(), FoldAscii);
  return out;
}

std::string UCase(std::string_view s) {
  std::string out(s);
  std::transform(out.begin(), out.end(), out.begin(), [](char c) {
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - ('a' - 'A')) : c;
  });
  return out;
}

int CompareOrdinal(std::string_view a, std::string_view b) {
  // char_traits<char> compares as unsigned char, so this is code unit order.
  const int c = a.compare(b);
  return (c > 0) - (c < 0);
}

int CompareText(std::string_view a, std::string_view b) {
  const std::size_t n = std::min(a.size(), b.size());
  for (std::size_t i = 0; i < n; ++i) {
    const auto x = static_cast<unsigned char>(FoldAscii(a[i]));
    const auto y = static_cast<unsigned char>(FoldAscii(b[i]));
    if (x != y) return x < y ? -1 : 1;
  }
  return (a.size() > b.size()) - (a.size() < b.size());
}

bool EqualsText(std::string_view a, std::string_view b) {
  // Names are mostly written as they are stored: the same bytes settle it at once.
  return a.size() == b.size() && (a == b || CompareText(a, b) == 0);
}

bool ContainsText(std::string_view haystack, std::string_view needle) {
  return std::search(haystack.begin(), haystack.end(), needle.begin(), needle.end(),
                     [](char x, char y) { return FoldAscii(x) == FoldAscii(y); }) !=
             haystack.end() ||
         needle.empty();
}

}  // namespace vb
