// Reading actions. Ad-hoc filters become a saved-query definition that the library translates,
// so a filter means exactly what the same criterion of a saved query means.
#include "app/Lists.h"

#include <fmt/format.h>

#include <algorithm>
#include <charconv>
#include <map>
#include <mutex>
#include <optional>
#include <sstream>
#include <tuple>

#include "app/Actions.h"
#include "app/Errors.h"
#include "app/Internal.h"
#include "app/Json.h"
#include "app/View.h"
#include "kvaction/Enums.h"
#include "kvaction/alerts/AlertStatements.h"
#include "kvaction/queries/QueryFilter.h"
#include "kvdata/DataConnection.h"
#include "kvdata/DataServer.h"
#include "kvdata/DataUtility.h"
#include "kvdata/QueryStore.h"
#include "kvdata/UserProfile.h"
#include "kvdata/engine/Engine.h"
#include "kvdata/schema/Schema.h"
#include "vb/Convert.h"

namespace app {
namespace {

using kvdata::DataUtility;

// Status codes of a saved query.
constexpr int16_t kActive = 0, kClosed = 1, kOverdue = 2, kDueWithin = 3, kCompleted = 4;

void CheckDueWithin(const ListFilter& filter) {
  if (filter.dueWithin && (*filter.dueWithin < -32768 || *filter.dueWithin > 32767)) {
    throw Invalid("dueWithin", fmt::format("{}", *filter.dueWithin), "a number of days");
  }
}

// The status code a saved query keeps for a filter. A saved query holds one status code, which
// selects by the dates alone: active, closed, completed and overdue (open and past due, whatever
// its review state) can be kept, and dueWithin on its own.
std::optional<int16_t> SavedStatusCode(const ListFilter& filter) {
  CheckDueWithin(filter);
  const std::string word = vb::LCase(filter.status);
  if (filter.dueWithin) {
    if (!word.empty() && word != "active") {
      throw Invalid("dueWithin", {}, "in a saved query only with status active or no status");
    }
    return kDueWithin;
  }
  if (word.empty()) return std::nullopt;
  if (word == "active") return kActive;
  if (word == "closed") return kClosed;
  if (word == "overdue") return kOverdue;
  if (word == "completed") return kCompleted;
  throw Invalid("status", filter.status,
                "a status a saved query keeps: active, closed, overdue or completed");
}

// The saved-query criteria of a filter, as column and value.
// A list's own filter keeps the status for its state condition (see AppendExtras); a saved query
// keeps it as its status code. Date bounds are the query's own date criteria either way.
std::vector<std::pair<std::string, vb::Variant>> Criteria(const ListFilter& filter, bool saved,
                                                          const vb::Locale& locale) {
  std::vector<std::pair<std::string, vb::Variant>> criteria;
  if (filter.mine && (!filter.assignee.empty() || !filter.originator.empty())) {
    throw Invalid("mine", {}, "not together with an assignee or an originator");
  }
  if (filter.mine) {
    criteria.emplace_back("AssignedTo", vb::Variant(int16_t{1}));
  } else if (!filter.assignee.empty() || !filter.originator.empty()) {
    criteria.emplace_back("AssignedTo", vb::Variant(int16_t{2}));
    if (!filter.assignee.empty()) criteria.emplace_back("Assignee", vb::Variant(filter.assignee));
    if (!filter.originator.empty()) {
      criteria.emplace_back("Originator", vb::Variant(filter.originator));
    }
  }
  if (!filter.category.empty()) criteria.emplace_back("Category", vb::Variant(filter.category));
  if (!filter.priority.empty()) criteria.emplace_back("Priority", vb::Variant(filter.priority));
  CheckDueWithin(filter);
  const std::optional<int16_t> status =
      saved ? SavedStatusCode(filter)
            : (filter.dueWithin ? std::optional<int16_t>(kDueWithin) : std::nullopt);
  if (status) {
    criteria.emplace_back("ApplyStatus", vb::Variant(true));
    criteria.emplace_back("Status", vb::Variant(*status));
    if (*status == kDueWithin) {
      criteria.emplace_back("DueDays", vb::Variant(static_cast<int16_t>(*filter.dueWithin)));
    }
  }
  for (const DateFilterField& bound : DateFilterFields()) {
    const std::string& text = filter.*bound.member;
    if (text.empty()) continue;
    criteria.emplace_back(std::string(bound.column) + (bound.upper ? "Upper" : ""),
                          vb::Variant(internal::DayOf(locale, bound.field, text)));
  }
  return criteria;
}

// A whole number of days for dueWithin.
int32_t DaysOf(const std::string& text) {
  int32_t days = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), days);
  if (error != std::errc() || end != text.data() + text.size() || days < 0 || days > 32767) {
    throw Invalid("dueWithin", text, "a whole number from 0 to 32767");
  }
  return days;
}

