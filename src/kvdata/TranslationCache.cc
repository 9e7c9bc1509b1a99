#include "kvdata/TranslationCache.h"

#include <charconv>
#include <string>
#include <utility>
#include <variant>

#include "kvdata/engine/Values.h"

namespace kvdata {
namespace {

// Stands for a value in a shape's key; statements never hold it (control characters are not
// SQL).
constexpr char kValueMark = '\x01';
// More digits than this may not fit the 32 bits of a bound whole number.
constexpr std::size_t kMaxDigits = 9;

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// A character that makes digits beside it part of a name or of another kind of number.
bool JoinsDigits(char c) {
  return IsDigit(c) || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' || c == '$' ||
         c == '.' || static_cast<unsigned char>(c) >= 0x80;
}

// The value as a statement writes it: a number as it is, a text in apostrophes (doubled inside).
std::string Written(const vb::Variant& value) {
  if (const auto* number = std::get_if<int32_t>(&value.storage())) return std::to_string(*number);
  std::string text = "'";
  for (const char c : std::get<std::string>(value.storage())) {
    text += c;
    if (c == '\'') text += c;
  }
  return text + "'";
}

// The statement of a shape with the given values written in.
std::string WithValues(std::string_view key, const std::vector<vb::Variant>& values) {
  std::string text;
  text.reserve(key.size() + values.size() * kMaxDigits);
  std::size_t next = 0;
  for (const char c : key) {
    if (c == kValueMark) {
      text += Written(values[next++]);
    } else {
      text += c;
    }
  }
  return text;
}

// The end of the text in apostrophes that starts at open (the index after its closing one), and
// its value; nullopt when it is not closed.
std::optional<std::pair<std::size_t, std::string>> QuotedText(std::string_view statement,
                                                              std::size_t open) {
  std::string value;
  for (std::size_t i = open + 1; i < statement.size(); ++i) {
    if (statement[i] != '\'') {
      value += statement[i];
    } else if (i + 1 < statement.size() && statement[i + 1] == '\'') {
      value += '\'';
      ++i;
    } else {
      return std::pair{i + 1, std::move(value)};
    }
  }
  return std::nullopt;
}

}  // namespace

std::optional<StatementShape> ShapeOf(std::string_view statement) {
  // A statement the translator refuses is left to it, so that it is refused as always.
  if (statement.find('\0') != std::string_view::npos || !engine::IsValidUtf8(statement)) {
    return std::nullopt;
  }
  StatementShape shape;
  shape.key.reserve(statement.size());
  // The key takes the statement's text in runs, each value replaced by the mark.
  std::size_t run = 0;
  const auto mark = [&](std::size_t from, std::size_t to) {
    shape.key.append(statement.substr(run, from - run));
    shape.key += kValueMark;
    run = to;
  };
  char close = 0;  // the character that ends the quoted name or bracketed name we are in
  for (std::size_t i = 0; i < statement.size();) {
    const char c = statement[i];
    if (c == kValueMark) return std::nullopt;
    if (close != 0) {
      close = c == close ? '\0' : close;  // a doubled quote closes and reopens: same result
    } else if (c == '\'') {
      const auto text = QuotedText(statement, i);
      if (!text) return std::nullopt;  // the translator refuses it
      shape.values.emplace_back(std::move(text->second));
      mark(i, text->first);
      i = text->first;
      continue;
    } else if (c == '"') {
      close = c;
    } else if (c == '[') {
      close = ']';
    } else if (IsDigit(c) && (i == 0 || !JoinsDigits(statement[i - 1]))) {
      std::size_t end = i;
      while (end < statement.size() && IsDigit(statement[end])) ++end;
      if (end == statement.size() || !JoinsDigits(statement[end])) {
        if (end - i > kMaxDigits) return std::nullopt;
        int32_t number = 0;
        (void)std::from_chars(statement.data() + i, statement.data() + end, number);
        shape.values.emplace_back(number);
        mark(i, end);
        i = end;
        continue;
      }
    }
    ++i;
  }
  if (shape.values.empty()) return std::nullopt;
  shape.key.append(statement.substr(run));
  return shape;
}

TranslationCache::Shaped TranslationCache::Learn(const StatementShape& shape,
                                                 const sql::Translation& translation,
                                                 const Translate& translate) {
  // The same statement with other values, each one distinct from the rest and from its own.
  constexpr int32_t kFirstProbe = 900000001;
  std::vector<vb::Variant> probes;
  for (std::size_t k = 0; k < shape.values.size(); ++k) {
    const auto n = static_cast<int32_t>(k);
    vb::Variant probe = shape.values[k].IsString() ? vb::Variant("kv~probe~" + std::to_string(k))
                                                   : vb::Variant(kFirstProbe + 2 * n);
    if (probe == shape.values[k]) {
      probe = shape.values[k].IsString() ? vb::Variant("kv~other~" + std::to_string(k))
                                         : vb::Variant(kFirstProbe + 2 * n + 1);
    }
    probes.push_back(std::move(probe));
  }
  Shaped shaped{false, translation, std::vector<std::size_t>(shape.values.size(), SIZE_MAX)};
  sql::Translation other;
  try {
    other = translate(WithValues(shape.key, probes));
  } catch (const std::exception&) {
    return shaped;  // the values change what the statement is: no shared translation
  }
  if (other.text != translation.text || other.values.size() != translation.values.size() ||
      other.today != translation.today || other.now != translation.now) {
    return shaped;
  }
  for (std::size_t i = 0; i < other.values.size(); ++i) {
    if (other.values[i] == translation.values[i]) continue;
    std::size_t k = 0;
    while (k < probes.size() && !(probes[k] == other.values[i])) ++k;
    // Bound as it was written (a number as a Long, a text as the same text), in one place only.
    if (k == probes.size() || !(translation.values[i] == shape.values[k]) ||
        shaped.positions[k] != SIZE_MAX) {
      return shaped;
    }
    shaped.positions[k] = i;
  }
  for (const std::size_t position : shaped.positions) {
    if (position == SIZE_MAX) return shaped;  // a value left in the text
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
    for (std::size_t k = 0; k < shape->values.size(); ++k) {
      rebound->values[shaped->positions[k]] = shape->values[k];
    }
    // Kept by its text too: a statement that comes again (a setting, a label) is then found
    // without being scanned for its values.
    Shared* added = nullptr;
    (void)texts_.Add(std::string(statement), rebound, &added);
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

const TranslationCache::Keyed* TranslationCache::FindKeyed(std::string_view head, int32_t key,
                                                           const vb::Clock& clock,
                                                           const Translate& translate) {
  constexpr int32_t kMaxKey = 999999999;  // kMaxDigits
  if (key < 0 || key > kMaxKey) return nullptr;
  if (const std::optional<Keyed>* known = keyed_.Find(head)) {
    if (!*known) return nullptr;
    if ((*known)->translation->HoldsAt(clock)) return &**known;
  }
  const std::string statement = std::string(head) + std::to_string(key);
  Shared made = Find(statement, clock, translate);
  // The number is the statement's last value when nothing joins it to the head.
  std::optional<Keyed> keyed;
  const std::optional<StatementShape> shape = ShapeOf(statement);
  if (shape && shape->key.ends_with(kValueMark)) {
    // Where each value goes is the shape's, learned by Find when it translated the statement.
    const Shaped* shaped = shapes_.Find(shape->key);
    Shaped learned;
    if (shaped == nullptr) {
      learned = Learn(*shape, *made, translate);
      shaped = &learned;
    }
    if (shaped->usable) keyed = Keyed{std::move(made), shaped->positions.back()};
  }
  std::optional<Keyed>* added = nullptr;
  (void)keyed_.Add(std::string(head), std::move(keyed), &added);
  return *added ? &**added : nullptr;
}

void TranslationCache::Clear() {
  (void)texts_.TakeAll();
  (void)shapes_.TakeAll();
  (void)keyed_.TakeAll();
}

}  // namespace kvdata
