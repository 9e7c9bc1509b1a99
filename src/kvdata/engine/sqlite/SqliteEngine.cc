#include "kvdata/engine/sqlite/SqliteEngine.h"

#include <fmt/format.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>

#include "kvdata/Errors.h"
#include "kvdata/engine/Values.h"
#include "kvdata/engine/sqlite/SqliteErrors.h"
#include "vb/Convert.h"

namespace kvdata::engine::sqlite {
namespace {

constexpr int kBusyTimeoutMs = 10000;
constexpr int kMinimumVersion = 3035000;  // RETURNING
// The page cache of one open database, in KiB (SQLite's default is 2 MiB). The alert count and
// the "My actions" list fetch each of a person's open actions from the table by its row ID, as
// many pages apart as the person has open actions; a cache that holds them keeps a server that
// reads the same people's actions request after request from reading them from the file again.
// It is a ceiling: memory grows only with the pages read, and a long forward-only list, which
// passes through every page of the table, stays within 32 MiB with it.
constexpr int kCacheKiB = 16 * 1024;

struct DeclaredType {
  ado::DataTypeEnum type = ado::adEmpty;
  int32_t size = 0;
};

// The ADO type of a declared column type, by SQLite's own affinity-style matching of words.
DeclaredType FromDeclaration(const char* declaration) {
  if (declaration == nullptr) return {};
  const std::string decl = vb::UCase(declaration);
  const auto has = [&decl](std::string_view word) { return decl.find(word) != std::string::npos; };
  if (has("BOOL")) return {ado::adBoolean, FixedSize(ado::adBoolean)};
  if (has("DATE") || has("TIME")) return {ado::adDate, FixedSize(ado::adDate)};
  if (has("SMALLINT") || has("TINYINT")) return {ado::adSmallInt, FixedSize(ado::adSmallInt)};
  if (has("INT")) return {ado::adInteger, FixedSize(ado::adInteger)};
  if (has("CHAR") || has("TEXT") || has("CLOB") || has("MEMO")) {
    const auto open = decl.find('(');
    if (has("CHAR") && open != std::string::npos) {
      return {ado::adVarWChar, static_cast<int32_t>(std::atoi(decl.c_str() + open + 1))};
    }
    return {ado::adLongVarWChar, kLongTextSize};
  }
  if (has("REAL") || has("FLOA") || has("DOUB") || has("NUMERIC") || has("DECIMAL")) {
    return {ado::adDouble, FixedSize(ado::adDouble)};
  }
  return {};
}

vb::Variant ReadValue(sqlite3_stmt* stmt, int i, ado::DataTypeEnum type) {
  switch (sqlite3_column_type(stmt, i)) {
    case SQLITE_NULL:
      return vb::Null;
    case SQLITE_INTEGER: {
      const sqlite3_int64 value = sqlite3_column_int64(stmt, i);
      if (type == ado::adBoolean) return vb::Variant(value != 0);
      if (type == ado::adDouble) return vb::Variant(static_cast<double>(value));
      return WholeNumber(value, type);
    }
    case SQLITE_FLOAT:
      return vb::Variant(sqlite3_column_double(stmt, i));
    default: {
      const auto* bytes = reinterpret_cast<const char*>(sqlite3_column_text(stmt, i));
      const std::string_view text(bytes, static_cast<std::size_t>(sqlite3_column_bytes(stmt, i)));
      return type == ado::adDate ? DateFromText(text) : vb::Variant(text);
    }
  }
}

// One cell of the current row, read straight into the row that holds it: the row constructs
// its value from this, so that no value is made first and moved there.
struct CellOf {
  sqlite3_stmt* stmt;
  int column;
  ado::DataTypeEnum type;
  operator vb::Variant() const {  // NOLINT(google-explicit-constructor): a cell becomes a value
    return ReadValue(stmt, column, type);
  }
};

// Resets a statement (and its bindings) however the run ends.
struct ResetOnExit {
  sqlite3_stmt* stmt;
  ~ResetOnExit() {
    sqlite3_reset(stmt);
    sqlite3_clear_bindings(stmt);
  }
};

}  // namespace

std::unique_ptr<SqliteEngine> SqliteEngine::Open(const std::string& path, bool create) {
  if (sqlite3_libversion_number() < kMinimumVersion) {
    RaiseOpenError(path, fmt::format("SQLite {} is older than 3.35.", sqlite3_libversion()));
  }
  if (!create && !std::filesystem::exists(path)) RaiseOpenError(path, "the file does not exist.");
  sqlite3* raw = nullptr;
  const int flags = SQLITE_OPEN_READWRITE | (create ? SQLITE_OPEN_CREATE : 0);
  const int rc = sqlite3_open_v2(path.c_str(), &raw, flags, nullptr);
  Db db(raw);
  if (rc != SQLITE_OK) RaiseOpenError(path, raw != nullptr ? sqlite3_errmsg(raw) : "out of memory");
  sqlite3_extended_result_codes(db.get(), 1);
  sqlite3_busy_timeout(db.get(), kBusyTimeoutMs);
  std::unique_ptr<SqliteEngine> engine(new SqliteEngine(std::move(db)));
  try {
    // WAL lets readers go on while one writer writes; NORMAL sync is safe in WAL mode.
    (void)engine->Execute("PRAGMA journal_mode=WAL");
    (void)engine->Execute("PRAGMA synchronous=NORMAL");
    (void)engine->Execute("PRAGMA foreign_keys=ON");
    (void)engine->Execute(fmt::format("PRAGMA cache_size=-{}", kCacheKiB));
  } catch (const vb::ComError& e) {
    RaiseOpenError(path, e.description());
  }
  return engine;
}

SqliteEngine::Prepared& SqliteEngine::Prepare(std::string_view sql) {
  if (Prepared* cached = cache_.Find(sql)) {
    // Another connection's schema change may have changed what "select *" returns.
    if (static_cast<std::size_t>(sqlite3_column_count(cached->stmt.get())) !=
        cached->columns.size()) {
      cached->columns = DescribeColumns(cached->stmt.get());
    }
    return *cached;
  }
  RequireUtf8(sql, "the statement");
  Prepared prepared{Compile(sql, SQLITE_PREPARE_PERSISTENT), {}};
  prepared.columns = DescribeColumns(prepared.stmt.get());
  Prepared* added = nullptr;
  (void)cache_.Add(std::string(sql), std::move(prepared), &added);
  return *added;
}

SqliteEngine::Stmt SqliteEngine::Compile(std::string_view sql, unsigned flags) {
  sqlite3_stmt* raw = nullptr;
  const char* tail = nullptr;
  const int rc =
      sqlite3_prepare_v3(db_.get(), sql.data(), static_cast<int>(sql.size()), flags, &raw, &tail);
  Stmt stmt(raw);
  if (rc != SQLITE_OK) RaiseStatementError(db_.get(), rc, sql);
  if (stmt == nullptr ||
      std::string_view(tail).find_first_not_of(" \t\r\n;") != std::string::npos) {
    throw vb::ComError(kSqlError, std::string(kConnectionSource),
                       fmt::format("Exactly one statement is allowed: {}", sql));
  }
  return stmt;
}

std::shared_ptr<sqlite3_stmt> SqliteEngine::Available(const Prepared& prepared,
                                                      std::string_view sql) {
  if (prepared.stmt.use_count() == 1) return prepared.stmt;
  return Compile(sql, 0);
}

std::vector<Column> SqliteEngine::DescribeColumns(sqlite3_stmt* stmt) const {
  const int count = sqlite3_column_count(stmt);
  std::vector<Column> columns(static_cast<std::size_t>(count));
  for (int i = 0; i < count; ++i) {
    Column& column = columns[static_cast<std::size_t>(i)];
    column.name = sqlite3_column_name(stmt, i);
    const DeclaredType declared = FromDeclaration(sqlite3_column_decltype(stmt, i));
    column.type = declared.type;
    column.definedSize = declared.size;
    const char* table = sqlite3_column_table_name(stmt, i);
    if (table == nullptr || declared.type == ado::adEmpty) continue;
    column.table = table;
    column.baseName = sqlite3_column_origin_name(stmt, i);
    int notNull = 0;
    int primaryKey = 0;
    int autoIncrement = 0;
    const char* declaration = nullptr;
    sqlite3_table_column_metadata(db_.get(), sqlite3_column_database_name(stmt, i), table,
                                  column.baseName.c_str(), &declaration, nullptr, &notNull,
                                  &primaryKey, &autoIncrement);
    column.key = primaryKey != 0;
    // An INTEGER PRIMARY KEY is the row id: SQLite numbers it.
    column.generated = column.key && (autoIncrement != 0 || vb::UCase(declaration) == "INTEGER");
    column.attributes =
        ColumnAttributes(column.type, !column.generated, notNull == 0 && !column.key, column.key);
  }
  return columns;
}

void SqliteEngine::Bind(sqlite3_stmt* stmt, std::span<const vb::Variant> params,
                        std::string_view sql) {
  if (static_cast<std::size_t>(sqlite3_bind_parameter_count(stmt)) != params.size()) {
    throw vb::ComError(kSqlError, std::string(kConnectionSource),
                       fmt::format("The statement takes {} values, {} given: {}",
                                   sqlite3_bind_parameter_count(stmt), params.size(), sql));
  }
  for (std::size_t k = 0; k < params.size(); ++k) {
    const int i = static_cast<int>(k) + 1;
    const int rc = std::visit(
        [&](const auto& v) -> int {
          using T = std::decay_t<decltype(v)>;
          if constexpr (std::is_same_v<T, bool>) {
            return sqlite3_bind_int(stmt, i, v ? -1 : 0);
          } else if constexpr (std::is_same_v<T, int16_t> || std::is_same_v<T, int32_t>) {
            return sqlite3_bind_int(stmt, i, v);
          } else if constexpr (std::is_same_v<T, double>) {
            return sqlite3_bind_double(stmt, i, v);
          } else if constexpr (std::is_same_v<T, vb::Date>) {
            const std::string iso = v.ToIso();
            return sqlite3_bind_text(stmt, i, iso.data(), static_cast<int>(iso.size()),
                                     SQLITE_TRANSIENT);
          } else if constexpr (std::is_same_v<T, std::string>) {
            RequireBoundText(v, static_cast<std::size_t>(i));
            return sqlite3_bind_text(stmt, i, v.data(), static_cast<int>(v.size()), SQLITE_STATIC);
          } else {
            return sqlite3_bind_null(stmt, i);
          }
        },
        params[k].storage());
    if (rc != SQLITE_OK) RaiseStatementError(db_.get(), rc, sql);
  }
}

Result SqliteEngine::Run(Prepared& prepared, std::span<const vb::Variant> params,
                         std::string_view sql) {
  const std::shared_ptr<sqlite3_stmt> owner = Available(prepared, sql);
  sqlite3_stmt* stmt = owner.get();
  const ResetOnExit reset{stmt};
  Bind(stmt, params, sql);
  Result result{prepared.columns, {}, -1};
  const std::vector<Column>& columns = prepared.columns.All();
  const std::size_t width = columns.size();
  int rc = SQLITE_ROW;
  while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) {
    auto& row = result.rows.emplace_back();
    row.reserve(width);
    for (std::size_t i = 0; i < width; ++i) {
      row.emplace_back(CellOf{stmt, static_cast<int>(i), columns[i].type});
    }
  }
  if (rc != SQLITE_DONE) RaiseStatementError(db_.get(), rc, sql);
  for (std::size_t i = 0; i < width; ++i) {
    if (columns[i].type == ado::adEmpty) SettleComputedColumn(result.columns[i], i, result.rows);
  }
  if (!sqlite3_stmt_readonly(stmt)) result.rowsAffected = sqlite3_changes64(db_.get());
  return result;
}

