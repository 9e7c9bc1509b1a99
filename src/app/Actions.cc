// What a person does to actions. Each function asks the library's rights first, then checks the
// input, then changes the action through the library's record operations, so that the history
// holds every change.
#include "app/Actions.h"

#include <fmt/format.h>

#include <algorithm>
#include <map>

#include "app/Admin.h"
#include "app/Comments.h"
#include "app/Errors.h"
#include "app/Forms.h"
#include "app/Hooks.h"
#include "app/Internal.h"
#include "app/Json.h"
#include "app/Notify.h"
#include "kvaction/Enums.h"
#include "kvdata/DataConnection.h"
#include "kvdata/DataServer.h"
#include "kvdata/DataUtility.h"
#include "kvdata/UserProfile.h"
#include "vb/Convert.h"

namespace app {
namespace {

using internal::ActionRights;
using kvdata::DataUtility;

// The editing right that covers a column a person may set (empty: no one sets it directly).
std::string_view PermissionOf(std::string_view column) {
  static const std::map<std::string, std::string_view, std::less<>> permissions = {
      {"subject", "EditSubject"},
      {"description", "EditDescription"},
      {"result", "EditActionTaken"},
      {"dateopened", "EditDateOpened"},
      {"datedue", "EditDateDue"},
      {"priority", "EditPriority"},
      {"category", "EditCategory"},
      {"assignee", "EditAssignee"},
      {"assigneeid", "EditAssignee"},
      {"originator", "EditOriginator"},
      {"originatorid", "EditOriginator"},
      {"reference", "EditReference"},
      {"referenceid", "EditReference"},
      {"actionnumber", "EditActionNumber"},
      {"actiontype", "EditApprovalRequired"},
      {"reviewed", "SetStatus"}};
  const auto found = permissions.find(vb::LCase(column));
  return found == permissions.end() ? std::string_view() : found->second;
}

bool IsReviewStatus(int32_t value) {
  return (value >= 0 && value <= 2) || (value >= 10 && value <= 12) ||
         (value >= 40 && value <= 42) || (value >= 50 && value <= 52);
}

constexpr std::string_view kReviewForm = "a review status (0-2, 10-12, 40-42 or 50-52)";

// A column of the actions table as its stored rows carry it.
struct Column {
  std::string name;
  ado::DataTypeEnum type = ado::adVarWChar;
  int32_t size = 0;
};

Column ColumnOf(Session& session, std::string_view name) {
  const auto field = internal::ActionField(session, name);
  if (!field || vb::EqualsText(name, "ActionID") || PermissionOf(name).empty()) {
    throw Invalid(name, {}, "not a column a person may set");
  }
  return {field->name, field->type, field->type == ado::adLongVarWChar ? 0 : field->definedSize};
}

// A person's text for a column, as the value to store (Null for an empty text).
vb::Variant Parse(Session& session, const Column& column, std::string_view text) {
  if (text.empty()) return vb::Variant(vb::Null);
  switch (column.type) {
    case ado::adDate: {
      const auto date = session.locale().ParseDate(text);
      if (!date) {
        throw Invalid(column.name, text,
                      fmt::format("a date in the form {}", session.locale().ShortDatePattern()));
      }
      return vb::Variant(*date);
    }
    case ado::adSmallInt:
    case ado::adInteger: {
      int64_t number = 0;
      const bool digits = std::all_of(text.begin() + (text[0] == '-' ? 1 : 0), text.end(),
                                      [](char c) { return c >= '0' && c <= '9'; });
      if (digits && text.size() < 12 && text != "-") number = std::stoll(std::string(text));
      const int64_t limit = column.type == ado::adSmallInt ? 32767 : 2147483647;
      if (!digits || text == "-" || text.size() >= 12 || number > limit || number < -limit - 1) {
        throw Invalid(column.name, text, "a whole number");
      }
      if (vb::EqualsText(column.name, "ActionType") && number != 0 && number != 1) {
        throw Invalid(column.name, text, "0 (approval required) or 1 (acknowledge only)");
      }
      return column.type == ado::adSmallInt ? vb::Variant(static_cast<int16_t>(number))
                                            : vb::Variant(static_cast<int32_t>(number));
    }
    default:
      internal::CheckSize(column.name, text, column.size);
      return vb::Variant(std::string(text));
  }
}

// One column's new value, with the display name that goes with a user ID.
struct Value {
  Column column;
  std::string text;  // as compared: the person's text, canonical for dates and numbers
  vb::Variant value;
};

// A value of a validated column: one the database keeps for it (in its kept spelling), unless
// it keeps none or the person may add values (right 51).
void CheckValidValue(Session& session, const std::string& column, vb::Variant& value,
                     std::string_view text) {
  if (value.IsNull()) return;
  const std::vector<std::string> valid = ValidValues(session, column);
  const auto known = std::find_if(valid.begin(), valid.end(),
                                  [&](const std::string& v) { return vb::EqualsText(v, text); });
  if (known != valid.end()) {
    value = vb::Variant(*known);
  } else if (!valid.empty() && !MayAddValidValues(session)) {
    throw Invalid(column, text, fmt::format("one of {}", fmt::join(valid, ", ")));
  }
}

// A right-51 holder's new values of the validated columns join their lists.
void RememberNewValues(Session& session, const internal::ColumnValues& values) {
  for (const auto& [column, value] : values) {
    if (IsValidatedColumn(column) && !value.IsNull()) {
      RememberValidValues(session, column, {vb::TextOf(value)});
    }
  }
}

// The person's values, checked: the person columns take user IDs and carry the name with them.
std::vector<Value> Checked(Session& session, const FieldTexts& texts) {
  std::vector<Value> values;
  for (const auto& [name, text] : texts) {
    Column column = ColumnOf(session, name);
    const std::string lower = vb::LCase(column.name);
    if (lower == "assignee" || lower == "assigneeid" || lower == "originator" ||
        lower == "originatorid") {
      const bool assignee = lower.starts_with("assignee");
      const std::string idColumn = assignee ? "AssigneeID" : "OriginatorID";
      const std::string nameColumn = assignee ? "Assignee" : "Originator";
      if (text.empty()) {
        values.push_back({ColumnOf(session, idColumn), "", vb::Variant(vb::Null)});
        values.push_back({ColumnOf(session, nameColumn), "", vb::Variant(vb::Null)});
        continue;
      }
      const std::string userName = internal::UserName(session, text);
      values.push_back({ColumnOf(session, idColumn), text, vb::Variant(text)});
      values.push_back({ColumnOf(session, nameColumn), userName, vb::Variant(userName)});
      continue;
    }
    vb::Variant value = Parse(session, column, text);
    if (IsValidatedColumn(column.name)) CheckValidValue(session, column.name, value, text);
    if (vb::EqualsText(column.name, "Reviewed") && !value.IsNull() &&
        !IsReviewStatus(vb::CLng(value))) {
      throw Invalid(column.name, text, kReviewForm);
    }
    values.push_back({column, ValueText(session, value), std::move(value)});
  }
  return values;
}

// The columns values write that hold something else than row does now, with both values.
std::vector<hooks::FieldChange> ChangesOf(ado::Recordset& row,
                                          const internal::ColumnValues& values) {
  std::vector<hooks::FieldChange> changes;
  for (const auto& [column, value] : values) {
    const nlohmann::json before = JsonValue(row[column].Value());
    const nlohmann::json after = JsonValue(value);
    if (before != after) changes.push_back({row.Fields().Item(column).Name(), before, after});
  }
  return changes;
}

// Stores values on one action through the library's update, which writes the history lines;
// the change is announced as event (a review move as moved, with move's words). The people a
// note mentions are checked first and told after (see app/Comments.h).
void Store(Session& session, int32_t actionID, const internal::ColumnValues& values,
           hooks::Event event = hooks::Event::Changed, std::string_view move = {},
           std::string_view note = {}) {
  const std::vector<Mention> mentions = CheckMentions(session, actionID, note, "note");
  kvdata::RunInTransaction(internal::Connection(session), [&] {
    const auto before = internal::Row(session, actionID);
    internal::UpdateAction(session, actionID, values);
    RememberNewValues(session, values);
    (void)NoticeOfChange(session, actionID);
    hooks::Emit(session, event, actionID,
                {ChangesOf(*before, values),
                 event == hooks::Event::Moved ? std::string(move) : std::string(),
                 {}});
    (void)NoticeOfMentions(session, actionID, mentions, note, "a note");
  });
}

// The review move of a status change, by the person's role on the action.
int32_t RoleStatus(const ActionRights& rights, Session& session, ado::Recordset& row,
                   int32_t byOriginator, int32_t byAssignee, int32_t byOther) {
  const std::string& me = session.userID();
  if (me == internal::Text(session, row, "OriginatorID")) return byOriginator;
  if (me == internal::Text(session, row, "AssigneeID")) return byAssignee;
  (void)rights;
  return byOther;
}

using internal::IsSet;

// The Results column with a note appended (nothing when the note is empty).
std::optional<std::string> WithNote(Session& session, ado::Recordset& row, std::string_view note,
                                    std::string_view move) {
  if (note.empty()) return std::nullopt;
  std::string notes = vb::TextOf(row["Results"].Value());
  if (!notes.empty()) notes += "\r\n";
  return notes + ResultNote(session, note, move);
}

void AddNote(std::vector<std::pair<std::string, vb::Variant>>& values, Session& session,
             ado::Recordset& row, std::string_view note, std::string_view move) {
  if (auto notes = WithNote(session, row, note, move))
    values.emplace_back("Results", vb::Variant(*notes));
}

// The subject among the values a person gives, if any.
const Value* SubjectOf(const std::vector<Value>& values) {
  const auto subject = std::find_if(values.begin(), values.end(), [](const Value& v) {
    return vb::EqualsText(v.column.name, "Subject");
  });
  return subject == values.end() ? nullptr : &*subject;
}

[[noreturn]] void SubjectRequired() { throw Invalid("Subject", {}, "a subject is required"); }

// A value an edit started from, as Edit compares it with the stored one. A date may come in any
// form a person's date takes (ISO 8601 as JSON writes it, "2026-12-20T14:30:00", or the session's
// short date form) and is compared as ValueText writes it; any other text, and a date that does
// not read as one, as given.
std::string BaseText(const Session& session, ado::Recordset& row, const std::string& column,
                     const std::string& text) {
  const ado::Fields fields = row.Fields();
  if (!fields.Contains(column) || fields.Item(column).Type() != ado::adDate) return text;
  const auto date = session.locale().ParseDate(text);
  return date ? ValueText(session, vb::Variant(*date)) : text;
}

}  // namespace

std::string ValueText(const Session& session, const vb::Variant& value) {
  if (value.IsNull() || value.IsEmpty()) return {};
  return vb::TextOf(value, session.locale());
}

std::string ResultNote(const Session& session, std::string_view note, std::string_view move) {
  // A line of the note that opens with "[" would read as the header of someone else's note:
  // it is indented, so the thread keeps each note with its true author.
  std::string text;
  text.reserve(note.size());
  for (size_t i = 0; i < note.size(); ++i) {
    if (note[i] == '[' && i > 0 && note[i - 1] == '\n') text += ' ';
    text += note[i];
  }
  return fmt::format("[{} {}{}{}] {}",
                     session.locale().FormatShortDate(session.options().clock->Today()),
                     session.userID(), move.empty() ? "" : ", ", move, text);
}

int32_t ActionIDOf(Session& session, int32_t actionNumber) {
  const auto rs = internal::ReadRows(
      session, fmt::format("select ActionID from actions where ActionNumber = {}", actionNumber));
  if (rs->IsEOF()) throw NotFound("action", "number", fmt::format("{}", actionNumber));
  return vb::CLng((*rs)["ActionID"].Value());
}

ado::RecordsetPtr Show(Session& session, int32_t actionID) {
  return internal::Row(session, actionID);
}

bool IsNewActionColumn(std::string_view column) {
  static constexpr std::string_view kColumns[] = {"Subject",   "Assignee",    "DateDue",
                                                  "Category",  "Priority",    "Description",
                                                  "Reference", "ReferenceID", "ActionType"};
  return std::any_of(std::begin(kColumns), std::end(kColumns),
                     [&](std::string_view name) { return vb::EqualsText(name, column); });
}

FieldErrors CheckFields(Session& session, const FieldTexts& values, bool adding) {
  FieldErrors errors;
  const auto add = [&](const std::string& column, const std::string& description) {
    const std::string prefix = column + ": ";
    errors.push_back({column, description.starts_with(prefix) ? description.substr(prefix.size())
                                                              : description});
  };
  bool subject = false;
  bool emptied = false;
  for (const auto& value : values) {
    if (vb::EqualsText(value.first, "Subject")) (value.second.empty() ? emptied : subject) = true;
    try {
      (void)Checked(session, {value});
    } catch (const vb::ComError& error) {
      if (KindOf(error) != ErrorKind::InvalidInput) throw;
      add(value.first, error.description());
    }
  }
  if (adding ? !subject : emptied) add("Subject", "a subject is required");
  return errors;
}

int32_t Add(Session& session, const FieldTexts& texts) {
  internal::Require(session, kvaction::arAddActions, "adding an action");
  std::vector<Value> values = Checked(session, texts);
  if (const Value* subject = SubjectOf(values); subject == nullptr || subject->value.IsNull()) {
    SubjectRequired();
  }
  const bool hasAssignee = std::any_of(values.begin(), values.end(), [](const Value& v) {
    return vb::EqualsText(v.column.name, "AssigneeID");
  });
  if (!hasAssignee)
    values = Checked(session, [&] {
      FieldTexts all = texts;
      all.emplace_back("AssigneeID", session.userID());
      return all;
    }());
  // A new action starts assigned, so that every later review move is a change the history
  // records (a move from no status at all is not recorded).
  std::vector<std::pair<std::string, ado::DataTypeEnum>> columns = {{"Reviewed", ado::adSmallInt}};
  std::vector<std::string> names = {"Reviewed"};
  std::vector<vb::Variant> row = {vb::Variant(static_cast<int16_t>(kvaction::rsAssigneeReview))};
  for (const auto& value : values) {
    if (vb::EqualsText(value.column.name, "Reviewed")) {
      row[0] = value.value.IsNull() ? row[0] : value.value;
      continue;
    }
    if (value.value.IsNull()) continue;
    columns.emplace_back(value.column.name, value.column.type);
    names.push_back(value.column.name);
    row.push_back(value.value);
  }
  const auto defaults = internal::Table(columns);
  defaults->AddNew(names, row);
  int32_t id = 0;
  kvdata::RunInTransaction(internal::Connection(session), [&] {
    id = session.action().addRecord(nullptr, defaults);
    if (id == 0) {
      throw vb::ComError(kNotStored, std::string(kSource), "The action could not be stored.");
    }
    internal::ColumnValues stored;
    for (const auto& value : values) stored.emplace_back(value.column.name, value.value);
    RememberNewValues(session, stored);
    (void)NoticeOfChange(session, id);
    hooks::Emit(session, hooks::Event::Created, id);
  });
  return id;
}

int32_t Copy(Session& session, int32_t actionID) {
  internal::Require(session, kvaction::arAddActions, "copying an action");
  auto row = internal::Row(session, actionID);
  const std::string number = internal::NumberText(session, *row);
  int32_t copy = 0;
  kvdata::RunInTransaction(internal::Connection(session), [&] {
    auto source = internal::Row(session, actionID);
    copy = session.action().copyRecord(&source);
    if (copy == 0) {
      throw vb::ComError(kNotStored, std::string(kSource), "The copy could not be stored.");
    }
    internal::Record(session, evCopiedFrom, copy, "Copied from " + number);
    (void)NoticeOfChange(session, copy);
    hooks::Emit(session, hooks::Event::Created, copy);
  });
  return copy;
}

EditResult Edit(Session& session, int32_t actionID, const FieldTexts& changes,
                const FieldTexts& basedOn) {
  const ActionRights rights = internal::RightsOf(session, actionID);
  const std::vector<Value> mine = Checked(session, changes);
  const auto row = internal::Row(session, actionID);
  // An edit may change the subject but not empty it (an action stored without one keeps none).
  if (const Value* subject = SubjectOf(mine);
      subject != nullptr && subject->value.IsNull() &&
      !ValueText(session, (*row)["Subject"].Value()).empty()) {
    SubjectRequired();
  }
  std::map<std::string, std::string> base;
  for (const auto& [name, text] : basedOn) {
    const std::string lower = vb::LCase(name);
    // The person columns are compared by user ID.
    const std::string column = lower == "assignee"     ? "assigneeid"
                               : lower == "originator" ? "originatorid"
                                                       : lower;
    base[column] = BaseText(session, *row, column, text);
  }
  EditResult result;
  std::vector<std::pair<std::string, vb::Variant>> store;
  for (const Value& value : mine) {
    const std::string lower = vb::LCase(value.column.name);
    const std::string current = internal::Text(session, *row, value.column.name);
    const auto seen = base.find(lower);
    const bool isName = lower == "assignee" || lower == "originator";
    if (value.text == current) continue;
    if (!isName && seen != base.end() && seen->second != current) {
      result.conflicts.push_back({value.column.name, seen->second, value.text, current});
      continue;
    }
    internal::RequireField(rights, PermissionOf(value.column.name),
                           fmt::format("change {}", value.column.name));
    store.emplace_back(value.column.name, value.value);
    if (!isName) result.changed.push_back(value.column.name);
  }
  for (const auto& [column, text] : base) {
    const bool touched = std::any_of(mine.begin(), mine.end(), [&](const Value& v) {
      return vb::LCase(v.column.name) == column;
    });
    if (!touched && row->Fields().Contains(column) &&
        internal::Text(session, *row, column) != text) {
      result.merged.push_back(row->Fields().Item(column).Name());
    }
  }
  if (!result.conflicts.empty()) {
    result.changed.clear();
    return result;
  }
  if (!store.empty()) Store(session, actionID, store);
  result.stored = true;
  return result;
}

void Review(Session& session, int32_t actionID, int32_t reviewStatus) {
  internal::ReviewAs(session, actionID, reviewStatus, {}, {});
}

void Complete(Session& session, int32_t actionID, std::string_view note) {
  internal::CompleteAs(session, actionID, note, "completed");
}

void Close(Session& session, int32_t actionID, std::string_view note) {
  internal::CloseAs(session, actionID, note, "closed");
}

void Reopen(Session& session, int32_t actionID, std::string_view note) {
  internal::ReopenAs(session, actionID, note, "reopened");
}

namespace internal {

void ReviewAs(Session& session, int32_t actionID, int32_t reviewStatus, std::string_view note,
              std::string_view move) {
  const ActionRights rights = internal::RightsOf(session, actionID);
  internal::RequireField(rights, "SetStatus", "change the review status");
  if (!IsReviewStatus(reviewStatus)) {
    throw Invalid("Reviewed", fmt::format("{}", reviewStatus), kReviewForm);
  }
  const vb::Date today = session.options().clock->Today();
  std::vector<std::pair<std::string, vb::Variant>> values = {
      {"Reviewed", vb::Variant(static_cast<int16_t>(reviewStatus))},
      {"DateRejected", vb::Variant(today)},
      {"Alert", vb::Variant(true)}};
  if (!note.empty()) AddNote(values, session, *internal::Row(session, actionID), note, move);
  Store(session, actionID, values, hooks::Event::Moved, move.empty() ? "reviewed" : move, note);
}

void CompleteAs(Session& session, int32_t actionID, std::string_view note, std::string_view move) {
  const ActionRights rights = internal::RightsOf(session, actionID);
  internal::RequireField(rights, "SetStatus", "complete this action");
  const auto row = internal::Row(session, actionID);
  const std::string number = internal::NumberText(session, *row);
  if (IsSet(*row, "DateClosed")) throw Invalid("action", number, "open (it is closed)");
  if (IsSet(*row, "DateCompleted"))
    throw Invalid("action", number, "open (it is already completed)");
  std::vector<std::pair<std::string, vb::Variant>> values = {
      {"DateCompleted", vb::Variant(session.options().clock->Today())},
      {"Reviewed", vb::Variant(static_cast<int16_t>(kvaction::rsOriginatorCompleted))},
      {"Alert", vb::Variant(true)}};
  AddNote(values, session, *row, note, move);
  Store(session, actionID, values, hooks::Event::Moved, move, note);
}

void CloseAs(Session& session, int32_t actionID, std::string_view note, std::string_view move) {
  const ActionRights rights = internal::RightsOf(session, actionID);
  internal::RequireField(rights, "CloseAction", "close this action");
  const auto row = internal::Row(session, actionID);
  if (IsSet(*row, "DateClosed")) {
    throw Invalid("action", internal::NumberText(session, *row), "open (it is already closed)");
  }
  const vb::Date today = session.options().clock->Today();
  std::vector<std::pair<std::string, vb::Variant>> values;
  if (!IsSet(*row, "DateCompleted")) values.emplace_back("DateCompleted", vb::Variant(today));
  values.emplace_back("DateClosed", vb::Variant(today));
  values.emplace_back("Reviewed", vb::Variant(static_cast<int16_t>(RoleStatus(
                                      rights, session, *row, kvaction::rsClosedbyOriginator,
                                      kvaction::rsClosedbyAssignee, kvaction::rsClosedbyOther))));
  values.emplace_back("Alert", vb::Variant(false));
  AddNote(values, session, *row, note, move);
  Store(session, actionID, values, hooks::Event::Moved, move, note);
}

void ReopenAs(Session& session, int32_t actionID, std::string_view note, std::string_view move) {
  const ActionRights rights = internal::RightsOf(session, actionID);
  internal::RequireField(rights, "SetStatus", "reopen this action");
  const auto row = internal::Row(session, actionID);
  if (!IsSet(*row, "DateClosed") && !IsSet(*row, "DateCompleted")) {
    throw Invalid("action", internal::NumberText(session, *row),
                  "closed or completed (it is open)");
  }
  std::vector<std::pair<std::string, vb::Variant>> values = {
      {"DateClosed", vb::Variant(vb::Null)},
      {"DateCompleted", vb::Variant(vb::Null)},
      {"Reviewed", vb::Variant(static_cast<int16_t>(
                       RoleStatus(rights, session, *row, kvaction::rsReOpenedbyOriginator,
                                  kvaction::rsReOpenedbyAssignee, kvaction::rsReOpenedbyOther)))},
      {"Alert", vb::Variant(true)}};
  AddNote(values, session, *row, note, move);
  Store(session, actionID, values, hooks::Event::Moved, move, note);
}

}  // namespace internal

void Delete(Session& session, int32_t actionID) {
  const ActionRights rights = internal::RightsOf(session, actionID);
  internal::RequireField(rights, "DeleteAction", "delete this action");
  auto& action = session.action();
  // Attachments go first, each row with its file, so no file outlives its action.
  const auto attachments = action.AttachmentRecordset(actionID);
  std::vector<int32_t> ids;
  for (; attachments && !attachments->IsEOF(); attachments->MoveNext()) {
    ids.push_back(vb::CLng((*attachments)["AttachmentID"].Value()));
  }
  for (const int32_t id : ids) action.DeleteAttachment(id);
  // The event carries the action as it was; it is queued with the deletion, in one transaction.
  const hooks::Pending deleted = hooks::Prepare(session, hooks::Event::Deleted, actionID);
  kvdata::RunInTransaction(internal::Connection(session), [&] {
    if (!action.delete_(actionID)) {
      throw vb::ComError(kNotStored, std::string(kSource), "The action could not be deleted.");
    }
    // Nobody watches an action that is gone.
    (void)internal::Connection(session).Execute(
        fmt::format("delete from ActionWatchers where ActionID = {}", actionID));
    hooks::Queue(session, deleted);
  });
}

}  // namespace app
