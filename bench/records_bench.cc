// addRecord and updateRecord of one column, each against the same statements sent through the
// raw driver (SQLite's C API, libpq; each text prepared once, values bound), on both engines in
// one run. The PostgreSQL cases need the
// server named by KV_TEST_PG (a connection string as the tests use); each run works in a fresh
// database of its own.
#include <benchmark/benchmark.h>
#include <libpq-fe.h>
#include <sqlite3.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "Ratios.h"
#include "kvaction/Action.h"
#include "kvdata/ConnectionString.h"
#include "kvdata/DataServer.h"
#include "vb/Clock.h"

namespace {

enum Engine : int64_t { kSQLite = 0, kPostgreSQL = 1 };

const std::shared_ptr<const vb::Clock> kClock =
    std::make_shared<vb::FixedClock>(vb::Date::FromParts(2024, 3, 15, 9, 30, 5));
constexpr const char* kNow = "2024-03-15 09:30:05";
constexpr const char* kToday = "2024-03-15 00:00:00";
constexpr const char* kDue = "2024-03-25 00:00:00";

// --- a fresh action database per engine --------------------------------------------------------

struct PgConnDeleter {
  void operator()(PGconn* c) const { PQfinish(c); }
};
struct PgResultDeleter {
  void operator()(PGresult* r) const { PQclear(r); }
};
using PgConn = std::unique_ptr<PGconn, PgConnDeleter>;
using PgResult = std::unique_ptr<PGresult, PgResultDeleter>;

std::string PgServer() {
  const char* server = std::getenv("KV_TEST_PG");
  if (server == nullptr) throw std::runtime_error("KV_TEST_PG names no PostgreSQL server");
  return server;
}

// libpq's "key=value" form of one of our PostgreSQL connection strings.
std::string LibpqConninfo(const std::string& connectionString) {
  const auto settings = kvdata::ParseConnectionString(connectionString);
  const auto& login = settings.login;
  return "host='" + login.host + "' port='" + login.port + "' dbname='" + login.database +
         "' user='" + login.user + "'";
}

PgConn PgConnect(const std::string& connectionString) {
  PgConn conn(PQconnectdb(LibpqConninfo(connectionString).c_str()));
  if (PQstatus(conn.get()) != CONNECTION_OK) throw std::runtime_error(PQerrorMessage(conn.get()));
  return conn;
}

PgResult PgRun(PGconn* conn, const std::string& sql, const std::vector<std::string>& params = {}) {
  std::vector<const char*> values;
  for (const auto& p : params) values.push_back(p.c_str());
  PgResult result(PQexecParams(conn, sql.c_str(), static_cast<int>(values.size()), nullptr,
                               values.data(), nullptr, nullptr, 0));
  const auto status = PQresultStatus(result.get());
  if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK) {
    throw std::runtime_error(PQerrorMessage(conn));
  }
  return result;
}

// An action database that exists for the lifetime of this object.
class BenchDatabase {
 public:
  explicit BenchDatabase(Engine engine) : engine_(engine) {
    const std::string name = "kvbench_" + std::to_string(getpid()) + "_" + std::to_string(++count_);
    if (engine == kSQLite) {
      path_ = (std::filesystem::temp_directory_path() / (name + ".kvdb")).string();
      connectionString_ = "Provider=SQLite;Data Source=" + path_;
    } else {
      (void)PgRun(PgConnect(PgServer()).get(), "CREATE DATABASE " + name);
      database_ = name;
      auto settings = kvdata::ParseConnectionString(PgServer());
      connectionString_ = "Provider=PostgreSQL;Host=" + settings.login.host +
                          ";Port=" + settings.login.port + ";Database=" + name +
                          ";User ID=" + settings.login.user;
    }
    kvdata::DataServer::CreateDatabase(
        connectionString_, {"admin", "Ada Admin", "secret", kvdata::PasswordCost::Minimum}, kClock);
  }
  ~BenchDatabase() {
    if (engine_ == kSQLite) {
      for (const char* suffix : {"", "-wal", "-shm"}) std::filesystem::remove(path_ + suffix);
    } else {
      (void)PQclear(PQexec(PgConnect(PgServer()).get(),
                           ("DROP DATABASE " + database_ + " WITH (FORCE)").c_str()));
    }
  }
  BenchDatabase(const BenchDatabase&) = delete;
  BenchDatabase& operator=(const BenchDatabase&) = delete;

