// Alerts (mode 0) for one user against the same count run through the raw driver (statement
// prepared once, the user bound), on 10,000 and 1,000,000 actions, on SQLite and PostgreSQL.
// The user's share is the same 40 actions at both sizes, so the count should stay flat as the
// table grows. The plans are printed for the large table.
#include <benchmark/benchmark.h>

#include <iostream>

#include "BenchDatabase.h"
#include "Ratios.h"

namespace {

// The mode-0 count as the translator renders it, today at 09:00 written out, the user bound.
const std::string kRawCountSqlite =
    "SELECT count(ActionNumber) FROM actions WHERE DateClosed IS NULL AND ((DateDue < "
    "'2024-03-15 00:00:00' AND (AssigneeID=?1 OR OriginatorID=?1)) OR (Alert <> 0 AND "
    "AssigneeID = ?1 AND Reviewed < 10) OR (Alert <> 0 AND OriginatorID = ?1 AND "
    "Reviewed >= 10))";
const std::string kRawCountPg =
    "SELECT count(\"ActionNumber\") FROM actions WHERE \"DateClosed\" IS NULL AND ((\"DateDue\" < "
    "TIMESTAMP '2024-03-15 00:00:00' AND (\"AssigneeID\"=$1 OR \"OriginatorID\"=$1)) OR "
    "(\"Alert\" <> 0 AND \"AssigneeID\" = $1 AND \"Reviewed\" < 10) OR (\"Alert\" <> 0 AND "
    "\"OriginatorID\" = $1 AND \"Reviewed\" >= 10))";

void BM_Alerts(benchmark::State& state) {
  const auto action = bench::LoggedIn(state.range(0), state.range(1));
  for (auto _ : state) benchmark::DoNotOptimize(action->Alerts());
  state.counters["count"] = action->Alerts();
}

void RawSqliteCount(benchmark::State& state) {
  const auto db = bench::OpenRaw(bench::Path(state.range(0)));
  if (state.range(0) == 1'000'000) {
    std::cerr << "SQLite plan:\n" << bench::Plan(db.get(), kRawCountSqlite);
  }
  const bench::Statement counting = bench::Prepare(db.get(), kRawCountSqlite);
  int64_t count = 0;
  for (auto _ : state) {
    sqlite3_bind_text(counting.get(), 1, bench::kUser, -1, SQLITE_STATIC);
    if (sqlite3_step(counting.get()) == SQLITE_ROW) count = sqlite3_column_int64(counting.get(), 0);
    sqlite3_reset(counting.get());
    benchmark::DoNotOptimize(count);
  }
  state.counters["count"] = static_cast<double>(count);
}

void RawPgCount(benchmark::State& state) {
  const auto conn = bench::PgConnect(bench::ConnectionString(state.range(0), bench::kPostgreSQL));
  if (state.range(0) == 1'000'000) {
    std::cerr << "PostgreSQL plan:\n" << bench::PgPlan(conn.get(), kRawCountPg, bench::kUser);
  }
  bench::PgResult(PQprepare(conn.get(), "count", kRawCountPg.c_str(), 0, nullptr));
  const char* values[] = {bench::kUser};
  int64_t count = 0;
  for (auto _ : state) {
    const bench::PgResult result(
        PQexecPrepared(conn.get(), "count", 1, values, nullptr, nullptr, 0));
    count = std::atoll(PQgetvalue(result.get(), 0, 0));
    benchmark::DoNotOptimize(count);
  }
  state.counters["count"] = static_cast<double>(count);
}

void BM_RawDriverCount(benchmark::State& state) {
  state.range(1) == bench::kSQLite ? RawSqliteCount(state) : RawPgCount(state);
}

BENCHMARK(BM_Alerts)->Apply(bench::EnginesAndSizes);
BENCHMARK(BM_RawDriverCount)->Apply(bench::EnginesAndSizes);

}  // namespace

int main(int argc, char** argv) {
  return bench::RunWithSizeRatios(argc, argv, "Alerts", "BM_Alerts", "BM_RawDriverCount");
}
