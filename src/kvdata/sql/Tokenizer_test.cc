#include "kvdata/sql/Tokenizer.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "kvdata/Errors.h"
#include "kvdata/sql/ReadOnlyCheck.h"
#include "vb/ComError.h"
#include "vb/testing/ErrorOf.h"

namespace kvdata::sql {
namespace {

using testing::ElementsAre;
using testing::HasSubstr;

Token T(TokenKind kind, std::string text, bool space = false) {
  return Token{kind, std::move(text), space};
}

TEST(TokenizeTest, SplitsEveryKindAndKeepsWhereBlanksStood) {
  EXPECT_THAT(
      Tokenize("select [Action Number],x.y from Café where a<=-1.5e3 & #1/2/2025#"),
      ElementsAre(T(TokenKind::Word, "select"), T(TokenKind::Name, "Action Number", true),
                  T(TokenKind::Symbol, ","), T(TokenKind::Word, "x"), T(TokenKind::Symbol, "."),
                  T(TokenKind::Word, "y"), T(TokenKind::Word, "from", true),
                  T(TokenKind::Word, "Café", true), T(TokenKind::Word, "where", true),
                  T(TokenKind::Word, "a", true), T(TokenKind::Symbol, "<="),
                  T(TokenKind::Symbol, "-"), T(TokenKind::Number, "1.5e3"),
                  T(TokenKind::Symbol, "&", true), T(TokenKind::Date, "1/2/2025", true)));
}

TEST(TokenizeTest, BothQuoteStylesAreTextsWithDoubledQuotesUndone) {
  // A ';' inside a text is part of the text.
  EXPECT_THAT(Tokenize("'it''s' \"say \"\"hi\"\"\" 'a\\b;' \"it's\""),
              ElementsAre(T(TokenKind::String, "it's"), T(TokenKind::String, "say \"hi\"", true),
                          T(TokenKind::String, "a\\b;", true), T(TokenKind::String, "it's", true)));
}

TEST(TokenizeTest, RefusesWhatNoStatementMayHold) {
  const std::pair<std::string_view, std::string_view> cases[] = {
      // The well-formedness rules themselves are pinned where UTF-8 is checked; the refusals
      // that can be written as text stand in testdata/refusals.txt.
      {"select 'a\xff'", "The statement is not valid UTF-8: select 'a?'"},
      {"select '\xf0\x9d\x84\x9e' '\xf4\x90\x80\x80'",  // U+1D11E, then one past U+10FFFF
       "The statement is not valid UTF-8: select '\xf0\x9d\x84\x9e' '???"
       "?'"},
      {std::string_view("select 'a\0b'", 12), "NUL"},
  };
  for (const auto& [statement, reason] : cases) {
    const vb::ComError e = vb::testing::ErrorOf([&] { (void)Tokenize(statement); });
    EXPECT_EQ(e.number(), kSqlError);
    EXPECT_THAT(e.description(), HasSubstr(std::string(reason))) << statement;
  }
}

// The second look at list and count statements, over texts as the renderer writes them.
TEST(ReadOnlyCheck, AcceptsRenderedListsAndRefusesAnythingBeyondTheActionsTable) {
  for (const char* accepted : {
           "select * from actions where reference = 'x'' union select 1' order by ActionNumber",
           R"(select count("ActionNumber") from "actions" where ("DateClosed" IS NULL) and )"
           R"(("DateDue" < TIMESTAMP '2026-12-06 00:00:00' and "AssigneeID"=?))",
           R"(Select * from "actions" where "Subject" ILIKE '%a"b%' ESCAPE '' and )"
           R"("Reviewed" <> CAST(? AS integer) and not ("DateDue" IS NULL))",
           "select * from actions where DateDue <= datetime('2024-03-15', '+3 days') LIMIT 1",
       }) {
    EXPECT_NO_THROW(CheckReadsOnlyActions(accepted)) << accepted;
  }
  for (const char* refused : {
           "select * from actions where x='' union select * from Users",
           "select * from actions where ActionID in (select ActionID from actions)",
           "select * from actions, Users",
           R"(select * from "actions" join "Users" on 1=1)",
           "select * from Users",
           "select * from actions where pg_read_file('/etc/passwd') <> ''",
           R"(select * from actions where "lo_export"(1, 'x') = 1)",
           "select * from actions; delete from actions",
           "delete from actions",
           "select * from actions where Subject = 'open",
       }) {
    EXPECT_EQ(vb::testing::ErrorOf([&] { CheckReadsOnlyActions(refused); }).number(), kSqlError)
        << refused;
  }
}

}  // namespace
}  // namespace kvdata::sql
