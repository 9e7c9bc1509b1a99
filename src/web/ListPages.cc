// The lists of actions: the main list with its filters and paging, the saved queries, and the
// alerts and due lists. A choice of list travels in the query string, so every list is a link one
// can keep, and sorting and paging keep it.
#include "web/ListPages.h"

#include <fmt/format.h>

#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "app/Actions.h"
#include "app/Errors.h"
#include "app/Import.h"
#include "app/Lists.h"
#include "app/Profile.h"
#include "app/Rights.h"
#include "app/View.h"
#include "app/WebSupport.h"
#include "kvaction/Enums.h"
#include "vb/ComError.h"
#include "vb/Convert.h"
#include "web/TeamPages.h"

namespace web {
namespace {

constexpr int32_t kPageSize = 50;

// The columns of the list, in order; sorting accepts only these and the state and turn columns
// after them, which sort by what they show.
const std::vector<std::string>& ListColumns() {
  static const std::vector<std::string> columns = {"ActionNumber", "Subject", "Assignee",
                                                   "Originator", "DateDue"};
  return columns;
}
constexpr std::string_view kStateSort = "state";
constexpr std::string_view kTurnSort = "turn";
// Ties go by the action number, so a page read from the end is the exact opposite.
std::string SortOf(const std::string& key, const std::string& direction,
                   std::string_view tie = "asc") {
  return key + " " + direction +
         (key == "ActionNumber" ? "" : fmt::format(", ActionNumber {}", tie));
}

// choice: the list's filters as "&name=value…", kept by every sort and page link.
std::string ListHref(std::string_view sort, std::string_view direction, int32_t page,
                     std::string_view choice) {
  return fmt::format("/?sort={}&dir={}&page={}{}", sort, direction, page, choice);
}

// A count as people read it: 5010 as "5,010".
std::string Grouped(int64_t number) {
  std::string digits = std::to_string(number < 0 ? -number : number);
  for (auto at = static_cast<int64_t>(digits.size()) - 3; at > 0; at -= 3) {
    digits.insert(static_cast<size_t>(at), ",");
  }
  return (number < 0 ? "-" : "") + digits;
}

// The filters typed into a field, by the name they have in forms and links (app/'s field IDs):
// the texts, then the date bounds (a date input's type).
struct TextFilter {
  std::string name;
  std::string app::ListFilter::*member;
  std::string label;
  std::string type = "text";
};
const std::vector<TextFilter>& TextFilters() {
  static const std::vector<TextFilter> filters = [] {
    std::vector<TextFilter> all = {
        {"assignee", &app::ListFilter::assignee, "Assignee (user ID)"},
        {"originator", &app::ListFilter::originator, "Originator (user ID)"},
        {"category", &app::ListFilter::category, "Category"},
        {"priority", &app::ListFilter::priority, "Priority"},
        {"grep", &app::ListFilter::grep, "Text (any field, people by name or ID)"},
        {"reference", &app::ListFilter::reference, "Reference ID"}};
    for (const app::DateFilterField& bound : app::DateFilterFields()) {
      all.push_back({std::string(bound.field), bound.member, std::string(bound.label), "date"});
    }
    return all;
  }();
  return filters;
}

// A whole number in lowest..highest from a form; nullopt when empty.
std::optional<int32_t> NumberParam(const web::Request& request, const std::string& name,
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
  query += fmt::format("&{}={}", name, web::QueryValue(value));
}

bool Checked(const web::Request& request, const std::string& name) {
  const std::string value = Param(request, name);
  return value == "1" || value == "on";
}

}  // namespace

mstch::map PagerOf(int32_t page, int32_t total, int32_t pageSize, std::string label,
                   const std::function<std::string(int32_t)>& href, const std::string& previousHref,
                   const std::string& nextHref) {
  const int32_t pages = std::max<int32_t>(1, (total + pageSize - 1) / pageSize);
  page = std::clamp(page, 1, pages);
  const int32_t first = (page - 1) * pageSize + 1;
  const int32_t last = std::min(total, page * pageSize);
  mstch::array links;
  const auto link = [&](int32_t number, std::string text, std::string rel, std::string name) {
    std::string address = href(number);
    if (rel == "prev" && !previousHref.empty()) address = previousHref;
    if (rel == "next" && !nextHref.empty()) address = nextHref;
    links.emplace_back(mstch::map{{"label", std::move(text)},
                                  {"name", std::move(name)},
                                  {"href", std::move(address)},
                                  {"rel", std::move(rel)},
                                  {"current", number == page}});
  };
  const auto gap = [&] { links.emplace_back(mstch::map{{"gap", true}}); };
  if (page > 1) link(page - 1, "‹", "prev", "Previous page");
  // The first, the last, and two either side of the current page; gaps where pages are left out.
  constexpr int32_t kAround = 2;
  for (int32_t number = 1; number <= pages; ++number) {
    const bool shown = number == 1 || number == pages || std::abs(number - page) <= kAround;
    if (shown) {
      link(number, Grouped(number), "", fmt::format("Page {}", number));
    } else if (number == 2 || number == pages - 1) {
      gap();
    }
  }
  if (page < pages) link(page + 1, "›", "next", "Next page");
  return mstch::map{{"range", total == 0 ? std::string("0 of 0")
                                         : fmt::format("{}–{} of {}", Grouped(first), Grouped(last),
                                                       Grouped(total))},
                    {"links", std::move(links)},
                    {"several", pages > 1},
                    {"pagesLabel", std::move(label)},
                    {"page", page},
                    {"pages", pages}};
}

int32_t PageOf(const web::Request& request, const std::string& name) {
  const std::string text = Param(request, name);
  int32_t page = 1;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), page);
  return error == std::errc() && end == text.data() + text.size() && page >= 1 ? page : 1;
}

