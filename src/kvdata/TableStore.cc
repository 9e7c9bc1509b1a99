#include "kvdata/TableStore.h"

#include "ado/Errors.h"
#include "kvdata/engine/Values.h"

namespace kvdata {

using engine::QuoteName;

namespace {

// How many statement texts a store keeps per kind: far more sets of fields than any caller
// writes in turn, few enough that a caller writing ever other sets cannot fill memory.
constexpr std::size_t kTextLimit = 64;

// The text for key, built by build the first time.
template <typename Build>
const std::string& Remembered(std::map<std::vector<std::size_t>, std::string>& texts,
                              const std::vector<std::size_t>& key, Build build) {
  if (const auto it = texts.find(key); it != texts.end()) return it->second;
  if (texts.size() >= kTextLimit) texts.clear();
  return texts.emplace(key, build()).first->second;
}

}  // namespace

TableStore::TableStore(std::shared_ptr<engine::Engine> engine, TableLayout layout,
                       std::shared_ptr<const vb::Locale> locale)
    : engine_(std::move(engine)), layout_(std::move(layout)), locale_(std::move(locale)) {
  quoted_.reserve(layout_.columns.size());
  for (const std::string& column : layout_.columns) {
    quoted_.push_back(column.empty() ? std::string() : QuoteName(column));
  }
  for (const std::size_t k : layout_.keys) {
    keyCondition_ += keyCondition_.empty() ? " WHERE " : " AND ";
    keyCondition_ += quoted_[k];
    keyCondition_ += " = ?";
  }
  deleteText_ = "DELETE FROM " + QuoteName(layout_.table) + keyCondition_;
}

bool TableStore::Writable(const std::vector<ado::FieldInfo>& fields, std::size_t i) const {
  return !layout_.columns[i].empty() && (fields[i].attributes & ado::adFldUpdatable) != 0;
}

void TableStore::KeyValues(const std::vector<ado::FieldInfo>& fields, const ado::Row& row,
                           std::vector<vb::Variant>& params) const {
  for (const std::size_t k : layout_.keys) {
    params.push_back(engine::ValueToStore(row.original[k], fields[k]));
  }
}

void TableStore::RequireOneRow(int64_t rowsAffected) const {
  if (rowsAffected == 0) throw ado::Error(ado::kRowNotLocated);
}

const std::string& TableStore::InsertText(const std::vector<std::size_t>& written) {
  return Remembered(inserts_, written, [&] {
    std::string sql = "INSERT INTO " + QuoteName(layout_.table);
    if (written.empty()) {
      sql += " DEFAULT VALUES";
    } else {
      std::string marks;
      sql += " (";
      for (const std::size_t i : written) {
        if (!marks.empty()) sql += ", ", marks += ", ";
        sql += quoted_[i];
        marks += '?';
      }
      sql.append(") VALUES (").append(marks).append(")");
    }
    sql += " RETURNING ";
    for (std::size_t n = 0; n < layout_.keys.size(); ++n) {
      if (n > 0) sql += ", ";
      sql += quoted_[layout_.keys[n]];
    }
    return sql;
  });
}

const std::string& TableStore::UpdateText(const std::vector<std::size_t>& written) {
  return Remembered(updates_, written, [&] {
    std::string sql = "UPDATE " + QuoteName(layout_.table) + " SET ";
    for (std::size_t n = 0; n < written.size(); ++n) {
      if (n > 0) sql += ", ";
      sql += quoted_[written[n]];
      sql += " = ?";
    }
    sql += keyCondition_;
    // ADO's optimistic rule: each written column must still hold the value that was read.
    const std::string_view same =
        engine_->Target() == sql::Target::SQLite ? " IS ?" : " IS NOT DISTINCT FROM ?";
    for (const std::size_t i : written) {
      sql += " AND ";
      sql += quoted_[i];
      sql += same;
    }
    return sql;
  });
}

void TableStore::Insert(const std::vector<ado::FieldInfo>& fields, ado::Row& row) {
  std::vector<std::size_t> written;
  std::vector<vb::Variant> params;
  written.reserve(fields.size());
  params.reserve(fields.size());
  for (std::size_t i = 0; i < fields.size(); ++i) {
    if (!Writable(fields, i) || row.values[i].IsEmpty()) continue;
    written.push_back(i);
    params.push_back(engine::ValueToStore(row.values[i], fields[i]));
  }
  const engine::Result result = engine_->Execute(InsertText(written), params);
  for (std::size_t i = 0; i < fields.size(); ++i) {
    if (row.values[i].IsEmpty()) row.values[i] = vb::Null;
  }
  for (std::size_t n = 0; n < layout_.keys.size(); ++n) {
    row.values[layout_.keys[n]] = result.rows.at(0).at(n);
  }
}

void TableStore::Update(const std::vector<ado::FieldInfo>& fields, const ado::Row& row,
                        const std::vector<std::size_t>& changed) {
  std::vector<vb::Variant> params;
  std::vector<std::size_t> written;
  // Each written value, the key, each written value as read: room for them at once.
  params.reserve(2 * changed.size() + layout_.keys.size());
  written.reserve(changed.size());
  for (const std::size_t i : changed) {
    if (!Writable(fields, i)) continue;
    params.push_back(engine::ValueToStore(row.values[i], fields[i]));
    written.push_back(i);
  }
  if (written.empty()) return;
  KeyValues(fields, row, params);
  for (const std::size_t i : written) {
    params.push_back(engine::ValueToStore(row.original[i], fields[i]));
  }
  RequireOneRow(engine_->Execute(UpdateText(written), params).rowsAffected);
}

void TableStore::Delete(const std::vector<ado::FieldInfo>& fields, const ado::Row& row) {
  std::vector<vb::Variant> params;
  KeyValues(fields, row, params);
  RequireOneRow(engine_->Execute(deleteText_, params).rowsAffected);
}

void RefusingStore::Insert(const std::vector<ado::FieldInfo>&, ado::Row&) {
  throw ado::Error(ado::kReadOnly);
}

void RefusingStore::Update(const std::vector<ado::FieldInfo>&, const ado::Row&,
                           const std::vector<std::size_t>&) {
  throw ado::Error(ado::kReadOnly);
}

void RefusingStore::Delete(const std::vector<ado::FieldInfo>&, const ado::Row&) {
  throw ado::Error(ado::kReadOnly);
}

}  // namespace kvdata
