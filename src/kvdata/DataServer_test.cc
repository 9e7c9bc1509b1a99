#include "kvdata/DataServer.h"

#include <gtest/gtest.h>

#include "kvdata/ActionDatabaseTest.h"
#include "kvdata/DataConnection.h"
#include "kvdata/Errors.h"
#include "kvdata/EventLog.h"
#include "kvdata/QueryStore.h"
#include "kvdata/SettingsStore.h"
#include "kvdata/UserProfile.h"
#include "kvdata/WorkgroupDirectory.h"
#include "vb/Convert.h"
#include "vb/testing/ErrorOf.h"

namespace kvdata {
namespace {

using DataServerObjects = ActionDatabaseTest;

TEST_P(DataServerObjects, WithoutAProfileHandsBackOneAndAnEmptyStringTakesItsDatabaseTillClose) {
  std::shared_ptr<UserProfile> profile;
  DataServer first;
  first.OpenDatabase(ConnectionString(), &profile);
  ASSERT_TRUE(profile);
  EXPECT_EQ(first.Profile(), profile);
  first.Settings()->Value("Marker", "here");
  first.Settings()->Save();
  DataServer second;
  second.OpenDatabase("", &profile);
  EXPECT_EQ(second.Settings()->Value("Marker"), vb::Variant("here"));
  // After close its objects refuse work.
  const auto events = second.Events();
  second.CloseDatabase();
  EXPECT_EQ(vb::testing::ErrorOf([&] { (void)second.Settings(); }).number(), kNotOpen);
  EXPECT_EQ(vb::testing::ErrorOf([&] { events->AddEvent(1, 1, "x"); }).number(), kNotOpen);
}

// A server that shares another's database works through the same connection (one session) and
// keeps it when the other closes; sharing a server with nothing open changes nothing.
TEST_P(DataServerObjects, ASharedDatabaseIsOneSessionThatOutlivesTheOthersClose) {
  DataServer first;
  first.OpenDatabase(ConnectionString());
  DataServer second;
  std::shared_ptr<UserProfile> profile;
  second.ShareDatabase(first, &profile);
  EXPECT_EQ(second.Connection(), first.Connection());
  EXPECT_EQ(second.Profile(), profile);
  first.CloseDatabase();
  const DataServer closed;
  EXPECT_EQ(vb::testing::ErrorOf([&] { second.ShareDatabase(closed); }).number(), kNotOpen);
  second.Settings()->Value("Marker", "kept");
  second.Settings()->Save();
  EXPECT_EQ(second.Settings()->Value("Marker"), vb::Variant("kept"));
}

// Events carry the acting user (none before one is set) and the time; saved queries belong to
// the acting user and go with their owner.
TEST_P(DataServerObjects, TheActingUserStampsEventsAndOwnsSavedQueries) {
  const auto server = OpenServer();
  server->Events()->AddEvent(1, 7, "Record Created");
  auto admin = UserProfile::ForUser(server->Connection(), "admin");
  server->SetProfile(&admin);
  server->Events()->AddEvent(9, 7, "Record Deleted");
  auto rs = server->Connection()->OpenRecordset(
      "select * from ActionEvents where ActionID=7 order by EventID");
  ASSERT_EQ(rs->RecordCount(), 2);
  EXPECT_TRUE(rs->Fields().Item("UserID").Value().IsNull());
  rs->MoveNext();
  EXPECT_EQ(rs->Fields().Item("EventCode").Value(), vb::Variant(int32_t{9}));
  EXPECT_EQ(rs->Fields().Item("EventText").Value(), vb::Variant("Record Deleted"));
  EXPECT_EQ(rs->Fields().Item("UserID").Value(), vb::Variant("admin"));
  EXPECT_EQ(rs->Fields().Item("EventTime").Value(), vb::Variant(pinnedClock_->Now()));

  const auto mine = server->Queries()->CreateQuery(
      "Overdue", {{"AssignedTo", int16_t{1}}, {"ApplyStatus", true}, {"Status", int16_t{2}}});
  rs = server->Queries()->QueryRecordset(mine, 1, 2, 3);
  ASSERT_FALSE(rs->IsEOF());
  EXPECT_EQ(rs->Fields().Item("UserID").Value(), vb::Variant("admin"));
  EXPECT_EQ(rs->Fields().Item("ApplyStatus").Value(), vb::Variant(true));
  EXPECT_TRUE(rs->Fields().Item("Category").Value().IsNull());
  EXPECT_TRUE(server->Queries()->QueryRecordset(mine + 100)->IsEOF());
  EXPECT_THROW((void)server->Queries()->CreateQuery("Bad", {{"NoSuchField", 1}}), vb::ComError);
  EXPECT_EQ(server->Queries()->QueryList()->RecordCount(), 1);
  server->Queries()->RemoveUserQueries("someone else");
  EXPECT_EQ(server->Queries()->QueryList("admin")->RecordCount(), 1);
  server->Queries()->RemoveUserQueries("admin");
  EXPECT_TRUE(server->Queries()->QueryRecordset(mine)->IsEOF());
}

TEST_P(DataServerObjects, WorkgroupsRefuseUnknownUsersAndGroups) {
  const auto server = OpenServer();
  const auto workgroups = server->Workgroups();
  const auto staff = workgroups->CreateWorkgroup("Staff", "41,50");
  EXPECT_EQ(workgroups->WorkgroupRightList(staff), "41,50");
  workgroups->SetUserWorkgroup("admin", staff);
  EXPECT_EQ(workgroups->UserWorkgroup("admin"), staff);
  EXPECT_THROW(workgroups->SetUserWorkgroup("admin", staff + 1), vb::ComError);
  EXPECT_THROW(workgroups->SetUserWorkgroup("ADMIN", staff), vb::ComError);  // IDs are exact
  EXPECT_THROW((void)workgroups->CreateWorkgroup("Odd", "41;50"), vb::ComError);
  EXPECT_EQ(workgroups->WorkgroupList()->RecordCount(), 2);
}

KV_INSTANTIATE_ENGINES(DataServerObjects);

}  // namespace
}  // namespace kvdata