namespace {

// One row of an alerts or due list.
mstch::map RowOf(Visit& visit, ado::Recordset& row) {
  const auto text = [&](std::string_view column) {
    return app::ValueText(visit.session, row[column].Value());
  };
  mstch::map cells{{"href", "/action/" + text("ActionID")},
                   {"number", text("ActionNumber")},
                   {"subject", text("Subject")},
                   {"assignee", text("Assignee")},
                   {"due", text("DateDue")}};
  AddStateOf(app::StateOf(visit.session, row), cells);
  return cells;
}

// One page of a list that only streams: the rows before the page are passed over, the page's
// are kept, the ones after it only counted.
mstch::map PagedRows(Visit& visit, ado::Recordset& list, const std::string& pageName,
                     std::string label, const std::string& otherQuery) {
  const int32_t page = PageOf(visit.request, pageName);
  const int32_t first = (page - 1) * kPageSize;
  mstch::array rows;
  rows.reserve(static_cast<size_t>(kPageSize));
  int32_t total = 0;
  for (; !list.IsEOF(); list.MoveNext(), ++total) {
    if (total >= first && total < first + kPageSize) rows.emplace_back(RowOf(visit, list));
  }
  const bool empty = total == 0;
  mstch::map pager = PagerOf(page, total, kPageSize, label, [&](int32_t number) {
    return fmt::format("/alerts?{}={}{}", pageName, number, otherQuery);
  });
  mstch::map paged{{"empty", empty}};
  paged.emplace("rows", std::move(rows));
  paged.emplace("pager", std::move(pager));
  return paged;
}

std::string QueryPath(int32_t queryID) { return fmt::format("/?query={}", queryID); }

}  // namespace

namespace {

// The list request a choice, a sort key and a direction make.
app::ListRequest RequestOf(const ListChoice& choice, const std::string& sort,
                           const std::string& direction) {
  app::ListRequest request;
  request.queryID = choice.queryID;
  request.filter = choice.filter;
  request.columns = ListColumns();
  request.columns.emplace_back("ActionID");
  request.columns = app::WithStateColumns(request.columns);
  request.sort = SortOf(sort, direction);
  return request;
}

// The sort key and direction a request asks for (the action number, ascending, by default).
std::pair<std::string, std::string> SortChoice(const web::Request& request) {
  const auto& columns = ListColumns();
  std::string sort = Param(request, "sort");
  if (sort != kStateSort && sort != kTurnSort &&
      std::find(columns.begin(), columns.end(), sort) == columns.end()) {
    sort = "ActionNumber";
  }
  return {sort, Param(request, "dir") == "desc" ? "desc" : "asc"};
}

// One row of the list: the cells of the table, and the same values by name for the cards.
mstch::map ListRow(Visit& visit, ado::Recordset& list) {
  mstch::array cells;
  cells.reserve(ListColumns().size());
  const std::string href = "/action/" + Text(visit, list, "ActionID");
  for (const auto& column : ListColumns()) {
    const bool link = column == "ActionNumber" || column == "Subject";
    cells.emplace_back(
        mstch::map{{"text", Text(visit, list, column)}, {"link", link}, {"href", href}});
  }
  mstch::map row{{"href", href},
                 {"number", Text(visit, list, "ActionNumber")},
                 {"subject", Text(visit, list, "Subject")},
                 {"due", Text(visit, list, "DateDue")},
                 {"id", Text(visit, list, "ActionID")}};
  row.emplace("cells", std::move(cells));
  AddStateOf(app::StateOf(visit.session, list), row);
  return row;
}

}  // namespace

