#pragma once
// The raw drivers the library is measured against: SQLite's C API and libpq, used as a careful
// client would (each text prepared once, values bound), doing the library's work: the same
// statement texts, every column of every row read into a value of its type, the same
// transaction shape. Every call checks its outcome; a write that changes no row throws, so a
// benchmark whose raw side writes nothing cannot run.
#include <benchmark/benchmark.h>
#include <fmt/format.h>
#include <libpq-fe.h>
#include <sqlite3.h>

#include <cstdint>
#include <cstdlib>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "kvdata/ConnectionString.h"

namespace bench {

/// A bound value: a text, a whole number, or NULL.
struct Param {
  enum Kind { kText, kWhole, kNull } kind = kNull;
  std::string text;
  int64_t whole = 0;
  Param(const char* value) : kind(kText), text(value) {}  // NOLINT: written like the texts
  Param(std::string value) : kind(kText), text(std::move(value)) {}  // NOLINT
  Param(int64_t value) : kind(kWhole), whole(value) {}               // NOLINT
  Param(int value) : kind(kWhole), whole(value) {}                   // NOLINT
  static Param Null() { return Param(); }

 private:
  Param() = default;
};
using Params = std::vector<Param>;

/// What a statement gave: its rows (every column read), the first row's cells as text, the rows
/// it changed, and the key it generated.
struct Outcome {
  int64_t rows = 0;
  std::vector<std::string> names;
  std::vector<std::string> first;
  int64_t changed = 0;
  /// Every text read, kept until the outcome goes, as a client holding the whole answer (the
  /// library's record sets other than the streamed ones) keeps it; empty when the client reads
  /// rows as they come (see KeepRows).
  std::vector<std::string> kept;

  /// The first row's value of a column as text ("" for NULL or no row).
  [[nodiscard]] std::string Cell(std::string_view name) const {
    for (std::size_t i = 0; i < names.size() && i < first.size(); ++i) {
      if (names[i] == name) return first[i];
    }
    return {};
  }
};

/// Throws unless the statement changed exactly `expected` rows.
inline void RequireChanged(const Outcome& outcome, int64_t expected, std::string_view what) {
  if (outcome.changed != expected) {
    throw std::runtime_error(
        fmt::format("raw {}: {} rows changed, {} expected", what, outcome.changed, expected));
  }
}

struct SqliteDbClose {
  void operator()(sqlite3* db) const { sqlite3_close_v2(db); }
};
struct SqliteStmtFinalize {
  void operator()(sqlite3_stmt* s) const { sqlite3_finalize(s); }
};

/// The raw SQLite client: WAL with NORMAL sync, a busy timeout and a 16 MiB page cache, as the
/// library opens files.
class RawSqlite {
 public:
  explicit RawSqlite(const std::string& path) {
    sqlite3* raw = nullptr;
    if (sqlite3_open_v2(path.c_str(), &raw, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) {
      throw std::runtime_error("cannot open " + path);
    }
    db_.reset(raw);
    sqlite3_busy_timeout(db_.get(), 10000);
    (void)Run("PRAGMA journal_mode=WAL");
    (void)Run("PRAGMA synchronous=NORMAL");
    (void)Run("PRAGMA foreign_keys=ON");
    (void)Run("PRAGMA cache_size=-16384");
  }

  Outcome Run(const std::string& sql, const Params& params = {}) {
    auto& slot = cache_[sql];
    if (!slot) {
      sqlite3_stmt* stmt = nullptr;
      if (sqlite3_prepare_v3(db_.get(), sql.c_str(), -1, SQLITE_PREPARE_PERSISTENT, &stmt,
                             nullptr) != SQLITE_OK) {
        throw std::runtime_error(fmt::format("{}: {}", sqlite3_errmsg(db_.get()), sql));
      }
      slot.reset(stmt);
    }
    sqlite3_stmt* stmt = slot.get();
    for (std::size_t i = 0; i < params.size(); ++i) {
      const int at = static_cast<int>(i) + 1;
      const Param& p = params[i];
      if (p.kind == Param::kText) {
        sqlite3_bind_text(stmt, at, p.text.data(), static_cast<int>(p.text.size()), SQLITE_STATIC);
      } else if (p.kind == Param::kWhole) {
        sqlite3_bind_int64(stmt, at, p.whole);
      } else {
        sqlite3_bind_null(stmt, at);
      }
    }
    Outcome outcome;
    const int columns = sqlite3_column_count(stmt);
    for (int c = 0; c < columns; ++c) outcome.names.emplace_back(sqlite3_column_name(stmt, c));
    int rc = 0;
    while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) {
      for (int c = 0; c < columns; ++c) ReadCell(stmt, c, outcome, keep_);
      ++outcome.rows;
    }
    sqlite3_reset(stmt);
    sqlite3_clear_bindings(stmt);
    if (rc != SQLITE_DONE) {
      throw std::runtime_error(fmt::format("{}: {}", sqlite3_errmsg(db_.get()), sql));
    }
    if (sqlite3_stmt_readonly(stmt) == 0) outcome.changed = sqlite3_changes64(db_.get());
    return outcome;
  }

