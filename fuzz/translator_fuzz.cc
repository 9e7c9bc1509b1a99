// Arbitrary bytes through the SQL translator for both dialects and engines: only the library's
// own error may escape, and a translated statement must never hold a ';' outside its texts (a
// second statement) nor text that no longer splits into tokens.
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "kvdata/sql/Tokenizer.h"
#include "kvdata/sql/Translator.h"
#include "vb/Clock.h"
#include "vb/ComError.h"
#include "vb/Convert.h"
#include "vb/Date.h"
#include "vb/Locale.h"

namespace {

constexpr std::array<std::string_view, 8> kNames = {
    "actions", "ActionID", "ActionNumber", "Subject", "Alert", "DateDue", "DateClosed", "True"};

bool IsDateColumn(std::string_view column) { return vb::ContainsText(column, "date"); }

std::optional<std::string> CanonicalName(std::string_view name) {
  for (const std::string_view known : kNames) {
    if (vb::EqualsText(known, name)) return std::string(known);
  }
  return std::nullopt;
}

/// Whether the translated text still splits into tokens, none of them a ';'.
bool IsOneStatement(std::string_view text) {
  try {
    for (const kvdata::sql::Token& token : kvdata::sql::Tokenize(text)) {
      if (token.kind == kvdata::sql::TokenKind::Symbol && token.text == ";") return false;
    }
    return true;
  } catch (const vb::ComError&) {
    return false;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  static const vb::FixedClock clock(vb::Date::FromParts(2026, 12, 6, 14, 30));
  const std::string_view statement(reinterpret_cast<const char*>(data), size);
  const kvdata::sql::Context context{clock, vb::Locale::EnUS(), IsDateColumn, CanonicalName};
  for (const auto dialect : {kvdata::sql::Dialect::Desktop, kvdata::sql::Dialect::Server}) {
    for (const auto target : {kvdata::sql::Target::SQLite, kvdata::sql::Target::PostgreSQL}) {
      std::string text;
      try {
        text = kvdata::sql::Translate(statement, dialect, target, context);
      } catch (const vb::ComError&) {
        continue;
      }
      if (!IsOneStatement(text)) std::abort();
    }
  }
  return 0;
}