void ListPage(Visit& visit) {
  const auto [sort, direction] = SortChoice(visit.request);
  const ListChoice choice = EditableChoice(visit, ListChoiceOf(visit.request));
  app::ListRequest request = RequestOf(choice, sort, direction);
  const int32_t total = app::ListCount(visit.session, request);
  const int32_t pages = std::max<int32_t>(1, (total + kPageSize - 1) / kPageSize);
  const int32_t page = std::min(PageOf(visit.request, "page"), pages);
  const int32_t first = (page - 1) * kPageSize;
  const int32_t end = std::min(total, first + kPageSize);
  request.limit = kPageSize;
  // The previous and next pages start from this page's first and last rows, sought through the
  // indexes; a page chosen by its number is counted from the start, or from the end for a page
  // in the second half (in the opposite order), so the last page costs what the first does.
  // Ties are broken by the action number, so the orders are exact opposites.
  app::ListPage shown;
  if (const std::string after = Param(visit.request, "after"); !after.empty()) {
    request.after = after;
    shown = app::ListPageOf(visit.session, request);
  } else if (const std::string before = Param(visit.request, "before"); !before.empty()) {
    request.before = before;
    shown = app::ListPageOf(visit.session, request);
  }
  request.after.clear();
  request.before.clear();
  const bool fromEnd = first > total / 2;
  bool reversed = false;
  if (!shown.rows || shown.rows->IsEOF()) {
    // No continuation, or the rows it named are gone: the page by its number.
    if (fromEnd) {
      request.sort = SortOf(sort, direction == "asc" ? "desc" : "asc", "desc");
      request.offset = total - end;
    } else {
      request.offset = first;
    }
    request.limit = std::max(1, end - first);
    shown = app::ListPageOf(visit.session, request);
    reversed = fromEnd;
    if (reversed) std::swap(shown.previous, shown.next);
  }
  // Reserved: a list of values grows by copying them (their moves may throw).
  mstch::array rows;
  rows.reserve(static_cast<size_t>(kPageSize));
  for (auto& list = *shown.rows; !list.IsEOF(); list.MoveNext()) {
    rows.emplace_back(ListRow(visit, list));
  }
  if (reversed) std::reverse(rows.begin(), rows.end());
  const auto continued = [&](int32_t number, std::string_view name, const std::string& at) {
    return at.empty() ? std::string()
                      : fmt::format("{}&{}={}", ListHref(sort, direction, number, choice.query),
                                    name, web::QueryValue(at));
  };
  mstch::array headers;
  headers.reserve(ListColumns().size() + 2);
  const auto header = [&](const std::string& key, std::string label) {
    const bool sorted = key == sort;
    const std::string next = sorted && direction == "asc" ? "desc" : "asc";
    std::string order = "none";
    if (sorted) order = direction == "asc" ? "ascending" : "descending";
    headers.emplace_back(
        mstch::map{{"label", std::move(label)},
                   {"href", ListHref(key, next, 1, choice.query)},
                   {"order", order},
                   {"arrow", std::string(sorted ? (direction == "asc" ? "▲" : "▼") : "")}});
  };
  for (const auto& column : ListColumns()) header(column, app::LabelOf(visit.session, column));
  header(std::string(kStateSort), "State");
  header(std::string(kTurnSort), "Whose turn");
  mstch::map context{
      {"empty", rows.empty()},
      {"columnCount", std::to_string(ListColumns().size() + 3)},
      {"pager", PagerOf(
                    page, total, kPageSize, "Pages",
                    [&](int32_t number) { return ListHref(sort, direction, number, choice.query); },
                    continued(page - 1, "before", shown.previous),
                    continued(page + 1, "after", shown.next))},
      {"queryID", choice.queryID ? std::to_string(*choice.queryID) : std::string()},
      {"csvHref", fmt::format("/list.csv?sort={}&dir={}{}", sort, direction, choice.query)},
      {"sort", sort},
      {"dir", direction}};
  context.emplace("headers", std::move(headers));
  context.emplace("rows", std::move(rows));
  AddListControls(visit, choice, context);
  AddBulkControls(visit, choice, total, context);
  SendPage(visit, "list", choice.Any() ? "Actions" : "My actions", std::move(context));
}