Result SqliteEngine::Execute(std::string_view sql, std::span<const vb::Variant> params) {
  // Outside a transaction a data-changing statement is one of its own: SQLite takes the write
  // lock when the statement starts (waiting for other writers as BEGIN IMMEDIATE does) and
  // undoes all of it when it fails, so no explicit BEGIN … COMMIT is needed around it.
  Prepared& prepared = Prepare(sql);
  if (!streams_.empty() && sqlite3_stmt_readonly(prepared.stmt.get()) == 0) HoldStreams();
  Result result = Run(prepared, params, sql);
  NoteStatement(sql);
  if (ChangesSchema(sql)) cache_.TakeAll();
  return result;
}

// A query's rows stepped as they are read. It owns its statement (shared with the engine's
// cache) and its bound values, and resets the statement when it is done. Before the engine
// writes, it reads what is left into memory: a read left open would keep the connection on an
// old snapshot, which a write transaction cannot start from.
class SteppedRows final : public ado::RowSource {
 public:
  SteppedRows(SqliteEngine& engine, std::shared_ptr<sqlite3_stmt> stmt,
              std::vector<vb::Variant> params, std::vector<ado::DataTypeEnum> types,
              std::string sql)
      : engine_(&engine),
        stmt_(std::move(stmt)),
        params_(std::move(params)),
        types_(std::move(types)),
        sql_(std::move(sql)) {
    engine_->streams_.push_back(this);
  }
  ~SteppedRows() override { Finish(); }
  SteppedRows(const SteppedRows&) = delete;
  SteppedRows& operator=(const SteppedRows&) = delete;

