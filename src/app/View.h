#pragma once
// The view of an action: what every front end says about it, decided here once. Its state as a
// code and in words, whose turn it is, the moves and fields open to the person, the conversation
// of its notes and its history in words. The list rows, the action page, the API, the command's
// show, list, --json and CSV, and the notices all render this view; the status filter selects by
// the same state codes.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json_fwd.hpp>

#include "ado/Recordset.h"
#include "app/Comments.h"
#include "app/Session.h"
#include "app/WebSupport.h"

namespace app {

/// Where an action stands. One code each; the first that applies, in this order: closed;
/// completed (waiting for the originator's review); waiting for the originator's clarification;
/// overdue; due today; completion rejected (back with the assignee); open.
enum class State { Closed, Completed, Clarification, Overdue, DueToday, Rejected, Open };

/// The code of a state as every front end and the status filter write it: "closed",
/// "completed", "clarification", "overdue", "due-today", "rejected", "open".
[[nodiscard]] std::string_view StateCode(State state);
/// Every state, in the order a front end offers them.
[[nodiscard]] const std::vector<State>& AllStates();

/// The state of a list row, and whose turn it is, for the signed-in person.
struct RowState {
  State state = State::Open;
  std::string words;  ///< "3 days overdue", "Completed, waiting for review", "Closed 12/1/2026"
  int32_t overdueDays = 0;  ///< days past the due date while open (0 otherwise)
  Turn turn = Turn::Nobody;
  bool yourTurn = false;  ///< the turn is the signed-in person's
  std::string turnWords;  ///< "You", "Assignee: Pat Lee", "Originator: Sam Roe", "Nobody"
  std::string turnRole;   ///< the same for anyone: "Assignee: Pat Lee" also when it is yours
};
/// The columns a row needs for StateOf; a list that shows states reads them too.
[[nodiscard]] const std::vector<std::string>& StateColumns();
/// columns with those of StateColumns() it lacks added at its end (letter case ignored).
[[nodiscard]] std::vector<std::string> WithStateColumns(std::vector<std::string> columns);
/// The state of the action at row's current position (row holds at least StateColumns()).
[[nodiscard]] RowState StateOf(Session& session, ado::Recordset& row);
/// The code of "whose turn" as the API and the command write it: "you", "assignee",
/// "originator" or "nobody".
[[nodiscard]] std::string_view TurnCode(const RowState& state);

/// One note of an action's conversation: who wrote it, on which day, with which move.
struct ConversationEntry {
  std::string who;   ///< user ID ("" for notes written before notes named their author)
  std::string when;  ///< the day, in the short date form it was written in
  std::string move;  ///< "completed", "asked for clarification", … ("" for a plain note)
  std::string text;  ///< may hold line breaks
  /// The people the text mentions ("@userid") who are users, shown by name (filled by ViewOf;
  /// PartsOf cuts the text for showing).
  std::vector<Mention> mentions;
};
/// The notes of a "Results" text, oldest first, one entry each.
[[nodiscard]] std::vector<ConversationEntry> ConversationOf(std::string_view notes);

/// One line of an action's history in words.
struct HistoryEntry {
  std::string who;   ///< user ID
  vb::Variant when;  ///< the date and time of the change
  std::string text;  ///< "The Due Date was changed from 4/1/2026 to 4/2/2026", "Added a note"
  /// The whole value when text shows it shortened (a long text set for the first time), else "".
  std::string whole;
};

/// A history event in words: its text, and the whole value the text shortens.
struct HistoryText {
  std::string text;
  std::string whole;
};
/// A history event's text in words (code and text as ActionEvents keeps them): a change of the
/// notes reads "Added a note", not the whole text twice; creation and deletion in words; a
/// description or result set for the first time reads "The Description was set to: " with the
/// start of its first line, the whole value beside it.
[[nodiscard]] HistoryText HistoryWordsOf(Session& session, int32_t code, const std::string& text);
/// HistoryWordsOf's text alone.
[[nodiscard]] std::string HistoryWords(Session& session, int32_t code, const std::string& text);

/// A field of the action as the person sees it.
struct ViewField {
  std::string column;
  std::string label;
  vb::Variant value;      ///< the stored value (an edit's based-on value)
  std::string text;       ///< the value as a person reads it
  bool editable = false;  ///< the person may change it now
  bool visible = false;   ///< shown as the action's data (the visible columns, the user IDs)
};

/// Everything a front end says about one action to one person.
struct ActionView {
  int32_t id = 0;
  int32_t number = 0;  ///< the ActionNumber people know it by
  std::string subject;
  RowState state;
  ActionStatus status;  ///< the status and due sentences of the notices
  std::vector<ReviewMove> moves;
  std::vector<ViewField> fields;  ///< every column, in table order
  std::vector<ConversationEntry> conversation;
  std::optional<std::vector<HistoryEntry>> history;  ///< nullopt: the person may not read it
};
/// The view of one action for the signed-in person. Raises kNotFound.
[[nodiscard]] ActionView ViewOf(Session& session, int32_t actionID);

/// Adds a list row's state to its JSON object: state, stateText, turn and turnText.
void AddStateJson(nlohmann::ordered_json& row, const RowState& state);

/// A row's state as another front end sent it: the codes of StateCode and TurnCode with their
/// words (turnRole takes the turn's words). Unknown codes read as open and nobody.
[[nodiscard]] RowState RowStateOf(std::string_view stateCode, std::string words,
                                  std::string_view turnCode, std::string turnWords);
/// The view as JSON, the one form the API's action object and the command's --json show share:
/// id, number, subject, state, stateText, overdueDays, turn, turnText, status, dueText, moves,
/// fields, conversation and history (null when the person may not read it); dates as ISO 8601.
[[nodiscard]] nlohmann::ordered_json ViewJson(const ActionView& view);

/// ViewJson's form read back, for a client of the API: each field's stored value is taken from
/// row, the action's one row (ViewJson writes values without their types). Raises kInvalidInput
/// naming "view" when json is not of that form.
[[nodiscard]] ActionView ViewFromJson(const nlohmann::json& json, ado::Recordset& row);
/// The condition that selects the actions in one of states (any of them), in the SQL every
/// list statement is written in; "" for no state.
[[nodiscard]] std::string StateCondition(const std::vector<State>& states);
/// The list's order by state, in the SQL every list statement is written in: the position of
/// the row's state in AllStates() (open first, closed last), the same on every engine.
[[nodiscard]] std::string StateOrder();
/// The list's order by whose turn it is for the person userID, in that SQL: the person's own
/// turn first, then other originators', then other assignees', nobody's (closed) last; the
/// groups TurnCode names ("you", "originator", "assignee", "nobody").
[[nodiscard]] std::string TurnOrder(std::string_view userID);
/// The states a status filter's words name: state codes separated by commas, letter case
/// ignored, and "active" for every state but closed. Raises kInvalidInput naming "status".
[[nodiscard]] std::vector<State> StatesOf(std::string_view words);

}  // namespace app
