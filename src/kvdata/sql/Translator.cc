#include "kvdata/sql/Translator.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

#include "kvdata/sql/Tokenizer.h"
#include "vb/ComError.h"
#include "vb/Convert.h"
#include "vb/Date.h"
#include "vb/TextScan.h"

namespace kvdata::sql {
namespace {

bool IsWord(const Token& token, std::string_view word) {
  return token.kind == TokenKind::Word && vb::EqualsText(token.text, word);
}

bool IsSymbol(const Token& token, std::string_view symbol) {
  return token.kind == TokenKind::Symbol && token.text == symbol;
}

bool IsComparison(const Token& token) {
  static constexpr std::array<std::string_view, 7> kComparisons = {"=", "<>", "!=", "<",
                                                                   ">", "<=", ">="};
  return token.kind == TokenKind::Symbol &&
         std::find(kComparisons.begin(), kComparisons.end(), token.text) != kComparisons.end();
}

/// Operators that may join the parts of a like pattern.
bool IsPatternOperator(const Token& token) {
  static constexpr std::array<std::string_view, 6> kOperators = {"&", "||", "+", "-", "*", "/"};
  return token.kind == TokenKind::Symbol &&
         std::find(kOperators.begin(), kOperators.end(), token.text) != kOperators.end();
}

bool IsSign(const Token& token) { return IsSymbol(token, "-") || IsSymbol(token, "+"); }

/// Whether two pieces written side by side would read as one token, or open a comment.
bool MustSeparate(char last, char first) {
  const auto wordLike = [](char c) { return IsWordChar(c) || c == '\'' || c == '"'; };
  static constexpr std::string_view kOperatorChars = "<>=!|&+-*/";
  const auto isOperator = [](char c) { return kOperatorChars.find(c) != std::string_view::npos; };
  return (wordLike(last) && wordLike(first)) || (isOperator(last) && isOperator(first)) ||
         (last == '&' && (first == '\'' || first == '"'));
}

/// Statement text built piece by piece: a blank goes between two pieces where the statement had
/// one, and wherever the engine would otherwise read them differently (E'…', --, <>).
class Output {
 public:
  void Add(std::string_view piece, bool space) {
    if (piece.empty()) return;
    if (!text_.empty() && (space || MustSeparate(text_.back(), piece.front()))) text_ += ' ';
    text_ += piece;
  }
  [[nodiscard]] std::string& Text() { return text_; }

 private:
  std::string text_;
};

std::string Quote(std::string_view value, char quote) {
  std::string out(1, quote);
  for (const char c : value) {
    out += c;
    if (c == quote) out += quote;
  }
  out += quote;
  return out;
}

/// How dateadd's interval word moves a date: whole days, or calendar months.
struct Interval {
  bool months;
  int multiplier;
};

/// The interval words of both dialects ("y" is the day of the year, so it adds days).
std::optional<Interval> IntervalOf(std::string_view word) {
  static constexpr std::array<std::pair<std::string_view, Interval>, 21> kIntervals = {{
      {"d", {false, 1}},    {"dd", {false, 1}}, {"day", {false, 1}},
      {"y", {false, 1}},    {"dy", {false, 1}}, {"dayofyear", {false, 1}},
      {"w", {false, 1}},    {"dw", {false, 1}}, {"weekday", {false, 1}},
      {"ww", {false, 7}},   {"wk", {false, 7}}, {"week", {false, 7}},
      {"m", {true, 1}},     {"mm", {true, 1}},  {"month", {true, 1}},
      {"q", {true, 3}},     {"qq", {true, 3}},  {"quarter", {true, 3}},
      {"yyyy", {true, 12}}, {"yy", {true, 12}}, {"year", {true, 12}},
  }};
  for (const auto& [name, interval] : kIntervals) {
    if (vb::EqualsText(name, word)) return interval;
  }
  return std::nullopt;
}

struct Range {
  std::size_t begin;
  std::size_t end;
  [[nodiscard]] std::size_t size() const { return end - begin; }
};

class Translator {
 public:
  Translator(std::string_view statement, Dialect dialect, Target target, const Context& context,
             bool liftLiterals)
      : statement_(statement),
        dialect_(dialect),
        target_(target),
        context_(context),
        liftLiterals_(liftLiterals) {}