 private:
  // Reads one cell into a value of the type it holds (a text, a date included, is copied out
  // of the statement, as a client keeping the row must), as a client would.
  static void ReadCell(sqlite3_stmt* stmt, int c, Outcome& outcome, bool keep) {
    std::string cell;
    switch (sqlite3_column_type(stmt, c)) {
      case SQLITE_INTEGER: {
        const int64_t value = sqlite3_column_int64(stmt, c);
        benchmark::DoNotOptimize(value);
        if (outcome.rows == 0) cell = std::to_string(value);
        break;
      }
      case SQLITE_FLOAT:
        benchmark::DoNotOptimize(sqlite3_column_double(stmt, c));
        break;
      case SQLITE_NULL:
        break;
      default: {
        const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt, c));
        cell.assign(text, static_cast<std::size_t>(sqlite3_column_bytes(stmt, c)));
        benchmark::DoNotOptimize(cell.data());
      }
    }
    if (outcome.rows == 0) {
      outcome.first.push_back(std::move(cell));
    } else if (keep && !cell.empty()) {
      outcome.kept.push_back(std::move(cell));
    }
  }

 public:
  /// Whether the texts of every row are kept (a held answer) or dropped as read (a stream).
  void KeepRows(bool keep) { keep_ = keep; }

 private:
  bool keep_ = true;
  std::unique_ptr<sqlite3, SqliteDbClose> db_;
  std::map<std::string, std::unique_ptr<sqlite3_stmt, SqliteStmtFinalize>> cache_;
};

struct PgConnFinish {
  void operator()(PGconn* c) const { PQfinish(c); }
};
struct PgResultClear {
  void operator()(PGresult* r) const { PQclear(r); }
};
using PgConnPtr = std::unique_ptr<PGconn, PgConnFinish>;
using PgResultPtr = std::unique_ptr<PGresult, PgResultClear>;

/// libpq's "key=value" form of one of our PostgreSQL connection strings, with the session
/// settings the library's connections have that change the work of a read (each prepared
/// statement keeps one plan).
inline std::string Conninfo(const std::string& connectionString) {
  const auto login = kvdata::ParseConnectionString(connectionString).login;
  return fmt::format(
      "host='{}' port='{}' dbname='{}' user='{}' options='-c plan_cache_mode=force_generic_plan'",
      login.host, login.port, login.database, login.user);
}

/// The raw PostgreSQL client: each text prepared once; BEGIN (and the numbering lock) go in one
/// round trip with the statement after them (pipeline mode), as the library sends them.
class RawPg {
 public:
  explicit RawPg(const std::string& connectionString)
      : conn_(PQconnectdb(Conninfo(connectionString).c_str())) {
    if (PQstatus(conn_.get()) != CONNECTION_OK) {
      throw std::runtime_error(PQerrorMessage(conn_.get()));
    }
  }

  /// Whether the texts of every row are kept (a held answer) or dropped as read (a stream, read
  /// in single-row mode).
  void KeepRows(bool keep) { keep_ = keep; }

