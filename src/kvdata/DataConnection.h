#pragma once
// The open connection of a data server: runs statements of either legacy dialect on the engine
// it was opened on, and hands out record sets that write their changes back to the table.
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "ado/Recordset.h"
#include "kvdata/sql/Translator.h"
#include "vb/Clock.h"
#include "vb/Locale.h"

namespace kvdata {

namespace engine {
class Engine;
struct Result;
}  // namespace engine

/// The ADO options a record set is opened with.
struct RecordsetOptions {
  int32_t cursorType = 1;
  int32_t cursorLocation = 2;
  int32_t lockType = 3;
  friend bool operator==(const RecordsetOptions&, const RecordsetOptions&) = default;
};

/// A statement as the connection received it: its text before translation and, when a record
/// set was opened over it, that record set's options (none for Execute and for answers read
/// without a record set).
struct TracedStatement {
  std::string text;
  std::optional<RecordsetOptions> options;
  friend bool operator==(const TracedStatement&, const TracedStatement&) = default;
  friend std::ostream& operator<<(std::ostream& out, const TracedStatement& s) {
    out << '"' << s.text << '"';
    if (s.options) {
      out << " (" << s.options->cursorType << ", " << s.options->cursorLocation << ", "
          << s.options->lockType << ')';
    }
    return out;
  }
};

class DataConnection {
 public:
  /// Opens the database a connection string names (see README "Connection strings"):
  /// "Provider=SQLite;Data Source=FILE" or a bare path (the embedded file; it must exist unless
  /// create is true), "Provider=PostgreSQL;Host=…;Port=…;Database=…;User ID=…;Password=…", or
  /// "Provider=SQLOLEDB;Data Source=host[,port];Initial Catalog=…;User ID=…;Password=…" (the
  /// server dialect, on PostgreSQL). Raises kBadConnectionString or kOpenFailed; the error text
  /// never holds the password.
  [[nodiscard]] static std::shared_ptr<DataConnection> Open(std::string_view connectionString,
                                                            bool create = false);
  ~DataConnection();
  DataConnection(const DataConnection&) = delete;
  DataConnection& operator=(const DataConnection&) = delete;

  /// The connection string as given.
  [[nodiscard]] const std::string& ConnectionString() const;
  /// The database's name as users know it: the file path, or host/database.
  [[nodiscard]] std::string DatabaseName() const;
  /// The dialect the library writes for this connection: Server when the connection string
  /// contains "SQLOLEDB" (any letter case), Desktop otherwise.
  [[nodiscard]] sql::Dialect Dialect() const;

  /// Runs a query and returns its rows as a record set opened with the given ADO options. A
  /// single-table query over a table with a key gives an updatable record set (unless
  /// lockType is adLockReadOnly) whose AddNew/Update/Delete write back to that table.
  [[nodiscard]] ado::RecordsetPtr OpenRecordset(std::string_view sql, int32_t cursorType = 1,
                                                int32_t cursorLocation = 2, int32_t lockType = 3);
  /// OpenRecordset of head followed by key in decimal (the library's statements that end with an
  /// action's key): recorded as that text; its translation and prepared statement serve every
  /// key, found by head without scanning the text for its values.
  [[nodiscard]] ado::RecordsetPtr OpenKeyedRecordset(std::string_view head, int32_t key,
                                                     int32_t cursorType = 1,
                                                     int32_t cursorLocation = 2,
                                                     int32_t lockType = 3);
  /// Runs a query as OpenRecordset would (recorded, translated, its values bound) and returns
  /// the engine's answer as it comes, without a record set: for reading a few values that
  /// nothing edits. Raises as OpenRecordset does.
  [[nodiscard]] engine::Result ReadAnswer(std::string_view sql);
  /// The text the engine runs for sql, as OpenRecordset would translate it (from the same cache).
  /// Raises as OpenRecordset does for a statement the translator refuses.
  [[nodiscard]] std::string EngineText(std::string_view sql);

  /// Runs a statement; recordsAffected receives the number of rows changed. Returns the rows of a
  /// statement that yields rows (an empty, closed record set otherwise).
  ado::RecordsetPtr Execute(std::string_view sql, int32_t* recordsAffected = nullptr,
                            int32_t options = 1);

  /// Runs head followed by key in decimal as Execute(…, adCmdText) would, found as
  /// OpenKeyedRecordset finds its statement, and returns the number of rows it changed; what a
  /// query answers is dropped unread.
  int32_t ExecuteKeyed(std::string_view head, int32_t key);

  /// A write transaction: every statement until Commit runs in it; a transaction still open when
  /// its scope ends is rolled back. Scopes nest: only the outermost one commits.
  class Transaction {
   public:
    explicit Transaction(DataConnection& connection);
    ~Transaction();
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;
    void Commit();

   private:
    DataConnection& connection_;
    bool outermost_;
    bool done_ = false;
  };

  /// Whether a Transaction scope is open on this connection.
  [[nodiscard]] bool InTransaction() const;

  /// A number for the data as this connection sees it now, never the same for two connections
  /// of the process: a later call gives the same number only when nothing was written since (by
  /// another connection and committed, or by this one at all). An answer read after taking a
  /// stamp may be kept under it and used while the stamp stays the same. Never raises; not
  /// recorded in the trace.
  [[nodiscard]] uint64_t ChangeStamp();
  /// Holds the stamp (Engine::HoldChangeMark): until released, ChangeStamp gives the stamp it
  /// gave last without asking the database again while this connection writes nothing, so the
  /// answers kept under it cost no round trip; what other connections commit meanwhile gives a
  /// new stamp once the hold is released.
  void HoldChangeStamp(bool held) noexcept;

  /// The statements received, oldest first, with the options of the record sets opened over
  /// them (for tests and diagnostics).
  [[nodiscard]] const std::vector<TracedStatement>& Trace() const;
  void ClearTrace();

  void SetClock(std::shared_ptr<const vb::Clock> clock);
  void SetLocale(const vb::Locale& locale);
  [[nodiscard]] const vb::Clock& Clock() const;
  [[nodiscard]] const vb::Locale& Locale() const;

  /// The engine underneath, for the data server's own bookkeeping statements.
  [[nodiscard]] engine::Engine& Engine();
  /// Puts wrap's answer in place of the engine underneath (tests wrap it to make calls fail).
  /// Record sets opened before keep the engine they were opened on. Call it outside a
  /// transaction.
  void WrapEngine(
      const std::function<std::shared_ptr<engine::Engine>(std::shared_ptr<engine::Engine>)>& wrap);

 private:
  struct Impl;
  explicit DataConnection(std::unique_ptr<Impl> impl);
  std::unique_ptr<Impl> impl_;
};

/// How many times RunInTransaction runs its work when it keeps losing races.
inline constexpr int kMaxTransactionAttempts = 5;

/// Runs work in a Transaction and commits it. When a statement loses a race with another
/// connection (PostgreSQL serialization failure or deadlock) the transaction is rolled back and
/// work runs again from the start, at most kMaxTransactionAttempts times in all; so work must
/// not keep effects outside the database. Inside an open Transaction work runs once: the
/// outermost owner decides.
void RunInTransaction(DataConnection& connection, const std::function<void()>& work);

}  // namespace kvdata
