#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "kvaction/action/ActionTest.h"
#include "kvdata/Errors.h"
#include "kvdata/SettingsStore.h"
#include "kvdata/UserProfile.h"
#include "kvdata/engine/Engine.h"
#include "kvuser/Errors.h"

namespace kvaction {
namespace {

constexpr int32_t kNotActionDatabase = -2147220501;
constexpr int32_t kVersionRejected = -2147220500;

using OpenConnectionTest = ActionTest;

TEST_P(OpenConnectionTest, ASecondOpenReplacesOnlyTheDataServerAndAFailedOneLeavesItUnopened) {
  const auto action = OpenAction();
  const auto first = action->DataServer();
  const auto directory = action->User();
  ASSERT_NE(directory, nullptr);
  EXPECT_EQ(directory->Server()->Connection()->DatabaseName(), first->Connection()->DatabaseName());
  EXPECT_EQ(action->UserProfile()->UserID(), "");
  action->OpenConnection(ConnectionString());
  EXPECT_NE(action->DataServer(), first);
  EXPECT_EQ(action->User(), directory);
  EXPECT_NO_THROW((void)first->Connection());  // replaced, not closed

  const auto error = ErrorOf([&] {
    action->OpenConnection("Provider=SQLite;Data Source=/nonexistent-kv-folder/none.kvdb");
  });
  EXPECT_EQ(error.number(), kvdata::kOpenFailed);
  EXPECT_EQ(error.source(), kvdata::kConnectionSource);
  ASSERT_NE(action->DataServer(), nullptr);
  EXPECT_EQ(ErrorOf([&] { (void)action->DataServer()->Connection(); }).number(), kvdata::kNotOpen);
  EXPECT_EQ(action->User(), directory);
}

TEST_P(OpenConnectionTest, ADatabaseWithoutEveryActionTableIsRefusedAndTheDirectoryKept) {
  const auto action = OpenAction();
  const auto directory = action->User();
  const std::string name = action->DataServer()->Connection()->DatabaseName();
  Connect()->Engine().Execute(R"(DROP TABLE "ActionEvents")");
  const auto error = ErrorOf([&] { action->OpenConnection(ConnectionString()); });
  EXPECT_EQ(error.number(), kNotActionDatabase);
  EXPECT_EQ(error.source(), "clsAction.OpenConnection");
  EXPECT_EQ(error.description(),
            "The file: " + name + "\r\ndoes not appear to be a Velmora Database.");
  EXPECT_EQ(action->DataServer(), nullptr);
  EXPECT_EQ(action->User(), directory);
  const auto fresh = NewAction();
  EXPECT_ANY_THROW(fresh->OpenConnection(ConnectionString()));
  EXPECT_EQ(fresh->User(), nullptr);
}

TEST_P(OpenConnectionTest, VersionsOrdinallyBelowTheRequiredOneOrOfAnotherMajorAreRejected) {
  const std::string refusal = "The file: \r\n\r\n" + OpenServer()->Connection()->DatabaseName() +
                              "\r\n\r\nmust be updated to version 1.003\r\n"
                              "to work with this release of the software.";
  const std::pair<std::optional<std::string>, bool> cases[] = {
      {"1.003", true},  {"1.0030", true}, {"1.01", true},
      {"1.002", false}, {"2.000", false}, {std::nullopt, false}};
  for (const auto& [version, accepted] : cases) {
    SCOPED_TRACE(version.value_or("(none)"));
    {
      const auto server = OpenServer();
      server->Settings()->Value("Version", version ? vb::Variant(*version) : vb::Variant());
      server->Settings()->Save();
    }
    const auto action = NewAction();
    if (accepted) {
      action->OpenConnection(ConnectionString());
      EXPECT_NE(action->DataServer(), nullptr);
      continue;
    }
    const auto error = ErrorOf([&] { action->OpenConnection(ConnectionString()); });
    EXPECT_EQ(error.number(), kVersionRejected);
    EXPECT_EQ(error.source(), "clsAction.OpenConnection");
    EXPECT_EQ(error.description(), refusal);
    EXPECT_EQ(action->DataServer(), nullptr);
    EXPECT_EQ(action->User(), nullptr);
  }
}

KV_INSTANTIATE_ENGINES(OpenConnectionTest);

using LoginTest = ActionTest;

// The first login gives the profile its integer defaults, later ones keep its values; a refused
// login keeps the profile.
TEST_P(LoginTest, FirstLoginGivesProfileDefaultsAndARefusalKeepsTheProfile) {
  AdminAction()->UserProfile()->Value("AlertDays", vb::Variant(int16_t{7}));
  const auto profile = AdminAction()->UserProfile();
  EXPECT_EQ(profile->Value("AlertDays"), vb::Variant(int16_t{7}));
  EXPECT_EQ(profile->Value("DefaultDueDays"), vb::Variant(int16_t{10}));
  EXPECT_EQ(profile->Value("AutoNotifyInterval"), vb::Variant(int16_t{60}));

  const int32_t staff = OpenServer()->Workgroups()->CreateWorkgroup("Staff", "");
  AddUser("bob", "pw", staff);
  const auto action = LoggedIn("bob");
  EXPECT_EQ(action->UserProfile()->GroupID(), staff);
  EXPECT_EQ(action->User()->UserField("bob", "GroupID"), vb::Variant(staff));
  // The directory's refusals are pinned in the User tests.
  EXPECT_EQ(ErrorOf([&] { action->Login("admin", "wrong"); }).number(), kvuser::kLoginFailed);
  EXPECT_EQ(action->UserProfile()->UserID(), "bob");
}

TEST_P(LoginTest, WithProfileOpensItsDatabaseOnlyWhenNoneIsOpen) {
  auto profile = AdminAction()->UserProfile();
  const auto unopened = NewAction();
  unopened->Login("admin", "secret", &profile);
  ASSERT_NE(unopened->DataServer(), nullptr);
  EXPECT_EQ(unopened->UserProfile()->UserID(), "admin");
  const auto opened = OpenAction();
  const auto server = opened->DataServer();
  opened->Login("admin", "secret", &profile);
  EXPECT_EQ(opened->DataServer(), server);
  // Neither a database nor a profile (none given, or an empty one): the directory's error.
  UserProfilePtr none;
  EXPECT_EQ(ErrorOf([&] { NewAction()->Login("admin", "secret"); }).number(),
            kvuser::kNotConnected);
  EXPECT_EQ(ErrorOf([&] { NewAction()->Login("admin", "secret", &none); }).number(),
            kvuser::kNotConnected);
}

KV_INSTANTIATE_ENGINES(LoginTest);

}  // namespace
}  // namespace kvaction
