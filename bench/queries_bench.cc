// QueriedRecordset of the default list (the user's open actions) against the same statement run
// through the SQLite driver, on 10,000 and 1,000,000 actions. The user's share is the same 40
// actions at both sizes, so the times should stay close: the cost follows the rows returned.
#include <benchmark/benchmark.h>

#include <iostream>

#include "BenchDatabase.h"
#include "ado/Recordset.h"

namespace {

// The default list as the translator renders it for SQLite.
const std::string kRawList =
    "SELECT * FROM actions WHERE (AssigneeID='bench' OR OriginatorID='bench') AND DateClosed IS "
    "NULL";

void BM_QueriedRecordset(benchmark::State& state) {
  const auto action = bench::LoggedIn(state.range(0));
  int64_t rows = 0;
  for (auto _ : state) {
    const auto rs = action->QueriedRecordset(0, {}, ado::adOpenForwardOnly, ado::adUseServer,
                                             ado::adLockReadOnly);
    for (; !rs->IsEOF(); rs->MoveNext()) ++rows;
  }
  state.counters["rows"] =
      benchmark::Counter(static_cast<double>(rows), benchmark::Counter::kAvgIterations);
}

void BM_RawDriverList(benchmark::State& state) {
  const auto db = bench::OpenRaw(bench::Path(state.range(0)));
  if (state.range(0) == 1'000'000) std::cerr << "Plan:\n" << bench::Plan(db.get(), kRawList);
  int64_t rows = 0;
  for (auto _ : state) {
    const bench::Statement list = bench::Prepare(db.get(), kRawList);
    const int columns = sqlite3_column_count(list.get());
    while (sqlite3_step(list.get()) == SQLITE_ROW) {
      for (int c = 0; c < columns; ++c)
        benchmark::DoNotOptimize(sqlite3_column_text(list.get(), c));
      ++rows;
    }
  }
  state.counters["rows"] =
      benchmark::Counter(static_cast<double>(rows), benchmark::Counter::kAvgIterations);
}

BENCHMARK(BM_QueriedRecordset)->Arg(10'000)->Arg(1'000'000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_RawDriverList)->Arg(10'000)->Arg(1'000'000)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
