#include "web/TeamPages.h"

#include <fmt/format.h>

#include <algorithm>
#include <array>
#include <string>
#include <string_view>
#include <utility>

#include "app/Bulk.h"
#include "app/Errors.h"
#include "app/Lists.h"
#include "app/Watchers.h"

namespace web {
namespace {

// The changes the list offers: the field each sets from the one value typed, or the move.
struct BulkChoice {
  std::string_view name;
  std::string_view title;
  std::string_view column;  ///< "" for a move
  std::string_view hint;    ///< what the value holds
};
constexpr std::array<BulkChoice, 8> kChoices = {{
    {"assign", "Assign to", "Assignee", "a user ID"},
    {"due", "Set the due date", "DateDue", "a date (empty clears it)"},
    {"priority", "Set the priority", "Priority", "a priority"},
    {"category", "Set the category", "Category", "a category"},
    {"complete", "Complete", "", ""},
    {"close", "Close", "", ""},
    {"reopen", "Reopen", "", ""},
    {"delete", "Delete", "", ""},
}};

const BulkChoice& ChoiceOf(const std::string& name) {
  const auto found = std::find_if(kChoices.begin(), kChoices.end(),
                                  [&](const BulkChoice& choice) { return choice.name == name; });
  if (found == kChoices.end()) {
    throw app::Invalid("do", name,
                       "assign, due, priority, category, complete, close, reopen or "
                       "delete");
  }
  return *found;
}

// The list's choice as the hidden fields a form carries back.
mstch::array HiddenOf(const std::string& query) {
  Params params;
  ParseQueryText(query, params);
  mstch::array hidden;
  for (const auto& [name, value] : params) {
    hidden.emplace_back(mstch::map{{"name", name}, {"value", value}});
  }
  return hidden;
}

// Every field the request sent but the form token and the confirmation, to send again.
mstch::array Resent(const web::Request& request) {
  mstch::array hidden;
  for (const auto& [name, value] : request.params) {
    if (name == "csrf" || name == "confirm") continue;
    hidden.emplace_back(mstch::map{{"name", name}, {"value", value}});
  }
  return hidden;
}

bool AllMatching(const web::Request& request) { return Param(request, "all") == "1"; }

app::BulkSelection SelectionOf(Visit& visit) {
  app::BulkSelection selection;
  if (AllMatching(visit.request)) {
    const ListChoice choice = ListChoiceOf(visit.request);
    selection.list = app::ListRequest{};
    selection.list->queryID = choice.queryID;
    selection.list->filter = choice.filter;
    return selection;
  }
  const size_t count = visit.request.get_param_value_count("id");
  for (size_t i = 0; i < count; ++i) {
    selection.ids.push_back(IdOf(visit.request.get_param_value("id", i), "id"));
  }
  return selection;
}

}  // namespace

void AddWatchersOf(Visit& visit, int32_t actionID, mstch::map& context) {
  mstch::array watchers;
  for (const app::Watcher& watcher : app::WatchersOf(visit.session, actionID)) {
    watchers.emplace_back(mstch::map{{"words", app::WatcherWords(watcher)}});
  }
  const bool watching = app::IsWatching(visit.session, actionID);
  context.emplace("hasWatchers", !watchers.empty());
  context.emplace("watchers", std::move(watchers));
  context.emplace("watching", watching);
  context.emplace("watchValue", std::string(watching ? "0" : "1"));
  context.emplace("watchTitle", std::string(watching ? "Unwatch" : "Watch"));
}

void WatchSave(Visit& visit, int32_t actionID) {
  const std::string watch = Param(visit.request, "watch");
  if (watch == "1") {
    app::Watch(visit.session, actionID);
  } else if (watch == "0") {
    app::Unwatch(visit.session, actionID);
  } else {
    throw app::Invalid("watch", watch, "1 (watch) or 0 (stop watching)");
  }
  Redirect(visit.response,
           Confirmed(fmt::format("/action/{}", actionID), watch == "1" ? "watching" : "unwatched"));
}

void AddBulkControls(Visit& visit, const ListChoice& choice, int32_t total, mstch::map& context) {
  (void)visit;
  mstch::array choices;
  for (const BulkChoice& offered : kChoices) {
    choices.emplace_back(
        mstch::map{{"name", std::string(offered.name)}, {"title", std::string(offered.title)}});
  }
  context.emplace("bulk", mstch::map{{"hidden", HiddenOf(choice.query)},
                                     {"total", std::to_string(total)},
                                     {"over", total > app::kBulkLimit},
                                     {"limit", std::to_string(app::kBulkLimit)},
                                     {"choices", std::move(choices)},
                                     {"some", total > 0}});
}

void BulkPage(Visit& visit) {
  const web::Request& request = visit.request;
  const BulkChoice& chosen = ChoiceOf(Param(request, "do"));
  app::BulkChange change;
  if (chosen.column.empty()) {
    change.move = app::BulkMoveOf(chosen.name);
  } else {
    change.fields.emplace_back(std::string(chosen.column), Param(request, "value"));
  }
  change.note = Param(request, "note");
  const app::BulkSelection selection = SelectionOf(visit);
  // In the page's words: the form's tick boxes, not the API's list of IDs.
  const auto nothingTicked = [] {
    return app::Invalid("id", {}, "at least one ticked action, or all matching");
  };
  if (!selection.list && selection.ids.empty()) throw nothingTicked();
  const bool ask = change.move == app::BulkMove::Delete || change.move == app::BulkMove::Close;
  if (ask && Param(request, "confirm") != "yes") {
    const int32_t count = selection.list ? app::ListCount(visit.session, *selection.list)
                                         : static_cast<int32_t>(selection.ids.size());
    if (count == 0) throw nothingTicked();
    return SendPage(visit, "bulk-confirm", std::string(chosen.title) + " actions?",
                    {{"title", std::string(chosen.title)},
                     {"count", std::to_string(count)},
                     {"deleting", change.move == app::BulkMove::Delete},
                     {"hidden", Resent(request)}});
  }
  const app::BulkReport report = app::BulkApply(visit.session, selection, change);
  mstch::array items;
  for (const app::BulkItem& item : report.items) {
    const bool present = item.outcome != app::BulkOutcome::NotFound &&
                         change.move != app::BulkMove::Delete && item.id > 0;
    items.emplace_back(mstch::map{{"number", std::to_string(item.number)},
                                  {"href", fmt::format("/action/{}", item.id)},
                                  {"link", present},
                                  {"outcome", std::string(app::BulkOutcomeWord(item.outcome))},
                                  {"good", item.outcome == app::BulkOutcome::Changed},
                                  {"message", item.message},
                                  {"line", app::BulkLine(item)}});
  }
  const bool refusals =
      report.Count(app::BulkOutcome::Refused) + report.Count(app::BulkOutcome::NotFound) > 0;
  std::string back = "/";
  if (const std::string query = ListChoiceOf(request).query;
      AllMatching(request) && !query.empty()) {
    back = "/?" + query.substr(1);
  }
  SendPage(visit, "bulk-report", "Bulk change",
           {{"summary", app::BulkSummary(report)},
            {"title", std::string(chosen.title)},
            {"items", std::move(items)},
            {"refusals", refusals},
            {"back", back}});
}

}  // namespace web
