#include "kvdata/DataUtility.h"

#include <gtest/gtest.h>

#include "vb/ComError.h"
#include "vb/testing/ErrorOf.h"

namespace kvdata {
namespace {

TEST(SqlText, QuotesTextAndDoublesEveryApostrophe) {
  EXPECT_EQ(DataUtility::SqlText("kim"), "'kim'");
  EXPECT_EQ(DataUtility::SqlText(""), "''");
  EXPECT_EQ(DataUtility::SqlText("O'Brien's"), "'O''Brien''s'");
  EXPECT_EQ(DataUtility::SqlText("'"), "''''");
  // Backslashes and double quotes are ordinary characters in a standard literal.
  EXPECT_EQ(DataUtility::SqlText(R"(a\'b"c)"), R"('a\''b"c')");
}

TEST(LinkQuery, NamesKindDatabaseAndActionAndOnlyNonZeroFurtherValues) {
  EXPECT_EQ(DataUtility::LinkQuery(2, 23456, 17, 0, 0, 0), "LinkType=2&DBID=23456&ActionID=17");
  EXPECT_EQ(DataUtility::LinkQuery(2, 0, 5, 0, 9, 0), "LinkType=2&DBID=0&ActionID=5&P5=9");
}

}  // namespace
}  // namespace kvdata
