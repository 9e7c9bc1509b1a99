#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <tuple>
#include <vector>

#include "ado/Enums.h"
#include "kvaction/action/ActionTest.h"
#include "kvdata/DataUtility.h"
#include "vb/Convert.h"

namespace kvaction {
namespace {

class RecordsetServicesTest : public ActionTest {
 protected:
  void SetUp() override {
    ActionTest::SetUp();
    if (HasFatalFailure()) return;
    action_ = AdminAction();
    // number, reference, reference ID
    for (const auto& [number, reference, refID] :
         std::vector<std::tuple<int, std::string, std::string>>{
             {1, "R", "7"}, {2, "R", "8"}, {3, "R", "7"}, {4, "S", "7"}, {5, "R", "O'Neil"}}) {
      action_->Execute("insert into actions (ActionNumber, Reference, ReferenceID) values (" +
                       std::to_string(number) + ", '" + reference + "', " +
                       kvdata::DataUtility::SqlText(refID) + ")");
    }
    action_->DataServer()->Connection()->ClearTrace();
  }

  /// The action numbers of rs, in ActionNumber order as read.
  [[nodiscard]] static std::vector<int32_t> Numbers(ado::Recordset& rs) {
    std::vector<int32_t> numbers;
    for (; !rs.IsEOF(); rs.MoveNext()) numbers.push_back(vb::CLng(rs["ActionNumber"].Value()));
    std::sort(numbers.begin(), numbers.end());
    return numbers;
  }
  [[nodiscard]] std::string LastStatement() const { return Trace(*action_).back(); }
  [[nodiscard]] int32_t IdOf(int32_t number) {
    const auto rs = action_->Recordset("select ActionID from actions where ActionNumber=" +
                                       std::to_string(number));
    return vb::CLng(rs->Fields().Item("ActionID").Value());
  }

  std::unique_ptr<Action> action_;
};

TEST_P(RecordsetServicesTest, RecordsetOpensKeysetServerOptimisticUnlessTold) {
  const auto rs = action_->Recordset("select * from actions");
  EXPECT_EQ(LastStatement(), "select * from actions");
  EXPECT_EQ(rs->CursorType(), ado::adOpenKeyset);
  EXPECT_EQ(rs->CursorLocation(), ado::adUseServer);
  EXPECT_EQ(rs->LockType(), ado::adLockOptimistic);
  EXPECT_EQ(Numbers(*rs), (std::vector<int32_t>{1, 2, 3, 4, 5}));

  const auto fixed = action_->Recordset("select * from actions", 3, 3, 1);
  EXPECT_EQ(fixed->CursorType(), ado::adOpenStatic);
  EXPECT_EQ(fixed->CursorLocation(), ado::adUseClient);
  EXPECT_EQ(fixed->LockType(), ado::adLockReadOnly);
}

TEST_P(RecordsetServicesTest, DataRecordSelectsOneActionByIdWithoutBlankAfterEquals) {
  const int32_t id = IdOf(3);
  const auto rs = action_->DataRecord(id);
  EXPECT_EQ(LastStatement(), "select * from actions where ActionID =" + std::to_string(id));
  EXPECT_EQ(Numbers(*rs), std::vector<int32_t>{3});

  const auto none = action_->DataRecord(0);
  ASSERT_NE(none, nullptr);
  EXPECT_TRUE(none->IsEOF());
  (void)action_->DataRecord(-4);
  EXPECT_EQ(LastStatement(), "select * from actions where ActionID =-4");
}

TEST_P(RecordsetServicesTest, ReferenceRecordsetNarrowsByExplicitThenObjectReferenceId) {
  auto rs = action_->ReferenceRecordset("R");
  EXPECT_EQ(LastStatement(), "select * from actions where reference = 'R'");
  EXPECT_EQ(Numbers(*rs), (std::vector<int32_t>{1, 2, 3, 5}));

  action_->ReferenceID("7");
  rs = action_->ReferenceRecordset("R");
  EXPECT_EQ(LastStatement(), "select * from actions where reference = 'R' and referenceID='7'");
  EXPECT_EQ(Numbers(*rs), (std::vector<int32_t>{1, 3}));

  rs = action_->ReferenceRecordset("R", "8");
  EXPECT_EQ(LastStatement(), "select * from actions where reference = 'R' and referenceID='8'");
  EXPECT_EQ(Numbers(*rs), std::vector<int32_t>{2});

  rs = action_->ReferenceRecordset("R", "O'Neil");
  EXPECT_EQ(LastStatement(),
            "select * from actions where reference = 'R' and referenceID='O''Neil'");
  EXPECT_EQ(Numbers(*rs), std::vector<int32_t>{5});
}

TEST_P(RecordsetServicesTest, ExecuteRunsTextAndChangingNoRowsIsSilent) {
  action_->Execute("update actions set Subject='none' where ActionNumber=99");
  action_->Execute("update actions set Subject='due' where ActionNumber=2");
  EXPECT_EQ(Trace(*action_),
            (std::vector<std::string>{"update actions set Subject='none' where ActionNumber=99",
                                      "update actions set Subject='due' where ActionNumber=2"}));
  const auto rs = action_->Recordset("select Subject from actions where ActionNumber=2");
  EXPECT_EQ(rs->Fields().Item("Subject").Value(), vb::Variant("due"));
}

KV_INSTANTIATE_ENGINES(RecordsetServicesTest);

TEST(SaveService, WithoutDataServerFailsWith91) {
  Action action;
  EXPECT_EQ(ErrorOf([&] { action.save(); }).number(), 91);
}

}  // namespace
}  // namespace kvaction
