#pragma once
// The one-record, unconnected record sets the Action object answers with (a notice, a set of
// permissions), built in one step.
#include <vector>

#include "ado/Recordset.h"
#include "vb/Variant.h"

namespace kvaction {

/// A fresh record set over fields, opened without a connection and with no options (client
/// cursor, static, batch-optimistic), holding values as its one record, saved and current: what
/// Fields.Append for each field, Open(-1, -1, -1), AddNew, setting the values and Update leave,
/// without the per-field steps. values holds one value per field (Null for a field not set);
/// any other count raises kBadArguments.
[[nodiscard]] ado::RecordsetPtr MemoryRecord(std::vector<ado::FieldInfo> fields,
                                             std::vector<vb::Variant> values);

}  // namespace kvaction
