// The Action object itself: its life, settings and record-set services.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "ado/Enums.h"
#include "kvaction/action/ActionTest.h"
#include "kvaction/action/VersionText.h"
#include "kvdata/Errors.h"
#include "kvdata/SettingsStore.h"
#include "kvdata/UserProfile.h"
#include "vb/Convert.h"

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
  Action& same = *replaced;
  *replaced = std::move(same);  // given itself: nothing is released
  EXPECT_NO_THROW((void)replacedServer->Connection());
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
  EXPECT_EQ(action->Locale().ShortDatePattern(), vb::Locale::EnUS().ShortDatePattern());
  const vb::Date later = vb::Date::FromParts(2030, 1, 2);
  action->SetClock(std::make_shared<vb::FixedClock>(later));
  EXPECT_EQ(connection->Clock().Now(), later);
}

KV_INSTANTIATE_ENGINES(TerminationTest);

TEST(VersionText, PadsMinorAndRevisionToAtLeastThreeDigits) {
  EXPECT_EQ(VersionText(1, 0, 117), "1.000.117");
  EXPECT_EQ(VersionText(12, 34, 5), "12.034.005");
  EXPECT_EQ(VersionText(1, 0, 1234), "1.000.1234");
}

using SettingsTest = ActionTest;

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

// Per-user keeping of profile values is pinned beside UserProfile.h.
TEST_P(SettingsTest, VersionSensingIsAProfileValue) {
  const auto action = AdminAction();
  EXPECT_FALSE(action->VersionSensing());
  action->VersionSensing(true);
  EXPECT_TRUE(action->VersionSensing());
  EXPECT_EQ(action->UserProfile()->Value("VersionSensing"), vb::Variant(true));
}

KV_INSTANTIATE_ENGINES(SettingsTest);

class RecordsetServicesTest : public AdminTest {
 protected:
  void SetUp() override {
    AdminTest::SetUp();
    if (HasFatalFailure()) return;
    for (const ActionRow& row :
         {ActionRow{.number = 1, .reference = "R", .referenceID = "7"},
          ActionRow{.number = 2, .reference = "R", .referenceID = "8"},
          ActionRow{.number = 3, .reference = "R", .referenceID = "7"},
          ActionRow{.number = 4, .reference = "S", .referenceID = "7"},
          ActionRow{.number = 5, .reference = "R", .referenceID = "O'Neil"}}) {
      ids_.push_back(Store(row));
    }
  }
  /// The action numbers of rs, sorted.
  [[nodiscard]] static std::vector<int32_t> Sorted(const RecordsetPtr& rs) {
    std::vector<int32_t> numbers = Numbers(*rs);
    std::sort(numbers.begin(), numbers.end());
    return numbers;
  }

  std::vector<int32_t> ids_;
};

TEST_P(RecordsetServicesTest, DataRecordSelectsOneActionByIdWithoutBlankAfterEquals) {
  EXPECT_EQ(Sorted(action_->DataRecord(ids_[2])), std::vector<int32_t>{3});
  EXPECT_EQ(LastStatement(*action_),
            "select * from actions where ActionID =" + std::to_string(ids_[2]));
  EXPECT_TRUE(action_->DataRecord(-4)->IsEOF());
  EXPECT_EQ(LastStatement(*action_), "select * from actions where ActionID =-4");
  // Recordset passes the text and the cursor options on (their defaults are the connection's).
  EXPECT_EQ(action_->Recordset("select * from actions", 3, 3, 1)->LockType(), ado::adLockReadOnly);
  EXPECT_EQ(LastStatement(*action_), "select * from actions");
}

TEST_P(RecordsetServicesTest, ReferenceRecordsetNarrowsByExplicitThenObjectReferenceId) {
  const struct {
    const char* referenceID;
    const char* objectReferenceID;
    const char* statement;
    std::vector<int32_t> numbers;
  } cases[] = {
      {"", "", "select * from actions where reference = 'R'", {1, 2, 3, 5}},
      {"", "7", "select * from actions where reference = 'R' and referenceID='7'", {1, 3}},
      {"8", "7", "select * from actions where reference = 'R' and referenceID='8'", {2}},
      {"O'Neil", "", "select * from actions where reference = 'R' and referenceID='O''Neil'", {5}},
  };
  for (const auto& c : cases) {
    action_->ReferenceID(c.objectReferenceID);
    EXPECT_EQ(Sorted(action_->ReferenceRecordset("R", c.referenceID)), c.numbers);
    EXPECT_EQ(LastStatement(*action_), c.statement);
  }
}

TEST_P(RecordsetServicesTest, ExecuteRunsTextAndChangingNoRowsIsSilent) {
  action_->Execute("update actions set Subject='none' where ActionNumber=99");
  action_->Execute("update actions set Subject='due' where ActionNumber=2");
  EXPECT_EQ(LastStatement(*action_), "update actions set Subject='due' where ActionNumber=2");
  EXPECT_EQ(Stored(ids_[1], "Subject"), vb::Variant("due"));
  EXPECT_EQ(ErrorOf([] { Action().save(); }).number(), vb::kObjectNotSet);
}

KV_INSTANTIATE_ENGINES(RecordsetServicesTest);

}  // namespace
}  // namespace kvaction
