// Alerts, AlertRecords, Alert and EmailData on both engines, in both dialects: the rows each
// engine counts, and the notice built from the stored action (the statement texts are pinned
// beside AlertStatements.h, the body's layout beside Email.h; the engines' reading of "due today"
// in each dialect is pinned by the saved-query status rows). Today is 15 Mar 2024.
#include <gtest/gtest.h>

#include <algorithm>
#include <tuple>

#include "kvaction/Action.h"
#include "kvaction/action/ActionTest.h"
#include "kvdata/DataConnection.h"
#include "kvdata/DataServer.h"
#include "kvdata/SettingsStore.h"
#include "kvdata/testing/FaultyEngine.h"
#include "vb/Convert.h"

namespace kvaction {
namespace {

using Alerts = PeopleTest;

TEST_P(Alerts, TheFlagCountsForWhoseTurnItIsAndIsSwitchedWithoutHistory) {
  const int32_t id = Store({.number = 1,
                            .assigneeID = "bob",
                            .originatorID = "carol",
                            .dateDue = Day(2024, 3, 20),
                            .alert = true});
  action_ = LoggedIn("admin", Dialect::Server);
  const auto& action = action_;
  const std::string events = "select count(*) from ActionEvents";
  const int32_t before = Count(events);
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
  EXPECT_EQ(Count(events), before);
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
  for (const auto& [databaseID, mode] : {std::pair{"", 2}, {"R1", 2}, {"", -1}}) {
    const vb::ComError e = ErrorOf([&] { (void)action->Alerts("admin", databaseID, mode); });
    EXPECT_TRUE(e.source().starts_with("Action.Alerts, ")) << e.source() << " mode " << mode;
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
    EXPECT_EQ(numbers(7), (std::vector<int32_t>{1, 2, 3}));
  }
}

KV_INSTANTIATE_ENGINES(Alerts);

class EmailData : public PeopleTest {
 protected:
  void SetUp() override {
    PeopleTest::SetUp();
    roof_ = Store({.number = 42,
                   .subject = "Fix the roof",
                   .assigneeID = "bob",
                   .originatorID = "carol",
                   .dateDue = Day(2024, 3, 20),
                   .reference = "Roof"});
  }
  int32_t roof_ = 0;
};

/// A field of the notice, as text ("<null>" for Null).
std::string Field(const ado::RecordsetPtr& notice, std::string_view name) {
  const vb::Variant value = notice->Fields().Item(name).Value();
  return value.IsNull() ? "<null>" : vb::CStr(value);
}

TEST_P(EmailData, BuildsTheNoticeFromTheStoredAction) {
  const auto admin = LoggedIn("admin");
  const auto engine = kvdata::testing::FaultyEngine::Install(*admin->DataServer()->Connection(), 0);
  const auto notice = admin->EmailData(roof_, "http://web/kv");
  ASSERT_TRUE(notice);
  EXPECT_EQ(engine->Calls(), 3)
      << "the action, the people's addresses, then the nine labels and DBID in one statement";
  EXPECT_EQ(notice->RecordCount(), 1);
  const std::tuple<const char*, ado::DataTypeEnum, int32_t, std::string> fields[] = {
      {"ID", ado::adInteger, 0, std::to_string(roof_)},
      {"AssigneeEmail", ado::adVarChar, 80, "bob@example.org"},
      {"OriginatorEmail", ado::adVarChar, 80, "carol@example.org"},
      {"FromName", ado::adVarChar, 50, "Ada Admin"},
      {"FromEmail", ado::adVarChar, 80, "ada@example.org"},
      {"Subject", ado::adVarChar, 200, "Action 42: Fix the roof"}};
  ASSERT_EQ(notice->Fields().Count(), 7);
  for (int32_t i = 0; i < 6; ++i) {
    const auto& [name, type, size, value] = fields[i];
    EXPECT_EQ(notice->Fields().Item(i).Name(), name);
    EXPECT_EQ(notice->Fields().Item(i).Type(), type) << name;
    EXPECT_EQ(notice->Fields().Item(i).DefinedSize(), size) << name;
    EXPECT_EQ(Field(notice, name), value);
  }
  EXPECT_EQ(notice->Fields().Item(6).Type(), ado::adLongVarChar);
  // The body's layout and its link are pinned beside Email.h and below; here the stored values.
  const std::string body = Field(notice, "Body");
  EXPECT_NE(body.find("Current Status: Assigned to Bob Builder  (Due in 5 days.)\r\n"),
            std::string::npos);
  EXPECT_NE(body.find("Reference:           \tRoof\r\n"), std::string::npos);

  EXPECT_EQ(LoggedIn("admin")->EmailData(roof_ + 1000), nullptr);
  EXPECT_EQ(Action().EmailData(roof_), nullptr);
}

TEST_P(EmailData, NeverTheAskingUserAndNeverOneAddressTwice) {
  const auto asBob = LoggedIn("bob")->EmailData(roof_);
  EXPECT_EQ(Field(asBob, "AssigneeEmail"), "<null>");
  EXPECT_EQ(Field(asBob, "OriginatorEmail"), "carol@example.org");
  EXPECT_EQ(Field(asBob, "FromEmail"), "bob@example.org");

  const auto admin = LoggedIn("admin");
  const auto bobsOwn =
      admin->EmailData(Store({.number = 8, .assigneeID = "bob", .originatorID = "bob"}));
  EXPECT_EQ(Field(bobsOwn, "AssigneeEmail"), "bob@example.org");
  EXPECT_EQ(Field(bobsOwn, "OriginatorEmail"), "<null>");
  const auto mine =
      admin->EmailData(Store({.number = 9, .assigneeID = "admin", .originatorID = "admin"}));
  EXPECT_EQ(Field(mine, "AssigneeEmail"), "<null>");
  EXPECT_EQ(Field(mine, "OriginatorEmail"), "<null>");
  // Someone the directory does not know has no address; nobody asking sends from nobody.
  EXPECT_EQ(Field(admin->EmailData(Store({.number = 10, .assigneeID = "ghost"})), "AssigneeEmail"),
            "<null>");
  const auto anonymous = OpenAction()->EmailData(Store({.number = 11, .subject = "s"}));
  EXPECT_EQ(Field(anonymous, "FromEmail") + Field(anonymous, "AssigneeEmail"), "<null><null>");
  EXPECT_EQ(Field(anonymous, "Subject"), "Action 11: s");
}

TEST_P(EmailData, LinkAndLabelsComeFromTheObjectAndTheSettings) {
  const auto action = LoggedIn("admin");
  const std::string id = std::to_string(roof_);
  const auto link = [&](std::string_view url) {
    const std::string body = Field(action->EmailData(roof_, url), "Body");
    const auto start = body.find("http");
    return start == std::string::npos ? std::string()
                                      : body.substr(start, body.find("\r\n") - start);
  };
  action->ReferenceID("123456");
  EXPECT_EQ(link("http://web/kv/"),
            "http://web/kv/default.asp?LinkType=2&DBID=23456&ActionID=" + id);
  action->ReferenceID("");
  action->DataServer()->Settings()->Value("DBID", vb::Variant("7"));
  EXPECT_EQ(link("http://web"), "http://web/default.asp?LinkType=2&DBID=7&ActionID=" + id);
  action->DataServer()->Settings()->Value("DBID", vb::Variant());
  EXPECT_EQ(link(""), "") << "no URL and no twWebURL: no link";
  action->twWebURL("https://tw.example.org/actions");
  action->DataServer()->Settings()->Value(kvdata::LabelKey("Action"), vb::Variant("Task"));
  EXPECT_EQ(Field(action->EmailData(roof_), "Subject"), "Task 42: Fix the roof");
  EXPECT_EQ(link(""),
            "https://tw.example.org/actions/default.asp?LinkType=2&DBID=0&ActionID=" + id);
}

// A failed read loses its own part only: without the action there is no notice; without the
// people's addresses they are Null; without the labels every label is empty; the rest is still
// built.
TEST_P(EmailData, AFailedReadLeavesItsPartEmpty) {
  const auto admin = LoggedIn("admin");
  const std::tuple<int64_t, const char*, const char*> faults[] = {
      {1, "<none>", ""},
      {2, "Action 42: Fix the roof", "<null>"},
      {3, " 42: Fix the roof", "bob@example.org"}};
  for (const auto& [failAt, subject, assignee] : faults) {
    kvdata::testing::FaultyEngine::Install(*admin->DataServer()->Connection(), failAt);
    const auto notice = admin->EmailData(roof_, "http://web/kv");
    if (failAt == 1) {
      EXPECT_EQ(notice, nullptr);
      continue;
    }
    ASSERT_TRUE(notice);
    EXPECT_EQ(Field(notice, "Subject"), subject);
    EXPECT_EQ(Field(notice, "AssigneeEmail"), assignee);
    const std::string body = Field(notice, "Body");
    EXPECT_NE(body.find("DBID=0&ActionID="), std::string::npos) << "no DBID read: number 0";
    if (failAt == 3) {
      EXPECT_NE(body.find("\r\n:" + std::string(20, ' ') + "\tRoof\r\n"), std::string::npos)
          << body;
    }
  }
}

// The action is read whole, as its record would be: a column the database lacks empties its own
// line and nothing else.
TEST_P(EmailData, AColumnTheDatabaseLacksEmptiesItsLineAlone) {
  const auto admin = LoggedIn("admin");
  auto& engine = admin->DataServer()->Connection()->Engine();
  engine.Execute("drop index if exists ix_actions_reference");
  // SQLite's text search index reads the column through triggers (PostgreSQL's goes with it).
  if (engine.Target() == kvdata::sql::Target::SQLite) {
    for (const auto* trigger :
         {"ActionSearch_insert", "ActionSearch_update", "ActionSearch_delete"}) {
      engine.Execute("drop trigger " + std::string(trigger));
    }
    engine.Execute("drop table ActionSearch");
  }
  engine.Execute(R"(alter table "actions" drop column "Reference")");
  const auto notice = admin->EmailData(roof_, "http://web/kv");
  ASSERT_TRUE(notice);
  EXPECT_EQ(Field(notice, "Subject"), "Action 42: Fix the roof");
  const std::string body = Field(notice, "Body");
  EXPECT_EQ(body.find("Roof"), std::string::npos) << body;
  EXPECT_NE(body.find("Reference:" + std::string(11, ' ') + "\t\r\n"), std::string::npos) << body;
}

KV_INSTANTIATE_ENGINES(EmailData);

}  // namespace
}  // namespace kvaction
