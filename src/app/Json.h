#pragma once
// A stored value as JSON, written once for every front end: the command's --json output and the
// web front end's API give the same value the same form, whatever the person's date form is.
#include <string>
#include <vector>

#include <nlohmann/json_fwd.hpp>

#include "ado/Recordset.h"
#include "vb/Date.h"
#include "vb/Variant.h"

namespace app {

/// A date as ISO 8601: "2026-12-01", or "2026-12-01T14:30:00" when it holds a time of day.
[[nodiscard]] std::string Iso8601(const vb::Date& date);

/// A stored value for JSON: Null and Empty as null, whole numbers, doubles and booleans as
/// themselves, dates as ISO 8601 (Iso8601), everything else as its text. An edit takes every
/// such text back as the value it started from.
[[nodiscard]] nlohmann::json JsonValue(const vb::Variant& value);

// A record set as JSON for a program that prints it as the command does (the command itself
// through a server): its fields' names and types once, then each row's values in field order.

/// [{"name": N, "type": ADO type number, "size": defined size}, …] of rows' fields.
[[nodiscard]] nlohmann::json FieldsJson(ado::Recordset& rows);
/// The current row's values in field order, each as JsonValue gives it.
[[nodiscard]] nlohmann::json RowJson(ado::Recordset& rows);
/// The fields FieldsJson wrote; raises kInvalidInput when fields is not such a list.
[[nodiscard]] std::vector<ado::FieldInfo> FieldsOfJson(const nlohmann::json& fields);
/// The stored value a field of type held when JsonValue gave value: whole numbers as the
/// field's size of whole number, ISO 8601 texts of a date field as dates.
[[nodiscard]] vb::Variant ValueOfJson(const nlohmann::json& value, ado::DataTypeEnum type);

}  // namespace app
