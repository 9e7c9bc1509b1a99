#include "app/View.h"

#include <fmt/format.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <array>

#include "app/Actions.h"
#include "app/Errors.h"
#include "app/Internal.h"
#include "app/Json.h"
#include "app/Lists.h"
#include "kvaction/Enums.h"
#include "kvdata/DataUtility.h"
#include "vb/Convert.h"

namespace app {
namespace {

struct StateName {
  State state;
  std::string_view code;
};
constexpr std::array<StateName, 7> kStateNames = {{{State::Closed, "closed"},
                                                   {State::Completed, "completed"},
                                                   {State::Clarification, "clarification"},
                                                   {State::Overdue, "overdue"},
                                                   {State::DueToday, "due-today"},
                                                   {State::Rejected, "rejected"},
                                                   {State::Open, "open"}}};

using internal::IsSet;
using internal::ReviewedOf;
using internal::TrimBlanks;

std::string PersonText(Session& session, ado::Recordset& row, std::string_view column) {
  return TrimBlanks(ValueText(session, row[column].Value()));
}

// The words of a state; the dates decide overdue and due today as the notices' due sentence does.
std::string StateWords(Session& session, ado::Recordset& row, State state, int32_t overdueDays) {
  switch (state) {
    case State::Closed:
      return "Closed " + ValueText(session, row["DateClosed"].Value());
    case State::Completed:
      return "Completed, waiting for review";
    case State::Clarification:
      return "Waiting for clarification";
    case State::Overdue:
      return overdueDays == 1 ? "1 day overdue" : fmt::format("{} days overdue", overdueDays);
    case State::DueToday:
      return "Due today";
    case State::Rejected:
      return "Completion rejected";
    case State::Open:
      break;
  }
  return "Open";
}

// A note's header: "DATE USER" or "DATE USER, MOVE".
bool ReadHeader(std::string_view header, ConversationEntry& entry) {
  const size_t blank = header.find(' ');
  if (blank == 0 || blank == std::string_view::npos) return false;
  entry.when = std::string(header.substr(0, blank));
  std::string_view rest = header.substr(blank + 1);
  const size_t comma = rest.find(", ");
  entry.who = std::string(rest.substr(0, comma));
  if (comma != std::string_view::npos) entry.move = std::string(rest.substr(comma + 2));
  return !entry.who.empty() && entry.who.find(' ') == std::string::npos &&
         std::any_of(entry.when.begin(), entry.when.end(),
                     [](char c) { return c >= '0' && c <= '9'; });
}

std::string_view Chomped(std::string_view line) {
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  return line;
}

// The start of a long text for one line of the history: its first line, at most kShortText
// characters, cut after a whole word (a comma or colon after it dropped); "…" marks that more
// follows.
constexpr size_t kShortText = 80;
std::string Shortened(std::string_view text) {
  const size_t lineEnd = std::min(text.find_first_of("\r\n"), text.size());
  size_t end = 0;
  size_t characters = 0;
  while (end < lineEnd && characters < kShortText) {
    ++end;
    while (end < lineEnd && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) ++end;
    ++characters;
  }
  if (end == text.size()) return std::string(text);
  if (end < lineEnd && text[end] != ' ') {
    const size_t blank = text.substr(0, end).rfind(' ');
    if (blank != std::string_view::npos && blank > 0) end = blank;
  }
  std::string start = TrimBlanks(text.substr(0, end));
  while (!start.empty() && (start.back() == ',' || start.back() == ';' || start.back() == ':')) {
    start.pop_back();
  }
  return start + "…";
}

}  // namespace

HistoryText HistoryWordsOf(Session& session, int32_t code, const std::string& text) {
  if (code == 1) return {"Created the action", {}};
  if (code == 9) return {"Deleted the action", {}};
  if (code == 8) {
    const std::string notes = "The " + LabelOf(session, "Results") + " was ";
    if (text.starts_with(notes + "changed") || text.starts_with(notes + "set to")) {
      return {"Added a note", {}};
    }
    if (text.starts_with(notes + "cleared")) return {"Cleared the notes", {}};
    for (const std::string_view column : {"Description", "Result"}) {
      const std::string set = "The " + LabelOf(session, column) + " was set to: ";
      if (!text.starts_with(set)) continue;
      const std::string_view value = std::string_view(text).substr(set.size());
      const std::string shortened = Shortened(value);
      if (shortened == value) break;
      return {set + shortened, std::string(value)};
    }
  }
  return {text, {}};
}

std::string HistoryWords(Session& session, int32_t code, const std::string& text) {
  return HistoryWordsOf(session, code, text).text;
}

namespace {

std::optional<std::vector<HistoryEntry>> HistoryOf(Session& session, int32_t actionID) {
  ado::RecordsetPtr events;
  try {
    events = History(session, actionID);
  } catch (const vb::ComError& error) {
    if (KindOf(error) != ErrorKind::Refused) throw;
    return std::nullopt;
  }
  std::vector<HistoryEntry> history;
  for (; !events->IsEOF(); events->MoveNext()) {
    const vb::Variant code = (*events)["EventCode"].Value();
    HistoryText words = HistoryWordsOf(session, IsSet(code) ? vb::CLng(code) : 0,
                                       ValueText(session, (*events)["EventText"].Value()));
    history.push_back({ValueText(session, (*events)["UserID"].Value()),
                       (*events)["EventTime"].Value(), std::move(words.text),
                       std::move(words.whole)});
  }
  return history;
}

// Every column of the row in table order: the visible ones, and the user-ID columns an edit form
// offers in place of the names, are marked visible.
std::vector<ViewField> FieldsOf(Session& session, ado::Recordset& row, int32_t actionID) {
  const auto editColumns = EditColumns(session, actionID);
  const auto editColumn = [&](std::string_view column) {
    return std::find_if(editColumns.begin(), editColumns.end(),
                        [&](const EditableColumn& c) { return vb::EqualsText(c.column, column); });
  };
  const std::vector<std::string> visible = VisibleColumns(session);
  const auto isVisible = [&](std::string_view column) {
    return std::any_of(visible.begin(), visible.end(),
                       [&](const std::string& c) { return vb::EqualsText(c, column); });
  };
  std::vector<ViewField> fields;
  const ado::Fields columns = row.Fields();
  for (int32_t i = 0; i < columns.Count(); ++i) {
    const std::string column = columns.Item(i).Name();
    const auto edit = editColumn(column);
    const bool editable = edit != editColumns.end() && edit->editable;
    // The user-ID columns, edited in place of the names shown.
    const bool userID = edit != editColumns.end() && column.ends_with("ID");
    std::string label = userID
                            ? LabelOf(session, column.substr(0, column.size() - 2)) + " (user ID)"
                            : LabelOf(session, column);
    fields.push_back({column, std::move(label), row[column].Value(),
                      ReadableValue(session, row, column), editable, isVisible(column) || userID});
  }
  return fields;
}

// Conditions of the states, in the desktop SQL the list statements are written in; date() is
// the session's today.
std::string ConditionOf(State state) {
  const std::string open = "DateClosed is null and DateCompleted is null";
  const std::string notClarification = fmt::format("(Reviewed is null or Reviewed <> {})",
                                                   int32_t{kvaction::rsOriginatorClarification});
  const std::string notRejected =
      fmt::format("(Reviewed is null or Reviewed <> {})", int32_t{kvaction::rsAssigneeRejected});
  const std::string laterThanToday = "(DateDue is null or DateDue >= dateadd(\"d\",1,date()))";
  switch (state) {
    case State::Closed:
      return "not DateClosed is null";
    case State::Completed:
      return "DateClosed is null and not DateCompleted is null";
    case State::Clarification:
      return fmt::format("{} and Reviewed = {}", open,
                         int32_t{kvaction::rsOriginatorClarification});
    case State::Overdue:
      return fmt::format("{} and {} and DateDue < date()", open, notClarification);
    case State::DueToday:
      return fmt::format("{} and {} and DateDue >= date() and DateDue < dateadd(\"d\",1,date())",
                         open, notClarification);
    case State::Rejected:
      return fmt::format("{} and Reviewed = {} and {}", open, int32_t{kvaction::rsAssigneeRejected},
                         laterThanToday);
    case State::Open:
      break;
  }
  return fmt::format("{} and {} and {} and {}", open, notClarification, notRejected,
                     laterThanToday);
}

}  // namespace

std::string_view StateCode(State state) {
  for (const auto& name : kStateNames) {
    if (name.state == state) return name.code;
  }
  return "open";
}

const std::vector<State>& AllStates() {
  static const std::vector<State> states = {State::Open,      State::DueToday,      State::Overdue,
                                            State::Completed, State::Clarification, State::Rejected,
                                            State::Closed};
  return states;
}

const std::vector<std::string>& StateColumns() {
  static const std::vector<std::string> columns = {"DateDue",    "DateCompleted", "DateClosed",
                                                   "Reviewed",   "Assignee",      "AssigneeID",
                                                   "Originator", "OriginatorID"};
  return columns;
}

std::vector<std::string> WithStateColumns(std::vector<std::string> columns) {
  for (const auto& needed : StateColumns()) {
    if (std::none_of(columns.begin(), columns.end(),
                     [&](const std::string& c) { return vb::EqualsText(c, needed); })) {
      columns.push_back(needed);
    }
  }
  return columns;
}

RowState StateOf(Session& session, ado::Recordset& row) {
  RowState result;
  const int32_t reviewed = ReviewedOf(row);
  const vb::Variant due = row["DateDue"].Value();
  const vb::Date today = session.options().clock->Today();
  if (IsSet(row["DateClosed"].Value())) {
    result.state = State::Closed;
  } else if (IsSet(row["DateCompleted"].Value())) {
    result.state = State::Completed;
  } else if (reviewed == kvaction::rsOriginatorClarification) {
    result.state = State::Clarification;
  } else if (IsSet(due) && vb::CDate(due) < today) {
    result.state = State::Overdue;
  } else if (IsSet(due) && today.DaysUntil(vb::CDate(due)) == 0) {
    result.state = State::DueToday;
  } else if (reviewed == kvaction::rsAssigneeRejected) {
    result.state = State::Rejected;
  }
  if (result.state != State::Closed && IsSet(due) && vb::CDate(due) < today) {
    result.overdueDays = vb::CDate(due).DaysUntil(today);
  }
  result.words = StateWords(session, row, result.state, result.overdueDays);
  result.turn = TurnOf(row);
  const std::string_view role = result.turn == Turn::Originator ? "Originator" : "Assignee";
  const std::string roleID = std::string(role) + "ID";
  result.yourTurn =
      result.turn != Turn::Nobody && ValueText(session, row[roleID].Value()) == session.userID();
  if (result.turn == Turn::Nobody) {
    result.turnRole = "Nobody";
  } else {
    const std::string person = PersonText(session, row, role);
    result.turnRole =
        fmt::format("{}: {}", LabelOf(session, role), person.empty() ? "nobody" : person);
  }
  result.turnWords = result.yourTurn ? "You" : result.turnRole;
  return result;
}

std::string_view TurnCode(const RowState& state) {
  if (state.yourTurn) return "you";
  switch (state.turn) {
    case Turn::Originator:
      return "originator";
    case Turn::Assignee:
      return "assignee";
    case Turn::Nobody:
      break;
  }
  return "nobody";
}

std::vector<ConversationEntry> ConversationOf(std::string_view notes) {
  std::vector<ConversationEntry> entries;
  while (!notes.empty()) {
    const size_t end = std::min(notes.find('\n'), notes.size());
    const std::string_view line = Chomped(notes.substr(0, end));
    notes.remove_prefix(std::min(end + 1, notes.size()));
    ConversationEntry entry;
    const size_t close = line.find("] ");
    if (line.starts_with('[') && close != std::string_view::npos &&
        ReadHeader(line.substr(1, close - 1), entry)) {
      entry.text = std::string(line.substr(close + 2));
      entries.push_back(std::move(entry));
    } else if (entries.empty()) {
      entries.push_back({{}, {}, {}, std::string(line), {}});
    } else {
      // A note of several lines goes on under its header.
      entries.back().text += "\n" + std::string(line);
    }
  }
  return entries;
}

ActionView ViewOf(Session& session, int32_t actionID) {
  const auto row = internal::Row(session, actionID);
  ActionView view;
  view.id = actionID;
  const vb::Variant number = (*row)["ActionNumber"].Value();
  view.number = IsSet(number) ? vb::CLng(number) : 0;
  view.subject = ValueText(session, (*row)["Subject"].Value());
  view.state = StateOf(session, *row);
  view.status = StatusOf(session, *row);
  view.moves = MovesFor(session, actionID);
  view.fields = FieldsOf(session, *row, actionID);
  view.conversation = ConversationOf(ValueText(session, (*row)["Results"].Value()));
  for (ConversationEntry& entry : view.conversation) {
    entry.mentions = KnownMentions(session, entry.text);
  }
  view.history = HistoryOf(session, actionID);
  return view;
}

void AddStateJson(nlohmann::ordered_json& row, const RowState& state) {
  row["state"] = StateCode(state.state);
  row["stateText"] = state.words;
  row["turn"] = TurnCode(state);
  row["turnText"] = state.turnWords;
}

nlohmann::ordered_json ViewJson(const ActionView& view) {
  using Json = nlohmann::ordered_json;
  Json moves = Json::array();
  for (const auto& move : view.moves) moves.push_back({{"name", move.name}, {"title", move.title}});
  Json fields = Json::array();
  for (const auto& field : view.fields) {
    fields.push_back({{"column", field.column},
                      {"label", field.label},
                      {"value", JsonValue(field.value)},
                      {"text", field.text},
                      {"editable", field.editable},
                      {"visible", field.visible}});
  }
  Json conversation = Json::array();
  for (const auto& entry : view.conversation) {
    Json mentions = Json::array();
    for (const auto& mention : entry.mentions) {
      mentions.push_back({{"user", mention.userID}, {"name", mention.name}});
    }
    conversation.push_back({{"who", entry.who},
                            {"when", entry.when},
                            {"move", entry.move},
                            {"text", entry.text},
                            {"mentions", mentions}});
  }
  Json history = nullptr;
  if (view.history) {
    history = Json::array();
    for (const auto& entry : *view.history) {
      history.push_back({{"who", entry.who},
                         {"when", JsonValue(entry.when)},
                         {"text", entry.text},
                         {"whole", entry.whole}});
    }
  }
  return {{"id", view.id},
          {"number", view.number},
          {"subject", view.subject},
          {"state", StateCode(view.state.state)},
          {"stateText", view.state.words},
          {"overdueDays", view.state.overdueDays},
          {"turn", TurnCode(view.state)},
          {"turnText", view.state.turnWords},
          {"status", view.status.status},
          {"dueText", view.status.dueText},
          {"moves", moves},
          {"fields", fields},
          {"conversation", conversation},
          {"history", history}};
}

RowState RowStateOf(std::string_view stateCode, std::string words, std::string_view turnCode,
                    std::string turnWords) {
  RowState state;
  for (const auto& name : kStateNames) {
    if (name.code == stateCode) state.state = name.state;
  }
  state.words = std::move(words);
  state.yourTurn = turnCode == "you";
  if (turnCode == "assignee") state.turn = Turn::Assignee;
  if (turnCode == "originator") state.turn = Turn::Originator;
  state.turnRole = turnWords;
  state.turnWords = std::move(turnWords);
  return state;
}

ActionView ViewFromJson(const nlohmann::json& json, ado::Recordset& row) {
  try {
    ActionView view;
    view.id = json.at("id").get<int32_t>();
    view.number = json.at("number").get<int32_t>();
    view.subject = json.at("subject").get<std::string>();
    view.state = RowStateOf(json.at("state").get<std::string>(), json.at("stateText"),
                            json.at("turn").get<std::string>(), json.at("turnText"));
    view.state.overdueDays = json.at("overdueDays").get<int32_t>();
    view.status.status = json.at("status").get<std::string>();
    view.status.dueText = json.at("dueText").get<std::string>();
    for (const auto& move : json.at("moves")) {
      view.moves.push_back(
          {move.at("name").get<std::string>(), move.at("title").get<std::string>()});
    }
    for (const auto& field : json.at("fields")) {
      ViewField f;
      f.column = field.at("column").get<std::string>();
      f.label = field.at("label").get<std::string>();
      f.value = row[f.column].Value();
      f.text = field.at("text").get<std::string>();
      f.editable = field.at("editable").get<bool>();
      f.visible = field.at("visible").get<bool>();
      view.fields.push_back(std::move(f));
    }
    for (const auto& entry : json.at("conversation")) {
      std::vector<Mention> mentions;
      for (const auto& mention : entry.value("mentions", nlohmann::json::array())) {
        mentions.push_back(
            {mention.at("user").get<std::string>(), mention.at("name").get<std::string>()});
      }
      view.conversation.push_back({entry.at("who").get<std::string>(),
                                   entry.at("when").get<std::string>(),
                                   entry.at("move").get<std::string>(),
                                   entry.at("text").get<std::string>(), std::move(mentions)});
    }
    if (const auto& history = json.at("history"); !history.is_null()) {
      view.history.emplace();
      for (const auto& entry : history) {
        view.history->push_back(
            {entry.at("who").get<std::string>(), ValueOfJson(entry.at("when"), ado::adDBTimeStamp),
             entry.at("text").get<std::string>(), entry.value("whole", std::string())});
      }
    }
    return view;
  } catch (const nlohmann::json::exception&) {
    throw Invalid("view", {}, "the view of an action as the API gives it");
  }
}

std::string StateCondition(const std::vector<State>& states) {
  if (states.empty()) return {};
  if (states.size() == 1) return "(" + ConditionOf(states.front()) + ")";
  std::vector<std::string> parts;
  for (const State state : states) parts.push_back("(" + ConditionOf(state) + ")");
  return fmt::format("({})", fmt::join(parts, " or "));
}

std::string StateOrder() {
  std::string order = "case";
  const auto& states = AllStates();
  for (size_t position = 0; position < states.size(); ++position) {
    order += fmt::format(" when {} then {}", ConditionOf(states[position]), position);
  }
  return order + " end";
}

std::string TurnOrder(std::string_view userID) {
  const std::string me = kvdata::DataUtility::SqlText(std::string(userID));
  const std::string originators = fmt::format("{}", fmt::join(OriginatorTurnStatuses(), ", "));
  return fmt::format(
      "case when not DateClosed is null then 3 when Reviewed in ({0}) then (case when "
      "OriginatorID = {1} then 0 else 1 end) when AssigneeID = {1} then 0 else 2 end",
      originators, me);
}

std::vector<State> StatesOf(std::string_view words) {
  std::vector<State> states;
  const auto add = [&](State state) {
    if (std::find(states.begin(), states.end(), state) == states.end()) states.push_back(state);
  };
  std::string_view rest = words;
  while (!rest.empty()) {
    const size_t comma = std::min(rest.find(','), rest.size());
    const std::string word = vb::LCase(TrimBlanks(rest.substr(0, comma)));
    rest.remove_prefix(std::min(comma + 1, rest.size()));
    if (word == "active") {
      for (const State state : AllStates()) {
        if (state != State::Closed) add(state);
      }
      continue;
    }
    const auto found = std::find_if(kStateNames.begin(), kStateNames.end(),
                                    [&](const StateName& name) { return name.code == word; });
    if (found == kStateNames.end()) {
      throw Invalid("status", words,
                    "a state: active, open, due-today, overdue, completed, clarification, "
                    "rejected or closed (several separated by commas)");
    }
    add(found->state);
  }
  return states;
}

}  // namespace app
