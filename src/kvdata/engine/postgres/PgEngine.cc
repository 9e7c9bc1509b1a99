#include "kvdata/engine/postgres/PgEngine.h"

#include <fmt/format.h>

#include <algorithm>
#include <array>
#include <charconv>
#include <cstdlib>

#include "kvdata/Errors.h"
#include "kvdata/engine/EngineError.h"
#include "kvdata/engine/Values.h"
#include "kvdata/engine/postgres/PgErrors.h"

namespace kvdata::engine::postgres {
namespace {

// How both catalog reads select a table column: its number, name, type name and modifier,
// whether it is NOT NULL, an identity, part of the primary key (PgEngine::AddAttribute).
constexpr std::string_view kAttributeColumns =
    "a.attnum, a.attname, t.typname, a.atttypmod, a.attnotnull, a.attidentity <> '', "
    "EXISTS (SELECT 1 FROM pg_index i WHERE i.indrelid = a.attrelid AND i.indisprimary "
    "AND a.attnum = ANY (i.indkey))";

struct TypeMapping {
  ado::DataTypeEnum type = ado::adEmpty;  // adEmpty: settled from the values
  int32_t size = 0;
};

// The ADO type of a PostgreSQL type name (a domain's own name for the library's domains).
TypeMapping MapType(std::string_view name, int typmod) {
  constexpr std::string_view kTextDomain = "vbtext_";
  constexpr int kVarcharHeader = 4;  // typmod of varchar(n) is n + 4
  if (name == "bool" || name == "vbbool") return {ado::adBoolean, FixedSize(ado::adBoolean)};
  if (name == "int2") return {ado::adSmallInt, FixedSize(ado::adSmallInt)};
  if (name == "int4") return {ado::adInteger, FixedSize(ado::adInteger)};
  if (name == "float4" || name == "float8" || name == "numeric") {
    return {ado::adDouble, FixedSize(ado::adDouble)};
  }
  if (name == "timestamp" || name == "timestamptz" || name == "date") {
    return {ado::adDate, FixedSize(ado::adDate)};
  }
  if (name.starts_with(kTextDomain)) {
    return {ado::adVarWChar, std::atoi(std::string(name.substr(kTextDomain.size())).c_str())};
  }
  if ((name == "varchar" || name == "bpchar") && typmod > kVarcharHeader) {
    return {ado::adVarWChar, typmod - kVarcharHeader};
  }
  if (name == "citext" || name == "text" || name == "varchar") {
    return {ado::adLongVarWChar, kLongTextSize};
  }
  return {};
}

bool IsWhole(std::string_view name) { return name == "int2" || name == "int4" || name == "int8"; }

vb::Variant ReadValue(std::string_view text, ValueKind kind, ado::DataTypeEnum type) {
  switch (kind) {
    case ValueKind::Whole: {
      int64_t value = 0;
      std::from_chars(text.data(), text.data() + text.size(), value);
      return WholeNumber(value, type);
    }
    case ValueKind::Fraction:
      return vb::Variant(std::strtod(std::string(text).c_str(), nullptr));
    case ValueKind::Boolean:  // native t/f, or the library's -1/0: false is one letter
      return vb::Variant(text.size() != 1 || (text[0] != 'f' && text[0] != '0'));
    case ValueKind::Date:
      return DateFromText(text);
    case ValueKind::Text:
      break;
  }
  return vb::Variant(text);
}

// One cell of a result, read straight into the row that holds it: the row constructs its value
// from this, so that no value is made first and moved there.
struct CellOf {
  const PGresult* result;
  int row;
  int col;
  ValueKind kind;
  ado::DataTypeEnum type;
  operator vb::Variant() const {  // NOLINT(google-explicit-constructor): a cell becomes a value
    if (PQgetisnull(result, row, col)) return vb::Null;
    return ReadValue(std::string_view(PQgetvalue(result, row, col),
                                      static_cast<std::size_t>(PQgetlength(result, row, col))),
                     kind, type);
  }
};

// The text a parameter other than a text is sent as; nullopt for NULL.
std::optional<std::string> ParamText(const vb::Variant& value) {
  return std::visit(
      [](const auto& v) -> std::optional<std::string> {
        using T = std::decay_t<decltype(v)>;
        if constexpr (std::is_same_v<T, bool>) {
          return v ? "-1" : "0";
        } else if constexpr (std::is_same_v<T, int16_t> || std::is_same_v<T, int32_t>) {
          char digits[12];
          const auto end = std::to_chars(std::begin(digits), std::end(digits), v).ptr;
          return std::string(digits, end);
        } else if constexpr (std::is_same_v<T, double>) {
          return fmt::format("{}", v);
        } else if constexpr (std::is_same_v<T, vb::Date>) {
          return v.ToIso();
        } else if constexpr (std::is_same_v<T, std::string>) {
          return v;
        } else {
          return std::nullopt;
        }
      },
      value.storage());
}

// The statement with each `?` outside quotes numbered as PostgreSQL wants ($1, $2 …).
std::string NumberPlaceholders(std::string_view sql, std::size_t paramCount) {
  std::string out;
  out.reserve(sql.size() + 8);
  std::size_t count = 0;
  char quote = 0;
  for (const char c : sql) {
    if (quote != 0) {
      quote = c == quote ? '\0' : quote;  // a doubled quote closes and reopens: same result
    } else if (c == '\'' || c == '"') {
      quote = c;
    } else if (c == '?') {
      out += fmt::format("${}", ++count);
      continue;
    }
    out += c;
  }
  if (count != paramCount) {
    throw vb::ComError(
        kSqlError, std::string(kConnectionSource),
        fmt::format("The statement takes {} values, {} given: {}", count, paramCount, sql));
  }
  return out;
}

// The savepoint a SAVEPOINT or RELEASE statement names: its last word.
std::string_view SavepointName(std::string_view sql) {
  const auto end = sql.find_last_not_of(" \t\r\n;");
  if (end == std::string_view::npos) return {};
  sql = sql.substr(0, end + 1);
  const auto space = sql.find_last_of(" \t\r\n");
  return space == std::string_view::npos ? sql : sql.substr(space + 1);
}

// A statement's values as the texts libpq sends (nullptr for NULL). A text value is sent from
// where the caller keeps it, for as long as the call lasts; others are written here, in place
// for the few values of the library's own statements.
class ParamTexts {
 public:
  explicit ParamTexts(std::span<const vb::Variant> params) : count_(params.size()) {
    if (count_ > kInline) {
      moreTexts_.resize(count_);
      moreValues_.resize(count_);
    }
    std::string* texts = count_ > kInline ? moreTexts_.data() : texts_.data();
    const char** values = count_ > kInline ? moreValues_.data() : values_.data();
    for (std::size_t k = 0; k < count_; ++k) values[k] = Text(params[k], k, texts[k]);
  }
  ParamTexts(const ParamTexts&) = delete;
  ParamTexts& operator=(const ParamTexts&) = delete;
  [[nodiscard]] std::span<const char* const> Values() const {
    return {count_ > kInline ? moreValues_.data() : values_.data(), count_};
  }

