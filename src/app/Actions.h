#pragma once
// What a person does to actions: add, copy, edit (merging with changes made meanwhile), move
// the review status, complete, close, reopen and delete. Each function checks the person's
// rights first (refusing with app::kRefused, naming the right), then the input (app::
// kInvalidInput, naming the field and the expected form), and only then changes anything, so a
// refusal leaves the database as it was. Every change is recorded in the action's history.
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "ado/Recordset.h"
#include "app/Session.h"

namespace app {

/// Column values as a person types them: column name of the actions table (letter case
/// ignored) and text. Dates are in the session's short date form; an empty text clears the
/// column. Assignee and Originator take user IDs (the display names follow).
using FieldTexts = std::vector<std::pair<std::string, std::string>>;

/// The ActionID of the action with the number users see; raises kNotFound.
[[nodiscard]] int32_t ActionIDOf(Session& session, int32_t actionNumber);
/// The stored row of one action; raises kNotFound. Needs no right beyond being signed in.
[[nodiscard]] ado::RecordsetPtr Show(Session& session, int32_t actionID);
/// The text form of a stored value as Edit compares it (dates in the session's short date form,
/// Null as the empty text).
[[nodiscard]] std::string ValueText(const Session& session, const vb::Variant& value);

/// Whether a person fills in the column (letter case ignored) for a new action: Subject,
/// Assignee, DateDue, Category, Priority, Description, Reference, ReferenceID, ActionType. The
/// rest the database assigns or later work sets; add offers and import takes only these.
[[nodiscard]] bool IsNewActionColumn(std::string_view column);

/// What is wrong with one value a person typed: the column and the reason in words (without
/// the column's name, which the form shows beside it).
struct FieldError {
  std::string column;
  std::string message;
};
using FieldErrors = std::vector<FieldError>;
/// Every value's problem at once, as Add (adding) or Edit would raise the first of them: forms
/// show them all beside their fields. A new action needs a Subject; an edit may not empty it.
[[nodiscard]] FieldErrors CheckFields(Session& session, const FieldTexts& values, bool adding);

/// Adds an action (right 50). Subject is required; the assignee defaults to the person.
/// Returns the new ActionID.
int32_t Add(Session& session, const FieldTexts& values);
/// Copies an action (right 50); the copy's history says "Copied from N". Returns its ActionID.
int32_t Copy(Session& session, int32_t actionID);

/// One field that both this person and someone else changed since the edit's base.
struct Conflict {
  std::string column;
  std::string base;    ///< the value the edit was based on
  std::string mine;    ///< this person's value
  std::string theirs;  ///< the value stored meanwhile
};
/// What became of an edit.
struct EditResult {
  bool stored = false;               ///< false when there were conflicts (nothing written)
  std::vector<std::string> changed;  ///< columns written
  std::vector<std::string> merged;   ///< columns someone else changed, kept as they are now
  std::vector<Conflict> conflicts;
};
/// Edits an action. changes are the person's new values; basedOn the values (text form, see
/// ValueText; a date also as ISO 8601, the form JsonValue gives it) the person saw when starting
/// the edit, for any columns (empty: the stored row is the base). Each changed column needs its
/// editing right (the action's editingRights field; ReferenceID needs right 60 and the session's
/// reference). Conflicting edits store nothing.
EditResult Edit(Session& session, int32_t actionID, const FieldTexts& changes,
                const FieldTexts& basedOn = {});

/// Moves the review status (a ReviewStatus value 0-2, 10-12, 40-42, 50-52) and raises the alert
/// for the other party. Needs SetStatus of the action's editing rights.
void Review(Session& session, int32_t actionID, int32_t reviewStatus);
/// Completes an action: DateCompleted today, review "completed" (11), result note appended with
/// author and date. Needs SetStatus.
void Complete(Session& session, int32_t actionID, std::string_view note = {});
/// Closes an action: DateClosed today (DateCompleted too when unset), review "closed by" the
/// person's role (50-52). Needs SetStatus, and right 56 for an assignee who is not the owner.
void Close(Session& session, int32_t actionID, std::string_view note = {});
/// Reopens a closed or completed action: both dates cleared, review "reopened by" the person's
/// role (40-42). Needs SetStatus.
void Reopen(Session& session, int32_t actionID, std::string_view note = {});
/// Deletes an action with its attachments (rows and files). Needs PermitDeleteAction.
void Delete(Session& session, int32_t actionID);

/// The text appended to the notes for a note: "[M/d/yyyy user] note", or
/// "[M/d/yyyy user, move] note" with the words of the review move it came with.
[[nodiscard]] std::string ResultNote(const Session& session, std::string_view note,
                                     std::string_view move = {});

}  // namespace app