  /// The values lifted out of the text, and the clock as read; valid after Run.
  [[nodiscard]] Translation TakeBound(std::string text) {
    return {std::move(text), std::move(values_), today_, now_};
  }

  std::string Run() {
    tokens_ = Tokenize(statement_);
    DropTrailingSemicolons();
    if (tokens_.empty()) Fail("The statement is empty");
    MatchParentheses();
    TakeTop();
    Output out;
    Render({0, tokens_.size()}, out);
    if (limit_) out.Add("LIMIT " + *limit_, true);
    return std::move(out.Text());
  }

 private:
  [[noreturn]] void Fail(std::string_view reason) const { Refuse(reason, statement_); }

  // ---- Structure of the statement -------------------------------------------------------------

  /// A ';' may only end the statement: whatever follows it would run as a second statement.
  void DropTrailingSemicolons() {
    const auto first = std::find_if(tokens_.begin(), tokens_.end(),
                                    [](const Token& t) { return IsSymbol(t, ";"); });
    if (!std::all_of(first, tokens_.end(), [](const Token& t) { return IsSymbol(t, ";"); })) {
      Fail("The statement holds a second statement after ';'");
    }
    tokens_.erase(first, tokens_.end());
  }

  void MatchParentheses() {
    partner_.assign(tokens_.size(), 0);
    std::vector<std::size_t> open;
    for (std::size_t i = 0; i < tokens_.size(); ++i) {
      if (IsSymbol(tokens_[i], "(")) {
        open.push_back(i);
      } else if (IsSymbol(tokens_[i], ")")) {
        if (open.empty()) Fail("The statement has unbalanced parentheses");
        partner_[open.back()] = i;
        partner_[i] = open.back();
        open.pop_back();
      }
    }
    if (!open.empty()) Fail("The statement has unbalanced parentheses");
  }

  /// "select [distinct] top n …" becomes "select [distinct] … LIMIT n": the engines know no top.
  void TakeTop() {
    skip_.assign(tokens_.size(), false);
    int depth = 0;
    for (std::size_t i = 0; i < tokens_.size(); ++i) {
      if (IsSymbol(tokens_[i], "(")) ++depth;
      if (IsSymbol(tokens_[i], ")")) --depth;
      if (!IsWord(tokens_[i], "select")) continue;
      std::size_t top = i + 1;
      if (top < tokens_.size() &&
          (IsWord(tokens_[top], "distinct") || IsWord(tokens_[top], "all"))) {
        ++top;
      }
      if (top >= tokens_.size() || !IsWord(tokens_[top], "top")) continue;
      if (depth != 0 || limit_) Fail("Only the outermost select can take top n");
      const std::size_t count = top + 1;
      if (count >= tokens_.size() || tokens_[count].kind != TokenKind::Number ||
          !std::all_of(tokens_[count].text.begin(), tokens_[count].text.end(), vb::IsDigit)) {
        Fail("top must be followed by a whole number");
      }
      if (count + 1 < tokens_.size() && IsWord(tokens_[count + 1], "percent")) {
        Fail("top n percent cannot be translated");
      }
      limit_ = tokens_[count].text;
      skip_[top] = skip_[count] = true;
    }
  }

  /// A word followed by "(" calls a function, except the table of "insert into T (columns)".
  [[nodiscard]] bool IsCall(std::size_t i) const {
    return tokens_[i].kind == TokenKind::Word && i + 1 < tokens_.size() &&
           IsSymbol(tokens_[i + 1], "(") && !(i > 0 && IsWord(tokens_[i - 1], "into"));
  }

