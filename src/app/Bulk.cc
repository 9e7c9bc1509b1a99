#include "app/Bulk.h"

#include <fmt/format.h>

#include <algorithm>
#include <array>
#include <utility>

#include <nlohmann/json.hpp>

#include "app/Errors.h"
#include "app/Internal.h"
#include "app/WebSupport.h"
#include "kvdata/DataConnection.h"
#include "vb/Convert.h"

namespace app {
namespace {

struct MoveName {
  BulkMove move;
  std::string_view word;
  std::string_view done;
};
constexpr std::array<MoveName, 5> kMoves = {{{BulkMove::None, "", ""},
                                             {BulkMove::Complete, "complete", "completed"},
                                             {BulkMove::Close, "close", "closed"},
                                             {BulkMove::Reopen, "reopen", "reopened"},
                                             {BulkMove::Delete, "delete", "deleted"}}};

const MoveName& NameOf(BulkMove move) {
  return *std::find_if(kMoves.begin(), kMoves.end(),
                       [&](const MoveName& name) { return name.move == move; });
}

// The values are read once for every action: a malformed date or an unknown user refuses the
// whole change before any action is touched.
void CheckChange(Session& session, const BulkChange& change) {
  if (change.fields.empty() && change.move == BulkMove::None) {
    throw Invalid("change", {}, "field values or a move (complete, close, reopen or delete)");
  }
  if (change.move == BulkMove::Delete && !change.fields.empty()) {
    throw Invalid("move", "delete", "a move without field values (a deleted action keeps none)");
  }
  const FieldErrors errors = CheckFields(session, change.fields, false);
  if (!errors.empty()) {
    throw vb::ComError(kInvalidInput, std::string(kSource),
                       fmt::format("{}: {}", errors.front().column, errors.front().message));
  }
}

std::string TooMany(size_t count) { return fmt::format("{} actions", count); }
constexpr std::string_view kBound =
    "a selection of at most 500 actions (narrow it, or change it "
    "in parts)";
static_assert(kBulkLimit == 500, "kBound names the limit");

// The ActionIDs (or numbers) the selection names, each once, in order.
std::vector<int32_t> Selected(Session& session, const BulkSelection& selection) {
  std::vector<int32_t> ids;
  const auto add = [&](int32_t id) {
    if (std::find(ids.begin(), ids.end(), id) == ids.end()) ids.push_back(id);
  };
  if (selection.list) {
    const int32_t total = ListCount(session, *selection.list);
    if (total > kBulkLimit) throw Invalid("query", TooMany(static_cast<size_t>(total)), kBound);
    ListRequest request = *selection.list;
    request.columns = {"ActionID", "ActionNumber"};
    request.limit = kBulkLimit;
    request.offset = 0;
    for (const auto rows = List(session, request); !rows->IsEOF(); rows->MoveNext()) {
      add(vb::CLng((*rows)["ActionID"].Value()));
    }
    return ids;
  }
  if (selection.ids.empty()) throw Invalid("ids", {}, "at least one action");
  for (const int32_t id : selection.ids) add(id);
  if (ids.size() > static_cast<size_t>(kBulkLimit))
    throw Invalid("ids", TooMany(ids.size()), kBound);
  return ids;
}

// The columns an edit changed as people name them (AssigneeID as the Assignee's label).
std::string ChangedWords(Session& session, const std::vector<std::string>& columns) {
  std::string words;
  for (const std::string& column : columns) {
    std::string name = column;
    if (vb::EqualsText(name, "AssigneeID")) name = "Assignee";
    if (vb::EqualsText(name, "OriginatorID")) name = "Originator";
    if (!words.empty()) words += ", ";
    words += LabelOf(session, name);
  }
  return words;
}

// One action's change, as a single change of it would be made.
BulkItem ApplyOne(Session& session, int32_t given, bool byNumber, const BulkChange& change) {
  BulkItem item;
  item.number = byNumber ? given : 0;
  try {
    item.id = byNumber ? ActionIDOf(session, given) : given;
    item.number = vb::CLng((*internal::Row(session, item.id))["ActionNumber"].Value());
    std::string words;
    if (change.move == BulkMove::Delete) {
      Delete(session, item.id);
    } else {
      kvdata::RunInTransaction(internal::Connection(session), [&] {
        words.clear();
        if (!change.fields.empty()) {
          words = ChangedWords(session, Edit(session, item.id, change.fields).changed);
        }
        switch (change.move) {
          case BulkMove::Complete:
            Complete(session, item.id, change.note);
            break;
          case BulkMove::Close:
            Close(session, item.id, change.note);
            break;
          case BulkMove::Reopen:
            Reopen(session, item.id, change.note);
            break;
          case BulkMove::None:
          case BulkMove::Delete:
            break;
        }
      });
    }
    if (change.move != BulkMove::None) {
      words += fmt::format("{}{}", words.empty() ? "" : "; ", NameOf(change.move).done);
    }
    item.outcome = words.empty() ? BulkOutcome::Unchanged : BulkOutcome::Changed;
    item.message = std::move(words);
  } catch (const vb::ComError& error) {
    if (KindOf(error) == ErrorKind::Other) throw;
    item.outcome = error.number() == kNotFound ? BulkOutcome::NotFound : BulkOutcome::Refused;
    if (item.outcome == BulkOutcome::NotFound && !byNumber) item.id = given;
    item.message = error.description();
  }
  return item;
}

}  // namespace

BulkMove BulkMoveOf(std::string_view word) {
  for (const MoveName& name : kMoves) {
    if (vb::EqualsText(name.word, word)) return name.move;
  }
  throw Invalid("move", word, "complete, close, reopen or delete");
}

std::string_view BulkMoveWord(BulkMove move) { return NameOf(move).word; }

std::string_view BulkOutcomeWord(BulkOutcome outcome) {
  switch (outcome) {
    case BulkOutcome::Changed:
      return "changed";
    case BulkOutcome::Unchanged:
      return "unchanged";
    case BulkOutcome::Refused:
      return "refused";
    case BulkOutcome::NotFound:
      return "not found";
  }
  return {};
}

int32_t BulkReport::Count(BulkOutcome outcome) const {
  return static_cast<int32_t>(std::count_if(
      items.begin(), items.end(), [&](const BulkItem& item) { return item.outcome == outcome; }));
}

BulkReport BulkApply(Session& session, const BulkSelection& selection, const BulkChange& change) {
  CheckChange(session, change);
  const bool byNumber = selection.byNumber && !selection.list;
  BulkReport report;
  for (const int32_t id : Selected(session, selection)) {
    report.items.push_back(ApplyOne(session, id, byNumber, change));
  }
  return report;
}

std::string BulkSummary(const BulkReport& report) {
  if (report.items.empty()) return "Nothing selected.";
  std::string words;
  for (const BulkOutcome outcome : {BulkOutcome::Changed, BulkOutcome::Unchanged,
                                    BulkOutcome::Refused, BulkOutcome::NotFound}) {
    if (const int32_t count = report.Count(outcome); count > 0) {
      words += fmt::format("{}{} {}", words.empty() ? "" : ", ", count, BulkOutcomeWord(outcome));
    }
  }
  return fmt::format("{} of {} action{}.", words, report.items.size(),
                     report.items.size() == 1 ? "" : "s");
}

std::string BulkLine(const BulkItem& item) {
  std::string line = fmt::format("No. {}: {}", item.number, BulkOutcomeWord(item.outcome));
  if (!item.message.empty()) {
    line += item.outcome == BulkOutcome::Changed ? fmt::format(" ({})", item.message)
                                                 : fmt::format(": {}", item.message);
  }
  return line;
}

nlohmann::ordered_json BulkJson(const BulkReport& report) {
  nlohmann::ordered_json actions = nlohmann::ordered_json::array();
  for (const BulkItem& item : report.items) {
    actions.push_back({{"id", item.id},
                       {"number", item.number},
                       {"outcome", BulkOutcomeWord(item.outcome)},
                       {"message", item.message}});
  }
  return {{"summary", BulkSummary(report)},
          {"changed", report.Count(BulkOutcome::Changed)},
          {"unchanged", report.Count(BulkOutcome::Unchanged)},
          {"refused", report.Count(BulkOutcome::Refused)},
          {"notFound", report.Count(BulkOutcome::NotFound)},
          {"actions", std::move(actions)}};
}

BulkReport BulkReportOf(const nlohmann::json& json) {
  BulkReport report;
  for (const auto& action : json.at("actions")) {
    BulkItem item;
    item.id = action.at("id").get<int32_t>();
    item.number = action.at("number").get<int32_t>();
    item.message = action.at("message").get<std::string>();
    const std::string word = action.at("outcome").get<std::string>();
    const auto outcomes = {BulkOutcome::Changed, BulkOutcome::Unchanged, BulkOutcome::Refused,
                           BulkOutcome::NotFound};
    const auto found = std::find_if(outcomes.begin(), outcomes.end(),
                                    [&](BulkOutcome o) { return BulkOutcomeWord(o) == word; });
    if (found == outcomes.end()) throw Invalid("actions", word, "an outcome of a bulk change");
    item.outcome = *found;
    report.items.push_back(std::move(item));
  }
  return report;
}

}  // namespace app