  [[nodiscard]] sqlite3_stmt* Statement() const { return stmt_.get(); }
  [[nodiscard]] const std::vector<vb::Variant>& Params() const { return params_; }

  bool Next(std::vector<vb::Variant>& values) override {
    if (next_ < held_.size()) {
      values = std::move(held_[next_++]);
      return true;
    }
    return Step(values);
  }

  // Reads every row left into memory and releases the statement.
  void Hold() {
    std::vector<vb::Variant> values;
    while (Step(values)) held_.push_back(std::move(values));
  }

 private:
  bool Step(std::vector<vb::Variant>& values) {
    if (done_) return false;
    const int rc = sqlite3_step(stmt_.get());
    if (rc == SQLITE_ROW) {
      values.clear();
      for (std::size_t i = 0; i < types_.size(); ++i) {
        values.emplace_back(CellOf{stmt_.get(), static_cast<int>(i), types_[i]});
      }
      return true;
    }
    Finish();
    if (rc != SQLITE_DONE) RaiseStatementError(sqlite3_db_handle(stmt_.get()), rc, sql_);
    return false;
  }

  void Finish() {
    if (done_) return;
    done_ = true;
    sqlite3_reset(stmt_.get());
    sqlite3_clear_bindings(stmt_.get());
    std::erase(engine_->streams_, this);
  }

