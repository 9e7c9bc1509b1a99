#include "kvdata/sql/Tokenizer.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "kvdata/Errors.h"
#include "vb/ComError.h"

namespace kvdata::sql {
namespace {

using testing::ElementsAre;
using testing::HasSubstr;

Token T(TokenKind kind, std::string text, bool space = false) {
  return Token{kind, std::move(text), space};
}

std::string RefusalText(std::string_view statement) {
  try {
    const std::vector<Token> tokens = Tokenize(statement);
    ADD_FAILURE() << "tokenized: " << statement;
  } catch (const vb::ComError& e) {
    EXPECT_EQ(e.number(), kSqlError);
    EXPECT_EQ(e.source(), "kvDataServer.DataConnection");
    return e.description();
  }
  return "";
}

TEST(TokenizeTest, SplitsEveryKindAndKeepsWhereBlanksStood) {
  EXPECT_THAT(
      Tokenize("select [Action Number],x.y from t where a<=-1.5e3 & #1/2/2025#"),
      ElementsAre(T(TokenKind::Word, "select"), T(TokenKind::Name, "Action Number", true),
                  T(TokenKind::Symbol, ","), T(TokenKind::Word, "x"), T(TokenKind::Symbol, "."),
                  T(TokenKind::Word, "y"), T(TokenKind::Word, "from", true),
                  T(TokenKind::Word, "t", true), T(TokenKind::Word, "where", true),
                  T(TokenKind::Word, "a", true), T(TokenKind::Symbol, "<="),
                  T(TokenKind::Symbol, "-"), T(TokenKind::Number, "1.5e3"),
                  T(TokenKind::Symbol, "&", true), T(TokenKind::Date, "1/2/2025", true)));
}

TEST(TokenizeTest, BothQuoteStylesAreTextsWithDoubledQuotesUndone) {
  EXPECT_THAT(Tokenize("'it''s' \"say \"\"hi\"\"\" 'a\\b' \"it's\""),
              ElementsAre(T(TokenKind::String, "it's"), T(TokenKind::String, "say \"hi\"", true),
                          T(TokenKind::String, "a\\b", true), T(TokenKind::String, "it's", true)));
}

TEST(TokenizeTest, SemicolonsAndTwoCharacterOperatorsAreSymbols) {
  EXPECT_THAT(Tokenize("<>!=>=||;"),
              ElementsAre(T(TokenKind::Symbol, "<>"), T(TokenKind::Symbol, "!="),
                          T(TokenKind::Symbol, ">="), T(TokenKind::Symbol, "||"),
                          T(TokenKind::Symbol, ";")));
  // A ';' inside a text is part of the text.
  EXPECT_THAT(Tokenize("'a;b'"), ElementsAre(T(TokenKind::String, "a;b")));
}

TEST(TokenizeTest, NonAsciiLettersBelongToWords) {
  EXPECT_THAT(Tokenize("Café = 'Zürich'"),
              ElementsAre(T(TokenKind::Word, "Café"), T(TokenKind::Symbol, "=", true),
                          T(TokenKind::String, "Zürich", true)));
}

TEST(TokenizeTest, RefusesTextThatIsNotValidUtf8) {
  EXPECT_THAT(RefusalText("select 'a\xff'"),
              HasSubstr("The statement is not valid UTF-8: select 'a?'"));
  RefusalText("select '\xc0\xaf'");          // overlong '/'
  RefusalText("select '\xed\xa0\x80'");      // a surrogate
  RefusalText("select '\xf4\x90\x80\x80'");  // beyond U+10FFFF
  RefusalText("select '\xe2\x82'");          // cut short
}

TEST(TokenizeTest, RefusesNulCommentsAndStrayCharacters) {
  EXPECT_THAT(RefusalText(std::string_view("select 'a\0b'", 12)), HasSubstr("NUL"));
  EXPECT_THAT(RefusalText("select 1 -- x"), HasSubstr("Comments are not accepted"));
  EXPECT_THAT(RefusalText("select 1 /* x */"), HasSubstr("Comments are not accepted"));
  EXPECT_THAT(RefusalText("select $1"), HasSubstr("unexpected character '$'"));
  RefusalText("select a::text");
  RefusalText("select 'a' \\ 'b'");
  RefusalText("select ?");
}

TEST(TokenizeTest, RefusesUnterminatedAndMalformedTokens) {
  EXPECT_THAT(RefusalText("select 'it''s"), HasSubstr("unterminated text"));
  EXPECT_THAT(RefusalText("select \"abc"), HasSubstr("unterminated text"));
  EXPECT_THAT(RefusalText("select [abc"), HasSubstr("unterminated name"));
  EXPECT_THAT(RefusalText("select #1/2/2025"), HasSubstr("unterminated date literal"));
  EXPECT_THAT(RefusalText("select []"), HasSubstr("malformed name"));
  EXPECT_THAT(RefusalText("select 12abc"), HasSubstr("malformed number"));
  RefusalText("select 0x1F");
  RefusalText("select 1.2.3");
}

}  // namespace
}  // namespace kvdata::sql
