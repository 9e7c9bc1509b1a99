#include "kvaction/alerts/StatusSummary.h"

#include <gtest/gtest.h>

#include "kvaction/Enums.h"
#include "kvaction/alerts/AlertStatements.h"

namespace kvaction {
namespace {

// Today is Monday 10 March 2025, a quarter past nine in the morning.
const vb::FixedClock kClock(vb::Date::FromParts(2025, 3, 10, 9, 15));

StatusTexts Summarize(const StatusColumns& columns, StatusTexts texts = {},
                      const vb::Locale& locale = vb::Locale::EnUS()) {
  StatusSummary(columns, texts, kClock, locale);
  return texts;
}

StatusColumns Open(std::string dateDue, int16_t reviewed = rsAssigneeReview) {
  StatusColumns c;
  c.assignee = "Kim";
  c.originator = "Lee";
  c.dateDue = std::move(dateDue);
  c.reviewed = reviewed;
  return c;
}

TEST(StatusSummaryClosed, NamesWhoClosedItAndWhenItWasCompleted) {
  StatusColumns c = Open("", rsClosedbyAssignee);
  c.dateClosed = "3/1/2025";
  c.dateCompleted = "2/28/2025";
  const StatusTexts t = Summarize(c, {7, "", "", "kept"});
  EXPECT_EQ(t.status, "Closed on 3/1/2025 by Kim.  (Completed 2/28/2025)");
  EXPECT_EQ(t.shortStatus, "Closed 3/1/2025");
  EXPECT_EQ(t.image, siClosed);
  EXPECT_EQ(t.dueText, "kept");

  c.dateCompleted = "";
  c.originator = "";
  c.reviewed = rsClosedbyOriginator;
  EXPECT_EQ(Summarize(c).status, "Closed on 3/1/2025 by Originator.");
  c.reviewed = rsClosedbyOther;
  EXPECT_EQ(Summarize(c).status, "Closed on 3/1/2025.");
}

TEST(StatusSummaryDue, CountsWholeDaysFromToday) {
  struct Case {
    const char* due;
    const char* dueText;
    const char* shortStatus;
    int16_t image;
  };
  for (const Case& k : {
           Case{"", "No Due Date.", "Open", siNotDue},
           Case{"not a date", "No Due Date.", "Open", siNotDue},
           Case{"3/10/2025 8:00:00 AM", "Due today.", "Open", siOpen},
           Case{"3/10/2025 5:00:00 PM", "Due today.", "Open", siOpen},
           Case{"3/11/2025", "Due tomorrow.", "Open", siOpen},
           Case{"3/15/2025", "Due in 5 days.", "Open", siOpen},
           Case{"3/9/2025", "Due yesterday.", "1 days overdue.", siOverDue},
           Case{"3/8/2025", "2 days overdue.", "2 days overdue.", siOverDue},
           Case{"2/8/2024", "396 days overdue.", "396 days overdue.", siOverDue},
       }) {
    const StatusTexts t = Summarize(Open(k.due));
    EXPECT_EQ(t.dueText, k.dueText) << k.due;
    EXPECT_EQ(t.shortStatus, k.shortStatus) << k.due;
    EXPECT_EQ(t.image, k.image) << k.due;
  }
}

TEST(StatusSummaryDue, ReadsDatesInTheLocale) {
  StatusColumns c = Open("11/03/2025");
  c.dateRejected = "01/03/2025";
  const StatusTexts t = Summarize(c, {}, vb::Locale::EnGB());
  EXPECT_EQ(t.dueText, "Due tomorrow.");
  EXPECT_EQ(t.status, "Assigned to Kim on 01/03/2025");
}

TEST(StatusSummaryReview, DescribesWhoseTurnItIs) {
  const struct {
    int16_t reviewed;
    const char *assignee, *originator, *rejected, *completed, *status;
  } cases[] = {
      {41, " Kim ", "Lee", "3/2/2025", "", "Re-opened 3/2/2025. Kim is responsible."},
      {41, "  ", "Lee", "3/2/2025", "", "No Assignee."},
      {40, "Kim", "Lee", "3/2/2025", "",
       "Re-opened 3/2/2025. Lee has not yet assigned this action for review."},
      {42, "Kim", " Lee ", "", "", "Re-opened . Lee is responsible."},
      {10, "Kim", "", "", "", "Originator has not yet assigned this action for review."},
      {11, "Kim", "Lee", "", "2/28/2025", "Action Completed. For approval by Lee since 2/28/2025"},
      {11, "Kim", "Lee", "", "", "Action Completed. For approval by Lee"},
      {12, "Kim", "Lee", "3/2/2025", "", "Clarification requested of Lee on 3/2/2025"},
      {12, "Kim", "Lee", "soon", "", "Clarification requested of Lee"},
      {2, "Kim", "Lee", "3/2/2025", "",
       "entry: Clarification provided. For review by Kim since 3/2/2025"},
      {2, "", "Lee", "", "", "entry: Clarification provided. No Assignee."},
      {1, "Kim", "Lee", "3/2/2025", "", "Close request denied. For review by Kim since 3/2/2025"},
      {1, "", "Lee", "", "", "Close request denied. No Assignee."},
      {0, "Kim", "Lee", "3/2/2025", "", "Assigned to Kim on 3/2/2025"},
      {0, "Kim", "Lee", "", "", "Assigned to Kim"},
      {0, "", "Lee", "3/2/2025", "", "This action does not have an assignee."},
      {50, "Kim", "Lee", "", "", "Assigned to Kim"}};
  for (const auto& k : cases) {
    StatusColumns c = Open("3/15/2025", k.reviewed);
    c.assignee = k.assignee;
    c.originator = k.originator;
    c.dateRejected = k.rejected;
    c.dateCompleted = k.completed;
    EXPECT_EQ(Summarize(c, {0, "entry: ", "", ""}).status, k.status) << k.reviewed;
  }
}

using kvdata::sql::Dialect;

TEST(AlertsStatement, ModeZeroCountsOverdueAndFlaggedActionsWithItsOwnBlanks) {
  EXPECT_EQ(AlertsStatement("kim", "", 0, Dialect::Server),
            "select count(ActionNumber) from actions where dateclosed is Null and ("
            "(dateDue < getdate() and (AssigneeID='kim' or OriginatorID='kim')) or "
            "(Alert <> 0 and AssigneeID = 'kim' and Reviewed < 10)  or "
            "(Alert <> 0 and  OriginatorID = 'kim' and Reviewed >= 10))");
  EXPECT_EQ(AlertsStatement("o'neil", "", 0, Dialect::Desktop),
            "select count(ActionNumber) from actions where isnull(dateclosed) and ("
            "(dateDue < date() and (AssigneeID='o''neil' or OriginatorID='o''neil')) or "
            "(Alert <> 0 and AssigneeID = 'o''neil' and Reviewed < 10)  or "
            "(Alert <> 0 and  OriginatorID = 'o''neil' and Reviewed >= 10))");
}

TEST(AlertsStatement, ModeOneCountsAssignedActionsWithTheRawIDAndDatabaseIDNarrowsEveryMode) {
  EXPECT_EQ(AlertsStatement("kim", "", 1, Dialect::Desktop),
            "select count(Actionnumber) from actions where dateclosed is null and "
            "((AssigneeID = 'kim'))");
  // The database ID narrows every mode.
  EXPECT_TRUE(AlertsStatement("kim", "R1", 0, Dialect::Server)
                  .ends_with("Reviewed >= 10)) and referenceID='R1'"));
  EXPECT_EQ(AlertsStatement("kim", "R1", 1, Dialect::Server),
            "select count(Actionnumber) from actions where dateclosed is null and "
            "((AssigneeID = 'kim')) and referenceID='R1'");
  EXPECT_EQ(AlertsStatement("kim", "R1", 2, Dialect::Server), " and referenceID='R1'");
  EXPECT_EQ(AlertsStatement("kim", "", -1, Dialect::Desktop), "");
}

TEST(AlertRecords, ListsOpenActionsDueBeforeTheCutoff) {
  const vb::Date today = vb::Date::FromParts(2025, 3, 10);
  EXPECT_EQ(AlertCutoff(today, 0), today);
  EXPECT_EQ(AlertCutoff(today, -3), today);
  EXPECT_EQ(AlertCutoff(today, 7), vb::Date::FromParts(2025, 3, 17));
  EXPECT_EQ(AlertRecordsStatement("3/17/2025"),
            "select * from actions where dateclosed is null and datedue < "
            "datevalue('3/17/2025')");
}

TEST(AlertFlagStatement, WritesTheFlagAsAWord) {
  EXPECT_EQ(AlertFlagStatement(12, true), "Update Actions set alert = True where ActionID=12");
  EXPECT_EQ(AlertFlagStatement(-4, false), "Update Actions set alert = False where ActionID=-4");
}

}  // namespace
}  // namespace kvaction
