#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "kvaction/action/ActionTest.h"
#include "kvdata/QueryStore.h"
#include "kvuser/Errors.h"
#include "vb/Convert.h"

namespace kvaction {
namespace {

class UserMaintenanceTest : public ActionTest {
 protected:
  void SetUp() override {
    ActionTest::SetUp();
    if (HasFatalFailure()) return;
    AddUser("olga", "pw");
    AddUser("alan", "pw");
    // olga originated 1 and 3 and is assignee of 2 and 3.
    Store({.number = 1, .assigneeID = "alan", .originatorID = "olga"});
    Store({.number = 2, .assigneeID = "olga", .originatorID = "alan"});
    Store({.number = 3, .assigneeID = "olga", .originatorID = "olga"});
    // Each of them keeps a saved query and a per-user value.
    for (const char* id : {"olga", "alan"}) {
      auto session = OpenAction();
      session->Login(id, "pw");
      (void)session->DataServer()->Queries()->CreateQuery("Mine", {});
      session->VersionSensing(true);
    }
    action_ = AdminAction();
  }
  // "number:originatorID/Originator:assigneeID/Assignee" of every action, by number.
  [[nodiscard]] std::vector<std::string> Actions() const {
    std::vector<std::string> rows;
    const auto rs = action_->Recordset(
        "select ActionNumber, OriginatorID, Originator, AssigneeID, Assignee from actions "
        "order by ActionNumber");
    for (; !rs->IsEOF(); rs->MoveNext()) {
      const auto text = [&](const char* field) { return vb::TextOf(rs->Fields()[field].Value()); };
      rows.push_back(text("ActionNumber") + ":" + text("OriginatorID") + "/" + text("Originator") +
                     ":" + text("AssigneeID") + "/" + text("Assignee"));
    }
    return rows;
  }
  [[nodiscard]] int32_t Count(const std::string& table, const std::string& userID) const {
    return ActionTest::Count("select count(*) as n from " + table + " where UserID='" + userID +
                             "'");
  }
};

TEST_P(UserMaintenanceTest, RenameRewritesOriginatorAndAssigneeNames) {
  action_->ChangeUserName("olga", "Olga O'Neil");
  const std::vector<std::string> trace = Trace(*action_);
  EXPECT_EQ(Actions(),
            (std::vector<std::string>{"1:olga/Olga O'Neil:alan/", "2:alan/:olga/Olga O'Neil",
                                      "3:olga/Olga O'Neil:olga/Olga O'Neil"}));
  EXPECT_EQ(vb::CStr(action_->User()->UserField("olga", "UserName")), "Olga O'Neil");
  ASSERT_GE(trace.size(), 2u);
  EXPECT_EQ(std::vector<std::string>(trace.end() - 2, trace.end()),
            (std::vector<std::string>{
                "Update actions set originator = 'Olga O''Neil' where originatorID = 'olga'",
                "Update actions set assignee = 'Olga O''Neil' where assigneeID = 'olga'"}));
}

TEST_P(UserMaintenanceTest, RenameRefusedByTheDirectoryChangesNoActionAndFailedRewritesAreSilent) {
  const auto before = Actions();
  EXPECT_EQ(ErrorOf([&] { action_->ChangeUserName("nobody", "X"); }).number(),
            kvuser::kUnknownUser);
  EXPECT_EQ(Actions(), before);
  // Without an actions table neither copy can be rewritten; the directory keeps the new name
  // and the call succeeds.
  action_->Execute("drop table actions");
  ASSERT_NO_THROW(action_->ChangeUserName("olga", "Olga N"));
  EXPECT_EQ(vb::CStr(action_->User()->UserField("olga", "UserName")), "Olga N");
}

TEST_P(UserMaintenanceTest, DeleteRemovesQueriesProfilesAndDirectoryEntryButNotActions) {
  // Without a data server the first step fails and nothing else runs.
  EXPECT_EQ(ErrorOf([&] { NewAction()->DeleteUser("olga"); }).number(), vb::kObjectNotSet);
  ASSERT_EQ(Count("Users", "olga"), 1);
  const auto before = Actions();
  const int32_t alanProfiles = Count("ActionProfiles", "alan");
  ASSERT_GT(Count("ActionProfiles", "olga"), 0);
  ASSERT_GT(alanProfiles, 0);
  RecordsetPtr users = action_->User()->UserList();
  action_->DeleteUser("olga", &users);
  EXPECT_EQ(Count("ActionQueries", "olga"), 0);
  EXPECT_EQ(Count("ActionProfiles", "olga"), 0);
  EXPECT_EQ(Count("Users", "olga"), 0);
  EXPECT_EQ(Count("ActionQueries", "alan"), 1);
  EXPECT_EQ(Count("ActionProfiles", "alan"), alanProfiles);
  EXPECT_EQ(users->RecordCount(), 2);  // the client's list was refreshed: admin, alan
  EXPECT_EQ(Actions(), before);

  action_->DeleteUserData("alan");
  EXPECT_EQ(Count("ActionQueries", "alan"), 0);
  EXPECT_EQ(Count("ActionProfiles", "alan"), 0);
  EXPECT_EQ(Count("Users", "alan"), 0);
  EXPECT_EQ(ErrorOf([&] { action_->DeleteUserData("nobody"); }).number(), kvuser::kUnknownUser);
}

KV_INSTANTIATE_ENGINES(UserMaintenanceTest);

}  // namespace
}  // namespace kvaction
