#pragma once
// The change-history line that updateRecord writes for one column of one action: which event
// code and which words, from the column's stored and new values.
#include <optional>
#include <string>
#include <string_view>

#include "kvaction/Enums.h"
#include "kvaction/Labels.h"
#include "vb/Locale.h"
#include "vb/Variant.h"

namespace kvaction {

/// One history event: its code and its text.
struct HistoryLine {
  ActionEventCode code;
  std::string text;

  friend bool operator==(const HistoryLine&, const HistoryLine&) = default;
};

/// The history line for column (compared with the known column names exactly, letter case
/// included) going from oldValue to newValue, or nullopt when nothing is recorded. Labels are
/// looked up with the flag false, and only those the text needs. Values appear in their text form
/// in locale. reviewText is the call's review-status text: a "Reviewed" line replaces it with the
/// text it chooses, and a "Reviewed" value without a text of its own reuses it. Label failures
/// are passed on.
[[nodiscard]] std::optional<HistoryLine> ColumnHistory(
    std::string_view column, const vb::Variant& oldValue, const vb::Variant& newValue,
    const LabelLookup& label, const vb::Locale& locale, std::string& reviewText);

}  // namespace kvaction
