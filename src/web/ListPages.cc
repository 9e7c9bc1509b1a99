// The lists of actions: the main list with its filters and paging, the saved queries, and the
// alerts and due lists. A choice of list travels in the query string, so every list is a link one
// can keep, and sorting and paging keep it.
#include "web/ListPages.h"

#include <fmt/format.h>

#include <algorithm>
#include <charconv>
#include <string>
#include <utility>
#include <vector>

#include "app/Actions.h"
#include "app/Errors.h"
#include "app/Lists.h"
#include "app/Profile.h"
#include "app/Rights.h"
#include "app/WebSupport.h"
#include "kvaction/Enums.h"
#include "vb/ComError.h"
#include "vb/Convert.h"

namespace web {
namespace {

constexpr int32_t kPageSize = 50;

// The columns of the list, in order; sorting accepts only these.
const std::vector<std::string>& ListColumns() {
  static const std::vector<std::string> columns = {"ActionNumber", "Subject", "Assignee",
                                                   "Originator", "DateDue"};
  return columns;
}
// What the status column reads besides the shown columns.
const std::vector<std::string>& StatusColumns() {
  static const std::vector<std::string> columns = {"ActionID", "DateCompleted", "DateClosed",
                                                   "DateRejected", "Reviewed"};
  return columns;
}

// The page number a query asks for (1 when missing or not a number).
int32_t PageOf(const std::string& text) {
  int32_t page = 1;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), page);
  return error == std::errc() && end == text.data() + text.size() && page >= 1 ? page : 1;
}

// choice: the list's filters as "&name=value…", kept by every sort and page link.
std::string ListHref(std::string_view sort, std::string_view direction, int32_t page,
                     std::string_view choice) {
  return fmt::format("/?sort={}&dir={}&page={}{}", sort, direction, page, choice);
}

constexpr size_t kMostAlertRows = 200;

// The text filters, by the name they have in forms and links (the command line's words).
struct TextFilter {
  const char* name;
  std::string app::ListFilter::*member;
  const char* label;
};
const std::vector<TextFilter>& TextFilters() {
  static const std::vector<TextFilter> filters = {
      {"assignee", &app::ListFilter::assignee, "Assignee (user ID)"},
      {"originator", &app::ListFilter::originator, "Originator (user ID)"},
      {"category", &app::ListFilter::category, "Category"},
      {"priority", &app::ListFilter::priority, "Priority"},
      {"grep", &app::ListFilter::grep, "Text (subject, description, result)"},
      {"reference", &app::ListFilter::reference, "Reference ID"}};
  return filters;
}

// A whole number in lowest..highest from a form; nullopt when empty.
std::optional<int32_t> NumberParam(const httplib::Request& request, const std::string& name,
                                   int32_t lowest, int32_t highest) {
  const std::string text = Param(request, name);
  if (text.empty()) return std::nullopt;
  int32_t number = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), number);
  if (error != std::errc() || end != text.data() + text.size() || number < lowest ||
      number > highest) {
    throw app::Invalid(name, text, fmt::format("a whole number from {} to {}", lowest, highest));
  }
  return number;
}

void AddToQuery(std::string& query, std::string_view name, const std::string& value) {
  query += fmt::format("&{}={}", name, httplib::detail::encode_query_param(value));
}

bool Checked(const httplib::Request& request, const std::string& name) {
  const std::string value = Param(request, name);
  return value == "1" || value == "on";
}

// One row of an alerts or due list.
mstch::map RowOf(Visit& visit, ado::Recordset& row) {
  const auto text = [&](std::string_view column) {
    return app::ValueText(visit.session, row[column].Value());
  };
  const app::ActionStatus status = app::StatusOf(visit.session, row);
  return mstch::map{{"href", "/action/" + text("ActionID")},
                    {"number", text("ActionNumber")},
                    {"subject", text("Subject")},
                    {"assignee", text("Assignee")},
                    {"due", text("DateDue")},
                    {"status", status.shortStatus},
                    {"overdue", status.image == 2}};
}

mstch::map RowsOf(Visit& visit, ado::Recordset& list) {
  mstch::array rows;
  for (; !list.IsEOF() && rows.size() < kMostAlertRows; list.MoveNext()) {
    rows.emplace_back(RowOf(visit, list));
  }
  const bool more = !list.IsEOF();
  const bool empty = rows.empty();
  return mstch::map{{"rows", std::move(rows)},
                    {"empty", empty},
                    {"more", more},
                    {"most", std::to_string(kMostAlertRows)}};
}

std::string QueryPath(int32_t queryID) { return fmt::format("/?query={}", queryID); }

}  // namespace

