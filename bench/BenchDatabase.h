#pragma once
// The action databases the list and alert benchmarks run on: SQLite files in the temporary
// folder with a given number of actions, built once and kept. The user "bench" owns the same 40
// actions (20 open) whatever the size, spread through the table; everything else belongs to a
// thousand other users, half of it open, due around today.
#include <sqlite3.h>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>

#include "kvaction/Action.h"
#include "kvdata/DataServer.h"
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
              "DateDue, DateClosed, Reviewed, Alert) VALUES (?,?,?,?,?,?,?,?,?)");
  const int64_t spacing = rows / 40;
  for (int64_t i = 0; i < rows; ++i) {
    const bool mine = i % spacing == 0 && i / spacing < 40;
    const bool closed = mine ? (i / spacing) % 2 == 1 : i % 2 == 1;
    const std::string assignee = mine ? kUser : "u" + std::to_string(i % 1000);
    const std::string originator = mine ? "boss" : "u" + std::to_string((i * 7) % 1000);
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
    sqlite3_step(insert.get());
    sqlite3_reset(insert.get());
  }
  sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
  sqlite3_exec(db, "ANALYZE", nullptr, nullptr, nullptr);
}

/// The path of the database with rows actions, created on first use.
inline std::string Path(int64_t rows) {
  const auto path =
      std::filesystem::temp_directory_path() / ("kvbench_" + std::to_string(rows) + ".kvdb");
  if (std::filesystem::exists(path)) return path.string();
  const std::string connection = "Provider=SQLite;Data Source=" + path.string();
  kvdata::DataServer::CreateDatabase(connection,
                                     {"admin", "Admin", "secret", kvdata::PasswordCost::Minimum});
  kvuser::User directory(kvdata::PasswordCost::Minimum);
  directory.Connect(connection);
  directory.AddUser(kUser, "Bench User", kPassword, -1);
  Fill(OpenRaw(path.string()).get(), rows);
  return path.string();
}

/// An Action on the database with rows actions, logged in as the bench user, today fixed.
inline std::unique_ptr<kvaction::Action> LoggedIn(int64_t rows) {
  auto action = std::make_unique<kvaction::Action>();
  action->SetClock(std::make_shared<vb::FixedClock>(vb::Date::FromParts(2024, 3, 15, 9)));
  action->OpenConnection("Provider=SQLite;Data Source=" + Path(rows));
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

}  // namespace bench