  SqliteEngine* engine_;
  std::shared_ptr<sqlite3_stmt> stmt_;
  std::vector<vb::Variant> params_;
  std::vector<ado::DataTypeEnum> types_;
  std::string sql_;
  std::vector<std::vector<vb::Variant>> held_;
  std::size_t next_ = 0;
  bool done_ = false;
};

void SqliteEngine::HoldStreams() {
  while (!streams_.empty()) streams_.back()->Hold();
}

StreamedResult SqliteEngine::Stream(std::string_view sql, std::span<const vb::Variant> params) {
  Prepared& prepared = Prepare(sql);
  const bool computed = std::any_of(prepared.columns.begin(), prepared.columns.end(),
                                    [](const Column& c) { return c.type == ado::adEmpty; });
  if (computed || sqlite3_stmt_readonly(prepared.stmt.get()) == 0) {
    return Engine::Stream(sql, params);
  }
  std::vector<ado::DataTypeEnum> types;
  types.reserve(prepared.columns.size());
  for (const Column& column : prepared.columns) types.push_back(column.type);
  auto rows = std::make_unique<SteppedRows>(*this, Available(prepared, sql),
                                            std::vector<vb::Variant>(params.begin(), params.end()),
                                            std::move(types), std::string(sql));
  // The source binds its own copy of the values: they must live as long as the statement runs.
  Bind(rows->Statement(), rows->Params(), sql);
  NoteStatement(sql);
  return {prepared.columns, std::move(rows)};
}

void SqliteEngine::Begin() {
  HoldStreams();
  (void)Run(Prepare("BEGIN IMMEDIATE"), {}, "BEGIN IMMEDIATE");
}

void SqliteEngine::Commit() {
  HoldStreams();
  (void)Run(Prepare("COMMIT"), {}, "COMMIT");
}

void SqliteEngine::Rollback() noexcept {
  try {
    HoldStreams();
  } catch (...) {  // NOLINT(bugprone-empty-catch): the rollback goes ahead all the same
  }
  if (InTransaction()) sqlite3_exec(db_.get(), "ROLLBACK", nullptr, nullptr, nullptr);
}