bool YesOf(const std::string& text) {
  const std::string word = vb::LCase(text);
  if (word.empty() || word == "true" || word == "1" || word == "on") return true;
  if (word == "false" || word == "0") return false;
  throw Invalid("mine", text, "true or false");
}

bool HasCriteria(const ListFilter& filter) {
  return filter.mine || !filter.assignee.empty() || !filter.originator.empty() ||
         !filter.status.empty() || filter.dueWithin || !filter.category.empty() ||
         !filter.priority.empty() || !filter.grep.empty() || !filter.reference.empty() ||
         std::any_of(DateFilterFields().begin(), DateFilterFields().end(),
                     [&](const DateFilterField& bound) { return !(filter.*bound.member).empty(); });
}

// A definition record set with every field a saved query has, holding the criteria given.
ado::RecordsetPtr Definition(const std::vector<std::pair<std::string, vb::Variant>>& criteria) {
  std::vector<std::pair<std::string, ado::DataTypeEnum>> fields = {
      {"AssignedTo", ado::adSmallInt}, {"ApplyStatus", ado::adBoolean},
      {"Status", ado::adSmallInt},     {"DueDays", ado::adSmallInt},
      {"Assignee", ado::adVarWChar},   {"Originator", ado::adVarWChar},
      {"Category", ado::adVarWChar},   {"Priority", ado::adVarWChar},
      {"Subject", ado::adVarWChar},    {"Description", ado::adVarWChar},
      {"Result", ado::adVarWChar}};
  for (const auto* date : {"DateOpened", "DateDue", "DateCompleted", "DateClosed"}) {
    fields.emplace_back(date, ado::adDate);
    fields.emplace_back(std::string(date) + "Upper", ado::adDate);
  }
  auto rs = internal::Table(fields);
  std::vector<std::string> names;
  std::vector<vb::Variant> values;
  for (const auto& [name, value] : criteria) {
    names.push_back(name);
    values.push_back(value);
  }
  rs->AddNew(names, values);
  rs->MoveFirst();
  return rs;
}

kvaction::FilterContext Context(Session& session) {
  auto& connection = internal::Connection(session);
  return {connection.Dialect(), *session.options().clock, session.locale()};
}

// A like pattern that finds text anywhere in a column. A person's %, _ and \ are characters
// like any other: each is escaped with \ (the statement names \ as the escape character).
std::string ContainsPattern(std::string_view text) {
  std::string pattern = "%";
  for (const char c : text) {
    if (c == '%' || c == '_' || c == '\\') pattern += '\\';
    pattern += c;
  }
  return pattern + "%";
}

// The shortest text a trigram index can answer: three characters (not bytes).
constexpr std::size_t kIndexedTextLength = 3;

std::size_t CharacterCount(std::string_view text) {
  // Valid UTF-8 is checked before any text reaches a statement: count the lead bytes.
  return static_cast<std::size_t>(std::count_if(text.begin(), text.end(), [](char c) {
    return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
  }));
}

// The most actions a text may be in for a list to read them through the text index. Past it,
// reading the table in the list's order finds a page sooner: with more than 5,000 matches in a
// million actions, one row in 200 or more matches, so 51 are found within about 10,000 rows.
constexpr int32_t kIndexedMatches = 5000;

