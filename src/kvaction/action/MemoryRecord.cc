#include "kvaction/action/MemoryRecord.h"

#include <utility>

namespace kvaction {

ado::RecordsetPtr MemoryRecord(std::vector<ado::FieldInfo> fields,
                               std::vector<vb::Variant> values) {
  auto record = ado::Recordset::Create();
  std::vector<ado::Row> rows(1);
  rows.front().values = std::move(values);
  record->OpenWithRows(std::move(fields), std::move(rows), ado::adOpenStatic, ado::adUseClient,
                       ado::adLockBatchOptimistic, nullptr);
  return record;
}

}  // namespace kvaction
