#pragma once
// The server engine: PostgreSQL through libpq (Unix socket or TCP). Statements with bound values
// are prepared once and cached by text, with their column metadata, read once from the catalog
// (domains included); BEGIN, savepoint and lock statements ride along with the next statement;
// transient failures of a statement outside a transaction are retried. A lost session is reported
// to the call that meets it and reopened at the next call outside a transaction.
#include <libpq-fe.h>

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "kvdata/engine/Engine.h"
#include "kvdata/engine/StatementCache.h"
#include "kvdata/engine/postgres/Login.h"

namespace kvdata::engine::postgres {

/// How the text of a result column is read into a value.
enum class ValueKind { Text, Whole, Fraction, Boolean, Date };

class StreamedRows;

class PgEngine final : public Engine {
 public:
  /// Connects, with standard_conforming_strings pinned on (a backslash in a literal is an
  /// ordinary character) and the login's statement timeout. Raises kOpenFailed (server
  /// unreachable, database missing, login refused, TLS refused); the text never holds the
  /// password.
  [[nodiscard]] static std::unique_ptr<PgEngine> Open(const Login& login);

  [[nodiscard]] sql::Target Target() const override { return sql::Target::PostgreSQL; }
  Result Execute(std::string_view sql, std::span<const vb::Variant> params = {}) override;
  /// Reads the rows in libpq's single-row mode as the source is read. The connection carries one
  /// statement at a time: anything else run on this engine before the source is read to the
  /// end first reads the rest of its rows into the source.
  StreamedResult Stream(std::string_view sql, std::span<const vb::Variant> params = {}) override;
  /// Inside a transaction the statement goes with the next one, in the same round trip.
  void ExecuteUnread(std::string_view sql) override;
  void Begin() override;
  void Commit() override;
  void Rollback() noexcept override;
  [[nodiscard]] bool InTransaction() const override;
  /// True while the transaction has only read (or not yet reached the server): no statement
  /// but a SELECT ran in it, no lock was taken through ExecuteUnread, no stream is open.
  [[nodiscard]] bool TransactionUntouched() const override;
  /// Rolls back what reached the server and holds BEGIN back again.
  void RestartTransaction() noexcept override;
  [[nodiscard]] bool TableExists(std::string_view table) override;
  [[nodiscard]] std::vector<CatalogTable> ReadCatalog() override;
  [[nodiscard]] std::string ColumnType(ColumnKind kind, int32_t size = 0) override;
  [[nodiscard]] uint64_t SchemaGeneration() const override { return Engine::SchemaGeneration(); }
  [[nodiscard]] std::string ChangeMark() noexcept override;
  void HoldChangeMark(bool held) noexcept override;

  /// How many times a statement outside a transaction is run when it keeps meeting
  /// serialization failures or deadlocks.
  static constexpr int kMaxAttempts = 5;

 private:
  friend class StreamedRows;
  struct Finish {
    void operator()(PGconn* conn) const { PQfinish(conn); }
  };
  struct Clear {
    void operator()(PGresult* result) const { PQclear(result); }
  };
  using Conn = std::unique_ptr<PGconn, Finish>;
  using ResultPtr = std::unique_ptr<PGresult, Clear>;
  // The columns of a result as described once, with how each column's text is read.
  struct Description {
    std::vector<Column> columns;
    std::vector<ValueKind> kinds;
    Columns shared;  // the columns as every result of the statement shares them
  };
  struct Prepared {
    std::string name;  // empty: seen once, not prepared yet
    // A prepared statement's columns never change (the server refuses a plan whose result
    // type changed), so they are described from the catalog once.
    std::optional<Description> description;
  };
  // A table column as the catalog describes it.
  struct Attribute {
    std::string name;
    std::string typeName;
    int typmod = -1;
    bool notNull = false;
    bool identity = false;
    bool key = false;
  };
  struct TableInfo {
    std::string name;
    std::map<int, Attribute> attributes;  // by attnum
  };