// On SQLite, the actions whose text index holds the text: the trigram table's phrase query,
// the text quoted as one phrase. It finds a superset of the like conditions' rows (it also folds
// the case of letters beyond ASCII, which like does not), so the like conditions still decide.
// A text in more actions than kIndexedMatches is left to the like conditions (see there); the
// index tells which, reading at most that many entries. PostgreSQL's planner weighs the same
// choice itself and reads its trigram index for the like conditions.
std::optional<std::string> IndexedTextCondition(Session& session, std::string_view text) {
  auto& connection = internal::Connection(session);
  if (connection.Engine().Target() != kvdata::sql::Target::SQLite ||
      CharacterCount(text) < kIndexedTextLength || !kvdata::schema::HasSearchIndex(connection)) {
    return std::nullopt;
  }
  std::string phrase = "\"";
  for (const char c : text) phrase += c == '"' ? std::string("\"\"") : std::string(1, c);
  phrase += '"';
  const std::string matches =
      "select rowid from ActionSearch where ActionSearch match " + DataUtility::SqlText(phrase);
  if (internal::Count(session, fmt::format("select count(*) as n from ({} limit {})", matches,
                                           kIndexedMatches + 1)) > kIndexedMatches) {
    return std::nullopt;
  }
  return "ActionID in (" + matches + ")";
}

// The text and reference filters: what a saved query's own criteria cannot say.
void AppendTextConditions(Session& session, std::string& where, const std::string& grep,
                          const std::string& reference) {
  if (!grep.empty()) {
    if (const auto indexed = IndexedTextCondition(session, grep)) {
      DataUtility::AppendCondition(where, *indexed);
    }
    // One quoted pattern, compared with each column: the text is data whatever it holds. Each
    // column is read as plain text, as PostgreSQL's trigram index of the actions' text holds it.
    const std::string pattern = DataUtility::SqlText(ContainsPattern(grep));
    std::vector<std::string> each;
    for (const auto& column : SearchColumns()) {
      each.push_back("cast(" + column + " as text) like " + pattern + " escape '\\'");
    }
    DataUtility::AppendCondition(where, fmt::format("({})", fmt::join(each, " or ")));
  }
  if (!reference.empty()) {
    DataUtility::AppendCondition(where, "ReferenceID = " + DataUtility::SqlText(reference));
  }
}

// The conditions a filter adds that a saved query cannot say.
void AppendExtras(Session& session, std::string& where, const ListFilter& filter) {
  if (!filter.status.empty()) {
    DataUtility::AppendCondition(where, StateCondition(StatesOf(filter.status)));
  }
  AppendTextConditions(session, where, filter.grep, filter.reference);
}

// The text and reference filters saved with a query (ActionQueryFilters), empty when none.
std::pair<std::string, std::string> SavedTexts(Session& session, int32_t queryID) {
  const auto rs = internal::ReadRows(
      session,
      fmt::format("select Grep, Reference from ActionQueryFilters where QueryID = {}", queryID));
  if (rs->IsEOF()) return {};
  return {ValueText(session, (*rs)["Grep"].Value()),
          ValueText(session, (*rs)["Reference"].Value())};
}

const std::vector<std::string>& ActionColumns(Session& session) {
  static thread_local std::vector<std::string> columns;
  if (columns.empty()) {
    const auto shape = session.action().DataRecord(0);
    for (int32_t i = 0; i < shape->Fields().Count(); ++i) {
      columns.push_back(shape->Fields().Item(i).Name());
    }
  }
  return columns;
}

std::string KnownColumn(Session& session, std::string_view name, std::string_view field,
                        std::string_view expected = "a column of the actions table") {
  for (const auto& column : ActionColumns(session)) {
    if (vb::EqualsText(column, name)) return column;
  }
  throw Invalid(field, name, expected);
}

// "Column [asc|desc], …" checked against the table's columns; "state" and "turn" sort by what
// the list shows for them (StateOrder, TurnOrder). Neither has an index: the engine works the
// order out for every row the condition selects, keeping only the page's rows (a top-N sort).
std::string SortClause(Session& session, std::string_view sort) {
  if (sort.empty()) return "ActionNumber";
  std::vector<std::string> parts;
  std::stringstream items{std::string(sort)};
  for (std::string item; std::getline(items, item, ',');) {
    std::stringstream words(item);
    std::string name, direction, extra;
    words >> name >> direction >> extra;
    const std::string lower = vb::LCase(direction);
    if (name.empty() || !extra.empty() || (!lower.empty() && lower != "asc" && lower != "desc")) {
      throw Invalid("sort", internal::TrimBlanks(item),
                    "a column, state or turn, with an optional asc or desc");
    }
    std::string key;
    if (vb::EqualsText(name, "state")) {
      key = StateOrder();
    } else if (vb::EqualsText(name, "turn")) {
      key = TurnOrder(session.userID());
    } else {
      key = KnownColumn(session, name, "sort", "a column of the actions table, state or turn");
    }
    parts.push_back(key + (lower.empty() ? "" : " " + lower));
  }
  return fmt::format("{}", fmt::join(parts, ", "));
}