 private:
  static const char* Text(const vb::Variant& value, std::size_t index, std::string& storage) {
    if (const auto* text = std::get_if<std::string>(&value.storage())) {
      RequireBoundText(*text, index + 1);
      return text->c_str();
    }
    std::optional<std::string> written = ParamText(value);
    if (!written) return nullptr;
    storage = std::move(*written);
    return storage.c_str();
  }

  static constexpr std::size_t kInline = 8;
  std::size_t count_;
  std::array<std::string, kInline> texts_;
  std::array<const char*, kInline> values_{};
  std::vector<std::string> moreTexts_;
  std::vector<const char*> moreValues_;
};

}  // namespace

std::unique_ptr<PgEngine> PgEngine::Open(const Login& login) {
  std::vector<const char*> keys;
  std::vector<const char*> values;
  const auto add = [&](const char* key, const std::string& value) {
    if (!value.empty()) keys.push_back(key), values.push_back(value.c_str());
  };
  add("host", login.host);
  add("port", login.port);
  add("dbname", login.database);
  add("user", login.user);
  add("password", login.password);
  add("sslmode", login.sslmode);
  add("sslrootcert", login.sslrootcert);
  add("sslcert", login.sslcert);
  add("sslkey", login.sslkey);
  const std::string encoding = "UTF8";
  const std::string timeout = "10";
  // The library's literals double their apostrophes and nothing else: a server reading
  // backslashes as escapes would let a value end its literal early.
  // Each prepared statement keeps the one plan made without its values. The server's default
  // plans a statement again for every run as long as that looks cheaper for the values given: a
  // person with fewer actions than the average always does, and on a large table the alert count
  // and the person's list then cost a new plan (more than their run) on every call.
  const std::string options = fmt::format(
      "-c DateStyle=ISO,MDY -c standard_conforming_strings=on -c statement_timeout={} "
      "-c plan_cache_mode=force_generic_plan",
      static_cast<int64_t>(login.statementTimeoutSeconds) * 1000);
  add("client_encoding", encoding);
  add("connect_timeout", timeout);
  add("options", options);
  keys.push_back(nullptr);
  values.push_back(nullptr);
  Conn conn(PQconnectdbParams(keys.data(), values.data(), 0));
  if (conn == nullptr) RaiseOpenError(login.host, login.database, "out of memory");
  if (PQstatus(conn.get()) != CONNECTION_OK) {
    RaiseOpenError(login.host, login.database, PQerrorMessage(conn.get()));
  }
  // Notices ("already exists, skipping") are not errors; keep them off the terminal.
  PQsetNoticeProcessor(
      conn.get(), [](void*, const char*) {}, nullptr);
  return std::unique_ptr<PgEngine>(new PgEngine(std::move(conn)));
}

PgEngine::ResultPtr PgEngine::Query(std::string_view sql, std::span<const std::string> params) {
  if (!StartsWithKeyword(sql, "SELECT")) ++writes_;
  std::vector<const char*> values;
  for (const auto& p : params) values.push_back(p.c_str());
  const std::string text(sql);
  ResultPtr result = Exchange(sql, [&] {
    // The library's own texts without values (COMMIT above all) go as one simple message, not
    // parsed, bound and run in three; a pipeline carries only the latter.
    if (values.empty() && PQpipelineStatus(conn_.get()) == PQ_PIPELINE_OFF) {
      return PQsendQuery(conn_.get(), text.c_str());
    }
    return PQsendQueryParams(conn_.get(), text.c_str(), static_cast<int>(values.size()), nullptr,
                             values.data(), nullptr, nullptr, 0);
  });
  const ExecStatusType status = PQresultStatus(result.get());
  if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK) {
    RaiseStatementError(conn_.get(), result.get(), sql);
  }
  return result;
}

