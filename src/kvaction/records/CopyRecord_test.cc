#include <gtest/gtest.h>

#include "kvaction/records/RecordsTest.h"
#include "kvdata/UserProfile.h"

namespace kvaction {
namespace {

class CopyRecordTest : public RecordsTest {};

TEST_P(CopyRecordTest, CopyKeepsEveryValueButItsIdentity) {
  const int32_t source = action_->addRecord(nullptr, Values({{"Subject", "s"},
                                                             {"DateOpened", Day(-30)},
                                                             {"DateClosed", Day(-2)},
                                                             {"Originator", "Lee"},
                                                             {"OriginatorID", "lee"},
                                                             {"Reviewed", 11},
                                                             {"Alert", false}}));
  (void)Create("highest");
  RecordsetPtr rs = action_->DataRecord(source);
  const int32_t copy = action_->copyRecord(&rs);
  ASSERT_GT(copy, 0);
  EXPECT_NE(copy, source);
  EXPECT_EQ(vb::CLng((*rs)["ActionID"].Value()), copy);  // rs ends on the copy

  EXPECT_EQ(vb::CLng(Stored(copy, "ActionNumber")), 3);
  for (const char* column : {"Subject", "DateOpened", "DateClosed", "Originator", "OriginatorID",
                             "Reviewed", "Alert", "DateDue"}) {
    EXPECT_EQ(Stored(copy, column), Stored(source, column)) << column;
  }
  EXPECT_EQ(Events(copy), (std::vector<StoredEvent>{{1, "Record Created"}}));
  EXPECT_EQ(Events(source).size(), 1U);
}

TEST_P(CopyRecordTest, NullColumnsTakeTheCreatorsDefaults) {
  action_->UserProfile()->Value("DefaultDueDays", vb::Variant(int16_t{5}));
  const int32_t source = action_->addRecord(nullptr, Values({{"Subject", "s"}}));
  action_->updateRecord(Values({{"ActionID", source}, {"DateDue", vb::Null}}));
  RecordsetPtr rs = action_->DataRecord(source);
  const int32_t copy = action_->copyRecord(&rs);
  EXPECT_EQ(Stored(copy, "DateDue"), vb::Variant(Day(5)));
  EXPECT_EQ(Stored(copy, "DateOpened"), vb::Variant(Day()));
}

TEST_P(CopyRecordTest, NoCurrentRowCopiesNothing) {
  RecordsetPtr rs = action_->Recordset("select * from actions");
  EXPECT_EQ(action_->copyRecord(&rs), 0);
  EXPECT_EQ(Count("select count(*) from ActionEvents"), 0);
}

KV_INSTANTIATE_ENGINES(CopyRecordTest);

}  // namespace
}  // namespace kvaction
