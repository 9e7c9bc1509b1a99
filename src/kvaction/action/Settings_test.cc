#include <gtest/gtest.h>

#include "kvaction/action/ActionTest.h"
#include "kvdata/SettingsStore.h"
#include "kvdata/UserProfile.h"

namespace kvaction {
namespace {

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