// Whether the sort clause is by ActionNumber alone: nullopt if not, else whether descending.
std::optional<bool> NumberOrder(std::string_view sort) {
  if (sort == "ActionNumber" || sort == "ActionNumber asc") return false;
  if (sort == "ActionNumber desc") return true;
  return std::nullopt;
}

// The first limit of the person's open actions by ActionNumber: those assigned to the person
// and those the person raised, each read in order through its own index, at most limit rows
// each, merged here. One statement with "or" leaves the engine two plans, both worse: walk the
// whole table by number, testing each row, or fetch and sort every open action of the person.
// The two reads cost the same at any size of the table and of the person's list. Together they
// hold the rows of the default list's condition (the library's, for no saved query).
ado::RecordsetPtr OwnOpenByNumber(Session& session, const std::string& shown, bool descending,
                                  int32_t limit) {
  const std::string me = DataUtility::SqlText(session.userID());
  const auto read = [&](std::string_view column) {
    return internal::ReadRows(
        session, fmt::format("select top {} {} from actions where {} = {} and DateClosed is Null "
                             "order by ActionNumber{}",
                             limit, shown, column, me, descending ? " desc" : ""));
  };
  const auto assigned = read("AssigneeID");
  const auto raised = read("OriginatorID");
  std::vector<ado::FieldInfo> fields;
  for (int32_t i = 0; i < assigned->Fields().Count(); ++i) {
    const ado::Field field = assigned->Fields().Item(i);
    fields.push_back({field.Name(), field.Type(), field.DefinedSize(), field.Attributes()});
  }
  const auto row = [](ado::Recordset& rs) {
    ado::Row values;
    for (int32_t i = 0; i < rs.Fields().Count(); ++i) {
      values.values.push_back(rs.Fields().Item(i).Value());
    }
    rs.MoveNext();
    return values;
  };
  const auto number = [](ado::Recordset& rs) { return vb::CLng(rs["ActionNumber"].Value()); };
  // Action numbers are unique: an action assigned to and raised by the person comes once.
  std::vector<ado::Row> rows;
  while (static_cast<int32_t>(rows.size()) < limit && (!assigned->IsEOF() || !raised->IsEOF())) {
    if (raised->IsEOF()) {
      rows.push_back(row(*assigned));
    } else if (assigned->IsEOF()) {
      rows.push_back(row(*raised));
    } else if (number(*assigned) == number(*raised)) {
      raised->MoveNext();
    } else if ((number(*assigned) < number(*raised)) != descending) {
      rows.push_back(row(*assigned));
    } else {
      rows.push_back(row(*raised));
    }
  }
  auto merged = ado::Recordset::Create();
  merged->OpenWithRows(std::move(fields), std::move(rows), ado::adOpenForwardOnly, ado::adUseServer,
                       ado::adLockReadOnly, nullptr);
  return merged;
}

// A saved query the person may use: his or her own, a shared one, or any for a SuperUser.
ado::RecordsetPtr UsableQuery(Session& session, int32_t queryID) {
  auto rs = session.action().DataServer()->Queries()->QueryRecordset(queryID, 1, 2, 1);
  if (rs->IsEOF()) throw NotFound("saved query", "ID", fmt::format("{}", queryID));
  const std::string owner = vb::TextOf((*rs)["UserID"].Value());
  const vb::Variant shared = (*rs)["Shared"].Value();
  const bool isShared = !shared.IsNull() && !shared.IsEmpty() && vb::CBool(shared);
  if (owner != session.userID() && !isShared && !internal::IsSuper(session)) {
    throw NotFound("saved query", "ID", fmt::format("{}", queryID));
  }
  return rs;
}

// rows with the first offset of them passed over.
ado::RecordsetPtr Skipped(ado::RecordsetPtr rows, int32_t offset) {
  for (int32_t skipped = 0; skipped < offset && !rows->IsEOF(); ++skipped) rows->MoveNext();
  return rows;
}

// The default list: the person's open actions, no saved query, no filter.
bool IsOwnOpenList(const ListRequest& request) {
  return !request.attention && !request.queryID && !HasCriteria(request.filter);
}

