#include "kvdata/TableStore.h"

#include <fmt/format.h>

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
    condition += fmt::format("{}{} = ?", condition.empty() ? " WHERE " : " AND ",
                             QuoteName(layout_.columns[k]));
    params.push_back(engine::ValueToStore(row.original[k], fields[k]));
  }
  return condition;
}

void TableStore::RequireOneRow(int64_t rowsAffected) const {
  if (rowsAffected == 0) throw ado::Error(ado::kRowNotLocated);
}

void TableStore::Insert(const std::vector<ado::FieldInfo>& fields, ado::Row& row) {
  std::vector<std::string> names;
  std::vector<vb::Variant> params;
  for (std::size_t i = 0; i < fields.size(); ++i) {
    if (!Writable(fields, i) || row.values[i].IsEmpty()) continue;
    names.push_back(QuoteName(layout_.columns[i]));
    params.push_back(engine::ValueToStore(row.values[i], fields[i]));
  }
  std::vector<std::string> keys;
  for (const std::size_t k : layout_.keys) keys.push_back(QuoteName(layout_.columns[k]));
  const std::string values =
      names.empty() ? " DEFAULT VALUES"
                    : fmt::format(" ({}) VALUES ({})", fmt::join(names, ", "),
                                  fmt::join(std::vector<std::string>(names.size(), "?"), ", "));
  const engine::Result result =
      engine_->Execute(fmt::format("INSERT INTO {}{} RETURNING {}", QuoteName(layout_.table),
                                   values, fmt::join(keys, ", ")),
                       params);
  for (std::size_t i = 0; i < fields.size(); ++i) {
    if (row.values[i].IsEmpty()) row.values[i] = vb::Null;
  }
  for (std::size_t n = 0; n < layout_.keys.size(); ++n) {
    row.values[layout_.keys[n]] = result.rows.at(0).at(n);
  }
}

void TableStore::Update(const std::vector<ado::FieldInfo>& fields, const ado::Row& row,
                        const std::vector<std::size_t>& changed) {
  std::vector<std::string> assignments;
  std::vector<vb::Variant> params;
  std::vector<std::size_t> written;
  for (const std::size_t i : changed) {
    if (!Writable(fields, i)) continue;
    assignments.push_back(QuoteName(layout_.columns[i]) + " = ?");
    params.push_back(engine::ValueToStore(row.values[i], fields[i]));
    written.push_back(i);
  }
  if (written.empty()) return;
  std::string condition = KeyCondition(fields, row, params);
  // ADO's optimistic rule: each written column must still hold the value that was read.
  const std::string_view same =
      engine_->Target() == sql::Target::SQLite ? " IS ?" : " IS NOT DISTINCT FROM ?";
  for (const std::size_t i : written) {
    condition += fmt::format(" AND {}{}", QuoteName(layout_.columns[i]), same);
    params.push_back(engine::ValueToStore(row.original[i], fields[i]));
  }
  RequireOneRow(engine_
                    ->Execute(fmt::format("UPDATE {} SET {}{}", QuoteName(layout_.table),
                                          fmt::join(assignments, ", "), condition),
                              params)
                    .rowsAffected);
}

void TableStore::Delete(const std::vector<ado::FieldInfo>& fields, const ado::Row& row) {
  std::vector<vb::Variant> params;
  const std::string condition = KeyCondition(fields, row, params);
  RequireOneRow(
      engine_->Execute(fmt::format("DELETE FROM {}{}", QuoteName(layout_.table), condition), params)
          .rowsAffected);
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
