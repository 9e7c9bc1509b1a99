#include "kvdata/TranslationCache.h"

#include <variant>

namespace kvdata {
namespace {

// Stands for a number in a shape's key; statements never hold it (control characters are not
// SQL).
constexpr char kNumberMark = '\x01';
// More digits than this may not fit the 32 bits of a bound whole number.
constexpr std::size_t kMaxDigits = 9;

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// A character that makes digits beside it part of a name or of another kind of number.
bool JoinsDigits(char c) {
  return IsDigit(c) || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' || c == '$' ||
         c == '.' || static_cast<unsigned char>(c) >= 0x80;
}

// The whole number value v holds, if it is a Long.
std::optional<int32_t> LongOf(const vb::Variant& v) {
  if (const auto* value = std::get_if<int32_t>(&v.storage())) return *value;
  return std::nullopt;
}

// The statement of a shape with the given numbers written in.
std::string WithNumbers(std::string_view key, const std::vector<int64_t>& numbers) {
  std::string text;
  text.reserve(key.size() + numbers.size() * kMaxDigits);
  std::size_t next = 0;
  for (const char c : key) {
    if (c == kNumberMark) {
      text += std::to_string(numbers[next++]);
    } else {
      text += c;
    }
  }
  return text;
}

}  // namespace

std::optional<StatementShape> ShapeOf(std::string_view statement) {
  StatementShape shape;
  shape.key.reserve(statement.size());
  char close = 0;  // the character that ends the quoted text or bracketed name we are in
  for (std::size_t i = 0; i < statement.size();) {
    const char c = statement[i];
    if (c == kNumberMark) return std::nullopt;
    if (close != 0) {
      close = c == close ? '\0' : close;  // a doubled quote closes and reopens: same result
    } else if (c == '\'' || c == '"') {
      close = c;
    } else if (c == '[') {
      close = ']';
    } else if (IsDigit(c) && (i == 0 || !JoinsDigits(statement[i - 1]))) {
      std::size_t end = i;
      while (end < statement.size() && IsDigit(statement[end])) ++end;
      if (end == statement.size() || !JoinsDigits(statement[end])) {
        if (end - i > kMaxDigits) return std::nullopt;
        shape.numbers.push_back(std::stoll(std::string(statement.substr(i, end - i))));
        shape.key += kNumberMark;
        i = end;
        continue;
      }
    }
    shape.key += c;
    ++i;
  }
  if (shape.numbers.empty()) return std::nullopt;
  return shape;
}

TranslationCache::Shaped TranslationCache::Learn(const StatementShape& shape,
                                                 const sql::Translation& translation,
                                                 const Translate& translate) {
  // The same statement with other numbers, each one distinct from the rest.
  constexpr int64_t kFirstProbe = 900000001;
  std::vector<int64_t> probes;
  for (std::size_t k = 0; k < shape.numbers.size(); ++k) {
    const int64_t probe = kFirstProbe + 2 * static_cast<int64_t>(k);
    probes.push_back(probe == shape.numbers[k] ? probe + 1 : probe);
  }
  Shaped shaped{false, translation, std::vector<std::size_t>(shape.numbers.size(), SIZE_MAX)};
  sql::Translation other;
  try {
    other = translate(WithNumbers(shape.key, probes));
  } catch (const std::exception&) {
    return shaped;  // the numbers change what the statement is: no shared translation
  }
  if (other.text != translation.text || other.values.size() != translation.values.size() ||
      other.today != translation.today || other.now != translation.now) {
    return shaped;
  }
  for (std::size_t i = 0; i < other.values.size(); ++i) {
    if (other.values[i] == translation.values[i]) continue;
    const auto probe = LongOf(other.values[i]);
    const auto original = LongOf(translation.values[i]);
    std::size_t k = 0;
    while (k < probes.size() && (!probe || probes[k] != *probe)) ++k;
    if (k == probes.size() || !original || *original != shape.numbers[k] ||
        shaped.positions[k] != SIZE_MAX) {
      return shaped;
    }
    shaped.positions[k] = i;
  }
  for (const std::size_t position : shaped.positions) {
    if (position == SIZE_MAX) return shaped;  // a number left in the text
  }
  shaped.usable = true;
  return shaped;
}

TranslationCache::Shared TranslationCache::Find(std::string_view statement, const vb::Clock& clock,
                                                const Translate& translate) {
  if (const Shared* cached = texts_.Find(statement); cached && (*cached)->HoldsAt(clock)) {
    return *cached;
  }
  const std::optional<StatementShape> shape = ShapeOf(statement);
  const Shaped* shaped = shape ? shapes_.Find(shape->key) : nullptr;
  if (shaped != nullptr && shaped->usable && shaped->translation.HoldsAt(clock)) {
    auto rebound = std::make_shared<sql::Translation>(shaped->translation);
    for (std::size_t k = 0; k < shape->numbers.size(); ++k) {
      rebound->values[shaped->positions[k]] = vb::Variant(static_cast<int32_t>(shape->numbers[k]));
    }
    return rebound;
  }
  auto made = std::make_shared<const sql::Translation>(translate(statement));
  if (shape && (shaped == nullptr || shaped->usable)) {
    Shaped* added = nullptr;
    (void)shapes_.Add(shape->key, Learn(*shape, *made, translate), &added);
  }
  Shared* added = nullptr;
  (void)texts_.Add(std::string(statement), made, &added);
  return made;
}

void TranslationCache::Clear() {
  (void)texts_.TakeAll();
  (void)shapes_.TakeAll();
}

}  // namespace kvdata
