#include "app/WebSupport.h"

#include <fmt/format.h>

#include <algorithm>
#include <charconv>
#include <memory>
#include <utility>

#include "app/Actions.h"
#include "app/Errors.h"
#include "app/Internal.h"
#include "app/Kept.h"
#include "kvaction/Enums.h"
#include "kvaction/alerts/RecordStatus.h"
#include "kvdata/DataServer.h"
#include "kvdata/SettingsStore.h"
#include "kvdata/schema/Schema.h"
#include "kvuser/Errors.h"
#include "vb/Convert.h"

namespace app {
namespace {

using internal::IsSet;
using internal::ReviewedOf;

bool WaitsForOriginator(int32_t reviewed) {
  const auto& statuses = OriginatorTurnStatuses();
  return std::find(statuses.begin(), statuses.end(), reviewed) != statuses.end();
}

// The columns an edit form offers and the editing right that covers each.
const std::vector<std::pair<std::string, std::string>>& EditPermissions() {
  static const std::vector<std::pair<std::string, std::string>> permissions = {
      {"Subject", "EditSubject"},         {"AssigneeID", "EditAssignee"},
      {"OriginatorID", "EditOriginator"}, {"DateOpened", "EditDateOpened"},
      {"DateDue", "EditDateDue"},         {"Priority", "EditPriority"},
      {"Category", "EditCategory"},       {"Description", "EditDescription"},
      {"Result", "EditActionTaken"}};
  return permissions;
}

}  // namespace

ActionStatus StatusOf(Session& session, ado::Recordset& row) {
  const kvaction::StatusTexts texts =
      kvaction::RecordStatus(row, *session.options().clock, session.locale(),
                             static_cast<int16_t>(kvaction::rsAssigneeReview));
  return {texts.image, texts.status, texts.shortStatus, texts.dueText};
}

namespace {
thread_local LabelMemo* currentLabelMemo = nullptr;
}  // namespace

LabelMemo::LabelMemo(Session& session) : session_(&session), outer_(currentLabelMemo) {
  currentLabelMemo = this;
}

LabelMemo::~LabelMemo() { currentLabelMemo = outer_; }

void ForgetLabels() {
  for (LabelMemo* memo = currentLabelMemo; memo != nullptr; memo = memo->outer_) {
    memo->labels_.clear();
  }
}

namespace {

// The labels of the names that carry one (the action, the roles and the actions table's
// columns), by name.
using LabelTable = std::shared_ptr<const std::vector<std::pair<std::string, std::string>>>;

// Every name's label, read in one statement and kept between changes of the data: a page shows
// a dozen labels or more, each a round trip of its own otherwise.
LabelTable KeptLabels(kvdata::DataServer& server) {
  return internal::Kept<LabelTable>(server.Connection().get(), "labels", [&] {
    std::vector<std::string> names = {"Action", "Assignee", "Originator"};
    for (std::string& column : kvdata::schema::ActionsColumns()) {
      if (std::find(names.begin(), names.end(), column) == names.end()) {
        names.push_back(std::move(column));
      }
    }
    std::vector<std::string> keys;
    keys.reserve(names.size());
    for (const std::string& name : names) keys.push_back(kvdata::LabelKey(name));
    const kvdata::SettingsSnapshot stored = server.Settings()->Read(keys);
    auto table = std::make_shared<std::vector<std::pair<std::string, std::string>>>();
    for (std::string& name : names) {
      std::string label = stored.Label(name);
      table->emplace_back(std::move(name), std::move(label));
    }
    return LabelTable(std::move(table));
  });
}

}  // namespace

std::string LabelOf(Session& session, std::string_view name) {
  LabelMemo* const memo = currentLabelMemo != nullptr && currentLabelMemo->session_ == &session
                              ? currentLabelMemo
                              : nullptr;
  if (memo) {
    const auto kept = std::find_if(memo->labels_.begin(), memo->labels_.end(),
                                   [&](const auto& entry) { return entry.first == name; });
    if (kept != memo->labels_.end()) return kept->second;
  }
  const auto server = session.action().DataServer();
  if (!server) return std::string(name);
  const LabelTable kept = KeptLabels(*server);
  const auto known = std::find_if(kept->begin(), kept->end(),
                                  [&](const auto& entry) { return entry.first == name; });
  std::string label = known != kept->end() ? known->second : server->Settings()->Label(name);
  if (label.empty()) label = name;
  if (memo) memo->labels_.emplace_back(name, label);
  return label;
}

std::vector<std::string> VisibleColumns(Session& session) {
  std::vector<std::string> columns;
  const auto fields = session.action().VisibleFields();
  if (!fields) return columns;
  columns.reserve(static_cast<size_t>(fields->Count()));
  for (int32_t position = 1; position <= fields->Count(); ++position) {
    columns.push_back(vb::TextOf(fields->Item(position)));
  }
  return columns;
}

FieldCatalogue FieldCatalogueOf(Session& session) {
  FieldCatalogue catalogue;
  const auto fields = session.action().VisibleFields();
  for (int32_t position = 1; fields && position <= fields->Count(); ++position) {
    catalogue.visible.emplace_back(fields->KeyAt(position), vb::TextOf(fields->Item(position)));
  }
  catalogue.validated = session.action().ValidatedFields();
  catalogue.validated->MoveFirst();
  return catalogue;
}

const std::vector<int32_t>& OriginatorTurnStatuses() {
  static const std::vector<int32_t> statuses = {
      kvaction::rsOriginatorReview, kvaction::rsOriginatorCompleted,
      kvaction::rsOriginatorClarification, kvaction::rsReOpenedbyOriginator,
      kvaction::rsReOpenedbyOther};
  return statuses;
}

Turn TurnOf(ado::Recordset& row) {
  if (IsSet(row, "DateClosed")) return Turn::Nobody;
  return WaitsForOriginator(ReviewedOf(row)) ? Turn::Originator : Turn::Assignee;
}

std::string ReadableValue(Session& session, ado::Recordset& row, std::string_view column) {
  const vb::Variant value = row[column].Value();
  if (vb::EqualsText(column, "Reviewed")) return StatusOf(session, row).status;
  if (vb::EqualsText(column, "Alert")) {
    // The flag counts for the person whose turn it is, and only while the action is open.
    if (!IsSet(row, column) || !vb::CBool(value)) return "No";
    const Turn turn = TurnOf(row);
    if (turn == Turn::Nobody) return "No (the action is closed)";
    const std::string_view role = turn == Turn::Originator ? "Originator" : "Assignee";
    const std::string person = ValueText(session, row[role].Value());
    return fmt::format("Yes, for the {} ({})", LabelOf(session, role),
                       person.empty() ? "nobody" : person);
  }
  if (vb::EqualsText(column, "ActionType") && IsSet(row, column)) {
    switch (vb::CLng(value)) {
      case kvaction::atApprovalRequired:
        return "Approval required";
      case kvaction::atAcknowledgeOnly:
        return "Acknowledge only";
      default:
        break;
    }
  }
  return ValueText(session, value);
}

std::vector<ReviewMove> MovesFor(Session& session, int32_t actionID) {
  const internal::ActionRights rights = internal::RightsOf(session, actionID);
  std::vector<ReviewMove> moves;
  if (!rights.Has("SetStatus")) return moves;
  const auto row = internal::Row(session, actionID);
  if (IsSet(*row, "DateClosed")) {
    moves.push_back({"reopen", "Reopen"});
    return moves;
  }
  const int32_t reviewed = ReviewedOf(*row);
  const bool completed = IsSet(*row, "DateCompleted");
  const bool isAssignee = session.userID() == internal::Text(session, *row, "AssigneeID");
  if (rights.owner) {
    if (reviewed == kvaction::rsOriginatorReview || reviewed == kvaction::rsReOpenedbyOriginator ||
        reviewed == kvaction::rsReOpenedbyOther) {
      moves.push_back({"assign", "Assign for review"});
    }
    if (reviewed == kvaction::rsOriginatorClarification) {
      moves.push_back({"clarify", "Clarify"});
    }
    if (completed) {
      moves.push_back({"approve", "Approve and close"});
      moves.push_back({"reject", "Reject"});
    }
  }
  if ((isAssignee || rights.assignee) && !completed && !WaitsForOriginator(reviewed)) {
    moves.push_back({"complete", "Complete"});
    moves.push_back({"clarify-ask", "Ask for clarification"});
  }
  if (!completed && rights.Has("CloseAction")) moves.push_back({"close", "Close"});
  if (completed && !rights.owner) moves.push_back({"reopen", "Reopen"});
  return moves;
}

void Move(Session& session, int32_t actionID, std::string_view move, std::string_view note) {
  static const std::vector<std::string_view> known = {
      "assign", "complete", "clarify-ask", "clarify", "approve", "reject", "close", "reopen"};
  if (std::find(known.begin(), known.end(), move) == known.end()) {
    throw Invalid("move", move,
                  "one of assign, complete, clarify-ask, clarify, approve, "
                  "reject, close or reopen");
  }
  const auto moves = MovesFor(session, actionID);
  const bool fits = std::any_of(moves.begin(), moves.end(), [&](const ReviewMove& candidate) {
    return candidate.name == move;
  });
  if (!fits) {
    throw RefusalText("Refused: the move '" + std::string(move) +
                      "' does not fit this action's review state or your rights on it.");
  }
  using namespace internal;
  if (move == "assign") {
    return ReviewAs(session, actionID, kvaction::rsAssigneeReview, note, "assigned for review");
  }
  if (move == "clarify") {
    return ReviewAs(session, actionID, kvaction::rsAssigneeClarified, note, "clarified");
  }
  if (move == "clarify-ask") {
    return ReviewAs(session, actionID, kvaction::rsOriginatorClarification, note,
                    "asked for clarification");
  }
  if (move == "complete") return CompleteAs(session, actionID, note, "completed");
  if (move == "approve") return CloseAs(session, actionID, note, "approved");
  if (move == "close") return CloseAs(session, actionID, note, "closed");
  if (move == "reopen") return ReopenAs(session, actionID, note, "reopened");
  // A rejected completion goes back to the assignee: the completion is undone, then the
  // rejection is stored as the review move it is.
  ReopenAs(session, actionID, note, "rejected the completion");
  ReviewAs(session, actionID, kvaction::rsAssigneeRejected, {}, {});
}

std::vector<EditableColumn> EditColumns(Session& session, int32_t actionID) {
  const internal::ActionRights rights = internal::RightsOf(session, actionID);
  std::vector<EditableColumn> columns;
  columns.reserve(EditPermissions().size());
  for (const auto& [column, permission] : EditPermissions()) {
    columns.push_back({column, rights.Has(permission)});
  }
  return columns;
}

std::optional<int32_t> ActionIDOfLink(std::string_view query) {
  while (!query.empty()) {
    const size_t end = std::min(query.find('&'), query.size());
    const std::string_view pair = query.substr(0, end);
    query.remove_prefix(std::min(end + 1, query.size()));
    const size_t equals = pair.find('=');
    if (equals == std::string_view::npos || !vb::EqualsText(pair.substr(0, equals), "ActionID")) {
      continue;
    }
    const std::string_view digits = pair.substr(equals + 1);
    int32_t id = 0;
    const auto [last, error] = std::from_chars(digits.data(), digits.data() + digits.size(), id);
    if (error != std::errc() || last != digits.data() + digits.size() || id <= 0) {
      return std::nullopt;
    }
    return id;
  }
  return std::nullopt;
}

bool IsMultiLineField(std::string_view field) {
  return vb::EqualsText(field, "Description") || vb::EqualsText(field, "Result") ||
         vb::EqualsText(field, "note") || vb::EqualsText(field, "comment");
}

void CheckControlCharacters(std::string_view field, std::string_view text, bool multiLine) {
  const auto refused = [multiLine](char c) {
    const auto byte = static_cast<unsigned char>(c);
    if (multiLine && (c == '\t' || c == '\r' || c == '\n')) return false;
    return byte < 0x20 || byte == 0x7f;
  };
  if (std::any_of(text.begin(), text.end(), refused)) {
    throw Invalid(field, {},
                  multiLine ? "a text without control characters other than tabs and line breaks"
                            : "a text on one line without control characters");
  }
}

bool IsSignInRefused(const vb::ComError& error) noexcept {
  return error.number() == kvuser::kLoginFailed;
}

}  // namespace app