  /// Runs sql; the statements of before (without values, answers unread) travel in the same
  /// round trip ahead of it.
  Outcome Run(const std::string& sql, const Params& params = {},
              const std::vector<std::string>& before = {}) {
    const std::string& name = Prepared(sql, params.size());
    std::vector<std::string> texts;
    texts.reserve(params.size());
    std::vector<const char*> values;
    values.reserve(params.size());
    for (const Param& p : params) {
      texts.push_back(p.kind == Param::kWhole ? std::to_string(p.whole) : p.text);
      values.push_back(p.kind == Param::kNull ? nullptr : texts.back().c_str());
    }
    PGconn* conn = conn_.get();
    PgResultPtr result;
    if (!before.empty()) {
      PQenterPipelineMode(conn);
      for (const std::string& text : before) {
        PQsendQueryParams(conn, text.c_str(), 0, nullptr, nullptr, nullptr, nullptr, 0);
      }
      PQsendQueryPrepared(conn, name.c_str(), static_cast<int>(values.size()), values.data(),
                          nullptr, nullptr, 0);
      PQpipelineSync(conn);
      std::vector<PgResultPtr> ahead;
      for (std::size_t k = 0; k < before.size(); ++k) {
        ahead.emplace_back(PQgetResult(conn));
        while (PGresult* extra = PQgetResult(conn)) PQclear(extra);
      }
      result.reset(PQgetResult(conn));
      while (PGresult* extra = PQgetResult(conn)) PQclear(extra);
      const PgResultPtr sync(PQgetResult(conn));
      PQexitPipelineMode(conn);
      for (std::size_t k = 0; k < before.size(); ++k) Check(ahead[k].get(), before[k]);
    } else if (!keep_) {
      return Streamed(name, values, sql);
    } else {
      result.reset(PQexecPrepared(conn, name.c_str(), static_cast<int>(values.size()),
                                  values.data(), nullptr, nullptr, 0));
    }
    Check(result.get(), sql);
    Outcome outcome;
    const PGresult* r = result.get();
    outcome.rows = PQntuples(r);
    for (int c = 0; c < PQnfields(r); ++c) outcome.names.emplace_back(PQfname(r, c));
    if (outcome.rows > 0) outcome.first.resize(outcome.names.size());
    if (keep_) outcome.kept.reserve(static_cast<std::size_t>(outcome.rows * PQnfields(r)));
    for (int row = 0; row < PQntuples(r); ++row) {
      for (int c = 0; c < PQnfields(r); ++c) {
        if (PQgetisnull(r, row, c)) continue;
        // Copied out of the result, as a client keeping the row must.
        std::string cell(PQgetvalue(r, row, c), static_cast<std::size_t>(PQgetlength(r, row, c)));
        benchmark::DoNotOptimize(cell.data());
        if (row == 0) {
          outcome.first[static_cast<std::size_t>(c)] = std::move(cell);
        } else if (keep_) {
          outcome.kept.push_back(std::move(cell));
        }
      }
    }
    const std::string_view command = PQcmdStatus(result.get());
    if (!command.starts_with("SELECT")) outcome.changed = std::atoll(PQcmdTuples(result.get()));
    return outcome;
  }

  // Kept out of line, so that a profile of the raw calls counts the commit too.
  [[gnu::noinline]] void Commit() {
    Check(PgResultPtr(PQexec(conn_.get(), "COMMIT")).get(), "COMMIT");
  }

 private:
  // A read whose rows are dropped as they come, in single-row mode, so that memory follows the
  // row and not the answer (the client of a long list; list_memory's raw side reads so too).
  Outcome Streamed(const std::string& name, const std::vector<const char*>& values,
                   std::string_view sql) {
    PGconn* conn = conn_.get();
    if (PQsendQueryPrepared(conn, name.c_str(), static_cast<int>(values.size()), values.data(),
                            nullptr, nullptr, 0) != 1 ||
        PQsetSingleRowMode(conn) != 1) {
      throw std::runtime_error(fmt::format("{}: {}", PQerrorMessage(conn), sql));
    }
    Outcome outcome;
    while (PGresult* next = PQgetResult(conn)) {
      const PgResultPtr result(next);
      const PGresult* r = result.get();
      if (PQresultStatus(r) != PGRES_SINGLE_TUPLE) {
        Check(r, sql);
        continue;
      }
      if (outcome.rows == 0) {
        for (int c = 0; c < PQnfields(r); ++c) outcome.names.emplace_back(PQfname(r, c));
        outcome.first.resize(outcome.names.size());
      }
      for (int c = 0; c < PQnfields(r); ++c) {
        if (PQgetisnull(r, 0, c)) continue;
        std::string cell(PQgetvalue(r, 0, c), static_cast<std::size_t>(PQgetlength(r, 0, c)));
        benchmark::DoNotOptimize(cell.data());
        if (outcome.rows == 0) outcome.first[static_cast<std::size_t>(c)] = std::move(cell);
      }
      ++outcome.rows;
    }
    return outcome;
  }

  const std::string& Prepared(const std::string& sql, std::size_t count) {
    auto [it, added] = names_.try_emplace(sql, fmt::format("raw{}", names_.size()));
    if (added) {
      // Placeholders are written `?` as the library's texts have them; PostgreSQL numbers them.
      std::string text;
      int n = 0;
      bool quoted = false;
      for (const char c : sql) {
        if (c == '\'') quoted = !quoted;
        if (c == '?' && !quoted) {
          text += fmt::format("${}", ++n);
        } else {
          text += c;
        }
      }
      if (static_cast<std::size_t>(n) != count) {
        throw std::runtime_error(fmt::format("{} values for {}", count, sql));
      }
      Check(PgResultPtr(PQprepare(conn_.get(), it->second.c_str(), text.c_str(), 0, nullptr)).get(),
            sql);
    }
    return it->second;
  }

  void Check(const PGresult* result, std::string_view sql) const {
    const ExecStatusType status = PQresultStatus(result);
    if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK) {
      throw std::runtime_error(fmt::format("{}: {}", PQerrorMessage(conn_.get()), sql));
    }
  }

  PgConnPtr conn_;
  std::map<std::string, std::string> names_;
  bool keep_ = true;
};

}  // namespace bench
