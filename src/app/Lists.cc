// Reading actions. Ad-hoc filters become a saved-query definition that the library translates,
// so a filter means exactly what the same criterion of a saved query means.
#include "app/Lists.h"

#include <fmt/format.h>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <charconv>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <sstream>
#include <tuple>

#include "app/Actions.h"
#include "app/Errors.h"
#include "app/Internal.h"
#include "app/Json.h"
#include "app/Kept.h"
#include "app/View.h"
#include "kvaction/Enums.h"
#include "kvaction/alerts/AlertStatements.h"
#include "kvaction/queries/QueryFilter.h"
#include "kvdata/Base64.h"
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

ado::FieldInfo KnownField(Session& session, std::string_view name, std::string_view field,
                          std::string_view expected = "a column of the actions table") {
  if (auto column = internal::ActionField(session, name)) return std::move(*column);
  throw Invalid(field, name, expected);
}

std::string KnownColumn(Session& session, std::string_view name, std::string_view field) {
  return KnownField(session, name, field).name;
}

// One key of a list's order: a column of the actions table and its direction as written ("",
// "asc" or "desc").
struct SortKey {
  ado::FieldInfo column;
  std::string direction;
  [[nodiscard]] bool Descending() const { return direction == "desc"; }
  [[nodiscard]] std::string Text() const {
    return column.name + (direction.empty() ? "" : " " + direction);
  }
};

// "Column [asc|desc], …" checked against the table's columns; "state" and "turn" sort by what
// the list shows for them (StateOrder, TurnOrder). Neither has an index: the engine works the
// order out for every row the condition selects, keeping only the page's rows (a top-N sort).
// Their keys are expressions, not columns: a list sorted by them continues by position.
std::vector<SortKey> SortKeys(Session& session, std::string_view sort) {
  std::vector<SortKey> keys;
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
    SortKey& key = keys.emplace_back();
    key.direction = lower;
    if (vb::EqualsText(name, "state")) {
      key.column = {StateOrder(), ado::adEmpty};
    } else if (vb::EqualsText(name, "turn")) {
      key.column = {TurnOrder(session.userID()), ado::adEmpty};
    } else {
      key.column =
          KnownField(session, name, "sort", "a column of the actions table, state or turn");
    }
  }
  return keys;
}

std::string ClauseOf(const std::vector<SortKey>& keys) {
  std::vector<std::string> parts;
  for (const SortKey& key : keys) parts.push_back(key.Text());
  return fmt::format("{}", fmt::join(parts, ", "));
}

// The order of a list and where a page of it starts.
struct Reading {
  std::string order;  // the order by clause
  // The keys that decide the order, up to the first one no two actions share (ActionID added
  // when the sort has none, so that rows equal in every sort key keep one order).
  std::vector<SortKey> keys;
  // Whether a row's values of keys name its place: not for a long text (a continuation would
  // carry the whole text) nor a yes/no column (stored as more than one value for yes).
  bool keyed = true;
  std::string after;       // the condition "after the continuation's row" (empty: from the start)
  bool backwards = false;  // read in the opposite order: the rows before a continuation
  bool nothing = false;    // a continuation at the list's start: no rows before it
  int32_t offset = 0;
  int32_t limit = 0;
};

// Whether no two actions hold the same value of column.
bool IsUnique(const ado::FieldInfo& column) {
  return column.name == "ActionID" || column.name == "ActionNumber";
}

bool IsKeyType(const ado::FieldInfo& column) {
  switch (column.type) {
    case ado::adInteger:
    case ado::adSmallInt:
    case ado::adDate:
    case ado::adVarWChar:
      return true;
    default:
      return false;
  }
}

std::vector<SortKey> Reversed(std::vector<SortKey> keys) {
  for (SortKey& key : keys) key.direction = key.Descending() ? "asc" : "desc";
  return keys;
}

// --- Continuations ---------------------------------------------------------------------------
// A continuation is base64url of a small JSON object: {"k": [[column, value], …]} for the key of
// a row, {"o": n} for a place by position. Values are JSON numbers, texts, ISO dates or null.

constexpr std::string_view kContinuationForm = "a continuation one of this list's pages gave";

