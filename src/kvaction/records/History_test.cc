#include "kvaction/records/History.h"

#include <map>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "vb/Convert.h"
#include "vb/Date.h"

namespace kvaction {
namespace {

using vb::Null;
using vb::Variant;

class ColumnHistoryTest : public ::testing::Test {
 protected:
  /// The label of a key is the key itself unless set in labels; every lookup is noted.
  std::optional<HistoryLine> Line(std::string_view column, const Variant& oldValue,
                                  const Variant& newValue) {
    const LabelLookup lookup = [this](std::string_view name, bool& flag) {
      EXPECT_FALSE(flag);
      asked.emplace_back(name);
      const auto it = labels.find(std::string(name));
      return it == labels.end() ? std::string(name) : it->second;
    };
    return ColumnHistory(column, oldValue, newValue, lookup, vb::Locale::EnUS(), reviewText);
  }

  std::map<std::string, std::string> labels;
  std::vector<std::string> asked;
  std::string reviewText;
};

HistoryLine L(ActionEventCode code, std::string text) { return {code, std::move(text)}; }

const Variant kJan5 = vb::Date::FromParts(2025, 1, 5);
const Variant kFeb10 = vb::Date::FromParts(2025, 2, 10);
const HistoryLine kReviewed =
    L(evReviewChanged, "The Action was reviewed by the Assignee or the Originator.");

// Dates are written in the short form, with a time only when they have one; people and the
// closing date have codes of their own; other columns record changes and clears but not sets.
TEST_F(ColumnHistoryTest, EachColumnWritesItsLineOrNone) {
  labels = {{"DateDue", "Due Date"}};
  const std::optional<HistoryLine> none;
  const struct {
    const char* column;
    Variant oldValue, newValue;
    std::optional<HistoryLine> line;
  } cases[] = {
      {"DateDue", kJan5, kFeb10,
       L(evDateDueChanged, "The Due Date was changed from 1/5/2025 to 2/10/2025")},
      {"DateDue", kJan5, vb::Date::FromParts(2025, 2, 10, 14, 30),
       L(evDateDueChanged, "The Due Date was changed from 1/5/2025 to 2/10/2025 2:30:00 PM")},
      {"DateDue", Null, kFeb10, L(evDateDueChanged, "The Due Date was set to: 2/10/2025")},
      {"DateDue", kJan5, Null, L(evDateDueChanged, "The Due Date was cleared")},
      // DateOpened has no set line and an odd cleared line.
      {"DateOpened", Null, kJan5, none},
      {"DateOpened", kJan5, Null,
       L(evDateOpenedChanged, "The DateOpened was changed from cleared")},
      {"DateOpened", kJan5, kFeb10,
       L(evDateOpenedChanged, "The DateOpened was changed from 1/5/2025 to 2/10/2025")},
      {"Assignee", Null, "Kim", L(evAssigneeChanged, "The Action was assigned to: Kim")},
      {"Assignee", "Kim", "Lee", L(evAssigneeChanged, "The Assignee was changed from Kim to Lee")},
      {"Assignee", "Kim", Null, L(evAssigneeChanged, "The Assignee was cleared")},
      {"Originator", Null, "Lee", L(evOriginatorChanged, "The Originator was set to: Lee")},
      {"DateClosed", Null, kJan5, L(evDateClosedChanged, "The DateClosed was set to: 1/5/2025")},
      {"Subject", "a", "A", L(evFieldChanged, "The Subject was changed from a to A")},
      {"Subject", Null, "a", none},
      {"Category", "x", Null, L(evFieldChanged, "The Category was cleared from x")},
      // An empty text is not null: the Changed line with an empty new value.
      {"Priority", "High", "", L(evFieldChanged, "The Priority was changed from High to ")},
      {"Priority", "", Null, L(evFieldChanged, "The Priority was cleared from ")},
      {"Priority", Null, "", none},
      // Long texts are never copied.
      {"Description", "old", "new", L(evFieldChanged, "The Description was changed")},
      {"Result", "old", Null, L(evFieldChanged, "The Result was cleared")},
      {"Result", Null, "new", none},
      // Names match only in their exact letter case.
      {"DATEDUE", Null, kJan5, none},
      {"assigneeid", "kim", "lee", L(evFieldChanged, "The assigneeid was changed from kim to lee")},
      {"reviewed", int16_t{0}, int16_t{11},
       L(evFieldChanged, "The reviewed was changed from 0 to 11")},
      // Equal values record nothing whatever their types; key and bookkeeping columns are silent.
      {"Subject", "a", "a", none},
      {"Subject", Null, Null, none},
      {"ActionNumber", int16_t{5}, int32_t{5}, none},
      {"DateDue", kJan5, "1/5/2025", none},
      {"Flags", "a", "b", none},
      {"ReferenceID", "a", "b", none},
      {"AssigneeID", "a", "b", none},
      {"OriginatorID", "a", "b", none},
      {"ActionType", "a", "b", none},
      // Alert is recorded only when switched on.
      {"Alert", false, true, kReviewed},
      {"Alert", int16_t{0}, int16_t{-1}, kReviewed},
      {"Alert", true, false, none},
      {"Alert", int16_t{0}, int16_t{1}, none},
      {"Alert", Null, true, none},
      {"Alert", true, Null, none},
      // A text switches it on when it holds -1 alone, blanks around it allowed.
      {"Alert", false, " -1 ", kReviewed},
      {"Alert", false, "-1x", none},
      {"Alert", false, "  ", none},
      {"Alert", false, "yes", none},
      {"Alert", false, vb::Variant{}, none},
      // Numbers of different types compare by value, a text and a number by their texts.
      {"Subject", 2.0, int16_t{2}, none},
      {"Subject", "2", int16_t{2}, none}};
  for (const auto& c : cases) {
    asked.clear();
    EXPECT_EQ(Line(c.column, c.oldValue, c.newValue), c.line)
        << c.column << " " << vb::TextOf(c.oldValue) << " " << vb::TextOf(c.newValue);
    if (!c.line) {
      EXPECT_TRUE(asked.empty()) << c.column;  // nothing to write: no label asked
    }
  }
}

TEST_F(ColumnHistoryTest, ReviewLineNamesWhoMovedTheAction) {
  const std::pair<int16_t, const char*> cases[] = {
      {0, "The Originator has assigned the Action."},
      {1, "The Originator has rejected the Action."},
      {2, "The Originator has provided clarification for the Action."},
      {10, "The Originator has not yet assigned the Action."},
      {11, "The Assignee has completed the Action."},
      {12, "The Assignee has requested clarification of the Action."},
      {40, "The Originator has reopened the Action."},
      {41, "The Assignee has reopened the Action."},
      {42, "Another user has reopened the Action."},
      {50, "The Originator has closed the Action."},
      {51, "The Assignee has closed the Action."},
      {52, "Another user has closed the Action."}};
  for (const auto& [status, text] : cases) {
    EXPECT_EQ(Line("Reviewed", int16_t{99}, status), L(evReviewChanged, text));
    EXPECT_EQ(reviewText, text);
  }
}

TEST_F(ColumnHistoryTest, ReviewLineAsksOnlyForTheLabelsOfItsRow) {
  labels = {{"Originator", "Requester"}, {"Action", "Task"}};
  EXPECT_EQ(Line("Reviewed", int16_t{10}, int16_t{0}),
            L(evReviewChanged, "The Requester has assigned the Task."));
  EXPECT_EQ(asked, (std::vector<std::string>{"Originator", "Action"}));
  asked.clear();
  EXPECT_EQ(Line("Reviewed", int16_t{0}, int16_t{52}),
            L(evReviewChanged, "Another user has closed the Task."));
  EXPECT_EQ(asked, std::vector<std::string>{"Action"});
}

TEST_F(ColumnHistoryTest, ReviewWithoutWordsOfItsOwnReusesTheCallsReviewText) {
  EXPECT_EQ(Line("Reviewed", int16_t{11}, Null), L(evReviewChanged, ""));
  EXPECT_EQ(Line("Reviewed", int16_t{10}, int16_t{11}),
            L(evReviewChanged, "The Assignee has completed the Action."));
  EXPECT_EQ(Line("Reviewed", int16_t{11}, int16_t{7}),
            L(evReviewChanged, "The Assignee has completed the Action."));
  EXPECT_EQ(Line("Reviewed", int16_t{0}, int16_t{0}), std::nullopt);
  EXPECT_EQ(Line("Reviewed", Null, int16_t{0}), std::nullopt);
  EXPECT_EQ(reviewText, "The Assignee has completed the Action.");
}

}  // namespace
}  // namespace kvaction
