#pragma once
// What a page about one action needs beyond the commands: the status sentences, the display
// labels, whose turn it is, which review moves fit the person and the action, which columns the
// person may edit, the action an e-mail's link names, and which control characters a text may hold.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "ado/Recordset.h"
#include "app/Session.h"
#include "vb/ComError.h"

namespace app {

/// The status of an action in words (see the status summary of the e-mails).
struct ActionStatus {
  int16_t image = 0;        ///< 0 closed, 1 open, 2 overdue, 3 not due
  std::string status;       ///< the review-status (or closing) sentence
  std::string shortStatus;  ///< "Open", "Closed DATE", "N days overdue."
  std::string dueText;      ///< the due-date sentence ("" for a closed action)
};
/// The status of the action at row's current position, as of the session's today.
[[nodiscard]] ActionStatus StatusOf(Session& session, ado::Recordset& row);

/// The display label of a column or role word (the settings' label, else the name itself).
[[nodiscard]] std::string LabelOf(Session& session, std::string_view name);

/// While one lives on this thread, LabelOf reads each label of its session once and answers
/// from that reading afterwards (a list shows a role's label on every row); LabelSet on this
/// thread forgets what was read. For one request's work: a label another session changes
/// meanwhile shows from the next request on.
class LabelMemo {
 public:
  explicit LabelMemo(Session& session);
  ~LabelMemo();
  LabelMemo(const LabelMemo&) = delete;
  LabelMemo& operator=(const LabelMemo&) = delete;

 private:
  friend std::string LabelOf(Session& session, std::string_view name);
  friend void ForgetLabels();
  Session* session_;
  std::vector<std::pair<std::string, std::string>> labels_;  // name, label; a page reads a few
  LabelMemo* outer_;
};
/// Empties the labels a LabelMemo of this thread has read (after a label changed).
void ForgetLabels();

/// The columns of the actions table a person sees as data, in table order.
[[nodiscard]] std::vector<std::string> VisibleColumns(Session& session);

/// The columns people see, each under its key, and the fields whose values the database
/// validates (the library's ValidatedFields: FieldName, FieldLabel, …).
struct FieldCatalogue {
  std::vector<std::pair<std::string, std::string>> visible;
  ado::RecordsetPtr validated;
};
[[nodiscard]] FieldCatalogue FieldCatalogueOf(Session& session);

/// Who is expected to act next on an action.
enum class Turn { Nobody, Originator, Assignee };
/// The review statuses that wait for the originator; every other open one waits for the assignee.
[[nodiscard]] const std::vector<int32_t>& OriginatorTurnStatuses();
/// Whose turn it is by the action's dates and review status.
[[nodiscard]] Turn TurnOf(ado::Recordset& row);

/// A column of the action at row's current position as a person reads it: Reviewed as the
/// review-status (or closing) sentence, Alert as whose attention it waits for, ActionType in
/// words; every other column as ValueText gives it.
[[nodiscard]] std::string ReadableValue(Session& session, ado::Recordset& row,
                                        std::string_view column);

/// A step of the review conversation a person may take now.
struct ReviewMove {
  std::string name;   ///< "assign", "complete", "clarify-ask", "clarify", "approve", "reject",
                      ///< "close", "reopen"
  std::string title;  ///< the button's words
};
/// The moves that fit whose turn it is, the person's role and his or her rights on the action.
[[nodiscard]] std::vector<ReviewMove> MovesFor(Session& session, int32_t actionID);
/// Takes a move by name with an optional note; refuses (kRefused) a move that does not fit now,
/// kInvalidInput for an unknown name. Each is stored as the review status it is.
void Move(Session& session, int32_t actionID, std::string_view move, std::string_view note = {});

/// The columns an edit form offers, each with whether the person may change it now.
struct EditableColumn {
  std::string column;
  bool editable = false;
};
[[nodiscard]] std::vector<EditableColumn> EditColumns(Session& session, int32_t actionID);

/// The ActionID an e-mail link's query ("LinkType=2&DBID=N&ActionID=ID…") names; nullopt when
/// the query names no action.
[[nodiscard]] std::optional<int32_t> ActionIDOfLink(std::string_view query);

/// Whether a field holds text of several lines, in which tabs and line breaks are text: an
/// action's Description or Result, or a note or a comment (which go into the notes).
[[nodiscard]] bool IsMultiLineField(std::string_view field);
/// Raises kInvalidInput naming field when text holds a control character (a NUL byte, an escape,
/// a line break in a one-line field); tabs and line breaks are allowed where multiLine. The
/// message never repeats the text.
void CheckControlCharacters(std::string_view field, std::string_view text, bool multiLine);

/// Whether error is the refusal of a sign-in (unknown user or wrong password), as opposed to a
/// failure of the database.
[[nodiscard]] bool IsSignInRefused(const vb::ComError& error) noexcept;

}  // namespace app