void ListPage(Visit& visit) {
  const auto& columns = ListColumns();
  std::string sort = Param(visit.request, "sort");
  if (std::find(columns.begin(), columns.end(), sort) == columns.end()) sort = "ActionNumber";
  const std::string direction = Param(visit.request, "dir") == "desc" ? "desc" : "asc";
  const int32_t page = PageOf(Param(visit.request, "page"));
  const ListChoice choice = ListChoiceOf(visit.request);

  app::ListRequest request;
  request.queryID = choice.queryID;
  request.filter = choice.filter;
  request.columns = columns;
  request.columns.insert(request.columns.end(), StatusColumns().begin(), StatusColumns().end());
  request.sort = sort + " " + direction;
  request.limit = page * kPageSize + 1;
  const auto list = app::List(visit.session, request);
  for (int32_t skipped = 0; skipped < (page - 1) * kPageSize && !list->IsEOF(); ++skipped) {
    list->MoveNext();
  }
  mstch::array rows;
  for (; !list->IsEOF() && static_cast<int32_t>(rows.size()) < kPageSize; list->MoveNext()) {
    mstch::array cells;
    const std::string href = "/action/" + Text(visit, *list, "ActionID");
    for (const auto& column : columns) {
      const bool link = column == "ActionNumber" || column == "Subject";
      cells.emplace_back(
          mstch::map{{"text", Text(visit, *list, column)}, {"link", link}, {"href", href}});
    }
    const app::ActionStatus status = app::StatusOf(visit.session, *list);
    rows.emplace_back(mstch::map{
        {"cells", cells}, {"status", status.shortStatus}, {"overdue", status.image == 2}});
  }
  const bool more = !list->IsEOF();

  mstch::array headers;
  for (const auto& column : columns) {
    const bool sorted = column == sort;
    const std::string next = sorted && direction == "asc" ? "desc" : "asc";
    std::string order = "none";
    if (sorted) order = direction == "asc" ? "ascending" : "descending";
    headers.emplace_back(
        mstch::map{{"label", app::LabelOf(visit.session, column)},
                   {"href", ListHref(column, next, 1, choice.query)},
                   {"order", order},
                   {"arrow", std::string(sorted ? (direction == "asc" ? "▲" : "▼") : "")}});
  }
  mstch::map context{
      {"headers", headers},      {"rows", rows},
      {"empty", rows.empty()},   {"page", std::to_string(page)},
      {"hasPrevious", page > 1}, {"previous", ListHref(sort, direction, page - 1, choice.query)},
      {"hasNext", more},         {"next", ListHref(sort, direction, page + 1, choice.query)}};
  AddListControls(visit, choice, context);
  SendPage(visit, "list", choice.Any() ? "Actions" : "My actions", std::move(context));
}

ListChoice ListChoiceOf(const httplib::Request& request) {
  ListChoice choice;
  const std::string queryText = Param(request, "query");
  if (!queryText.empty()) {
    choice.queryID = IdOf(queryText, "query");
    AddToQuery(choice.query, "query", queryText);
  }
  // The form's names are app/'s field IDs but for "within" (app/'s dueWithin).
  app::FilterTexts given;
  if (const std::string mine = Param(request, "mine"); !mine.empty()) {
    given.emplace_back("mine", mine);
  }
  for (const auto& filter : TextFilters()) {
    if (std::string value = Param(request, filter.name); !value.empty()) {
      given.emplace_back(filter.name, std::move(value));
    }
  }
  if (std::string status = Param(request, "status"); !status.empty()) {
    given.emplace_back("status", std::move(status));
  }
  if (std::string within = Param(request, "within"); !within.empty()) {
    given.emplace_back("dueWithin", std::move(within));
  }
  try {
    choice.filter = app::FilterOf(given);
  } catch (const vb::ComError& e) {
    constexpr std::string_view kDueWithin = "dueWithin:";
    if (e.number() != app::kInvalidInput || !e.description().starts_with(kDueWithin)) throw;
    throw vb::ComError(e.number(), std::string(e.source()),
                       "within:" + std::string(e.description().substr(kDueWithin.size())));
  }
  if (choice.filter.mine) AddToQuery(choice.query, "mine", "1");
  for (const auto& filter : TextFilters()) {
    const std::string& value = choice.filter.*filter.member;
    if (!value.empty()) AddToQuery(choice.query, filter.name, value);
  }
  if (!choice.filter.status.empty()) AddToQuery(choice.query, "status", choice.filter.status);
  if (choice.filter.dueWithin) {
    AddToQuery(choice.query, "within", std::to_string(*choice.filter.dueWithin));
  }
  return choice;
}