std::string Base64Url(std::string_view bytes) {
  std::string text = kvdata::ToBase64(bytes);
  while (!text.empty() && text.back() == '=') text.pop_back();
  for (char& c : text) c = c == '+' ? '-' : (c == '/' ? '_' : c);
  return text;
}

std::optional<std::string> FromBase64Url(std::string text) {
  for (char& c : text) {
    if (c == '+' || c == '/' || c == '=') return std::nullopt;
    c = c == '-' ? '+' : (c == '_' ? '/' : c);
  }
  while (text.size() % 4 != 0) text += '=';
  return kvdata::FromBase64(text);
}

// The continuation naming the place after offset rows.
std::string PlaceContinuation(int32_t offset) {
  return Base64Url(nlohmann::json{{"o", offset}}.dump());
}

// A key value as a continuation carries it.
nlohmann::json KeyJson(const ado::FieldInfo& column, const vb::Variant& value) {
  if (value.IsNull() || value.IsEmpty()) return nullptr;
  if (column.type == ado::adDate) return vb::CDate(value).ToIso();
  if (column.type == ado::adVarWChar) return vb::CStr(value);
  return vb::CLng(value);
}

// The continuation naming a row by its values of the keys (values in the keys' order).
std::string KeyContinuation(const std::vector<SortKey>& keys,
                            const std::vector<vb::Variant>& values) {
  nlohmann::json pairs = nlohmann::json::array();
  for (std::size_t k = 0; k < keys.size(); ++k) {
    pairs.push_back({keys[k].column.name, KeyJson(keys[k].column, values[k])});
  }
  return Base64Url(nlohmann::json{{"k", pairs}}.dump());
}

// A key value of a continuation as a literal of the statement, "" for Null: numbers written as
// numbers, dates as the ISO text the dialects read compared with a date column, texts quoted.
std::optional<std::string> KeyLiteral(const ado::FieldInfo& column, const nlohmann::json& value) {
  if (value.is_null()) {
    if (IsUnique(column)) return std::nullopt;
    return std::string();
  }
  if (column.type == ado::adInteger || column.type == ado::adSmallInt) {
    if (!value.is_number_integer()) return std::nullopt;
    const auto number = value.get<int64_t>();
    const int64_t lowest = column.type == ado::adSmallInt ? -32768 : INT32_MIN;
    const int64_t highest = column.type == ado::adSmallInt ? 32767 : INT32_MAX;
    if (number < lowest || number > highest) return std::nullopt;
    return fmt::format("{}", number);
  }
  if (!value.is_string()) return std::nullopt;
  const auto& text = value.get_ref<const std::string&>();
  if (column.type == ado::adDate) {
    const std::optional<vb::Date> date = vb::Date::TryFromIso(text);
    if (!date) return std::nullopt;
    return DataUtility::SqlText(date->ToIso());
  }
  if (text.find('\0') != std::string::npos) return std::nullopt;
  return DataUtility::SqlText(text);
}

// What a continuation holds: the literals of a row's key values, or a position.
struct Continuation {
  std::vector<std::string> literals;
  int32_t offset = 0;
};

Continuation ContinuationOf(std::string_view field, const std::string& text,
                            const Reading& reading) {
  const auto refuse = [&] {
    return Invalid(field, text.size() > 80 ? text.substr(0, 80) + "…" : text, kContinuationForm);
  };
  const std::optional<std::string> bytes = FromBase64Url(text);
  if (!bytes) throw refuse();
  const nlohmann::json json = nlohmann::json::parse(*bytes, nullptr, false);
  if (!json.is_object() || json.size() != 1) throw refuse();
  Continuation continuation;
  if (!reading.keyed) {
    const auto place = json.find("o");
    if (place == json.end() || !place->is_number_integer() || place->get<int64_t>() < 0 ||
        place->get<int64_t>() > INT32_MAX) {
      throw refuse();
    }
    continuation.offset = place->get<int32_t>();
    return continuation;
  }
  const auto pairs = json.find("k");
  if (pairs == json.end() || !pairs->is_array() || pairs->size() != reading.keys.size()) {
    throw refuse();
  }
  for (std::size_t k = 0; k < reading.keys.size(); ++k) {
    const nlohmann::json& pair = (*pairs)[k];
    const ado::FieldInfo& column = reading.keys[k].column;
    if (!pair.is_array() || pair.size() != 2 || pair[0] != column.name) throw refuse();
    if (column.type == ado::adVarWChar && pair[1].is_string()) {
      internal::CheckSize(field, pair[1].get_ref<const std::string&>(), column.definedSize);
    }
    const std::optional<std::string> literal = KeyLiteral(column, pair[1]);
    if (!literal) throw refuse();
    continuation.literals.push_back(*literal);
  }
  return continuation;
}

