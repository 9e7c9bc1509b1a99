#pragma once
// The action databases the list and alert benchmarks run on, with a given number of actions,
// built once and kept: SQLite files in KV_BENCH_DIR (default: the temporary folder), and
// databases on the PostgreSQL server named by KV_TEST_PG. The user "bench" owns the same 40
// actions (20 open, reference "R7") whatever the size, spread through the table; everything else
// belongs to a thousand other users, half of it open, due around today. The saved query 1 of
// "bench" has no criteria: it lists every action.
#include <benchmark/benchmark.h>
#include <fmt/format.h>
#include <libpq-fe.h>
#include <sqlite3.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <set>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "kvaction/Action.h"
#include "kvdata/ConnectionString.h"
#include "kvdata/DataConnection.h"
#include "kvdata/DataServer.h"
#include "kvdata/engine/Engine.h"
#include "kvdata/schema/Schema.h"
#include "kvuser/User.h"
#include "vb/Date.h"

namespace bench {

inline constexpr const char* kUser = "bench";
inline constexpr const char* kPassword = "pw";
/// Today in every benchmark.
inline const vb::Date kToday = vb::Date::FromParts(2024, 3, 15);

struct SqliteClose {
  void operator()(sqlite3* db) const { sqlite3_close(db); }
};
struct StatementFinalize {
  void operator()(sqlite3_stmt* statement) const { sqlite3_finalize(statement); }
};
using Database = std::unique_ptr<sqlite3, SqliteClose>;
using Statement = std::unique_ptr<sqlite3_stmt, StatementFinalize>;

inline Database OpenRaw(const std::string& path) {
  sqlite3* db = nullptr;
  sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr);
  return Database(db);
}

inline Statement Prepare(sqlite3* db, const std::string& sql) {
  sqlite3_stmt* statement = nullptr;
  sqlite3_prepare_v2(db, sql.c_str(), -1, &statement, nullptr);
  return Statement(statement);
}

