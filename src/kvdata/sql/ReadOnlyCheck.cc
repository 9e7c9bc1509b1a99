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

struct Lexeme {
  Kind kind;
  std::string text;  // words in lower case; a quoted name without its quotes
};

/// Skips a quoted run starting at pos (a doubled quote stays inside); returns the position after
/// it and its content.
std::size_t SkipQuoted(std::string_view text, std::size_t pos, std::string& content) {
  const char quote = text[pos];
  for (++pos; pos < text.size(); ++pos) {
    if (text[pos] != quote) {
      content += text[pos];
    } else if (pos + 1 < text.size() && text[pos + 1] == quote) {
      content += quote;
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
  for (std::size_t pos = 0; pos < text.size();) {
    const char c = text[pos];
    if (c == ' ' || c == '\t' || c == '\r' || c == '\n') {
      ++pos;
    } else if (c == '\'' || c == '"') {
      std::string content;
      pos = SkipQuoted(text, pos, content);
      out.push_back({c == '"' ? Kind::QuotedName : Kind::Literal, std::move(content)});
    } else if (IsWordChar(c)) {
      const std::size_t start = pos;
      while (pos < text.size() && IsWordChar(text[pos])) ++pos;
      out.push_back({Kind::Word, vb::LCase(text.substr(start, pos - start))});
    } else {
      out.push_back({Kind::Other, std::string(1, c)});
      ++pos;
    }
  }
  return out;
}

bool IsWord(const Lexeme& lexeme, std::string_view word) {
  return lexeme.kind == Kind::Word && lexeme.text == word;
}

/// Words that may stand before an opening parenthesis: the functions the renderer writes for
/// count and the dialects' date and null functions, and the keywords that open a group.
bool MayOpenParenthesis(const Lexeme& lexeme) {
  static constexpr std::array<std::string_view, 11> kAllowed = {
      "count", "coalesce", "datetime", "cast", "and", "or", "not", "in", "where", "like", "ilike"};
  if (lexeme.kind == Kind::Other) return true;
  return lexeme.kind == Kind::Word &&
         std::find(kAllowed.begin(), kAllowed.end(), lexeme.text) != kAllowed.end();
}

bool NamesActions(const Lexeme& lexeme) {
  return (lexeme.kind == Kind::Word || lexeme.kind == Kind::QuotedName) &&
         vb::LCase(lexeme.text) == "actions";
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
    if (lexemes[i].kind == Kind::Other && lexemes[i].text == "(" &&
        !MayOpenParenthesis(lexemes[i - 1])) {
      refuse("calls the function \"" + lexemes[i - 1].text + "\"");
    }
    if (lexemes[i].kind == Kind::Other && lexemes[i].text == ";") refuse("holds a semicolon");
  }
}

}  // namespace kvdata::sql
