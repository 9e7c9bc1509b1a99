#pragma once
// The host's conversion functions, with its rules and errors. Null where a value is needed raises
// 94 "Invalid use of Null"; a text that is not a number raises 13 "Type mismatch"; a value out of
// the target range raises 6 "Overflow". Date texts are read and written in the given locale.
#include <cstdint>
#include <string>
#include <string_view>

#include "vb/Locale.h"
#include "vb/Variant.h"

namespace vb {

/// The text form of a value: a text unchanged, a number in decimal digits, a date in the short
/// date form followed by the time of day when it is not midnight, a boolean as "True"/"False",
/// Empty as "". Null raises 94. A Double is written in the fewest digits that read back to the
/// same value (2.5 → "2.5"), in exponent form from 1E+15 up and below 1E-04 ("1E+20", "1E-05").
[[nodiscard]] std::string CStr(const Variant& v, const Locale& locale = Locale::EnUS());
/// v joined with an empty string: like CStr, but Null gives "".
[[nodiscard]] std::string TextOf(const Variant& v, const Locale& locale = Locale::EnUS());
/// 16-bit, rounding halves to even; texts parsed as numbers (leading/trailing blanks allowed;
/// sign, decimals with a point, exponent, or "&H" and up to 8 hex digits); True is -1, a date its
/// serial, Empty 0.
[[nodiscard]] int16_t CInt(const Variant& v, const Locale& locale = Locale::EnUS());
/// 32-bit, rounding halves to even.
[[nodiscard]] int32_t CLng(const Variant& v, const Locale& locale = Locale::EnUS());
[[nodiscard]] double CDbl(const Variant& v, const Locale& locale = Locale::EnUS());
/// Numbers: zero is false; texts "True"/"False" in any letter case or numeric texts; Empty false.
[[nodiscard]] bool CBool(const Variant& v, const Locale& locale = Locale::EnUS());
/// Dates unchanged; texts in the locale's short date form (with optional time) or ISO; numbers as
/// serial dates. Anything else raises 13.
[[nodiscard]] Date CDate(const Variant& v, const Locale& locale = Locale::EnUS());
/// Whether CDate would succeed on a date, or a text holding a valid date.
[[nodiscard]] bool IsDate(const Variant& v, const Locale& locale = Locale::EnUS());
/// The date part of a date text (time dropped); raises 13 when the text is not a date.
[[nodiscard]] Date DateValue(std::string_view text, const Locale& locale = Locale::EnUS());
/// The leading numeric part of a text ("2.5abc" → 2.5, "" or "abc" → 0); a point is the decimal
/// separator whatever the locale. Blanks anywhere are skipped ("1 2" → 12); a number too large
/// for a double raises 6.
[[nodiscard]] double Val(std::string_view text);
/// Rounds half to even, as CInt and CLng do.
[[nodiscard]] double RoundHalfEven(double x);
[[nodiscard]] std::string LCase(std::string_view s);
[[nodiscard]] std::string UCase(std::string_view s);
/// Ordinal comparison of code units; a prefix is the smaller. Returns <0, 0, >0.
[[nodiscard]] int CompareOrdinal(std::string_view a, std::string_view b);
/// Comparison without regard to letter case (ASCII letters folded).
[[nodiscard]] int CompareText(std::string_view a, std::string_view b);
[[nodiscard]] bool EqualsText(std::string_view a, std::string_view b);
/// InStr-style case-insensitive containment.
[[nodiscard]] bool ContainsText(std::string_view haystack, std::string_view needle);

}  // namespace vb