void ListCsv(Visit& visit) {
  const auto [sort, direction] = SortChoice(visit.request);
  const ListChoice choice = ListChoiceOf(visit.request);
  const auto list = app::List(visit.session, RequestOf(choice, sort, direction));
  std::vector<std::string> names = ListColumns();
  names.emplace_back("State");
  names.emplace_back("Turn");
  std::string csv = app::CsvLine(names);
  for (; !list->IsEOF(); list->MoveNext()) {
    std::vector<std::string> cells;
    for (const auto& column : ListColumns()) cells.push_back(app::CsvText((*list)[column].Value()));
    const app::RowState state = app::StateOf(visit.session, *list);
    cells.push_back(app::ToCell(std::string(app::StateCode(state.state))));
    cells.push_back(app::ToCell(std::string(app::TurnCode(state))));
    csv += app::CsvLine(cells);
  }
  visit.response.set_header("Content-Disposition", "attachment; filename=\"actions.csv\"");
  visit.response.set_content(csv, "text/csv; charset=utf-8");
}

namespace {

bool HasCriteria(const app::ListFilter& filter) {
  return filter.mine || filter.dueWithin || !filter.status.empty() ||
         std::any_of(TextFilters().begin(), TextFilters().end(),
                     [&](const TextFilter& text) { return !(filter.*text.member).empty(); });
}

// The choice as "&name=value…" for links that keep it.
std::string QueryStringOf(const ListChoice& choice) {
  std::string query;
  if (choice.queryID) AddToQuery(query, "query", std::to_string(*choice.queryID));
  if (choice.baseID) AddToQuery(query, "from", std::to_string(*choice.baseID));
  if (choice.filter.mine) AddToQuery(query, "mine", "1");
  for (const auto& filter : TextFilters()) {
    const std::string& value = choice.filter.*filter.member;
    if (!value.empty()) AddToQuery(query, filter.name, value);
  }
  if (!choice.filter.status.empty()) AddToQuery(query, "status", choice.filter.status);
  if (choice.filter.dueWithin) {
    AddToQuery(query, "within", std::to_string(*choice.filter.dueWithin));
  }
  return query;
}

// The criteria of a choice in words, as the list's heading line shows them.
mstch::array CriteriaWords(const app::ListFilter& filter) {
  mstch::array words;
  const auto add = [&](std::string label, std::string value) {
    words.emplace_back(mstch::map{{"label", std::move(label)}, {"value", std::move(value)}});
  };
  if (filter.mine) add("Only mine", "assignee or originator");
  if (!filter.status.empty()) add("Status", filter.status);
  if (filter.dueWithin) add("Open and due within", fmt::format("{} days", *filter.dueWithin));
  for (const auto& text : TextFilters()) {
    if (const std::string& value = filter.*text.member; !value.empty()) add(text.label, value);
  }
  return words;
}

}  // namespace