// The condition of a list request (empty: every action).
std::string ListCondition(Session& session, const ListRequest& request) {
  const auto context = Context(session);
  const std::string& me = session.userID();
  std::string where;
  if (request.attention) {
    if (request.queryID) throw Invalid("query", {}, "not together with the alerts list");
    where = kvaction::AttentionCondition(me, context.dialect);
  } else if (request.queryID) {
    where = kvaction::QueryCondition(UsableQuery(session, *request.queryID), me, context);
    const auto [grep, reference] = SavedTexts(session, *request.queryID);
    AppendTextConditions(session, where, grep, reference);
  } else if (IsOwnOpenList(request)) {
    where = kvaction::QueryCondition(nullptr, me, context);
  }
  std::string own;
  const auto criteria = Criteria(request.filter, false, context.locale);
  if (!criteria.empty()) own = kvaction::QueryCondition(Definition(criteria), me, context);
  AppendExtras(session, own, request.filter);
  if (!where.empty() && !own.empty()) where = "(" + where + ")";
  if (!own.empty()) DataUtility::AppendCondition(where, where.empty() ? own : "(" + own + ")");
  return where;
}

}  // namespace

const std::vector<std::string>& StatusWords() {
  static const std::vector<std::string> words = [] {
    std::vector<std::string> all = {"active"};
    for (const State state : AllStates()) all.emplace_back(StateCode(state));
    return all;
  }();
  return words;
}

ListFilter FilterOf(const FilterTexts& texts) {
  // The text fields, by ID: taken as they are.
  static const std::vector<std::pair<std::string_view, std::string ListFilter::*>> kTexts = {
      {"assignee", &ListFilter::assignee}, {"originator", &ListFilter::originator},
      {"category", &ListFilter::category}, {"priority", &ListFilter::priority},
      {"grep", &ListFilter::grep},         {"reference", &ListFilter::reference}};
  ListFilter filter;
  for (const auto& [field, text] : texts) {
    const auto found = std::find_if(kTexts.begin(), kTexts.end(),
                                    [&](const auto& entry) { return entry.first == field; });
    const auto bound =
        std::find_if(DateFilterFields().begin(), DateFilterFields().end(),
                     [&](const DateFilterField& entry) { return entry.field == field; });
    if (found != kTexts.end()) {
      filter.*found->second = text;
    } else if (bound != DateFilterFields().end()) {
      // Read as a date by the list, in the person's form.
      filter.*bound->member = text;
    } else if (field == "mine") {
      filter.mine = YesOf(text);
    } else if (field == "dueWithin") {
      filter.dueWithin = DaysOf(text);
    } else if (field == "status") {
      (void)StatesOf(text);
      filter.status = vb::LCase(text);
    } else {
      throw Invalid(field, {}, "a field of a list filter");
    }
  }
  return filter;
}

const std::vector<std::string>& SearchColumns() {
  static const std::vector<std::string> columns = {
      "Subject",   "Description", "Result",   "Results",    "Category",   "Priority",
      "Reference", "ReferenceID", "Assignee", "AssigneeID", "Originator", "OriginatorID"};
  return columns;
}

const std::vector<DateFilterField>& DateFilterFields() {
  static const std::vector<DateFilterField> fields = {
      {"dueFrom", &ListFilter::dueFrom, "DateDue", false, "Due from"},
      {"dueTo", &ListFilter::dueTo, "DateDue", true, "Due until"},
      {"openedFrom", &ListFilter::openedFrom, "DateOpened", false, "Opened from"},
      {"openedTo", &ListFilter::openedTo, "DateOpened", true, "Opened until"},
      {"completedFrom", &ListFilter::completedFrom, "DateCompleted", false, "Completed from"},
      {"completedTo", &ListFilter::completedTo, "DateCompleted", true, "Completed until"},
      {"closedFrom", &ListFilter::closedFrom, "DateClosed", false, "Closed from"},
      {"closedTo", &ListFilter::closedTo, "DateClosed", true, "Closed until"}};
  return fields;
}

const std::vector<std::string>& DefaultColumns() {
  static const std::vector<std::string> columns = {"ActionNumber", "DateDue", "Reviewed",
                                                   "AssigneeID", "Subject"};
  return columns;
}

