#include "vb/TextScan.h"

namespace vb {

std::string_view TrimBlanks(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

bool TextScan::Take(char c) {
  if (AtEnd() || text_[pos_] != c) return false;
  ++pos_;
  return true;
}

bool TextScan::TakeWordNoCase(std::string_view word) {
  if (text_.size() - pos_ < word.size()) return false;
  for (std::size_t i = 0; i < word.size(); ++i) {
    if (FoldAscii(text_[pos_ + i]) != FoldAscii(word[i])) return false;
  }
  pos_ += word.size();
  return true;
}

std::optional<int> TextScan::TakeNumber(int minDigits, int maxDigits) {
  int value = 0;
  int count = 0;
  while (count < maxDigits && IsDigit(Peek())) {
    value = value * 10 + (Peek() - '0');
    ++pos_;
    ++count;
  }
  if (count < minDigits) {
    pos_ -= static_cast<std::size_t>(count);
    return std::nullopt;
  }
  return value;
}

std::size_t TextScan::SkipDigits() {
  const std::size_t start = pos_;
  while (IsDigit(Peek())) ++pos_;
  return pos_ - start;
}

std::size_t TextScan::SkipBlanks() {
  const std::size_t start = pos_;
  while (IsBlank(Peek())) ++pos_;
  return pos_ - start;
}

}  // namespace vb