  /// The arguments of the call whose name is at i (none for "f()").
  [[nodiscard]] std::vector<Range> Arguments(std::size_t i) const {
    const std::size_t close = partner_[i + 1];
    std::vector<Range> arguments;
    if (close == i + 2) return arguments;
    std::size_t begin = i + 2;
    for (std::size_t k = begin; k <= close; ++k) {
      if (k == close || IsSymbol(tokens_[k], ",")) {
        if (k == begin) Fail("A function argument is missing");
        arguments.push_back({begin, k});
        begin = k + 1;
      } else if (IsSymbol(tokens_[k], "(")) {
        k = partner_[k];
      }
    }
    return arguments;
  }

  void ExpectArguments(std::size_t i, const std::vector<Range>& arguments,
                       std::size_t count) const {
    if (arguments.size() != count) {
      Fail(tokens_[i].text + "() takes " + std::to_string(count) + " argument(s)");
    }
  }

  /// The index after one operand: a literal, a (qualified) name, a call or a parenthesis.
  [[nodiscard]] std::size_t PrimaryEnd(std::size_t k, std::size_t end) const {
    if (k >= end) Fail("An operand is missing");
    if (IsSymbol(tokens_[k], "(")) return partner_[k] + 1;
    if (IsCall(k)) return partner_[k + 1] + 1;
    if (tokens_[k].kind == TokenKind::Symbol) Fail("An operand is missing");
    while (k + 2 < end && IsSymbol(tokens_[k + 1], ".")) k += 2;
    return k + 1;
  }

  /// The index after an operand joined by arithmetic or concatenation ("'%' & x & '%'").
  [[nodiscard]] std::size_t OperandEnd(std::size_t k, std::size_t end) const {
    while (true) {
      while (k < end && IsSign(tokens_[k])) ++k;
      k = PrimaryEnd(k, end);
      if (k >= end || !IsPatternOperator(tokens_[k])) return k;
      ++k;
    }
  }

  // ---- Dates ------------------------------------------------------------------------------------

  [[nodiscard]] std::string DateLiteral(const vb::Date& date) const {
    const std::string text = "'" + date.ToIso() + "'";
    return target_ == Target::PostgreSQL ? "TIMESTAMP " + text : text;
  }

  /// A date text as the locale's short date form (or ISO) reads it.
  [[nodiscard]] vb::Date ReadDate(std::string_view text) const {
    const std::optional<vb::Date> date = context_.locale.ParseDate(text);
    if (!date) Fail("'" + std::string(text) + "' is not a valid date");
    return *date;
  }

  /// #…# literals are always month first, whatever the locale, as the desktop database read them.
  [[nodiscard]] vb::Date ReadHashDate(std::string_view text) const {
    if (dialect_ != Dialect::Desktop) Fail("#date# literals belong to the desktop dialect");
    const std::optional<vb::Date> date = vb::Locale::EnUS().ParseDate(text);
    if (!date) Fail("'#" + std::string(text) + "#' is not a valid date");
    return *date;
  }

  [[nodiscard]] bool IsDateColumnAt(std::size_t k) const {
    return k < tokens_.size() &&
           (tokens_[k].kind == TokenKind::Word || tokens_[k].kind == TokenKind::Name) &&
           !IsCall(k) && context_.isDateColumn && context_.isDateColumn(tokens_[k].text);
  }

  /// Whether "between" at i follows a date column ("DateDue [not] between").
  [[nodiscard]] bool IsDateBetween(std::size_t i) const {
    if (i == 0 || !IsWord(tokens_[i], "between")) return false;
    return IsDateColumnAt(i - 1) ||
           (i >= 2 && IsWord(tokens_[i - 1], "not") && IsDateColumnAt(i - 2));
  }

  /// Whether the text at i is a bound of "dateColumn [not] between 'a' and 'b'".
  [[nodiscard]] bool IsBetweenBound(std::size_t i) const {
    if (i >= 1 && IsDateBetween(i - 1)) return true;
    return i >= 3 && IsWord(tokens_[i - 1], "and") && tokens_[i - 2].kind == TokenKind::String &&
           IsDateBetween(i - 3);
  }