ListChoice ListChoiceOf(const web::Request& request) {
  ListChoice choice;
  const std::string queryText = Param(request, "query");
  if (!queryText.empty()) choice.queryID = IdOf(queryText, "query");
  // The saved query whose criteria the filters were taken from, to be updated from them.
  if (const std::string base = Param(request, "from"); !base.empty() && !choice.queryID) {
    choice.baseID = IdOf(base, "from");
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
  choice.query = QueryStringOf(choice);
  return choice;
}

ListChoice EditableChoice(Visit& visit, ListChoice choice) {
  if (!choice.queryID || HasCriteria(choice.filter)) return choice;
  const app::SavedQuery saved = app::QueryOf(visit.session, *choice.queryID);
  if (!saved.complete || !HasCriteria(saved.definition.filter)) return choice;
  ListChoice edited;
  edited.baseID = choice.queryID;
  edited.filter = saved.definition.filter;
  edited.query = QueryStringOf(edited);
  return edited;
}

void AddListControls(Visit& visit, const ListChoice& choice, mstch::map& context) {
  auto& session = visit.session;
  const std::optional<int32_t> savedID = choice.queryID ? choice.queryID : choice.baseID;
  std::string savedName;
  bool own = false;
  mstch::array queries;
  for (auto list = app::QueryList(session); !list->IsEOF(); list->MoveNext()) {
    const int32_t id = vb::CLng((*list)["QueryID"].Value());
    const std::string name = app::ValueText(session, (*list)["Name"].Value());
    const std::string owner = app::ValueText(session, (*list)["UserID"].Value());
    if (savedID == id) {
      savedName = name;
      own = vb::EqualsText(owner, session.userID());
    }
    queries.emplace_back(mstch::map{
        {"id", std::to_string(id)}, {"name", name}, {"owner", owner}, {"selected", savedID == id}});
  }
  mstch::array texts;
  mstch::array hidden;        // the filters as the save forms carry them
  mstch::array searchHidden;  // the same without the text, for the quick search
  for (const auto& filter : TextFilters()) {
    const std::string& value = choice.filter.*filter.member;
    texts.emplace_back(mstch::map{
        {"name", filter.name}, {"label", filter.label}, {"type", filter.type}, {"value", value}});
    if (!value.empty()) {
      hidden.emplace_back(mstch::map{{"name", std::string(filter.name)}, {"value", value}});
      if (filter.name != "grep") {
        searchHidden.emplace_back(mstch::map{{"name", std::string(filter.name)}, {"value", value}});
      }
    }
  }
  const auto both = [&](std::string name, std::string value) {
    hidden.emplace_back(mstch::map{{"name", name}, {"value", value}});
    searchHidden.emplace_back(mstch::map{{"name", std::move(name)}, {"value", std::move(value)}});
  };
  const std::string& status = choice.filter.status;
  if (!status.empty()) both("status", status);
  const std::string within =
      choice.filter.dueWithin ? std::to_string(*choice.filter.dueWithin) : std::string();
  if (!within.empty()) both("within", within);
  if (choice.filter.mine) both("mine", "1");
  if (choice.queryID) {
    searchHidden.emplace_back(
        mstch::map{{"name", std::string("query")}, {"value", std::to_string(*choice.queryID)}});
  }
  if (choice.baseID) {
    searchHidden.emplace_back(
        mstch::map{{"name", std::string("from")}, {"value", std::to_string(*choice.baseID)}});
  }
  mstch::array statuses;
  statuses.emplace_back(mstch::map{
      {"value", std::string()}, {"label", std::string("any")}, {"selected", status.empty()}});
  for (const auto& word : app::StatusWords()) {
    statuses.emplace_back(mstch::map{{"value", word},
                                     {"label", word == "active" ? "active (not closed)" : word},
                                     {"selected", word == status}});
  }
  // Offered only where saving would not refuse: a filter a saved query can hold, and others'
  // actions in a query need right 68.
  const bool storable = !hidden.empty() && !choice.queryID && app::FitsSavedQuery(choice.filter) &&
                        app::Can(session, kvaction::arCreateQueries) &&
                        (choice.filter.mine || app::Can(session, kvaction::arQueryOthers));
  context.emplace("queries", std::move(queries));
  context.emplace("textFilters", std::move(texts));
  context.emplace("statuses", std::move(statuses));
  context.emplace("within", within);
  context.emplace("mine", choice.filter.mine);
  context.emplace("grep", choice.filter.grep);
  context.emplace("filtered", choice.Any());
  context.emplace("criteria", CriteriaWords(choice.filter));
  context.emplace("hasCriteria", HasCriteria(choice.filter));
  context.emplace("queryRun", choice.queryID.has_value());
  context.emplace("queryName", savedName);
  context.emplace("baseID", choice.baseID ? std::to_string(*choice.baseID) : std::string());
  context.emplace("editing", choice.baseID.has_value());
  context.emplace("savable", storable);
  context.emplace("updatable", storable && choice.baseID.has_value() && own);
  context.emplace("hidden", std::move(hidden));
  context.emplace("searchHidden", std::move(searchHidden));
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

void QueryUpdate(Visit& visit, int32_t queryID) {
  app::QueryDefinition definition;
  definition.name = Param(visit.request, "name");
  definition.filter = ListChoiceOf(visit.request).filter;
  app::QueryUpdate(visit.session, queryID, definition);
  Redirect(visit.response, QueryPath(queryID));
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
  // Each list pages on its own; its links keep the other's page and the form's values.
  std::string form = fmt::format("&days={}", days);
  if (mine) form += "&mine=1";
  const std::string alertPage = std::to_string(PageOf(visit.request, "apage"));
  const std::string duePage = std::to_string(PageOf(visit.request, "dpage"));
  SendPage(visit, "alerts", "Alerts and due actions",
           {{"alerts",
             PagedRows(visit, *alerts, "apage", "Pages of alerts", form + "&dpage=" + duePage)},
            {"due",
             PagedRows(visit, *due, "dpage", "Pages of due actions", form + "&apage=" + alertPage)},
            {"days", std::to_string(days)},
            {"mine", mine}});
}

}  // namespace web
