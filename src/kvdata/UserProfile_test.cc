#include "kvdata/UserProfile.h"

#include <gtest/gtest.h>

#include "kvdata/ActionDatabaseTest.h"
#include "kvdata/DataConnection.h"
#include "kvdata/Errors.h"
#include "kvdata/WorkgroupDirectory.h"
#include "vb/testing/ErrorOf.h"

namespace kvdata {
namespace {

class UserProfileValue : public ActionDatabaseTest {
 protected:
  void SetUp() override {
    ActionDatabaseTest::SetUp();
    server_ = OpenServer();
    group_ = server_->Workgroups()->CreateWorkgroup("Staff", "50, 65");
    server_->Connection()
        ->OpenRecordset("select * from Users where UserID=''")
        ->AddNew({"UserID", "UserName", "GroupID"}, {"bob", "Bob", group_});
  }
  std::shared_ptr<UserProfile> For(const char* user) const {
    return UserProfile::ForUser(server_->Connection(), user);
  }
  std::unique_ptr<DataServer> server_;
  int32_t group_ = 0;
};

// The anonymous profile keeps nothing.
TEST_P(UserProfileValue, IsNewUntilTheFirstValueAndKeepsValuesPerUser) {
  const auto admin = For("admin");
  const auto bob = For("bob");
  EXPECT_TRUE(admin->IsNew());
  EXPECT_TRUE(admin->Value("DefaultDueDays").IsEmpty());
  admin->Value("DefaultDueDays", int16_t{10});
  admin->Value("VersionSensing", true);
  EXPECT_FALSE(admin->IsNew());
  EXPECT_TRUE(bob->IsNew());
  EXPECT_TRUE(bob->Value("VersionSensing").IsEmpty());
  const auto again = For("admin");
  EXPECT_EQ(again->Value("defaultduedays"), vb::Variant(int16_t{10}));
  EXPECT_EQ(again->Value("VersionSensing"), vb::Variant(true));
  const auto nobody = server_->Profile();
  ASSERT_TRUE(nobody);
  EXPECT_EQ(nobody->UserID(), "");
  EXPECT_TRUE(nobody->IsNew());
  EXPECT_FALSE(nobody->HasRight(50));
  const vb::ComError e = vb::testing::ErrorOf([&] { nobody->Value("AlertDays", int16_t{5}); });
  EXPECT_EQ(e.number(), kBadArgument);
  EXPECT_EQ(e.source(), "kvDataServer.UserProfile");
}

TEST_P(UserProfileValue, CarriesTheWorkgroupsRightsUntilRightListReplacesThemAndMovesGroups) {
  const auto admin = For("admin");
  EXPECT_EQ(admin->UserName(), "Ada Admin");
  EXPECT_EQ(admin->GroupID(), kSuperUserGroup);
  EXPECT_TRUE(admin->AllRights());
  EXPECT_TRUE(admin->HasRight(1000));
  const auto bob = For("bob");
  EXPECT_EQ(bob->GroupID(), group_);
  EXPECT_FALSE(bob->AllRights());
  EXPECT_TRUE(bob->HasRight(65));
  EXPECT_FALSE(bob->HasRight(255));
  bob->RightList("255");
  EXPECT_TRUE(bob->HasRight(255));
  EXPECT_FALSE(bob->HasRight(65));
  EXPECT_EQ(For("bob")->RightList(), "50,65");  // nothing was stored
  // A GroupID value moves the user in the directory; it is not a profile value.
  bob->Value("GroupID", int32_t{kSuperUserGroup});
  EXPECT_EQ(server_->Workgroups()->UserWorkgroup("bob"), kSuperUserGroup);
  EXPECT_EQ(bob->Value("GroupID"), vb::Variant(int32_t{kSuperUserGroup}));
  EXPECT_TRUE(bob->IsNew());
  EXPECT_THROW(bob->Value("GroupID", int32_t{999}), vb::ComError);
  EXPECT_EQ(server_->Workgroups()->UserWorkgroup("bob"), kSuperUserGroup);
}

KV_INSTANTIATE_ENGINES(UserProfileValue);

}  // namespace
}  // namespace kvdata
