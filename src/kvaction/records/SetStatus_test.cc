#include <gtest/gtest.h>

#include "kvaction/records/RecordsTest.h"

namespace kvaction {
namespace {

class SetStatusTest : public RecordsTest {};

TEST_P(SetStatusTest, StampsTodayOnlyWhereNoDateIsStored) {
  const int32_t fresh = Create("fresh");
  const int32_t done = action_->addRecord(nullptr, Values({{"DateCompleted", Day(-4)}}));
  action_->setStatus(fresh, nullptr, false, true);
  action_->setStatus(done, nullptr, true, true);
  EXPECT_TRUE(Stored(fresh, "DateCompleted").IsNull());
  EXPECT_EQ(Stored(fresh, "DateClosed"), vb::Variant(Day()));
  EXPECT_EQ(Stored(done, "DateCompleted"), vb::Variant(Day(-4)));
  EXPECT_EQ(Stored(done, "DateClosed"), vb::Variant(Day()));
  // No history, and nothing else of the row changes.
  EXPECT_EQ(Events(fresh).size(), 1U);
  EXPECT_TRUE(vb::CBool(Stored(fresh, "Alert")));
}

TEST_P(SetStatusTest, NotesAreAppendedOnALineOfTheirOwn) {
  const int32_t id = Create("notes");
  action_->setStatus(id, nullptr, false, false, "a");
  EXPECT_EQ(Stored(id, "Results"), vb::Variant("a"));
  action_->setStatus(id, nullptr, true, false, "b");
  EXPECT_EQ(Stored(id, "Results"), vb::Variant("a\r\nb"));
  EXPECT_EQ(Stored(id, "DateCompleted"), vb::Variant(Day()));
  EXPECT_TRUE(Stored(id, "Result").IsNull());
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
  EXPECT_EQ(Stored(second, "DateCompleted"), vb::Variant(Day()));

  // A record set without the action: changed through its own row, rs untouched.
  RecordsetPtr other = action_->DataRecord(first);
  action_->setStatus(second, &other, false, true);
  EXPECT_EQ(Stored(second, "DateClosed"), vb::Variant(Day()));
  EXPECT_TRUE((*other)["DateClosed"].Value().IsNull());
}

TEST_P(SetStatusTest, NoActionMeansNoChangeAndNoError) {
  const int32_t id = Create("kept");
  action_->setStatus(0, nullptr, true, true, "x");
  action_->setStatus(id + 1000, nullptr, true, true, "x");
  EXPECT_TRUE(Stored(id, "DateClosed").IsNull());
  EXPECT_EQ(Count("select count(*) from actions where Results is not null"), 0);
}

KV_INSTANTIATE_ENGINES(SetStatusTest);

}  // namespace
}  // namespace kvaction
