#include "vb/Convert.h"

#include <functional>
#include <limits>
#include <tuple>
#include <utility>

#include <gtest/gtest.h>

#include "vb/ComError.h"
#include "vb/ErrorTrap.h"
#include "vb/testing/ErrorOf.h"

namespace vb {
namespace {

using testing::ErrorOf;

TEST(CStr, WritesEachKindInItsTextFormAndDoublesInShortestDigits) {
  const std::pair<Variant, const char*> cases[] = {
      {"as is ", "as is "},
      {int16_t{-7}, "-7"},
      {int32_t{123456}, "123456"},
      {true, "True"},
      {Variant(), ""},
      {Date::FromParts(2025, 1, 2, 15, 4, 5), "1/2/2025 3:04:05 PM"},
      {2.5, "2.5"},
      {-0.0, "0"},
      {100.0, "100"},
      {0.0001, "0.0001"},
      {0.00001, "1E-05"},
      {123456789012345.0, "123456789012345"},
      {1e15, "1E+15"},
      {-1.5e-300, "-1.5E-300"},
      {1.0 / 3, "0.3333333333333333"}};
  for (const auto& [value, text] : cases) EXPECT_EQ(CStr(value), text) << text;
  EXPECT_EQ(CStr(Date::FromParts(2025, 1, 2), Locale::EnGB()), "02/01/2025");
  EXPECT_EQ(TextOf(Null), "");
  EXPECT_TRUE(Variant(2.5).IsNumeric());
  EXPECT_FALSE(Variant("1").IsNumeric());
}

TEST(CIntCLng, RoundHalvesToEvenWithinRange) {
  const std::pair<Variant, int32_t> cases[] = {
      {2.5, 2},         {3.5, 4},           {-2.5, -2}, {2.6, 3},       {" 2.5 ", 2},
      {32767.4, 32767}, {-32768.5, -32768}, {true, -1}, {Variant(), 0}, {"&HFFFF", -1}};
  for (const auto& [value, number] : cases) EXPECT_EQ(CInt(value), number) << CStr(value);
  EXPECT_EQ(CLng(-3.5), -4);
  EXPECT_EQ(RoundHalfEven(-1.4), -1.0);
}

TEST(Conversions, RaiseTheirErrors) {
  const std::pair<std::function<void()>, int32_t> cases[] = {
      {[] { (void)CStr(Null); }, kInvalidUseOfNull},
      {[] { (void)CInt(Null); }, kInvalidUseOfNull},
      {[] { (void)CBool(Null); }, kInvalidUseOfNull},
      {[] { (void)CDate(Null); }, kInvalidUseOfNull},
      {[] { (void)CInt(32767.5); }, kOverflow},
      {[] { (void)CInt(int32_t{40000}); }, kOverflow},
      {[] { (void)CLng("2147483648"); }, kOverflow},
      {[] { (void)CLng("1e999"); }, kOverflow},
      {[] { (void)CDate(1e10); }, kOverflow},
      {[] { (void)CBool("yes"); }, kTypeMismatch},
      {[] { (void)CDate("2/30/2025"); }, kTypeMismatch},
      {[] { (void)DateValue("soon"); }, kTypeMismatch}};
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    EXPECT_EQ(ErrorOf(cases[i].first).number(), cases[i].second) << "case " << i;
  }
}

TEST(CIntCLng, ReadsOtherKinds) {
  EXPECT_EQ(CLng(Date::FromParts(2025, 1, 2, 15, 0, 0)), 45660);
  EXPECT_EQ(CLng("-1.5e2"), -150);
  EXPECT_EQ(CLng("+.5e1"), 5);
  EXPECT_EQ(CLng("1e-400"), 0);
  EXPECT_EQ(CLng("&h10"), 16);
  EXPECT_EQ(CLng("&HFFFFFFFF"), -1);
  for (const char* bad : {"", " ", "abc", "1 2", "1e", "1,5", "--1", ".", "&H", "&HG", "inf", "nan",
                          "0x10", "&H123456789"}) {
    EXPECT_EQ(ErrorOf([&] { (void)CLng(bad); }).number(), kTypeMismatch) << bad;
  }
}

TEST(CBool, ReadsWordsNumbersAndOtherKinds) {
  const std::pair<Variant, bool> cases[] = {{"tRUE", true},   {" False ", false},
                                            {"-1", true},     {"0.0", false},
                                            {"#TRUE#", true}, {" #false# ", false},
                                            {0.5, true},      {Variant(), false},
                                            {Date(), false},  {Date::FromParts(2025, 1, 2), true}};
  for (const auto& [value, expected] : cases) EXPECT_EQ(CBool(value), expected) << TextOf(value);
  EXPECT_THROW(static_cast<void>(CBool("#YES#")), ComError);
}

TEST(CDate, ReadsTextsInTheLocaleAndNumbersAsSerials) {
  const Date day = Date::FromParts(2025, 1, 2);
  EXPECT_EQ(CDate("1/2/2025"), day);
  EXPECT_EQ(CDate("02/01/2025", Locale::EnGB()), day);
  EXPECT_EQ(CDate(day), day);
  EXPECT_EQ(CDate(45659.5), Date::FromParts(2025, 1, 2, 12, 0, 0));
  EXPECT_EQ(CDate("45659.5"), Date::FromParts(2025, 1, 2, 12, 0, 0));
  EXPECT_EQ(CDate(" 2 "), Date::FromParts(1900, 1, 1));
  EXPECT_THROW(static_cast<void>(CDate("2 apples")), ComError);
  EXPECT_EQ(CDate(Variant()), Date());
}

TEST(IsDate, TrueOnlyForDatesAndDateTexts) {
  EXPECT_TRUE(IsDate(Date()));
  EXPECT_TRUE(IsDate("12/31/1999 11:59 PM"));
  EXPECT_FALSE(IsDate("2/29/2025"));
  EXPECT_FALSE(IsDate(45659.0));
  EXPECT_FALSE(IsDate(Null));
  EXPECT_FALSE(IsDate(""));
  EXPECT_EQ(DateValue("1/2/2025 3:04 PM"), Date::FromParts(2025, 1, 2));  // drops the time
}

TEST(Val, ReadsTheLeadingNumber) {
  const std::pair<const char*, double> cases[] = {
      {"2.5abc", 2.5}, {" 12 ", 12.0},  {"1 2\t3", 123.0}, {"abc", 0.0},
      {"-3.5", -3.5},  {"1e3", 1000.0}, {"1e", 1.0},       {"1.2.3", 1.2}};
  for (const auto& [text, number] : cases) EXPECT_EQ(Val(text), number) << text;
}

// Ordinal order compares code units (bytes unsigned), a prefix first; text order folds ASCII
// letters.
TEST(Compare, OrdinalByCodeUnitsAndTextFoldingAsciiLetters) {
  const std::tuple<const char*, const char*, int, int> cases[] = {
      {"1.003", "1.003", 0, 0}, {"1.003", "1.0030", -1, -1}, {"1.01", "1.003", 1, 1},
      {"2.000", "1.003", 1, 1}, {"", "1.003", -1, -1},       {"\xC3\xA9", "z", 1, 1},
      {"Open", "oPEN", -1, 0},  {"abc", "ABD", 1, -1},       {"ab", "AB ", 1, -1}};
  const auto sign = [](int n) { return (n > 0) - (n < 0); };
  for (const auto& [a, b, ordinal, text] : cases) {
    EXPECT_EQ(sign(CompareOrdinal(a, b)), ordinal) << a << " / " << b;
    EXPECT_EQ(sign(CompareText(a, b)), text) << a << " / " << b;
  }
  EXPECT_TRUE(EqualsText("SuperUser", "superuser"));
  EXPECT_FALSE(EqualsText("a", "ab"));
  EXPECT_TRUE(ContainsText("Quality Review", "VIEW"));
  EXPECT_TRUE(ContainsText("x", ""));
  EXPECT_FALSE(ContainsText("Review", "views"));
  EXPECT_EQ(LCase("MiXed 1"), "mixed 1");
  EXPECT_EQ(UCase("MiXed \xC3\xA9"), "MIXED \xC3\xA9");
}

TEST(ComErrorRuntime, CarriesTheHostNumberSourceAndText) {
  const ComError e = ComError::Runtime(kDuplicateKey);
  EXPECT_EQ(e.number(), 457);
  EXPECT_EQ(e.source(), kRuntimeSource);
  EXPECT_EQ(e.description(), "This key is already associated with an element of this collection");
  EXPECT_STREQ(e.what(), e.description().c_str());
  EXPECT_EQ(ComError::RuntimeText(91), "Object variable or With block variable not set");
  EXPECT_EQ(ComError::RuntimeText(94), "Invalid use of Null");
  EXPECT_EQ(ComError::RuntimeText(12345), "");
}

TEST(ErrorTrap, KeepsTheLastFailureAndLeavesTheTargetAlone) {
  ErrorTrap trap;
  int target = 1;
  EXPECT_FALSE(trap.Assign(target, []() -> int { throw ComError::Runtime(kOverflow); }));
  EXPECT_EQ(target, 1);
  EXPECT_FALSE(trap.Run([] { throw ComError(42, "src", "second"); }));
  EXPECT_TRUE(trap.Assign(target, [] { return 2; }));
  EXPECT_EQ(target, 2);
  ASSERT_TRUE(trap.HasPending());
  const ComError e = testing::ErrorOf([&] { trap.RaiseIfPending("clsAction."); });
  EXPECT_EQ(e.number(), 42);
  EXPECT_EQ(e.source(), "clsAction.src");
  EXPECT_EQ(e.description(), "second");
}

}  // namespace
}  // namespace vb
