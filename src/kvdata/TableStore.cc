#include "kvdata/TableStore.h"

#include "ado/Errors.h"
#include "kvdata/engine/Values.h"

namespace kvdata {

using engine::QuoteName;

TableStore::TableStore(std::shared_ptr<engine::Engine> engine, TableLayout layout,
                       std::shared_ptr<const vb::Locale> locale)
    : engine_(std::move(engine)), layout_(std::move(layout)), locale_(std::move(locale)) {}

bool TableStore::Writable(const std::vector<ado::FieldInfo>& fields, std::size_t i) const {
  return !layout_.columns[i].empty() && (fields[i].attributes & ado::adFldUpdatable) != 0;
}

std::string TableStore::KeyCondition(const std::vector<ado::FieldInfo>& fields, const ado::Row& row,
                                     std::vector<vb::Variant>& params) const {
  std::string condition;
  for (const std::size_t k : layout_.keys) {
    condition += condition.empty() ? " WHERE " : " AND ";
    condition += QuoteName(layout_.columns[k]);
    condition += " = ?";
    params.push_back(engine::ValueToStore(row.original[k], fields[k]));
  }
  return condition;
}

void TableStore::RequireOneRow(int64_t rowsAffected) const {
  if (rowsAffected == 0) throw ado::Error(ado::kRowNotLocated);
}

void TableStore::Insert(const std::vector<ado::FieldInfo>& fields, ado::Row& row) {
  // The text is built by appending: every stored row passes through here.
  std::string names;
  std::string marks;
  std::vector<vb::Variant> params;
  for (std::size_t i = 0; i < fields.size(); ++i) {
    if (!Writable(fields, i) || row.values[i].IsEmpty()) continue;
    if (!params.empty()) {
      names += ", ";
      marks += ", ";
    }
    names += QuoteName(layout_.columns[i]);
    marks += '?';
    params.push_back(engine::ValueToStore(row.values[i], fields[i]));
  }
  std::string sql = "INSERT INTO " + QuoteName(layout_.table);
  if (params.empty()) {
    sql += " DEFAULT VALUES";
  } else {
    sql.append(" (").append(names).append(") VALUES (").append(marks).append(")");
  }
  sql += " RETURNING ";
  for (std::size_t n = 0; n < layout_.keys.size(); ++n) {
    if (n > 0) sql += ", ";
    sql += QuoteName(layout_.columns[layout_.keys[n]]);
  }
  const engine::Result result = engine_->Execute(sql, params);
  for (std::size_t i = 0; i < fields.size(); ++i) {
    if (row.values[i].IsEmpty()) row.values[i] = vb::Null;
  }
  for (std::size_t n = 0; n < layout_.keys.size(); ++n) {
    row.values[layout_.keys[n]] = result.rows.at(0).at(n);
  }
}

void TableStore::Update(const std::vector<ado::FieldInfo>& fields, const ado::Row& row,
                        const std::vector<std::size_t>& changed) {
  std::string sql = "UPDATE " + QuoteName(layout_.table) + " SET ";
  std::vector<vb::Variant> params;
  std::vector<std::size_t> written;
  for (const std::size_t i : changed) {
    if (!Writable(fields, i)) continue;
    if (!written.empty()) sql += ", ";
    sql += QuoteName(layout_.columns[i]);
    sql += " = ?";
    params.push_back(engine::ValueToStore(row.values[i], fields[i]));
    written.push_back(i);
  }
  if (written.empty()) return;
  sql += KeyCondition(fields, row, params);
  // ADO's optimistic rule: each written column must still hold the value that was read.
  const std::string_view same =
      engine_->Target() == sql::Target::SQLite ? " IS ?" : " IS NOT DISTINCT FROM ?";
  for (const std::size_t i : written) {
    sql += " AND ";
    sql += QuoteName(layout_.columns[i]);
    sql += same;
    params.push_back(engine::ValueToStore(row.original[i], fields[i]));
  }
  RequireOneRow(engine_->Execute(sql, params).rowsAffected);
}

void TableStore::Delete(const std::vector<ado::FieldInfo>& fields, const ado::Row& row) {
  std::vector<vb::Variant> params;
  const std::string condition = KeyCondition(fields, row, params);
  RequireOneRow(
      engine_->Execute("DELETE FROM " + QuoteName(layout_.table) + condition, params).rowsAffected);
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
