// The record writes, each against the raw driver doing the same work: the statement texts the
// library sends (as the engine receives them), the same rows really written (each raw write
// must change exactly one row, or the run stops), the same setting reads, the same transaction
// shape. addRecord, updateRecord of one column (with its history event), setStatus (complete
// with a result note), delete_, and eight writers creating actions at once under the numbering
// lock, whose numbers must come out gapless. PostgreSQL runs on the server KV_TEST_PG names, in a
// fresh database per run; SQLite files go to KV_BENCH_DIR (default: the temporary folder).
//
// Names are "operation/side/engine"; run with --benchmark_enable_random_interleaving and
// repetitions so that library and raw runs alternate.
#include <benchmark/benchmark.h>
#include <fmt/format.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "Raw.h"
#include "kvaction/Action.h"
#include "kvdata/DataConnection.h"
#include "kvdata/DataServer.h"
#include "kvdata/engine/Engine.h"
#include "vb/Clock.h"
#include "vb/Convert.h"

namespace {

using bench::Outcome;
using bench::Param;
using bench::RawPg;
using bench::RawSqlite;
using bench::RequireChanged;

enum Engine { kSQLite, kPostgreSQL };
const char* EngineName(Engine e) { return e == kSQLite ? "SQLite" : "PostgreSQL"; }

const std::shared_ptr<const vb::Clock> kClock =
    std::make_shared<vb::FixedClock>(vb::Date::FromParts(2024, 3, 15, 9, 30, 5));
constexpr const char* kNow = "2024-03-15 09:30:05";
constexpr const char* kToday = "2024-03-15 00:00:00";
constexpr const char* kDue = "2024-03-25 00:00:00";  // the user's DefaultDueDays, 10

std::string Folder() {
  const char* dir = std::getenv("KV_BENCH_DIR");
  return dir != nullptr && *dir != '\0' ? dir : std::filesystem::temp_directory_path().string();
}

std::string PgServer() {
  const char* server = std::getenv("KV_TEST_PG");
  if (server == nullptr || *server == '\0') throw std::runtime_error("KV_TEST_PG is not set");
  return server;
}

// An action database that lives as long as this object, with admin able to log in.
class FreshDatabase {
 public:
  explicit FreshDatabase(Engine engine) : engine_(engine) {
    static std::atomic<int> count{0};
    const std::string name = fmt::format("kvbench_w{}_{}", getpid(), ++count);
    if (engine == kSQLite) {
      path_ = (std::filesystem::path(Folder()) / (name + ".kvdb")).string();
      connection_ = "Provider=SQLite;Data Source=" + path_;
    } else {
      (void)kvdata::DataConnection::Open(PgServer())->Engine().Execute("CREATE DATABASE " + name);
      const auto login = kvdata::ParseConnectionString(PgServer()).login;
      connection_ = fmt::format("Provider=PostgreSQL;Host={};Port={};Database={};User ID={}",
                                login.host, login.port, name, login.user);
      database_ = name;
    }
    kvdata::DataServer::CreateDatabase(
        connection_, {"admin", "Ada Admin", "secret", kvdata::PasswordCost::Minimum}, kClock);
  }
  ~FreshDatabase() {
    if (engine_ == kSQLite) {
      for (const char* suffix : {"", "-wal", "-shm"}) std::filesystem::remove(path_ + suffix);
    } else {
      (void)kvdata::DataConnection::Open(PgServer())
          ->Engine()
          .Execute("DROP DATABASE " + database_ + " WITH (FORCE)");
    }
  }
  FreshDatabase(const FreshDatabase&) = delete;
  FreshDatabase& operator=(const FreshDatabase&) = delete;

  [[nodiscard]] const std::string& Connection() const { return connection_; }
  [[nodiscard]] std::unique_ptr<kvaction::Action> Login() const {
    auto action = std::make_unique<kvaction::Action>();
    action->SetClock(kClock);
    action->OpenConnection(connection_);
    action->Login("admin", "secret");
    return action;
  }
  // The action numbers stored: how many rows, how many distinct, the highest.
  [[nodiscard]] std::vector<int64_t> Numbers() const {
    const auto rs = kvdata::DataConnection::Open(connection_)
                        ->Execute(
                            "select count(*) as n, count(distinct ActionNumber) as d, "
                            "max(ActionNumber) as m from actions");
    std::vector<int64_t> numbers;
    for (int i = 0; i < 3; ++i) numbers.push_back(vb::CLng(rs->Fields().Item(i).Value()));
    return numbers;
  }
  [[nodiscard]] Engine Kind() const { return engine_; }
  [[nodiscard]] const std::string& Path() const { return path_; }

