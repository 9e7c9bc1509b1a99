#include "kvdata/DataConnection.h"

#include <fmt/format.h>

#include <atomic>
#include <charconv>
#include <limits>
#include <unordered_map>
#include <unordered_set>

#include "ado/Errors.h"
#include "kvdata/ConnectionString.h"
#include "kvdata/Errors.h"
#include "kvdata/TableStore.h"
#include "kvdata/TranslationCache.h"
#include "kvdata/engine/EngineError.h"
#include "kvdata/engine/StatementCache.h"
#if KV_WITH_POSTGRESQL
#include "kvdata/engine/postgres/PgEngine.h"
#endif
#include "kvdata/engine/sqlite/SqliteEngine.h"
#include "vb/ComError.h"
#include "vb/Convert.h"

namespace kvdata {
namespace {

// The rows a statement changed, as a 32-bit count (-1 when the engine does not tell).
int32_t RecordsAffected(const engine::Result& result) {
  return static_cast<int32_t>(
      std::clamp<int64_t>(result.rowsAffected, -1, std::numeric_limits<int32_t>::max()));
}

// The trace keeps at most this many statements; the older half goes when it is full.
constexpr std::size_t kTraceLimit = 10000;
// Translations kept for statements that come again (settings, labels, the alert count), and
// for as many shapes of statements that differ only in their numbers (a record opened by its
// key).
constexpr std::size_t kTranslationCacheSize = 2048;
// Shapes of answers kept (field metadata and store by statement as the engine runs it); all go
// when the count is reached, as a client running that many different queries builds them anew.
constexpr std::size_t kShapeLimit = 512;

std::unique_ptr<engine::Engine> OpenEngine(const ConnectionSettings& settings, bool create) {
  if (settings.provider == Provider::SQLite) {
    return engine::sqlite::SqliteEngine::Open(settings.path, create);
  }
#if KV_WITH_POSTGRESQL
  return engine::postgres::PgEngine::Open(settings.login);
#else
  throw vb::ComError(kOpenFailed, std::string(kConnectionSource),
                     "This build has no PostgreSQL support: the database " +
                         settings.DisplayName() +
                         " cannot be opened. Rebuild kvAction with KV_WITH_POSTGRESQL=ON.");
#endif
}

void RequireAdoOptions(int32_t cursorType, int32_t cursorLocation, int32_t lockType) {
  const bool valid = cursorType >= ado::adOpenUnspecified && cursorType <= ado::adOpenStatic &&
                     cursorLocation >= ado::adUseNone && cursorLocation <= ado::adUseClient &&
                     lockType >= ado::adLockUnspecified && lockType <= ado::adLockBatchOptimistic;
  if (!valid) throw ado::Error(ado::kBadArguments);
}

// The table a result can be written back to: every column read from a table comes from the
// same one, and the whole of that table's key is among them.
std::optional<TableLayout> WriteTarget(const std::vector<engine::Column>& columns,
                                       const std::vector<engine::CatalogTable>& catalog) {
  TableLayout layout;
  for (std::size_t i = 0; i < columns.size(); ++i) {
    const engine::Column& column = columns[i];
    layout.columns.push_back(column.baseName);
    if (column.table.empty()) continue;
    if (!layout.table.empty() && layout.table != column.table) return std::nullopt;
    layout.table = column.table;
    if (column.key) layout.keys.push_back(i);
  }
  const auto table = std::find_if(catalog.begin(), catalog.end(),
                                  [&](const auto& t) { return t.name == layout.table; });
  if (layout.keys.empty() || table == catalog.end()) return std::nullopt;
  const auto keyCount = std::count_if(table->columns.begin(), table->columns.end(),
                                      [](const auto& c) { return c.key; });
  if (static_cast<std::size_t>(keyCount) != layout.keys.size()) return std::nullopt;
  return layout;
}

bool SameColumn(const engine::Column& a, const engine::Column& b) {
  return a.type == b.type && a.definedSize == b.definedSize && a.attributes == b.attributes &&
         a.key == b.key && a.generated == b.generated && a.name == b.name && a.table == b.table &&
         a.baseName == b.baseName;
}

bool SameColumns(const engine::Columns& a, const engine::Columns& b) {
  return a.SharesWith(b) || std::equal(a.begin(), a.end(), b.begin(), b.end(), SameColumn);
}

// The fields of a result as a record set shows them; without a table to write back to, none is
// updatable.
ado::FieldList FieldsOf(const engine::Columns& columns, bool writable) {
  auto fields = std::make_shared<std::vector<ado::FieldInfo>>();
  fields->reserve(columns.size());
  for (const auto& column : columns) {
    int32_t attributes = column.attributes;
    if (!writable) attributes &= ~(ado::adFldUpdatable | ado::adFldUnknownUpdatable);
    fields->push_back({column.name, column.type, column.definedSize, attributes});
  }
  return fields;
}

// What every record set opened over one statement shares while the catalog, the engine and the
// locale stay as they were: the columns the engine described, the fields built from them and
// the store that writes rows back. Built on the first open, checked against the columns on each.
struct AnswerShape {
  engine::Columns columns;
  ado::FieldList readOnlyFields;
  // Set once a record set that may be edited was opened: its fields and store (a TableStore, or
  // a RefusingStore when the answer cannot be written back).
  ado::FieldList editableFields;
  std::shared_ptr<ado::RowStore> editableStore;
  std::shared_ptr<ado::RowStore> refusingStore;
};

}  // namespace

struct DataConnection::Impl {
  std::string connectionString;
  ConnectionSettings settings;
  std::shared_ptr<engine::Engine> engine;
  std::vector<TracedStatement> trace;
  std::shared_ptr<const vb::Clock> clock = vb::SystemClock::Instance();
  std::shared_ptr<const vb::Locale> locale = std::make_shared<vb::Locale>(vb::Locale::EnUS());
  int transactionDepth = 0;
  bool rollbackOnly = false;
  // The engine's last change mark and the stamp given for it (see ChangeStamp).
  std::string changeMark;
  uint64_t changeStamp = 0;