ado::RecordsetPtr List(Session& session, const ListRequest& request) {
  if (request.limit < 0) throw Invalid("limit", fmt::format("{}", request.limit), "0 or more");
  if (request.offset < 0) throw Invalid("offset", fmt::format("{}", request.offset), "0 or more");
  const std::string where = ListCondition(session, request);
  std::vector<std::string> columns;
  for (const auto& column : request.columns)
    columns.push_back(KnownColumn(session, column, "columns"));
  const std::string sort = SortClause(session, request.sort);
  const std::string shown =
      columns.empty() ? std::string("*") : fmt::format("{}", fmt::join(columns, ", "));
  if (IsOwnOpenList(request) && request.limit > 0 &&
      (columns.empty() ||
       std::find(columns.begin(), columns.end(), "ActionNumber") != columns.end())) {
    if (const auto descending = NumberOrder(sort)) {
      return Skipped(OwnOpenByNumber(session, shown, *descending, request.limit + request.offset),
                     request.offset);
    }
  }
  std::string sql = "select ";
  // The engines are asked for the rows up to the page's last; the ones before it are passed
  // over here, so both dialects read the same statement.
  const int32_t last = request.limit > 0 ? request.limit + request.offset : 0;
  if (last > 0) sql += fmt::format("top {} ", last);
  sql += shown + " from actions";
  if (!where.empty()) sql += " where " + where;
  sql += " order by " + sort;
  return Skipped(internal::ReadRows(session, sql), request.offset);
}

int32_t ListCount(Session& session, const ListRequest& request) {
  const std::string where = ListCondition(session, request);
  return internal::Count(
      session, "select count(*) as n from actions" + (where.empty() ? "" : " where " + where));
}

namespace {

// What an alert count holds for: the data as one connection saw it (its change stamp), the
// person, and the day (or, in the server dialect, the moment) its condition compares due dates
// with, by the connection's clock and so in its time zone.
struct AlertKey {
  uint64_t stamp = 0;
  double moment = 0;
  std::string userID;
  friend auto operator<=>(const AlertKey&, const AlertKey&) = default;
};

// The counts read lately, shared by every session of the process. Every page shows the count
// and reading it visits each open action of the person; between two changes of the data it
// is the same number. Kept small: the oldest stamps go first when it is full.
class AlertCounts {
 public:
  [[nodiscard]] std::optional<int32_t> Find(const AlertKey& key) {
    const std::lock_guard lock(mutex_);
    const auto found = counts_.find(key);
    if (found == counts_.end()) return std::nullopt;
    return found->second;
  }
  void Keep(AlertKey key, int32_t count) {
    const std::lock_guard lock(mutex_);
    if (counts_.size() >= kMaxCounts) counts_.erase(counts_.begin());
    counts_.insert_or_assign(std::move(key), count);
  }

 private:
  static constexpr size_t kMaxCounts = 4096;
  std::mutex mutex_;
  std::map<AlertKey, int32_t> counts_;
};

AlertCounts& KeptAlertCounts() {
  static AlertCounts counts;
  return counts;
}

}  // namespace

int32_t AlertCount(Session& session) {
  const auto server = session.action().DataServer();
  const auto connection = server ? server->Connection() : nullptr;
  if (!connection) return session.action().Alerts(session.userID());
  // The stamp is taken before the count is read: a change after it gives the next call another
  // stamp, so a kept count never outlives the data it was read from.
  const vb::Clock& clock = connection->Clock();
  const bool serverDialect = connection->Dialect() == kvdata::sql::Dialect::Server;
  AlertKey key{connection->ChangeStamp(), (serverDialect ? clock.Now() : clock.Today()).Serial(),
               session.userID()};
  if (const auto kept = KeptAlertCounts().Find(key)) return *kept;
  const int32_t count = session.action().Alerts(session.userID());
  KeptAlertCounts().Keep(std::move(key), count);
  return count;
}

ado::RecordsetPtr AlertList(Session& session, ListRequest request) {
  request.attention = true;
  if (request.sort.empty()) request.sort = "DateDue, ActionNumber";
  return List(session, request);
}

