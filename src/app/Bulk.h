#pragma once
// Changing many actions at once: the same change (field values, a move or both) applied to each
// selected action through the very functions a single change goes through (Edit, Complete,
// Close, Reopen, Delete), so each action is checked, merged, recorded and noticed as if it were
// changed alone. Each action's change is its own transaction: an action is changed wholly or not
// at all, and a refusal for one leaves the others' outcomes as they are. The report says what
// became of each action; every front end renders the report, none decides anything of it.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json_fwd.hpp>

#include "app/Actions.h"
#include "app/Lists.h"
#include "app/Session.h"

namespace app {

/// The most actions one bulk change touches. A larger selection is refused before anything
/// changes (narrow the list, or change it in parts).
inline constexpr int32_t kBulkLimit = 500;

/// What to do to each action besides setting fields.
enum class BulkMove { None, Complete, Close, Reopen, Delete };
/// The move a word names: "", "complete", "close", "reopen" or "delete" (letter case ignored).
/// Raises kInvalidInput naming "move".
[[nodiscard]] BulkMove BulkMoveOf(std::string_view word);
/// The word of a move ("" for None).
[[nodiscard]] std::string_view BulkMoveWord(BulkMove move);

/// The change: column values as Edit takes them (Assignee, DateDue, Priority, Category, …),
/// then the move with its note. Deleting takes no field values.
struct BulkChange {
  FieldTexts fields;
  BulkMove move = BulkMove::None;
  std::string note;
};

/// Which actions: the ones named (by ActionID, or by the number people know with byNumber), or
/// every action of a list request (a saved query and filters, as the lists read it).
struct BulkSelection {
  std::vector<int32_t> ids;
  bool byNumber = false;
  std::optional<ListRequest> list;
};

/// What became of one action.
enum class BulkOutcome {
  Changed,    ///< stored (and noticed)
  Unchanged,  ///< it already had the values: nothing to store
  Refused,    ///< the person may not, or the action's state does not allow it (message says why)
  NotFound,   ///< no action has that ID or number (deleted meanwhile, or never there)
};
/// "changed", "unchanged", "refused" or "not found".
[[nodiscard]] std::string_view BulkOutcomeWord(BulkOutcome outcome);

struct BulkItem {
  int32_t id = 0;      ///< ActionID (0 when a number named no action)
  int32_t number = 0;  ///< the number people know it by (as given when not found)
  BulkOutcome outcome = BulkOutcome::Unchanged;
  std::string message;  ///< what changed ("Assignee, DateDue; closed"), or why not
};
struct BulkReport {
  std::vector<BulkItem> items;  ///< in the selection's order
  [[nodiscard]] int32_t Count(BulkOutcome outcome) const;
};

/// Applies change to every selected action, in order, each in its own transaction. The
/// selection and the values are checked first for every action at once (an unknown user or a
/// malformed date raises kInvalidInput naming the field, a selection over kBulkLimit or an empty
/// change raises kInvalidInput; nothing changes then).
[[nodiscard]] BulkReport BulkApply(Session& session, const BulkSelection& selection,
                                   const BulkChange& change);

/// "3 changed, 1 refused, 1 not found": the report's totals as every front end states them
/// (outcomes that did not occur left out; "nothing selected" for an empty report).
[[nodiscard]] std::string BulkSummary(const BulkReport& report);
/// "No. 12: changed (Assignee)", one line per action, as the command prints and the page lists.
[[nodiscard]] std::string BulkLine(const BulkItem& item);
/// The report as JSON: {"summary", "changed", "unchanged", "refused", "notFound", "actions":
/// [{"id", "number", "outcome", "message"}]}, the API's answer and the command's --json.
[[nodiscard]] nlohmann::ordered_json BulkJson(const BulkReport& report);
/// The report BulkJson wrote (a server's answer), read back; raises kInvalidInput naming
/// "actions" for an outcome that is not one.
[[nodiscard]] BulkReport BulkReportOf(const nlohmann::json& json);

}  // namespace app
