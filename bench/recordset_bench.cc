// Opening one row by key and updating one column: through DataConnection and its record set,
// and through the raw driver doing the same statements, on SQLite and PostgreSQL in one run.
// Prints the ratio record set / raw driver for each engine (target: at most 1.3).
// PostgreSQL: the server named by KV_BENCH_PG, else KV_TEST_PG (scripts/pg.sh starts one).
#include <benchmark/benchmark.h>
#include <fmt/format.h>
#include <libpq-fe.h>
#include <sqlite3.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <string>

#include "kvdata/ConnectionString.h"
#include "kvdata/DataConnection.h"
#include "kvdata/engine/Engine.h"
#include "vb/Convert.h"

namespace {

using kvdata::DataConnection;
using kvdata::engine::ColumnKind;

constexpr int kRows = 1000;
const std::string kSelect = "select * from Items where ItemID = ";

// One database per engine for the whole run, filled with kRows rows.
struct Database {
  std::string connectionString;
  std::string cleanup;  // file to remove, or database to drop
};

void Fill(DataConnection& connection) {
  auto& engine = connection.Engine();
  (void)engine.Execute(
      fmt::format("CREATE TABLE \"Items\" (\"ItemID\" {}, \"Title\" {}, \"Amount\" {})",
                  engine.ColumnType(ColumnKind::AutoKey), engine.ColumnType(ColumnKind::Text, 50),
                  engine.ColumnType(ColumnKind::Integer)));
  DataConnection::Transaction transaction(connection);
  for (int i = 0; i < kRows; ++i) {
    const vb::Variant row[] = {vb::Variant(fmt::format("item {}", i)), vb::Variant(int32_t{0})};
    (void)engine.Execute("INSERT INTO \"Items\" (\"Title\", \"Amount\") VALUES (?, ?)", row);
  }
  transaction.Commit();
}

std::string ServerString() {
  for (const char* name : {"KV_BENCH_PG", "KV_TEST_PG"}) {
    if (const char* value = std::getenv(name); value != nullptr && *value != '\0') return value;
  }
  return {};
}

const Database& SqliteDatabase() {
  static const Database database = [] {
    const auto path =
        (std::filesystem::temp_directory_path() / fmt::format("kvbench_{}.kvdb", getpid()))
            .string();
    Fill(*DataConnection::Open(path, true));
    return Database{path, path};
  }();
  return database;
}

const Database* PostgresDatabase() {
  static const std::optional<Database> database = []() -> std::optional<Database> {
    const std::string server = ServerString();
    if (server.empty()) return std::nullopt;
    const std::string name = fmt::format("kvbench_{}", getpid());
    (void)DataConnection::Open(server)->Engine().Execute("CREATE DATABASE " + name);
    const auto login = kvdata::ParseConnectionString(server).login;
    std::string text = fmt::format("Provider=PostgreSQL;Host={};Port={};Database={};User ID={}",
                                   login.host, login.port, name, login.user);
    if (!login.password.empty()) text += ";Password=" + login.password;
    Fill(*DataConnection::Open(text));
    return Database{text, name};
  }();
  return database ? &*database : nullptr;
}

void RecordsetOpenAndUpdate(benchmark::State& state, const Database* database) {
  if (database == nullptr)
    return state.SkipWithError("no PostgreSQL: set KV_BENCH_PG or KV_TEST_PG");
  auto connection = DataConnection::Open(database->connectionString);
  int32_t i = 0;
  for (auto _ : state) {
    auto rs = connection->OpenRecordset(kSelect + std::to_string(i % kRows + 1));
    rs->Fields()["Amount"].Value(vb::Variant(++i));
    rs->Update();
  }
}

// The same statements through the C API: select by key, then the optimistic update.
void RawSqlite(benchmark::State& state) {
  sqlite3* db = nullptr;
  sqlite3_open_v2(SqliteDatabase().connectionString.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr);
  const std::unique_ptr<sqlite3, decltype(&sqlite3_close_v2)> owner(db, &sqlite3_close_v2);
  sqlite3_busy_timeout(db, 10000);
  // The same durability and page cache as the library's connections: WAL with NORMAL sync.
  sqlite3_exec(db, "PRAGMA synchronous=NORMAL", nullptr, nullptr, nullptr);
  sqlite3_exec(db, "PRAGMA cache_size=-16384", nullptr, nullptr, nullptr);
  sqlite3_stmt* select = nullptr;
  sqlite3_stmt* update = nullptr;
  sqlite3_prepare_v2(db, "select * from Items where ItemID = ?", -1, &select, nullptr);
  sqlite3_prepare_v2(db,
                     "UPDATE \"Items\" SET \"Amount\" = ? WHERE \"ItemID\" = ? AND \"Amount\" IS ?",
                     -1, &update, nullptr);
  int i = 0;
  for (auto _ : state) {
    const int id = i % kRows + 1;
    sqlite3_bind_int(select, 1, id);
    int amount = 0;
    while (sqlite3_step(select) == SQLITE_ROW) {
      benchmark::DoNotOptimize(sqlite3_column_text(select, 1));
      amount = sqlite3_column_int(select, 2);
    }
    sqlite3_reset(select);
    sqlite3_bind_int(update, 1, ++i);
    sqlite3_bind_int(update, 2, id);
    sqlite3_bind_int(update, 3, amount);
    if (sqlite3_step(update) != SQLITE_DONE) state.SkipWithError(sqlite3_errmsg(db));
    sqlite3_reset(update);
  }
  sqlite3_finalize(select);
  sqlite3_finalize(update);
}

void RawPostgres(benchmark::State& state) {
  const Database* database = PostgresDatabase();
  if (database == nullptr)
    return state.SkipWithError("no PostgreSQL: set KV_BENCH_PG or KV_TEST_PG");
  const auto login = kvdata::ParseConnectionString(database->connectionString).login;
  const std::string conninfo = fmt::format("host={} port={} dbname={} user={}", login.host,
                                           login.port, login.database, login.user);
  const std::unique_ptr<PGconn, decltype(&PQfinish)> conn(PQconnectdb(conninfo.c_str()), &PQfinish);
  PQclear(
      PQprepare(conn.get(), "sel", "select * from \"Items\" where \"ItemID\" = $1", 0, nullptr));
  PQclear(PQprepare(conn.get(), "upd",
                    "UPDATE \"Items\" SET \"Amount\" = $1 WHERE \"ItemID\" = $2 AND \"Amount\" IS "
                    "NOT DISTINCT FROM $3",
                    0, nullptr));
  int i = 0;
  for (auto _ : state) {
    const std::string id = std::to_string(i % kRows + 1);
    const char* selectParams[] = {id.c_str()};
    PGresult* row = PQexecPrepared(conn.get(), "sel", 1, selectParams, nullptr, nullptr, 0);
    const std::string amount = PQgetvalue(row, 0, 2);
    benchmark::DoNotOptimize(PQgetvalue(row, 0, 1));
    PQclear(row);
    const std::string next = std::to_string(++i);
    const char* updateParams[] = {next.c_str(), id.c_str(), amount.c_str()};
    PGresult* done = PQexecPrepared(conn.get(), "upd", 3, updateParams, nullptr, nullptr, 0);
    if (PQresultStatus(done) != PGRES_COMMAND_OK) state.SkipWithError(PQerrorMessage(conn.get()));
    PQclear(done);
  }
}

// Keeps each benchmark's time per iteration so the ratios can be printed after the run.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const auto& run : runs) {
      if (!run.error_occurred) times_[run.benchmark_name()] = run.GetAdjustedRealTime();
    }
    ConsoleReporter::ReportRuns(runs);
  }
  void PrintRatio(const std::string& engine) const {
    const auto recordset = times_.find("Recordset/" + engine);
    const auto raw = times_.find("Raw/" + engine);
    if (recordset == times_.end() || raw == times_.end()) return;
    fmt::print("{:<11} record set / raw driver: {:.2f}x (target at most 1.3x)\n", engine,
               recordset->second / raw->second);
  }

 private:
  std::map<std::string, double> times_;
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::RegisterBenchmark("Recordset/SQLite", [](benchmark::State& state) {
    RecordsetOpenAndUpdate(state, &SqliteDatabase());
  });
  benchmark::RegisterBenchmark("Raw/SQLite", RawSqlite);
  benchmark::RegisterBenchmark("Recordset/PostgreSQL", [](benchmark::State& state) {
    RecordsetOpenAndUpdate(state, PostgresDatabase());
  });
  benchmark::RegisterBenchmark("Raw/PostgreSQL", RawPostgres);
  benchmark::Initialize(&argc, argv);
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  reporter.PrintRatio("SQLite");
  reporter.PrintRatio("PostgreSQL");
  for (const char* suffix : {"", "-wal", "-shm"}) {
    std::filesystem::remove(SqliteDatabase().cleanup + suffix);
  }
  if (const Database* pg = PostgresDatabase()) {
    (void)DataConnection::Open(ServerString())
        ->Engine()
        .Execute(fmt::format("DROP DATABASE {} WITH (FORCE)", pg->cleanup));
  }
  benchmark::Shutdown();
  return 0;
}
