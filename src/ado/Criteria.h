#pragma once
// The criterion of Recordset::Find: "Field op value", read once and tested against each row.
#include <string>
#include <string_view>
#include <utility>

#include "vb/Locale.h"
#include "vb/Variant.h"

namespace ado {

enum class CompareOp { kEqual, kNotEqual, kLess, kGreater, kLessEqual, kGreaterEqual, kLike };

/// One comparison of a field with a literal.
///
/// Text form: a field name (bare, or in [brackets] when it holds blanks or operator signs), one
/// of = <> < > <= >= like (any letter case), and a literal: 'text' (a quote inside is written
/// ''), #date# (in the locale's short date form or ISO), a number, Null (only with = and <>,
/// testing for a missing value), or one unquoted word that is no number, read as text as it stands
/// (`Name = O'Brien`). Blanks around the parts are optional. like takes a text whose
/// wildcards * and % stand for any run of characters and _ and ? for one character, anywhere in
/// the pattern; there is no escape character.
class Criterion {
 public:
  /// Reads a criterion; anything else (more than one comparison, a missing part, an unclosed
  /// quote, a date that does not exist, like with a non-text literal) raises kBadArguments.
  /// The locale must outlive the criterion.
  [[nodiscard]] static Criterion Parse(std::string_view text, const vb::Locale& locale);

  [[nodiscard]] const std::string& FieldName() const { return field_; }
  [[nodiscard]] CompareOp Op() const { return op_; }
  [[nodiscard]] const vb::Variant& Literal() const { return literal_; }

  /// Whether a field value satisfies the criterion. The literal is read as the value's kind: a
  /// text value compares with the literal's text form without regard to letter case, a number or
  /// boolean (-1/0) numerically, a date as a date. Null and Empty satisfy only "= Null"; a value
  /// the literal cannot be compared with satisfies nothing. Never raises.
  [[nodiscard]] bool Matches(const vb::Variant& value) const;

 private:
  Criterion(std::string field, CompareOp op, vb::Variant literal, const vb::Locale& locale)
      : field_(std::move(field)), op_(op), literal_(std::move(literal)), locale_(&locale) {}

  std::string field_;
  CompareOp op_;
  vb::Variant literal_;
  const vb::Locale* locale_;
};

/// like matching as Criterion describes it, ignoring the letter case of ASCII letters; the
/// one-character wildcards take one whole UTF-8 character.
[[nodiscard]] bool MatchesLike(std::string_view text, std::string_view pattern);

}  // namespace ado
