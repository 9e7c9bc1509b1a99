#pragma once
// The server engine: PostgreSQL through libpq (Unix socket or TCP). Statements with bound values
// are prepared once and cached by text; column metadata comes from the catalog (domains
// included); transient failures of a statement outside a transaction are retried.
#include <libpq-fe.h>

#include <map>
#include <memory>
#include <optional>
#include <string>

#include "kvdata/engine/Engine.h"
#include "kvdata/engine/StatementCache.h"

namespace kvdata::engine::postgres {

/// Where and as whom to connect; empty values are left to libpq's defaults.
struct Login {
  std::string host;
  std::string port;
  std::string database;
  std::string user;
  std::string password;
};

/// How the text of a result column is read into a value.
enum class ValueKind { Text, Whole, Fraction, Boolean, Date };

class PgEngine final : public Engine {
 public:
  /// Connects. Raises kOpenFailed (server unreachable, database missing, login refused); the
  /// text never holds the password.
  [[nodiscard]] static std::unique_ptr<PgEngine> Open(const Login& login);

  [[nodiscard]] sql::Target Target() const override { return sql::Target::PostgreSQL; }
  Result Execute(std::string_view sql, std::span<const vb::Variant> params = {}) override;
  void Begin() override;
  void Commit() override;
  void Rollback() noexcept override;
  [[nodiscard]] bool InTransaction() const override;
  [[nodiscard]] bool TableExists(std::string_view table) override;
  [[nodiscard]] std::vector<CatalogTable> ReadCatalog() override;
  [[nodiscard]] std::string ColumnType(ColumnKind kind, int32_t size = 0) override;

  /// How many times a statement outside a transaction is run when it keeps meeting
  /// serialization failures or deadlocks.
  static constexpr int kMaxAttempts = 5;

 private:
  struct Finish {
    void operator()(PGconn* conn) const { PQfinish(conn); }
  };
  struct Clear {
    void operator()(PGresult* result) const { PQclear(result); }
  };
  using Conn = std::unique_ptr<PGconn, Finish>;
  using ResultPtr = std::unique_ptr<PGresult, Clear>;
  struct Prepared {
    std::string name;  // empty: seen once, not prepared yet
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
  // Runs a text without caching or metadata (catalog reads, transaction control).
  ResultPtr Query(std::string_view sql, std::span<const std::string> params = {});
  Result RunOnce(std::string_view sql, std::span<const vb::Variant> params);
  // The prepared statement for a text, or nullptr when it is to go unprepared this time (a
  // schema change, or a text without bound values seen for the first time).
  const Prepared* Prepare(std::string_view sql, std::size_t paramCount);
  // Deallocates a statement the cache let go.
  void Release(const std::optional<Prepared>& evicted);
  // Runs a statement, prepared once it is known to come again.
  ResultPtr Send(std::string_view sql, std::span<const char* const> values);
  std::vector<Column> DescribeColumns(const PGresult* result, std::vector<ValueKind>& kinds);
  const TableInfo& TableInfoFor(Oid table);
  const std::string& TypeName(Oid type);
  void ForgetSchema();
  void EnsureDomain(std::string_view name, std::string_view definition);

  Conn conn_;
  StatementCache<Prepared> cache_{64};
  uint64_t nextStatement_ = 0;
  std::map<Oid, TableInfo> tables_;
  std::map<Oid, std::string> typeNames_;
};

}  // namespace kvdata::engine::postgres
