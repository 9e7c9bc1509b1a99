#include "kvdata/sql/Tokenizer.h"

#include <array>
#include <cstddef>
#include <cstdint>

#include "kvdata/Errors.h"
#include "vb/ComError.h"
#include "vb/TextScan.h"

namespace kvdata::sql {
namespace {

/// The length of the valid UTF-8 sequence at pos, or 0 when the bytes there are not one
/// (overlong forms, surrogates and code points above U+10FFFF are invalid).
std::size_t Utf8SequenceLength(std::string_view text, std::size_t pos) {
  const auto byte = [&](std::size_t i) { return static_cast<uint8_t>(text[i]); };
  const uint8_t lead = byte(pos);
  if (lead < 0x80) return 1;
  std::size_t length = 0;
  uint32_t code = 0;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
    code = lead & 0x1Fu;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    code = lead & 0x0Fu;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    code = lead & 0x07u;
  } else {
    return 0;
  }
  if (pos + length > text.size()) return 0;
  for (std::size_t i = 1; i < length; ++i) {
    if ((byte(pos + i) & 0xC0u) != 0x80u) return 0;
    code = (code << 6) | (byte(pos + i) & 0x3Fu);
  }
  constexpr std::array<uint32_t, 5> kSmallest = {0, 0, 0x80, 0x800, 0x10000};
  if (code < kSmallest[length] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return 0;
  return length;
}

/// The statement with every byte that starts no valid UTF-8 sequence shown as '?'.
std::string Printable(std::string_view statement) {
  std::string out;
  out.reserve(statement.size());
  for (std::size_t pos = 0; pos < statement.size();) {
    const std::size_t length = Utf8SequenceLength(statement, pos);
    if (length == 0) {
      out += '?';
      ++pos;
    } else {
      out.append(statement.substr(pos, length));
      pos += length;
    }
  }
  return out;
}

bool IsWhitespace(char c) { return vb::IsBlank(c) || c == '\n' || c == '\r'; }

class Tokenizer {
 public:
  explicit Tokenizer(std::string_view statement) : text_(statement) {}

  std::vector<Token> Run() {
    CheckCharacters();
    while (true) {
      const bool space = SkipWhitespace();
      if (pos_ == text_.size()) break;
      tokens_.push_back(Next());
      tokens_.back().spaceBefore = space;
    }
    return std::move(tokens_);
  }

 private:
  void CheckCharacters() const {
    for (std::size_t pos = 0; pos < text_.size();) {
      const std::size_t length = Utf8SequenceLength(text_, pos);
      if (length == 0) Refuse("The statement is not valid UTF-8", text_);
      if (text_[pos] == '\0') Refuse("The statement holds a NUL character", text_);
      pos += length;
    }
  }

  bool SkipWhitespace() {
    const std::size_t start = pos_;
    while (pos_ < text_.size() && IsWhitespace(text_[pos_])) ++pos_;
    return pos_ != start;
  }

  [[nodiscard]] char At(std::size_t pos) const { return pos < text_.size() ? text_[pos] : '\0'; }

  Token Next() {
    const char c = text_[pos_];
    if (c == '\'' || c == '"') return Quoted(c, TokenKind::String, "text");
    if (c == '[') return Enclosed('[', ']', TokenKind::Name, "name");
    if (c == '#') return Enclosed('#', '#', TokenKind::Date, "date literal");
    if (vb::IsDigit(c) || (c == '.' && vb::IsDigit(At(pos_ + 1)))) return NumberToken();
    if (IsWordChar(c)) return WordToken();
    return SymbolToken();
  }

  /// A text between quote characters, where a doubled quote stands for one.
  Token Quoted(char quote, TokenKind kind, std::string_view what) {
    std::string value;
    for (std::size_t pos = pos_ + 1; pos < text_.size(); ++pos) {
      if (text_[pos] != quote) {
        value += text_[pos];
      } else if (At(pos + 1) == quote) {
        value += quote;
        ++pos;
      } else {
        pos_ = pos + 1;
        return Token{kind, std::move(value)};
      }
    }
    Refuse("The statement holds an unterminated " + std::string(what), text_);
  }

  /// A bracketed name or #date#: no escapes, and never empty.
  Token Enclosed(char open, char close, TokenKind kind, std::string_view what) {
    const std::size_t end = text_.find(close, pos_ + 1);
    if (end == std::string_view::npos) {
      Refuse("The statement holds an unterminated " + std::string(what), text_);
    }
    const std::string_view value = text_.substr(pos_ + 1, end - pos_ - 1);
    if (value.empty() || value.find(open) != std::string_view::npos) {
      Refuse("The statement holds a malformed " + std::string(what), text_);
    }
    pos_ = end + 1;
    return Token{kind, std::string(value)};
  }

  Token NumberToken() {
    const std::size_t start = pos_;
    SkipDigits();
    if (At(pos_) == '.') {
      ++pos_;
      SkipDigits();
    }
    if ((At(pos_) == 'e' || At(pos_) == 'E') &&
        (vb::IsDigit(At(pos_ + 1)) ||
         ((At(pos_ + 1) == '+' || At(pos_ + 1) == '-') && vb::IsDigit(At(pos_ + 2))))) {
      pos_ += 2;
      SkipDigits();
    }
    // "12abc" or "0x1F" reads differently on each engine.
    if (IsWordChar(At(pos_)) || At(pos_) == '.') {
      Refuse("The statement holds a malformed number", text_);
    }
    return Token{TokenKind::Number, std::string(text_.substr(start, pos_ - start))};
  }

  void SkipDigits() {
    while (vb::IsDigit(At(pos_))) ++pos_;
  }

  Token WordToken() {
    const std::size_t start = pos_;
    while (IsWordChar(At(pos_))) ++pos_;
    return Token{TokenKind::Word, std::string(text_.substr(start, pos_ - start))};
  }

  Token SymbolToken() {
    const std::string_view rest = text_.substr(pos_);
    if (rest.starts_with("--") || rest.starts_with("/*")) {
      Refuse("Comments are not accepted in a statement", text_);
    }
    static constexpr std::array<std::string_view, 5> kPairs = {"<>", "<=", ">=", "!=", "||"};
    for (const std::string_view pair : kPairs) {
      if (rest.starts_with(pair)) return Symbol(pair.size());
    }
    static constexpr std::string_view kSingles = "=<>+-*/&,().;";
    if (kSingles.find(rest.front()) != std::string_view::npos) return Symbol(1);
    Refuse("The statement holds an unexpected character '" + std::string(1, rest.front()) + "'",
           text_);
  }

  Token Symbol(std::size_t length) {
    Token token{TokenKind::Symbol, std::string(text_.substr(pos_, length))};
    pos_ += length;
    return token;
  }

  std::string_view text_;
  std::size_t pos_ = 0;
  std::vector<Token> tokens_;
};

}  // namespace

// Non-ASCII bytes count as word characters: the text is checked to be valid UTF-8 first, so they
// always form whole characters.
bool IsWordChar(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || vb::IsDigit(c) || c == '_' ||
         static_cast<uint8_t>(c) >= 0x80;
}

std::vector<Token> Tokenize(std::string_view statement) { return Tokenizer(statement).Run(); }

void Refuse(std::string_view reason, std::string_view statement) {
  throw vb::ComError(kSqlError, std::string(kConnectionSource),
                     std::string(reason) + ": " + Printable(statement));
}

}  // namespace kvdata::sql
