// QueriedRecordset of the default list (the user's open actions) against the same statement run
// through the raw driver (prepared once, the user bound, every column read), on 10,000 and
// 1,000,000 actions, on SQLite and PostgreSQL. The user's share is the same 40 actions at both
// sizes, so the times should stay close: the cost follows the rows returned. The plans are
// printed for the large table.
#include <benchmark/benchmark.h>

#include <iostream>

#include "BenchDatabase.h"
#include "Ratios.h"
#include "ado/Recordset.h"

namespace {

// The default list as the translator renders it, the user bound.
const std::string kRawListSqlite =
    "SELECT * FROM actions WHERE (AssigneeID=?1 OR OriginatorID=?1) AND DateClosed IS NULL";
const std::string kRawListPg =
    "SELECT * FROM actions WHERE (\"AssigneeID\"=$1 OR \"OriginatorID\"=$1) AND \"DateClosed\" "
    "IS NULL";

void BM_QueriedRecordset(benchmark::State& state) {
  const auto action = bench::LoggedIn(state.range(0), state.range(1));
  int64_t rows = 0;
  for (auto _ : state) {
    const auto rs = action->QueriedRecordset(0, {}, ado::adOpenForwardOnly, ado::adUseServer,
                                             ado::adLockReadOnly);
    for (; !rs->IsEOF(); rs->MoveNext()) ++rows;
  }
  state.counters["rows"] =
      benchmark::Counter(static_cast<double>(rows), benchmark::Counter::kAvgIterations);
}

void RawSqliteList(benchmark::State& state) {
  const auto db = bench::OpenRaw(bench::Path(state.range(0)));
  if (state.range(0) == 1'000'000) {
    std::cerr << "SQLite plan:\n" << bench::Plan(db.get(), kRawListSqlite);
  }
  const bench::Statement list = bench::Prepare(db.get(), kRawListSqlite);
  const int columns = sqlite3_column_count(list.get());
  int64_t rows = 0;
  for (auto _ : state) {
    sqlite3_bind_text(list.get(), 1, bench::kUser, -1, SQLITE_STATIC);
    while (sqlite3_step(list.get()) == SQLITE_ROW) {
      for (int c = 0; c < columns; ++c) {
        benchmark::DoNotOptimize(sqlite3_column_text(list.get(), c));
      }
      ++rows;
    }
    sqlite3_reset(list.get());
  }
  state.counters["rows"] =
      benchmark::Counter(static_cast<double>(rows), benchmark::Counter::kAvgIterations);
}

void RawPgList(benchmark::State& state) {
  const auto conn = bench::PgConnect(bench::ConnectionString(state.range(0), bench::kPostgreSQL));
  if (state.range(0) == 1'000'000) {
    std::cerr << "PostgreSQL plan:\n" << bench::PgPlan(conn.get(), kRawListPg, bench::kUser);
  }
  bench::PgResult(PQprepare(conn.get(), "list", kRawListPg.c_str(), 0, nullptr));
  const char* values[] = {bench::kUser};
  int64_t rows = 0;
  for (auto _ : state) {
    const bench::PgResult result(
        PQexecPrepared(conn.get(), "list", 1, values, nullptr, nullptr, 0));
    const int columns = PQnfields(result.get());
    for (int row = 0; row < PQntuples(result.get()); ++row, ++rows) {
      for (int c = 0; c < columns; ++c) benchmark::DoNotOptimize(PQgetvalue(result.get(), row, c));
    }
  }
  state.counters["rows"] =
      benchmark::Counter(static_cast<double>(rows), benchmark::Counter::kAvgIterations);
}

void BM_RawDriverList(benchmark::State& state) {
  state.range(1) == bench::kSQLite ? RawSqliteList(state) : RawPgList(state);
}

BENCHMARK(BM_QueriedRecordset)->Apply(bench::EnginesAndSizes);
BENCHMARK(BM_RawDriverList)->Apply(bench::EnginesAndSizes);

}  // namespace

int main(int argc, char** argv) {
  return bench::RunWithSizeRatios(argc, argv, "Default list", "BM_QueriedRecordset",
                                  "BM_RawDriverList");
}