PgEngine::Prepared* PgEngine::Prepare(std::string_view sql, std::size_t paramCount, bool always) {
  Prepared* cached = cache_.Find(sql);
  if (cached != nullptr && !cached->name.empty()) return cached;
  RequireUtf8(sql, "the statement");
  if (cached == nullptr && !always && (paramCount == 0 || ChangesSchema(sql))) {
    // Seen once: remembered unprepared, so that a text that comes again is prepared then.
    Prepared* added = nullptr;
    if (!ChangesSchema(sql)) Release(cache_.Add(std::string(sql), Prepared{}, &added));
    return nullptr;
  }
  const std::string text = NumberPlaceholders(sql, paramCount);
  std::string name = fmt::format("kv{}", ++nextStatement_);
  const ResultPtr result(PQprepare(conn_.get(), name.c_str(), text.c_str(), 0, nullptr));
  if (PQresultStatus(result.get()) != PGRES_COMMAND_OK) {
    RaiseStatementError(conn_.get(), result.get(), sql);
  }
  if (cached != nullptr) {
    cached->name = std::move(name);
    return cached;
  }
  Prepared* added = nullptr;
  Release(cache_.Add(std::string(sql), Prepared{std::move(name), std::nullopt}, &added));
  return added;
}

void PgEngine::Release(const std::optional<Prepared>& evicted) {
  if (!evicted || evicted->name.empty()) return;
  // A failed transaction refuses this too; the statement then lives until the connection ends.
  ResultPtr(PQexec(conn_.get(), fmt::format("DEALLOCATE {}", evicted->name).c_str()));
}

const std::string& PgEngine::TypeName(Oid type) {
  const auto it = typeNames_.find(type);
  if (it != typeNames_.end()) return it->second;
  const std::string oid = std::to_string(type);
  const ResultPtr result = Query("SELECT typname FROM pg_type WHERE oid = $1", std::span(&oid, 1));
  return typeNames_[type] = PQntuples(result.get()) > 0 ? PQgetvalue(result.get(), 0, 0) : "";
}

void PgEngine::AddAttribute(TableInfo& info, const PGresult* r, int row, int at) {
  const auto flag = [&](int col) { return std::string_view(PQgetvalue(r, row, at + col)) == "t"; };
  info.attributes[std::atoi(PQgetvalue(r, row, at))] =
      Attribute{PQgetvalue(r, row, at + 1),
                PQgetvalue(r, row, at + 2),
                std::atoi(PQgetvalue(r, row, at + 3)),
                flag(4),
                flag(5),
                flag(6)};
}

const PgEngine::TableInfo& PgEngine::TableInfoFor(Oid table) {
  const auto it = tables_.find(table);
  if (it != tables_.end()) return it->second;
  const std::string oid = std::to_string(table);
  static const std::string sql = fmt::format(
      "SELECT c.relname, {} FROM pg_attribute a JOIN pg_type t ON t.oid = a.atttypid "
      "JOIN pg_class c ON c.oid = a.attrelid "
      "WHERE a.attrelid = $1 AND a.attnum > 0 AND NOT a.attisdropped",
      kAttributeColumns);
  const ResultPtr result = Query(sql, std::span(&oid, 1));
  TableInfo info;
  const PGresult* r = result.get();
  for (int row = 0; row < PQntuples(r); ++row) {
    info.name = PQgetvalue(r, row, 0);
    AddAttribute(info, r, row, 1);
  }
  return tables_[table] = std::move(info);
}

