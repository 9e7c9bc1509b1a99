// Changing stored actions: updating, completing and closing, and deleting them.
#include <gtest/gtest.h>

#include "ado/Errors.h"
#include "kvaction/action/ActionTest.h"
#include "kvdata/engine/Engine.h"
#include "vb/Locale.h"

namespace kvaction {
namespace {

class UpdateRecordTest : public AdminTest {
 protected:
  // The events after the creation event, as "code text" joined by "; ".
  std::string Changes(int32_t id) const {
    std::string text;
    const auto events = Events(id);
    for (std::size_t i = 1; i < events.size(); ++i) {
      text += (i > 1 ? "; " : "") + std::to_string(events[i].code) + " " + events[i].text;
    }
    return text;
  }
};

TEST_P(UpdateRecordTest, EachChangeWritesItsEventAndStoresTheValue) {
  const struct {
    const char* column;
    vb::Variant seed, change;
    const char* events;
    vb::Variant stored;
  } cases[] = {
      // The history names the column as the caller spelled it; the row matches it in any case.
      {"SUBJECT", "a", "A", "8 The SUBJECT was changed from a to A", "A"},
      // Dates are stored as dates and written in the short form, under the database's labels.
      {"DateDue", Today(3), Today(5), "3 The Due Date was changed from 3/18/2024 to 3/20/2024",
       Today(5)},
      {"DateClosed", Today(-1), vb::Null, "4 The Date Closed was cleared", vb::Null},
      // An empty text is a change in the history and Null in the table.
      {"Priority", "High", "", "8 The Priority was changed from High to ", vb::Null},
      {"Subject", "same", "same", "", "same"},
      {"Category", vb::Null, "new", "", "new"},
      {"Assignee", vb::Null, "Kim", "6 The Action was assigned to: Kim", "Kim"},
      {"Reviewed", 10, 0, "7 The Originator has assigned the Action.", int16_t{0}},
      {"Alert", false, true, "7 The Action was reviewed by the Assignee or the Originator.", true},
  };
  for (const auto& c : cases) {
    const int32_t id = action_->addRecord(nullptr, Values({{c.column, c.seed}}));
    action_->updateRecord(Values({{"ActionID", id}, {c.column, c.change}}));
    EXPECT_EQ(Changes(id), c.events) << c.column;
    EXPECT_EQ(Stored(id, c.column), c.stored) << c.column;
  }
  // One update writes the events of its columns in their order.
  action_->SetLocale(vb::Locale::EnGB());
  const int32_t id = action_->addRecord(nullptr, Values({{"DateDue", Today(3)}}));
  action_->updateRecord(Values({{"actionid", id}, {"DateDue", Today(5)}, {"Assignee", "Kim"}}));
  EXPECT_EQ(Changes(id),
            "3 The Due Date was changed from 18/03/2024 to 20/03/2024; 6 The Action was assigned "
            "to: Kim");
}

TEST_P(UpdateRecordTest, SeveralRowsAreStoredUpToAFailureAndUnknownActionsPassedOver) {
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

  // A review status out of range fails on the second row, after the first row was stored and
  // after the second row's Subject event was written.
  const auto failing = Values({{"ActionID", second}, {"Subject", "zwei"}, {"Reviewed", 11}});
  AddRow(*failing, {{"ActionID", first}, {"Subject", "eins"}, {"Reviewed", 70000}});
  EXPECT_EQ(ErrorOf([&] { action_->updateRecord(failing); }).number(), vb::kOverflow);
  EXPECT_EQ(Stored(second, "Subject"), vb::Variant("zwei"));
  EXPECT_EQ(Changes(second),
            "8 The Subject was changed from two to dos; 8 The Subject was "
            "changed from dos to zwei");
  EXPECT_EQ(Stored(first, "Subject"), vb::Variant("uno"));
  EXPECT_EQ(Changes(first),
            "8 The Subject was changed from one to uno; 8 The Subject was "
            "changed from uno to eins");
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

  // A record set without the action, or none: changed through its own row, rs untouched.
  RecordsetPtr none;
  action_->setStatus(first, &none, false, false, "by ID");
  EXPECT_EQ(Stored(first, "Results"), vb::Variant("by ID"));
  RecordsetPtr other = action_->DataRecord(first);
  action_->setStatus(second, &other, false, true);
  EXPECT_EQ(Stored(second, "DateClosed"), vb::Variant(Today()));
  EXPECT_TRUE((*other)["DateClosed"].Value().IsNull());

  action_->setStatus(0, nullptr, true, true, "x");  // no action: no change and no error
  action_->setStatus(second + 1000, nullptr, true, true, "x");
  EXPECT_TRUE(Stored(first, "DateClosed").IsNull());
}

KV_INSTANTIATE_ENGINES(SetStatusTest);

class DeleteTest : public AdminTest {
 protected:
  [[nodiscard]] std::vector<int32_t> DeletionOrder() {
    std::vector<int32_t> ids;
    const auto rs =
        action_->Recordset("select ActionID from ActionEvents where EventCode=9 order by EventID");
    for (; !rs->IsEOF(); rs->MoveNext()) ids.push_back(vb::CLng((*rs)["ActionID"].Value()));
    return ids;
  }
};

TEST_P(DeleteTest, ByIdOrTheCallersCurrentRowRecordingEvenAMissingOne) {
  const int32_t first = Create("first");
  const int32_t second = Create("second");
  const int32_t gone = Create("gone");
  EXPECT_TRUE(action_->delete_(gone));
  EXPECT_FALSE(action_->delete_(gone));  // no such action any more: still recorded
  EXPECT_EQ(Events(gone),
            (std::vector<StoredEvent>{
                {1, "Record Created"}, {9, "Record Deleted"}, {9, "Record Deleted"}}));
  EXPECT_FALSE(action_->delete_(0));  // neither an ID, a row nor a list: nothing deleted

  RecordsetPtr rs = action_->Recordset("select * from actions order by ActionNumber");
  rs->MoveNext();
  EXPECT_TRUE(action_->delete_(0, &rs));
  EXPECT_EQ(rs->RecordCount(), 1);  // the caller's view lost the row at once
  EXPECT_TRUE(Stored(second, "ActionID").IsEmpty());
  EXPECT_EQ(DeletionOrder(), (std::vector<int32_t>{gone, gone, second}));

  rs->MoveLast();
  rs->MoveNext();  // at EOF, then at BOF: nothing to delete
  EXPECT_FALSE(action_->delete_(0, &rs));
  rs->MoveFirst();
  rs->MovePrevious();
  EXPECT_FALSE(action_->delete_(0, &rs));
  EXPECT_EQ(vb::CLng(Stored(first, "ActionID")), first);
}

// A list goes in its order after the single action; a failure in it keeps the deletions before.
TEST_P(DeleteTest, AListIsDeletedInItsOrderUpToItsFirstFailure) {
  const int32_t a = Create("a");
  const int32_t b = Create("b");
  const int32_t c = Create("c");
  const int32_t d = Create("d");
  RecordsetPtr rs = action_->DataRecord(d);
  RecordsetPtr list = Values({{"ActionID", c}});
  for (const int32_t id : {a, b, a}) AddRow(*list, {{"ActionID", id}});
  EXPECT_TRUE(action_->delete_(b, &rs, &list));
  EXPECT_TRUE(list->IsEOF());
  EXPECT_EQ(DeletionOrder(), (std::vector<int32_t>{b, c, a, b, a}));
  EXPECT_EQ(vb::CLng(Stored(d, "ActionID")), d);  // rs's own row is not touched

  // A list of IDs as texts, one of which is no number.
  const int32_t last = Create("last");
  list = Values({{"ActionID", std::to_string(d)}});
  AddRow(*list, {{"ActionID", "not a number"}});
  AddRow(*list, {{"ActionID", std::to_string(last)}});
  EXPECT_EQ(ErrorOf([&] { (void)action_->delete_(0, nullptr, &list); }).number(),
            vb::kTypeMismatch);
  EXPECT_TRUE(Stored(d, "ActionID").IsEmpty());
  EXPECT_EQ(DeletionOrder().back(), d);
  EXPECT_EQ(vb::CLng(Stored(last, "ActionID")), last);
}

// The deletion is the transaction's first write: undoing it must leave the database's reason
// with the caller and the connection able to write on.
TEST_P(DeleteTest, ADeletionTheDatabaseRefusesReachesTheCallerWithItsReason) {
  const int32_t kept = Create("kept");
  auto& engine = action_->DataServer()->Connection()->Engine();
  if (Kind() == kvdata::testing::EngineKind::SQLite) {
    (void)engine.Execute(
        "CREATE TRIGGER keep BEFORE DELETE ON actions BEGIN SELECT RAISE(ABORT, 'kept by rule'); "
        "END");
  } else {
    (void)engine.Execute(
        "CREATE FUNCTION keep() RETURNS trigger LANGUAGE plpgsql AS "
        "$$BEGIN RAISE EXCEPTION 'kept by rule'; END$$");
    (void)engine.Execute(
        "CREATE TRIGGER keep BEFORE DELETE ON actions FOR EACH ROW EXECUTE FUNCTION keep()");
  }
  const std::string reason = ErrorOf([&] { (void)action_->delete_(kept); }).description();
  EXPECT_NE(reason.find("kept by rule"), std::string::npos) << reason;
  EXPECT_EQ(vb::CLng(Stored(kept, "ActionID")), kept);
  EXPECT_TRUE(DeletionOrder().empty());
  EXPECT_NE(action_->addRecord(), 0);
}

KV_INSTANTIATE_ENGINES(DeleteTest);

}  // namespace
}  // namespace kvaction