 private:
  Engine engine_;
  std::string connection_;
  std::string path_;
  std::string database_;
};

// The texts the library's statements arrive at the engine as.
struct Texts {
  std::string profile, highest, emptyActions, insertAction, insertEvent, byID, label, updateSubject,
      complete, deleteAction;
};

Texts TextsFor(Engine engine) {
  const std::string insertAction =
      "INSERT INTO \"actions\" (\"ActionNumber\", \"Originator\", \"OriginatorID\", "
      "\"DateOpened\", \"DateDue\", \"Alert\") VALUES (?, ?, ?, ?, ?, ?) RETURNING \"ActionID\"";
  const std::string insertEvent =
      "INSERT INTO \"ActionEvents\" (\"EventCode\", \"ActionID\", \"EventText\", \"UserID\", "
      "\"EventTime\") VALUES (?, ?, ?, ?, ?)";
  if (engine == kSQLite) {
    return {"select * from ActionProfiles where UserID=? and ProfileKey=?",
            "select ActionNumber from actions order by ActionNumber desc LIMIT 1",
            "select * from actions where ActionNumber=?",
            insertAction,
            insertEvent,
            "select * from actions where ActionID =?",
            "select * from ActionConfig where ConfigKey=?",
            "UPDATE \"actions\" SET \"Subject\" = ? WHERE \"ActionID\" = ? AND \"Subject\" IS ?",
            "UPDATE \"actions\" SET \"DateCompleted\" = ?, \"Results\" = ? WHERE \"ActionID\" = ? "
            "AND \"DateCompleted\" IS ? AND \"Results\" IS ?",
            "Delete from actions where actionID=?"};
  }
  return {"select * from \"ActionProfiles\" where \"UserID\"=? and \"ProfileKey\"=?",
          "select \"ActionNumber\" from \"actions\" order by \"ActionNumber\" desc LIMIT 1",
          "select * from \"actions\" where \"ActionNumber\"=CAST(? AS integer)",
          insertAction,
          insertEvent,
          "select * from \"actions\" where \"ActionID\" =CAST(? AS integer)",
          "select * from \"ActionConfig\" where \"ConfigKey\"=?",
          "UPDATE \"actions\" SET \"Subject\" = ? WHERE \"ActionID\" = ? AND \"Subject\" IS NOT "
          "DISTINCT FROM ?",
          "UPDATE \"actions\" SET \"DateCompleted\" = ?, \"Results\" = ? WHERE \"ActionID\" = ? "
          "AND \"DateCompleted\" IS NOT DISTINCT FROM ? AND \"Results\" IS NOT DISTINCT FROM ?",
          "Delete from \"actions\" where \"ActionID\"=CAST(? AS integer)"};
}

// One raw client over either driver, with the transaction shape of the library on each engine:
// SQLite begins IMMEDIATE; PostgreSQL sends BEGIN with the transaction's first statement and the
// numbering lock with the statement after it.
class Raw {
 public:
  Raw(const FreshDatabase& database)  // NOLINT: one per database
      : engine_(database.Kind()), texts_(TextsFor(engine_)) {
    if (engine_ == kSQLite) {
      sqlite_ = std::make_unique<RawSqlite>(database.Path());
    } else {
      pg_ = std::make_unique<RawPg>(database.Connection());
    }
  }
  [[nodiscard]] const Texts& T() const { return texts_; }
  void Begin() {
    if (engine_ == kSQLite) {
      (void)sqlite_->Run("BEGIN IMMEDIATE");
    } else {
      pending_.emplace_back("BEGIN");
    }
  }
  // The numbering lock (PostgreSQL only: SQLite's write transaction is the lock).
  void LockNumbering() {
    if (engine_ == kPostgreSQL) pending_.emplace_back("SELECT pg_advisory_xact_lock(1802724974)");
  }
  // Before a write that, when it fails, must leave the transaction's earlier writes to commit
  // (PostgreSQL only: SQLite undoes a failed statement by itself, and a failed PostgreSQL
  // statement spoils the whole transaction unless a savepoint catches it). It goes with the
  // write; as in the library, the savepoint is never released (the commit ends it).
  void Savepoint() {
    if (engine_ == kPostgreSQL) pending_.emplace_back("SAVEPOINT kv_undo_alone");
  }
  Outcome Run(const std::string& sql, const bench::Params& params = {}) {
    if (engine_ == kSQLite) return sqlite_->Run(sql, params);
    return pg_->Run(sql, params, std::exchange(pending_, {}));
  }
  void Commit() {
    if (engine_ == kSQLite) {
      (void)sqlite_->Run("COMMIT");
    } else {
      pg_->Commit();
    }
  }
  [[nodiscard]] Engine Kind() const { return engine_; }