void PgEngine::ReadTypeNames(const PGresult* result) {
  // The names of every type the result has that was not met before, in one round trip.
  std::vector<Oid> unknown;
  std::string oids;
  for (int i = 0; i < PQnfields(result); ++i) {
    const Oid type = PQftype(result, i);
    if (typeNames_.contains(type) ||
        std::find(unknown.begin(), unknown.end(), type) != unknown.end()) {
      continue;
    }
    unknown.push_back(type);
    oids += oids.empty() ? "{" : ",";
    oids += std::to_string(type);
  }
  if (unknown.empty()) return;
  oids += '}';
  const ResultPtr names =
      Query("SELECT oid, typname FROM pg_type WHERE oid = ANY ($1::oid[])", std::span(&oids, 1));
  for (const Oid type : unknown) typeNames_[type];  // a type the catalog lacks has no name
  for (int row = 0; row < PQntuples(names.get()); ++row) {
    typeNames_[static_cast<Oid>(std::strtoul(PQgetvalue(names.get(), row, 0), nullptr, 10))] =
        PQgetvalue(names.get(), row, 1);
  }
}

PgEngine::Description PgEngine::DescribeColumns(const PGresult* result) {
  const int count = PQnfields(result);
  ReadTypeNames(result);
  Description description;
  std::vector<Column>& columns = description.columns;
  std::vector<ValueKind>& kinds = description.kinds;
  columns.resize(static_cast<std::size_t>(count));
  kinds.assign(columns.size(), ValueKind::Text);
  for (int i = 0; i < count; ++i) {
    Column& column = columns[static_cast<std::size_t>(i)];
    column.name = PQfname(result, i);
    const std::string& typeName = TypeName(PQftype(result, i));
    TypeMapping mapping = MapType(typeName, PQfmod(result, i));
    const auto kind = [&] {
      switch (mapping.type) {
        case ado::adBoolean:
          return ValueKind::Boolean;
        case ado::adDouble:
          return ValueKind::Fraction;
        case ado::adDate:
          return ValueKind::Date;
        default:
          return IsWhole(typeName) ? ValueKind::Whole : ValueKind::Text;
      }
    };
    const Oid table = PQftable(result, i);
    const auto* attribute = [&]() -> const Attribute* {
      if (table == InvalidOid) return nullptr;
      const TableInfo& info = TableInfoFor(table);
      const auto found = info.attributes.find(PQftablecol(result, i));
      if (found == info.attributes.end()) return nullptr;
      column.table = info.name;
      return &found->second;
    }();
    if (attribute != nullptr) mapping = MapType(attribute->typeName, attribute->typmod);
    kinds[static_cast<std::size_t>(i)] = kind();
    if (attribute == nullptr || mapping.type == ado::adEmpty) {
      column.table.clear();
      // Computed texts and 64-bit counts are typed by what they hold.
      const bool settled = mapping.type == ado::adEmpty || mapping.type == ado::adVarWChar ||
                           mapping.type == ado::adLongVarWChar;
      column.type = settled ? ado::adEmpty : mapping.type;
      column.definedSize = mapping.size;
      column.attributes = ColumnAttributes(column.type, false, true, false);
      continue;
    }
    column.type = mapping.type;
    column.definedSize = mapping.size;
    column.baseName = attribute->name;
    column.key = attribute->key;
    column.generated = attribute->identity;
    column.attributes = ColumnAttributes(column.type, !column.generated,
                                         !attribute->notNull && !column.key, column.key);
  }
  description.shared = description.columns;
  return description;
}

PgEngine::ResultPtr PgEngine::Send(std::string_view sql, const Prepared* prepared,
                                   std::span<const char* const> values) {
  if (prepared != nullptr) {
    return Exchange(sql, [&] {
      return PQsendQueryPrepared(conn_.get(), prepared->name.c_str(),
                                 static_cast<int>(values.size()), values.data(), nullptr, nullptr,
                                 0);
    });
  }
  const std::string text(sql);
  return Exchange(sql, [&] {
    return PQsendQueryParams(conn_.get(), text.c_str(), 0, nullptr, nullptr, nullptr, nullptr, 0);
  });
}

PgEngine::ResultPtr PgEngine::Exchange(std::string_view sql, const Sender& send) {
  if (!deferred_.empty()) return ExchangePipelined(sql, send);
  if (send() == 0) return nullptr;  // the caller raises libpq's message
  ResultPtr last;
  while (PGresult* next = PQgetResult(conn_.get())) last.reset(next);
  return last;
}

