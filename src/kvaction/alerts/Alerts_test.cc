// Alerts, AlertRecords and Alert on both engines, in both dialects, with pinned clocks: the rows
// each engine counts (the statement texts are pinned beside AlertStatements.h).
#include <gtest/gtest.h>

#include <algorithm>

#include "kvaction/Action.h"
#include "kvaction/action/ActionTest.h"
#include "vb/Convert.h"

namespace kvaction {
namespace {

using Alerts = PeopleTest;

TEST_P(Alerts, DueTodayIsOverdueForTheServerOnceItsClockPassedMidnight) {
  Store({.number = 1, .assigneeID = "admin", .originatorID = "bob", .dateDue = Day(2024, 3, 15)});
  const auto count = [&](Dialect dialect, const vb::Date& now) {
    return LoggedIn("admin", dialect, &now)->Alerts("admin");
  };
  EXPECT_EQ(count(Dialect::Server, vb::Date::FromParts(2024, 3, 15)), 0);
  EXPECT_EQ(count(Dialect::Server, vb::Date::FromParts(2024, 3, 15, 0, 0, 1)), 1);
  EXPECT_EQ(count(Dialect::Desktop, vb::Date::FromParts(2024, 3, 15, 23, 59, 59)), 0);
  EXPECT_EQ(count(Dialect::Desktop, vb::Date::FromParts(2024, 3, 16)), 1);
}

TEST_P(Alerts, TheFlagCountsForWhoseTurnItIsAndIsSwitchedWithoutHistory) {
  const int32_t id = Store({.number = 1,
                            .assigneeID = "bob",
                            .originatorID = "carol",
                            .dateDue = Day(2024, 3, 20),
                            .alert = true});
  const auto action = LoggedIn("admin", Dialect::Server);
  const auto events = [&] {
    return vb::CLng(
        action->Recordset("select count(*) from ActionEvents")->Fields().Item(0).Value());
  };
  const int32_t before = events();
  EXPECT_EQ(action->Alerts("bob"), 1);
  EXPECT_EQ(action->Alerts("carol"), 0);
  action->Execute("update actions set Reviewed=10 where ActionID=" + std::to_string(id));
  EXPECT_EQ(action->Alerts("bob"), 0);
  EXPECT_EQ(action->Alerts("carol"), 1);
  action->Alert(id, false);
  EXPECT_EQ(action->Alerts("carol"), 0);
  action->Alert(id, true);
  EXPECT_TRUE(vb::CBool(action->DataRecord(id)->Fields().Item("Alert").Value()));
  action->Alert(id + 100, true);
  EXPECT_EQ(events(), before);
}

TEST_P(Alerts, ModeOneCountsAssignedActionsAndDatabaseIDNarrows) {
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
  EXPECT_EQ(action->Alerts("", "", 1), 0) << "admin is assignee of nothing";
  EXPECT_EQ(action->Alerts("admin", "R1"), 1);
  EXPECT_EQ(action->Alerts(), 1) << "the logged-in user when omitted";
  EXPECT_EQ(action->Alerts("admin", "R2"), 0);
}

TEST_P(Alerts, OtherModesAndMissingDatabaseFailUnderTheOperationsName) {
  const auto action = LoggedIn("admin");
  for (const std::string_view databaseID : {"", "R1"}) {
    const vb::ComError e = ErrorOf([&] { (void)action->Alerts("admin", databaseID, 2); });
    EXPECT_TRUE(e.source().starts_with("Action.Alerts, ")) << e.source();
    EXPECT_GT(e.source().size(), std::string_view("Action.Alerts, ").size());
  }
  const vb::ComError missing = ErrorOf([] { (void)Action().Alerts("admin"); });
  EXPECT_EQ(missing.number(), vb::kObjectNotSet);
  EXPECT_EQ(missing.source(), "Action.Alerts, kvAction");
}

TEST_P(Alerts, RecordsListEveryOpenActionDueBeforeTheCutoff) {
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
      EXPECT_EQ(rs->CursorLocation(), ado::adUseClient);
      EXPECT_EQ(rs->LockType(), ado::adLockBatchOptimistic);
      std::vector<int32_t> found = Numbers(*rs);
      std::sort(found.begin(), found.end());
      return found;
    };
    EXPECT_EQ(numbers(0), (std::vector<int32_t>{1}));
    EXPECT_EQ(numbers(-3), (std::vector<int32_t>{1}));
    EXPECT_EQ(numbers(7), (std::vector<int32_t>{1, 2, 3}));
  }
}

KV_INSTANTIATE_ENGINES(Alerts);

}  // namespace
}  // namespace kvaction
