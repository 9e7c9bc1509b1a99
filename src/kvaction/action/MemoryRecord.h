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
/// without the per-field steps. Each value is converted as setting the field converts it and
/// raises as that does (kMultipleStep for a text too long for its field); Null leaves a field
/// without a value. values holds one value per field; any other count raises kBadArguments.
/// The fields are shared, never changed: an answer built again and again shares one list.
[[nodiscard]] ado::RecordsetPtr MemoryRecord(ado::FieldList fields,
                                             std::vector<vb::Variant> values);

}  // namespace kvaction
