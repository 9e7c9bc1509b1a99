#include "kvdata/sql/Translator.h"

#include <gtest/gtest.h>

#include <cctype>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "kvdata/DataUtility.h"
#include "kvdata/Errors.h"
#include "kvdata/sql/ActionsContext_test.h"
#include "vb/Clock.h"
#include "vb/ComError.h"
#include "vb/Convert.h"
#include "vb/Date.h"
#include "vb/Locale.h"
#include "vb/TextScan.h"

namespace kvdata::sql {
namespace {

// ---- Golden files: statement, dialect, clock, locale → the text for each engine ----------------

struct GoldenCase {
  std::string file;
  std::string name;
  std::string input;
  std::string sqlite;
  std::string postgres;
  /// dialect (desktop|server), clock, locale (en-US|en-GB); error: both engines refuse, the
  /// description holding it; values: translated with literals lifted, the values " | " apart.
  std::map<std::string, std::string, std::less<>> keys;

  [[nodiscard]] std::optional<std::string> Key(std::string_view key) const {
    const auto found = keys.find(key);
    return found == keys.end() ? std::nullopt : std::optional(found->second);
  }
};

void PrintTo(const GoldenCase& c, std::ostream* os) { *os << c.file << ": " << c.input; }

/// Reads blocks of "-- key: value" lines and statement lines; a block starts at "-- name:".
/// "-- sqlite:" and "-- postgres:" start the expected texts. Statement lines are joined with a
/// newline; blank lines and lines starting with '#' are skipped.
std::vector<GoldenCase> ReadGoldenFile(const std::filesystem::path& path) {
  std::vector<GoldenCase> cases;
  std::ifstream in(path);
  std::string line;
  std::string* body = nullptr;
  while (std::getline(in, line)) {
    if (line.ends_with('\r')) line.pop_back();
    const std::string_view text = vb::TrimBlanks(line);
    if (text.empty() || text.starts_with('#')) continue;
    if (text.starts_with("-- ")) {
      const std::size_t colon = text.find(':');
      const std::string_view key = vb::TrimBlanks(text.substr(3, colon - 3));
      const std::string value(vb::TrimBlanks(text.substr(colon + 1)));
      if (key == "name") {
        GoldenCase& c = cases.emplace_back();
        c.file = path.filename().string();
        c.name = value;
        body = &c.input;
      } else if (key == "dialect" || key == "clock" || key == "locale" || key == "error" ||
                 key == "values") {
        cases.back().keys.emplace(key, value);
      } else if (key == "sqlite") {
        body = &cases.back().sqlite;
      } else if (key == "postgres") {
        body = &cases.back().postgres;
      } else {
        ADD_FAILURE() << path << ": unknown key " << key;
      }
      continue;
    }
    if (body == nullptr) {
      ADD_FAILURE() << path << ": text before the first case";
      continue;
    }
    if (!body->empty()) *body += '\n';
    *body += text;
  }
  return cases;
}

std::vector<GoldenCase> ReadGoldenCases() {
  std::vector<GoldenCase> cases;
  for (const auto& entry : std::filesystem::directory_iterator(KV_SQL_TESTDATA_DIR)) {
    if (entry.path().extension() != ".txt") continue;
    std::vector<GoldenCase> more = ReadGoldenFile(entry.path());
    cases.insert(cases.end(), more.begin(), more.end());
  }
  return cases;
}

class GoldenTest : public testing::TestWithParam<GoldenCase> {
 protected:
  [[nodiscard]] std::string Run(Target target) const {
    const GoldenCase& c = GetParam();
    const vb::FixedClock clock(vb::Date::FromIso(c.Key("clock").value_or("2026-12-06 14:30:00")));
    const vb::Locale& locale = c.Key("locale") == "en-GB" ? vb::Locale::EnGB() : vb::Locale::EnUS();
    const Context context = ActionsContext(clock, locale);
    const Dialect dialect = c.Key("dialect") == "server" ? Dialect::Server : Dialect::Desktop;
    const std::optional<std::string> expected = c.Key("values");
    if (!expected) return Translate(c.input, dialect, target, context);
    const Translation bound = TranslateBound(c.input, dialect, target, context);
    std::string values;
    for (const vb::Variant& value : bound.values) {
      if (!values.empty()) values += " | ";
      values += value.IsString() ? DataUtility::SqlText(vb::CStr(value)) : vb::CStr(value);
    }
    EXPECT_EQ(values, *expected);
    return bound.text;
  }
};

TEST_P(GoldenTest, RendersTheExpectedText) {
  const GoldenCase& c = GetParam();
  for (const Target target : {Target::SQLite, Target::PostgreSQL}) {
    SCOPED_TRACE(target == Target::SQLite ? "sqlite" : "postgres");
    if (const std::optional<std::string> error = c.Key("error")) {
      try {
        const std::string text = Run(target);
        ADD_FAILURE() << "translated to: " << text;
      } catch (const vb::ComError& e) {
        EXPECT_EQ(e.number(), kSqlError);
        EXPECT_EQ(e.source(), "kvDataServer.DataConnection");
        EXPECT_NE(e.description().find(*error), std::string::npos) << e.description();
      }
    } else {
      EXPECT_EQ(Run(target), target == Target::SQLite ? c.sqlite : c.postgres);
    }
  }
}

std::string CaseName(const testing::TestParamInfo<GoldenCase>& info) {
  std::string name = info.param.file.substr(0, info.param.file.find('.')) + "_" + info.param.name;
  for (char& c : name) {
    if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
  }
  return name;
}

INSTANTIATE_TEST_SUITE_P(Statements, GoldenTest, testing::ValuesIn(ReadGoldenCases()), CaseName);

// ---- What a translation read from the clock decides how long it holds -----------------------

TEST(TranslationTest, HoldsWhileTheClockReadsWhatItRead) {
  const auto at = [](int day, int hour) { return vb::Date::FromParts(2024, 3, day, hour); };
  const vb::FixedClock nine(at(15, 9));
  const Context context = ActionsContext(nine, vb::Locale::EnUS());
  const auto translate = [&](std::string_view statement) {
    return TranslateBound(statement, Dialect::Desktop, Target::SQLite, context);
  };
  const Translation timeless = translate("select * from actions where ActionID = 1");
  const Translation today = translate("select * from actions where DateDue < date()");
  const Translation now = translate("select * from actions where DateDue < now()");
  EXPECT_TRUE(timeless.HoldsAt(vb::FixedClock(at(16, 9))));
  EXPECT_TRUE(today.HoldsAt(vb::FixedClock(at(15, 23))));
  EXPECT_FALSE(today.HoldsAt(vb::FixedClock(at(16, 0))));
  EXPECT_TRUE(now.HoldsAt(nine));
  EXPECT_FALSE(now.HoldsAt(vb::FixedClock(at(15, 10))));
}

}  // namespace
}  // namespace kvdata::sql
