#pragma once
// Adding many actions at once (a CSV import): every row is checked as Add checks it, and the
// rows are stored together or not at all.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "app/Actions.h"
#include "app/Session.h"

namespace app {

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
