#include "kvdata/DataConnection.h"

#include <fmt/format.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>
#include <optional>

#include "ado/Errors.h"
#include "kvdata/Errors.h"
#include "kvdata/engine/Engine.h"
#include "kvdata/testing/FaultyEngine.h"
#include "kvdata/testing/Fixture.h"
#include "vb/Convert.h"
#include "vb/Locale.h"
#include "vb/testing/ErrorOf.h"

namespace kvdata {
namespace {

using engine::ColumnKind;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using vb::testing::ErrorOf;

vb::Date At(int y, int m, int d, int hh = 0, int mm = 0, int ss = 0) {
  return vb::Date::FromParts(y, m, d, hh, mm, ss);
}

class DataConnectionTest : public testing::DatabaseTest {
 protected:
  void SetUp() override {
    DatabaseTest::SetUp();
    if (HasFatalFailure()) return;
    connection_ = Connect();
    auto& engine = connection_->Engine();
    const auto column = [&](std::string_view name, ColumnKind kind, int32_t size = 0) {
      return engine::QuoteName(name) + " " + engine.ColumnType(kind, size);
    };
    (void)engine.Execute(
        fmt::format("CREATE TABLE {} ({}, {}, {}, {}, {}, {}, {})", engine::QuoteName("Items"),
                    column("ItemID", ColumnKind::AutoKey), column("Title", ColumnKind::Text, 20),
                    column("Notes", ColumnKind::LongText), column("Done", ColumnKind::Boolean),
                    column("Due", ColumnKind::Date), column("Priority", ColumnKind::SmallInt),
                    column("Amount", ColumnKind::Integer)));
  }

  // Adds a row through a record set and returns its generated ID.
  int32_t AddItem(const vb::Variant& title, const vb::Variant& due = vb::Null,
                  const vb::Variant& done = vb::Null) {
    auto rs = connection_->OpenRecordset("select * from Items where ItemID = 0");
    rs->AddNew();
    rs->Fields()["Title"].Value(title);
    rs->Fields()["Due"].Value(due);
    rs->Fields()["Done"].Value(done);
    rs->Update();
    return vb::CLng(rs->Fields()["ItemID"].Value());
  }

  // The first column of every row of a query, as texts ("Null" for Null).
  std::vector<std::string> Column(DataConnection& connection, std::string_view sql) {
    std::vector<std::string> values;
    for (auto rs = connection.OpenRecordset(sql); !rs->IsEOF(); rs->MoveNext()) {
      const vb::Variant value = rs->Fields().Item(0).Value();
      values.push_back(value.IsNull() ? "Null" : vb::CStr(value));
    }
    return values;
  }
  std::vector<std::string> Column(std::string_view sql) { return Column(*connection_, sql); }

