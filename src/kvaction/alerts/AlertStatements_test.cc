#include "kvaction/alerts/AlertStatements.h"

#include <gtest/gtest.h>

namespace kvaction {
namespace {

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

TEST(AlertsStatement, ModeOneCountsAssignedActionsWithTheRawID) {
  EXPECT_EQ(AlertsStatement("kim", "", 1, Dialect::Desktop),
            "select count(Actionnumber) from actions where dateclosed is null and "
            "((AssigneeID = 'kim'))");
}

TEST(AlertsStatement, DatabaseIDNarrowsEveryMode) {
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
