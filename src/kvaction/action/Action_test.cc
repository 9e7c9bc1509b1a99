#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>

#include "kvaction/action/ActionTest.h"
#include "kvdata/Errors.h"
#include "kvdata/SettingsStore.h"

namespace kvaction {
namespace {

TEST(ActionCreated, HoldsNoCollaboratorsAndHasNoProfile) {
  const Action action;
  EXPECT_EQ(action.DataServer(), nullptr);
  EXPECT_EQ(action.User(), nullptr);
  const auto error = ErrorOf([&] { (void)action.UserProfile(); });
  EXPECT_EQ(error.number(), 91);
  EXPECT_EQ(error.description(), "Object variable or With block variable not set");
}

TEST(CallProcedure, AcceptsAnyCommandAndLeavesArgumentsAsTheyWere) {
  Action action;
  vb::Variant parameters("in");
  vb::Variant results(int32_t{42});
  action.CallProcedure("anything at all", &parameters, &results);
  action.CallProcedure("");
  EXPECT_EQ(parameters, vb::Variant("in"));
  EXPECT_EQ(results, vb::Variant(int32_t{42}));
}

TEST(VersionProperties, RequireSchema1003AndWriteMinorAndRevisionWithThreeDigits) {
  const Action action;
  EXPECT_EQ(action.RequiredDatabaseVersion(), "1.003");
  EXPECT_THAT(action.Version(), ::testing::MatchesRegex(R"(^[0-9]+\.[0-9]{3,}\.[0-9]{3,}$)"));
}

class TerminationTest : public ActionTest {
 protected:
  [[nodiscard]] bool SavedAutoEmail() const { return OpenAction()->AutoEmail(); }
};

TEST_P(TerminationTest, ReleasingSavesSettingsThenClosesDatabase) {
  auto action = OpenAction();
  const auto server = action->DataServer();
  action->AutoEmail(true);
  EXPECT_FALSE(SavedAutoEmail());
  action.reset();
  EXPECT_TRUE(SavedAutoEmail());
  EXPECT_EQ(ErrorOf([&] { (void)server->Connection(); }).number(), kvdata::kNotOpen);
}

TEST_P(TerminationTest, ReleasingAfterRefusedOpenSucceedsSilently) {
  const ExtraDatabase empty;
  auto action = NewAction();
  EXPECT_ANY_THROW(action->OpenConnection(empty.ConnectionString()));
  EXPECT_NO_THROW(action.reset());
}

TEST_P(TerminationTest, MoveAssignmentTerminatesTheObjectReplaced) {
  auto replaced = OpenAction();
  const auto server = replaced->DataServer();
  replaced->AutoEmail(true);
  *replaced = std::move(*OpenAction());
  EXPECT_NE(replaced->DataServer(), server);
  EXPECT_TRUE(SavedAutoEmail());
  EXPECT_EQ(ErrorOf([&] { (void)server->Connection(); }).number(), kvdata::kNotOpen);
}

KV_INSTANTIATE_ENGINES(TerminationTest);

class ClockAndLocaleTest : public ActionTest {};

TEST_P(ClockAndLocaleTest, ReachTheConnectionBeforeAndAfterOpening) {
  auto action = NewAction();
  action->SetLocale(vb::Locale::EnGB());
  action->OpenConnection(ConnectionString());
  const auto connection = action->DataServer()->Connection();
  EXPECT_EQ(connection->Clock().Now(), pinnedClock_->Now());
  EXPECT_EQ(connection->Locale().ShortDatePattern(), vb::Locale::EnGB().ShortDatePattern());
  action->SetLocale(vb::Locale::EnUS());
  EXPECT_EQ(connection->Locale().ShortDatePattern(), vb::Locale::EnUS().ShortDatePattern());
}

KV_INSTANTIATE_ENGINES(ClockAndLocaleTest);

}  // namespace
}  // namespace kvaction
