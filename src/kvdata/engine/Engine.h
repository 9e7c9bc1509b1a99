#pragma once
// The one interface through which the data server talks to a database engine: statements with
// bound parameters, result rows with ADO field metadata, transactions and the catalog. One
// implementation per engine (sqlite/, postgres/); each maps its native errors in one file.
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "ado/Enums.h"
#include "ado/Recordset.h"
#include "kvdata/sql/Translator.h"
#include "vb/Variant.h"

namespace kvdata::engine {

/// One column of a result: what the record set shows, and where the column came from.
struct Column {
  std::string name;
  ado::DataTypeEnum type = ado::adVarWChar;
  int32_t definedSize = 0;
  int32_t attributes = 0;
  /// The table and column the value was read from; empty for expressions.
  std::string table;
  std::string baseName;
  /// Part of the table's primary key.
  bool key = false;
  /// Filled in by the database on insert (the auto-number key); never written by the library.
  bool generated = false;
};

/// The columns of a result, as a vector of Column. An engine that describes a statement once
/// hands the same description to every result of it, shared and never changed: a change through
/// a result copies it first. Whether two results share one description says that their columns
/// are the same without comparing them.
class Columns {
 public:
  Columns() = default;
  Columns(std::vector<Column> columns)  // NOLINT(google-explicit-constructor): as a vector
      : shared_(std::make_shared<std::vector<Column>>(std::move(columns))), mine_(true) {}
  /// The description an engine keeps for a statement, shared with the result.
  explicit Columns(std::shared_ptr<const std::vector<Column>> shared)
      : shared_(std::move(shared)) {}

  [[nodiscard]] std::size_t size() const { return shared_ ? shared_->size() : 0; }
  [[nodiscard]] bool empty() const { return size() == 0; }
  [[nodiscard]] const Column& operator[](std::size_t i) const { return (*shared_)[i]; }
  /// A column to change (the type of a computed one): the description is copied first when
  /// another holds it.
  [[nodiscard]] Column& operator[](std::size_t i) { return Own()[i]; }
  [[nodiscard]] std::vector<Column>::const_iterator begin() const { return All().begin(); }
  [[nodiscard]] std::vector<Column>::const_iterator end() const { return All().end(); }
  [[nodiscard]] const std::vector<Column>& All() const { return shared_ ? *shared_ : None(); }
  /// Whether both hold one description (so the same columns).
  [[nodiscard]] bool SharesWith(const Columns& other) const {
    return shared_ != nullptr && shared_ == other.shared_;
  }

 private:
  static const std::vector<Column>& None();
  std::vector<Column>& Own();
  std::shared_ptr<const std::vector<Column>> shared_;
  bool mine_ = false;  // shared_ was made here, not const, and may be changed once alone
};

/// The rows of a statement, all read. rowsAffected is the number of rows a data-changing
/// statement changed, -1 for a query.
struct Result {
  Columns columns;
  std::vector<std::vector<vb::Variant>> rows;
  int64_t rowsAffected = -1;
};

/// The rows of a query as the engine reads them: the columns at once, the rows one at a time.
struct StreamedResult {
  Columns columns;
  std::unique_ptr<ado::RowSource> rows;
};

/// A table as the catalog knows it, names spelled as created.
struct CatalogTable {
  struct Column {
    std::string name;
    bool isDate = false;
    bool key = false;  ///< part of the primary key
  };
  std::string name;
  std::vector<Column> columns;
};

/// The kinds of column the library creates; ColumnType renders one for the engine.
enum class ColumnKind {
  AutoKey,   ///< 32-bit auto-number primary key
  Integer,   ///< 32-bit
  SmallInt,  ///< 16-bit
  Boolean,   ///< -1/0
  Date,      ///< date and time, whole seconds
  Double,
  Text,      ///< up to `size` characters, compared without regard to letter case
  LongText,  ///< unbounded text, compared without regard to letter case
};

/// Every virtual is pure, the ones with a plain way of their own included (an implementation
/// that wants it calls Engine::…): so an engine, and a wrapper that passes calls on
/// (kvdata/testing/EngineWrapper.h), states each one, and a virtual added here does not compile
/// until each says what it does.
class Engine {
 public:
  virtual ~Engine() = default;

  /// Which engine this is (the translator renders for it).
  [[nodiscard]] virtual sql::Target Target() const = 0;

