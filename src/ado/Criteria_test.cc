#include "ado/Criteria.h"

#include <gtest/gtest.h>

#include "ado/Errors.h"
#include "vb/Convert.h"
#include "vb/Date.h"
#include "vb/testing/ErrorOf.h"

namespace ado {
namespace {

Criterion Read(std::string_view text, const vb::Locale& locale = vb::Locale::EnUS()) {
  return Criterion::Parse(text, locale);
}

TEST(CriterionParse, ReadsNameOperatorAndLiteralWithOrWithoutBlanksAndBrackets) {
  const Criterion tight = Read("ActionID=5");
  EXPECT_EQ(tight.FieldName(), "ActionID");
  EXPECT_EQ(tight.Op(), CompareOp::kEqual);
  EXPECT_EQ(tight.Literal(), vb::Variant(5.0));
  EXPECT_EQ(Read("  ActionID = 5  ").FieldName(), "ActionID");
  EXPECT_EQ(Read("[Due Date] >= #2021-03-04#").FieldName(), "Due Date");
}

TEST(CriterionParse, RefusesMalformedTextsWithBadArguments) {
  for (const char* text : {"",
                           "   ",
                           "ActionID",
                           "ActionID =",
                           "= 5",
                           "A = 'open",
                           "A = 5 and B = 6",
                           "A = 5 6",
                           "A like 5",
                           "A < Null",
                           "A like null",
                           "A = #2021-02-30#",
                           "A = #3/4/2021",
                           "[A = 1",
                           "[] = 1",
                           "A == 1",
                           "A = inf",
                           "A = nan",
                           "A = 1e999",
                           "A =<1",
                           "A = Nullx"}) {
    EXPECT_EQ(vb::testing::ErrorOf([&] { static_cast<void>(Read(text)); }).number(), kBadArguments)
        << text;
  }
}

// Numbers compare whatever their width, texts without regard to letter case, dates as dates;
// a missing value satisfies only "= Null", and like tests the value's text form. A bare word
// that is no number is text as it stands, quotes and all.
TEST(CriterionMatches, ComparesByTheLiteralsKind) {
  const vb::Variant day = vb::Date::FromParts(2021, 3, 4);
  const struct {
    const char* criterion;
    vb::Variant value;
    bool matches;
  } cases[] = {{"ActionID = 5", int32_t{5}, true},
               {"ActionID = 5", int16_t{5}, true},
               {"ActionID = 5", int32_t{6}, false},
               {"n > 4.5", int32_t{5}, true},
               {"n>-1.5", int32_t{-1}, true},
               {"n<=1", int32_t{1}, true},
               {"n<=1", int32_t{2}, false},
               {"n>=1", int32_t{1}, true},
               {"n>=1", int32_t{0}, false},
               {"n<1", int32_t{1}, false},
               {"Alert = -1", true, true},
               {"Alert = 0", false, true},
               {"n = '5'", int32_t{5}, true},
               {"n = 'five'", int32_t{5}, false},
               {"n <> 'five'", int32_t{5}, false},
               {"Name = 'kim'", "KIM", true},
               {"Name <> 'kim'", "Lee", true},
               {"Name < 'b'", "Apple", true},
               {"Name = 'O''Brien'", "o'brien", true},
               {"Name = ''", "", true},
               {"Column1 = 1'1", "1'1", true},
               {"A = abc", "ABC", true},
               {"Subject LIKE 'a*'", "Abc", true},
               {"Code = 5", "5", true},
               {"DateDue = #3/4/2021#", day, true},
               {"[Due Date] >= #2021-03-04#", day, true},
               {"DateDue < #2021-03-05#", day, true},
               {"DateDue = '2021-03-04'", day, true},
               {"DateDue = 'soon'", day, false},
               {"DateDue = 44259", day, true},  // a number is a date's serial
               {"x = Null", vb::Null, true},
               {"x = Null", vb::Variant{}, true},
               {"x = Null", int32_t{0}, false},
               {"x <> Null", "", true},
               {"x <> Null", vb::Null, false},
               {"x <> 5", vb::Null, false},
               {"x like '*'", vb::Null, false},
               {"n like '1*'", int32_t{123}, true},
               {"d like '3/4/*'", day, true}};
  for (const auto& c : cases) {
    EXPECT_EQ(Read(c.criterion).Matches(c.value), c.matches)
        << c.criterion << " with " << vb::TextOf(c.value);
  }
  EXPECT_TRUE(Read("DateDue = #4/3/2021#", vb::Locale::EnGB()).Matches(day));
}

TEST(MatchesLike, WildcardsStandAnywhere) {
  EXPECT_TRUE(MatchesLike("Report", "rep*"));
  EXPECT_TRUE(MatchesLike("Report", "%ORT"));
  EXPECT_TRUE(MatchesLike("Report", "r*p*t"));
  EXPECT_TRUE(MatchesLike("Report", "R_p?rt"));
  EXPECT_TRUE(MatchesLike("", "*"));
  EXPECT_TRUE(MatchesLike("abcabd", "*abd"));
  EXPECT_FALSE(MatchesLike("Report", "rep"));
  EXPECT_FALSE(MatchesLike("Report", "?eport?"));
  EXPECT_FALSE(MatchesLike("", "_"));
}

TEST(MatchesLike, OneCharacterWildcardTakesAWholeUtf8Character) {
  EXPECT_TRUE(MatchesLike("Ma\u00EFs", "Ma_s"));
  EXPECT_TRUE(MatchesLike("\u20AC5", "?5"));
  EXPECT_FALSE(MatchesLike("\u20AC5", "??5"));
  EXPECT_TRUE(MatchesLike("a\u00EFb\u00EFc", "*\u00EFc"));
}

}  // namespace
}  // namespace ado
