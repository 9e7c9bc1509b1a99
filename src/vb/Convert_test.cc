#include "vb/Convert.h"

#include <limits>

#include <gtest/gtest.h>

#include "vb/ComError.h"
#include "vb/testing/ErrorOf.h"

namespace vb {
namespace {

using testing::ErrorOf;

TEST(VariantKinds, EmptyAndNullStayApart) {
  EXPECT_EQ(Variant().VarType(), vbEmpty);
  EXPECT_EQ(Variant(Null).VarType(), vbNull);
  EXPECT_NE(Variant(), Variant(Null));
  EXPECT_NE(Variant(int16_t{1}), Variant(int32_t{1}));
  EXPECT_EQ(Variant(2.5).VarType(), vbDouble);
  EXPECT_EQ(Variant(Date()).VarType(), vbDate);
  EXPECT_EQ(Variant("x").VarType(), vbString);
  EXPECT_EQ(Variant(true).VarType(), vbBoolean);
  EXPECT_TRUE(Variant(int16_t{1}).IsNumeric());
  EXPECT_FALSE(Variant("1").IsNumeric());
}

TEST(CStr, WritesEachKindInItsTextForm) {
  EXPECT_EQ(CStr("as is "), "as is ");
  EXPECT_EQ(CStr(int16_t{-7}), "-7");
  EXPECT_EQ(CStr(int32_t{123456}), "123456");
  EXPECT_EQ(CStr(true), "True");
  EXPECT_EQ(CStr(false), "False");
  EXPECT_EQ(CStr(Variant()), "");
  EXPECT_EQ(CStr(Date::FromParts(2025, 1, 2, 15, 4, 5)), "1/2/2025 3:04:05 PM");
  EXPECT_EQ(CStr(Date::FromParts(2025, 1, 2), Locale::EnGB()), "02/01/2025");
  EXPECT_EQ(ErrorOf([] { (void)CStr(Null); }).number(), kInvalidUseOfNull);
  EXPECT_EQ(TextOf(Null), "");
  EXPECT_EQ(TextOf(int32_t{5}), "5");
}

TEST(CStr, WritesDoublesInShortestDigits) {
  EXPECT_EQ(CStr(2.5), "2.5");
  EXPECT_EQ(CStr(-0.0), "0");
  EXPECT_EQ(CStr(100.0), "100");
  EXPECT_EQ(CStr(0.1), "0.1");
  EXPECT_EQ(CStr(0.0001), "0.0001");
  EXPECT_EQ(CStr(0.00001), "1E-05");
  EXPECT_EQ(CStr(123456789012345.0), "123456789012345");
  EXPECT_EQ(CStr(1e15), "1E+15");
  EXPECT_EQ(CStr(1e20), "1E+20");
  EXPECT_EQ(CStr(-1.5e-300), "-1.5E-300");
  EXPECT_EQ(CStr(1.0 / 3), "0.3333333333333333");
}

TEST(CIntCLng, RoundHalvesToEven) {
  EXPECT_EQ(CInt(2.5), 2);
  EXPECT_EQ(CInt(3.5), 4);
  EXPECT_EQ(CInt(-2.5), -2);
  EXPECT_EQ(CInt(2.6), 3);
  EXPECT_EQ(CLng(-3.5), -4);
  EXPECT_EQ(CInt(" 2.5 "), 2);
  EXPECT_EQ(RoundHalfEven(0.5), 0.0);
  EXPECT_EQ(RoundHalfEven(-1.4), -1.0);
}

TEST(CIntCLng, OverflowRaises6) {
  EXPECT_EQ(CInt(32767.4), 32767);
  EXPECT_EQ(CInt(-32768.5), -32768);
  EXPECT_EQ(ErrorOf([] { (void)CInt(32767.5); }).number(), kOverflow);
  EXPECT_EQ(ErrorOf([] { (void)CInt(int32_t{40000}); }).number(), kOverflow);
  EXPECT_EQ(CLng("2147483647"), std::numeric_limits<int32_t>::max());
  EXPECT_EQ(ErrorOf([] { (void)CLng("2147483648"); }).number(), kOverflow);
  EXPECT_EQ(ErrorOf([] { (void)CLng("1e999"); }).number(), kOverflow);
}

TEST(CIntCLng, ReadsOtherKinds) {
  EXPECT_EQ(CInt(true), -1);
  EXPECT_EQ(CInt(false), 0);
  EXPECT_EQ(CInt(Variant()), 0);
  EXPECT_EQ(CLng(Date::FromParts(2025, 1, 2, 15, 0, 0)), 45660);
  EXPECT_EQ(CLng("-1.5e2"), -150);
  EXPECT_EQ(CLng("+.5e1"), 5);
  EXPECT_EQ(CLng("1e-400"), 0);
  EXPECT_EQ(CInt("&HFFFF"), -1);
  EXPECT_EQ(CLng("&h10"), 16);
  EXPECT_EQ(CLng("&HFFFFFFFF"), -1);
  for (const char* bad : {"", " ", "abc", "1 2", "1e", "1,5", "--1", ".", "&H", "&HG", "inf", "nan",
                          "0x10", "&H123456789"}) {
    EXPECT_EQ(ErrorOf([&] { (void)CLng(bad); }).number(), kTypeMismatch) << bad;
  }
  EXPECT_EQ(ErrorOf([] { (void)CInt(Null); }).number(), kInvalidUseOfNull);
}

TEST(CBool, ReadsWordsNumbersAndOtherKinds) {
  EXPECT_TRUE(CBool("tRUE"));
  EXPECT_FALSE(CBool(" False "));
  EXPECT_TRUE(CBool("-1"));
  EXPECT_FALSE(CBool("0.0"));
  EXPECT_TRUE(CBool(0.5));
  EXPECT_FALSE(CBool(int16_t{0}));
  EXPECT_FALSE(CBool(Variant()));
  EXPECT_FALSE(CBool(Date()));
  EXPECT_TRUE(CBool(Date::FromParts(2025, 1, 2)));
  EXPECT_EQ(ErrorOf([] { (void)CBool("yes"); }).number(), kTypeMismatch);
  EXPECT_EQ(ErrorOf([] { (void)CBool(Null); }).number(), kInvalidUseOfNull);
}

TEST(CDate, ReadsTextsInTheLocaleAndNumbersAsSerials) {
  const Date day = Date::FromParts(2025, 1, 2);
  EXPECT_EQ(CDate("1/2/2025"), day);
  EXPECT_EQ(CDate("02/01/2025", Locale::EnGB()), day);
  EXPECT_EQ(CDate(day), day);
  EXPECT_EQ(CDate(45659.5), Date::FromParts(2025, 1, 2, 12, 0, 0));
  EXPECT_EQ(CDate(Variant()), Date());
  EXPECT_EQ(ErrorOf([] { (void)CDate("2/30/2025"); }).number(), kTypeMismatch);
  EXPECT_EQ(ErrorOf([] { (void)CDate("13/1/2025"); }).number(), kTypeMismatch);
  EXPECT_EQ(ErrorOf([] { (void)CDate(1e10); }).number(), kOverflow);
  EXPECT_EQ(ErrorOf([] { (void)CDate(Null); }).number(), kInvalidUseOfNull);
}

TEST(IsDate, TrueOnlyForDatesAndDateTexts) {
  EXPECT_TRUE(IsDate(Date()));
  EXPECT_TRUE(IsDate("12/31/1999 11:59 PM"));
  EXPECT_FALSE(IsDate("2/29/2025"));
  EXPECT_TRUE(IsDate("29/2/2024", Locale::EnGB()));
  EXPECT_FALSE(IsDate(45659.0));
  EXPECT_FALSE(IsDate(Null));
  EXPECT_FALSE(IsDate(""));
}

TEST(DateValue, DropsTheTime) {
  EXPECT_EQ(DateValue("1/2/2025 3:04 PM"), Date::FromParts(2025, 1, 2));
  EXPECT_EQ(ErrorOf([] { (void)DateValue("soon"); }).number(), kTypeMismatch);
}

TEST(Val, ReadsTheLeadingNumber) {
  EXPECT_EQ(Val("2.5abc"), 2.5);
  EXPECT_EQ(Val(" 12 "), 12.0);
  EXPECT_EQ(Val("1 2\t3"), 123.0);
  EXPECT_EQ(Val("abc"), 0.0);
  EXPECT_EQ(Val(""), 0.0);
  EXPECT_EQ(Val("-3.5"), -3.5);
  EXPECT_EQ(Val("1e3"), 1000.0);
  EXPECT_EQ(Val("1e"), 1.0);
  EXPECT_EQ(Val("1.2.3"), 1.2);
  EXPECT_EQ(Val("-"), 0.0);
}

TEST(CompareOrdinal, OrdersCodeUnitsWithPrefixSmaller) {
  EXPECT_EQ(CompareOrdinal("1.003", "1.003"), 0);
  EXPECT_LT(CompareOrdinal("1.003", "1.0030"), 0);
  EXPECT_GT(CompareOrdinal("1.01", "1.003"), 0);
  EXPECT_LT(CompareOrdinal("1.002", "1.003"), 0);
  EXPECT_GT(CompareOrdinal("2.000", "1.003"), 0);
  EXPECT_LT(CompareOrdinal("", "1.003"), 0);
  EXPECT_GT(CompareOrdinal("\xC3\xA9", "z"), 0);  // bytes compare unsigned
}

TEST(CompareText, FoldsAsciiLetters) {
  EXPECT_EQ(CompareText("Open", "oPEN"), 0);
  EXPECT_LT(CompareText("abc", "ABD"), 0);
  EXPECT_LT(CompareText("ab", "AB "), 0);
  EXPECT_TRUE(EqualsText("SuperUser", "superuser"));
  EXPECT_FALSE(EqualsText("a", "ab"));
  EXPECT_TRUE(ContainsText("Quality Review", "VIEW"));
  EXPECT_TRUE(ContainsText("x", ""));
  EXPECT_FALSE(ContainsText("Review", "views"));
  EXPECT_EQ(LCase("MiXed 1"), "mixed 1");
  EXPECT_EQ(UCase("MiXed \xC3\xA9"), "MIXED \xC3\xA9");
}

}  // namespace
}  // namespace vb