  /// Whether the text at i is compared with a date column: such texts are dates in the short
  /// date form, while the engines would compare them as texts with the stored ISO form.
  [[nodiscard]] bool IsComparedWithDateColumn(std::size_t i) const {
    if (i >= 2 && IsComparison(tokens_[i - 1]) && IsDateColumnAt(i - 2)) return true;
    if (i + 2 < tokens_.size() && IsComparison(tokens_[i + 1])) {
      std::size_t column = i + 2;
      while (column + 2 < tokens_.size() && IsSymbol(tokens_[column + 1], ".")) column += 2;
      if (IsDateColumnAt(column)) return true;
    }
    return IsBetweenBound(i);
  }

  /// A whole number written as a literal, with an optional sign.
  [[nodiscard]] std::optional<int64_t> ConstantInteger(Range range) const {
    const bool signed_ = range.size() == 2 && IsSign(tokens_[range.begin]);
    if (range.size() != 1 && !signed_) return std::nullopt;
    const Token& number = tokens_[range.end - 1];
    if (number.kind != TokenKind::Number) return std::nullopt;
    int64_t value = 0;
    const char* last = number.text.data() + number.text.size();
    const auto [end, error] = std::from_chars(number.text.data(), last, value);
    if (end != last) return std::nullopt;  // a fraction or exponent
    if (error != std::errc{}) Fail("The number " + number.text + " is out of range");
    return signed_ && tokens_[range.begin].text == "-" ? -value : value;
  }

  [[nodiscard]] Interval IntervalArgument(Range range) const {
    const Token& word = tokens_[range.begin];
    std::optional<Interval> interval;
    if (range.size() == 1 && (word.kind == TokenKind::String || word.kind == TokenKind::Word)) {
      interval = IntervalOf(word.text);
    }
    if (!interval) Fail("dateadd() needs an interval such as \"d\", \"ww\", \"m\" or \"yyyy\"");
    return *interval;
  }

  /// date + count intervals, as dateadd reckoned it: months keep the day, or take the last day of
  /// a shorter month.
  [[nodiscard]] vb::Date AddInterval(const vb::Date& date, Interval interval, int64_t count) const {
    constexpr int64_t kLimit = 10'000'000;  // beyond any date from year 100 to 9999
    if (count > kLimit || count < -kLimit) Fail("dateadd() leaves the range of dates");
    const int64_t steps = count * interval.multiplier;
    const vb::Date first = vb::Date::FromParts(100, 1, 1);
    const vb::Date last = vb::Date::FromParts(9999, 12, 31, 23, 59, 59);
    if (!interval.months) {
      const double serial = date.Serial() + static_cast<double>(steps);
      if (serial < first.Serial() || serial > last.Serial()) {
        Fail("dateadd() leaves the range of dates");
      }
      return date.AddDays(static_cast<int32_t>(steps));
    }
    const int64_t month = date.Year() * int64_t{12} + (date.Month() - 1) + steps;
    const int64_t year = month / 12;
    if (month < 0 || year < first.Year() || year > last.Year()) {
      Fail("dateadd() leaves the range of dates");
    }
    const auto lastDay = std::chrono::year_month_day_last(
        std::chrono::year(static_cast<int>(year)),
        std::chrono::month_day_last(std::chrono::month(static_cast<unsigned>(month % 12 + 1))));
    const int day = std::min(date.Day(), static_cast<int>(unsigned(lastDay.day())));
    return vb::Date::FromParts(static_cast<int>(year), static_cast<int>(month % 12 + 1), day,
                               date.Hour(), date.Minute(), date.Second());
  }

