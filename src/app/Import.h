#pragma once
// Adding many actions at once (a CSV import): every row is checked as Add checks it, and the
// rows are stored together or not at all.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "app/Actions.h"
#include "app/Session.h"

namespace app {

/// A text as a CSV cell holds it. A spreadsheet takes a cell starting with =, +, -, @, a tab or
/// a carriage return for a formula; such a text, and one whose leading apostrophes come before
/// one of those, gets one apostrophe more in front, which the spreadsheet shows it as text by.
/// Only texts go through here: numbers and dates are written as they are.
[[nodiscard]] std::string ToCell(std::string_view text);
/// The text of a cell as ToCell wrote it, or as a person typed it in a spreadsheet: one leading
/// apostrophe goes when apostrophes lead to one of those characters. FromCell(ToCell(t)) == t.
[[nodiscard]] std::string FromCell(std::string_view cell);

/// A row that could not be added: its index in the rows given and the reason.
struct ImportProblem {
  std::size_t row = 0;
  std::string message;
};

/// What became of an import: the new ActionIDs in row order, or the problems (then nothing was
/// stored).
struct ImportResult {
  std::vector<int32_t> added;
  std::vector<ImportProblem> problems;
};

/// Adds one action per row (right 50, as Add) in one transaction. Every row is tried, so the
/// problems name each bad row; when there is any, the transaction is rolled back.
[[nodiscard]] ImportResult ImportActions(Session& session, const std::vector<FieldTexts>& rows);

}  // namespace app
