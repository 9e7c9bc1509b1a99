#include <gtest/gtest.h>

#include "ado/Errors.h"
#include "kvaction/records/RecordsTest.h"
#include "vb/Locale.h"

namespace kvaction {
namespace {

class UpdateRecordTest : public RecordsTest {
 protected:
  // An action with a history of its creation only.
  int32_t Seed(const std::vector<std::pair<std::string, vb::Variant>>& columns) {
    const int32_t id = action_->addRecord(nullptr, Values(columns));
    EXPECT_GT(id, 0);
    return id;
  }
  // The events after the creation event.
  std::vector<StoredEvent> Changes(int32_t id) {
    auto events = Events(id);
    if (!events.empty()) events.erase(events.begin());
    return events;
  }
};

TEST_P(UpdateRecordTest, EachKindOfChangeWritesItsEventAndStoresTheValue) {
  const int32_t id = Seed({{"Subject", "a"},
                           {"DateDue", Day(3)},
                           {"DateOpened", Day(-30)},
                           {"Category", "x"},
                           {"Priority", "High"},
                           {"Description", "old words"},
                           {"Reviewed", 10},
                           {"Alert", false}});
  action_->updateRecord(Values({{"ActionID", id},
                                {"SUBJECT", "A"},
                                {"DateDue", Day(5)},
                                {"DateOpened", vb::Null},
                                {"Assignee", "Kim"},
                                {"Originator", "Lee"},
                                {"Category", vb::Null},
                                {"Priority", ""},
                                {"Description", "new words"},
                                {"AssigneeID", "kim"},
                                {"Reviewed", 0},
                                {"Alert", true}}));
  EXPECT_EQ(Changes(id), (std::vector<StoredEvent>{
                             // Names are matched with letter case: this one is an ordinary column.
                             {8, "The SUBJECT was changed from a to A"},
                             {3, "The Due Date was changed from 3/18/2024 to 3/20/2024"},
                             {2, "The Date Opened was changed from cleared"},
                             {6, "The Action was assigned to: Kim"},
                             {5, "The Originator was changed from Ada Admin to Lee"},
                             {8, "The Category was cleared from x"},
                             {8, "The Priority was changed from High to "},
                             {8, "The Description was changed"},
                             {7, "The Originator has assigned the Action."},
                             {7, "The Action was reviewed by the Assignee or the Originator."},
                         }));
  EXPECT_EQ(Stored(id, "Subject"), vb::Variant("A"));
  EXPECT_EQ(Stored(id, "DateDue"), vb::Variant(Day(5)));
  EXPECT_TRUE(Stored(id, "DateOpened").IsNull());
  EXPECT_TRUE(Stored(id, "Category").IsNull());
  EXPECT_TRUE(Stored(id, "Priority").IsNull());  // an empty text is stored as Null
  EXPECT_EQ(Stored(id, "AssigneeID"), vb::Variant("kim"));
  EXPECT_EQ(vb::CLng(Stored(id, "Reviewed")), 0);
}

TEST_P(UpdateRecordTest, SetAndClearedLinesAndUnchangedColumnsWriteNothingMore) {
  const int32_t id = Seed({{"Subject", "same"}, {"Assignee", "Kim"}, {"DateClosed", Day(-1)}});
  action_->updateRecord(Values({{"actionid", id},
                                {"Subject", "same"},
                                {"DateDue", vb::Null},
                                {"Category", "new"},
                                {"Assignee", vb::Null},
                                {"DateClosed", vb::Null}}));
  // A column set from Null is recorded only where it has a set line (Category has none).
  action_->updateRecord(Values({{"actionID", id}, {"DateDue", Day(1)}}));
  EXPECT_EQ(Changes(id), (std::vector<StoredEvent>{
                             {3, "The Due Date was cleared"},
                             {6, "The Assignee was cleared"},
                             {4, "The Date Closed was cleared"},
                             {3, "The Due Date was set to: 3/16/2024"},
                         }));
  EXPECT_EQ(Stored(id, "Category"), vb::Variant("new"));
}

TEST_P(UpdateRecordTest, DatesInTextsTakeTheObjectsShortDateForm) {
  action_->SetLocale(vb::Locale::EnGB());
  const int32_t id = Seed({{"DateDue", Day(3)}});
  action_->updateRecord(Values({{"ActionID", id}, {"DateDue", Day(5)}}));
  EXPECT_EQ(
      Changes(id),
      (std::vector<StoredEvent>{{3, "The Due Date was changed from 18/03/2024 to 20/03/2024"}}));
}

TEST_P(UpdateRecordTest, SeveralRowsAreStoredAndUnknownActionsPassedOver) {
  const int32_t first = Seed({{"Subject", "one"}});
  const int32_t second = Seed({{"Subject", "two"}});
  const auto values = Values({{"ActionID", first}, {"Subject", "uno"}});
  AddRow(*values, {{"ActionID", 999999}, {"Subject", "nobody"}});
  AddRow(*values, {{"ActionID", second}, {"Subject", "dos"}});
  action_->updateRecord(values);
  EXPECT_EQ(Stored(first, "Subject"), vb::Variant("uno"));
  EXPECT_EQ(Stored(second, "Subject"), vb::Variant("dos"));
  EXPECT_TRUE(Events(999999).empty());
  EXPECT_EQ(vb::CLng((*values)["ActionID"].Value()), first);  // back on the first row
}

TEST_P(UpdateRecordTest, AFailureKeepsWhatWasWrittenBeforeIt) {
  const int32_t first = Seed({{"Subject", "one"}});
  const int32_t second = Seed({{"Subject", "two"}});
  // A review status out of range fails on the second row, after the first row was stored and
  // after the second row's Subject event was written.
  const auto failing = Values({{"ActionID", second}, {"Subject", "dos"}, {"Reviewed", 11}});
  AddRow(*failing, {{"ActionID", first}, {"Subject", "uno"}, {"Reviewed", 70000}});
  const vb::ComError error = ErrorOf([&] { action_->updateRecord(failing); });
  EXPECT_EQ(error.number(), vb::kOverflow);
  EXPECT_EQ(Stored(second, "Subject"), vb::Variant("dos"));
  EXPECT_EQ(Changes(second).size(), 1U);
  EXPECT_EQ(Stored(first, "Subject"), vb::Variant("one"));
  EXPECT_EQ(Changes(first).size(), 1U);

  const vb::ComError unknown = ErrorOf([&] {
    action_->updateRecord(Values({{"ActionID", first}, {"NoSuchColumn", "x"}}));
  });
  EXPECT_EQ(unknown.number(), ado::kItemNotFound);
}

KV_INSTANTIATE_ENGINES(UpdateRecordTest);

}  // namespace
}  // namespace kvaction
