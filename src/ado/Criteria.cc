#include "ado/Criteria.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <optional>
#include <type_traits>
#include <variant>

#include "ado/Errors.h"
#include "vb/Convert.h"
#include "vb/TextScan.h"

namespace ado {
namespace {

[[noreturn]] void Malformed() { throw Error(kBadArguments); }

// Consumes whatever character comes next.
void Advance(vb::TextScan& scan) { scan.Take(scan.Peek()); }

bool EndsBareName(char c) { return vb::IsBlank(c) || c == '=' || c == '<' || c == '>'; }

std::string ReadFieldName(vb::TextScan& scan, std::string_view text) {
  const bool bracketed = scan.Take('[');
  const std::size_t begin = scan.Position();
  while (!scan.AtEnd() && (bracketed ? scan.Peek() != ']' : !EndsBareName(scan.Peek()))) {
    Advance(scan);
  }
  const std::size_t end = scan.Position();
  if (bracketed && !scan.Take(']')) Malformed();
  if (end == begin) Malformed();
  return std::string(text.substr(begin, end - begin));
}

CompareOp ReadOperator(vb::TextScan& scan) {
  if (scan.Take('<')) {
    if (scan.Take('>')) return CompareOp::kNotEqual;
    return scan.Take('=') ? CompareOp::kLessEqual : CompareOp::kLess;
  }
  if (scan.Take('>')) return scan.Take('=') ? CompareOp::kGreaterEqual : CompareOp::kGreater;
  if (scan.Take('=')) return CompareOp::kEqual;
  if (scan.TakeWordNoCase("like")) return CompareOp::kLike;
  Malformed();
}

// 'text' with '' standing for one quote; the opening quote is already consumed.
std::string ReadQuotedText(vb::TextScan& scan) {
  std::string out;
  for (;;) {
    if (scan.AtEnd()) Malformed();
    if (scan.Take('\'')) {
      if (!scan.Take('\'')) return out;
      out += '\'';
      continue;
    }
    out += scan.Peek();
    Advance(scan);
  }
}

// #date#; the opening sign is already consumed.
vb::Date ReadDate(vb::TextScan& scan, std::string_view text, const vb::Locale& locale) {
  const std::size_t begin = scan.Position();
  while (!scan.AtEnd() && scan.Peek() != '#') Advance(scan);
  const std::size_t end = scan.Position();
  if (!scan.Take('#')) Malformed();
  const std::optional<vb::Date> date =
      locale.ParseDate(vb::TrimBlanks(text.substr(begin, end - begin)));
  if (!date) Malformed();
  return *date;
}

// A plain decimal number (sign, digits, point, exponent) and nothing else.
std::optional<double> ParseNumber(std::string_view text) {
  if (text.empty() || !(vb::IsDigit(text[0]) || text[0] == '-' || text[0] == '.')) {
    return std::nullopt;
  }
  double value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size() || !std::isfinite(value)) {
    return std::nullopt;
  }
  return value;
}

// Whether the whole text has a number's shape, finite or not ("1e999", "inf", "nan").
bool NumberShaped(std::string_view text) {
  double value = 0;
  return std::from_chars(text.data(), text.data() + text.size(), value).ptr ==
         text.data() + text.size();
}

// A literal without quotes: a number, or else one word of text read as it stands ("1'1"). A word
// that looks like a number out of range, or starts with an operator sign, is a mistake.
vb::Variant ReadBareLiteral(std::string_view rest) {
  if (const std::optional<double> number = ParseNumber(rest)) return *number;
  const bool oneWord = !rest.empty() && rest.find_first_of(" \t") == std::string_view::npos;
  if (!oneWord || NumberShaped(rest) || rest.find_first_of("=<>") == 0) Malformed();
  return std::string(rest);
}

vb::Variant ReadLiteral(vb::TextScan& scan, std::string_view text, const vb::Locale& locale) {
  if (scan.Take('\'')) return ReadQuotedText(scan);
  if (scan.Take('#')) return ReadDate(scan, text, locale);
  if (scan.TakeWordNoCase("null")) return vb::Null;
  vb::Variant literal = ReadBareLiteral(vb::TrimBlanks(text.substr(scan.Position())));
  while (!scan.AtEnd()) Advance(scan);
  return literal;
}

template <class T>
int Order(const T& a, const T& b) {
  return a < b ? -1 : (b < a ? 1 : 0);
}

bool Holds(CompareOp op, int order) {
  switch (op) {
    case CompareOp::kEqual:
      return order == 0;
    case CompareOp::kNotEqual:
      return order != 0;
    case CompareOp::kLess:
      return order < 0;
    case CompareOp::kGreater:
      return order > 0;
    case CompareOp::kLessEqual:
      return order <= 0;
    case CompareOp::kGreaterEqual:
      return order >= 0;
    case CompareOp::kLike:
      break;
  }
  return false;
}

// The literal read as a number: numbers as they are, dates as serials, numeric texts.
std::optional<double> NumberOf(const vb::Variant& literal) {
  if (const auto* text = std::get_if<std::string>(&literal.storage())) {
    return ParseNumber(vb::TrimBlanks(*text));
  }
  if (const auto* date = std::get_if<vb::Date>(&literal.storage())) return date->Serial();
  return std::get<double>(literal.storage());
}

// The literal read as a date: dates as they are, numbers as serials, date texts in the locale.
std::optional<vb::Date> DateOf(const vb::Variant& literal, const vb::Locale& locale) {
  if (const auto* text = std::get_if<std::string>(&literal.storage())) {
    return locale.ParseDate(vb::TrimBlanks(*text));
  }
  if (const auto* number = std::get_if<double>(&literal.storage())) {
    return vb::Date::FromSerial(*number);
  }
  return std::get<vb::Date>(literal.storage());
}

// Unicode characters are counted by their lead bytes; a broken sequence ends at the text's end.
std::size_t CharLength(std::string_view text, std::size_t at) {
  const auto lead = static_cast<unsigned char>(text[at]);
  const std::size_t length = lead < 0xC0 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
  return std::min(length, text.size() - at);
}

bool IsAnyRun(char c) { return c == '*' || c == '%'; }
bool IsOneChar(char c) { return c == '_' || c == '?'; }

}  // namespace