PgEngine::ResultPtr PgEngine::ExchangePipelined(std::string_view sql, const Sender& send) {
  PGconn* conn = conn_.get();
  // The held-back statements move to sending_, whose room the next ones reuse.
  sending_.clear();
  sending_.swap(deferred_);
  const std::vector<std::string>& deferred = sending_;
  bool queued = PQenterPipelineMode(conn) == 1;
  for (const auto& text : deferred) {
    queued = queued &&
             PQsendQueryParams(conn, text.c_str(), 0, nullptr, nullptr, nullptr, nullptr, 0) == 1;
  }
  queued = queued && send() == 1 && PQpipelineSync(conn) == 1;
  if (!queued) {
    (void)PQexitPipelineMode(conn);
    RaiseStatementError(conn, nullptr, sql);
  }
  // Each statement's result ends with a null; the sync's result comes last. A held-back
  // statement that failed spoils the ones after it: the first failure is what is reported.
  const auto next = [conn] {
    ResultPtr result(PQgetResult(conn));
    if (result != nullptr) {
      while (PGresult* extra = PQgetResult(conn)) result.reset(extra);
    }
    return result;
  };
  ResultPtr failed;  // none for a session lost before the result came
  std::optional<std::size_t> failedAt;
  for (std::size_t k = 0; k < deferred.size(); ++k) {
    ResultPtr result = next();
    const ExecStatusType status = PQresultStatus(result.get());
    if (!failedAt && status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK) {
      failed = std::move(result);
      failedAt = k;
    }
  }
  ResultPtr last = next();
  const ResultPtr sync(PQgetResult(conn));
  if (PQexitPipelineMode(conn) == 0) RaiseStatementError(conn, nullptr, sql);
  if (failedAt) RaiseStatementError(conn, failed.get(), deferred[*failedAt]);
  return last;
}

bool PgEngine::CanHoldBack() const {
  // In a failed transaction the statement is to fail at once, where its caller expects it.
  const PGTransactionStatusType status = PQtransactionStatus(conn_.get());
  const bool begun = !deferred_.empty() && status == PQTRANS_IDLE;
  return status == PQTRANS_INTRANS || begun;
}

bool PgEngine::Defer(std::string_view sql) {
  if (!CanHoldBack()) return false;
  if (StartsWithKeyword(sql, "SAVEPOINT")) {
    deferred_.emplace_back(sql);
    return true;
  }
  if (!StartsWithKeyword(sql, "RELEASE")) return false;
  if (!deferred_.empty() && StartsWithKeyword(deferred_.back(), "SAVEPOINT") &&
      SavepointName(deferred_.back()) == SavepointName(sql)) {
    deferred_.pop_back();  // nothing ran inside it: neither statement changes anything
  } else {
    deferred_.emplace_back(sql);
  }
  return true;
}

Result PgEngine::RunOnce(std::string_view sql, std::span<const vb::Variant> params) {
  if (!StartsWithKeyword(sql, "SELECT")) ++writes_;
  const ParamTexts bound(params);
  const std::span<const char* const> values = bound.Values();
  // Statements with bound values come back with the same text and are prepared at once. Those
  // without are prepared when they come a second time (the same setting or count read again);
  // the first time they go unprepared, in one round trip, since a text that carries its values
  // inline may never repeat.
  Prepared* prepared = Prepare(sql, values.size());
  const ResultPtr raw = Send(sql, prepared, values);
  const PGresult* r = raw.get();
  const ExecStatusType status = PQresultStatus(r);
  if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK) {
    RaiseStatementError(conn_.get(), r, sql);
  }
  Description unprepared;
  const Description* description = &unprepared;
  if (prepared == nullptr) {
    unprepared = DescribeColumns(r);
  } else {
    if (!prepared->description) prepared->description = DescribeColumns(r);
    description = &*prepared->description;
  }
  Result result;
  result.columns = description->shared;
  const std::vector<Column>& columns = description->columns;
  const std::vector<ValueKind>& kinds = description->kinds;
  const int width = PQnfields(r);
  result.rows.resize(static_cast<std::size_t>(PQntuples(r)));
  for (int row = 0; row < PQntuples(r); ++row) {
    auto& cells = result.rows[static_cast<std::size_t>(row)];
    cells.reserve(static_cast<std::size_t>(width));
    for (int col = 0; col < width; ++col) {
      const auto index = static_cast<std::size_t>(col);
      cells.emplace_back(CellOf{r, row, col, kinds[index], columns[index].type});
    }
  }
  for (std::size_t i = 0; i < columns.size(); ++i) {
    if (columns[i].type == ado::adEmpty) {
      SettleComputedColumn(result.columns[i], i, result.rows);
    }
  }
  const std::string_view command = PQcmdStatus(raw.get());
  if (!command.starts_with("SELECT")) result.rowsAffected = std::atoll(PQcmdTuples(raw.get()));
  return result;
}

bool PgEngine::Broken() const { return PQstatus(conn_.get()) == CONNECTION_BAD; }

