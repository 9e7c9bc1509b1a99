#include "kvdata/DataConnection.h"

#include <fmt/format.h>

#include <limits>
#include <unordered_map>
#include <unordered_set>

#include "ado/Errors.h"
#include "kvdata/ConnectionString.h"
#include "kvdata/Errors.h"
#include "kvdata/TableStore.h"
#include "kvdata/TranslationCache.h"
#include "kvdata/engine/EngineError.h"
#if KV_WITH_POSTGRESQL
#include "kvdata/engine/postgres/PgEngine.h"
#endif
#include "kvdata/engine/sqlite/SqliteEngine.h"
#include "vb/ComError.h"
#include "vb/Convert.h"

namespace kvdata {
namespace {

// The trace keeps at most this many statements; the older half goes when it is full.
constexpr std::size_t kTraceLimit = 10000;
// Translations kept for statements that come again (settings, labels, the alert count), and
// for as many shapes of statements that differ only in their numbers (a record opened by its
// key).
constexpr std::size_t kTranslationCacheSize = 2048;

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

}  // namespace

struct DataConnection::Impl {
  std::string connectionString;
  ConnectionSettings settings;
  std::shared_ptr<engine::Engine> engine;
  std::vector<std::string> trace;
  std::shared_ptr<const vb::Clock> clock = vb::SystemClock::Instance();
  std::shared_ptr<const vb::Locale> locale = std::make_shared<vb::Locale>(vb::Locale::EnUS());
  int transactionDepth = 0;
  bool rollbackOnly = false;

  // The catalog as the translator and write-back need it, read again after schema changes.
  uint64_t catalogGeneration = std::numeric_limits<uint64_t>::max();
  std::vector<engine::CatalogTable> catalog;
  std::unordered_map<std::string, std::string> canonicalNames;  // by lower-case name
  std::unordered_set<std::string> dateColumns;                  // lower-case names
  // Translations by statement text and by shape. They depend on the catalog and the locale too,
  // so both a schema change and a new locale drop them; the clock is checked on every use.
  TranslationCache translations{kTranslationCacheSize};

  const std::vector<engine::CatalogTable>& Catalog() {
    if (catalogGeneration == engine->SchemaGeneration()) return catalog;
    translations.Clear();
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

  void Record(std::string_view sql) {
    if (trace.size() >= kTraceLimit) trace.erase(trace.begin(), trace.begin() + kTraceLimit / 2);
    trace.emplace_back(sql);
  }

  // The statement as the engine runs it, from the cache while the clock reads as it did.
  TranslationCache::Shared Translate(std::string_view sql) {
    (void)Catalog();
    return translations.Find(sql, *clock, [this](std::string_view statement) {
      const sql::Context context{
          *clock, *locale,
          [this](std::string_view column) { return dateColumns.contains(vb::LCase(column)); },
          [this](std::string_view name) -> std::optional<std::string> {
            const auto it = canonicalNames.find(vb::LCase(name));
            if (it == canonicalNames.end()) return std::nullopt;
            return it->second;
          }};
      return sql::TranslateBound(statement, settings.dialect, engine->Target(), context);
    });
  }

  engine::Result Run(std::string_view sql) {
    Record(sql);
    const TranslationCache::Shared translation = Translate(sql);
    return engine->Execute(translation->text, translation->values);
  }

  ado::RecordsetPtr MakeRecordset(engine::Result result, int32_t cursorType, int32_t cursorLocation,
                                  int32_t lockType) {
    const auto target =
        lockType == ado::adLockReadOnly ? std::nullopt : WriteTarget(result.columns, Catalog());
    std::vector<ado::FieldInfo> fields;
    fields.reserve(result.columns.size());
    for (const auto& column : result.columns) {
      int32_t attributes = column.attributes;
      if (!target) attributes &= ~(ado::adFldUpdatable | ado::adFldUnknownUpdatable);
      fields.push_back({column.name, column.type, column.definedSize, attributes});
    }
    std::vector<ado::Row> rows;
    rows.reserve(result.rows.size());
    // The record set keeps originals only for rows that can be edited.
    for (auto& values : result.rows) rows.push_back({std::move(values), {}, false});
    std::shared_ptr<ado::RowStore> store;
    if (target) {
      store = std::make_shared<TableStore>(engine, *target, locale);
    } else {
      store = std::make_shared<RefusingStore>(locale);
    }
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
    Record(sql);
    TranslationCache::Shared translation = Translate(sql);
    engine::StreamedResult first = engine->Stream(translation->text, translation->values);
    std::vector<ado::FieldInfo> fields;
    fields.reserve(first.columns.size());
    for (const auto& column : first.columns) {
      const int32_t attributes =
          column.attributes & ~(ado::adFldUpdatable | ado::adFldUnknownUpdatable);
      fields.push_back({column.name, column.type, column.definedSize, attributes});
    }
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
  engine::Result result = impl_->Run(sql);
  return impl_->MakeRecordset(std::move(result), cursorType, cursorLocation, lockType);
}

std::string DataConnection::EngineText(std::string_view sql) { return impl_->Translate(sql)->text; }

ado::RecordsetPtr DataConnection::Execute(std::string_view sql, int32_t* recordsAffected,
                                          int32_t options) {
  constexpr int32_t kExecuteNoRecords = 0x80;
  if ((options & ~kExecuteNoRecords) != ado::adCmdText && options != ado::adCmdUnspecified) {
    throw ado::Error(ado::kBadArguments);
  }
  engine::Result result = impl_->Run(sql);
  if (recordsAffected != nullptr) {
    *recordsAffected = static_cast<int32_t>(
        std::clamp<int64_t>(result.rowsAffected, -1, std::numeric_limits<int32_t>::max()));
  }
  if (result.columns.empty() || (options & kExecuteNoRecords) != 0) {
    return ado::Recordset::Create();
  }
  return impl_->MakeRecordset(std::move(result), ado::adOpenForwardOnly, ado::adUseServer,
                              ado::adLockReadOnly);
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

const std::vector<std::string>& DataConnection::Trace() const { return impl_->trace; }

void DataConnection::ClearTrace() { impl_->trace.clear(); }

void DataConnection::SetClock(std::shared_ptr<const vb::Clock> clock) {
  vb::Require(clock);
  impl_->clock = std::move(clock);
}

void DataConnection::SetLocale(const vb::Locale& locale) {
  impl_->locale = std::make_shared<vb::Locale>(locale);
  impl_->translations.Clear();
}

const vb::Clock& DataConnection::Clock() const { return *impl_->clock; }

const vb::Locale& DataConnection::Locale() const { return *impl_->locale; }

engine::Engine& DataConnection::Engine() { return *impl_->engine; }

void DataConnection::WrapEngine(
    const std::function<std::shared_ptr<engine::Engine>(std::shared_ptr<engine::Engine>)>& wrap) {
  std::shared_ptr<engine::Engine> wrapped = wrap(impl_->engine);
  impl_->engine = std::move(vb::Require(wrapped));
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