  [[nodiscard]] const std::string& ConnectionString() const { return connectionString_; }
  [[nodiscard]] const std::string& Path() const { return path_; }

  // An Action on it with admin logged in.
  [[nodiscard]] std::unique_ptr<kvaction::Action> Login() const {
    auto action = std::make_unique<kvaction::Action>();
    action->SetClock(kClock);
    action->OpenConnection(connectionString_);
    action->Login("admin", "secret");
    return action;
  }

 private:
  static inline int count_ = 0;
  Engine engine_;
  std::string connectionString_;
  std::string path_;
  std::string database_;
};

// The raw PostgreSQL client: each text prepared once, values bound, as a careful client does.
class RawPg {
 public:
  explicit RawPg(const std::string& connectionString) : conn_(PgConnect(connectionString)) {}
  PgResult Run(const std::string& sql, const std::vector<std::string>& params = {}) {
    auto [it, added] = names_.try_emplace(sql, "s" + std::to_string(names_.size()));
    if (added) {
      const PgResult prepared(PQprepare(conn_.get(), it->second.c_str(), sql.c_str(), 0, nullptr));
      if (PQresultStatus(prepared.get()) != PGRES_COMMAND_OK) {
        throw std::runtime_error(PQerrorMessage(conn_.get()));
      }
    }
    std::vector<const char*> values;
    for (const auto& p : params) values.push_back(p.c_str());
    PgResult result(PQexecPrepared(conn_.get(), it->second.c_str(), static_cast<int>(values.size()),
                                   values.data(), nullptr, nullptr, 0));
    const auto status = PQresultStatus(result.get());
    if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK) {
      throw std::runtime_error(PQerrorMessage(conn_.get()));
    }
    return result;
  }

 private:
  PgConn conn_;
  std::map<std::string, std::string> names_;
};

// --- the raw drivers --------------------------------------------------------------------------

// The statements each operation sends, written once per engine's quoting.
struct RawStatements {
  std::string profileValue, settingValue, highest, insertAction, insertEvent, selectAction, label,
      updateSubject;
};

RawStatements Statements(Engine engine) {
  // PostgreSQL keeps the mixed-case names as created (quoted); SQLite ignores letter case.
  const auto q = [engine](const std::string& name) {
    return engine == kPostgreSQL ? "\"" + name + "\"" : name;
  };
  const std::string p1 = engine == kPostgreSQL ? "$1" : "?";
  const auto p = [engine](int n) { return engine == kPostgreSQL ? "$" + std::to_string(n) : "?"; };
  RawStatements s;
  s.profileValue = "SELECT * FROM " + q("ActionProfiles") + " WHERE " + q("UserID") + " = " + p(1) +
                   " AND " + q("ProfileKey") + " = " + p(2);
  s.settingValue = "SELECT * FROM " + q("ActionConfig") + " WHERE " + q("ConfigKey") + " = " + p1;
  s.highest = "SELECT * FROM actions ORDER BY " + q("ActionNumber") + " DESC LIMIT 1";
  s.insertAction = "INSERT INTO actions (" + q("ActionNumber") + ", " + q("OriginatorID") + ", " +
                   q("Originator") + ", " + q("DateOpened") + ", " + q("DateDue") + ", " +
                   q("Alert") + ") VALUES (" + p(1) + ", " + p(2) + ", " + p(3) + ", " + p(4) +
                   ", " + p(5) + ", -1)" + (engine == kPostgreSQL ? " RETURNING \"ActionID\"" : "");
  s.insertEvent = "INSERT INTO " + q("ActionEvents") + " (" + q("EventCode") + ", " +
                  q("ActionID") + ", " + q("EventText") + ", " + q("UserID") + ", " +
                  q("EventTime") + ") VALUES (" + p(1) + ", " + p(2) + ", " + p(3) + ", " + p(4) +
                  ", " + p(5) + ")";
  s.selectAction = "SELECT * FROM actions WHERE " + q("ActionID") + " = " + p1;
  s.label = s.settingValue;
  s.updateSubject = "UPDATE actions SET " + q("Subject") + " = " + p(1) + " WHERE " +
                    q("ActionID") + " = " + p(2) + " AND " + q("Subject") + " = " + p(3);
  return s;
}