void PgEngine::ReopenIfBroken() {
  if (!Broken()) return;
  if (transaction_) {
    // What the transaction wrote died with the session; only its owner may start again.
    throw EngineError(kEngineError,
                      "The connection to the server was lost; the transaction was rolled back.",
                      "08006", false);
  }
  PQreset(conn_.get());
  if (Broken()) {
    throw EngineError(kEngineError,
                      fmt::format("The connection to the server was lost and could not be "
                                  "reopened: {}",
                                  PQerrorMessage(conn_.get())),
                      "08006", false);
  }
  // The new session holds none of the old one's prepared statements.
  cache_.TakeAll();
  deferred_.clear();
}

// The rows of one statement read from the connection one at a time (single-row mode).
class StreamedRows final : public ado::RowSource {
 public:
  StreamedRows(PgEngine& engine, const PgEngine::Description& description, std::string sql)
      : engine_(&engine), kinds_(description.kinds), sql_(std::move(sql)) {
    types_.reserve(description.columns.size());
    for (const Column& column : description.columns) types_.push_back(column.type);
  }
  ~StreamedRows() override {
    // The connection must be free again: what is left is read and dropped.
    if (engine_ != nullptr) {
      held_.clear();
      Release();
    }
  }
  StreamedRows(const StreamedRows&) = delete;
  StreamedRows& operator=(const StreamedRows&) = delete;

  bool Next(std::vector<vb::Variant>& values) override {
    if (next_ < held_.size()) {
      values = std::move(held_[next_++]);
      if (next_ == held_.size()) {
        held_.clear();
        next_ = 0;
      }
      return true;
    }
    return engine_ != nullptr && Receive(values);
  }

  // Reads every row left into memory, freeing the connection for another statement.
  void Hold() {
    std::vector<vb::Variant> values;
    while (engine_ != nullptr && Receive(values)) held_.push_back(std::move(values));
  }

 private:
  // The next row from the connection; false (and the connection freed) at the end.
  bool Receive(std::vector<vb::Variant>& values) {
    PGconn* conn = engine_->conn_.get();
    const PgEngine::ResultPtr result(PQgetResult(conn));
    const ExecStatusType status = PQresultStatus(result.get());
    if (result != nullptr && status == PGRES_SINGLE_TUPLE) {
      values.clear();
      for (std::size_t col = 0; col < types_.size(); ++col) {
        values.emplace_back(
            CellOf{result.get(), 0, static_cast<int>(col), kinds_[col], types_[col]});
      }
      return true;
    }
    Release();
    if (result != nullptr && status != PGRES_TUPLES_OK) {
      RaiseStatementError(conn, result.get(), sql_);
    }
    return false;
  }

  // Reads what is left of the statement's results and hands the connection back.
  void Release() {
    while (PGresult* rest = PQgetResult(engine_->conn_.get())) PQclear(rest);
    engine_->stream_ = nullptr;
    engine_ = nullptr;
  }

  PgEngine* engine_;
  std::vector<ValueKind> kinds_;
  std::vector<ado::DataTypeEnum> types_;
  std::string sql_;
  std::vector<std::vector<vb::Variant>> held_;
  std::size_t next_ = 0;
};

void PgEngine::FinishStream() {
  if (stream_ != nullptr) stream_->Hold();
}

StreamedResult PgEngine::Stream(std::string_view sql, std::span<const vb::Variant> params) {
  FinishStream();
  ReopenIfBroken();
  // Held-back statements go with a statement of their own; only queries stream.
  if (!deferred_.empty() || !StartsWithKeyword(sql, "SELECT")) return Engine::Stream(sql, params);
  const ParamTexts bound(params);
  const std::span<const char* const> values = bound.Values();
  Prepared* prepared = Prepare(sql, values.size(), true);
  if (!prepared->description) {
    const ResultPtr described(PQdescribePrepared(conn_.get(), prepared->name.c_str()));
    if (PQresultStatus(described.get()) != PGRES_COMMAND_OK) {
      RaiseStatementError(conn_.get(), described.get(), sql);
    }
    prepared->description = DescribeColumns(described.get());
  }
  const Description& description = *prepared->description;
  // A computed column is typed by every value it holds: such a result is read whole.
  if (std::any_of(description.columns.begin(), description.columns.end(),
                  [](const Column& c) { return c.type == ado::adEmpty; })) {
    return Engine::Stream(sql, params);
  }
  if (PQsendQueryPrepared(conn_.get(), prepared->name.c_str(), static_cast<int>(values.size()),
                          values.data(), nullptr, nullptr, 0) != 1 ||
      PQsetSingleRowMode(conn_.get()) != 1) {
    RaiseStatementError(conn_.get(), nullptr, sql);
  }
  streamInTransaction_ = PQtransactionStatus(conn_.get()) == PQTRANS_INTRANS;
  auto rows = std::make_unique<StreamedRows>(*this, description, std::string(sql));
  stream_ = rows.get();
  NoteStatement(sql);
  return {description.shared, std::move(rows)};
}