inline void Fill(sqlite3* db, int64_t rows) {
  sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
  const Statement insert =
      Prepare(db,
              "INSERT INTO actions (ActionNumber, Subject, AssigneeID, OriginatorID, DateOpened, "
              "DateDue, DateClosed, Reviewed, Alert, Reference) VALUES (?,?,?,?,?,?,?,?,?,?)");
  const int64_t spacing = rows / 40;
  for (int64_t i = 0; i < rows; ++i) {
    const bool mine = i % spacing == 0 && i / spacing < 40;
    const bool closed = mine ? (i / spacing) % 2 == 1 : i % 2 == 1;
    const std::string assignee = mine ? std::string(kUser) : fmt::format("u{}", i % 1000);
    const std::string originator = mine ? std::string("boss") : fmt::format("u{}", (i * 7) % 1000);
    const vb::Date due = kToday.AddDays(static_cast<int>(i % 121) - 60);
    sqlite3_bind_int64(insert.get(), 1, i + 1);
    sqlite3_bind_text(insert.get(), 2, "Benchmark action", -1, SQLITE_STATIC);
    sqlite3_bind_text(insert.get(), 3, assignee.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(insert.get(), 4, originator.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(insert.get(), 5, kToday.AddDays(-90).ToIso().c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(insert.get(), 6, due.ToIso().c_str(), -1, SQLITE_TRANSIENT);
    if (closed) {
      sqlite3_bind_text(insert.get(), 7, kToday.AddDays(-1).ToIso().c_str(), -1, SQLITE_TRANSIENT);
    } else {
      sqlite3_bind_null(insert.get(), 7);
    }
    sqlite3_bind_int(insert.get(), 8, i % 3 == 0 ? 10 : 0);
    sqlite3_bind_int(insert.get(), 9, i % 10 == 0 ? -1 : 0);
    if (mine) {
      sqlite3_bind_text(insert.get(), 10, "R7", -1, SQLITE_STATIC);
    } else {
      sqlite3_bind_null(insert.get(), 10);
    }
    sqlite3_step(insert.get());
    sqlite3_reset(insert.get());
  }
  sqlite3_exec(db, "INSERT INTO ActionQueries (UserID, Name) VALUES ('bench', 'Everything')",
               nullptr, nullptr, nullptr);
  sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
  sqlite3_exec(db, "ANALYZE", nullptr, nullptr, nullptr);
}

enum Engine : int64_t { kSQLite = 0, kPostgreSQL = 1 };

inline const char* EngineName(int64_t engine) {
  return engine == kSQLite ? "SQLite" : "PostgreSQL";
}

/// The server that KV_TEST_PG names.
inline std::string PgServer() {
  const char* server = std::getenv("KV_TEST_PG");
  if (server == nullptr || *server == '\0') {
    throw std::runtime_error("KV_TEST_PG names no PostgreSQL server");
  }
  return server;
}

// Makes the bench user and fills the actions table, the same rows on either engine.
inline void AddBenchUser(const std::string& connection) {
  kvuser::User directory(kvdata::PasswordCost::Minimum);
  directory.Connect(connection);
  directory.AddUser(kUser, "Bench User", kPassword, -1);
}

inline void FillPg(kvdata::engine::Engine& engine, int64_t rows) {
  const int64_t spacing = rows / 40;
  (void)engine.Execute(fmt::format(
      "INSERT INTO actions (\"ActionNumber\", \"Subject\", \"AssigneeID\", \"OriginatorID\", "
      "\"DateOpened\", \"DateDue\", \"DateClosed\", \"Reviewed\", \"Alert\", \"Reference\") "
      "SELECT i + 1, 'Benchmark action', CASE WHEN mine THEN 'bench' ELSE 'u' || i % 1000 END, "
      "CASE WHEN mine THEN 'boss' ELSE 'u' || i * 7 % 1000 END, TIMESTAMP '{}', "
      "TIMESTAMP '{}' + (i % 121 - 60) * INTERVAL '1 day', "
      "CASE WHEN (mine AND i / {} % 2 = 1) OR (NOT mine AND i % 2 = 1) THEN TIMESTAMP '{}' END, "
      "CASE WHEN i % 3 = 0 THEN 10 ELSE 0 END, CASE WHEN i % 10 = 0 THEN -1 ELSE 0 END, "
      "CASE WHEN mine THEN 'R7' END "
      "FROM (SELECT i, i % {} = 0 AND i / {} < 40 AS mine "
      "FROM generate_series(0::bigint, {}) AS i) AS s",
      kToday.AddDays(-90).ToIso(), kToday.ToIso(), spacing, kToday.AddDays(-1).ToIso(), spacing,
      spacing, rows - 1));
  (void)engine.Execute(
      "INSERT INTO \"ActionQueries\" (\"UserID\", \"Name\") VALUES ('bench', 'Everything')");
}

struct PgFinish {
  void operator()(PGconn* conn) const { PQfinish(conn); }
};
struct PgClear {
  void operator()(PGresult* result) const { PQclear(result); }
};
using PgConn = std::unique_ptr<PGconn, PgFinish>;
using PgResult = std::unique_ptr<PGresult, PgClear>;

/// A libpq connection to one of our PostgreSQL connection strings.
inline PgConn PgConnect(const std::string& connectionString) {
  const auto login = kvdata::ParseConnectionString(connectionString).login;
  PgConn conn(PQconnectdb(fmt::format("host='{}' port='{}' dbname='{}' user='{}'", login.host,
                                      login.port, login.database, login.user)
                              .c_str()));
  if (PQstatus(conn.get()) != CONNECTION_OK) throw std::runtime_error(PQerrorMessage(conn.get()));
  return conn;
}

/// A database kept from an earlier run, brought to the schema this build creates (its indexes).
/// Once per process and database.
inline std::string Upgraded(const std::string& connection) {
  static std::set<std::string> done;
  if (done.insert(connection).second) {
    (void)kvdata::schema::UpgradeActionDatabase(*kvdata::DataConnection::Open(connection));
  }
  return connection;
}

/// The connection string of the database with rows actions on engine, created on first use.
inline std::string ConnectionString(int64_t rows, int64_t engine = kSQLite) {
  if (engine == kPostgreSQL) {
    const std::string name = fmt::format("kvbench_actions_{}", rows);
    const auto login = kvdata::ParseConnectionString(PgServer()).login;
    const std::string connection = fmt::format(
        "Provider=PostgreSQL;Host={};Port={};Database={};User ID={};"
        "Statement Timeout=0",  // a 1,000,000-row list or fill is one long statement
        login.host, login.port, name, login.user);
    auto server = kvdata::DataConnection::Open(PgServer());
    const std::string exists = fmt::format("SELECT 1 FROM pg_database WHERE datname = '{}'", name);
    if (!server->Engine().Execute(exists).rows.empty()) return Upgraded(connection);
    (void)server->Engine().Execute("CREATE DATABASE " + name);
    kvdata::DataServer::CreateDatabase(connection,
                                       {"admin", "Admin", "secret", kvdata::PasswordCost::Minimum});
    AddBenchUser(connection);
    FillPg(kvdata::DataConnection::Open(connection)->Engine(), rows);
    // Statistics and the visibility map, as a server that has run a while has them. The role
    // owns the database's tables, not the server's shared catalogs, which VACUUM skips with a
    // warning each: those warnings are not shown.
    const PgConn vacuum = PgConnect(connection);
    PQclear(PQexec(vacuum.get(), "SET client_min_messages = error"));
    PQclear(PQexec(vacuum.get(), "VACUUM ANALYZE"));
    return connection;
  }
  const char* folder = std::getenv("KV_BENCH_DIR");
  const std::filesystem::path dir = folder != nullptr && *folder != '\0'
                                        ? std::filesystem::path(folder)
                                        : std::filesystem::temp_directory_path();
  const auto path = dir / ("kvbench_" + std::to_string(rows) + ".kvdb");
  const std::string connection = "Provider=SQLite;Data Source=" + path.string();
  if (std::filesystem::exists(path)) return Upgraded(connection);
  kvdata::DataServer::CreateDatabase(connection,
                                     {"admin", "Admin", "secret", kvdata::PasswordCost::Minimum});
  AddBenchUser(connection);
  Fill(OpenRaw(path.string()).get(), rows);
  return connection;
}

/// The file of the SQLite database with rows actions.
inline std::string Path(int64_t rows) {
  return kvdata::ParseConnectionString(ConnectionString(rows)).path;
}

/// An Action on the database with rows actions, logged in as the bench user, today fixed.
inline std::unique_ptr<kvaction::Action> LoggedIn(int64_t rows, int64_t engine = kSQLite) {
  auto action = std::make_unique<kvaction::Action>();
  action->SetClock(std::make_shared<vb::FixedClock>(vb::Date::FromParts(2024, 3, 15, 9)));
  action->OpenConnection(ConnectionString(rows, engine));
  action->Login(kUser, kPassword);
  return action;
}

/// The plan SQLite chooses for sql, one step a line.
inline std::string Plan(sqlite3* db, const std::string& sql) {
  const Statement explain = Prepare(db, "EXPLAIN QUERY PLAN " + sql);
  std::string plan;
  while (sqlite3_step(explain.get()) == SQLITE_ROW) {
    plan += reinterpret_cast<const char*>(sqlite3_column_text(explain.get(), 3));
    plan += '\n';
  }
  return plan;
}

/// The plan PostgreSQL chooses for sql with its one parameter set to value, one step a line.
inline std::string PgPlan(PGconn* conn, const std::string& sql, const std::string& value) {
  const char* values[] = {value.c_str()};
  const PgResult result(
      PQexecParams(conn, ("EXPLAIN " + sql).c_str(), 1, nullptr, values, nullptr, nullptr, 0));
  std::string plan;
  for (int row = 0; row < PQntuples(result.get()); ++row) {
    plan += PQgetvalue(result.get(), row, 0);
    plan += '\n';
  }
  return plan;
}

}  // namespace bench