  std::shared_ptr<DataConnection> connection_;
};

TEST_P(DataConnectionTest, FieldsDescribeTheTableColumns) {
  auto rs = connection_->OpenRecordset("select * from items");
  ASSERT_EQ(rs->Fields().Count(), 7);
  const auto field = [&](std::string_view name) { return rs->Fields()[name]; };
  EXPECT_EQ(field("ItemID").Type(), ado::adInteger);
  EXPECT_TRUE(field("ItemID").Attributes() & ado::adFldKeyColumn);
  EXPECT_FALSE(field("ItemID").Attributes() & ado::adFldUpdatable);
  EXPECT_FALSE(field("ItemID").Attributes() & ado::adFldIsNullable);
  EXPECT_EQ(field("Title").Type(), ado::adVarWChar);
  EXPECT_EQ(field("Title").DefinedSize(), 20);
  EXPECT_EQ(field("Title").Attributes() & 0xFF, ado::adFldUpdatable | ado::adFldUnknownUpdatable |
                                                    ado::adFldIsNullable | ado::adFldMayBeNull);
  EXPECT_EQ(field("Notes").Type(), ado::adLongVarWChar);
  EXPECT_EQ(field("Notes").DefinedSize(), 1073741823);
  EXPECT_TRUE(field("Notes").Attributes() & ado::adFldLong);
  EXPECT_EQ(field("Done").Type(), ado::adBoolean);
  EXPECT_EQ(field("Due").Type(), ado::adDate);
  EXPECT_EQ(field("Priority").Type(), ado::adSmallInt);
  EXPECT_EQ(field("Amount").Type(), ado::adInteger);
  EXPECT_EQ(rs->CursorType(), ado::adOpenKeyset);
  EXPECT_EQ(rs->CursorLocation(), ado::adUseServer);
  EXPECT_EQ(rs->LockType(), ado::adLockOptimistic);

  auto fixed = connection_->OpenRecordset("select count(*) as n from Items", 3, 3, 1);
  EXPECT_EQ(fixed->Fields()["n"].Type(), ado::adInteger);
  EXPECT_EQ(fixed->Fields()["n"].Value(), vb::Variant(int32_t{0}));
  EXPECT_EQ(fixed->CursorType(), ado::adOpenStatic);
  EXPECT_EQ(fixed->CursorLocation(), ado::adUseClient);
  EXPECT_EQ(fixed->LockType(), ado::adLockReadOnly);
}

TEST_P(DataConnectionTest, ValuesRoundTripWithTheirTypes) {
  const std::pair<const char*, vb::Variant> row[] = {{"Title", "Ünïcödé 'q' \"dq\""},
                                                     {"Notes", std::string(3000, 'x')},
                                                     {"Done", true},
                                                     {"Due", At(2024, 2, 29, 23, 59, 59)},
                                                     {"Priority", int16_t{-32768}},
                                                     {"Amount", int32_t{2147483647}}};
  auto rs = connection_->OpenRecordset("select * from Items where ItemID = 0");
  rs->AddNew();
  for (const auto& [name, value] : row) rs->Fields()[name].Value(value);
  rs->Update();
  const vb::Variant id = rs->Fields()["ItemID"].Value();
  EXPECT_GT(vb::CLng(id), 0) << "the generated key is read at once";
  EXPECT_EQ(ErrorOf([&] { rs->Fields()["ItemID"].Value(int32_t{7}); }).number(),
            ado::kMultipleStep);  // and cannot be written
  rs->AddNew();
  rs->Fields()["Done"].Value(false);
  rs->Fields()["Due"].Value(At(2024, 3, 31));
  rs->Update();

  auto other = Connect();
  auto read = other->OpenRecordset("select * from Items order by ItemID");
  const auto value = [&](std::string_view name) { return read->Fields()[name].Value(); };
  EXPECT_EQ(value("ItemID"), id);
  for (const auto& [name, written] : row) EXPECT_EQ(value(name), written) << name;
  read->MoveNext();
  EXPECT_EQ(value("Title"), vb::Variant(vb::Null));
  EXPECT_EQ(value("Done"), vb::Variant(false));
  EXPECT_EQ(value("Due"), vb::Variant(At(2024, 3, 31)));
  EXPECT_EQ(value("Priority"), vb::Variant(vb::Null));
  // Booleans are stored as -1/0, whatever the engine.
  EXPECT_THAT(Column(*other, "select Done * 1 from Items order by ItemID"), ElementsAre("-1", "0"));
}

TEST_P(DataConnectionTest, WritesRefuseWhatTheColumnCannotHold) {
  auto rs = connection_->OpenRecordset("select * from Items where ItemID = 0");
  rs->AddNew();
  rs->Fields()["Title"].Value(std::string("bad \xff byte"));
  const auto bad = ErrorOf([&] { rs->Update(); });
  EXPECT_EQ(bad.number(), kSqlError);
  EXPECT_THAT(bad.description(), HasSubstr("not valid UTF-8"));
  // One engine would keep a NUL and the other cut the text there: refused on both.
  rs->Fields()["Title"].Value("ok");
  rs->Fields()["Notes"].Value(std::string("before\0after", 12));
  const auto nul = ErrorOf([&] { rs->Update(); });
  EXPECT_EQ(nul.number(), kSqlError);
  EXPECT_THAT(nul.description(), HasSubstr("NUL"));
  EXPECT_THAT(Column("select count(*) from Items"), ElementsAre("0"));
  rs->Fields()["Title"].Value(std::string(20, 'a'));  // exactly the size, in characters
  rs->Fields()["Notes"].Value("ü");
  rs->Update();
  EXPECT_EQ(rs->RecordCount(), 1);  // the refused insert added no row of its own
  EXPECT_THAT(Column("select count(*) from Items"), ElementsAre("1"));
}

TEST_P(DataConnectionTest, OptimisticConflictWritesNothingAndKeepsTheEdit) {
  const int32_t id = AddItem("original");
  const std::string byId = fmt::format("select * from Items where ItemID = {}", id);
  auto mine = connection_->OpenRecordset(byId);
  auto other = Connect();
  auto theirs = other->OpenRecordset(byId);
  theirs->Fields()["Title"].Value("theirs");
  theirs->Update();

  mine->Fields()["Title"].Value("mine");
  const auto conflict = ErrorOf([&] { mine->Update(); });
  EXPECT_EQ(conflict.number(), static_cast<int32_t>(0x80040E38));
  EXPECT_EQ(conflict.description(),
            "Row cannot be located for updating. Some values may have been changed since it was "
            "last read.");
  EXPECT_THAT(Column("select Title from Items"), ElementsAre("theirs"));
  EXPECT_EQ(mine->EditMode(), ado::adEditInProgress);
  EXPECT_EQ(mine->Fields()["Title"].Value(), vb::Variant("mine"));
  // A move stores the pending edit first, so it fails the same way and stays on the row.
  EXPECT_EQ(ErrorOf([&] { mine->MoveNext(); }).number(), static_cast<int32_t>(0x80040E38));
  EXPECT_FALSE(mine->IsEOF());
  mine->CancelUpdate();
  EXPECT_EQ(mine->Fields()["Title"].Value(), vb::Variant("original"));

  // Only the columns being written are checked: another column may have moved on.
  mine->Fields()["Amount"].Value(int32_t{7});
  mine->Update();
  EXPECT_THAT(Column("select Title & ':' & Amount from Items"), ElementsAre("theirs:7"));

  theirs->Delete();
  EXPECT_EQ(ErrorOf([&] { mine->Delete(); }).number(), static_cast<int32_t>(0x80040E38));
  EXPECT_EQ(mine->RecordCount(), 1);  // the refused delete keeps the row in the record set
}

TEST_P(DataConnectionTest, RecordSetsThatCannotWriteBackRefuseEditsAndBadOptionsAreRefused) {
  AddItem("one");
  auto readOnly = connection_->OpenRecordset("select * from Items", 1, 2, ado::adLockReadOnly);
  EXPECT_EQ(ErrorOf([&] { readOnly->Fields()["Title"].Value("x"); }).number(), ado::kReadOnly);
  // Without the table's key the rows cannot be found again.
  auto keyless = connection_->OpenRecordset("select Title from Items");
  EXPECT_FALSE(keyless->Fields()["Title"].Attributes() & ado::adFldUpdatable);
  EXPECT_EQ(ErrorOf([&] { keyless->Delete(); }).number(), ado::kReadOnly);
  // Cursor, location and lock outside their enumerations, and a command that is no text.
  const int32_t misused[][3] = {{4, 2, 3}, {-2, 2, 3}, {1, 0, 3}, {1, 4, 3}, {1, 2, 5}, {1, 2, -2}};
  for (const auto& o : misused) {
    EXPECT_EQ(ErrorOf([&] {
                (void)connection_->OpenRecordset("select * from Items", o[0], o[1], o[2]);
              }).number(),
              ado::kBadArguments);
  }
  EXPECT_EQ(ErrorOf([&] { (void)connection_->Execute("delete from Items", nullptr, 4); }).number(),
            ado::kBadArguments);
  EXPECT_THAT(Column("select Title from Items"), ElementsAre("one"));
}

// Record sets over one statement share what describes its answer while the answer keeps its
// columns: a read-only one first leaves the next one editable, and a column added shows in
// every kind of record set at once.
TEST_P(DataConnectionTest, RecordSetsOverOneStatementFollowItsColumns) {
  AddItem("one");
  const std::string sql = "select * from Items";
  auto readOnly = connection_->OpenRecordset(sql, 1, 2, ado::adLockReadOnly);
  EXPECT_FALSE(readOnly->Fields()["Title"].Attributes() & ado::adFldUpdatable);
  auto editable = connection_->OpenRecordset(sql);
  editable->Fields()["Title"].Value("two");
  editable->Update();
  EXPECT_THAT(Column("select Title from Items"), ElementsAre("two"));
  (void)connection_->Execute("ALTER TABLE Items ADD Extra " +
                             connection_->Engine().ColumnType(ColumnKind::Integer));
  for (const auto& [cursor, lock] :
       {std::pair{0, ado::adLockReadOnly}, {1, ado::adLockReadOnly}, {1, ado::adLockOptimistic}}) {
    auto wider = connection_->OpenRecordset(sql, cursor, 2, lock);
    EXPECT_EQ(wider->Fields().Count(), 8);
    EXPECT_EQ(wider->Fields()["Extra"].Value(), vb::Variant(vb::Null));
  }
}

// Dates around midnight and month ends, Null, read with the pinned clock (15 Mar 2024 09:30:05).
TEST_P(DataConnectionTest, DesktopDateRewritesReturnTheRightRows) {
  AddItem("late yesterday", At(2024, 3, 14, 23, 59, 59));
  AddItem("midnight", At(2024, 3, 15));
  AddItem("late today", At(2024, 3, 15, 23, 59, 59));
  AddItem("tomorrow", At(2024, 3, 16));
  AddItem("leap day", At(2024, 2, 29));
  AddItem("month end", At(2024, 3, 31));
  AddItem("no date", vb::Null);
  EXPECT_THAT(
      Column("select Title from Items where Due >= date() and Due < dateadd(\"d\",1,date()) "
             "order by Due"),
      ElementsAre("midnight", "late today"));
  EXPECT_THAT(Column("select Title from Items where Due < now() order by Due"),
              ElementsAre("leap day", "late yesterday", "midnight"));
  EXPECT_THAT(Column("select Title from Items where Due = DateValue('2/29/2024')"),
              ElementsAre("leap day"));
  EXPECT_THAT(Column("select Title from Items where Due = #3/31/2024#"), ElementsAre("month end"));
  EXPECT_THAT(Column("select Title from Items where isnull(Due)"), ElementsAre("no date"));
  EXPECT_THAT(Column("select top 2 Title from Items where not isnull(Due) order by Due desc"),
              ElementsAre("month end", "tomorrow"));
}

TEST_P(DataConnectionTest, StatementsRunAgainFollowTheClockAndKeepTheirKeysApart) {
  AddItem("yesterday", At(2024, 3, 14));
  AddItem("today", At(2024, 3, 15, 12));
  const std::string overdue = "select Title from Items where Due < date() order by Due";
  EXPECT_THAT(Column(overdue), ElementsAre("yesterday"));
  connection_->SetClock(std::make_shared<vb::FixedClock>(At(2024, 3, 16, 8)));
  EXPECT_THAT(Column(overdue), ElementsAre("yesterday", "today"));
  // One prepared statement serves every key; each run reads its own row.
  EXPECT_THAT(Column("select Title from Items where ItemID = 1"), ElementsAre("yesterday"));
  EXPECT_THAT(Column("select Title from Items where ItemID = 2"), ElementsAre("today"));
  EXPECT_THAT(Column("select Title from Items where 'TODAY' = Title"), ElementsAre("today"));
  // A bound number keeps its literal's type: beyond a 16-bit column's range it matches nothing.
  EXPECT_THAT(Column("select Title from Items where Priority = 40000"), ElementsAre());
}

// A pool gives each connection its locale again for every request: the statements it learned
// are kept while the date form stays, and read dates anew when it changes.
TEST_P(DataConnectionTest, DateTextsInStatementsFollowTheDateFormGiven) {
  AddItem("third of February", At(2024, 2, 3));
  AddItem("second of March", At(2024, 3, 2));
  const std::string sql = "select Title from Items where Due = DateValue('3/2/2024')";
  EXPECT_THAT(Column(sql), ElementsAre("second of March"));
  connection_->SetLocale(vb::Locale("d/M/yyyy"));
  EXPECT_THAT(Column(sql), ElementsAre("third of February"));
  connection_->SetLocale(vb::Locale("d/M/yyyy"));
  EXPECT_THAT(Column(sql), ElementsAre("third of February"));
  connection_->SetLocale(vb::Locale("M/d/yyyy"));
  EXPECT_THAT(Column(sql), ElementsAre("second of March"));
}

// Booleans and letter case compare as the old databases did; hostile texts are taken literally.
TEST_P(DataConnectionTest, ComparisonsReturnTheRightRows) {
  AddItem("Alpha", vb::Null, true);
  AddItem("alphabet", vb::Null, false);
  for (const char* title :
       {"50% off", "500 off", "a_b", "axb", "back\\slash", "it's", "say \"hi\"", "Größe €"}) {
    AddItem(title);
  }
  const std::pair<const char*, std::vector<std::string>> cases[] = {
      {"Done = True", {"Alpha"}},
      {"Done = False", {"alphabet"}},
      {"Title = 'ALPHA'", {"Alpha"}},
      {"Title = \"A_B\"", {"a_b"}},
      {"Title like 'ALPHA%'", {"Alpha", "alphabet"}},
      {"Title like '50%'", {"50% off", "500 off"}},
      {"Title like 'a_b'", {"a_b", "axb"}},
      {"Title like 'back\\slash'", {"back\\slash"}},
      {"Title = 'it''s'", {"it's"}},
      {"Title = \"say \"\"hi\"\"\"", {"say \"hi\""}},
      {"Title like 'Größe%'", {"Größe €"}},
  };
  for (const auto& [where, titles] : cases) {
    EXPECT_EQ(Column(fmt::format("select Title from Items where {} order by Title", where)), titles)
        << where;
  }
}

TEST_P(DataConnectionTest, OneStatementPerCallLeavesTheTableIntact) {
  AddItem("kept");
  for (const char* sql : {"select * from Items; delete from Items",
                          "select * from Items where Title = 'x'; drop table Items"}) {
    EXPECT_EQ(ErrorOf([&] { (void)connection_->OpenRecordset(sql); }).number(), kSqlError) << sql;
    EXPECT_EQ(ErrorOf([&] { (void)connection_->Execute(sql); }).number(), kSqlError) << sql;
  }
  EXPECT_THAT(Column("select Title from Items"), ElementsAre("kept"));
}

TEST_P(DataConnectionTest, ExecuteCountsRowsAndTheTraceKeepsTextsAsReceived) {
  AddItem("a");
  AddItem("b");
  connection_->ClearTrace();
  int32_t affected = 0;
  auto none =
      connection_->Execute("update Items set Done = True where Title <> \"zzz\"", &affected);
  EXPECT_EQ(affected, 2);
  EXPECT_EQ(none->State(), ado::adStateClosed);
  (void)connection_->Execute("delete from Items where ItemID = 0", &affected);
  EXPECT_EQ(affected, 0);
  auto rows = connection_->Execute("select Title from Items order by Title", &affected);
  EXPECT_EQ(rows->RecordCount(), 2);
  // A record set's options are traced with its statement, a streamed one's too.
  (void)connection_->OpenRecordset("select * from Items where ItemID = 0");
  (void)connection_->OpenKeyedRecordset("select * from Items where ItemID = ", 7, 3, 3, 1);
  (void)connection_->OpenRecordset("select Title from Items", 0, 3, 1);
  EXPECT_THAT(
      connection_->Trace(),
      ElementsAre(TracedStatement{"update Items set Done = True where Title <> \"zzz\"", {}},
                  TracedStatement{"delete from Items where ItemID = 0", {}},
                  TracedStatement{"select Title from Items order by Title", {}},
                  TracedStatement{"select * from Items where ItemID = 0", {{1, 2, 3}}},
                  TracedStatement{"select * from Items where ItemID = 7", {{3, 3, 1}}},
                  TracedStatement{"select Title from Items", {{0, 3, 1}}}));
  const auto engineError =
      ErrorOf([&] { (void)connection_->Execute("select nothing from Items"); });
  EXPECT_EQ(engineError.number(), kEngineError);
  EXPECT_EQ(engineError.source(), "kvDataServer.DataConnection");
  EXPECT_THAT(engineError.description(), HasSubstr("select nothing from"));
}

TEST_P(DataConnectionTest, TransactionsCommitOnlyAtTheOutermostScope) {
  {
    DataConnection::Transaction outer(*connection_);
    AddItem("rolled back");
  }
  EXPECT_THAT(Column("select count(*) from Items"), ElementsAre("0"));
  {
    DataConnection::Transaction outer(*connection_);
    {
      DataConnection::Transaction inner(*connection_);
      AddItem("kept");
      inner.Commit();
    }
    EXPECT_THAT(Column(*Connect(), "select count(*) from Items"), ElementsAre("0"))
        << "nothing is visible before the outermost commit";
    outer.Commit();
  }
  EXPECT_THAT(Column(*Connect(), "select Title from Items"), ElementsAre("kept"));
  {
    DataConnection::Transaction outer(*connection_);
    { DataConnection::Transaction unfinished(*connection_); }
    EXPECT_EQ(ErrorOf([&] { outer.Commit(); }).number(), kEngineError);
  }
  EXPECT_FALSE(connection_->InTransaction());
}

// A stamp stays while nothing is written and moves with every write that could change an answer:
// another connection's commit, this connection's own write (even before it commits) and its
// rollback; two connections never share one.
TEST_P(DataConnectionTest, ChangeStampsMoveWithEveryWriteAndBelongToOneConnection) {
  const auto other = Connect();
  // The server's snapshot moves with other databases' transactions too: only on SQLite does a
  // stamp stay put for certain.
  const bool steady = Kind() == testing::EngineKind::SQLite;
  uint64_t stamp = connection_->ChangeStamp();
  if (steady) {
    EXPECT_EQ(connection_->ChangeStamp(), stamp);
  }
  EXPECT_NE(other->ChangeStamp(), stamp);
  // Each step writes or reads; moved says whether the stamp taken after it must differ.
  struct Step {
    std::string what;
    std::function<void()> run;
    bool moved;
  };
  std::optional<DataConnection::Transaction> open;
  const std::vector<Step> steps = {
      {"a read", [&] { (void)Column("select count(*) from Items"); }, false},
      {"another connection's commit",
       [&] { (void)other->Execute("insert into Items (Title) values ('theirs')"); }, true},
      {"a read after it", [&] { (void)Column("select Title from Items"); }, false},
      {"its own write", [&] { AddItem("mine"); }, true},
      {"a write in a transaction",
       [&] {
         open.emplace(*connection_);
         (void)connection_->Execute("update Items set Title = 'changed'");
       },
       true},
      {"its rollback", [&] { open.reset(); }, true},
      {"an update that matched nothing",
       [&] { (void)connection_->Execute("update Items set Title = 'x' where ItemID = 0"); }, false},
  };
  for (const auto& step : steps) {
    step.run();
    const uint64_t now = connection_->ChangeStamp();
    if (step.moved || steady) {
      EXPECT_EQ(now != stamp, step.moved) << step.what;
    }
    stamp = now;
  }
}

// A held stamp stays over other connections' commits, moves with the connection's own writes at
// once, and once released moves with what was committed meanwhile.
TEST_P(DataConnectionTest, AHeldStampMovesWithOwnWritesAndAfterItsRelease) {
  const auto other = Connect();
  const auto theirs = [&] { (void)other->Execute("insert into Items (Title) values ('theirs')"); };
  connection_->HoldChangeStamp(true);
  const uint64_t first = connection_->ChangeStamp();
  theirs();
  const uint64_t afterTheirs = connection_->ChangeStamp();
  EXPECT_EQ(afterTheirs, first);
  AddItem("mine");
  const uint64_t afterMine = connection_->ChangeStamp();
  EXPECT_NE(afterMine, afterTheirs);
  theirs();
  EXPECT_EQ(connection_->ChangeStamp(), afterMine);
  connection_->HoldChangeStamp(false);
  EXPECT_NE(connection_->ChangeStamp(), afterMine);
}

// A forward-only, read-only record set reads its rows as it moves; whatever needs rows already
// passed runs the statement again.
TEST_P(DataConnectionTest, ForwardOnlyReadOnlyRowsStreamAndStillMoveAnywhere) {
  for (const char* title : {"a", "b", "c", "d"}) AddItem(title, At(2024, 3, 1), true);
  const std::string sql = "select Title, Due, Done from Items order by ItemID";
  const auto open = [&] { return connection_->OpenRecordset(sql, 0, 2, ado::adLockReadOnly); };
  const auto title = [](const ado::RecordsetPtr& rs) {
    return vb::CStr(rs->Fields()["Title"].Value());
  };
  std::string seen;
  for (auto rs = open(); !rs->IsEOF(); rs->MoveNext()) {
    seen += title(rs) + (rs->Fields()["Due"].Value() == vb::Variant(At(2024, 3, 1)) ? "+" : "-") +
            (rs->Fields()["Done"].Value() == vb::Variant(true) ? "t" : "f");
  }
  EXPECT_EQ(seen, "a+tb+tc+td+t");
  // When the statement runs again is pinned in the Recordset tests; here the engine does it.
  auto counted = open();
  counted->MoveNext();
  counted->MoveNext();
  EXPECT_EQ(counted->RecordCount(), 4);
  counted->MovePrevious();
  EXPECT_EQ(title(counted), "b");
  // The same statement and writes run meanwhile do not disturb it.
  seen.clear();
  for (auto rs = open(), other = open(); !rs->IsEOF(); rs->MoveNext(), other->MoveNext()) {
    seen += title(rs) + title(other);
    (void)connection_->Execute("update Items set Amount = 1");
    EXPECT_EQ(Column("select count(*) from Items").front(), "4");
  }
  EXPECT_EQ(seen, "aabbccdd");
}

// Fault runs reach every kind of statement: a streamed list and an unread statement are calls
// like any other, counted and failed before they reach the engine underneath. A wrapper keeps
// the engine's schema generation, so the catalog read before it came is not read again.
TEST_P(DataConnectionTest, AFaultyEngineCountsAndFailsStreamedAndUnreadStatements) {
  for (const char* title : {"a", "b"}) AddItem(title, At(2024, 3, 1), true);
  const auto rows = [&] {
    int32_t count = 0;
    for (auto rs = connection_->OpenRecordset("select Title from Items", 0, 2, ado::adLockReadOnly);
         !rs->IsEOF(); rs->MoveNext()) {
      ++count;
    }
    return count;
  };
  const auto unread = [&] { connection_->Engine().ExecuteUnread("select 1"); };
  const auto counting = testing::FaultyEngine::Install(*connection_, 0);
  EXPECT_EQ(rows(), 2);
  unread();
  EXPECT_EQ(counting->Calls(), 2) << "one streamed and one unread statement";
  (void)testing::FaultyEngine::Install(*connection_, 1);
  EXPECT_EQ(ErrorOf(rows).number(), kEngineError);
  (void)testing::FaultyEngine::Install(*connection_, 1);
  EXPECT_THAT(ErrorOf(unread).description(), HasSubstr("injected fault at call 1: select 1"));
  EXPECT_EQ(rows(), 2) << "a failed call leaves the connection working";
}

KV_INSTANTIATE_ENGINES(DataConnectionTest);

}  // namespace
}  // namespace kvdata
