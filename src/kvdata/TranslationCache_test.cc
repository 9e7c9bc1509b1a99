#include "kvdata/TranslationCache.h"

#include <gtest/gtest.h>

#include "vb/Convert.h"

namespace kvdata {
namespace {

struct ShapeCase {
  const char* first;   // learnt first
  const char* second;  // then asked for
  bool shared;         // whether the second comes from the first's shape, untranslated
};

// A statement with a value taken from its shape must get what translating it gives; only the
// values that are bound may be shared.
TEST(TranslationCache, StatementsOfOneShapeShareATranslationOnlyWhereTheValuesAreBound) {
  const ShapeCase cases[] = {
      {"select * from actions where ActionID =5", "select * from actions where ActionID =77", true},
      {"update actions set Alert=0 where ActionID=3", "update actions set Alert=0 where ActionID=4",
       true},
      {"select * from actions where ActionID=5 and Subject='a 5'",
       "select * from actions where ActionID=6 and Subject='a 5'", true},
      // Not bound: the number changes the text.
      {"select top 1 * from actions where ActionID=5",
       "select top 2 * from actions where ActionID=5", false},
      {"select * from actions where DateDue < dateadd(\"d\",3,date())",
       "select * from actions where DateDue < dateadd(\"d\",4,date())", false},
      // A text compared with a column is bound too, doubled apostrophes and all.
      {"select * from Users where UserID='bob' or UserID='a'",
       "select * from Users where UserID='O''Brien' or UserID='b'", true},
      {"select * from actions where Subject='x1' and Flags=2",
       "select * from actions where Subject='x2' and Flags=3", true},
      // Not bound: a pattern, a date, a text that is not compared with a column.
      {"select * from actions where Subject like 'a%'",
       "select * from actions where Subject like 'b%'", false},
      {"select * from actions where DateDue < '3/15/2024'",
       "select * from actions where DateDue < '3/16/2024'", false},
      {"select 'a' as x from actions", "select 'b' as x from actions", false},
      // Inside double quotes, brackets and names the digits are not numbers of the shape.
      {"select * from actions where Subject=\"x1\" and Flags=2",
       "select * from actions where Subject=\"x2\" and Flags=2", false},
      {"select * from actions where AssigneeID=u1", "select * from actions where AssigneeID=u2",
       false},
      {"select * from actions where Flags=1.5", "select * from actions where Flags=1.6", false},
  };
  const vb::FixedClock clock(vb::Date::FromParts(2024, 3, 15, 9));
  const vb::Locale locale = vb::Locale::EnUS();
  const sql::Context context{
      clock, locale,
      [](std::string_view column) {
        return vb::LCase(column).starts_with("date") && column.size() > 4;
      },
      [](std::string_view name) -> std::optional<std::string> {
        for (const char* known : {"actions", "ActionID", "Subject", "Alert", "Users", "UserID",
                                  "Flags", "AssigneeID", "DateDue"}) {
          if (vb::LCase(known) == vb::LCase(name)) return known;
        }
        return std::nullopt;
      }};
  const auto direct = [&](std::string_view statement) {
    return sql::TranslateBound(statement, sql::Dialect::Desktop, sql::Target::PostgreSQL, context);
  };
  for (const ShapeCase& c : cases) {
    SCOPED_TRACE(c.second);
    TranslationCache cache(8);
    int translated = 0;
    const TranslationCache::Translate counting = [&](std::string_view statement) {
      ++translated;
      return direct(statement);
    };
    (void)cache.Find(c.first, clock, counting);
    const int learning = translated;
    const TranslationCache::Shared got = cache.Find(c.second, clock, counting);
    const sql::Translation expected = direct(c.second);
    EXPECT_EQ(got->text, expected.text);
    EXPECT_EQ(got->values, expected.values);
    EXPECT_EQ(translated == learning, c.shared);
  }
}

}  // namespace
}  // namespace kvdata
