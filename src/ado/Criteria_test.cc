#include "ado/Criteria.h"

#include <gtest/gtest.h>

#include "ado/Errors.h"
#include "vb/Date.h"
#include "vb/testing/ErrorOf.h"

namespace ado {
namespace {

const vb::Locale& Us() { return vb::Locale::EnUS(); }

Criterion Read(std::string_view text, const vb::Locale& locale = vb::Locale::EnUS()) {
  return Criterion::Parse(text, locale);
}

TEST(CriterionParse, ReadsNameOperatorAndLiteralWithOrWithoutBlanks) {
  const Criterion tight = Read("ActionID=5");
  EXPECT_EQ(tight.FieldName(), "ActionID");
  EXPECT_EQ(tight.Op(), CompareOp::kEqual);
  EXPECT_EQ(tight.Literal(), vb::Variant(5.0));

  const Criterion spaced = Read("  ActionID = 5  ");
  EXPECT_EQ(spaced.FieldName(), "ActionID");

  EXPECT_EQ(Read("a<>1").Op(), CompareOp::kNotEqual);
  EXPECT_EQ(Read("a<=1").Op(), CompareOp::kLessEqual);
  EXPECT_EQ(Read("a>=1").Op(), CompareOp::kGreaterEqual);
  EXPECT_EQ(Read("a<1").Op(), CompareOp::kLess);
  EXPECT_EQ(Read("a>-1.5").Literal(), vb::Variant(-1.5));
  EXPECT_EQ(Read("Subject LIKE 'a*'").Op(), CompareOp::kLike);
}

TEST(CriterionParse, ReadsBracketedNamesQuotedTextsDatesAndNull) {
  const Criterion bracketed = Read("[Due Date] >= #2021-03-04#");
  EXPECT_EQ(bracketed.FieldName(), "Due Date");
  EXPECT_EQ(bracketed.Literal(), vb::Variant(vb::Date::FromParts(2021, 3, 4)));

  EXPECT_EQ(Read("Name = 'O''Brien'").Literal(), vb::Variant("O'Brien"));
  EXPECT_EQ(Read("Name = ''").Literal(), vb::Variant(""));
  EXPECT_EQ(Read("d = #3/4/2021#").Literal(), vb::Variant(vb::Date::FromParts(2021, 3, 4)));
  EXPECT_EQ(Read("d = #3/4/2021#", vb::Locale::EnGB()).Literal(),
            vb::Variant(vb::Date::FromParts(2021, 4, 3)));
  EXPECT_TRUE(Read("x = null").Literal().IsNull());
  // A bare word that is no number is text as it stands, quotes and all.
  EXPECT_EQ(Read("Column1 = 1'1").Literal(), vb::Variant("1'1"));
  EXPECT_EQ(Read("A = abc").Literal(), vb::Variant("abc"));
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

TEST(CriterionMatches, ComparesNumbersWhateverTheirWidth) {
  const Criterion five = Read("ActionID = 5");
  EXPECT_TRUE(five.Matches(int32_t{5}));
  EXPECT_TRUE(five.Matches(int16_t{5}));
  EXPECT_FALSE(five.Matches(int32_t{6}));
  EXPECT_TRUE(Read("n > 4.5").Matches(int32_t{5}));
  EXPECT_TRUE(Read("Alert = -1").Matches(true));
  EXPECT_TRUE(Read("Alert = 0").Matches(false));
  EXPECT_TRUE(Read("n = '5'").Matches(int32_t{5}));
  EXPECT_FALSE(Read("n = 'five'").Matches(int32_t{5}));
  EXPECT_FALSE(Read("n <> 'five'").Matches(int32_t{5}));
}

TEST(CriterionMatches, ComparesTextsWithoutRegardToLetterCase) {
  EXPECT_TRUE(Read("Name = 'kim'").Matches("KIM"));
  EXPECT_TRUE(Read("Name <> 'kim'").Matches("Lee"));
  EXPECT_TRUE(Read("Name < 'b'").Matches("Apple"));
  EXPECT_TRUE(Read("Code = 5").Matches("5"));
}

TEST(CriterionMatches, ComparesDatesAsDates) {
  const vb::Variant day = vb::Date::FromParts(2021, 3, 4);
  EXPECT_TRUE(Read("DateDue = #3/4/2021#").Matches(day));
  EXPECT_TRUE(Read("DateDue < #2021-03-05#").Matches(day));
  EXPECT_TRUE(Read("DateDue = '2021-03-04'").Matches(day));
  EXPECT_FALSE(Read("DateDue = 'soon'").Matches(day));
  EXPECT_TRUE(Read("DateDue = #4/3/2021#", vb::Locale::EnGB()).Matches(day));
}

TEST(CriterionMatches, MissingValuesSatisfyOnlyEqualsNull) {
  EXPECT_TRUE(Read("x = Null").Matches(vb::Null));
  EXPECT_TRUE(Read("x = Null").Matches(vb::Variant{}));
  EXPECT_FALSE(Read("x = Null").Matches(int32_t{0}));
  EXPECT_TRUE(Read("x <> Null").Matches(""));
  EXPECT_FALSE(Read("x <> Null").Matches(vb::Null));
  EXPECT_FALSE(Read("x <> 5").Matches(vb::Null));
  EXPECT_FALSE(Read("x like '*'").Matches(vb::Null));
}

TEST(CriterionMatches, LikeTestsTheValuesTextForm) {
  EXPECT_TRUE(Read("n like '1*'").Matches(int32_t{123}));
  EXPECT_TRUE(Read("d like '3/4/*'", Us()).Matches(vb::Date::FromParts(2021, 3, 4)));
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
