#include "kvdata/sql/ReadOnlyCheck.h"

#include <algorithm>
#include <array>
#include <string>
#include <vector>

#include "kvdata/sql/Tokenizer.h"
#include "vb/Convert.h"

namespace kvdata::sql {
namespace {

enum class Kind { Word, QuotedName, Literal, Other };

/// A piece of the engine text, seen in place: a word as written, a quoted run without its
/// quotes (a doubled quote left doubled), or one other character. The check runs before every
/// list and count, so it copies nothing.
struct Lexeme {
  Kind kind;
  std::string_view text;
};

/// Skips a quoted run starting at pos (a doubled quote stays inside); returns the position after
/// its closing quote.
std::size_t SkipQuoted(std::string_view text, std::size_t pos) {
  const char quote = text[pos];
  for (++pos; pos < text.size(); ++pos) {
    if (text[pos] != quote) continue;
    if (pos + 1 < text.size() && text[pos + 1] == quote) {
      ++pos;
    } else {
      return pos + 1;
    }
  }
  Refuse("The list statement holds an unterminated text", text);
}

/// The engine text cut into words, quoted names, literals and single other characters.
std::vector<Lexeme> Lex(std::string_view text) {
  std::vector<Lexeme> out;
  out.reserve(text.size() / 4);
  for (std::size_t pos = 0; pos < text.size();) {
    const char c = text[pos];
    const std::size_t start = pos;
    if (c == ' ' || c == '\t' || c == '\r' || c == '\n') {
      ++pos;
    } else if (c == '\'' || c == '"') {
      pos = SkipQuoted(text, pos);
      out.push_back(
          {c == '"' ? Kind::QuotedName : Kind::Literal, text.substr(start + 1, pos - start - 2)});
    } else if (IsWordChar(c)) {
      while (pos < text.size() && IsWordChar(text[pos])) ++pos;
      out.push_back({Kind::Word, text.substr(start, pos - start)});
    } else {
      out.push_back({Kind::Other, text.substr(start, 1)});
      ++pos;
    }
  }
  return out;
}

bool IsWord(const Lexeme& lexeme, std::string_view word) {
  return lexeme.kind == Kind::Word && vb::EqualsText(lexeme.text, word);
}

bool IsOther(const Lexeme& lexeme, char c) {
  return lexeme.kind == Kind::Other && lexeme.text.front() == c;
}

/// Words that may stand before an opening parenthesis: the functions the renderer writes for
/// count and the dialects' date and null functions, and the keywords that open a group.
bool MayOpenParenthesis(const Lexeme& lexeme) {
  static constexpr std::array<std::string_view, 11> kAllowed = {
      "count", "coalesce", "datetime", "cast", "and", "or", "not", "in", "where", "like", "ilike"};
  if (lexeme.kind == Kind::Other) return true;
  return std::any_of(kAllowed.begin(), kAllowed.end(),
                     [&](std::string_view word) { return IsWord(lexeme, word); });
}

// A quoted name holding a doubled quote is never "actions", so its text as written will do.
bool NamesActions(const Lexeme& lexeme) {
  return (lexeme.kind == Kind::Word || lexeme.kind == Kind::QuotedName) &&
         vb::EqualsText(lexeme.text, "actions");
}

}  // namespace

void CheckReadsOnlyActions(std::string_view text) {
  const std::vector<Lexeme> lexemes = Lex(text);
  const auto refuse = [&](std::string_view reason) {
    Refuse("A list statement may read only the actions table; it " + std::string(reason), text);
  };
  const auto count = [&](std::string_view word) {
    return std::count_if(lexemes.begin(), lexemes.end(),
                         [&](const Lexeme& l) { return IsWord(l, word); });
  };
  if (lexemes.empty() || !IsWord(lexemes.front(), "select") || count("select") != 1) {
    refuse("must be one select without subqueries");
  }
  for (const std::string_view word : {"union", "intersect", "except", "join", "into", "with"}) {
    if (count(word) != 0) refuse("holds \"" + std::string(word) + "\"");
  }
  const auto from = std::find_if(lexemes.begin(), lexemes.end(),
                                 [](const Lexeme& l) { return IsWord(l, "from"); });
  if (count("from") != 1 || from + 1 == lexemes.end() || !NamesActions(*(from + 1))) {
    refuse("must read from the table actions alone");
  }
  if (from + 2 != lexemes.end() && !IsWord(*(from + 2), "where") && !IsWord(*(from + 2), "order") &&
      !IsWord(*(from + 2), "limit")) {
    refuse("must read from the table actions alone");
  }
  for (std::size_t i = 1; i < lexemes.size(); ++i) {
    if (IsOther(lexemes[i], '(') && !MayOpenParenthesis(lexemes[i - 1])) {
      refuse("calls the function \"" + std::string(lexemes[i - 1].text) + "\"");
    }
    if (IsOther(lexemes[i], ';')) refuse("holds a semicolon");
  }
}

}  // namespace kvdata::sql
