// Lists every action of the 1,000,000-action database once, every field of every row read, and
// prints the rows, the seconds taken and the process's peak resident memory in MiB:
//
//   list_memory library|raw sqlite|postgresql
//
// library: the saved query 1 of "bench" (no criteria) through a forward-only, read-only
// QueriedRecordset; raw: the same statement stepped with sqlite3, or read with libpq in
// single-row mode. One list per process, so that the peak is the list's own.
#include <fmt/format.h>
#include <sys/resource.h>

#include <chrono>
#include <cstring>

#include "BenchDatabase.h"
#include "ado/Recordset.h"

namespace {

constexpr int64_t kRows = 1'000'000;

int64_t LibraryList(int64_t engine) {
  const auto action = bench::LoggedIn(kRows, engine);
  const auto rs = action->QueriedRecordset(1, {}, ado::adOpenForwardOnly, ado::adUseServer,
                                           ado::adLockReadOnly);
  auto fields = rs->Fields();
  const int32_t count = fields.Count();
  int64_t rows = 0;
  for (; !rs->IsEOF(); rs->MoveNext(), ++rows) {
    for (int32_t i = 0; i < count; ++i) benchmark::DoNotOptimize(fields.Item(i).Value());
  }
  return rows;
}

int64_t RawSqliteList() {
  const auto db = bench::OpenRaw(bench::Path(kRows));
  const bench::Statement list = bench::Prepare(db.get(), "Select * from actions");
  const int columns = sqlite3_column_count(list.get());
  int64_t rows = 0;
  while (sqlite3_step(list.get()) == SQLITE_ROW) {
    for (int c = 0; c < columns; ++c) benchmark::DoNotOptimize(sqlite3_column_text(list.get(), c));
    ++rows;
  }
  return rows;
}

int64_t RawPgList() {
  const auto conn = bench::PgConnect(bench::ConnectionString(kRows, bench::kPostgreSQL));
  PQsendQuery(conn.get(), "Select * from \"actions\"");
  PQsetSingleRowMode(conn.get());
  int64_t rows = 0;
  while (PGresult* result = PQgetResult(conn.get())) {
    if (PQresultStatus(result) == PGRES_SINGLE_TUPLE) {
      for (int c = 0; c < PQnfields(result); ++c) {
        benchmark::DoNotOptimize(PQgetvalue(result, 0, c));
      }
      ++rows;
    }
    PQclear(result);
  }
  return rows;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    fmt::print(stderr, "usage: list_memory library|raw sqlite|postgresql\n");
    return 2;
  }
  const bool library = std::strcmp(argv[1], "library") == 0;
  const int64_t engine =
      std::strcmp(argv[2], "postgresql") == 0 ? bench::kPostgreSQL : bench::kSQLite;
  (void)bench::ConnectionString(kRows, engine);  // made before the clock starts
  const auto start = std::chrono::steady_clock::now();
  const int64_t rows =
      library ? LibraryList(engine) : (engine == bench::kSQLite ? RawSqliteList() : RawPgList());
  const std::chrono::duration<double> seconds = std::chrono::steady_clock::now() - start;
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  fmt::print("rows {} seconds {:.2f} peak_mib {:.1f}\n", rows, seconds.count(),
             static_cast<double>(usage.ru_maxrss) / 1024.0);
  return rows == kRows ? 0 : 1;
}