struct SqliteDeleter {
  void operator()(sqlite3* db) const { sqlite3_close_v2(db); }
};
struct StmtDeleter {
  void operator()(sqlite3_stmt* s) const { sqlite3_finalize(s); }
};
using Stmt = std::unique_ptr<sqlite3_stmt, StmtDeleter>;

// The raw SQLite client: prepared statements, as the library keeps them.
class RawSqlite {
 public:
  explicit RawSqlite(const std::string& path) {
    sqlite3* raw = nullptr;
    sqlite3_open_v2(path.c_str(), &raw, SQLITE_OPEN_READWRITE, nullptr);
    db_.reset(raw);
    sqlite3_busy_timeout(db_.get(), 10000);
    Exec("PRAGMA journal_mode=WAL");
    Exec("PRAGMA synchronous=NORMAL");
  }
  void Exec(const std::string& sql) {
    sqlite3_exec(db_.get(), sql.c_str(), nullptr, nullptr, nullptr);
  }
  // Runs a statement with text parameters; returns the first column of the first row.
  std::string Run(const std::string& sql, const std::vector<std::string>& params = {}) {
    sqlite3_stmt*& stmt = cache_[sql];
    if (stmt == nullptr) {
      sqlite3_prepare_v2(db_.get(), sql.c_str(), -1, &stmt, nullptr);
      owned_.emplace_back(stmt);
    }
    for (std::size_t i = 0; i < params.size(); ++i) {
      sqlite3_bind_text(stmt, static_cast<int>(i + 1), params[i].c_str(), -1, SQLITE_TRANSIENT);
    }
    std::string first;
    int rc = 0;
    while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) {
      if (first.empty() && sqlite3_column_text(stmt, 0) != nullptr) {
        first = reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0));
      }
    }
    sqlite3_reset(stmt);
    if (rc != SQLITE_DONE) throw std::runtime_error(sqlite3_errmsg(db_.get()));
    return first;
  }
  [[nodiscard]] std::string LastID() const {
    return std::to_string(sqlite3_last_insert_rowid(db_.get()));
  }

 private:
  std::unique_ptr<sqlite3, SqliteDeleter> db_;
  std::map<std::string, sqlite3_stmt*> cache_;
  std::vector<Stmt> owned_;
};

// --- the benchmarks ---------------------------------------------------------------------------

void SetEngineLabel(benchmark::State& state) {
  state.SetLabel(state.range(0) == kSQLite ? "SQLite" : "PostgreSQL");
}

void BM_AddRecord(benchmark::State& state) {
  const BenchDatabase database(static_cast<Engine>(state.range(0)));
  const auto action = database.Login();
  for (auto _ : state) benchmark::DoNotOptimize(action->addRecord());
  SetEngineLabel(state);
}

void BM_UpdateRecordOneColumn(benchmark::State& state) {
  const BenchDatabase database(static_cast<Engine>(state.range(0)));
  const auto action = database.Login();
  const int32_t id = action->addRecord();
  int64_t n = 0;
  for (auto _ : state) {
    auto values = ado::Recordset::Create();
    values->Fields().Append("ActionID", ado::adInteger);
    values->Fields().Append("Subject", ado::adVarWChar, 255, ado::adFldUpdatable);
    values->Open(ado::adOpenStatic, ado::adLockOptimistic);
    values->AddNew({"ActionID", "Subject"}, {id, "subject " + std::to_string(++n)});
    action->updateRecord(values);
  }
  SetEngineLabel(state);
}

// The work of one addRecord: the due days, the numbering under the lock, the row, its event.
void RawAddSqlite(RawSqlite& db, const RawStatements& s, int64_t& number) {
  db.Run("BEGIN IMMEDIATE");
  (void)db.Run(s.profileValue, {"admin", "DefaultDueDays"});
  const std::string highest = db.Run(s.highest);
  number = highest.empty() ? 1 : std::stoll(highest) + 1;
  (void)db.Run(s.insertAction, {std::to_string(number), "admin", "Ada Admin", kToday, kDue});
  (void)db.Run(s.insertEvent, {"1", db.LastID(), "Record Created", "admin", kNow});
  db.Run("COMMIT");
}