 private:
  Engine engine_;
  Texts texts_;
  std::unique_ptr<RawSqlite> sqlite_;
  std::unique_ptr<RawPg> pg_;
  std::vector<std::string> pending_;  // statements that go with the next one
};

// addRecord's work: the user's due days, the (empty) target record set, then in the write
// transaction under the numbering lock the highest number, the new row and its creation event.
int64_t RawAdd(Raw& raw) {
  const Texts& t = raw.T();
  (void)raw.Run(t.profile, {"admin", "DefaultDueDays"});
  (void)raw.Run(t.emptyActions, {0});
  raw.Begin();
  raw.LockNumbering();
  const Outcome highest = raw.Run(t.highest);
  const int64_t number = std::atoll(("0" + highest.Cell("ActionNumber")).c_str()) + 1;
  const Outcome row = raw.Run(t.insertAction, {number, "Ada Admin", "admin", kToday, kDue, -1});
  RequireChanged(row, 1, "insert action");
  const int64_t id = std::atoll(row.Cell("ActionID").c_str());
  RequireChanged(raw.Run(t.insertEvent, {1, id, "Record Created", "admin", kNow}), 1, "event");
  raw.Commit();
  return id;
}

void LibraryAdd(benchmark::State& state, Engine engine) {
  const FreshDatabase database(engine);
  const auto action = database.Login();
  (void)action->addRecord();  // untimed: the first run prepares the statements
  for (auto _ : state) {
    if (action->addRecord() == 0) state.SkipWithError("addRecord stored nothing");
  }
}

void RawAddRecord(benchmark::State& state, Engine engine) {
  const FreshDatabase database(engine);
  Raw raw(database);
  (void)RawAdd(raw);  // untimed, as on the library side
  for (auto _ : state) benchmark::DoNotOptimize(RawAdd(raw));
}

ado::RecordsetPtr SubjectValues(int32_t id, const std::string& subject) {
  auto values = ado::Recordset::Create();
  values->Fields().Append("ActionID", ado::adInteger);
  values->Fields().Append("Subject", ado::adVarWChar, 255, ado::adFldUpdatable);
  values->Open(ado::adOpenStatic, ado::adLockOptimistic);
  values->AddNew({"ActionID", "Subject"}, {id, subject});
  return values;
}

// Both sides start from an action whose Subject is set, so that every change has its event.
void LibraryUpdate(benchmark::State& state, Engine engine) {
  const FreshDatabase database(engine);
  const auto action = database.Login();
  const int32_t id = action->addRecord();
  action->updateRecord(SubjectValues(id, "subject 0"));
  int64_t n = 0;
  for (auto _ : state) action->updateRecord(SubjectValues(id, fmt::format("subject {}", ++n)));
}

void RawUpdate(benchmark::State& state, Engine engine) {
  const FreshDatabase database(engine);
  const int32_t id = [&] {
    const auto action = database.Login();
    const int32_t added = action->addRecord();
    action->updateRecord(SubjectValues(added, "subject 0"));
    return added;
  }();
  Raw raw(database);
  const Texts& t = raw.T();
  int64_t n = 0;
  const auto update = [&] {
    const std::string subject = fmt::format("subject {}", ++n);
    raw.Begin();
    const std::string previous = raw.Run(t.byID, {id}).Cell("Subject");
    // The library's text: the column's label (stored, or the column's name when none is).
    std::string label = raw.Run(t.label, {"Label.Subject"}).Cell("ValueText");
    if (label.empty()) label = "Subject";
    RequireChanged(
        raw.Run(t.insertEvent,
                {8, id, fmt::format("The {} was changed from {} to {}", label, previous, subject),
                 "admin", kNow}),
        1, "event");
    raw.Savepoint();  // the event stays written when the row's update fails
    RequireChanged(raw.Run(t.updateSubject, {subject, id, previous}), 1, "update");
    raw.Commit();
  };
  update();  // untimed: the first run prepares the statements, as the library's did above
  for (auto _ : state) update();
}

// setStatus and delete_ each need an action of their own per iteration: made before timing,
// as addRecord stores them, in one transaction (one commit, not one per action: on a durable
// server a commit each made the preparation cost more than the runs). KV_BENCH_QUICK asks for
// fewer.
int RowsPerRun(Engine engine) {
  const bool quick = std::getenv("KV_BENCH_QUICK") != nullptr;
  if (engine == kSQLite) return quick ? 300 : 1000;
  return quick ? 60 : 200;
}

// How many actions each of the eight writers creates in a quick run.
int WriterRuns(Engine engine) { return engine == kSQLite ? 100 : 30; }

std::vector<int32_t> MadeActions(const FreshDatabase& database, int count) {
  const auto connection = kvdata::DataConnection::Open(database.Connection());
  auto& engine = connection->Engine();
  const std::string insert =
      "INSERT INTO \"actions\" (\"ActionNumber\", \"Originator\", \"OriginatorID\", "
      "\"DateOpened\", \"DateDue\", \"Alert\") VALUES (?, ?, ?, ?, ?, ?) RETURNING \"ActionID\"";
  const vb::Date opened = vb::Date::FromParts(2024, 3, 15);
  const vb::Date due = vb::Date::FromParts(2024, 3, 25);
  std::vector<int32_t> ids;
  kvdata::DataConnection::Transaction transaction(*connection);
  for (int i = 0; i < count; ++i) {
    const std::vector<vb::Variant> values = {i + 1, "Ada Admin", "admin", opened, due, true};
    ids.push_back(vb::CLng(engine.Execute(insert, values).rows.at(0).at(0)));
  }
  transaction.Commit();
  return ids;
}

// One action more than the timed runs: each side runs once before timing, on the first.
std::vector<int32_t> ActionsFor(const FreshDatabase& database, const benchmark::State& state) {
  return MadeActions(database, static_cast<int>(state.max_iterations) + 1);
}

void LibrarySetStatus(benchmark::State& state, Engine engine) {
  const FreshDatabase database(engine);
  const auto ids = ActionsFor(database, state);
  const auto action = database.Login();
  std::size_t i = 0;
  action->setStatus(ids[i++], nullptr, true, false, "done");  // untimed
  for (auto _ : state) action->setStatus(ids[i++], nullptr, true, false, "done");
}

void RawSetStatus(benchmark::State& state, Engine engine) {
  const FreshDatabase database(engine);
  const auto ids = ActionsFor(database, state);
  Raw raw(database);
  const Texts& t = raw.T();
  const auto complete = [&](int32_t id) {
    raw.Begin();
    (void)raw.Run(t.byID, {id});
    RequireChanged(raw.Run(t.complete, {kToday, "done", id, Param::Null(), Param::Null()}), 1,
                   "complete");
    raw.Commit();
  };
  std::size_t i = 0;
  complete(ids[i++]);  // untimed, as on the library side
  for (auto _ : state) complete(ids[i++]);
}

void LibraryDelete(benchmark::State& state, Engine engine) {
  const FreshDatabase database(engine);
  const auto ids = ActionsFor(database, state);
  const auto action = database.Login();
  std::size_t i = 0;
  (void)action->delete_(ids[i++]);  // untimed
  for (auto _ : state) {
    if (!action->delete_(ids[i++])) state.SkipWithError("delete_ deleted nothing");
  }
}

void RawDelete(benchmark::State& state, Engine engine) {
  const FreshDatabase database(engine);
  const auto ids = ActionsFor(database, state);
  Raw raw(database);
  const Texts& t = raw.T();
  const auto remove = [&](int32_t id) {
    raw.Begin();
    RequireChanged(raw.Run(t.deleteAction, {id}), 1, "delete");
    raw.Savepoint();  // the deletion stays done when its event fails
    RequireChanged(raw.Run(t.insertEvent, {9, id, "Record Deleted", "admin", kNow}), 1, "event");
    raw.Commit();
  };
  std::size_t i = 0;
  remove(ids[i++]);  // untimed, as on the library side
  for (auto _ : state) remove(ids[i++]);
}

// Eight writers at once, each with its own connection, on one database per engine and side.
// After the run the numbers must be 1..n, each once.
constexpr int kWriters = 8;

struct SharedDatabase {
  std::once_flag made;
  std::unique_ptr<FreshDatabase> database;
};

// One per side and engine; dropped in main once every run is done, not while the process exits.
SharedDatabase writersDatabases[2][2];

FreshDatabase& Shared(SharedDatabase& shared, Engine engine) {
  std::call_once(shared.made, [&] { shared.database = std::make_unique<FreshDatabase>(engine); });
  return *shared.database;
}

void RequireGapless(benchmark::State& state, const FreshDatabase& database) {
  const auto numbers = database.Numbers();
  if (numbers[0] != numbers[1] || numbers[1] != numbers[2]) {
    state.SkipWithError(fmt::format("numbers not gapless: {} rows, {} distinct, highest {}",
                                    numbers[0], numbers[1], numbers[2])
                            .c_str());
  }
}

// Each writer runs once before timing, as the single-writer runs do: a new session's first
// statement preparation and catalog reads, on both sides, are not what is measured (with a few
// timed runs per writer they were most of them, and made the raw side look slower).
void LibraryWriters(benchmark::State& state, Engine engine) {
  const FreshDatabase& database = Shared(writersDatabases[0][engine], engine);
  const auto action = database.Login();
  (void)action->addRecord();
  for (auto _ : state) {
    if (action->addRecord() == 0) state.SkipWithError("addRecord stored nothing");
  }
  if (state.thread_index() == 0) RequireGapless(state, database);
}

void RawWriters(benchmark::State& state, Engine engine) {
  const FreshDatabase& database = Shared(writersDatabases[1][engine], engine);
  Raw raw(database);
  (void)RawAdd(raw);
  for (auto _ : state) benchmark::DoNotOptimize(RawAdd(raw));
  if (state.thread_index() == 0) RequireGapless(state, database);
}

using Body = void (*)(benchmark::State&, Engine);

void Pair(const char* operation, Body library, Body raw, Engine engine, int iterations = 0,
          int threads = 1) {
  for (const auto& [side, body] : {std::pair{"library", library}, std::pair{"raw", raw}}) {
    auto* b = benchmark::RegisterBenchmark(
        fmt::format("{}/{}/{}", operation, side, EngineName(engine)).c_str(),
        [body = body, engine](benchmark::State& state) {
          try {
            body(state, engine);
          } catch (const std::exception& e) {
            state.SkipWithError(e.what());
          }
        });
    b->Unit(benchmark::kMicrosecond)->UseRealTime();
    if (iterations > 0) b->Iterations(iterations);
    if (threads > 1) b->Threads(threads);
  }
}

}  // namespace

int main(int argc, char** argv) {
  const bool withPg = std::getenv("KV_TEST_PG") != nullptr;
  for (const Engine engine : {kSQLite, kPostgreSQL}) {
    if (engine == kPostgreSQL && !withPg) continue;
    const int rows = RowsPerRun(engine);
    // Quick runs give every write a fixed count too: finding the count by time runs a benchmark
    // several times, each time on a fresh database, whose making is most of a short run.
    const int timed = std::getenv("KV_BENCH_QUICK") != nullptr ? rows : 0;
    Pair("addRecord", LibraryAdd, RawAddRecord, engine, timed);
    Pair("updateRecord", LibraryUpdate, RawUpdate, engine, timed);
    Pair("setStatus", LibrarySetStatus, RawSetStatus, engine, rows);
    Pair("delete_", LibraryDelete, RawDelete, engine, rows);
    // Each writer a fixed count in quick runs too: found by time, a writer ran a handful.
    Pair("8 writers addRecord", LibraryWriters, RawWriters, engine,
         timed > 0 ? WriterRuns(engine) : 0, kWriters);
  }
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  for (auto& side : writersDatabases) {
    for (auto& shared : side) shared.database.reset();
  }
  return 0;
}
