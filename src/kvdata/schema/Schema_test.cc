#include "kvdata/schema/Schema.h"

#include <gtest/gtest.h>

#include "kvdata/ActionDatabaseTest.h"
#include "kvdata/DataConnection.h"
#include "kvdata/Errors.h"
#include "kvdata/SettingsStore.h"
#include "kvdata/WorkgroupDirectory.h"
#include "kvdata/engine/Engine.h"
#include "vb/Convert.h"
#include "vb/testing/ErrorOf.h"

namespace kvdata {
namespace {

using CreateActionDatabase = ActionDatabaseTest;

std::vector<std::string> ActionTables() {
  return {schema::kActionTables.begin(), schema::kActionTables.end()};
}

int32_t Count(DataConnection& connection, const std::string& sql) {
  const auto rs = connection.OpenRecordset(sql, 0, 2, 1);
  return vb::CLng(rs->Fields().Item(0).Value());
}

TEST_P(CreateActionDatabase, GivesAVerifiedDatabaseOfVersion1003WithItsFirstSuperUser) {
  const auto server = OpenServer();
  server->VerifyTables(ActionTables());
  EXPECT_EQ(server->Settings()->Value("Version"), vb::Variant("1.003"));
  EXPECT_EQ(server->Workgroups()->UserWorkgroup("admin"), kSuperUserGroup);
  EXPECT_EQ(server->Workgroups()->WorkgroupRightList(kSuperUserGroup), "*");
  auto& connection = *server->Connection();
  EXPECT_EQ(Count(connection, "select count(*) from actions"), 0);
  EXPECT_EQ(Count(connection, "select count(*) from Users where UserName='Ada Admin'"), 1);
  EXPECT_EQ(server->Settings()->Label("DateDue"), "Due Date");  // the labels are seeded
}

TEST_P(CreateActionDatabase, GeneratesActionIDsAndKeepsActionNumbersUnique) {
  const auto server = OpenServer();
  auto& connection = *server->Connection();
  const auto rs = connection.OpenRecordset("select * from actions where ActionID=0");
  rs->AddNew({"ActionNumber", "Subject"}, {int32_t{1}, "first"});
  const auto first = vb::CLng(rs->Fields().Item("ActionID").Value());
  rs->AddNew({"ActionNumber", "Subject"}, {int32_t{2}, "second"});
  EXPECT_GT(vb::CLng(rs->Fields().Item("ActionID").Value()), first);
  EXPECT_THROW(connection.Execute("insert into actions (ActionNumber) values (1)"), vb::ComError);
  EXPECT_EQ(Count(connection, "select count(*) from actions"), 2);
}

TEST_P(CreateActionDatabase, RefusesAnExistingDatabaseAndChangesNothing) {
  const vb::ComError e = vb::testing::ErrorOf([&] {
    DataServer::CreateDatabase(ConnectionString(), {"other", "Other", "pw", PasswordCost::Minimum});
  });
  EXPECT_EQ(e.number(), kDatabaseExists);
  EXPECT_EQ(e.source(), "kvDataServer.DataServer");
  EXPECT_NE(e.description().find("\"actions\""), std::string::npos) << e.description();
  const auto server = OpenServer();
  EXPECT_EQ(Count(*server->Connection(), "select count(*) from Users"), 1);
  EXPECT_EQ(server->Settings()->Value("Version"), vb::Variant("1.003"));
}

TEST_P(CreateActionDatabase, VerifyTablesNamesTheMissingTable) {
  const auto server = OpenServer();
  server->Connection()->Engine().Execute("DROP TABLE " + engine::QuoteName("ActionEvents"));
  const vb::ComError e = vb::testing::ErrorOf([&] { server->VerifyTables(ActionTables()); });
  EXPECT_EQ(e.number(), kMissingTable);
  EXPECT_EQ(e.description(), "The database has no table \"ActionEvents\".");
}

// A new database has the indexes its engine gets; the upgrade adds them to one that lacks them,
// once, drops those a wider index replaced, and on SQLite leaves the statistics the planner
// chooses them by.
TEST_P(CreateActionDatabase, UpgradeAddsTheEngineIndexesOnce) {
  const auto server = OpenServer();
  auto& connection = *server->Connection();
  auto& engine = connection.Engine();
  EXPECT_TRUE(schema::UpgradeActionDatabase(connection).empty());
  const bool sqlite = engine.Target() == sql::Target::SQLite;
  std::vector<std::pair<std::string, std::string>> indexes = {
      {"ix_actions_open_assignee_number", "open actions by AssigneeID in number order"},
      {"ix_actions_open_originator_number", "open actions by OriginatorID in number order"}};
  if (sqlite) {
    indexes.emplace_back("ix_actions_alert_assignee", "the alert count's columns by AssigneeID");
    indexes.emplace_back("ix_actions_alert_originator",
                         "the alert count's columns by OriginatorID");
  }
  std::vector<std::string> expected;
  for (const auto& [name, purpose] : indexes) {
    engine.Execute("DROP INDEX " + engine::QuoteName(name));
    expected.push_back("Added the index " + name + " (" + purpose + ").");
  }
  // What an older release made in their place.
  engine.Execute(R"(CREATE INDEX "ix_actions_open_assignee" ON "actions" ("AssigneeID"))");
  expected.emplace_back(
      "Dropped the index ix_actions_open_assignee (a wider one serves its reads).");
  EXPECT_EQ(schema::UpgradeActionDatabase(connection), expected);
  EXPECT_TRUE(schema::UpgradeActionDatabase(connection).empty());
  if (sqlite) {
    EXPECT_EQ(Count(connection, "select count(*) from sqlite_master where name = 'sqlite_stat1'"),
              1);
  }
}

KV_INSTANTIATE_ENGINES(CreateActionDatabase);

}  // namespace
}  // namespace kvdata