void AddListControls(Visit& visit, const ListChoice& choice, mstch::map& context) {
  auto& session = visit.session;
  mstch::array queries;
  for (auto list = app::QueryList(session); !list->IsEOF(); list->MoveNext()) {
    const int32_t id = vb::CLng((*list)["QueryID"].Value());
    queries.emplace_back(mstch::map{{"id", std::to_string(id)},
                                    {"name", app::ValueText(session, (*list)["Name"].Value())},
                                    {"owner", app::ValueText(session, (*list)["UserID"].Value())},
                                    {"selected", choice.queryID == id}});
  }
  mstch::array texts;
  mstch::array hidden;  // the filters as the save form carries them
  for (const auto& filter : TextFilters()) {
    const std::string& value = choice.filter.*filter.member;
    texts.emplace_back(mstch::map{{"name", std::string(filter.name)},
                                  {"label", std::string(filter.label)},
                                  {"value", value}});
    if (!value.empty()) {
      hidden.emplace_back(mstch::map{{"name", std::string(filter.name)}, {"value", value}});
    }
  }
  const std::string& status = choice.filter.status;
  if (!status.empty())
    hidden.emplace_back(mstch::map{{"name", std::string("status")}, {"value", status}});
  const std::string within =
      choice.filter.dueWithin ? std::to_string(*choice.filter.dueWithin) : std::string();
  if (!within.empty())
    hidden.emplace_back(mstch::map{{"name", std::string("within")}, {"value", within}});
  if (choice.filter.mine)
    hidden.emplace_back(mstch::map{{"name", std::string("mine")}, {"value", std::string("1")}});
  mstch::array statuses;
  statuses.emplace_back(mstch::map{
      {"value", std::string()}, {"label", std::string("any")}, {"selected", status.empty()}});
  for (const auto& word : app::StatusWords()) {
    statuses.emplace_back(
        mstch::map{{"value", word}, {"label", word}, {"selected", word == status}});
  }
  // Text and reference filters are for the moment only: a saved query cannot hold them.
  const bool savable = !hidden.empty() && choice.filter.grep.empty() &&
                       choice.filter.reference.empty() &&
                       app::Can(session, kvaction::arCreateQueries);
  context.emplace("queries", std::move(queries));
  context.emplace("textFilters", std::move(texts));
  context.emplace("statuses", std::move(statuses));
  context.emplace("within", within);
  context.emplace("mine", choice.filter.mine);
  context.emplace("filtered", choice.Any());
  context.emplace("savable", savable);
  context.emplace("hidden", std::move(hidden));
  context.emplace("canShare", app::Can(session, kvaction::arAssignQueries));
  context.emplace("canCreate", app::Can(session, kvaction::arAddActions));
  context.emplace("heading", std::string(choice.Any() ? "Actions" : "My actions"));
  context.emplace("emptyText",
                  std::string(choice.Any() ? "No actions match." : "No open actions."));
}

void QueriesPage(Visit& visit) {
  auto& session = visit.session;
  const bool canShare = app::Can(session, kvaction::arAssignQueries);
  mstch::array queries;
  for (auto list = app::QueryList(session); !list->IsEOF(); list->MoveNext()) {
    const std::string owner = app::ValueText(session, (*list)["UserID"].Value());
    const bool own = vb::EqualsText(owner, session.userID());
    const vb::Variant sharedValue = (*list)["Shared"].Value();
    const bool shared = !sharedValue.IsNull() && vb::CBool(sharedValue);
    const std::string id = app::ValueText(session, (*list)["QueryID"].Value());
    queries.emplace_back(mstch::map{{"id", id},
                                    {"href", QueryPath(vb::CLng((*list)["QueryID"].Value()))},
                                    {"name", app::ValueText(session, (*list)["Name"].Value())},
                                    {"owner", owner},
                                    {"shared", shared},
                                    {"own", own},
                                    {"shareable", own && canShare},
                                    {"shareTo", std::string(shared ? "0" : "1")},
                                    {"shareTitle", std::string(shared ? "Withdraw" : "Share")}});
  }
  const bool empty = queries.empty();
  SendPage(visit, "queries", "Saved queries",
           {{"queries", std::move(queries)},
            {"empty", empty},
            {"canCreate", app::Can(session, kvaction::arCreateQueries)}});
}

void QuerySave(Visit& visit) {
  app::QueryDefinition definition;
  definition.name = Param(visit.request, "name");
  definition.filter = ListChoiceOf(visit.request).filter;
  const bool share = Checked(visit.request, "shared");
  // Refused before anything is saved, so a query is never left half done.
  if (share && !app::Can(visit.session, kvaction::arAssignQueries)) {
    throw app::Refusal("sharing a query", kvaction::arAssignQueries);
  }
  const int32_t id = app::QueryAdd(visit.session, definition);
  if (share) app::QueryShare(visit.session, id, true);
  Redirect(visit.response, Confirmed(QueryPath(id), "query"));
}

void QueryShare(Visit& visit, int32_t queryID) {
  app::QueryShare(visit.session, queryID, Checked(visit.request, "shared"));
  Redirect(visit.response, Confirmed("/queries", "shared"));
}

void QueryDelete(Visit& visit, int32_t queryID) {
  app::QueryDelete(visit.session, queryID);
  Redirect(visit.response, Confirmed("/queries", "unsaved"));
}

void AlertsPage(Visit& visit) {
  auto& session = visit.session;
  // The lead time shown is the one used: the person's own unless the form asks for another.
  const int32_t days = NumberParam(visit.request, "days", -32768, 32767)
                           .value_or(app::PersonalValuesOf(session).alertDays);
  const bool mine = Checked(visit.request, "mine");
  const auto alerts = app::AlertList(session);
  const auto due = app::DueList(session, days, mine);
  SendPage(visit, "alerts", "Alerts and due actions",
           {{"alerts", RowsOf(visit, *alerts)},
            {"due", RowsOf(visit, *due)},
            {"days", std::to_string(days)},
            {"mine", mine}});
}

}  // namespace web
