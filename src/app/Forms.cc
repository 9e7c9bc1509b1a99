// What the forms of an action need: field kinds, people to pick, valid values, ISO dates and
// who changed an action meanwhile.
#include "app/Forms.h"

#include <fmt/format.h>

#include <algorithm>
#include <map>

#include "app/Actions.h"
#include "app/Admin.h"
#include "app/Errors.h"
#include "app/Internal.h"
#include "app/Rights.h"
#include "app/WebSupport.h"
#include "kvaction/Enums.h"
#include "kvdata/DataConnection.h"
#include "kvdata/DataUtility.h"
#include "vb/Convert.h"

namespace app {
namespace {

using kvdata::DataUtility;

// The size of ActionKeywords.Keyword.
constexpr int32_t kValueSize = 100;

// The spelling a validated column's values are kept under.
std::string_view ValidatedName(std::string_view column) {
  for (const std::string_view name : {"Category", "Priority"}) {
    if (vb::EqualsText(name, column)) return name;
  }
  throw Invalid("field", column, "Category or Priority");
}

std::string Trimmed(std::string_view text) {
  const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
  while (!text.empty() && blank(text.front())) text.remove_prefix(1);
  while (!text.empty() && blank(text.back())) text.remove_suffix(1);
  return std::string(text);
}

bool Holds(const std::vector<std::string>& list, std::string_view value) {
  return std::any_of(list.begin(), list.end(),
                     [&](const std::string& known) { return vb::EqualsText(known, value); });
}

void Insert(Session& session, std::string_view column, std::string_view value) {
  (void)internal::Connection(session).Execute(
      "insert into ActionKeywords (FieldName, Keyword) values (" + DataUtility::SqlText(column) +
      ", " + DataUtility::SqlText(value) + ")");
}

}  // namespace

FieldKind FieldKindOf(Session& session, std::string_view column) {
  if (vb::EqualsText(column, "AssigneeID") || vb::EqualsText(column, "OriginatorID")) {
    return FieldKind::Person;
  }
  if (IsValidatedColumn(column)) return FieldKind::Choice;
  if (IsMultiLineField(column)) return FieldKind::MultiLine;
  if (const auto field = internal::ActionField(session, column);
      field && field->type == ado::adDate) {
    return FieldKind::Date;
  }
  return FieldKind::Text;
}

std::vector<Person> PeopleToPick(Session& session) {
  std::vector<Person> people;
  ado::RecordsetPtr list;
  try {
    list = UserList(session);
  } catch (const vb::ComError& error) {
    if (KindOf(error) != ErrorKind::Refused) throw;
    return people;
  }
  for (; !list->IsEOF(); list->MoveNext()) {
    const std::string id = vb::TextOf((*list)["UserID"].Value());
    const std::string name = vb::TextOf((*list)["UserName"].Value());
    people.push_back({id, name.empty() ? id : name});
  }
  return people;
}

bool IsValidatedColumn(std::string_view column) {
  return vb::EqualsText(column, "Category") || vb::EqualsText(column, "Priority");
}

std::vector<std::string> ValidValues(Session& session, std::string_view column) {
  std::vector<std::string> values;
  if (!IsValidatedColumn(column)) return values;
  const auto rs =
      internal::ReadRows(session, "select Keyword from ActionKeywords where FieldName = " +
                                      DataUtility::SqlText(ValidatedName(column)));
  for (; !rs->IsEOF(); rs->MoveNext()) values.push_back(vb::TextOf((*rs)["Keyword"].Value()));
  std::sort(values.begin(), values.end(),
            [](const std::string& a, const std::string& b) { return vb::LCase(a) < vb::LCase(b); });
  return values;
}

bool MayAddValidValues(Session& session) { return Can(session, kvaction::arAddKeywords); }

void SetValidValues(Session& session, std::string_view column,
                    const std::vector<std::string>& values) {
  internal::RequireSuper(session, "changing the valid values");
  const std::string_view name = ValidatedName(column);
  std::vector<std::string> kept;
  for (const auto& value : values) {
    std::string text = Trimmed(value);
    if (text.empty() || Holds(kept, text)) continue;
    CheckControlCharacters(name, text, false);
    internal::CheckSize(name, text, kValueSize);
    kept.push_back(std::move(text));
  }
  if (kept == ValidValues(session, name)) return;
  kvdata::RunInTransaction(internal::Connection(session), [&] {
    (void)internal::Connection(session).Execute("delete from ActionKeywords where FieldName = " +
                                                DataUtility::SqlText(name));
    for (const auto& value : kept) Insert(session, name, value);
    internal::Record(session, evSettingChanged, 0, fmt::format("Valid values of {} changed", name));
  });
}

void RememberValidValues(Session& session, std::string_view column,
                         const std::vector<std::string>& values) {
  const std::string_view name = ValidatedName(column);
  std::vector<std::string> known = ValidValues(session, name);
  // A column without a list takes any value; a first value would start one.
  if (known.empty()) return;
  for (const auto& value : values) {
    if (value.empty() || Holds(known, value)) continue;
    Insert(session, name, value);
    known.push_back(value);
  }
}

std::string FormValue(Session& session, ado::Recordset& row, std::string_view column) {
  const vb::Variant value = row[column].Value();
  if (value.IsNull() || value.IsEmpty()) return {};
  if (row.Fields().Item(column).Type() == ado::adDate) {
    return vb::CDate(value).ToIso().substr(0, 10);
  }
  return ValueText(session, value);
}

std::string ShownFormText(Session& session, std::string_view column, const std::string& text) {
  if (text.empty()) return "(empty)";
  if (FieldKindOf(session, column) == FieldKind::Date) {
    if (const auto date = session.locale().ParseDate(text)) {
      return ValueText(session, vb::Variant(*date));
    }
  }
  return text;
}

int32_t LatestEvent(Session& session, int32_t actionID) {
  const auto rs = internal::ReadRows(
      session,
      fmt::format("select max(EventID) as n from ActionEvents where ActionID = {}", actionID));
  if (rs->IsEOF()) return 0;
  const vb::Variant latest = (*rs)["n"].Value();
  return latest.IsNull() || latest.IsEmpty() ? 0 : vb::CLng(latest);
}

std::vector<ChangedBy> ChangesSince(Session& session, int32_t actionID, int32_t since) {
  (void)internal::Row(session, actionID);
  const auto rs = internal::ReadRows(
      session, fmt::format("select UserID, EventTime from ActionEvents where ActionID = {} and "
                           "EventID > {} order by EventID desc",
                           actionID, since));
  std::vector<ChangedBy> people;
  for (; !rs->IsEOF(); rs->MoveNext()) {
    const std::string user = vb::TextOf((*rs)["UserID"].Value());
    if (std::any_of(people.begin(), people.end(),
                    [&](const ChangedBy& known) { return known.userID == user; })) {
      continue;
    }
    std::string name;
    try {
      name = internal::UserName(session, user);
    } catch (const vb::ComError& error) {
      if (error.number() != kNotFound) throw;
    }
    people.push_back({user, name, ValueText(session, (*rs)["EventTime"].Value())});
  }
  return people;
}

}  // namespace app
