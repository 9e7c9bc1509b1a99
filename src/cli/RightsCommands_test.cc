// The rights, workgroup, field, attachment and user-maintenance commands, and the rights checks
// of the record commands, run in process on both engines.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>

#include <nlohmann/json.hpp>

#include "cli/CommandTest.h"
#include "kvaction/action/ActionTest.h"
#include "vb/ComError.h"
#include "vb/Convert.h"

namespace cli {
namespace {

namespace fs = std::filesystem;

class RightsCommands : public testing::CommandTest<kvaction::ActionTest> {
 protected:
  void SetUp() override {
    ActionTest::SetUp();
    if (HasFatalFailure()) return;
    // Staff add actions, edit the subject, delete what they originate and set the status.
    const int32_t staff = OpenServer()->Workgroups()->CreateWorkgroup("Staff", "50,57,65,81");
    for (const char* id : {"olga", "alan", "bea"}) AddUser(id, "pw", staff);
    staff_ = staff;
  }
  void TearDown() override {
    if (!folder_.empty()) fs::remove_all(folder_);
    ActionTest::TearDown();
  }

  /// The description of the error a command raised.
  std::string Refusal(const std::string& user, const std::vector<std::string>& args) const {
    const vb::ComError error = kvaction::ErrorOf([&] { Run(user, args); });
    EXPECT_EQ(error.number(), kvaction::kRefused) << error.description();
    return error.description();
  }
  /// An action originated by olga and assigned to alan; returns its number as text.
  std::string OlgasAction() const {
    std::string number = Run("olga", {"add", "--subject", "Fix", "--assignee", "alan"});
    number.pop_back();
    return number;
  }
  fs::path Folder() {
    folder_ = fs::temp_directory_path() /
              ("kvcli-attach-" + std::to_string(::getpid()) + "-" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(folder_);
    fs::create_directories(folder_ / "store");
    return folder_;
  }

  int32_t staff_ = 0;
  fs::path folder_;
};

TEST_P(RightsCommands, RightsListTheCatalogueWithWhatTheUserHolds) {
  const auto rights = Json("olga", {"rights"});
  ASSERT_EQ(rights.size(), 28u);
  EXPECT_EQ(rights[0], nlohmann::json::parse(
                           R"({"Right": 41, "Description": "Add users and edit user information",
                               "Held": false})"));
  for (const auto& right : rights) {
    const int number = right["Right"];
    EXPECT_EQ(right["Held"], number == 50 || number == 57 || number == 65 || number == 81)
        << number;
  }
  for (const auto& right : Json("admin", {"rights"})) EXPECT_EQ(right["Held"], true);
}

TEST_P(RightsCommands, CanShowsTheEditingRightsOfAnAction) {
  const std::string number = OlgasAction();
  std::map<std::string, nlohmann::json> allowed;
  for (const auto& row : Json("alan", {"can", number})) allowed[row["Permission"]] = row["Allowed"];
  ASSERT_EQ(allowed.size(), 17u);
  EXPECT_EQ(allowed["EditSubject"], true);
  EXPECT_EQ(allowed["EditDescription"], false);
  EXPECT_TRUE(allowed["CloseAction"].is_null());
}

TEST_P(RightsCommands, RecordCommandsRefuseWhatTheEditingRightsDeny) {
  const std::string number = OlgasAction();
  EXPECT_EQ(Refusal("bea", {"edit", number, "--subject", "Mine now"}),
            "Refused: bea may not change Subject of action " + number + ".");
  EXPECT_EQ(Refusal("alan", {"edit", number, "--subject", "Ok", "--priority", "High"}),
            "Refused: alan may not change Priority of action " + number + ".");
  EXPECT_EQ(Refusal("alan", {"delete", number}),
            "Refused: alan may not delete action " + number + ".");
  const auto subject = [&] {
    return vb::CStr(
        AdminAction()->Recordset("select Subject from actions")->Fields().Item(0).Value());
  };
  EXPECT_EQ(subject(), "Fix");

  Run("alan", {"edit", number, "--subject", "Fixed"});
  EXPECT_EQ(subject(), "Fixed");
  Run("olga", {"close", number});
  // Closed: the originator may no longer edit, but may still delete.
  EXPECT_EQ(Refusal("olga", {"edit", number, "--subject", "Again"}),
            "Refused: olga may not change Subject of action " + number + ".");
  EXPECT_EQ(Run("olga", {"delete", number}), "Deleted 1 action.\n");
}

TEST_P(RightsCommands, WorkgroupSetNeedsWorkgroupMaintenanceAndGuardsSuperUsers) {
  EXPECT_EQ(Refusal("olga", {"workgroup", "set", "bea", "-1"}),
            "Refused: olga may not do this without the right \"Workgroup maintenance\".");
  EXPECT_EQ(Run("admin", {"workgroup", "set", "bea", "-1"}), "Moved bea to workgroup -1.\n");
  EXPECT_EQ(Run("bea", {"workgroup", "set", "bea", std::to_string(staff_)}),
            "Moved bea to workgroup " + std::to_string(staff_) + ".\n");
  const vb::ComError missing = kvaction::ErrorOf([&] {
    Run("admin", {"workgroup", "set", "bea", "99"});
  });
  EXPECT_EQ(missing.description(), "The workgroup of bea was not changed: is 99 a workgroup?");
  EXPECT_EQ(Refusal("olga", {"workgroup", "add", "Clerks", "50"}),
            "Refused: olga may not do this without the right \"Workgroup maintenance\".");
  const std::string clerks = Run("admin", {"workgroup", "add", "Clerks", "50,54"});
  const auto groups = Json("admin", {"workgroup", "list"});
  ASSERT_EQ(groups.size(), 3u);
  EXPECT_EQ(groups[1]["GroupName"], "Staff");
  EXPECT_EQ(std::to_string(groups[2]["GroupID"].get<int>()) + "\n", clerks);
  EXPECT_EQ(groups[2]["RightList"], "50,54");
}

TEST_P(RightsCommands, FieldsListVisibleAndValidatedFields) {
  const auto fields = Json("olga", {"fields"});
  EXPECT_EQ(fields["visible"]["01"], "ActionNumber");
  EXPECT_FALSE(fields["visible"].contains("00"));  // ActionID
  EXPECT_EQ(fields["validated"].size(), 2u);
  EXPECT_TRUE(fields["validated"].contains("Category"));
}

TEST_P(RightsCommands, AttachUploadsListsFetchesAndRemoves) {
  const std::string number = OlgasAction();
  const fs::path folder = Folder();
  std::string bytes;
  for (int i = 0; i < 4096; ++i) bytes.push_back(static_cast<char>(i * 7));
  std::ofstream(folder / "..x", std::ios::binary) << bytes;
  EXPECT_EQ(Refusal("admin", {"attach", "add", number, (folder / "..x").string()}).substr(0, 28),
            "Unable to upload attachment.");
  Run("admin", {"settings", "set", "AttachmentPath", (folder / "store").string()});
  EXPECT_EQ(Run("olga", {"attach", "add", number, (folder / "..x").string()}),
            "Added attachment 1.\n");
  EXPECT_EQ(Run("olga", {"attach", "add", number, "--link", "http://wiki/fix"}),
            "Added attachment 2.\n");
  const auto list = Json("olga", {"attach", "list", number});
  ASSERT_EQ(list.size(), 2u);
  EXPECT_EQ(list[0]["Description"], "..x");
  EXPECT_EQ(list[1]["Link"], "http://wiki/fix");

  Run("olga", {"attach", "get", "1", "--output", (folder / "copy").string()});
  std::ifstream copy(folder / "copy", std::ios::binary);
  EXPECT_TRUE(std::string(std::istreambuf_iterator<char>(copy), {}) == bytes);
  EXPECT_THROW(Run("olga", {"attach", "get", "1", "--output", (folder / "copy").string()}),
               vb::ComError);
  EXPECT_THROW(Run("olga", {"attach", "get", "2"}), vb::ComError);  // a link has no content

  EXPECT_EQ(Run("olga", {"attach", "rm", "1"}), "Removed attachment 1.\n");
  EXPECT_TRUE(fs::is_empty(folder / "store"));
  EXPECT_EQ(Json("olga", {"attach", "list", number}).size(), 1u);
}

TEST_P(RightsCommands, UserRenameAndDeleteNeedTheirRights) {
  const std::string number = OlgasAction();
  EXPECT_EQ(Refusal("olga", {"user", "rename", "alan", "Al"}),
            "Refused: olga may not do this without the right \"Add users and edit user "
            "information\".");
  EXPECT_EQ(Refusal("olga", {"user", "delete", "alan"}),
            "Refused: olga may not do this without the right \"Delete users\".");
  EXPECT_EQ(Run("admin", {"user", "rename", "alan", "Al Smith"}), "Renamed alan to Al Smith.\n");
  const auto assignee = [&] {
    return vb::CStr(
        AdminAction()->Recordset("select Assignee from actions")->Fields().Item(0).Value());
  };
  EXPECT_EQ(assignee(), "Al Smith");
  EXPECT_EQ(Run("admin", {"user", "delete", "alan"}), "Deleted the user alan.\n");
  EXPECT_EQ(assignee(), "Al Smith");  // the action keeps the name
  EXPECT_THROW(Run("alan", {"rights"}), vb::ComError);
}

KV_INSTANTIATE_ENGINES(RightsCommands);

}  // namespace
}  // namespace cli
