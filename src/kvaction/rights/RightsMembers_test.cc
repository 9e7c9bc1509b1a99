#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "kvaction/action/ActionTest.h"
#include "kvaction/rights/Rights.h"
#include "kvdata/UserProfile.h"
#include "kvdata/WorkgroupDirectory.h"
#include "vb/Convert.h"

namespace kvaction {
namespace {

// The workgroups of the tests: Staff may edit and delete what they originate but not change
// action numbers; Others apply a few rights to everybody's actions; workgroup 0 holds Staff's
// rights but never owns an action.
constexpr std::string_view kStaffRights = "50,54,55,57,58,59,61,62,63,64,65,81";
constexpr std::string_view kOthersRights = "64,65,66,81";

class RightsTest : public ActionTest {
 protected:
  void SetUp() override {
    ActionTest::SetUp();
    if (HasFatalFailure()) return;
    const auto server = OpenServer();
    const auto workgroups = server->Workgroups();
    staff_ = workgroups->CreateWorkgroup("Staff", kStaffRights);
    others_ = workgroups->CreateWorkgroup("Others", kOthersRights);
    server->Connection()->Execute(
        "insert into [ActionGroups] (GroupID, GroupName, RightList) values (0, 'Nobody', '" +
        std::string(kStaffRights) + "')");
    for (const char* id : {"olga", "alan", "bea"}) AddUser(id, "pw", staff_);
    AddUser("rita", "pw", others_);
    AddUser("zed", "pw", 0);
  }
  [[nodiscard]] std::unique_ptr<Action> As(const std::string& userID) const {
    auto action = OpenAction();
    action->Login(userID, userID == "admin" ? "secret" : "pw");
    return action;
  }
  [[nodiscard]] int32_t WorkgroupOf(const std::string& userID) const {
    return OpenServer()->Workgroups()->UserWorkgroup(userID);
  }