// The condition that holds for the rows after the one whose key literals are given, in the
// order of keys ("" for a Null value). Each engine sorts Nulls where it does: SQLite before
// every value, PostgreSQL after every value, in ascending order.
std::string AfterCondition(const std::vector<SortKey>& keys,
                           const std::vector<std::string>& literals, bool nullsLow) {
  const auto nullsLast = [&](std::size_t k) { return keys[k].Descending() == nullsLow; };
  // The rows past the key's value (nullopt: none are), or at or past it ("": every row).
  const auto past = [&](std::size_t k, bool orAt) -> std::optional<std::string> {
    const std::string& column = keys[k].column.name;
    if (literals[k].empty()) {
      if (nullsLast(k)) return orAt ? std::optional(column + " is null") : std::nullopt;
      return orAt ? std::string() : "not " + column + " is null";
    }
    const std::string comparison = fmt::format(
        "{} {}{} {}", column, keys[k].Descending() ? "<" : ">", orAt ? "=" : "", literals[k]);
    return nullsLast(k) ? fmt::format("({} or {} is null)", comparison, column) : comparison;
  };
  const auto at = [&](std::size_t k) {
    return literals[k].empty() ? keys[k].column.name + " is null"
                               : fmt::format("{} = {}", keys[k].column.name, literals[k]);
  };
  // The last key is unique and never Null.
  std::string condition = *past(keys.size() - 1, false);
  for (std::size_t k = keys.size() - 1; k-- > 0;) {
    const std::optional<std::string> beyond = past(k, false);
    condition = beyond ? fmt::format("({} or ({} and {}))", *beyond, at(k), condition)
                       : fmt::format("({} and {})", at(k), condition);
  }
  // The first key's bound alone too, so that the engine can seek its index to the row.
  if (keys.size() > 1) {
    if (const std::string bound = *past(0, true); !bound.empty()) {
      condition = bound + " and " + condition;
    }
  }
  return condition;
}

// The order of a request and the place its continuation names.
Reading ReadingOf(Session& session, const ListRequest& request) {
  if (request.limit < 0) throw Invalid("limit", fmt::format("{}", request.limit), "0 or more");
  if (request.offset < 0) throw Invalid("offset", fmt::format("{}", request.offset), "0 or more");
  std::string_view sort = request.sort;
  if (sort.empty()) sort = request.attention ? "DateDue, ActionNumber" : "ActionNumber";
  const std::vector<SortKey> keys = SortKeys(session, sort);
  Reading reading;
  reading.order = ClauseOf(keys);
  for (const SortKey& key : keys) {
    reading.keys.push_back(key);
    if (IsUnique(key.column)) break;
  }
  if (!IsUnique(reading.keys.back().column)) {
    reading.keys.push_back({KnownField(session, "ActionID", "sort"), ""});
    reading.order += ", ActionID";
  }
  reading.keyed = std::all_of(reading.keys.begin(), reading.keys.end(),
                              [](const SortKey& key) { return IsKeyType(key.column); });
  reading.offset = request.offset;
  reading.limit = request.limit;
  if (!request.after.empty() && !request.before.empty()) {
    throw Invalid("before", {}, "not together with after");
  }
  const bool backwards = !request.before.empty();
  const std::string& text = backwards ? request.before : request.after;
  if (text.empty()) return reading;
  if (request.offset > 0) {
    throw Invalid("offset", fmt::format("{}", request.offset), "0 with after or before");
  }
  const Continuation continuation = ContinuationOf(backwards ? "before" : "after", text, reading);
  if (!reading.keyed) {
    reading.offset = continuation.offset;
    if (backwards) {
      // The rows before the place, the nearest limit of them, read forwards.
      reading.nothing = continuation.offset == 0;
      reading.offset = std::max(0, continuation.offset - request.limit);
      reading.limit = std::min(request.limit, continuation.offset);
    }
    return reading;
  }
  reading.backwards = backwards;
  const std::vector<SortKey> readKeys = backwards ? Reversed(reading.keys) : reading.keys;
  if (backwards) reading.order = ClauseOf(readKeys);
  const bool nullsLow =
      internal::Connection(session).Engine().Target() == kvdata::sql::Target::SQLite;
  reading.after = AfterCondition(readKeys, continuation.literals, nullsLow);
  return reading;
}

