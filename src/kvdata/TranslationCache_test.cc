#include "kvdata/TranslationCache.h"

#include <gtest/gtest.h>

#include <regex>
#include <string_view>
#include <utility>

#include "kvdata/sql/ActionsContext_test.h"

namespace kvdata {
namespace {

// Each case: a statement learnt first, then one asked for, written as one text where {a|b} stands
// for a in the first and b in the second; and whether the second comes from the first's shape,
// untranslated. A statement with a value taken from its shape must get what translating it gives;
// only the values that are bound may be shared.
TEST(TranslationCache, StatementsOfOneShapeShareATranslationOnlyWhereTheValuesAreBound) {
  const std::pair<std::string_view, bool> cases[] = {
      {"select * from actions where ActionID ={5|77}", true},
      {"update actions set Alert=0 where ActionID={3|4}", true},
      {"select * from actions where ActionID={5|6} and Subject='a 5'", true},
      // Not bound: the number changes the text.
      {"select top {1|2} * from actions where ActionID=5", false},
      {"select * from actions where DateDue < dateadd(\"d\",{3|4},date())", false},
      // A text compared with a column is bound too, doubled apostrophes and all.
      {"select * from Users where UserID='{bob|O''Brien}' or UserID='{a|b}'", true},
      {"select * from actions where Subject='x{1|2}' and Flags={2|3}", true},
      // Not bound: a pattern, a date, a text that is not compared with a column.
      {"select * from actions where Subject like '{a|b}%'", false},
      {"select * from actions where DateDue < '3/1{5|6}/2024'", false},
      {"select '{a|b}' as x from actions", false},
      // Inside double quotes, brackets and names the digits are not numbers of the shape.
      {"select * from actions where Subject=\"x{1|2}\" and Flags=2", false},
      {"select * from actions where AssigneeID=u{1|2}", false},
      {"select * from actions where Flags=1.{5|6}", false},
  };
  const vb::FixedClock clock(vb::Date::FromParts(2024, 3, 15, 9));
  const sql::Context context = sql::ActionsContext(clock, vb::Locale::EnUS());
  const auto direct = [&](std::string_view statement) {
    return sql::TranslateBound(statement, sql::Dialect::Desktop, sql::Target::PostgreSQL, context);
  };
  // The first (side 1) or the second (side 2) statement of a case.
  const auto statement = [](std::string_view both, int side) {
    const std::regex choice(R"(\{([^|}]*)\|([^}]*)\})");
    return std::regex_replace(std::string(both), choice, side == 1 ? "$1" : "$2");
  };
  for (const auto& [both, shared] : cases) {
    SCOPED_TRACE(both);
    TranslationCache cache(8);
    int translated = 0;
    const TranslationCache::Translate counting = [&](std::string_view text) {
      ++translated;
      return direct(text);
    };
    (void)cache.Find(statement(both, 1), clock, counting);
    const int learning = translated;
    const TranslationCache::Shared got = cache.Find(statement(both, 2), clock, counting);
    const sql::Translation expected = direct(statement(both, 2));
    EXPECT_EQ(got->text, expected.text);
    EXPECT_EQ(got->values, expected.values);
    EXPECT_EQ(translated == learning, shared);
  }
}

// A statement that ends with a key is found by its head, for every key, as translating it gives;
// a head whose number is part of a word, or a negative key, gets none.
TEST(TranslationCache, KeyedStatementsShareOneTranslationWhereTheKeyIsBound) {
  const vb::FixedClock clock(vb::Date::FromParts(2024, 3, 15, 9));
  const sql::Context context = sql::ActionsContext(clock, vb::Locale::EnUS());
  const TranslationCache::Translate direct = [&](std::string_view statement) {
    return sql::TranslateBound(statement, sql::Dialect::Desktop, sql::Target::PostgreSQL, context);
  };
  TranslationCache cache(8);
  const std::string head = "select * from actions where Subject='a' and ActionID =";
  for (const int32_t key : {5, 77}) {
    const TranslationCache::Keyed* keyed = cache.FindKeyed(head, key, clock, direct);
    ASSERT_NE(keyed, nullptr);
    std::vector<vb::Variant> values = keyed->translation->values;
    values[keyed->position] = key;
    const sql::Translation expected = direct(head + std::to_string(key));
    EXPECT_EQ(keyed->translation->text, expected.text);
    EXPECT_EQ(values, expected.values);
  }
  EXPECT_EQ(cache.FindKeyed("select * from actions where AssigneeID=u", 3, clock, direct), nullptr);
  EXPECT_EQ(cache.FindKeyed(head, -4, clock, direct), nullptr);
}

}  // namespace
}  // namespace kvdata
