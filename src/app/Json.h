#pragma once
// A stored value as JSON, written once for every front end: the command's --json output and the
// web front end's API give the same value the same form, whatever the person's date form is.
#include <string>

#include <nlohmann/json_fwd.hpp>

#include "vb/Date.h"
#include "vb/Variant.h"

namespace app {

/// A date as ISO 8601: "2026-12-01", or "2026-12-01T14:30:00" when it holds a time of day.
[[nodiscard]] std::string Iso8601(const vb::Date& date);

/// A stored value for JSON: Null and Empty as null, whole numbers, doubles and booleans as
/// themselves, dates as ISO 8601 (Iso8601), everything else as its text. An edit takes every
/// such text back as the value it started from.
[[nodiscard]] nlohmann::json JsonValue(const vb::Variant& value);

}  // namespace app
