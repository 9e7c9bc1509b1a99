#include <gtest/gtest.h>

#include "kvaction/records/RecordsTest.h"
#include "kvdata/SettingsStore.h"
#include "kvdata/UserProfile.h"

namespace kvaction {
namespace {

class AddRecordTest : public RecordsTest {
 protected:
  [[nodiscard]] int32_t NumberOf(int32_t id) { return vb::CLng(Stored(id, "ActionNumber")); }
  void SetDueDays(const vb::Variant& perUser, const vb::Variant& database) {
    action_->UserProfile()->Value("DefaultDueDays", perUser);
    action_->DataServer()->Settings()->Value("DueDays", database);
  }
};

TEST_P(AddRecordTest, NumbersAreHighestPlusOneWithGapsLeftUnfilled) {
  const int32_t first = Create("a");
  const int32_t second = Create("b");
  const int32_t third = Create("c");
  EXPECT_EQ(NumberOf(first), 1);
  EXPECT_EQ(NumberOf(second), 2);
  EXPECT_EQ(NumberOf(third), 3);

  ASSERT_TRUE(action_->delete_(second));
  EXPECT_EQ(NumberOf(Create("d")), 4);
  ASSERT_TRUE(action_->delete_(third));
  const int32_t renumbered = action_->addRecord(nullptr, Values({{"ActionNumber", 40}}));
  EXPECT_EQ(NumberOf(renumbered), 40);
  EXPECT_EQ(NumberOf(Create("e")), 41);
}

TEST_P(AddRecordTest, NewRowHoldsTheValuesEveryActionGetsAndOneCreationEvent) {
  RecordsetPtr rs;
  const int32_t id = action_->addRecord(&rs);
  ASSERT_GT(id, 0);
  ASSERT_NE(rs, nullptr);
  EXPECT_EQ(vb::CLng((*rs)["ActionID"].Value()), id);

  const auto row = action_->DataRecord(id);
  EXPECT_EQ((*row)["ActionNumber"].Value(), vb::Variant(1));
  EXPECT_EQ((*row)["OriginatorID"].Value(), vb::Variant("admin"));
  EXPECT_EQ((*row)["Originator"].Value(), vb::Variant("Ada Admin"));
  EXPECT_EQ((*row)["DateOpened"].Value(), vb::Variant(Day()));
  EXPECT_EQ((*row)["DateDue"].Value(), vb::Variant(Day(10)));  // the profile's first default
  EXPECT_TRUE(vb::CBool((*row)["Alert"].Value()));
  for (const char* column :
       {"Subject", "Reviewed", "Reference", "ReferenceID", "Assignee", "DateClosed", "Results"}) {
    EXPECT_TRUE((*row)[column].Value().IsNull()) << column;
  }
  EXPECT_EQ(Events(id), (std::vector<StoredEvent>{{1, "Record Created"}}));
  EXPECT_EQ(Count("select count(*) from ActionEvents where UserID='admin' and ActionID=" +
                  std::to_string(id)),
            1);
}

TEST_P(AddRecordTest, DueDayComesFromTheUserThenTheDatabaseNegativeIncluded) {
  SetDueDays(0, 7);
  EXPECT_EQ(Stored(Create("database"), "DateDue"), vb::Variant(Day(7)));
  SetDueDays(vb::Variant{}, 7);
  EXPECT_EQ(Stored(Create("unset"), "DateDue"), vb::Variant(Day(7)));
  SetDueDays(-2, 7);
  EXPECT_EQ(Stored(Create("negative"), "DateDue"), vb::Variant(Day(-2)));
  SetDueDays(0, vb::Variant{});
  EXPECT_TRUE(Stored(Create("none"), "DateDue").IsNull());
}

TEST_P(AddRecordTest, ReferenceContextIsStoredWhenGiven) {
  action_->ReferenceID("REF-7");
  const int32_t id = action_->addRecord(nullptr, nullptr, "Order 12");
  EXPECT_EQ(Stored(id, "ReferenceID"), vb::Variant("REF-7"));
  EXPECT_EQ(Stored(id, "Reference"), vb::Variant("Order 12"));
}

TEST_P(AddRecordTest, DefaultsOverrideExceptNullsAndUnknownColumns) {
  const auto defaults = Values({{"Subject", "x"},
                                {"Priority", vb::Null},
                                {"Alert", false},
                                {"Originator", "Someone Else"},
                                {"NoSuchColumn", "ignored"}});
  const int32_t id = action_->addRecord(nullptr, defaults);
  ASSERT_GT(id, 0);
  EXPECT_EQ(Stored(id, "Subject"), vb::Variant("x"));
  EXPECT_TRUE(Stored(id, "Priority").IsNull());
  EXPECT_FALSE(vb::CBool(Stored(id, "Alert")));
  EXPECT_EQ(Stored(id, "Originator"), vb::Variant("Someone Else"));
  EXPECT_EQ(Stored(id, "OriginatorID"), vb::Variant("admin"));
}

TEST_P(AddRecordTest, CallersRecordSetEndsOnTheNewRow) {
  RecordsetPtr rs = action_->Recordset("select * from actions");
  const int32_t first = action_->addRecord(&rs);
  const RecordsetPtr held = rs;
  const int32_t second = action_->addRecord(&rs);
  EXPECT_EQ(rs, held);  // the caller's record set is kept, not replaced
  EXPECT_EQ(rs->RecordCount(), 2);
  EXPECT_EQ(vb::CLng((*rs)["ActionID"].Value()), second);
  EXPECT_NE(first, second);
}

TEST_P(AddRecordTest, FailedCreationRaisesNothingAndLeavesNothingBehind) {
  const int32_t existing = Create("first");
  RecordsetPtr rs = action_->Recordset("select * from actions");
  // A number already taken: the store fails on the unique number.
  EXPECT_EQ(action_->addRecord(&rs, Values({{"ActionNumber", 1}})), 0);
  EXPECT_EQ(rs->RecordCount(), 1);
  EXPECT_EQ(Count("select count(*) from actions"), 1);
  EXPECT_EQ(Count("select count(*) from ActionEvents"), 1);
  // The database is still usable afterwards, on PostgreSQL too.
  EXPECT_GT(Create("after"), existing);

  const auto unopened = NewAction();
  EXPECT_EQ(unopened->addRecord(), 0);
}

KV_INSTANTIATE_ENGINES(AddRecordTest);

}  // namespace
}  // namespace kvaction