  int32_t staff_ = 0;
  int32_t others_ = 0;
};

// The fields of the editing-rights record that hold true, in record order.
std::string TrueFields(ado::Recordset& rs) {
  std::string names;
  for (int32_t i = 0; i < rs.Fields().Count(); ++i) {
    const vb::Variant value = rs.Fields().Item(i).Value();
    if (!value.IsNull() && vb::CBool(value)) {
      names += (names.empty() ? "" : " ") + rs.Fields().Item(i).Name();
    }
  }
  return names;
}

struct EditingCase {
  std::string user;
  std::string originatorID;
  std::string assigneeID;
  std::string dateClosed;
  std::string dateCompleted;
  std::string expected;  // the fields that are true
};

constexpr const char* kAllOwner =
    "EditActionTaken EditDateOpened EditDateDue EditDescription EditPriority EditAssignee "
    "EditOriginator EditCategory DeleteAction SpellChecker AddActions EditActionNumber "
    "EditApprovalRequired SetStatus EditSubject";
constexpr const char* kOriginatorOpen =
    "EditActionTaken EditDateOpened EditDateDue EditDescription EditPriority EditAssignee "
    "EditOriginator EditCategory DeleteAction SpellChecker AddActions EditApprovalRequired "
    "SetStatus EditSubject";
constexpr const char* kAssigneeOpen =
    "EditActionTaken EditDateOpened EditDateDue EditDescription EditPriority EditAssignee "
    "EditOriginator EditCategory SpellChecker AddActions SetStatus EditSubject";

TEST_P(RightsTest, EditingRightsFollowWhoTheUserIsAndTheActionsState) {
  // Open, completed (not closed), closed; "soon" is not a date, so it means open.
  const std::vector<std::pair<std::string, std::string>> open = {{"", ""}, {"soon", "n/a"}};
  const std::pair<std::string, std::string> completed{"", "3/1/2024"};
  const std::pair<std::string, std::string> closed{"3/10/2024", "3/1/2024"};
  std::vector<EditingCase> cases;
  const auto add = [&](const std::string& user, const std::string& originator,
                       const std::string& assignee, const std::string& whenOpen,
                       const std::string& whenCompleted, const std::string& whenClosed) {
    for (const auto& [c, d] : open) cases.push_back({user, originator, assignee, c, d, whenOpen});
    cases.push_back({user, originator, assignee, completed.first, completed.second, whenCompleted});
    cases.push_back({user, originator, assignee, closed.first, closed.second, whenClosed});
  };
  add("admin", "olga", "alan", kAllOwner, kAllOwner, kAllOwner);
  add("olga", "olga", "alan", kOriginatorOpen, kOriginatorOpen,
      "DeleteAction AddActions SetStatus");
  add("alan", "olga", "alan", kAssigneeOpen, "AddActions SetStatus", "AddActions SetStatus");
  add("bea", "olga", "alan", "AddActions", "AddActions", "AddActions");
  // Workgroup 0: never the originator, yet right 65 still lets it delete what it originated.
  add("zed", "zed", "alan", "DeleteAction AddActions", "DeleteAction AddActions",
      "DeleteAction AddActions");
  add("zed", "zed", "zed",
      "EditActionTaken EditDateOpened EditDateDue EditDescription EditPriority EditAssignee "
      "EditOriginator EditCategory DeleteAction AddActions SetStatus EditSubject",
      "DeleteAction AddActions SetStatus", "DeleteAction AddActions SetStatus");
  // Right 66 makes everybody's action the user's as assignee.
  add("rita", "olga", "alan", "EditActionTaken DeleteAction SpellChecker SetStatus",
      "DeleteAction SetStatus", "DeleteAction SetStatus");

  std::map<std::string, std::unique_ptr<Action>> sessions;
  for (const EditingCase& c : cases) {
    auto& action = sessions[c.user];
    if (!action) action = As(c.user);
    const auto rs =
        action->editingRights(c.dateClosed, c.dateCompleted, c.assigneeID, c.originatorID, "");
    EXPECT_EQ(TrueFields(*rs), c.expected)
        << c.user << " on " << c.originatorID << "/" << c.assigneeID << " closed '" << c.dateClosed
        << "' completed '" << c.dateCompleted << "'";
  }
}

TEST_P(RightsTest, EditingRightsRecordIsOneDisconnectedRowOfSeventeenBooleans) {
  const auto rs = As("olga")->editingRights("", "", "alan", "olga", "");
  ASSERT_EQ(rs->Fields().Count(), 17);
  EXPECT_EQ(rs->RecordCount(), 1);
  EXPECT_FALSE(rs->IsEOF());
  for (int32_t i = 0; i < 17; ++i) {
    EXPECT_EQ(rs->Fields().Item(i).Name(), EditingRights::kFieldNames[static_cast<size_t>(i)]);
    EXPECT_EQ(rs->Fields().Item(i).Type(), ado::adBoolean);
    EXPECT_EQ(rs->Fields().Item(i).DefinedSize(), 0);
  }
  // Nothing decides CloseAction: the record carries the field without a value.
  EXPECT_TRUE(rs->Fields().Item("CloseAction").Value().IsNull());
  EXPECT_EQ(rs->Fields().Item("EditOriginator").Value(), vb::Variant(true));
  EXPECT_EQ(rs->Fields().Item("EditActionNumber").Value(), vb::Variant(false));
}

TEST_P(RightsTest, EditReferenceNeedsTheCurrentReferenceAndRight60) {
  const auto admin = As("admin");
  const auto editReference = [](Action& action, std::string_view reference) {
    return action.editingRights("", "", "alan", "olga", reference)
        ->Fields()
        .Item("EditReference")
        .Value();
  };
  EXPECT_EQ(editReference(*admin, ""), vb::Variant(false));
  EXPECT_EQ(editReference(*admin, "R-7"), vb::Variant(false));
  admin->ReferenceID("R-7");
  EXPECT_EQ(editReference(*admin, "R-7"), vb::Variant(true));
  const auto olga = As("olga");  // Staff lacks right 60
  olga->ReferenceID("R-7");
  EXPECT_EQ(editReference(*olga, "R-7"), vb::Variant(false));
}

TEST_P(RightsTest, EditingRightsWithoutALoggedInUserStillAnswer) {
  const auto action = NewAction();
  const auto rs = action->editingRights("", "", "alan", "olga", "");
  ASSERT_EQ(rs->RecordCount(), 1);
  EXPECT_EQ(TrueFields(*rs), "");
}

TEST_P(RightsTest, DeletePermissionFollowsRights65And66AndSuperUser) {
  const auto olga = As("olga");
  EXPECT_TRUE(olga->PermitDeleteAction("alan", "olga"));
  EXPECT_FALSE(olga->PermitDeleteAction("olga", "bea"));
  EXPECT_FALSE(olga->PermitDeleteAction());
  EXPECT_TRUE(As("rita")->PermitDeleteAction("", "bea"));
  EXPECT_TRUE(As("admin")->PermitDeleteAction());
  EXPECT_FALSE(NewAction()->PermitDeleteAction("", ""));
}

TEST_P(RightsTest, HasAccessAsksTheProfile) {
  const auto admin = As("admin");
  for (const int16_t right : {int16_t{0}, int16_t{50}, int16_t{255}, int16_t{1000}}) {
    EXPECT_TRUE(admin->HasAccess(right)) << right;
  }
  const auto olga = As("olga");
  EXPECT_TRUE(olga->HasAccess(arAddActions));
  EXPECT_FALSE(olga->HasAccess(arChangeActionNum));
  EXPECT_FALSE(olga->HasAccess(arSuperUser));
  EXPECT_EQ(ErrorOf([] { (void)Action().HasAccess(arAddActions); }).number(), vb::kObjectNotSet);
  EXPECT_EQ(olga->WorkgroupRights()->Count(), 28);
}

TEST_P(RightsTest, OnlyASuperUserMovesUsersIntoOrOutOfSuperUsers) {
  const auto olga = As("olga");
  const auto refused = [&](std::string_view user, int32_t group) {
    return ErrorOf([&] { olga->SetWorkgroup(user, group); });
  };
  const vb::ComError assign = refused("bea", kvdata::kSuperUserGroup);
  EXPECT_EQ(assign.number(), -2147220504);
  EXPECT_EQ(assign.source(), "Action.SetWorkgroup");
  EXPECT_EQ(assign.description(),
            "Unable to change workgroup: Only a SuperUser can assign SuperUser privileges");
  EXPECT_EQ(refused("admin", staff_).description(),
            "Unable to change workgroup: Only a SuperUser can revoke SuperUser privileges");
  EXPECT_EQ(WorkgroupOf("bea"), staff_);
  EXPECT_EQ(WorkgroupOf("admin"), kvdata::kSuperUserGroup);

  // No move at all is never refused.
  olga->SetWorkgroup("admin", kvdata::kSuperUserGroup);
  olga->SetWorkgroup("bea", others_);
  EXPECT_EQ(WorkgroupOf("bea"), others_);

  const auto admin = As("admin");
  admin->SetWorkgroup("bea", kvdata::kSuperUserGroup);
  EXPECT_EQ(WorkgroupOf("bea"), kvdata::kSuperUserGroup);
  admin->SetWorkgroup("bea", staff_);
  EXPECT_EQ(WorkgroupOf("bea"), staff_);
  // The directory's refusal of an unknown user is passed over.
  admin->SetWorkgroup("nobody", staff_);
}

TEST_P(RightsTest, OwnWorkgroupChangeTakesEffectAtOnce) {
  const auto admin = As("admin");
  admin->SetWorkgroup("olga", others_);
  EXPECT_TRUE(admin->HasAccess(arSuperUser));  // another user's move leaves the profile alone

  admin->SetWorkgroup("admin", staff_);
  EXPECT_FALSE(admin->HasAccess(arSuperUser));
  EXPECT_TRUE(admin->HasAccess(arAddActions));
  EXPECT_FALSE(admin->HasAccess(arApplyToOthers));
  EXPECT_EQ(admin->UserProfile()->GroupID(), staff_);

  const auto olga = As("olga");
  olga->SetWorkgroup("olga", others_);
  EXPECT_FALSE(olga->HasAccess(arAddActions));
  EXPECT_TRUE(olga->HasAccess(arApplyToOthers));
}

KV_INSTANTIATE_ENGINES(RightsTest);

}  // namespace
}  // namespace kvaction
