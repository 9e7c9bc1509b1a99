#pragma once
// The embedded engine: one SQLite file in WAL mode, writers waiting for each other (busy
// timeout), every write transaction begun IMMEDIATE, prepared statements cached by text.
#include <sqlite3.h>

#include <memory>
#include <string>

#include "kvdata/engine/Engine.h"
#include "kvdata/engine/StatementCache.h"

namespace kvdata::engine::sqlite {

class SteppedRows;

class SqliteEngine final : public Engine {
 public:
  /// Opens the database file; with create, makes it when it does not exist. Raises kOpenFailed
  /// for a missing file (without create), a file that is not a database, or an old SQLite.
  [[nodiscard]] static std::unique_ptr<SqliteEngine> Open(const std::string& path, bool create);

  [[nodiscard]] sql::Target Target() const override { return sql::Target::SQLite; }
  Result Execute(std::string_view sql, std::span<const vb::Variant> params = {}) override;
  /// Steps the statement as the rows are read. While a stream reads the cached statement of
  /// its text, that text runs on a statement of its own.
  StreamedResult Stream(std::string_view sql, std::span<const vb::Variant> params = {}) override;
  /// Runs at once: nothing travels with a later statement.
  void ExecuteUnread(std::string_view sql) override { Engine::ExecuteUnread(sql); }
  void Begin() override;
  void Commit() override;
  void Rollback() noexcept override;
  [[nodiscard]] bool InTransaction() const override;
  /// Never: BEGIN IMMEDIATE takes the write lock as the transaction opens.
  [[nodiscard]] bool TransactionUntouched() const override { return false; }
  void RestartTransaction() noexcept override { Engine::RestartTransaction(); }
  [[nodiscard]] bool TableExists(std::string_view table) override;
  [[nodiscard]] std::vector<CatalogTable> ReadCatalog() override;
  [[nodiscard]] std::string ColumnType(ColumnKind kind, int32_t size = 0) override;
  [[nodiscard]] uint64_t SchemaGeneration() const override { return Engine::SchemaGeneration(); }
  [[nodiscard]] std::string ChangeMark() noexcept override;
  void HoldChangeMark(bool held) noexcept override;

 private:
  friend class SteppedRows;
  struct CloseDb {
    void operator()(sqlite3* db) const { sqlite3_close_v2(db); }
  };
  struct Finalize {
    void operator()(sqlite3_stmt* stmt) const { sqlite3_finalize(stmt); }
  };
  using Db = std::unique_ptr<sqlite3, CloseDb>;
  using Stmt = std::unique_ptr<sqlite3_stmt, Finalize>;
  struct Prepared {
    // Shared with a stream reading it; more than one owner means it is in use.
    std::shared_ptr<sqlite3_stmt> stmt;
    // As declared, shared with every result; computed ones are settled in a result's own copy.
    Columns columns;
  };

  explicit SqliteEngine(Db db) : db_(std::move(db)) {}
  Prepared& Prepare(std::string_view sql);
  // Compiles one statement (flags as sqlite3_prepare_v3 takes them).
  Stmt Compile(std::string_view sql, unsigned flags);
  // The statement to run the text on now: the cached one, or a new one while a stream reads it.
  std::shared_ptr<sqlite3_stmt> Available(const Prepared& prepared, std::string_view sql);
  std::vector<Column> DescribeColumns(sqlite3_stmt* stmt) const;
  Result Run(Prepared& prepared, std::span<const vb::Variant> params, std::string_view sql);
  void Bind(sqlite3_stmt* stmt, std::span<const vb::Variant> params, std::string_view sql);

  // Reads the rest of every stream being read into memory (before a write).
  void HoldStreams();

  Db db_;
  StatementCache<Prepared> cache_{64};
  Stmt dataVersion_;  // PRAGMA data_version, prepared on first use (see ChangeMark)
  // The held mark with this connection's change count and schema generation when it was read
  // (see HoldChangeMark).
  bool markHeld_ = false;
  std::string heldMark_;
  int64_t changesAtHeldMark_ = 0;
  uint64_t generationAtHeldMark_ = 0;
  std::vector<SteppedRows*> streams_;  // streams still stepping their statements
};

}  // namespace kvdata::engine::sqlite