void PgEngine::ExecuteUnread(std::string_view sql) {
  FinishStream();
  ReopenIfBroken();
  if (!CanHoldBack()) {
    (void)Execute(sql);
    return;
  }
  RequireUtf8(sql, "the statement");
  deferred_.emplace_back(sql);
  ++writes_;
  changed_ = true;  // a lock held to the transaction's end: starting again would drop it
}

Result PgEngine::Execute(std::string_view sql, std::span<const vb::Variant> params) {
  FinishStream();
  ReopenIfBroken();
  if (params.empty() && Defer(sql)) {
    Result held;
    held.rowsAffected = 0;  // what the server reports for a savepoint statement
    return held;
  }
  for (int attempt = 1;; ++attempt) {
    try {
      Result result = RunOnce(sql, params);
      if (transaction_ && !changed_ && !StartsWithKeyword(sql, "SELECT")) changed_ = true;
      if (ChangesSchema(sql)) {
        NoteStatement(sql);
        ForgetSchema();
      }
      return result;
    } catch (const EngineError& e) {
      // Inside a transaction only its owner can run it again, from the start.
      if (!e.transient() || InTransaction() || attempt == kMaxAttempts) throw;
    }
  }
}

void PgEngine::ForgetSchema() {
  // Plans and column lists may no longer fit the tables.
  cache_.TakeAll();
  const ResultPtr deallocated(PQexec(conn_.get(), "DEALLOCATE ALL"));  // nothing to read
  tables_.clear();
}

void PgEngine::Begin() {
  ReopenIfBroken();
  // BEGIN takes no lock on this engine, so it can wait for the transaction's first statement.
  deferred_.assign(1, "BEGIN");
  transaction_ = true;
  changed_ = false;
}

void PgEngine::Commit() {
  FinishStream();
  if (Broken()) {
    Rollback();
    throw EngineError(kEngineError,
                      "The connection to the server was lost; the transaction was rolled back.",
                      "08006", false);
  }
  transaction_ = false;
  if (PQtransactionStatus(conn_.get()) == PQTRANS_INERROR) {
    Rollback();
    throw EngineError(kEngineError,
                      "The transaction was rolled back because one of its statements failed.",
                      "25P02", false);
  }
  // The transaction's end ends its savepoints too; a transaction that never reached the server
  // has nothing to commit.
  deferred_.clear();
  if (PQtransactionStatus(conn_.get()) != PQTRANS_IDLE) (void)Query("COMMIT");
}

void PgEngine::Rollback() noexcept {
  try {
    FinishStream();
  } catch (...) {  // NOLINT(bugprone-empty-catch): a failed read changes nothing to undo
  }
  deferred_.clear();
  transaction_ = false;
  if (!Broken() && InTransaction()) ResultPtr(PQexec(conn_.get(), "ROLLBACK"));
}

bool PgEngine::TransactionUntouched() const {
  if (!transaction_ || changed_ || stream_ != nullptr) return false;
  // Only BEGIN may still be held back: a pending savepoint belongs to a caller's own undo.
  if (!deferred_.empty() && (deferred_.size() != 1 || deferred_[0] != "BEGIN")) return false;
  // Reads alone: at READ COMMITTED each statement sees the data committed when it starts, so
  // what they answered is what they would answer in the transaction started again.
  const PGTransactionStatusType status = PQtransactionStatus(conn_.get());
  return status == PQTRANS_IDLE || status == PQTRANS_INTRANS;
}

void PgEngine::RestartTransaction() noexcept {
  Rollback();
  if (Broken()) return;  // the next statement reports the lost session
  deferred_.assign(1, "BEGIN");
  transaction_ = true;
  changed_ = false;
}

bool PgEngine::InTransaction() const {
  if (Broken()) return transaction_;
  // While a stream is read the connection is busy, not in a transaction of its own.
  if (stream_ != nullptr) return !deferred_.empty() || streamInTransaction_;
  return !deferred_.empty() || PQtransactionStatus(conn_.get()) != PQTRANS_IDLE;
}

// The server's current snapshot (the oldest transaction still running, the next to begin and
// those running between): equal snapshots see the same committed transactions, so the same
// data, and any transaction that writes takes a number and moves it. The log's write position
// would not do: a commit is written there before it becomes visible, so a count read in between
// would be kept under a position that no longer moves. Other databases' transactions move it
// too, which only costs a read. Inside a transaction there is no mark: this session's own writes
// are not in it, and a failed statement would end the transaction; with a stream being read
// there is none either, unless one is held (it is not asked for then). A server that refuses
// the function is not asked again.
std::string PgEngine::ChangeMark() noexcept {
  if (noChangeMark_ || Broken() || InTransaction()) return {};
  // A held mark needs no round trip, so it is given even while a stream is read.
  if (markHeld_ && !heldMark_.empty() && writes_ == writesAtHeldMark_) return heldMark_;
  if (stream_ != nullptr) return {};
  try {
    const ResultPtr result = Query("SELECT pg_current_snapshot()::text");
    if (PQntuples(result.get()) != 1 || PQgetisnull(result.get(), 0, 0)) return {};
    std::string mark = PQgetvalue(result.get(), 0, 0);
    if (markHeld_) {
      heldMark_ = mark;
      writesAtHeldMark_ = writes_;
    }
    return mark;
  } catch (...) {
    noChangeMark_ = !Broken();
    return {};
  }
}

