#pragma once
// The status summary of a stored action: its columns read from a record set of the actions table.
#include <cstdint>
#include <functional>
#include <optional>
#include <string_view>

#include "ado/Recordset.h"
#include "kvaction/alerts/StatusSummary.h"
#include "vb/Clock.h"
#include "vb/Locale.h"

namespace kvaction {

/// The value of a column of one stored action, by name; raises for a column it does not hold.
using ColumnValue = std::function<vb::Variant(std::string_view column)>;

/// The columns StatusSummary reads, as column gives them (texts in locale, "" for Null). A Null
/// Reviewed reads as reviewedWhenNull when given; otherwise raises 94, and raises when a column
/// is missing or Reviewed is not a 16-bit number.
[[nodiscard]] StatusColumns StatusColumnsOf(const ColumnValue& column, const vb::Locale& locale,
                                            std::optional<int16_t> reviewedWhenNull = std::nullopt);

/// The columns StatusSummary reads, from the current row of record (texts in locale, "" for
/// Null). A Null Reviewed reads as reviewedWhenNull when given; otherwise raises 94, and raises
/// when a column is missing or Reviewed is not a 16-bit number.
[[nodiscard]] StatusColumns StatusColumnsOf(ado::Recordset& record, const vb::Locale& locale,
                                            std::optional<int16_t> reviewedWhenNull = std::nullopt);

/// The summary of record's current action, as of the clock's today.
[[nodiscard]] StatusTexts RecordStatus(ado::Recordset& record, const vb::Clock& clock,
                                       const vb::Locale& locale,
                                       std::optional<int16_t> reviewedWhenNull = std::nullopt);

}  // namespace kvaction
