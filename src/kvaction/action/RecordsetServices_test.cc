#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "ado/Enums.h"
#include "kvaction/action/ActionTest.h"
#include "vb/Convert.h"

namespace kvaction {
namespace {

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
