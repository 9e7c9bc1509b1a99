#include <gtest/gtest.h>

#include "ado/Errors.h"
#include "kvaction/action/ActionTest.h"
#include "vb/Locale.h"

namespace kvaction {
namespace {

class UpdateRecordTest : public AdminTest {
 protected:
  // The events after the creation event.
  std::vector<StoredEvent> Changes(int32_t id) const {
    auto events = Events(id);
    if (!events.empty()) events.erase(events.begin());
    return events;
  }
};

struct ChangeCase {
  Columns seed;
  Columns change;
  std::vector<StoredEvent> events;
  const char* column;
  vb::Variant stored;
};

TEST_P(UpdateRecordTest, EachChangeWritesItsEventAndStoresTheValue) {
  const ChangeCase cases[] = {
      // The history names the column as the caller spelled it; the row matches it in any case.
      {{{"Subject", "a"}},
       {{"SUBJECT", "A"}},
       {{8, "The SUBJECT was changed from a to A"}},
       "Subject",
       "A"},
      // Dates are stored as dates and written in the short form, under the database's labels.
      {{{"DateDue", Today(3)}},
       {{"DateDue", Today(5)}},
       {{3, "The Due Date was changed from 3/18/2024 to 3/20/2024"}},
       "DateDue",
       Today(5)},
      {{{"DateClosed", Today(-1)}},
       {{"DateClosed", vb::Null}},
       {{4, "The Date Closed was cleared"}},
       "DateClosed",
       vb::Null},
      // An empty text is a change in the history and Null in the table.
      {{{"Priority", "High"}},
       {{"Priority", ""}},
       {{8, "The Priority was changed from High to "}},
       "Priority",
       vb::Null},
      {{{"Subject", "same"}}, {{"Subject", "same"}, {"Category", "new"}}, {}, "Category", "new"},
      {{}, {{"Assignee", "Kim"}}, {{6, "The Action was assigned to: Kim"}}, "Assignee", "Kim"},
      {{{"Reviewed", 10}, {"Alert", false}},
       {{"Reviewed", 0}, {"Alert", true}},
       {{7, "The Originator has assigned the Action."},
        {7, "The Action was reviewed by the Assignee or the Originator."}},
       "Reviewed",
       int16_t{0}},
  };
  for (const ChangeCase& c : cases) {
    const int32_t id = action_->addRecord(nullptr, c.seed.empty() ? nullptr : Values(c.seed));
    Columns change = c.change;
    change.insert(change.begin(), {"ActionID", id});
    action_->updateRecord(Values(change));
    EXPECT_EQ(Changes(id), c.events) << c.change.front().first;
    EXPECT_EQ(Stored(id, c.column), c.stored) << c.column;
  }
  action_->SetLocale(vb::Locale::EnGB());
  const int32_t id = action_->addRecord(nullptr, Values({{"DateDue", Today(3)}}));
  action_->updateRecord(Values({{"actionid", id}, {"DateDue", Today(5)}}));
  EXPECT_EQ(
      Changes(id),
      (std::vector<StoredEvent>{{3, "The Due Date was changed from 18/03/2024 to 20/03/2024"}}));
}

TEST_P(UpdateRecordTest, SeveralRowsAreStoredAndUnknownActionsPassedOver) {
  const int32_t first = Create("one");
  const int32_t second = Create("two");
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
  const int32_t first = Create("one");
  const int32_t second = Create("two");
  // A review status out of range fails on the second row, after the first row was stored and
  // after the second row's Subject event was written.
  const auto failing = Values({{"ActionID", second}, {"Subject", "dos"}, {"Reviewed", 11}});
  AddRow(*failing, {{"ActionID", first}, {"Subject", "uno"}, {"Reviewed", 70000}});
  EXPECT_EQ(ErrorOf([&] { action_->updateRecord(failing); }).number(), vb::kOverflow);
  EXPECT_EQ(Stored(second, "Subject"), vb::Variant("dos"));
  EXPECT_EQ(Changes(second).size(), 1U);
  EXPECT_EQ(Stored(first, "Subject"), vb::Variant("one"));
  EXPECT_EQ(Changes(first).size(), 1U);
  EXPECT_EQ(ErrorOf([&] {
              action_->updateRecord(Values({{"ActionID", first}, {"NoSuchColumn", "x"}}));
            }).number(),
            ado::kItemNotFound);
}

KV_INSTANTIATE_ENGINES(UpdateRecordTest);

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