  explicit PgEngine(Conn conn) : conn_(std::move(conn)) {}
  // Queues one statement on the connection (PQsendQuery…); returns libpq's 0 on failure. Refers
  // to the caller's callable, which outlives the exchange: nothing is allocated per statement.
  class Sender {
   public:
    template <typename F>
    Sender(const F& send)  // NOLINT(google-explicit-constructor): written as a lambda
        : send_(&send), call_([](const void* f) { return (*static_cast<const F*>(f))(); }) {}
    int operator()() const { return call_(send_); }

   private:
    const void* send_;
    int (*call_)(const void*);
  };

  // Reads the rest of the streamed rows, if a stream is being read, so that the connection can
  // carry another statement.
  void FinishStream();
  // Runs a text without caching or metadata (catalog reads, transaction control).
  ResultPtr Query(std::string_view sql, std::span<const std::string> params = {});
  Result RunOnce(std::string_view sql, std::span<const vb::Variant> params);
  // The prepared statement for a text, or nullptr when it is to go unprepared this time (a
  // schema change, or a text without bound values seen for the first time).
  Prepared* Prepare(std::string_view sql, std::size_t paramCount, bool always = false);
  // Deallocates a statement the cache let go.
  void Release(const std::optional<Prepared>& evicted);
  // Runs a statement, prepared once it is known to come again.
  ResultPtr Send(std::string_view sql, const Prepared* prepared,
                 std::span<const char* const> values);
  // Runs what send queues, after the deferred savepoint statements, and returns its result.
  ResultPtr Exchange(std::string_view sql, const Sender& send);
  // Sends the deferred savepoint statements and the one send queues in one round trip.
  ResultPtr ExchangePipelined(std::string_view sql, const Sender& send);
  // Holds back SAVEPOINT and RELEASE SAVEPOINT inside a transaction, to go with the next
  // statement; a savepoint released before anything ran in it is never sent. Returns whether
  // sql was held back.
  bool Defer(std::string_view sql);
  // Whether a transaction is open (or about to be, its BEGIN held back) and not failed: a
  // statement held back now fails, if it does, where the transaction's owner looks.
  [[nodiscard]] bool CanHoldBack() const;
  [[nodiscard]] Description DescribeColumns(const PGresult* result);
  const TableInfo& TableInfoFor(Oid table);
  // Files the column a catalog row describes (kAttributeColumns from column `at` on) in info.
  static void AddAttribute(TableInfo& info, const PGresult* r, int row, int at);
  const std::string& TypeName(Oid type);
  // Reads the names of a result's types not known yet, all in one query.
  void ReadTypeNames(const PGresult* result);
  void ForgetSchema();
  // Whether the session with the server is gone (server restart, backend ended, network).
  [[nodiscard]] bool Broken() const;
  // Opens a new session when the old one is gone and no transaction was open in it; raises when
  // a transaction died with it (until its owner rolls back) or the server cannot be reached.
  void ReopenIfBroken();
  void EnsureDomain(std::string_view name, std::string_view definition);

  Conn conn_;
  StatementCache<Prepared> cache_{64};
  uint64_t nextStatement_ = 0;
  std::map<Oid, TableInfo> tables_;
  std::map<Oid, std::string> typeNames_;
  std::vector<std::string> deferred_;  // BEGIN and savepoint statements not sent yet, in order
  std::vector<std::string> sending_;   // the held-back statements of the last round trip
  StreamedRows* stream_ = nullptr;     // the stream the connection is carrying, if any
  bool noChangeMark_ = false;          // the server refused to tell its write position
  // Statements sent that may have written (any but a SELECT), and the held mark with their
  // count when it was read (see HoldChangeMark).
  uint64_t writes_ = 0;
  bool markHeld_ = false;
  std::string heldMark_;
  uint64_t writesAtHeldMark_ = 0;
  bool streamInTransaction_ = false;  // whether a transaction was open when it started
  bool transaction_ = false;          // between Begin and Commit or Rollback
  bool changed_ = false;  // the open transaction wrote or locked: starting it again loses that
};

}  // namespace kvdata::engine::postgres
