// Alerts (mode 0) for one user against the same count run through the SQLite driver, on 10,000
// and 1,000,000 actions. The user's share is the same 40 actions at both sizes, so the count
// should stay flat as the table grows.
#include <benchmark/benchmark.h>

#include <iostream>

#include "BenchDatabase.h"

namespace {

// The mode-0 count as the translator renders it for SQLite, today at 09:00 written out.
const std::string kRawCount =
    "SELECT count(ActionNumber) FROM actions WHERE DateClosed IS NULL AND ((DateDue < "
    "'2024-03-15 00:00:00' AND (AssigneeID='bench' OR OriginatorID='bench')) OR (Alert <> 0 AND "
    "AssigneeID = 'bench' AND Reviewed < 10) OR (Alert <> 0 AND OriginatorID = 'bench' AND "
    "Reviewed >= 10))";

void BM_Alerts(benchmark::State& state) {
  const auto action = bench::LoggedIn(state.range(0));
  for (auto _ : state) benchmark::DoNotOptimize(action->Alerts());
  state.counters["count"] = action->Alerts();
}

void BM_RawDriverCount(benchmark::State& state) {
  const auto db = bench::OpenRaw(bench::Path(state.range(0)));
  if (state.range(0) == 1'000'000) std::cerr << "Plan:\n" << bench::Plan(db.get(), kRawCount);
  int64_t count = 0;
  for (auto _ : state) {
    const bench::Statement counting = bench::Prepare(db.get(), kRawCount);
    if (sqlite3_step(counting.get()) == SQLITE_ROW) count = sqlite3_column_int64(counting.get(), 0);
    benchmark::DoNotOptimize(count);
  }
  state.counters["count"] = static_cast<double>(count);
}

BENCHMARK(BM_Alerts)->Arg(10'000)->Arg(1'000'000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_RawDriverCount)->Arg(10'000)->Arg(1'000'000)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
