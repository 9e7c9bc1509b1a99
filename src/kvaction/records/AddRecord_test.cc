#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "kvaction/action/ActionTest.h"
#include "kvdata/SettingsStore.h"
#include "kvdata/UserProfile.h"

namespace kvaction {
namespace {

class AddRecordTest : public AdminTest {
 protected:
  [[nodiscard]] int32_t NumberOf(int32_t id) const { return vb::CLng(Stored(id, "ActionNumber")); }
};

TEST_P(AddRecordTest, NumbersAreHighestPlusOneWithGapsLeftUnfilled) {
  const int32_t first = Create("a");
  const int32_t second = Create("b");
  const int32_t third = Create("c");
  EXPECT_EQ(NumberOf(first), 1);
  EXPECT_EQ(NumberOf(third), 3);
  ASSERT_TRUE(action_->delete_(second));
  EXPECT_EQ(NumberOf(Create("d")), 4);
  ASSERT_TRUE(action_->delete_(third));
  EXPECT_EQ(NumberOf(action_->addRecord(nullptr, Values({{"ActionNumber", 40}}))), 40);
  EXPECT_EQ(NumberOf(Create("e")), 41);
}

// What a client tracing the data connection sees, in either dialect: the highest number read
// through a keyset, server-side, optimistic record set, then the record set the row is added
// through, opened the same way (only when the caller hands none in).
TEST_P(AddRecordTest, ReadsTheHighestNumberThenOpensTheTargetWithTheDescribedStatements) {
  const kvdata::TracedStatement highest{"select top 1 * from actions order by ActionNumber desc",
                                        {{1, 2, 3}}};
  const kvdata::TracedStatement target{"select * from actions where ActionNumber=0", {{1, 2, 3}}};
  for (const Dialect dialect : {Dialect::Desktop, Dialect::Server}) {
    SCOPED_TRACE(dialect == Dialect::Server ? "server dialect" : "desktop dialect");
    const auto action = LoggedIn("admin", dialect);
    const auto connection = action->DataServer()->Connection();
    connection->ClearTrace();
    ASSERT_GT(action->addRecord(), 0);
    EXPECT_THAT(connection->Trace(), ::testing::ElementsAre(highest, target));

    RecordsetPtr rs = action->Recordset("select * from actions");
    connection->ClearTrace();
    ASSERT_GT(action->addRecord(&rs), 0);
    EXPECT_THAT(connection->Trace(), ::testing::ElementsAre(highest));
  }
}

TEST_P(AddRecordTest, NewRowHoldsTheValuesEveryActionGetsAndOneCreationEvent) {
  RecordsetPtr rs = action_->Recordset("select * from actions");
  const RecordsetPtr held = rs;
  const int32_t id = action_->addRecord(&rs);
  ASSERT_GT(id, 0);
  EXPECT_EQ(rs, held);  // the caller's record set is kept and ends on the new row
  EXPECT_EQ(vb::CLng((*rs)["ActionID"].Value()), id);

  const auto row = action_->DataRecord(id);
  EXPECT_EQ((*row)["ActionNumber"].Value(), vb::Variant(1));
  EXPECT_EQ((*row)["OriginatorID"].Value(), vb::Variant("admin"));
  EXPECT_EQ((*row)["Originator"].Value(), vb::Variant("Ada Admin"));
  EXPECT_EQ((*row)["DateOpened"].Value(), vb::Variant(Today()));
  EXPECT_EQ((*row)["DateDue"].Value(), vb::Variant(Today(10)));  // the profile's first default
  EXPECT_TRUE(vb::CBool((*row)["Alert"].Value()));
  for (const char* column : {"Subject", "Reviewed", "Reference", "Assignee", "Results"}) {
    EXPECT_TRUE((*row)[column].Value().IsNull()) << column;
  }
  EXPECT_EQ(Events(id), (std::vector<StoredEvent>{{1, "Record Created"}}));
  EXPECT_EQ(Count("select count(*) from ActionEvents where UserID='admin'"), 1);
  // Before a login there is no one to name as the originator.
  const int32_t anonymous = OpenAction()->addRecord();
  EXPECT_TRUE(Stored(anonymous, "OriginatorID").IsNull());
  EXPECT_TRUE(Stored(anonymous, "Originator").IsNull());
}

TEST_P(AddRecordTest, DueDayComesFromTheUserThenTheDatabaseNegativeIncluded) {
  const struct {
    vb::Variant perUser, database, due;
  } cases[] = {{0, 7, Today(7)},
               {vb::Variant{}, 7, Today(7)},
               {-2, 7, Today(-2)},
               {0, vb::Variant{}, vb::Null}};
  for (const auto& c : cases) {
    action_->UserProfile()->Value("DefaultDueDays", c.perUser);
    action_->DataServer()->Settings()->Value("DueDays", c.database);
    EXPECT_EQ(Stored(Create("x"), "DateDue"), c.due);
  }
}

TEST_P(AddRecordTest, DefaultsAndReferenceOverrideExceptNullsAndUnknownColumns) {
  action_->ReferenceID("REF-7");
  const int32_t id = action_->addRecord(nullptr,
                                        Values({{"Subject", "x"},
                                                {"Priority", vb::Null},
                                                {"Alert", false},
                                                {"Originator", "Someone Else"},
                                                {"NoSuchColumn", "ignored"}}),
                                        "Order 12");
  ASSERT_GT(id, 0);
  EXPECT_EQ(Stored(id, "Subject"), vb::Variant("x"));
  EXPECT_TRUE(Stored(id, "Priority").IsNull());
  EXPECT_FALSE(vb::CBool(Stored(id, "Alert")));
  EXPECT_EQ(Stored(id, "Originator"), vb::Variant("Someone Else"));
  EXPECT_EQ(Stored(id, "OriginatorID"), vb::Variant("admin"));
  EXPECT_EQ(Stored(id, "ReferenceID"), vb::Variant("REF-7"));
  EXPECT_EQ(Stored(id, "Reference"), vb::Variant("Order 12"));
}

TEST_P(AddRecordTest, FailedCreationRaisesNothingAndLeavesNothingBehind) {
  const int32_t existing = Create("first");
  RecordsetPtr rs = action_->Recordset("select * from actions");
  // A number already taken: the store fails on the unique number.
  EXPECT_EQ(action_->addRecord(&rs, Values({{"ActionNumber", 1}})), 0);
  EXPECT_EQ(rs->RecordCount(), 1);
  EXPECT_EQ(Count("select count(*) from actions"), 1);
  EXPECT_EQ(Count("select count(*) from ActionEvents"), 1);
  EXPECT_GT(Create("after"), existing);  // the database is still usable, on PostgreSQL too
  EXPECT_EQ(NewAction()->addRecord(), 0);
}

KV_INSTANTIATE_ENGINES(AddRecordTest);

using CopyRecordTest = AdminTest;

// Null columns of the source take the creator's defaults.
TEST_P(CopyRecordTest, CopyKeepsEveryValueButItsIdentity) {
  action_->UserProfile()->Value("DefaultDueDays", vb::Variant(int16_t{5}));
  const int32_t source = action_->addRecord(nullptr, Values({{"Subject", "s"},
                                                             {"DateOpened", Today(-30)},
                                                             {"DateClosed", Today(-2)},
                                                             {"OriginatorID", "lee"},
                                                             {"Reviewed", 11},
                                                             {"Alert", false}}));
  action_->updateRecord(Values({{"ActionID", source}, {"DateDue", vb::Null}}));
  (void)Create("highest");
  RecordsetPtr rs = action_->DataRecord(source);
  const int32_t copy = action_->copyRecord(&rs);
  ASSERT_GT(copy, 0);
  EXPECT_EQ(vb::CLng((*rs)["ActionID"].Value()), copy);  // rs ends on the copy
  EXPECT_EQ(vb::CLng(Stored(copy, "ActionNumber")), 3);
  for (const char* column :
       {"Subject", "DateOpened", "DateClosed", "OriginatorID", "Reviewed", "Alert"}) {
    EXPECT_EQ(Stored(copy, column), Stored(source, column)) << column;
  }
  EXPECT_EQ(Stored(copy, "DateDue"), vb::Variant(Today(5)));
  EXPECT_EQ(Events(copy), (std::vector<StoredEvent>{{1, "Record Created"}}));

  RecordsetPtr none = action_->Recordset("select * from actions where ActionID=0");
  EXPECT_EQ(action_->copyRecord(&none), 0);  // no current row: nothing copied
}

KV_INSTANTIATE_ENGINES(CopyRecordTest);

}  // namespace
}  // namespace kvaction