  /// The value of a date function call at i: date(), now(), getdate(), DateValue('…'), and
  /// dateadd() over constants; nullopt for any other call.
  [[nodiscard]] std::optional<vb::Date> DateCall(std::size_t i) const {
    const std::string& name = tokens_[i].text;
    const std::vector<Range> arguments = Arguments(i);
    if (vb::EqualsText(name, "date")) {
      ExpectArguments(i, arguments, 0);
      return today_ = context_.clock.Today();
    }
    if (vb::EqualsText(name, "now") || vb::EqualsText(name, "getdate")) {
      ExpectArguments(i, arguments, 0);
      return now_ = context_.clock.Now();
    }
    if (vb::EqualsText(name, "datevalue")) {
      ExpectArguments(i, arguments, 1);
      const Token& text = tokens_[arguments[0].begin];
      if (arguments[0].size() != 1 || text.kind != TokenKind::String) {
        Fail("DateValue() takes a quoted date text");
      }
      return ReadDate(text.text).DateOnly();
    }
    if (vb::EqualsText(name, "dateadd")) {
      ExpectArguments(i, arguments, 3);
      const Interval interval = IntervalArgument(arguments[0]);
      const std::optional<int64_t> count = ConstantInteger(arguments[1]);
      const std::optional<vb::Date> date = ConstantDate(arguments[2]);
      if (!count || !date) return std::nullopt;
      return AddInterval(*date, interval, *count);
    }
    return std::nullopt;
  }

  /// The value of an expression that is a date known before the statement runs.
  [[nodiscard]] std::optional<vb::Date> ConstantDate(Range range) const {
    const Token& first = tokens_[range.begin];
    if (range.size() == 1 && first.kind == TokenKind::Date) return ReadHashDate(first.text);
    if (range.size() == 1 && first.kind == TokenKind::String) return ReadDate(first.text);
    if (IsCall(range.begin) && partner_[range.begin + 1] == range.end - 1) {
      return DateCall(range.begin);
    }
    return std::nullopt;
  }

  [[nodiscard]] static bool IsDateFunction(std::string_view name) {
    static constexpr std::array<std::string_view, 5> kNames = {"date", "now", "getdate",
                                                               "datevalue", "dateadd"};
    return std::any_of(kNames.begin(), kNames.end(),
                       [&](std::string_view known) { return vb::EqualsText(known, name); });
  }

  // ---- Literals lifted out into bound values -------------------------------------------------

  /// A column the catalog knows, written as a plain or bracketed name (not a call).
  [[nodiscard]] bool IsKnownColumnAt(std::size_t k) const {
    return (tokens_[k].kind == TokenKind::Word || tokens_[k].kind == TokenKind::Name) &&
           !IsCall(k) && CanonicalName(tokens_[k].text).has_value();
  }

  /// Whether the literal at i is a whole operand compared with (or assigned to) a known column:
  /// there a bound value of the literal's own type means the same, and an index on the column
  /// stays usable. Literals joined by operators are left alone, since a value of unknown type
  /// there could pick another operator on PostgreSQL.
  [[nodiscard]] bool IsLiftable(std::size_t i) const {
    if (!liftLiterals_) return false;
    const auto standsAlone = [this](std::size_t k) {
      return k >= tokens_.size() || !IsPatternOperator(tokens_[k]);
    };
    const bool afterColumn = i >= 2 && IsComparison(tokens_[i - 1]) && IsKnownColumnAt(i - 2) &&
                             (i < 3 || standsAlone(i - 3)) && standsAlone(i + 1);
    const bool beforeColumn = i + 2 < tokens_.size() && IsComparison(tokens_[i + 1]) &&
                              IsKnownColumnAt(i + 2) && (i == 0 || standsAlone(i - 1)) &&
                              standsAlone(i + 3);
    return afterColumn || beforeColumn;
  }

  /// A whole number that fits 32 bits, as written (fractions and exponents stay in the text).
  [[nodiscard]] static std::optional<int32_t> WholeNumber(const Token& number) {
    int32_t value = 0;
    const char* last = number.text.data() + number.text.size();
    const auto [end, error] = std::from_chars(number.text.data(), last, value);
    if (end != last || error != std::errc{}) return std::nullopt;
    return value;
  }

  // ---- Rendering ------------------------------------------------------------------------------

  [[nodiscard]] std::string Rendered(Range range) const {
    Output out;
    Render(range, out);
    return std::move(out.Text());
  }

