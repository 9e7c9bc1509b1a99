#pragma once
// Splits a statement of either legacy dialect into tokens.
#include <string>
#include <string_view>
#include <vector>

namespace kvdata::sql {

enum class TokenKind {
  Word,    ///< a keyword, name or function name: letters, digits, underscores
  Name,    ///< a [bracketed] name; text is the name without the brackets
  String,  ///< a 'single' or "double" quoted text; text is its value, doubled quotes undone
  Number,  ///< digits with an optional fraction and exponent, as written
  Date,    ///< a #date# literal; text is what stood between the hashes
  Symbol,  ///< an operator or punctuation mark: = <> != < > <= >= || + - * / & , ( ) . ;
};

struct Token {
  TokenKind kind;
  std::string text;
  /// Whether blanks stood before the token in the statement (kept so the output reads alike).
  bool spaceBefore = false;

  friend bool operator==(const Token&, const Token&) = default;
};

/// Tokenizes a statement. Both quote styles delimit texts, never names. Comments are refused:
/// the library never writes them, and text hidden in one could be read differently by the
/// engine. Raises a vb::ComError (kSqlError) naming the statement when it is not valid UTF-8,
/// holds a NUL character, a comment, an unterminated text or name, or a character that belongs to
/// no token.
[[nodiscard]] std::vector<Token> Tokenize(std::string_view statement);

/// Whether c can be part of a word token: ASCII letters, digits, '_', and every byte of a
/// non-ASCII character.
[[nodiscard]] bool IsWordChar(char c);

/// Raises the translator's error: kSqlError from the connection, with the reason and the
/// statement (invalid UTF-8 in it shown as '?').
[[noreturn]] void Refuse(std::string_view reason, std::string_view statement);

}  // namespace kvdata::sql
