#pragma once
// What the forms of an action need to help a person: the kind of each field, the people one may
// pick for a role, the valid values the database keeps for Category and Priority, dates in the
// form date inputs use, and who changed an action since a form was opened.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "ado/Recordset.h"
#include "app/Session.h"

namespace app {

/// How a form offers a column.
enum class FieldKind {
  Text,       ///< one line of text
  MultiLine,  ///< several lines (Description, Result)
  Date,       ///< a date, as ISO "yyyy-mm-dd" (FormValue)
  Person,     ///< a user ID (AssigneeID, OriginatorID), picked from PeopleToPick
  Choice,     ///< a validated column (Category, Priority), picked from ValidValues
};
[[nodiscard]] FieldKind FieldKindOf(Session& session, std::string_view column);

/// A person one may pick for a role: the user ID a form sends and the name it shows.
struct Person {
  std::string id;
  std::string name;
};
/// Everyone the person may pick as assignee or originator (those UserList answers); empty for
/// a person who may pick nobody.
[[nodiscard]] std::vector<Person> PeopleToPick(Session& session);

/// Whether the database validates the column's values (the library's ValidatedFields).
[[nodiscard]] bool IsValidatedColumn(std::string_view column);
/// The values the database keeps for a validated column, in their stored spelling, sorted;
/// empty when it keeps none (then any value is accepted).
[[nodiscard]] std::vector<std::string> ValidValues(Session& session, std::string_view column);
/// Whether the person may give a validated column a value outside its list (right 51); such a
/// value joins the list when the action is stored.
[[nodiscard]] bool MayAddValidValues(Session& session);
/// Replaces the list of a validated column (SuperUser); blanks around values and repeats are
/// dropped, an empty list accepts any value. Recorded as an administration change.
void SetValidValues(Session& session, std::string_view column,
                    const std::vector<std::string>& values);
/// Adds values that the list of column lacks (letter case ignored); a column without a list stays
/// without one. Part of the caller's transaction; no right is checked (Add and Edit checked
/// right 51 before).
void RememberValidValues(Session& session, std::string_view column,
                         const std::vector<std::string>& values);

/// A column of the action at row's position as a form shows it: dates as ISO "yyyy-mm-dd" (what
/// a date input holds; a time of day is left out), everything else as ValueText. Add and Edit
/// read ISO dates as well as dates in the person's short date form.
[[nodiscard]] std::string FormValue(Session& session, ado::Recordset& row, std::string_view column);

/// A form's text for a column as a person reads it: an ISO date in the person's short date form,
/// "(empty)" for nothing, anything else as it is.
[[nodiscard]] std::string ShownFormText(Session& session, std::string_view column,
                                        const std::string& text);

/// The newest history event of an action (0 when none). An edit form carries it, so that a
/// conflict can say who changed the action after the form was opened.
[[nodiscard]] int32_t LatestEvent(Session& session, int32_t actionID);
/// Who changed an action after event since, and when last: one entry per person, newest
/// first. Only names and times, no texts, so it needs no right beyond the edit's own.
struct ChangedBy {
  std::string userID;
  std::string name;  ///< the display name ("" for a user who is gone)
  std::string when;  ///< date and time in the person's form
};
[[nodiscard]] std::vector<ChangedBy> ChangesSince(Session& session, int32_t actionID,
                                                  int32_t since);

}  // namespace app