  /// An operand that stays one operand inside a larger expression.
  [[nodiscard]] std::string RenderedOperand(Range range) const {
    return range.size() == 1 ? Rendered(range) : "(" + Rendered(range) + ")";
  }

  void Render(Range range, Output& out) const {
    for (std::size_t i = range.begin; i < range.end;) i = RenderAt(i, range.end, out);
  }

  /// Renders the token (or construct) at i and returns the index after it.
  std::size_t RenderAt(std::size_t i, std::size_t end, Output& out) const {
    const Token& token = tokens_[i];
    if (skip_[i]) return i + 1;
    switch (token.kind) {
      case TokenKind::Word:
        return RenderWord(i, end, out);
      case TokenKind::Name:
        out.Add(NameText(token.text), token.spaceBefore);
        break;
      case TokenKind::String:
        if (IsComparedWithDateColumn(i)) {
          out.Add(DateLiteral(ReadDate(token.text)), token.spaceBefore);
        } else if (IsLiftable(i)) {
          values_.emplace_back(token.text);
          out.Add("?", token.spaceBefore);
        } else {
          out.Add(Quote(token.text, '\''), token.spaceBefore);
        }
        break;
      case TokenKind::Number: {
        const std::optional<int32_t> whole = IsLiftable(i) ? WholeNumber(token) : std::nullopt;
        if (whole) values_.emplace_back(*whole);
        out.Add(!whole                          ? token.text
                : target_ == Target::PostgreSQL ? "CAST(? AS integer)"
                                                : "?",
                token.spaceBefore);
        break;
      }
      case TokenKind::Date:
        out.Add(DateLiteral(ReadHashDate(token.text)), token.spaceBefore);
        break;
      case TokenKind::Symbol:
        // The desktop database joins texts with &; the engines with ||.
        out.Add(token.text == "&" && dialect_ == Dialect::Desktop ? "||" : token.text,
                token.spaceBefore);
        break;
    }
    return i + 1;
  }

  /// A table or column name: PostgreSQL's are created quoted in their canonical spelling.
  [[nodiscard]] std::optional<std::string> CanonicalName(std::string_view name) const {
    if (!context_.canonicalName) return std::nullopt;
    return context_.canonicalName(name);
  }

  [[nodiscard]] std::string NameText(std::string_view name) const {
    if (target_ == Target::SQLite) return "[" + std::string(name) + "]";
    return Quote(CanonicalName(name).value_or(std::string(name)), '"');
  }

  std::size_t RenderWord(std::size_t i, std::size_t end, Output& out) const {
    const Token& token = tokens_[i];
    if (IsCall(i)) return RenderCall(i, out);
    if (IsWord(token, "like")) return RenderLike(i, end, out);
    const bool qualified = (i > 0 && IsSymbol(tokens_[i - 1], ".")) ||
                           (i + 1 < tokens_.size() && IsSymbol(tokens_[i + 1], "."));
    const std::optional<std::string> canonical = CanonicalName(token.text);
    if (!qualified && !canonical && (IsWord(token, "true") || IsWord(token, "false"))) {
      // The desktop database's booleans, stored as -1 and 0.
      out.Add(IsWord(token, "true") ? "-1" : "0", token.spaceBefore);
    } else if (canonical && target_ == Target::PostgreSQL) {
      out.Add(Quote(*canonical, '"'), token.spaceBefore);
    } else {
      out.Add(token.text, token.spaceBefore);
    }
    return i + 1;
  }

  /// like ignores letter case and knows no escape character, on both engines.
  std::size_t RenderLike(std::size_t i, std::size_t end, Output& out) const {
    const bool postgres = target_ == Target::PostgreSQL;
    out.Add(postgres ? "ILIKE" : tokens_[i].text, tokens_[i].spaceBefore);
    const std::size_t patternEnd = OperandEnd(i + 1, end);
    Render({i + 1, patternEnd}, out);
    if (postgres && !(patternEnd < end && IsWord(tokens_[patternEnd], "escape"))) {
      out.Add("ESCAPE ''", true);
    }
    return patternEnd;
  }

