#include <gtest/gtest.h>

#include "kvaction/action/ActionTest.h"
#include "kvaction/action/VersionText.h"
#include "kvdata/Errors.h"
#include "kvdata/SettingsStore.h"
#include "kvdata/UserProfile.h"

namespace kvaction {
namespace {

TEST(ActionCreated, HoldsNoCollaboratorsAndIgnoresProcedureCalls) {
  Action action;
  EXPECT_EQ(action.DataServer(), nullptr);
  EXPECT_EQ(action.User(), nullptr);
  EXPECT_EQ(ErrorOf([&] { (void)action.UserProfile(); }).number(), vb::kObjectNotSet);
  EXPECT_EQ(action.RequiredDatabaseVersion(), "1.003");
  vb::Variant parameters("in");
  vb::Variant results(int32_t{42});
  action.CallProcedure("anything at all", &parameters, &results);
  EXPECT_EQ(parameters, vb::Variant("in"));
  EXPECT_EQ(results, vb::Variant(int32_t{42}));
}

class TerminationTest : public ActionTest {
 protected:
  [[nodiscard]] bool SavedAutoEmail() const { return OpenAction()->AutoEmail(); }
};

// Releasing the object, or assigning another over it, saves its settings and closes its database.
TEST_P(TerminationTest, ReleasingOrReplacingSavesSettingsThenClosesDatabase) {
  auto action = OpenAction();
  const auto server = action->DataServer();
  action->AutoEmail(true);
  EXPECT_FALSE(SavedAutoEmail());
  action.reset();
  EXPECT_TRUE(SavedAutoEmail());
  EXPECT_EQ(ErrorOf([&] { (void)server->Connection(); }).number(), kvdata::kNotOpen);

  auto replaced = OpenAction();
  const auto replacedServer = replaced->DataServer();
  replaced->AutoEmail(false);
  *replaced = std::move(*OpenAction());
  EXPECT_NE(replaced->DataServer(), replacedServer);
  EXPECT_FALSE(SavedAutoEmail());
  EXPECT_EQ(ErrorOf([&] { (void)replacedServer->Connection(); }).number(), kvdata::kNotOpen);

  const ExtraDatabase empty;  // after a refused open there is nothing to save, and no error
  auto refused = NewAction();
  EXPECT_ANY_THROW(refused->OpenConnection(empty.ConnectionString()));
  EXPECT_NO_THROW(refused.reset());
}

TEST_P(TerminationTest, ClockAndLocaleReachTheConnectionBeforeAndAfterOpening) {
  auto action = NewAction();
  action->SetLocale(vb::Locale::EnGB());
  action->OpenConnection(ConnectionString());
  const auto connection = action->DataServer()->Connection();
  EXPECT_EQ(connection->Clock().Now(), pinnedClock_->Now());
  EXPECT_EQ(connection->Locale().ShortDatePattern(), vb::Locale::EnGB().ShortDatePattern());
  action->SetLocale(vb::Locale::EnUS());
  EXPECT_EQ(connection->Locale().ShortDatePattern(), vb::Locale::EnUS().ShortDatePattern());
}

KV_INSTANTIATE_ENGINES(TerminationTest);

TEST(VersionText, PadsMinorAndRevisionToAtLeastThreeDigits) {
  EXPECT_EQ(VersionText(1, 0, 117), "1.000.117");
  EXPECT_EQ(VersionText(12, 34, 5), "12.034.005");
  EXPECT_EQ(VersionText(1, 0, 1234), "1.000.1234");
}

class SettingsTest : public ActionTest {};

// Typed storage and visibility after save are pinned beside SettingsStore.h.
TEST_P(SettingsTest, PropertiesAreDatabaseSettingsExceptTheWebURL) {
  const auto action = OpenAction();
  EXPECT_EQ(action->SMTPHost(), "");
  action->SMTPHost("mail.example.com");
  action->SMTPDefault(true);
  action->AutoEmail(true);
  action->twWebURL("http://intranet/actions/");
  action->save();
  const auto other = OpenAction();
  EXPECT_EQ(other->twWebURL(), "") << "the web URL belongs to one object";
  EXPECT_EQ(other->SMTPHost(), "mail.example.com");
  EXPECT_TRUE(other->SMTPDefault());
  EXPECT_TRUE(other->AutoEmail());
  // The booleans read numbers; a Null text is refused as VB refuses it.
  const auto settings = other->DataServer()->Settings();
  settings->Value("SMTPDefault", vb::Variant(int16_t{0}));
  settings->Value("AutoEmail", vb::Variant(int32_t{-1}));
  EXPECT_FALSE(other->SMTPDefault());
  EXPECT_TRUE(other->AutoEmail());
  settings->Value("SMTPHost", vb::Null);
  EXPECT_EQ(ErrorOf([&] { (void)other->SMTPHost(); }).number(), vb::kInvalidUseOfNull);
}

TEST_P(SettingsTest, VersionSensingBelongsToTheLoggedInUser) {
  AddUser("bob", "pw");
  const auto action = AdminAction();
  EXPECT_FALSE(action->VersionSensing());
  action->VersionSensing(true);
  EXPECT_TRUE(action->VersionSensing());
  EXPECT_EQ(action->UserProfile()->Value("VersionSensing"), vb::Variant(true));
  action->Login("bob", "pw");
  EXPECT_FALSE(action->VersionSensing());
}

KV_INSTANTIATE_ENGINES(SettingsTest);

}  // namespace
}  // namespace kvaction