ado::RecordsetPtr DueList(Session& session, std::optional<int32_t> days, bool mine) {
  ListRequest request;
  if (!days) {
    const vb::Variant alertDays = session.action().UserProfile()->Value("AlertDays");
    days = alertDays.IsEmpty() || alertDays.IsNull() ? 7 : vb::CLng(alertDays);
  }
  request.filter.dueWithin = days;
  request.filter.mine = mine;
  request.sort = "DateDue, ActionNumber";
  return List(session, request);
}

ado::RecordsetPtr History(Session& session, int32_t actionID) {
  internal::Require(session, kvaction::arViewHistory, "viewing history");
  (void)internal::Row(session, actionID);
  return internal::ReadRows(
      session,
      fmt::format("select EventID, EventCode, EventText, UserID, EventTime from ActionEvents "
                  "where ActionID = {} order by EventID",
                  actionID));
}

namespace {
// One of the person's own queries (any for a SuperUser); raises kNotFound otherwise.
void RequireOwnQuery(Session& session, int32_t queryID, std::string_view what) {
  const auto rs = session.action().DataServer()->Queries()->QueryRecordset(queryID, 1, 2, 1);
  if (rs->IsEOF()) throw NotFound("saved query", "ID", fmt::format("{}", queryID));
  if (vb::TextOf((*rs)["UserID"].Value()) != session.userID() && !internal::IsSuper(session)) {
    throw RefusalText(fmt::format("Refused: {} of query {} is for its owner only.", what, queryID));
  }
}
}  // namespace

namespace {
// The longest text filter a saved query keeps (the column ActionQueryFilters.Grep).
constexpr int32_t kSavedTextSize = 255;

// Keeps the text and reference filters of a saved query beside it (nothing when neither is set).
void StoreSavedTexts(Session& session, int32_t queryID, const ListFilter& filter) {
  (void)internal::Connection(session).Execute(
      fmt::format("delete from ActionQueryFilters where QueryID = {}", queryID));
  if (filter.grep.empty() && filter.reference.empty()) return;
  const auto text = [](const std::string& value) {
    return value.empty() ? vb::Variant(vb::Null) : vb::Variant(value);
  };
  auto rs = internal::WritableRows(session, "select * from ActionQueryFilters where QueryID = 0");
  rs->AddNew({"QueryID", "Grep", "Reference"},
             {vb::Variant(queryID), text(filter.grep), text(filter.reference)});
}

// The rights and checks of saving a definition, new or over an existing query.
void CheckDefinition(Session& session, const QueryDefinition& definition) {
  internal::Require(session, kvaction::arCreateQueries, "saving a query");
  if (!definition.filter.mine) {
    internal::Require(session, kvaction::arQueryOthers, "a query including others' actions");
  }
  if (definition.name.empty()) throw Invalid("name", {}, "a query name is required");
  internal::CheckSize("name", definition.name, 100);
  internal::CheckSize("grep", definition.filter.grep, kSavedTextSize);
  internal::CheckSize("reference", definition.filter.reference, 50);
  internal::CheckSize("assignee", definition.filter.assignee, 100);
  internal::CheckSize("originator", definition.filter.originator, 100);
  internal::CheckSize("category", definition.filter.category, 50);
  internal::CheckSize("priority", definition.filter.priority, 50);
}

// Every criterion field of a saved query, each Null unless criteria sets it.
std::vector<std::pair<std::string, vb::Variant>> AllCriteria(
    const std::vector<std::pair<std::string, vb::Variant>>& criteria) {
  std::vector<std::pair<std::string, vb::Variant>> all;
  for (const auto* name :
       {"AssignedTo", "ApplyStatus", "Status", "DueDays", "Assignee", "Originator", "Category",
        "Priority", "Subject", "Description", "Result", "DateOpened", "DateOpenedUpper", "DateDue",
        "DateDueUpper", "DateCompleted", "DateCompletedUpper", "DateClosed", "DateClosedUpper"}) {
    const auto given = std::find_if(criteria.begin(), criteria.end(),
                                    [&](const auto& entry) { return entry.first == name; });
    all.emplace_back(name, given == criteria.end() ? vb::Variant(vb::Null) : given->second);
  }
  return all;
}

using internal::IsSet;
}  // namespace

bool FitsSavedQuery(const ListFilter& filter) {
  try {
    (void)SavedStatusCode(filter);
    return true;
  } catch (const vb::ComError&) {
    return false;
  }
}

