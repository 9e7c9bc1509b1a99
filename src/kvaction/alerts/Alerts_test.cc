// Alerts, AlertRecords and Alert on both engines, in both dialects, with pinned clocks.
#include <gtest/gtest.h>

#include <algorithm>

#include "kvaction/Action.h"
#include "kvaction/alerts/ActionTestData.h"
#include "kvdata/DataServer.h"
#include "vb/ComError.h"
#include "vb/Convert.h"

namespace kvaction::testing {
namespace {

using AlertList = ActionTest;
using AlertFlag = ActionTest;

class Counting : public ActionTest {
 protected:
  /// admin's count in a dialect at a moment.
  int32_t AdminCount(Dialect dialect, const vb::Date& now) const {
    return LoggedIn("admin", dialect, &now)->Alerts("admin");
  }
};

TEST_P(Counting, DueTodayIsOverdueForTheServerOnceItsClockPassedMidnight) {
  Store({.number = 1, .assigneeID = "admin", .originatorID = "bob", .dateDue = Day(2024, 3, 15)});
  const vb::Date midnight = vb::Date::FromParts(2024, 3, 15);
  const vb::Date justAfter = vb::Date::FromParts(2024, 3, 15, 0, 0, 1);
  EXPECT_EQ(AdminCount(Dialect::Server, midnight), 0);
  EXPECT_EQ(AdminCount(Dialect::Server, justAfter), 1);
  EXPECT_EQ(AdminCount(Dialect::Desktop, vb::Date::FromParts(2024, 3, 15, 23, 59, 59)), 0);
  EXPECT_EQ(AdminCount(Dialect::Desktop, vb::Date::FromParts(2024, 3, 16)), 1);
}

TEST_P(Counting, AnActionCountsOnceAndClosedOnesNever) {
  const ActionRow everything{.assigneeID = "admin",
                             .originatorID = "admin",
                             .dateDue = Day(2024, 3, 1),
                             .reviewed = int16_t{rsAssigneeReview},
                             .alert = true};
  ActionRow open = everything;
  open.number = 1;
  Store(open);
  ActionRow closed = everything;
  closed.number = 2;
  closed.dateClosed = Day(2024, 3, 14);
  Store(closed);
  for (const Dialect dialect : {Dialect::Desktop, Dialect::Server}) {
    EXPECT_EQ(LoggedIn("admin", dialect)->Alerts("admin"), 1);
  }
}

TEST_P(Counting, TheFlagCountsForWhoseTurnItIs) {
  const int32_t id = Store({.number = 1,
                            .assigneeID = "bob",
                            .originatorID = "carol",
                            .dateDue = Day(2024, 3, 20),
                            .alert = true});
  const auto action = LoggedIn("admin");
  EXPECT_EQ(action->Alerts("bob"), 1);
  EXPECT_EQ(action->Alerts("carol"), 0);
  action->Execute("update actions set Reviewed=10 where ActionID=" + std::to_string(id));
  EXPECT_EQ(action->Alerts("bob"), 0);
  EXPECT_EQ(action->Alerts("carol"), 1);
  action->Alert(id, false);
  EXPECT_EQ(action->Alerts("carol"), 0);
}

TEST_P(Counting, StatementFollowsTheDialectAndOmittedUserIsTheLoggedInOne) {
  Store({.number = 1, .assigneeID = "bob", .originatorID = "carol", .dateDue = Day(2024, 3, 1)});
  const auto desktop = LoggedIn("bob");
  EXPECT_EQ(desktop->Alerts(), 1);
  EXPECT_TRUE(LastStatement(*desktop).starts_with(
      "select count(ActionNumber) from actions where isnull(dateclosed) and ((dateDue < date() "
      "and (AssigneeID='bob' or OriginatorID='bob')) "));
  const auto server = LoggedIn("carol", Dialect::Server);
  EXPECT_EQ(server->Alerts(), 1);
  EXPECT_TRUE(LastStatement(*server).starts_with(
      "select count(ActionNumber) from actions where dateclosed is Null and ((dateDue < "
      "getdate() and (AssigneeID='carol' or OriginatorID='carol')) "));
}

TEST_P(Counting, ModeOneCountsAssignedActionsAndDatabaseIDNarrows) {
  Store({.number = 1,
         .assigneeID = "bob",
         .originatorID = "admin",
         .dateDue = Day(2024, 3, 1),
         .referenceID = "R1"});
  Store({.number = 2, .assigneeID = "bob", .originatorID = "admin", .referenceID = "R2"});
  Store({.number = 3, .assigneeID = "bob", .dateClosed = Day(2024, 3, 2), .referenceID = "R1"});
  Store({.number = 4, .assigneeID = "carol", .referenceID = "R1"});
  const auto action = LoggedIn("admin");
  EXPECT_EQ(action->Alerts("bob", "", 1), 2);
  EXPECT_EQ(action->Alerts("bob", "R1", 1), 1);
  EXPECT_EQ(LastStatement(*action),
            "select count(Actionnumber) from actions where dateclosed is null and ((AssigneeID = "
            "'bob')) and referenceID='R1'");
  EXPECT_EQ(action->Alerts("", "", 1), 0) << "admin is assignee of nothing";
  EXPECT_EQ(action->Alerts("admin", "R1"), 1);
  EXPECT_EQ(action->Alerts("admin", "R2"), 0);
}

TEST_P(Counting, OtherModesFailUnderTheOperationsName) {
  const auto action = LoggedIn("admin");
  for (const std::string_view databaseID : {"", "R1"}) {
    try {
      (void)action->Alerts("admin", databaseID, 2);
      ADD_FAILURE() << "mode 2 counted";
    } catch (const vb::ComError& e) {
      EXPECT_TRUE(e.source().starts_with("Action.Alerts, ")) << e.source();
      EXPECT_GT(e.source().size(), std::string_view("Action.Alerts, ").size());
    }
  }
}

TEST(AlertsWithoutDatabase, ReportsTheMissingObjectUnderTheOperationsName) {
  Action action;
  try {
    (void)action.Alerts("admin");
    ADD_FAILURE() << "counted without a database";
  } catch (const vb::ComError& e) {
    EXPECT_EQ(e.number(), vb::kObjectNotSet);
    EXPECT_EQ(e.source(), "Action.Alerts, kvAction");
  }
}

TEST_P(AlertList, ListsEveryOpenActionDueBeforeTheCutoff) {
  Store({.number = 1, .assigneeID = "bob", .dateDue = Day(2024, 3, 14)});
  Store({.number = 2, .assigneeID = "carol", .dateDue = Day(2024, 3, 15)});
  Store({.number = 3, .assigneeID = "admin", .dateDue = Day(2024, 3, 21)});
  Store({.number = 4, .assigneeID = "admin", .dateDue = Day(2024, 3, 22)});
  Store({.number = 5, .dateDue = Day(2024, 3, 1), .dateClosed = Day(2024, 3, 2)});
  Store({.number = 6, .assigneeID = "admin"});
  for (const Dialect dialect : {Dialect::Desktop, Dialect::Server}) {
    const auto action = LoggedIn("admin", dialect);
    const auto numbers = [&](int16_t dueDays) {
      const auto rs = action->AlertRecords("nobody", "R9", 1, dueDays);
      EXPECT_EQ(rs->CursorType(), ado::adOpenStatic);
      EXPECT_EQ(rs->CursorLocation(), ado::adUseClient);
      EXPECT_EQ(rs->LockType(), ado::adLockBatchOptimistic);
      std::vector<int32_t> found = Numbers(*rs);
      std::sort(found.begin(), found.end());
      return found;
    };
    EXPECT_EQ(numbers(0), (std::vector<int32_t>{1}));
    EXPECT_EQ(numbers(-3), (std::vector<int32_t>{1}));
    EXPECT_EQ(numbers(7), (std::vector<int32_t>{1, 2, 3}));
    EXPECT_EQ(LastStatement(*action),
              "select * from actions where dateclosed is null and datedue < "
              "datevalue('3/22/2024')");
  }
}

TEST_P(AlertFlag, SwitchesTheFlagWithoutHistory) {
  const int32_t id = Store({.number = 1, .assigneeID = "bob"});
  const auto action = LoggedIn("admin");
  const auto events = [&] {
    return vb::CLng(
        action->Recordset("select count(*) from ActionEvents")->Fields().Item(0).Value());
  };
  const int32_t before = events();
  action->Alert(id, true);
  EXPECT_EQ(LastStatement(*action),
            "Update Actions set alert = True where ActionID=" + std::to_string(id));
  EXPECT_TRUE(vb::CBool(action->DataRecord(id)->Fields().Item("Alert").Value()));
  action->Alert(id, false);
  EXPECT_FALSE(vb::CBool(action->DataRecord(id)->Fields().Item("Alert").Value()));
  action->Alert(id + 100, true);
  EXPECT_EQ(events(), before);
}

KV_INSTANTIATE_ENGINES(Counting);
KV_INSTANTIATE_ENGINES(AlertList);
KV_INSTANTIATE_ENGINES(AlertFlag);

}  // namespace
}  // namespace kvaction::testing
