// Savepoints and repeated statements behave alike on both engines, although the server engine
// holds savepoint statements back until the next statement and describes a prepared statement's
// columns only once.
#include "kvdata/engine/postgres/PgEngine.h"

#include <fmt/format.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>
#include <utility>
#include <vector>

#include "kvdata/DataConnection.h"
#include "kvdata/engine/EngineError.h"
#include "kvdata/engine/EngineTest.h"
#include "vb/testing/ErrorOf.h"

namespace kvdata::engine {
namespace {

// The engine's table T, filled through N only.
class HeldStatementTest : public EngineTest {
 protected:
  void Insert(int32_t n) {
    const vb::Variant values[] = {vb::Variant(n)};
    (void)engine_->Execute("INSERT INTO \"T\" (\"N\") VALUES (?)", values);
  }
  [[nodiscard]] std::vector<vb::Variant> Stored() {
    std::vector<vb::Variant> numbers;
    for (const auto& row : engine_->Execute("SELECT \"N\" FROM \"T\" ORDER BY \"ID\"").rows) {
      numbers.push_back(row[0]);
    }
    return numbers;
  }
};

using Numbers = std::vector<vb::Variant>;

// Savepoints released, rolled back to, failed in, and still held back when the transaction ends.
TEST_P(HeldStatementTest, RollingBackToASavepointUndoesOnlyWhatCameAfterIt) {
  engine_->Begin();
  (void)engine_->Execute("SAVEPOINT s");
  Insert(1);
  (void)engine_->Execute("RELEASE SAVEPOINT s");
  for (const int32_t n : {2, 3}) {
    (void)engine_->Execute("SAVEPOINT s");
    Insert(n);
    (void)engine_->Execute("ROLLBACK TO SAVEPOINT s");
    (void)engine_->Execute("RELEASE SAVEPOINT s");
  }
  (void)engine_->Execute("SAVEPOINT s");
  (void)engine_->Execute("RELEASE SAVEPOINT s");
  (void)engine_->Execute("SAVEPOINT s");
  EXPECT_THAT(vb::testing::ErrorOf([&] {
                (void)engine_->Execute("INSERT INTO \"Missing\" (\"N\") VALUES (1)");
              }).description(),
              ::testing::HasSubstr("Missing"));
  (void)engine_->Execute("ROLLBACK TO SAVEPOINT s");
  Insert(4);
  (void)engine_->Execute("SAVEPOINT s");
  engine_->Commit();
  engine_->Begin();
  (void)engine_->Execute("SAVEPOINT s");
  engine_->Rollback();
  Insert(5);  // outside any transaction: nothing is left to send before it
  EXPECT_EQ(Stored(), (Numbers{vb::Variant(1), vb::Variant(4), vb::Variant(5)}));
}

TEST_P(HeldStatementTest, RepeatedStatementKeepsItsColumnsAndSettlesEachResult) {
  Insert(7);
  const vb::Variant seven[] = {vb::Variant(int32_t{7})};
  for (int run = 0; run < 3; ++run) {
    const Result keyed = engine_->Execute("SELECT \"ID\", \"N\" FROM \"T\" WHERE \"N\" = ?", seven);
    ASSERT_EQ(keyed.columns.size(), 2u);
    EXPECT_EQ(keyed.columns[0].table, "T");
    EXPECT_TRUE(keyed.columns[0].key);
    EXPECT_TRUE(keyed.columns[0].generated);
    EXPECT_EQ(keyed.columns[1].baseName, "N");
    const Result counted = engine_->Execute("SELECT count(*) FROM \"T\" WHERE \"N\" = ?", seven);
    EXPECT_EQ(counted.rows.at(0).at(0), vb::Variant(int32_t{run + 1})) << "run " << run;
    EXPECT_NE(counted.columns[0].type, ado::adEmpty);
    Insert(7);
  }
}

// A transaction that has only read can be started again in place of a savepoint; one that
// wrote or holds a lock cannot. A failed first write after reads is undone that way.
TEST_P(HeldStatementTest, OnlyATransactionThatHasReadAloneMayStartAgain) {
  if (Kind() != testing::EngineKind::PostgreSQL) return;  // SQLite undoes a failed statement
  const std::vector<std::pair<const char*, std::function<void()>>> before = {
      {"nothing", [] {}},
      {"a read", [&] { (void)Stored(); }},
      {"a write", [&] { Insert(1); }},
      {"a lock", [&] { engine_->ExecuteUnread("SELECT pg_advisory_xact_lock(7)"); }}};
  for (const auto& [what, step] : before) {
    engine_->Begin();
    step();
    const bool readOnly = std::string_view(what) == "nothing" || std::string_view(what) == "a read";
    EXPECT_EQ(engine_->TransactionUntouched(), readOnly) << what;
    engine_->Rollback();
  }
  engine_->Begin();
  (void)Stored();
  EXPECT_THROW((void)engine_->Execute("INSERT INTO \"Missing\" (\"N\") VALUES (1)"), EngineError);
  engine_->RestartTransaction();
  Insert(2);
  engine_->Commit();
  EXPECT_EQ(Stored(), (Numbers{vb::Variant(int32_t{2})}));
}

// The server ends the session (as a restart does): the call that meets it fails, a transaction
// in it stays failed until rolled back, and the next call outside a transaction reconnects.
TEST_P(HeldStatementTest, LostSessionIsReportedThenReopened) {
  if (Kind() != testing::EngineKind::PostgreSQL) return;  // only a server session can be lost
  const auto endSession = [&] {
    const auto pid = engine_->Execute("SELECT pg_backend_pid()").rows.at(0).at(0);
    const vb::Variant values[] = {pid};
    (void)Connect()->Engine().Execute("SELECT pg_terminate_backend(CAST(? AS integer))", values);
  };
  Insert(1);
  endSession();
  EXPECT_THROW(Insert(2), vb::ComError);
  Insert(3);  // the next call opens a new session
  engine_->Begin();
  Insert(4);
  endSession();
  EXPECT_THROW(Insert(5), vb::ComError);
  EXPECT_THROW(Insert(6), vb::ComError) << "a statement ran outside its lost transaction";
  EXPECT_THROW(engine_->Commit(), vb::ComError);
  Insert(7);
  EXPECT_EQ(Stored(), (Numbers{vb::Variant(1), vb::Variant(3), vb::Variant(7)}));
}

KV_INSTANTIATE_ENGINES(HeldStatementTest);

}  // namespace
}  // namespace kvdata::engine