// A held mark is given again until this connection sends a statement that may write: every
// statement that is not a query counts as one (an insert, an update, a schema change, a COMMIT);
// a query that writes through a function it calls is not one this product sends.
void PgEngine::HoldChangeMark(bool held) noexcept {
  markHeld_ = held;
  heldMark_.clear();
}

bool PgEngine::TableExists(std::string_view table) {
  FinishStream();
  ReopenIfBroken();
  const std::string name(table);
  const ResultPtr result = Query(
      "SELECT 1 FROM pg_class c JOIN pg_namespace n ON n.oid = c.relnamespace "
      "WHERE n.nspname = current_schema() AND c.relkind IN ('r', 'v', 'p') "
      "AND lower(c.relname) = lower($1)",
      std::span(&name, 1));
  return PQntuples(result.get()) > 0;
}

std::vector<CatalogTable> PgEngine::ReadCatalog() {
  FinishStream();
  ReopenIfBroken();
  // The same read tells how each table's columns are described in results (TableInfoFor), so
  // that the first answer from a table needs no catalog query of its own.
  static const std::string sql = fmt::format(
      "SELECT c.relname, c.oid, "
      "coalesce(b.typname, t.typname) IN ('timestamp', 'timestamptz', 'date'), {} "
      "FROM pg_class c JOIN pg_namespace n ON n.oid = c.relnamespace "
      "JOIN pg_attribute a ON a.attrelid = c.oid AND a.attnum > 0 AND NOT a.attisdropped "
      "JOIN pg_type t ON t.oid = a.atttypid LEFT JOIN pg_type b ON b.oid = t.typbasetype "
      "WHERE n.nspname = current_schema() AND c.relkind IN ('r', 'v', 'p') "
      "ORDER BY c.relname, a.attnum",
      kAttributeColumns);
  const ResultPtr result = Query(sql);
  const PGresult* r = result.get();
  std::vector<CatalogTable> tables;
  std::map<Oid, TableInfo> described;
  for (int row = 0; row < PQntuples(r); ++row) {
    const std::string_view table = PQgetvalue(r, row, 0);
    TableInfo& info = described[static_cast<Oid>(std::strtoul(PQgetvalue(r, row, 1), nullptr, 10))];
    info.name = table;
    AddAttribute(info, r, row, 3);
    const Attribute& column = info.attributes[std::atoi(PQgetvalue(r, row, 3))];
    const bool isDate = std::string_view(PQgetvalue(r, row, 2)) == "t";
    if (tables.empty() || tables.back().name != table) tables.push_back({std::string(table), {}});
    tables.back().columns.push_back({column.name, isDate, column.key});
  }
  for (auto& [oid, info] : described) tables_[oid] = std::move(info);
  return tables;
}

void PgEngine::EnsureDomain(std::string_view name, std::string_view definition) {
  // Two connections may create it at once; the loser finds it there.
  (void)Query(
      fmt::format("DO $$BEGIN CREATE DOMAIN {} AS {}; "
                  "EXCEPTION WHEN duplicate_object OR unique_violation THEN NULL; END$$",
                  name, definition));
}

std::string PgEngine::ColumnType(ColumnKind kind, int32_t size) {
  FinishStream();
  switch (kind) {
    case ColumnKind::AutoKey:
      return "integer GENERATED BY DEFAULT AS IDENTITY PRIMARY KEY";
    case ColumnKind::Integer:
      return "integer";
    case ColumnKind::SmallInt:
      return "smallint";
    case ColumnKind::Boolean:
      EnsureDomain("vbbool", "smallint");
      return "vbbool";
    case ColumnKind::Date:
      return "timestamp(0)";
    case ColumnKind::Double:
      return "double precision";
    case ColumnKind::Text: {
      (void)Query("CREATE EXTENSION IF NOT EXISTS citext");
      std::string name = fmt::format("vbtext_{}", size);
      EnsureDomain(name, fmt::format("citext CHECK (char_length(VALUE) <= {})", size));
      return name;
    }
    case ColumnKind::LongText:
      (void)Query("CREATE EXTENSION IF NOT EXISTS citext");
      return "citext";
  }
  return {};
}

}  // namespace kvdata::engine::postgres
