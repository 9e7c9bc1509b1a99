#include <gtest/gtest.h>

#include "kvaction/action/ActionTest.h"
#include "kvdata/UserProfile.h"

namespace kvaction {
namespace {

using CopyRecordTest = AdminTest;

TEST_P(CopyRecordTest, CopyKeepsEveryValueButItsIdentity) {
  const int32_t source = action_->addRecord(nullptr, Values({{"Subject", "s"},
                                                             {"DateOpened", Today(-30)},
                                                             {"DateClosed", Today(-2)},
                                                             {"OriginatorID", "lee"},
                                                             {"Reviewed", 11},
                                                             {"Alert", false}}));
  (void)Create("highest");
  RecordsetPtr rs = action_->DataRecord(source);
  const int32_t copy = action_->copyRecord(&rs);
  ASSERT_GT(copy, 0);
  EXPECT_EQ(vb::CLng((*rs)["ActionID"].Value()), copy);  // rs ends on the copy
  EXPECT_EQ(vb::CLng(Stored(copy, "ActionNumber")), 3);
  for (const char* column :
       {"Subject", "DateOpened", "DateClosed", "OriginatorID", "Reviewed", "Alert", "DateDue"}) {
    EXPECT_EQ(Stored(copy, column), Stored(source, column)) << column;
  }
  EXPECT_EQ(Events(copy), (std::vector<StoredEvent>{{1, "Record Created"}}));

  RecordsetPtr none = action_->Recordset("select * from actions where ActionID=0");
  EXPECT_EQ(action_->copyRecord(&none), 0);  // no current row: nothing copied
}

TEST_P(CopyRecordTest, NullColumnsTakeTheCreatorsDefaults) {
  action_->UserProfile()->Value("DefaultDueDays", vb::Variant(int16_t{5}));
  const int32_t source = Create("s");
  action_->updateRecord(Values({{"ActionID", source}, {"DateDue", vb::Null}}));
  RecordsetPtr rs = action_->DataRecord(source);
  const int32_t copy = action_->copyRecord(&rs);
  EXPECT_EQ(Stored(copy, "DateDue"), vb::Variant(Today(5)));
  EXPECT_EQ(Stored(copy, "DateOpened"), vb::Variant(Today()));
}

KV_INSTANTIATE_ENGINES(CopyRecordTest);

}  // namespace
}  // namespace kvaction
