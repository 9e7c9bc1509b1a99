#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "kvaction/action/ActionTest.h"
#include "kvdata/Errors.h"
#include "kvdata/SettingsStore.h"
#include "kvdata/UserProfile.h"
#include "kvdata/WorkgroupDirectory.h"
#include "kvdata/engine/Engine.h"
#include "kvuser/Errors.h"

namespace kvaction {
namespace {

constexpr int32_t kNotActionDatabase = -2147220501;
constexpr int32_t kVersionRejected = -2147220500;

class OpenConnectionTest : public ActionTest {
 protected:
  /// The database's name as the data server reports it.
  [[nodiscard]] std::string DatabaseName() const {
    return OpenServer()->Connection()->DatabaseName();
  }
  /// Stores version as the schema version (nullopt removes it).
  void StoreVersion(const std::optional<std::string>& version) const {
    const auto server = OpenServer();
    server->Settings()->Value("Version", version ? vb::Variant(*version) : vb::Variant());
    server->Settings()->Save();
  }
};

TEST_P(OpenConnectionTest, OpensTheDatabaseAndASecondOpenReplacesOnlyTheDataServer) {
  const auto action = OpenAction();
  const auto first = action->DataServer();
  const auto directory = action->User();
  ASSERT_NE(first, nullptr);
  ASSERT_NE(directory, nullptr);
  EXPECT_EQ(directory->Server()->Connection()->DatabaseName(), DatabaseName());
  EXPECT_EQ(action->UserProfile()->UserID(), "");
  action->OpenConnection(ConnectionString());
  EXPECT_NE(action->DataServer(), first);
  EXPECT_EQ(action->User(), directory);
  EXPECT_NO_THROW((void)first->Connection());  // replaced, not closed
}

TEST_P(OpenConnectionTest, OpenFailureRaisesDataServerErrorAndKeepsUnopenedDataServer) {
  const auto action = OpenAction();
  const auto first = action->DataServer();
  const auto directory = action->User();
  const auto error = ErrorOf([&] {
    action->OpenConnection("Provider=SQLite;Data Source=/nonexistent-kv-folder/none.kvdb");
  });
  EXPECT_EQ(error.number(), kvdata::kOpenFailed);
  EXPECT_EQ(error.source(), kvdata::kConnectionSource);
  ASSERT_NE(action->DataServer(), nullptr);
  EXPECT_NE(action->DataServer(), first);
  EXPECT_EQ(ErrorOf([&] { (void)action->DataServer()->Connection(); }).number(), kvdata::kNotOpen);
  EXPECT_EQ(action->User(), directory);
}

TEST_P(OpenConnectionTest, DatabaseLackingOnlyActionEventsIsNotAnActionDatabase) {
  Connect()->Engine().Execute(R"(DROP TABLE "ActionEvents")");
  const auto action = NewAction();
  const auto error = ErrorOf([&] { action->OpenConnection(ConnectionString()); });
  EXPECT_EQ(error.number(), kNotActionDatabase);
  EXPECT_EQ(error.source(), "clsAction.OpenConnection");
  EXPECT_EQ(error.description(),
            "The file: " + DatabaseName() + "\r\ndoes not appear to be a Velmora Database.");
  EXPECT_EQ(action->DataServer(), nullptr);
  EXPECT_EQ(action->User(), nullptr);
}

TEST_P(OpenConnectionTest, EmptyDatabaseIsRefusedAndUserDirectoryKept) {
  const ExtraDatabase empty;
  const auto action = OpenAction();
  const auto directory = action->User();
  EXPECT_EQ(ErrorOf([&] { action->OpenConnection(empty.ConnectionString()); }).number(),
            kNotActionDatabase);
  EXPECT_EQ(action->DataServer(), nullptr);
  EXPECT_EQ(action->User(), directory);
}

TEST_P(OpenConnectionTest, AcceptsVersionsNotOrdinallyBelowRequiredWithMajorOne) {
  for (const std::string version : {"1.003", "1.0030", "1.01"}) {
    SCOPED_TRACE(version);
    StoreVersion(version);
    const auto action = OpenAction();
    EXPECT_NE(action->DataServer(), nullptr);
  }
}

TEST_P(OpenConnectionTest, RejectsOlderOtherMajorAndMissingVersionsWithExactText) {
  const std::string expected = "The file: \r\n\r\n" + DatabaseName() +
                               "\r\n\r\nmust be updated to version 1.003\r\n"
                               "to work with this release of the software.";
  for (const std::optional<std::string>& version :
       {std::optional<std::string>("1.002"), std::optional<std::string>("2.000"),
        std::optional<std::string>()}) {
    SCOPED_TRACE(version.value_or("(none)"));
    StoreVersion(version);
    const auto action = NewAction();
    const auto error = ErrorOf([&] { action->OpenConnection(ConnectionString()); });
    EXPECT_EQ(error.number(), kVersionRejected);
    EXPECT_EQ(error.source(), "clsAction.OpenConnection");
    EXPECT_EQ(error.description(), expected);
    EXPECT_EQ(action->DataServer(), nullptr);
    EXPECT_EQ(action->User(), nullptr);
  }
}

KV_INSTANTIATE_ENGINES(OpenConnectionTest);

class LoginTest : public ActionTest {};

TEST_P(LoginTest, FirstLoginGivesProfileIntegerDefaultsAndLaterLoginsKeepItsValues) {
  {
    const auto action = AdminAction();
    const auto profile = action->UserProfile();
    EXPECT_EQ(profile->UserID(), "admin");
    EXPECT_EQ(profile->Value("DefaultDueDays"), vb::Variant(int16_t{10}));
    EXPECT_EQ(profile->Value("AlertDays"), vb::Variant(int16_t{5}));
    EXPECT_EQ(profile->Value("AutoNotifyInterval"), vb::Variant(int16_t{60}));
    profile->Value("AlertDays", vb::Variant(int16_t{7}));
  }
  const auto again = AdminAction();
  EXPECT_EQ(again->UserProfile()->Value("AlertDays"), vb::Variant(int16_t{7}));
  EXPECT_EQ(again->UserProfile()->Value("DefaultDueDays"), vb::Variant(int16_t{10}));
}

TEST_P(LoginTest, LeavesUserInWorkgroupOfProfile) {
  const auto server = OpenServer();
  const int32_t staff = server->Workgroups()->CreateWorkgroup("Staff", "");
  AddUser("bob", "pw", staff);
  const auto action = OpenAction();
  action->Login("bob", "pw");
  EXPECT_EQ(action->UserProfile()->UserID(), "bob");
  EXPECT_EQ(action->UserProfile()->GroupID(), staff);
  EXPECT_EQ(action->User()->UserField("bob", "GroupID"), vb::Variant(staff));
}

TEST_P(LoginTest, RefusalIsDirectoryErrorUnchangedAndKeepsCurrentProfile) {
  const auto action = AdminAction();
  const auto error = ErrorOf([&] { action->Login("admin", "wrong"); });
  EXPECT_EQ(error.number(), kvuser::kLoginFailed);
  EXPECT_EQ(error.source(), kvuser::kUserSource);
  EXPECT_EQ(error.description(), kvuser::kLoginFailedText);
  EXPECT_EQ(action->UserProfile()->UserID(), "admin");
}

TEST_P(LoginTest, WithProfileOpensItsDatabaseOnlyWhenNoneIsOpen) {
  const auto other = AdminAction();
  auto profile = other->UserProfile();
  const auto unopened = NewAction();
  unopened->Login("admin", "secret", &profile);
  ASSERT_NE(unopened->DataServer(), nullptr);
  EXPECT_EQ(unopened->UserProfile()->UserID(), "admin");
  const auto opened = OpenAction();
  const auto server = opened->DataServer();
  opened->Login("admin", "secret", &profile);
  EXPECT_EQ(opened->DataServer(), server);
}

TEST_P(LoginTest, WithoutDatabaseOrProfileFailsWithDirectoryError) {
  const auto action = NewAction();
  const auto error = ErrorOf([&] { action->Login("admin", "secret"); });
  EXPECT_EQ(error.number(), kvuser::kNotConnected);
  EXPECT_EQ(action->DataServer(), nullptr);
  EXPECT_NE(action->User(), nullptr);
}

KV_INSTANTIATE_ENGINES(LoginTest);

}  // namespace
}  // namespace kvaction
