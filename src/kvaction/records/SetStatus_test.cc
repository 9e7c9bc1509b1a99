#include <gtest/gtest.h>

#include "kvaction/action/ActionTest.h"

namespace kvaction {
namespace {

using SetStatusTest = AdminTest;

TEST_P(SetStatusTest, StampsTodayOnlyWhereNoDateIsStoredAndAppendsNotes) {
  const int32_t fresh = Create("fresh");
  const int32_t done = action_->addRecord(nullptr, Values({{"DateCompleted", Today(-4)}}));
  action_->setStatus(fresh, nullptr, false, true, "a");
  action_->setStatus(done, nullptr, true, true);
  EXPECT_TRUE(Stored(fresh, "DateCompleted").IsNull());
  EXPECT_EQ(Stored(fresh, "DateClosed"), vb::Variant(Today()));
  EXPECT_EQ(Stored(done, "DateCompleted"), vb::Variant(Today(-4)));
  EXPECT_EQ(Stored(done, "DateClosed"), vb::Variant(Today()));
  action_->setStatus(fresh, nullptr, true, false, "b");
  EXPECT_EQ(Stored(fresh, "Results"), vb::Variant("a\r\nb"));
  EXPECT_EQ(Stored(fresh, "DateCompleted"), vb::Variant(Today()));
  // No history, and nothing else of the row changes.
  EXPECT_EQ(Events(fresh).size(), 1U);
  EXPECT_TRUE(vb::CBool(Stored(fresh, "Alert")));
}

TEST_P(SetStatusTest, ChangesTheCallersRowWithoutMovingItsCursor) {
  const int32_t first = Create("first");
  const int32_t second = Create("second");
  RecordsetPtr rs = action_->Recordset("select * from actions order by ActionNumber");
  const RecordsetPtr held = rs;
  action_->setStatus(second, &rs, true, false, "seen");
  EXPECT_EQ(rs, held);
  EXPECT_EQ(vb::CLng((*rs)["ActionID"].Value()), first);  // still on its current row
  rs->MoveNext();
  EXPECT_EQ((*rs)["Results"].Value(), vb::Variant("seen"));  // the caller sees the change

  // A record set without the action: changed through its own row, rs untouched.
  RecordsetPtr other = action_->DataRecord(first);
  action_->setStatus(second, &other, false, true);
  EXPECT_EQ(Stored(second, "DateClosed"), vb::Variant(Today()));
  EXPECT_TRUE((*other)["DateClosed"].Value().IsNull());

  action_->setStatus(0, nullptr, true, true, "x");  // no action: no change and no error
  action_->setStatus(second + 1000, nullptr, true, true, "x");
  EXPECT_TRUE(Stored(first, "DateClosed").IsNull());
}

KV_INSTANTIATE_ENGINES(SetStatusTest);

}  // namespace
}  // namespace kvaction