  std::size_t RenderCall(std::size_t i, Output& out) const {
    const Token& name = tokens_[i];
    const std::size_t next = partner_[i + 1] + 1;
    if (vb::EqualsText(name.text, "isnull")) {
      out.Add(IsNullText(i), name.spaceBefore);
    } else if (!IsDateFunction(name.text)) {
      // Any other function is the engines' own: its name as written, its arguments translated.
      out.Add(name.text, name.spaceBefore);
      Render({i + 1, next}, out);
    } else if (const std::optional<vb::Date> date = DateCall(i)) {
      out.Add(DateLiteral(*date), name.spaceBefore);
    } else {
      out.Add(DateAddText(i), name.spaceBefore);
    }
    return next;
  }

  /// isnull(x) tests for null: "(x IS NULL)" keeps an index on x usable. The server dialect's
  /// isnull(x, y) is the engines' COALESCE.
  [[nodiscard]] std::string IsNullText(std::size_t i) const {
    const std::vector<Range> arguments = Arguments(i);
    if (arguments.size() == 1) return "(" + Rendered(arguments[0]) + " IS NULL)";
    if (arguments.size() == 2 && dialect_ == Dialect::Server) {
      return "COALESCE(" + Rendered(arguments[0]) + ", " + Rendered(arguments[1]) + ")";
    }
    Fail(dialect_ == Dialect::Server ? "isnull() takes 1 or 2 arguments"
                                     : "isnull() takes 1 argument(s)");
  }

  /// dateadd() over a value known only when the statement runs: the engine adds the days, and
  /// SQLite's datetime() keeps the stored 'yyyy-mm-dd hh:mm:ss' form.
  [[nodiscard]] std::string DateAddText(std::size_t i) const {
    const std::vector<Range> arguments = Arguments(i);
    const Interval interval = IntervalArgument(arguments[0]);
    if (interval.months) Fail("dateadd() by months or years needs a constant count and date");
    const std::string date = Rendered(arguments[2]);
    const std::optional<int64_t> count = ConstantInteger(arguments[1]);
    if (target_ == Target::PostgreSQL) {
      const std::string unit = interval.multiplier == 1 ? "1 day" : "7 days";
      return "(" + date + " + " + RenderedOperand(arguments[1]) + " * INTERVAL '" + unit + "')";
    }
    if (count) {
      const int64_t days = *count * interval.multiplier;
      return "datetime(" + date + ", '" + (days < 0 ? "" : "+") + std::to_string(days) + " days')";
    }
    const std::string days = interval.multiplier == 1
                                 ? RenderedOperand(arguments[1])
                                 : "(" + RenderedOperand(arguments[1]) + " * " +
                                       std::to_string(interval.multiplier) + ")";
    return "datetime(" + date + ", " + days + " || ' days')";
  }

  std::string_view statement_;
  Dialect dialect_;
  Target target_;
  const Context& context_;
  std::vector<Token> tokens_;
  /// For each parenthesis, the index of its partner.
  std::vector<std::size_t> partner_;
  /// Tokens already rendered elsewhere (top n).
  std::vector<bool> skip_;
  std::optional<std::string> limit_;
  bool liftLiterals_;
  // Filled while rendering (which is otherwise const): the lifted values and the clock readings.
  mutable std::vector<vb::Variant> values_;
  mutable std::optional<vb::Date> today_;
  mutable std::optional<vb::Date> now_;
};

}  // namespace

bool Translation::HoldsAt(const vb::Clock& clock) const {
  if (!now && !today) return true;
  const vb::Date present = clock.Now();
  return (!now || *now == present) && (!today || *today == present.DateOnly());
}

std::string Translate(std::string_view statement, Dialect dialect, Target target,
                      const Context& context) {
  return Translator(statement, dialect, target, context, false).Run();
}

Translation TranslateBound(std::string_view statement, Dialect dialect, Target target,
                           const Context& context) {
  Translator translator(statement, dialect, target, context, true);
  std::string text = translator.Run();
  return translator.TakeBound(std::move(text));
}

}  // namespace kvdata::sql
