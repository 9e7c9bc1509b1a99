// The record writes, each against the raw driver doing the same work: the statement texts the
// library sends (as the engine receives them), the same rows really written (each raw write
// must change exactly one row, or the run stops), the same setting reads, the same transaction
// shape. addRecord, updateRecord of one column (with its history event), setStatus (complete
// with a result note), delete_, and eight writers creating actions at once under the numbering
// lock, whose numbers must come out gapless. PostgreSQL runs on the server KV_TEST_PG names, in a
// fresh database per run; SQLite files go to KV_BENCH_DIR (default: the temporary folder).
//
// Names are "operation/paired/engine": each run times the library and the raw side in
// alternation, each with a database of its own (Paired.h). The eight writers can only run one
// side at a time: they are "8 writers addRecord/side/engine", to be run with
// --benchmark_enable_random_interleaving and repetitions so that library and raw runs alternate.
#include <benchmark/benchmark.h>
#include <fmt/format.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <limits>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "Paired.h"
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
  // A per-user value is read with the same text on both engines, its values bound.
  const std::string profile =
      "select \"ValueType\", \"ValueText\" from \"ActionProfiles\" where \"UserID\"=? and "
      "\"ProfileKey\"=?";
  const std::string insertEvent =
      "INSERT INTO \"ActionEvents\" (\"EventCode\", \"ActionID\", \"EventText\", \"UserID\", "
      "\"EventTime\") VALUES (?, ?, ?, ?, ?)";
  if (engine == kSQLite) {
    return {profile,
            "select * from actions order by ActionNumber desc LIMIT 1",
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
  return {profile,
          "select * from \"actions\" order by \"ActionNumber\" desc LIMIT 1",
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

// addRecord's work: the user's due days, then in the write transaction under the numbering lock
// the highest number (the whole row, as the library reads it), the (empty) target record set,
// the new row and its creation event.
int64_t RawAdd(Raw& raw) {
  const Texts& t = raw.T();
  (void)raw.Run(t.profile, {"admin", "DefaultDueDays"});
  raw.Begin();
  raw.LockNumbering();
  const Outcome highest = raw.Run(t.highest);
  const int64_t number = std::atoll(("0" + highest.Cell("ActionNumber")).c_str()) + 1;
  (void)raw.Run(t.emptyActions, {0});
  const Outcome row = raw.Run(t.insertAction, {number, "Ada Admin", "admin", kToday, kDue, -1});
  RequireChanged(row, 1, "insert action");
  const int64_t id = std::atoll(row.Cell("ActionID").c_str());
  RequireChanged(raw.Run(t.insertEvent, {1, id, "Record Created", "admin", kNow}), 1, "event");
  raw.Commit();
  return id;
}

// A side of a write benchmark: a client on a database of its own, kept for one run.
struct LibraryClient {
  explicit LibraryClient(Engine engine) : database(engine), action(database.Login()) {}
  FreshDatabase database;
  std::unique_ptr<kvaction::Action> action;
};
struct RawClient {
  explicit RawClient(Engine engine) : database(engine), raw(database) {}
  FreshDatabase database;
  Raw raw;
};

// Makes the library's and the raw side's step of one write; count is how many calls the run
// makes at most, the calls before timing included (for the writes that need an action of their
// own per call).
using Sides = std::pair<bench::Step, bench::Step> (*)(Engine engine, int count);

void Require(bool ok, const char* what) {
  if (!ok) throw std::runtime_error(what);
}

// Each side runs once before timing: the first run prepares the statements (and on the
// library's side reads the columns of the tables it writes).
std::pair<bench::Step, bench::Step> WarmedUp(std::pair<bench::Step, bench::Step> sides) {
  sides.first();
  sides.second();
  return sides;
}

std::pair<bench::Step, bench::Step> AddSides(Engine engine, int) {
  auto library = std::make_shared<LibraryClient>(engine);
  auto raw = std::make_shared<RawClient>(engine);
  return WarmedUp(
      {[library] { Require(library->action->addRecord() != 0, "addRecord stored nothing"); },
       [raw] { benchmark::DoNotOptimize(RawAdd(raw->raw)); }});
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
int32_t ActionWithSubject(kvaction::Action& action) {
  const int32_t id = action.addRecord();
  action.updateRecord(SubjectValues(id, "subject 0"));
  return id;
}

void RawUpdate(Raw& raw, int32_t id, const std::string& subject) {
  const Texts& t = raw.T();
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
}

std::pair<bench::Step, bench::Step> UpdateSides(Engine engine, int) {
  auto library = std::make_shared<LibraryClient>(engine);
  auto raw = std::make_shared<RawClient>(engine);
  const int32_t libraryID = ActionWithSubject(*library->action);
  const int32_t rawID = ActionWithSubject(*raw->database.Login());
  return WarmedUp({[library, libraryID, n = 0]() mutable {
                     library->action->updateRecord(
                         SubjectValues(libraryID, fmt::format("subject {}", ++n)));
                   },
                   [raw, rawID, n = 0]() mutable {
                     RawUpdate(raw->raw, rawID, fmt::format("subject {}", ++n));
                   }});
}

// How many calls of each side a turn takes at most (Paired.h).
constexpr int kMostCallsPerTurn = 64;

// How many turns a run of setStatus and delete_ takes (KV_BENCH_QUICK asks for fewer), and of
// every write in quick runs. setStatus and delete_ each need an action of their own per call
// (and two for the calls before timing): made before timing, as addRecord stores them, in one
// transaction (one commit, not one per action: on a durable server a commit each made the
// preparation cost more than the runs).
int TurnsPerRun() { return std::getenv("KV_BENCH_QUICK") != nullptr ? 20 : 40; }

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

// The actions of a side, handed out one per call.
class Actions {
 public:
  Actions(const FreshDatabase& database, int count) : ids_(MadeActions(database, count)) {}
  int32_t Next() {
    Require(next_ < ids_.size(), "more calls than actions made");
    return ids_[next_++];
  }

 private:
  std::vector<int32_t> ids_;
  std::size_t next_ = 0;
};

std::pair<bench::Step, bench::Step> SetStatusSides(Engine engine, int count) {
  auto library = std::make_shared<LibraryClient>(engine);
  auto raw = std::make_shared<RawClient>(engine);
  auto libraryIDs = std::make_shared<Actions>(library->database, count);
  auto rawIDs = std::make_shared<Actions>(raw->database, count);
  return WarmedUp({[library, libraryIDs] {
                     library->action->setStatus(libraryIDs->Next(), nullptr, true, false, "done");
                   },
                   [raw, rawIDs] {
                     const int32_t id = rawIDs->Next();
                     const Texts& t = raw->raw.T();
                     raw->raw.Begin();
                     (void)raw->raw.Run(t.byID, {id});
                     RequireChanged(raw->raw.Run(t.complete, {kToday, "done", id, Param::Null(),
                                                              Param::Null()}),
                                    1, "complete");
                     raw->raw.Commit();
                   }});
}

std::pair<bench::Step, bench::Step> DeleteSides(Engine engine, int count) {
  auto library = std::make_shared<LibraryClient>(engine);
  auto raw = std::make_shared<RawClient>(engine);
  auto libraryIDs = std::make_shared<Actions>(library->database, count);
  auto rawIDs = std::make_shared<Actions>(raw->database, count);
  return WarmedUp(
      {[library, libraryIDs] {
         Require(library->action->delete_(libraryIDs->Next()), "delete_ deleted nothing");
       },
       [raw, rawIDs] {
         const int32_t id = rawIDs->Next();
         const Texts& t = raw->raw.T();
         raw->raw.Begin();
         RequireChanged(raw->raw.Run(t.deleteAction, {id}), 1, "delete");
         raw->raw.Savepoint();  // the deletion stays done when its event fails
         RequireChanged(raw->raw.Run(t.insertEvent, {9, id, "Record Deleted", "admin", kNow}), 1,
                        "event");
         raw->raw.Commit();
       }});
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

// A benchmark that reports errors as skipped runs.
template <class Body>
benchmark::internal::Benchmark* Register(const std::string& name, Body body) {
  auto* b = benchmark::RegisterBenchmark(name.c_str(), [body](benchmark::State& state) {
    try {
      body(state);
    } catch (const std::exception& e) {
      state.SkipWithError(e.what());
    }
  });
  b->Unit(benchmark::kMicrosecond)->UseRealTime();
  return b;
}

// One client per side, timed in alternation (Paired.h). Without a count of turns, Google
// Benchmark finds one by time.
void Paired(const char* operation, Sides sides, Engine engine, int turns) {
  auto* b = Register(
      fmt::format("{}/paired/{}", operation, EngineName(engine)),
      [sides, engine](benchmark::State& state) {
        const int calls = static_cast<int>(std::min<int64_t>(
            state.max_iterations * kMostCallsPerTurn + 2, std::numeric_limits<int>::max()));
        const auto [library, raw] = sides(engine, calls);
        bench::RunPaired(state, library, raw, bench::CallsPerTurn(library, kMostCallsPerTurn));
      });
  if (turns > 0) b->Iterations(turns);
}

using Writers = void (*)(benchmark::State&, Engine);

// Eight writers per side: the two sides are separate runs, interleaved by Google Benchmark.
void EightWriters(Writers library, Writers raw, Engine engine, int count) {
  for (const auto& [side, body] : {std::pair{"library", library}, std::pair{"raw", raw}}) {
    auto* b = Register(fmt::format("8 writers addRecord/{}/{}", side, EngineName(engine)),
                       [body = body, engine](benchmark::State& state) { body(state, engine); });
    b->Threads(kWriters);
    if (count > 0) b->Iterations(count);
  }
}

}  // namespace

int main(int argc, char** argv) {
  const bool withPg = std::getenv("KV_TEST_PG") != nullptr;
  for (const Engine engine : {kSQLite, kPostgreSQL}) {
    if (engine == kPostgreSQL && !withPg) continue;
    const int turns = TurnsPerRun();
    // Quick runs give every write a fixed count too: finding the count by time runs a benchmark
    // several times, each time on a fresh database, whose making is most of a short run.
    const int timed = std::getenv("KV_BENCH_QUICK") != nullptr ? turns : 0;
    Paired("addRecord", AddSides, engine, timed);
    Paired("updateRecord", UpdateSides, engine, timed);
    Paired("setStatus", SetStatusSides, engine, turns);
    Paired("delete_", DeleteSides, engine, turns);
    // Each writer a fixed count in quick runs too: found by time, a writer ran a handful.
    EightWriters(LibraryWriters, RawWriters, engine, timed > 0 ? WriterRuns(engine) : 0);
  }
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  for (auto& side : writersDatabases) {
    for (auto& shared : side) shared.database.reset();
  }
  return 0;
}
