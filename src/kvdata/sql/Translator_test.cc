#include "kvdata/sql/Translator.h"

#include <gtest/gtest.h>

#include <array>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "kvdata/Errors.h"
#include "vb/Clock.h"
#include "vb/ComError.h"
#include "vb/Convert.h"
#include "vb/Date.h"
#include "vb/Locale.h"

namespace kvdata::sql {
namespace {

constexpr std::array<std::string_view, 28> kKnownNames = {
    "actions",      "ActionProfiles", "ActionID",   "ActionNumber", "Subject",     "Originator",
    "OriginatorID", "Assignee",       "AssigneeID", "DateOpened",   "DateDue",     "DateCompleted",
    "DateClosed",   "DateRejected",   "Reviewed",   "Alert",        "Flags",       "ActionType",
    "Category",     "Priority",       "Reference",  "ReferenceID",  "Description", "Result",
    "Results",      "UserID",         "Users",      "UserName"};

/// The actions table's names and date columns, as the connection describes them.
Context MakeContext(const vb::Clock& clock, const vb::Locale& locale) {
  return Context{clock, locale,
                 [](std::string_view column) {
                   return vb::EqualsText(column.substr(0, 4), "date") && column.size() > 4;
                 },
                 [](std::string_view name) -> std::optional<std::string> {
                   for (const std::string_view known : kKnownNames) {
                     if (vb::EqualsText(known, name)) return std::string(known);
                   }
                   return std::nullopt;
                 }};
}

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

std::string_view Trim(std::string_view text) {
  const std::size_t first = text.find_first_not_of(" \t");
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

/// Reads blocks of "-- key: value" lines and statement lines; a block starts at "-- name:".
/// "-- sqlite:" and "-- postgres:" start the expected texts. Statement lines are joined with a
/// newline; blank lines and lines starting with '#' are skipped.
std::vector<GoldenCase> ReadGoldenFile(const std::filesystem::path& path) {
  std::vector<GoldenCase> cases;
  std::ifstream in(path);
  std::string line;
  std::string* body = nullptr;
  while (std::getline(in, line)) {
    const std::string_view text = Trim(line);
    if (text.empty() || text.starts_with('#')) continue;
    if (text.starts_with("-- ")) {
      const std::size_t colon = text.find(':');
      const std::string_view key = Trim(text.substr(3, colon - 3));
      const std::string value(Trim(text.substr(colon + 1)));
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
    const Context context = MakeContext(clock, locale);
    const Dialect dialect = c.Key("dialect") == "server" ? Dialect::Server : Dialect::Desktop;
    const std::optional<std::string> expected = c.Key("values");
    if (!expected) return Translate(c.input, dialect, target, context);
    const Translation bound = TranslateBound(c.input, dialect, target, context);
    std::string values;
    for (const vb::Variant& value : bound.values) {
      if (!values.empty()) values += " | ";
      if (!value.IsString()) {
        values += vb::CStr(value);
        continue;
      }
      values += '\'';
      for (const char ch : vb::CStr(value)) values += ch == '\'' ? "''" : std::string(1, ch);
      values += '\'';
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
  const Context context = MakeContext(nine, vb::Locale::EnUS());
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

// ---- Refusals: nothing of a refused statement reaches an engine --------------------------------

/// The error Translate raises for the statement on both engines (the same one on each).
vb::ComError Refusal(std::string_view statement, Dialect dialect = Dialect::Desktop) {
  const vb::FixedClock clock(vb::Date::FromParts(2026, 12, 6, 14, 30));
  const Context context = MakeContext(clock, vb::Locale::EnUS());
  std::optional<vb::ComError> first;
  for (const Target target : {Target::SQLite, Target::PostgreSQL}) {
    try {
      ADD_FAILURE() << statement << " translated to "
                    << Translate(statement, dialect, target, context);
    } catch (const vb::ComError& e) {
      EXPECT_EQ(e.number(), kSqlError);
      EXPECT_EQ(e.description(), first.value_or(e).description());
      first = e;
    }
  }
  return first.value_or(vb::ComError(0, "", ""));
}

TEST(RefusalTest, NamesTheReasonAndTheStatementFromTheConnection) {
  const vb::ComError e = Refusal("select * from actions; drop table actions");
  EXPECT_EQ(e.source(), "kvDataServer.DataConnection");
  EXPECT_EQ(e.description(),
            "The statement holds a second statement after ';': "
            "select * from actions; drop table actions");
}

TEST(RefusalTest, RefusesWhatCannotBeTranslatedWhole) {
  struct Case {
    std::string_view statement;
    std::string_view reason = "";
    Dialect dialect = Dialect::Desktop;
  };
  const Case cases[] = {
      // A raw value that closes its text and starts a statement of its own.
      {"select * from actions where reference = 'x'; delete from actions; --'"},
      {"select * from actions where ActionID=1;select 1"},
      {"select 1 ; ; select 2"},
      {"select * from actions where isnull(DateDue, 1)", "isnull() takes 1 argument(s)"},
      {"select * from actions where DateDue < date(1)"},
      {"select * from actions where DateDue < DateValue(DateOpened)"},
      {"select * from actions where DateDue < dateadd(\"x\", 1, date())"},
      {"select * from actions where DateDue < dateadd(\"m\", 1, DateOpened)"},
      {"select * from actions where DateDue < dateadd(\"d\", 1)"},
      {"select * from actions where DateDue < dateadd(\"d\", 99999999, date())"},
      {"select * from actions where DateDue < #2/30/2025#"},
      {"select * from actions where DateDue < #1/2/2025#", "", Dialect::Server},
      {"select * from actions where Subject like"},
      {"select * from actions where DateDue < DateValue('2/30/2025')",
       "'2/30/2025' is not a valid date"},
      {"select * from actions where DateDue >= 'soon'", "", Dialect::Server},
      {"select * from actions where '' = DateDue", "", Dialect::Server},
      {"select * from actions where ActionID in (select top 1 ActionID from actions)"},
      {"select top x * from actions"},
      {"select top 1.5 * from actions"},
      {"select top 10 percent * from actions"},
      {"select count(ActionID from actions"},
      {"select * from actions where (ActionID=1))"},
      {""},
      {" ; "},
  };
  for (const Case& c : cases) {
    EXPECT_NE(Refusal(c.statement, c.dialect).description().find(c.reason), std::string::npos)
        << c.statement;
  }
}

}  // namespace
}  // namespace kvdata::sql