  // The catalog as the translator and write-back need it, read again after schema changes.
  uint64_t catalogGeneration = std::numeric_limits<uint64_t>::max();
  std::vector<engine::CatalogTable> catalog;
  std::unordered_map<std::string, std::string> canonicalNames;  // by lower-case name
  std::unordered_set<std::string> dateColumns;                  // lower-case names
  // Translations by statement text and by shape. They depend on the catalog and the locale too,
  // so both a schema change and a new locale drop them; the clock is checked on every use.
  TranslationCache translations{kTranslationCacheSize};
  // The values a keyed statement runs with (RunKeyed), kept for their room.
  std::vector<vb::Variant> keyedValues;
  // Answer shapes by engine text; dropped with the translations.
  std::unordered_map<std::string, AnswerShape, engine::TextHash, std::equal_to<>> shapes;

  void ForgetShapes() {
    translations.Clear();
    shapes.clear();
  }

  // The shape of an answer to text with these columns, made anew when the columns changed.
  AnswerShape& ShapeFor(const std::string& text, const engine::Columns& columns) {
    if (const auto it = shapes.find(text); it != shapes.end()) {
      if (SameColumns(it->second.columns, columns)) {
        it->second.columns = columns;  // the engine's own description: compared at once next time
        return it->second;
      }
      shapes.erase(it);
    }
    if (shapes.size() >= kShapeLimit) shapes.clear();
    AnswerShape shape{columns, FieldsOf(columns, false), nullptr, nullptr, nullptr};
    return shapes.emplace(text, std::move(shape)).first->second;
  }

  const std::vector<engine::CatalogTable>& Catalog() {
    if (catalogGeneration == engine->SchemaGeneration()) return catalog;
    ForgetShapes();
    catalog = engine->ReadCatalog();
    canonicalNames.clear();
    dateColumns.clear();
    for (const auto& table : catalog) {
      canonicalNames.emplace(vb::LCase(table.name), table.name);
      for (const auto& column : table.columns) {
        canonicalNames.emplace(vb::LCase(column.name), column.name);
        if (column.isDate) dateColumns.insert(vb::LCase(column.name));
      }
    }
    catalogGeneration = engine->SchemaGeneration();
    return catalog;
  }

  void Record(std::string_view sql, std::optional<RecordsetOptions> options) {
    Record(std::string(sql), options);
  }
  void Record(std::string sql, std::optional<RecordsetOptions> options) {
    if (trace.size() >= kTraceLimit) trace.erase(trace.begin(), trace.begin() + kTraceLimit / 2);
    trace.push_back({std::move(sql), options});
  }

