#include <gtest/gtest.h>

#include "kvaction/action/ActionTest.h"
#include "kvdata/Errors.h"
#include "kvdata/SettingsStore.h"

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

}  // namespace
}  // namespace kvaction