  /// Runs one statement. Each `?` outside quotes is bound to the next of params: Null and Empty
  /// as NULL, booleans as -1/0, dates as ISO text, texts (which must be valid UTF-8) as texts.
  /// A data-changing statement outside a transaction runs in a transaction of its own. Raises
  /// EngineError (kEngineError, message and statement) on failure, kSqlError for invalid UTF-8
  /// or a second statement; nothing is changed then.
  virtual Result Execute(std::string_view sql, std::span<const vb::Variant> params = {}) = 0;

  /// Runs a statement without values whose answer nobody reads (a lock held to the end of the
  /// transaction). Inside a transaction an engine may hold it back to travel with the next
  /// statement, whose call then raises what it raised. Engine::ExecuteUnread runs it at once.
  virtual void ExecuteUnread(std::string_view sql) = 0;

  /// Runs one query as Execute does and hands its rows out one at a time, so that a long
  /// answer is never held whole. The statement must yield rows from tables only (no computed
  /// column, whose type is settled from every row); the source keeps what it needs (values
  /// included) and may be read while other statements run on this engine, which must outlive
  /// it. Engine::Stream reads every row first, as Execute does.
  virtual StreamedResult Stream(std::string_view sql, std::span<const vb::Variant> params = {}) = 0;

  /// Starts a write transaction (on SQLite: BEGIN IMMEDIATE, waiting for other writers).
  virtual void Begin() = 0;
  virtual void Commit() = 0;
  /// Rolls back the transaction in progress; never raises.
  virtual void Rollback() noexcept = 0;
  [[nodiscard]] virtual bool InTransaction() const = 0;
  /// Whether the open transaction has changed nothing and holds no lock yet (it may have read):
  /// a statement that fails then is undone by starting the transaction again
  /// (RestartTransaction), with no savepoint. False when unknown.
  [[nodiscard]] virtual bool TransactionUntouched() const = 0;
  /// Undoes everything the open transaction did and opens it again; never raises.
  /// Engine::RestartTransaction rolls back and begins.
  virtual void RestartTransaction() noexcept = 0;

  /// Whether a table or view of that name (any letter case) exists.
  [[nodiscard]] virtual bool TableExists(std::string_view table) = 0;
  /// The tables and their columns, as created.
  [[nodiscard]] virtual std::vector<CatalogTable> ReadCatalog() = 0;
  /// Counts the schema changes this engine has run (CREATE, ALTER, DROP), so that caches of
  /// the catalog know when to read it again.
  /// Engine::SchemaGeneration is the count NoteStatement keeps.
  [[nodiscard]] virtual uint64_t SchemaGeneration() const = 0;
  /// A mark of the data as this connection sees it now: a later call gives the same text only
  /// when nothing was written since (by another connection and committed, or by this one at
  /// all), so an answer read after an equal mark still holds. "" when the engine cannot tell:
  /// then every answer must be read again. Never raises.
  [[nodiscard]] virtual std::string ChangeMark() noexcept = 0;
  /// While held, ChangeMark may give the mark it gave last without asking the database again,
  /// as long as this connection wrote nothing since (its own writes are seen at once): the data
  /// are taken as of that mark, and what other connections commit meanwhile is seen once the
  /// hold ends. For work that reads the data as of its start, as one request of a server does.
  /// Engine::HoldChangeMark does nothing: an engine that can tell no more cheaply ignores it.
  virtual void HoldChangeMark(bool held) noexcept;

  /// The type (with constraints) to write after a column name in CREATE TABLE. On PostgreSQL
  /// this may create the extension and domains it names, so call it with the database open.
  [[nodiscard]] virtual std::string ColumnType(ColumnKind kind, int32_t size = 0) = 0;

 protected:
  /// Called by implementations after each statement that ran.
  void NoteStatement(std::string_view sql);

 private:
  uint64_t schemaGeneration_ = 0;
};

inline uint64_t Engine::SchemaGeneration() const { return schemaGeneration_; }

/// A name written as a quoted identifier (both engines accept double quotes).
[[nodiscard]] std::string QuoteName(std::string_view name);

/// A condition true when column equals any of count bound values, each compared on its own:
/// `"C"=? or "C"=?…` (not an "in" list, so that an index serves each value on both engines).
/// Its text is the same on both engines and for any values, so it is prepared once per count.
[[nodiscard]] std::string EqualsAnyBound(std::string_view column, std::size_t count);

/// Whether a statement starts with keyword (upper case), in any letter case, after blanks and
/// opening parentheses.
[[nodiscard]] bool StartsWithKeyword(std::string_view sql, std::string_view keyword);

/// Whether a statement changes the schema (starts with CREATE, ALTER or DROP).
[[nodiscard]] bool ChangesSchema(std::string_view sql);

}  // namespace kvdata::engine
