#include "kvaction/action/MemoryRecord.h"

#include <utility>

#include "ado/Errors.h"

namespace kvaction {
namespace {

// Whether value is already what its field holds, so that converting it would change nothing:
// Null, or a boolean, whole number or date in a field of that type (texts are still checked
// against the field's size).
bool Held(const vb::Variant& value, ado::DataTypeEnum type) {
  switch (value.VarType()) {
    case vb::vbNull:
      return true;
    case vb::vbBoolean:
      return type == ado::adBoolean;
    case vb::vbLong:
      return type == ado::adInteger;
    case vb::vbDate:
      return type == ado::adDate;
    default:
      return false;
  }
}

}  // namespace

ado::RecordsetPtr MemoryRecord(ado::FieldList fields, std::vector<vb::Variant> values) {
  if (!fields || values.size() != fields->size()) throw ado::Error(ado::kBadArguments);
  for (std::size_t i = 0; i < values.size(); ++i) {
    const ado::FieldInfo& field = (*fields)[i];
    if (!Held(values[i], field.type)) values[i] = ado::FieldValueFor(field, values[i]);
  }
  auto record = ado::Recordset::Create();
  std::vector<ado::Row> rows(1);
  rows.front().values = std::move(values);
  record->OpenWithRows(std::move(fields), std::move(rows), ado::adOpenStatic, ado::adUseClient,
                       ado::adLockBatchOptimistic, nullptr);
  return record;
}

}  // namespace kvaction