void RawAddPg(RawPg& db, const RawStatements& s) {
  (void)db.Run("BEGIN");
  (void)db.Run("SELECT pg_advisory_xact_lock(1802724974)");
  (void)db.Run(s.profileValue, {"admin", "DefaultDueDays"});
  const PgResult highest = db.Run(s.highest);
  const int64_t number =
      PQntuples(highest.get()) == 0 ? 1 : std::atoll(PQgetvalue(highest.get(), 0, 1)) + 1;
  const PgResult inserted =
      db.Run(s.insertAction, {std::to_string(number), "admin", "Ada Admin", kToday, kDue});
  (void)db.Run(s.insertEvent,
               {"1", PQgetvalue(inserted.get(), 0, 0), "Record Created", "admin", kNow});
  (void)db.Run("COMMIT");
}

void BM_RawAdd(benchmark::State& state) {
  const auto engine = static_cast<Engine>(state.range(0));
  const BenchDatabase database(engine);
  const RawStatements s = Statements(engine);
  if (engine == kSQLite) {
    RawSqlite db(database.Path());
    int64_t number = 0;
    for (auto _ : state) RawAddSqlite(db, s, number);
  } else {
    RawPg db(database.ConnectionString());
    for (auto _ : state) RawAddPg(db, s);
  }
  SetEngineLabel(state);
}

// The work of updateRecord of one column: read the row, the label, the event, the update.
void BM_RawUpdateOneColumn(benchmark::State& state) {
  const auto engine = static_cast<Engine>(state.range(0));
  const BenchDatabase database(engine);
  const RawStatements s = Statements(engine);
  const std::string id = std::to_string(database.Login()->addRecord());
  int64_t n = 0;
  std::string previous;
  const auto next = [&] { return "subject " + std::to_string(++n); };
  if (engine == kSQLite) {
    RawSqlite db(database.Path());
    for (auto _ : state) {
      const std::string subject = next();
      db.Run("BEGIN IMMEDIATE");
      (void)db.Run(s.selectAction, {id});
      (void)db.Run(s.label, {"Label.Subject"});
      (void)db.Run(
          s.insertEvent,
          {"8", id, "The Subject was changed from " + previous + " to " + subject, "admin", kNow});
      (void)db.Run(s.updateSubject, {subject, id, previous});
      db.Run("COMMIT");
      previous = subject;
    }
  } else {
    RawPg db(database.ConnectionString());
    for (auto _ : state) {
      const std::string subject = next();
      (void)db.Run("BEGIN");
      (void)db.Run(s.selectAction, {id});
      (void)db.Run(s.label, {"Label.Subject"});
      (void)db.Run(
          s.insertEvent,
          {"8", id, "The Subject was changed from " + previous + " to " + subject, "admin", kNow});
      (void)db.Run(s.updateSubject, {subject, id, previous});
      (void)db.Run("COMMIT");
      previous = subject;
    }
  }
  SetEngineLabel(state);
}

BENCHMARK(BM_AddRecord)->Arg(kSQLite)->Arg(kPostgreSQL)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_RawAdd)->Arg(kSQLite)->Arg(kPostgreSQL)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_UpdateRecordOneColumn)->Arg(kSQLite)->Arg(kPostgreSQL)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_RawUpdateOneColumn)->Arg(kSQLite)->Arg(kPostgreSQL)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
  std::vector<bench::RatioReporter::Pair> pairs;
  for (const int engine : {kSQLite, kPostgreSQL}) {
    const char* name = engine == kSQLite ? "SQLite" : "PostgreSQL";
    pairs.push_back({fmt::format("addRecord {}", name), fmt::format("BM_AddRecord/{}", engine),
                     fmt::format("BM_RawAdd/{}", engine)});
    pairs.push_back({fmt::format("updateRecord {}", name),
                     fmt::format("BM_UpdateRecordOneColumn/{}", engine),
                     fmt::format("BM_RawUpdateOneColumn/{}", engine)});
  }
  return bench::RunWithRatios(argc, argv, std::move(pairs));
}