int32_t QueryAdd(Session& session, const QueryDefinition& definition) {
  CheckDefinition(session, definition);
  const auto criteria = Criteria(definition.filter, true, session.locale());
  int32_t id = 0;
  kvdata::RunInTransaction(internal::Connection(session), [&] {
    id = session.action().DataServer()->Queries()->CreateQuery(definition.name, criteria);
    StoreSavedTexts(session, id, definition.filter);
  });
  return id;
}

SavedQuery QueryOf(Session& session, int32_t queryID) {
  const auto rs = UsableQuery(session, queryID);
  const auto value = [&](std::string_view field) { return (*rs)[field].Value(); };
  const auto text = [&](std::string_view field) {
    return IsSet(value(field)) ? vb::CStr(value(field)) : std::string();
  };
  SavedQuery query;
  query.queryID = queryID;
  query.owner = text("UserID");
  query.shared = IsSet(value("Shared")) && vb::CBool(value("Shared"));
  query.definition.name = text("Name");
  ListFilter& filter = query.definition.filter;
  const int32_t assignedTo = IsSet(value("AssignedTo")) ? vb::CLng(value("AssignedTo")) : 0;
  filter.mine = assignedTo == 1;
  if (assignedTo == 2) {
    filter.assignee = text("Assignee");
    filter.originator = text("Originator");
  }
  filter.category = text("Category");
  filter.priority = text("Priority");
  if (IsSet(value("ApplyStatus")) && vb::CBool(value("ApplyStatus"))) {
    switch (IsSet(value("Status")) ? vb::CLng(value("Status")) : -1) {
      case kActive:
        filter.status = "active";
        break;
      case kClosed:
        filter.status = "closed";
        break;
      case kOverdue:
        filter.status = "overdue";
        break;
      case kCompleted:
        filter.status = "completed";
        break;
      case kDueWithin:
        filter.dueWithin = IsSet(value("DueDays")) ? vb::CLng(value("DueDays")) : 0;
        break;
      default:
        query.complete = false;
        break;
    }
  }
  // Text in one column is what a list filter's text search cannot say exactly.
  for (const auto* field : {"Subject", "Description", "Result"}) {
    if (IsSet(value(field))) query.complete = false;
  }
  for (const DateFilterField& bound : DateFilterFields()) {
    const vb::Variant date = value(std::string(bound.column) + (bound.upper ? "Upper" : ""));
    if (IsSet(date)) filter.*bound.member = Iso8601(vb::CDate(date).DateOnly());
  }
  std::tie(filter.grep, filter.reference) = SavedTexts(session, queryID);
  return query;
}

void QueryUpdate(Session& session, int32_t queryID, const QueryDefinition& definition) {
  RequireOwnQuery(session, queryID, "changing");
  CheckDefinition(session, definition);
  auto rs = session.action().DataServer()->Queries()->QueryRecordset(queryID);
  std::vector<std::string> names{"Name"};
  std::vector<vb::Variant> values{vb::Variant(definition.name)};
  for (auto& [name, value] : AllCriteria(Criteria(definition.filter, true, session.locale()))) {
    names.push_back(std::move(name));
    values.push_back(std::move(value));
  }
  kvdata::RunInTransaction(internal::Connection(session), [&] {
    rs->Update(names, values);
    StoreSavedTexts(session, queryID, definition.filter);
  });
}

ado::RecordsetPtr QueryList(Session& session) {
  const std::string me = DataUtility::SqlText(session.userID());
  return internal::ReadRows(
      session, "select QueryID, Name, UserID, Shared from ActionQueries where UserID = " + me +
                   " or Shared <> 0 order by Name, QueryID");
}

void QueryDelete(Session& session, int32_t queryID) {
  RequireOwnQuery(session, queryID, "deleting");
  kvdata::RunInTransaction(internal::Connection(session), [&] {
    session.action().DataServer()->Queries()->DeleteQuery(queryID);
    (void)internal::Connection(session).Execute(
        fmt::format("delete from ActionQueryFilters where QueryID = {}", queryID));
  });
}

void QueryShare(Session& session, int32_t queryID, bool shared) {
  internal::Require(session, kvaction::arAssignQueries, "sharing a query");
  RequireOwnQuery(session, queryID, "sharing");
  (void)internal::Connection(session).Execute(fmt::format(
      "update ActionQueries set Shared = {} where QueryID = {}", shared ? -1 : 0, queryID));
}

}  // namespace app