using internal::FieldsOf;
using internal::HeldRows;
using internal::RowOf;

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
                                  int32_t limit, const std::string& after) {
  const std::string me = DataUtility::SqlText(session.userID());
  const auto read = [&](std::string_view column) {
    return internal::ReadRows(
        session, fmt::format("select top {} {} from actions where {} = {} and DateClosed is Null "
                             "{}order by ActionNumber{}",
                             limit, shown, column, me, after.empty() ? "" : "and " + after + " ",
                             descending ? " desc" : ""));
  };
  const auto assigned = read("AssigneeID");
  const auto raised = read("OriginatorID");
  const auto row = [](ado::Recordset& rs) {
    ado::Row values = RowOf(rs);
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
  return HeldRows(FieldsOf(*assigned), std::move(rows));
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

namespace {

// The rows of a request as reading orders and places them, in the order they are read.
ado::RecordsetPtr ReadList(Session& session, const ListRequest& request, const Reading& reading) {
  std::string where = ListCondition(session, request);
  std::vector<std::string> columns;
  for (const auto& column : request.columns)
    columns.push_back(KnownColumn(session, column, "columns"));
  const std::string shown =
      columns.empty() ? std::string("*") : fmt::format("{}", fmt::join(columns, ", "));
  if (reading.nothing) {
    return internal::ReadRows(session, "select " + shown + " from actions where ActionID = 0");
  }
  if (IsOwnOpenList(request) && reading.limit > 0 &&
      (columns.empty() ||
       std::find(columns.begin(), columns.end(), "ActionNumber") != columns.end())) {
    if (const auto descending = NumberOrder(reading.order)) {
      return Skipped(OwnOpenByNumber(session, shown, *descending, reading.limit + reading.offset,
                                     reading.after),
                     reading.offset);
    }
  }
  if (!reading.after.empty()) {
    if (where.empty()) {
      where = reading.after;
    } else {
      where = "(" + where + ") and " + reading.after;
    }
  }
  std::string sql = "select ";
  // The engines are asked for the rows up to the page's last; the ones before it are passed
  // over here, so both dialects read the same statement.
  const int32_t last = reading.limit > 0 ? reading.limit + reading.offset : 0;
  if (last > 0) sql += fmt::format("top {} ", last);
  sql += shown + " from actions";
  if (!where.empty()) sql += " where " + where;
  sql += " order by " + reading.order;
  return Skipped(internal::ReadRows(session, sql), reading.offset);
}

}  // namespace

ado::RecordsetPtr List(Session& session, const ListRequest& request) {
  if (!request.before.empty()) throw Invalid("before", {}, "only for a page of a list");
  return ReadList(session, request, ReadingOf(session, request));
}

ListPage ListPageOf(Session& session, ListRequest request) {
  if (request.limit < 1) throw Invalid("limit", fmt::format("{}", request.limit), "1 or more");
  const Reading reading = ReadingOf(session, request);
  const bool fromStart = request.after.empty() && request.before.empty() && request.offset == 0;
  // The columns asked for, then the keys' that are missing: a continuation names a row by them.
  const std::size_t asked = request.columns.size();
  if (asked > 0 && reading.keyed) {
    for (const SortKey& key : reading.keys) {
      if (std::none_of(request.columns.begin(), request.columns.end(),
                       [&](const std::string& c) { return vb::EqualsText(c, key.column.name); })) {
        request.columns.push_back(key.column.name);
      }
    }
  }
  Reading plus = reading;
  plus.limit = reading.limit + 1;  // one more tells whether a row follows
  const ado::RecordsetPtr read = ReadList(session, request, plus);
  std::vector<ado::FieldInfo> fields = FieldsOf(*read);
  std::vector<ado::Row> rows;
  for (; !read->IsEOF() && static_cast<int32_t>(rows.size()) < reading.limit; read->MoveNext()) {
    rows.push_back(RowOf(*read));
  }
  const bool beyond = !read->IsEOF();
  if (reading.backwards) std::reverse(rows.begin(), rows.end());
  ListPage page;
  if (reading.keyed) {
    std::vector<std::size_t> at;
    for (const SortKey& key : reading.keys) {
      at.push_back(static_cast<std::size_t>(std::find_if(fields.begin(), fields.end(),
                                                         [&](const ado::FieldInfo& f) {
                                                           return vb::EqualsText(f.name,
                                                                                 key.column.name);
                                                         }) -
                                            fields.begin()));
    }
    const auto key = [&](const ado::Row& row) {
      std::vector<vb::Variant> values;
      for (const std::size_t k : at) values.push_back(row.values[k]);
      return KeyContinuation(reading.keys, values);
    };
    // Read forwards, rows precede the page unless it starts the list; read backwards, rows
    // follow it (the continuation's own at least).
    const bool before = reading.backwards ? beyond : !fromStart;
    const bool after = reading.backwards || beyond;
    if (!rows.empty() && before) page.previous = key(rows.front());
    if (!rows.empty() && after) page.next = key(rows.back());
  } else {
    const auto count = static_cast<int32_t>(rows.size());
    if (reading.offset > 0 && !rows.empty()) page.previous = PlaceContinuation(reading.offset);
    if (beyond) page.next = PlaceContinuation(reading.offset + count);
  }
  if (asked > 0) {
    fields.resize(asked);
    for (ado::Row& row : rows) row.values.resize(asked);
  }
  page.rows = HeldRows(std::move(fields), std::move(rows));
  return page;
}

namespace {

// A count, kept between changes of the data: every page shows the alert count and a list page
// its total, and reading either visits each open action of the person.
int32_t KeptCount(Session& session, std::string counted, const std::function<int32_t()>& read) {
  return internal::Kept<int32_t>(session, std::move(counted), read);
}

}  // namespace

int32_t ListCount(Session& session, const ListRequest& request) {
  const std::string where = ListCondition(session, request);
  std::string sql = "select count(*) as n from actions" + (where.empty() ? "" : " where " + where);
  return KeptCount(session, sql, [&] { return internal::Count(session, sql); });
}

int32_t AlertCount(Session& session) {
  // Every list's count is a statement, which begins otherwise.
  return KeptCount(session, "alerts of " + session.userID(),
                   [&] { return session.action().Alerts(session.userID()); });
}

ado::RecordsetPtr AlertList(Session& session, ListRequest request) {
  request.attention = true;
  return List(session, request);
}

ado::RecordsetPtr DueList(Session& session, std::optional<int32_t> days, bool mine) {
  return List(session, DueRequest(session, days, mine));
}

ListRequest DueRequest(Session& session, std::optional<int32_t> days, bool mine) {
  ListRequest request;
  if (!days) {
    const vb::Variant alertDays = session.action().UserProfile()->Value("AlertDays");
    days = alertDays.IsEmpty() || alertDays.IsNull() ? 7 : vb::CLng(alertDays);
  }
  request.filter.dueWithin = days;
  request.filter.mine = mine;
  request.sort = "DateDue, ActionNumber";
  return request;
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
  // Every list page offers them: kept between changes of the data.
  using Held = std::shared_ptr<const std::pair<std::vector<ado::FieldInfo>, std::vector<ado::Row>>>;
  const Held held = internal::Kept<Held>(session, "queries of " + session.userID(), [&] {
    const auto rs = internal::ReadRows(
        session, "select QueryID, Name, UserID, Shared from ActionQueries where UserID = " +
                     DataUtility::SqlText(session.userID()) +
                     " or Shared <> 0 order by Name, QueryID");
    auto read = std::make_shared<std::pair<std::vector<ado::FieldInfo>, std::vector<ado::Row>>>();
    read->first = FieldsOf(*rs);
    for (; !rs->IsEOF(); rs->MoveNext()) read->second.push_back(RowOf(*rs));
    return Held(std::move(read));
  });
  return HeldRows(held->first, held->second);
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
