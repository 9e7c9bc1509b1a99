#pragma once
// A forward reader over a text, for the host's hand-written number and date readers.
#include <cstddef>
#include <optional>
#include <string_view>

namespace vb {

/// Whether c is a blank the host's readers skip (space or tab).
[[nodiscard]] constexpr bool IsBlank(char c) { return c == ' ' || c == '\t'; }
[[nodiscard]] constexpr bool IsDigit(char c) { return c >= '0' && c <= '9'; }
/// c with an ASCII capital letter turned into its small letter.
[[nodiscard]] constexpr char FoldAscii(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c + ('a' - 'A')) : c;
}

/// The text without leading and trailing blanks.
[[nodiscard]] std::string_view TrimBlanks(std::string_view text);

/// Reads a text from left to right; every Take* either consumes what it returns or nothing.
class TextScan {
 public:
  explicit TextScan(std::string_view text) : text_(text) {}

  [[nodiscard]] bool AtEnd() const { return pos_ == text_.size(); }
  [[nodiscard]] char Peek() const { return AtEnd() ? '\0' : text_[pos_]; }
  [[nodiscard]] std::size_t Position() const { return pos_; }
  /// Consumes c when it comes next.
  bool Take(char c);
  /// Consumes word when it comes next, letter case ignored.
  bool TakeWordNoCase(std::string_view word);
  /// Consumes minDigits to maxDigits decimal digits (as many as there are) and returns their value;
  /// nullopt (nothing consumed) when fewer than minDigits come next.
  std::optional<int> TakeNumber(int minDigits, int maxDigits);
  /// Consumes all the digits that come next and returns how many there were.
  std::size_t SkipDigits();
  /// Consumes blanks and returns how many there were.
  std::size_t SkipBlanks();

 private:
  std::string_view text_;
  std::size_t pos_ = 0;
};

}  // namespace vb