  // Renders one statement for the engine: the translator with this connection's catalog, clock
  // and locale.
  sql::Translation Render(std::string_view statement) {
    const sql::Context context{
        *clock, *locale,
        [this](std::string_view column) { return dateColumns.contains(vb::LCase(column)); },
        [this](std::string_view name) -> std::optional<std::string> {
          const auto it = canonicalNames.find(vb::LCase(name));
          if (it == canonicalNames.end()) return std::nullopt;
          return it->second;
        }};
    return sql::TranslateBound(statement, settings.dialect, engine->Target(), context);
  }

  // The statement as the engine runs it, from the cache while the clock reads as it did.
  TranslationCache::Shared Translate(std::string_view sql) {
    (void)Catalog();
    return translations.Find(sql, *clock,
                             [this](std::string_view statement) { return Render(statement); });
  }

  // The statement's answer, with the text the engine ran; options are those of the record set
  // opened over it, if one is.
  std::pair<engine::Result, TranslationCache::Shared> Run(
      std::string_view sql, std::optional<RecordsetOptions> options = std::nullopt) {
    Record(sql, options);
    TranslationCache::Shared translation = Translate(sql);
    engine::Result result = engine->Execute(translation->text, translation->values);
    return {std::move(result), std::move(translation)};
  }

  // The answer to head followed by key, with the translation the engine ran.
  std::pair<engine::Result, TranslationCache::Shared> RunKeyed(
      std::string_view head, int32_t key, std::optional<RecordsetOptions> options = std::nullopt) {
    std::string statement;
    statement.reserve(head.size() + 11);
    statement.append(head);
    char digits[12];
    statement.append(digits, std::to_chars(std::begin(digits), std::end(digits), key).ptr);
    Record(std::move(statement), options);
    const std::string& text = trace.back().text;  // stays until the next statement is recorded
    (void)Catalog();
    const TranslationCache::Keyed* keyed = translations.FindKeyed(
        head, key, *clock, [this](std::string_view sql) { return Render(sql); });
    if (keyed == nullptr) {
      TranslationCache::Shared translation = Translate(text);
      engine::Result result = engine->Execute(translation->text, translation->values);
      return {std::move(result), std::move(translation)};
    }
    // The statement's few values copied (into room kept from the last time) to bind the key in
    // its place.
    keyedValues.assign(keyed->translation->values.begin(), keyed->translation->values.end());
    keyedValues[keyed->position] = key;
    engine::Result result = engine->Execute(keyed->translation->text, keyedValues);
    return {std::move(result), keyed->translation};
  }

  // The fields and store of a record set over an answer: shared by every record set opened
  // over the same statement.
  std::pair<ado::FieldList, std::shared_ptr<ado::RowStore>> FieldsAndStore(AnswerShape& shape,
                                                                           bool editable) {
    if (editable && !shape.editableFields) {
      // The catalog is current: MakeRecordset read it before finding the shape.
      if (const auto target = WriteTarget(shape.columns.All(), catalog)) {
        shape.editableFields = FieldsOf(shape.columns, true);
        shape.editableStore = std::make_shared<TableStore>(engine, *target, locale);
      } else {
        shape.editableFields = shape.readOnlyFields;
      }
    }
    if (editable && shape.editableStore) return {shape.editableFields, shape.editableStore};
    if (!shape.refusingStore) shape.refusingStore = std::make_shared<RefusingStore>(locale);
    return {shape.readOnlyFields, shape.refusingStore};
  }

  ado::RecordsetPtr MakeRecordset(engine::Result result, const std::string& text,
                                  int32_t cursorType, int32_t cursorLocation, int32_t lockType) {
    (void)Catalog();  // a schema change drops the shapes first
    AnswerShape& shape = ShapeFor(text, result.columns);
    auto [fields, store] = FieldsAndStore(shape, lockType != ado::adLockReadOnly);
    std::vector<ado::Row> rows;
    rows.reserve(result.rows.size());
    // The record set keeps originals only for rows that can be edited.
    for (auto& values : result.rows) rows.push_back({std::move(values), {}, false});
    auto recordset = ado::Recordset::Create();
    recordset->SetLocale(*locale);
    recordset->OpenWithRows(std::move(fields), std::move(rows),
                            static_cast<ado::CursorTypeEnum>(cursorType),
                            static_cast<ado::CursorLocationEnum>(cursorLocation),
                            static_cast<ado::LockTypeEnum>(lockType), std::move(store));
    return recordset;
  }

