// The rights members and field lists on both engines: each one asks the logged-in user's profile
// and workgroup, or the settings (the rights tables themselves are pinned beside Rights.h).
#include <gtest/gtest.h>

#include <string>

#include "kvaction/action/ActionTest.h"
#include "kvaction/rights/Rights.h"
#include "kvdata/SettingsStore.h"
#include "kvdata/UserProfile.h"
#include "kvdata/WorkgroupDirectory.h"
#include "vb/Convert.h"

namespace kvaction {
namespace {

// Staff may edit and delete what they originate but not change action numbers; Others apply a
// few rights to everybody's actions.
constexpr std::string_view kStaffRights = "50,54,55,57,58,59,61,62,63,64,65,81";

class RightsTest : public ActionTest {
 protected:
  void SetUp() override {
    ActionTest::SetUp();
    if (HasFatalFailure()) return;
    const auto server = OpenServer();
    staff_ = server->Workgroups()->CreateWorkgroup("Staff", kStaffRights);
    others_ = server->Workgroups()->CreateWorkgroup("Others", "64,65,66,81");
    for (const char* id : {"olga", "alan", "bea"}) AddUser(id, "pw", staff_);
    AddUser("rita", "pw", others_);
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

TEST_P(RightsTest, EditingRightsFollowTheProfileAndTheActionsState) {
  const auto olga = LoggedIn("olga");
  const auto rs = olga->editingRights("", "", "alan", "olga", "");
  ASSERT_EQ(rs->Fields().Count(), 17);
  EXPECT_EQ(rs->RecordCount(), 1);
  for (int32_t i = 0; i < 17; ++i) {
    EXPECT_EQ(rs->Fields().Item(i).Name(), EditingRights::kFieldNames[static_cast<size_t>(i)]);
    EXPECT_EQ(rs->Fields().Item(i).Type(), ado::adBoolean);
  }
  // Nothing decides CloseAction: the record carries the field without a value.
  EXPECT_TRUE(rs->Fields().Item("CloseAction").Value().IsNull());
  EXPECT_EQ(TrueFields(*rs),
            "EditActionTaken EditDateOpened EditDateDue EditDescription EditPriority EditAssignee "
            "EditOriginator EditCategory DeleteAction SpellChecker AddActions EditApprovalRequired "
            "SetStatus EditSubject");
  EXPECT_EQ(TrueFields(*olga->editingRights("3/10/2024", "3/1/2024", "alan", "olga", "")),
            "DeleteAction AddActions SetStatus");
  EXPECT_EQ(TrueFields(*NewAction()->editingRights("", "", "alan", "olga", "")), "");
  // The action's reference is compared with the object's.
  const auto admin = LoggedIn("admin");
  const auto editReference = [&] {
    return admin->editingRights("", "", "alan", "olga", "R-7")->Fields()["EditReference"].Value();
  };
  EXPECT_EQ(editReference(), vb::Variant(false));
  admin->ReferenceID("R-7");
  EXPECT_EQ(editReference(), vb::Variant(true));
}

TEST_P(RightsTest, DeletePermissionAndAccessAskTheProfile) {
  const auto olga = LoggedIn("olga");
  EXPECT_TRUE(olga->PermitDeleteAction("alan", "olga"));
  EXPECT_TRUE(LoggedIn("rita")->PermitDeleteAction("", "bea"));
  EXPECT_FALSE(NewAction()->PermitDeleteAction("", ""));
  EXPECT_TRUE(olga->HasAccess(arAddActions));
  EXPECT_FALSE(olga->HasAccess(arChangeActionNum));
  EXPECT_EQ(olga->WorkgroupRights()->Count(), 28);
  EXPECT_TRUE(LoggedIn("admin")->HasAccess(int16_t{1000}));
  EXPECT_EQ(ErrorOf([] { (void)Action().HasAccess(arAddActions); }).number(), vb::kObjectNotSet);
}

TEST_P(RightsTest, OnlyASuperUserMovesUsersIntoOrOutOfSuperUsers) {
  const auto olga = LoggedIn("olga");
  // The refusal's text is pinned beside Rights.h.
  EXPECT_EQ(ErrorOf([&] { olga->SetWorkgroup("bea", kvdata::kSuperUserGroup); }).number(),
            -2147220504);
  EXPECT_ANY_THROW(olga->SetWorkgroup("admin", staff_));
  EXPECT_NO_THROW(olga->SetWorkgroup("admin", kvdata::kSuperUserGroup));  // no move: no refusal
  EXPECT_EQ(WorkgroupOf("bea"), staff_);
  EXPECT_EQ(WorkgroupOf("admin"), kvdata::kSuperUserGroup);

  olga->SetWorkgroup("bea", others_);
  EXPECT_EQ(WorkgroupOf("bea"), others_);
  const auto admin = LoggedIn("admin");
  admin->SetWorkgroup("bea", kvdata::kSuperUserGroup);
  EXPECT_EQ(WorkgroupOf("bea"), kvdata::kSuperUserGroup);
  admin->SetWorkgroup("nobody", staff_);       // the directory's refusal is passed over
  EXPECT_TRUE(admin->HasAccess(arSuperUser));  // another user's move leaves the profile alone
  // The user's own move takes effect at once.
  admin->SetWorkgroup("admin", staff_);
  EXPECT_FALSE(admin->HasAccess(arSuperUser));
  EXPECT_TRUE(admin->HasAccess(arAddActions));
  EXPECT_EQ(admin->UserProfile()->GroupID(), staff_);
}

// Which columns are visible is decided beside Rights.h; here the keys are the columns' positions,
// and the validated fields are Category then Priority with their labels.
TEST_P(RightsTest, VisibleFieldsByPositionAndValidatedFieldsWithTheirLabels) {
  EXPECT_EQ(ErrorOf([&] { (void)NewAction()->VisibleFields(); }).number(), vb::kObjectNotSet);
  EXPECT_EQ(ErrorOf([&] { (void)NewAction()->ValidatedFields(); }).number(), vb::kObjectNotSet);
  const auto action = OpenAction();
  const auto visible = action->VisibleFields();
  ASSERT_GE(visible->Count(), 2);
  EXPECT_EQ(visible->KeyAt(1) + "=" + vb::CStr(visible->Item(1)), "01=ActionNumber");
  EXPECT_EQ(visible->KeyAt(2) + "=" + vb::CStr(visible->Item(2)), "02=Subject");

  const auto settings = action->DataServer()->Settings();
  settings->Value(kvdata::LabelKey("Priority"), vb::Variant("Urgency"));
  const auto list = action->ValidatedFields();
  ASSERT_EQ(list->RecordCount(), 2);
  const auto row = [&] {
    return vb::CStr(list->Fields().Item("FieldName").Value()) + "=" +
           vb::CStr(list->Fields().Item("FieldLabel").Value());
  };
  EXPECT_EQ(row(), "Priority=Urgency");
  list->MoveFirst();
  EXPECT_EQ(row(), "Category=" + settings->Label("Category"));
}

KV_INSTANTIATE_ENGINES(RightsTest);

}  // namespace
}  // namespace kvaction
