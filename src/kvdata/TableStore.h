#pragma once
// Writes the changes of a connected record set back to the one table it was read from: inserts
// that read the generated key at once, updates checked against the values as read (ADO's
// optimistic rule), deletes by key.
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "ado/Recordset.h"
#include "kvdata/engine/Engine.h"
#include "vb/Locale.h"

namespace kvdata {

/// Where a record set's fields live in its table.
struct TableLayout {
  std::string table;
  /// The table column of each field; empty for computed fields, which are never written.
  std::vector<std::string> columns;
  /// The fields that make up the table's primary key.
  std::vector<std::size_t> keys;
};

class TableStore final : public ado::RowStore {
 public:
  /// locale is kept alive for the record set, which reads date texts with it.
  TableStore(std::shared_ptr<engine::Engine> engine, TableLayout layout,
             std::shared_ptr<const vb::Locale> locale);

  /// INSERT of the fields that are set (Empty ones are left to the table's defaults) RETURNING
  /// the key, which is written into row.values; fields left Empty read as Null afterwards (the
  /// table's defaults are not read back).
  void Insert(const std::vector<ado::FieldInfo>& fields, ado::Row& row) override;
  /// UPDATE of the changed fields WHERE the key matches and each changed field still holds its
  /// original value (Null compared as Null). No such row raises ado::kRowNotLocated and
  /// nothing is written.
  void Update(const std::vector<ado::FieldInfo>& fields, const ado::Row& row,
              const std::vector<std::size_t>& changed) override;
  /// DELETE by key; no such row raises ado::kRowNotLocated.
  void Delete(const std::vector<ado::FieldInfo>& fields, const ado::Row& row) override;

 private:
  [[nodiscard]] bool Writable(const std::vector<ado::FieldInfo>& fields, std::size_t i) const;
  // Appends the original key values, in the order of keyCondition_, to params.
  void KeyValues(const std::vector<ado::FieldInfo>& fields, const ado::Row& row,
                 std::vector<vb::Variant>& params) const;
  void RequireOneRow(int64_t rowsAffected) const;
  // The statement texts for the fields written, each built the first time its set of fields is
  // written: a record set stores row after row with the same fields set.
  [[nodiscard]] const std::string& InsertText(const std::vector<std::size_t>& written);
  [[nodiscard]] const std::string& UpdateText(const std::vector<std::size_t>& written);

  std::shared_ptr<engine::Engine> engine_;
  TableLayout layout_;
  std::shared_ptr<const vb::Locale> locale_;
  std::vector<std::string> quoted_;  // each column's name quoted for the engine ("" if computed)
  std::string keyCondition_;         // " WHERE k1 = ? AND …"
  std::string deleteText_;           // the one DELETE, by key
  std::map<std::vector<std::size_t>, std::string> inserts_;
  std::map<std::vector<std::size_t>, std::string> updates_;
};

/// The store of a record set that cannot write back (a query over several tables, computed rows
/// or a table without a key): every write raises ado::kReadOnly.
class RefusingStore final : public ado::RowStore {
 public:
  /// locale is kept alive for the record set, which reads date texts with it.
  explicit RefusingStore(std::shared_ptr<const vb::Locale> locale) : locale_(std::move(locale)) {}
  void Insert(const std::vector<ado::FieldInfo>& fields, ado::Row& row) override;
  void Update(const std::vector<ado::FieldInfo>& fields, const ado::Row& row,
              const std::vector<std::size_t>& changed) override;
  void Delete(const std::vector<ado::FieldInfo>& fields, const ado::Row& row) override;

 private:
  std::shared_ptr<const vb::Locale> locale_;
};

}  // namespace kvdata