  // A forward-only, read-only record set over rows read as the cursor moves: memory follows
  // the current row, not the answer. Going back runs the same statement again.
  ado::RecordsetPtr StreamRecordset(std::string_view sql, int32_t cursorLocation) {
    Record(sql, RecordsetOptions{ado::adOpenForwardOnly, cursorLocation, ado::adLockReadOnly});
    TranslationCache::Shared translation = Translate(sql);
    engine::StreamedResult first = engine->Stream(translation->text, translation->values);
    (void)Catalog();
    ado::FieldList fields = ShapeFor(translation->text, first.columns).readOnlyFields;
    // The first run is the one already started; later runs start the statement again.
    auto pending = std::make_shared<std::unique_ptr<ado::RowSource>>(std::move(first.rows));
    // It keeps the engine and the locale the record set reads with alive.
    ado::RowSourceFactory query = [engine = engine, locale = locale,
                                   translation = std::move(translation),
                                   pending]() -> std::unique_ptr<ado::RowSource> {
      (void)locale;
      if (*pending) return std::move(*pending);
      return engine->Stream(translation->text, translation->values).rows;
    };
    auto recordset = ado::Recordset::Create();
    recordset->SetLocale(*locale);
    recordset->OpenStreaming(std::move(fields), std::move(query),
                             static_cast<ado::CursorLocationEnum>(cursorLocation));
    return recordset;
  }
};

DataConnection::DataConnection(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

DataConnection::~DataConnection() = default;

std::shared_ptr<DataConnection> DataConnection::Open(std::string_view connectionString,
                                                     bool create) {
  auto impl = std::make_unique<Impl>();
  impl->connectionString = std::string(connectionString);
  impl->settings = ParseConnectionString(connectionString);
  impl->engine = OpenEngine(impl->settings, create);
  return std::shared_ptr<DataConnection>(new DataConnection(std::move(impl)));
}

const std::string& DataConnection::ConnectionString() const { return impl_->connectionString; }

std::string DataConnection::DatabaseName() const { return impl_->settings.DisplayName(); }

sql::Dialect DataConnection::Dialect() const { return impl_->settings.dialect; }

ado::RecordsetPtr DataConnection::OpenRecordset(std::string_view sql, int32_t cursorType,
                                                int32_t cursorLocation, int32_t lockType) {
  RequireAdoOptions(cursorType, cursorLocation, lockType);
  if (cursorType == ado::adOpenForwardOnly && lockType == ado::adLockReadOnly) {
    return impl_->StreamRecordset(sql, cursorLocation);
  }
  auto [result, translation] =
      impl_->Run(sql, RecordsetOptions{cursorType, cursorLocation, lockType});
  return impl_->MakeRecordset(std::move(result), translation->text, cursorType, cursorLocation,
                              lockType);
}

ado::RecordsetPtr DataConnection::OpenKeyedRecordset(std::string_view head, int32_t key,
                                                     int32_t cursorType, int32_t cursorLocation,
                                                     int32_t lockType) {
  RequireAdoOptions(cursorType, cursorLocation, lockType);
  if (cursorType == ado::adOpenForwardOnly && lockType == ado::adLockReadOnly) {
    return impl_->StreamRecordset(std::string(head) + std::to_string(key), cursorLocation);
  }
  auto [result, translation] =
      impl_->RunKeyed(head, key, RecordsetOptions{cursorType, cursorLocation, lockType});
  return impl_->MakeRecordset(std::move(result), translation->text, cursorType, cursorLocation,
                              lockType);
}

engine::Result DataConnection::ReadAnswer(std::string_view sql) {
  return std::move(impl_->Run(sql).first);
}

std::string DataConnection::EngineText(std::string_view sql) { return impl_->Translate(sql)->text; }

ado::RecordsetPtr DataConnection::Execute(std::string_view sql, int32_t* recordsAffected,
                                          int32_t options) {
  constexpr int32_t kExecuteNoRecords = 0x80;
  if ((options & ~kExecuteNoRecords) != ado::adCmdText && options != ado::adCmdUnspecified) {
    throw ado::Error(ado::kBadArguments);
  }
  auto [result, translation] = impl_->Run(sql);
  if (recordsAffected != nullptr) *recordsAffected = RecordsAffected(result);
  if (result.columns.empty() || (options & kExecuteNoRecords) != 0) {
    return ado::Recordset::Create();
  }
  return impl_->MakeRecordset(std::move(result), translation->text, ado::adOpenForwardOnly,
                              ado::adUseServer, ado::adLockReadOnly);
}

int32_t DataConnection::ExecuteKeyed(std::string_view head, int32_t key) {
  return RecordsAffected(impl_->RunKeyed(head, key).first);
}

DataConnection::Transaction::Transaction(DataConnection& connection)
    : connection_(connection), outermost_(connection.impl_->transactionDepth == 0) {
  if (outermost_) {
    connection_.impl_->engine->Begin();
    connection_.impl_->rollbackOnly = false;
  }
  ++connection_.impl_->transactionDepth;
}

DataConnection::Transaction::~Transaction() {
  Impl& impl = *connection_.impl_;
  --impl.transactionDepth;
  if (done_) return;
  // An inner scope that did not finish spoils the whole transaction.
  if (outermost_) {
    impl.engine->Rollback();
  } else {
    impl.rollbackOnly = true;
  }
}

void DataConnection::Transaction::Commit() {
  Impl& impl = *connection_.impl_;
  if (done_) return;
  done_ = true;
  if (!outermost_) return;
  if (impl.rollbackOnly) {
    impl.engine->Rollback();
    throw vb::ComError(kEngineError, std::string(kConnectionSource),
                       "The transaction was rolled back: a part of it did not complete.");
  }
  try {
    impl.engine->Commit();
  } catch (...) {
    impl.engine->Rollback();
    throw;
  }
}

bool DataConnection::InTransaction() const { return impl_->transactionDepth > 0; }

const std::vector<TracedStatement>& DataConnection::Trace() const { return impl_->trace; }

void DataConnection::ClearTrace() { impl_->trace.clear(); }

void DataConnection::SetClock(std::shared_ptr<const vb::Clock> clock) {
  vb::Require(clock);
  impl_->clock = std::move(clock);
}

void DataConnection::SetLocale(const vb::Locale& locale) {
  // A pooled connection is given its locale again for each request: the statements it learned
  // stay good while the date form is the same.
  if (impl_->locale && impl_->locale->ShortDatePattern() == locale.ShortDatePattern()) return;
  impl_->locale = std::make_shared<vb::Locale>(locale);
  impl_->ForgetShapes();
}

const vb::Clock& DataConnection::Clock() const { return *impl_->clock; }

const vb::Locale& DataConnection::Locale() const { return *impl_->locale; }

engine::Engine& DataConnection::Engine() { return *impl_->engine; }

// Stamps come from one counter of the process, so equal stamps mean the same connection and the
// same mark; an engine that cannot tell ("") gets a new stamp every time.
uint64_t DataConnection::ChangeStamp() {
  static std::atomic<uint64_t> lastStamp{0};
  std::string mark = impl_->engine->ChangeMark();
  if (impl_->changeStamp == 0 || mark.empty() || mark != impl_->changeMark) {
    impl_->changeMark = std::move(mark);
    impl_->changeStamp = ++lastStamp;
  }
  return impl_->changeStamp;
}

void DataConnection::HoldChangeStamp(bool held) noexcept { impl_->engine->HoldChangeMark(held); }

void DataConnection::WrapEngine(
    const std::function<std::shared_ptr<engine::Engine>(std::shared_ptr<engine::Engine>)>& wrap) {
  std::shared_ptr<engine::Engine> wrapped = wrap(impl_->engine);
  impl_->engine = std::move(vb::Require(wrapped));
  impl_->shapes.clear();  // their stores write through the engine they were made with
}

void RunInTransaction(DataConnection& connection, const std::function<void()>& work) {
  const bool nested = connection.InTransaction();
  for (int attempt = 1;; ++attempt) {
    try {
      DataConnection::Transaction transaction(connection);
      work();
      transaction.Commit();
      return;
    } catch (const engine::EngineError& e) {
      if (nested || !e.transient() || attempt == kMaxTransactionAttempts) throw;
    }
  }
}

}  // namespace kvdata