bool SqliteEngine::InTransaction() const { return sqlite3_get_autocommit(db_.get()) == 0; }

// The file's data version moves with every commit of another connection, and this
// connection's own writes (committed or not) move its change count; schema changes move the
// generation. Inside a transaction there is no mark (what it wrote may yet be rolled back, which
// moves none of them); a failure gives none either.
std::string SqliteEngine::ChangeMark() noexcept {
  if (sqlite3_get_autocommit(db_.get()) == 0) return {};
  if (markHeld_ && !heldMark_.empty() && sqlite3_total_changes64(db_.get()) == changesAtHeldMark_ &&
      SchemaGeneration() == generationAtHeldMark_) {
    return heldMark_;
  }
  if (!dataVersion_) {
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v3(db_.get(), "PRAGMA data_version", -1, SQLITE_PREPARE_PERSISTENT, &stmt,
                           nullptr) != SQLITE_OK) {
      sqlite3_finalize(stmt);
      return {};
    }
    dataVersion_.reset(stmt);
  }
  sqlite3_stmt* stmt = dataVersion_.get();
  const bool read = sqlite3_step(stmt) == SQLITE_ROW;
  const sqlite3_int64 version = read ? sqlite3_column_int64(stmt, 0) : 0;
  sqlite3_reset(stmt);
  if (!read) return {};
  try {
    std::string mark =
        fmt::format("{}.{}.{}", version, sqlite3_total_changes64(db_.get()), SchemaGeneration());
    if (markHeld_) {
      heldMark_ = mark;
      changesAtHeldMark_ = sqlite3_total_changes64(db_.get());
      generationAtHeldMark_ = SchemaGeneration();
    }
    return mark;
  } catch (...) {
    return {};
  }
}

// The connection's own writes move its change count or its schema generation, which the held
// mark is checked against: the data version alone (other connections' commits) is not read.
void SqliteEngine::HoldChangeMark(bool held) noexcept {
  markHeld_ = held;
  heldMark_.clear();
}

bool SqliteEngine::TableExists(std::string_view table) {
  const vb::Variant name{table};
  return !Execute(
              "SELECT 1 FROM sqlite_master WHERE type IN ('table', 'view') AND name = ? "
              "COLLATE NOCASE",
              std::span(&name, 1))
              .rows.empty();
}

std::vector<CatalogTable> SqliteEngine::ReadCatalog() {
  const Result result = Execute(
      "SELECT m.name, p.name, p.type, p.pk FROM sqlite_master AS m JOIN pragma_table_info(m.name) "
      "AS p "
      "WHERE m.type IN ('table', 'view') AND m.name NOT LIKE 'sqlite!_%' ESCAPE '!' "
      "ORDER BY m.name, p.cid");
  std::vector<CatalogTable> tables;
  for (const auto& row : result.rows) {
    const auto& table = std::get<std::string>(row[0].storage());
    if (tables.empty() || tables.back().name != table) tables.push_back({table, {}});
    const std::string declaration =
        row[2].IsString() ? std::get<std::string>(row[2].storage()) : "";
    tables.back().columns.push_back({std::get<std::string>(row[1].storage()),
                                     FromDeclaration(declaration.c_str()).type == ado::adDate,
                                     row[3] != vb::Variant(int32_t{0})});
  }
  return tables;
}

std::string SqliteEngine::ColumnType(ColumnKind kind, int32_t size) {
  switch (kind) {
    case ColumnKind::AutoKey:
      return "INTEGER PRIMARY KEY AUTOINCREMENT";
    case ColumnKind::Integer:
      return "INTEGER";
    case ColumnKind::SmallInt:
      return "SMALLINT";
    case ColumnKind::Boolean:
      return "BOOLEAN";
    case ColumnKind::Date:
      return "DATETIME";
    case ColumnKind::Double:
      return "DOUBLE";
    case ColumnKind::Text:
      return fmt::format("VARCHAR({}) COLLATE NOCASE", size);
    case ColumnKind::LongText:
      return "TEXT COLLATE NOCASE";
  }
  return {};
}

}  // namespace kvdata::engine::sqlite