Criterion Criterion::Parse(std::string_view text, const vb::Locale& locale) {
  vb::TextScan scan(text);
  scan.SkipBlanks();
  std::string field = ReadFieldName(scan, text);
  scan.SkipBlanks();
  const CompareOp op = ReadOperator(scan);
  scan.SkipBlanks();
  vb::Variant literal = ReadLiteral(scan, text, locale);
  scan.SkipBlanks();
  if (!scan.AtEnd()) Malformed();
  if (literal.IsNull() && op != CompareOp::kEqual && op != CompareOp::kNotEqual) Malformed();
  if (op == CompareOp::kLike && !literal.IsString()) Malformed();
  return Criterion(std::move(field), op, std::move(literal), locale);
}

bool Criterion::Matches(const vb::Variant& value) const {
  const bool missing = value.IsNull() || value.IsEmpty();
  if (literal_.IsNull()) return (op_ == CompareOp::kEqual) == missing;
  if (missing) return false;
  if (op_ == CompareOp::kLike) {
    return MatchesLike(vb::TextOf(value, *locale_), std::get<std::string>(literal_.storage()));
  }
  const auto numeric = [&](double number) -> std::optional<int> {
    const std::optional<double> other = NumberOf(literal_);
    if (!other) return std::nullopt;
    return Order(number, *other);
  };
  const std::optional<int> order = std::visit(
      [&](const auto& v) -> std::optional<int> {
        using T = std::decay_t<decltype(v)>;
        if constexpr (std::is_same_v<T, std::string>) {
          return vb::CompareText(v, vb::CStr(literal_, *locale_));
        } else if constexpr (std::is_same_v<T, vb::Date>) {
          const std::optional<vb::Date> other = DateOf(literal_, *locale_);
          if (!other) return std::nullopt;
          return Order(v.Serial(), other->Serial());
        } else if constexpr (std::is_same_v<T, bool>) {
          return numeric(v ? -1.0 : 0.0);
        } else if constexpr (std::is_arithmetic_v<T>) {
          return numeric(static_cast<double>(v));
        } else {
          return std::nullopt;  // Empty and Null were answered above
        }
      },
      value.storage());
  return order && Holds(op_, *order);
}

bool MatchesLike(std::string_view text, std::string_view pattern) {
  std::size_t t = 0;
  std::size_t p = 0;
  // Where the last run wildcard was met: the pattern after it, and the text it has taken so far.
  std::optional<std::size_t> runPattern;
  std::size_t runText = 0;
  while (t < text.size()) {
    if (p < pattern.size() && IsAnyRun(pattern[p])) {
      runPattern = ++p;
      runText = t;
    } else if (p < pattern.size() && IsOneChar(pattern[p])) {
      ++p;
      t += CharLength(text, t);
    } else if (p < pattern.size() && vb::FoldAscii(pattern[p]) == vb::FoldAscii(text[t])) {
      ++p;
      ++t;
    } else if (runPattern) {
      // Let the last run wildcard take one more character and try the rest again.
      p = *runPattern;
      runText += CharLength(text, runText);
      t = runText;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && IsAnyRun(pattern[p])) ++p;
  return p == pattern.size();
}

}  // namespace ado
