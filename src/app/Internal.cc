#include "app/Internal.h"

#include <fmt/format.h>

#include <algorithm>

#include "app/Errors.h"
#include "app/Kept.h"
#include "kvaction/Enums.h"
#include "kvaction/Labels.h"
#include "kvaction/records/History.h"
#include "kvdata/DataConnection.h"
#include "kvdata/DataServer.h"
#include "kvdata/DataUtility.h"
#include "kvdata/EventLog.h"
#include "kvdata/SettingsStore.h"
#include "kvdata/UserProfile.h"
#include "vb/Convert.h"

namespace app::internal {

using kvdata::DataUtility;

kvdata::DataConnection& Connection(Session& session) {
  return *vb::Require(vb::Require(session.action().DataServer())->Connection());
}

bool IsSuper(Session& session) { return session.action().HasAccess(kvaction::arSuperUser); }

void Require(Session& session, int32_t right, std::string_view what) {
  if (!session.action().HasAccess(static_cast<int16_t>(right))) throw Refusal(what, right);
}

bool HoldsAny(Session& session, std::span<const int32_t> rights) {
  return std::any_of(rights.begin(), rights.end(), [&](int32_t right) {
    return session.action().HasAccess(static_cast<int16_t>(right));
  });
}

void RequireAny(Session& session, std::span<const int32_t> rights, std::string_view what) {
  if (!HoldsAny(session, rights)) throw Refusal(what, rights);
}

void RequireSuper(Session& session, std::string_view what) {
  Require(session, kvaction::arSuperUser, what);
}

std::shared_ptr<const std::vector<ado::FieldInfo>> ActionShape(Session& session) {
  using Shape = std::shared_ptr<const std::vector<ado::FieldInfo>>;
  return Kept<Shape>(session, "actions columns", [&] {
    return Shape(std::make_shared<const std::vector<ado::FieldInfo>>(
        FieldsOf(*session.action().DataRecord(0))));
  });
}

std::optional<ado::FieldInfo> ActionField(Session& session, std::string_view name) {
  const auto shape = ActionShape(session);
  const auto found = std::find_if(shape->begin(), shape->end(), [&](const ado::FieldInfo& f) {
    return vb::EqualsText(f.name, name);
  });
  if (found == shape->end()) return std::nullopt;
  return *found;
}

std::vector<ado::FieldInfo> FieldsOf(ado::Recordset& rs) {
  std::vector<ado::FieldInfo> fields;
  for (int32_t i = 0; i < rs.Fields().Count(); ++i) {
    const ado::Field field = rs.Fields().Item(i);
    fields.push_back({field.Name(), field.Type(), field.DefinedSize(), field.Attributes()});
  }
  return fields;
}

ado::Row RowOf(ado::Recordset& rs) {
  ado::Row values;
  for (int32_t i = 0; i < rs.Fields().Count(); ++i) {
    values.values.push_back(rs.Fields().Item(i).Value());
  }
  return values;
}

ado::RecordsetPtr HeldRows(std::vector<ado::FieldInfo> fields, std::vector<ado::Row> rows,
                           ado::CursorTypeEnum cursor) {
  auto held = ado::Recordset::Create();
  held->OpenWithRows(std::move(fields), std::move(rows), cursor, ado::adUseServer,
                     ado::adLockReadOnly, nullptr);
  return held;
}

ado::RecordsetPtr Row(Session& session, int32_t actionID) {
  // A page asks for the action's row several times (its view, the person's rights, its
  // attachments, its watchers, the people to mention): read once per change of the data and
  // kept; each caller moves through its own copy. Inside a transaction, the library's own row.
  if (Connection(session).InTransaction()) {
    auto row = session.action().DataRecord(actionID);
    if (!row || row->IsEOF()) throw NotFound("action", "ID", fmt::format("{}", actionID));
    return row;
  }
  using Held = std::shared_ptr<const std::pair<std::vector<ado::FieldInfo>, std::vector<ado::Row>>>;
  const Held held = Kept<Held>(session, fmt::format("action {}", actionID), [&] {
    auto read = std::make_shared<std::pair<std::vector<ado::FieldInfo>, std::vector<ado::Row>>>();
    const auto row = session.action().DataRecord(actionID);
    if (row) {
      read->first = FieldsOf(*row);
      if (!row->IsEOF()) read->second.push_back(RowOf(*row));
    }
    return Held(std::move(read));
  });
  if (held->second.empty()) throw NotFound("action", "ID", fmt::format("{}", actionID));
  return HeldRows(held->first, held->second, ado::adOpenStatic);
}

std::string Text(const Session& session, ado::Recordset& row, std::string_view column) {
  return vb::TextOf(row[column].Value(), session.locale());
}

std::string NumberText(const Session& session, ado::Recordset& row) {
  return Text(session, row, "ActionNumber");
}

bool ActionRights::Has(std::string_view field) const {
  const vb::Variant value = (*record)[field].Value();
  return !value.IsNull() && !value.IsEmpty() && vb::CBool(value);
}

bool ActionRights::AnyEdit() const {
  for (const auto* field :
       {"EditActionTaken", "EditDateOpened", "EditDateDue", "EditDescription", "EditPriority",
        "EditAssignee", "EditOriginator", "EditCategory", "EditSubject"}) {
    if (Has(field)) return true;
  }
  return false;
}

ActionRights RightsOf(Session& session, int32_t actionID) {
  auto& action = session.action();
  const auto row = Row(session, actionID);
  const auto text = [&](std::string_view column) { return Text(session, *row, column); };
  // The person works in the action's own reference, so that right 60 decides reference edits.
  const std::string referenceID = text("ReferenceID");
  const std::string context = action.ReferenceID();
  action.ReferenceID(referenceID);
  ActionRights rights;
  rights.record = action.editingRights(text("DateClosed"), text("DateCompleted"),
                                       text("AssigneeID"), text("OriginatorID"), referenceID);
  action.ReferenceID(context);

  const auto profile = action.UserProfile();
  const bool super = IsSuper(session);
  rights.owner = super || (profile->UserID() == text("OriginatorID") && profile->GroupID() != 0);
  rights.assignee = profile->UserID() == text("AssigneeID") ||
                    (!super && action.HasAccess(kvaction::arApplyToOthers));
  // Closing: whoever may set the status, and for anyone but the owner right 56 as well.
  const bool close =
      rights.Has("SetStatus") && (rights.owner || action.HasAccess(kvaction::arCloseAction));
  (*rights.record)["CloseAction"].Value(close);
  rights.record->Update();
  return rights;
}

void RequireField(const ActionRights& rights, std::string_view field, std::string_view what) {
  if (rights.Has(field)) return;
  throw RefusalText(
      fmt::format("Refused: you may not {} (editing right {} is not granted).", what, field));
}

void Record(Session& session, int32_t code, int32_t actionID, std::string_view text) {
  vb::Require(session.action().DataServer()->Events())->AddEvent(code, actionID, text);
}

ado::RecordsetPtr Table(const std::vector<std::pair<std::string, ado::DataTypeEnum>>& columns) {
  auto rs = ado::Recordset::Create();
  for (const auto& [name, type] : columns) {
    rs->Fields().Append(name, type, 0, ado::adFldUpdatable | ado::adFldIsNullable);
  }
  rs->Open(ado::adOpenStatic, ado::adLockOptimistic);
  return rs;
}

namespace {

// The library records no line for a column that had no value before, except for the dates and
// people it words with "set to"; the history then showed no trace of a priority or a description
// given for the first time. Such a value is recorded here as the library records others: in its
// words ("The Priority was set to: High"), as a change of a field, for the columns whose changes
// the library records as such. The dates a review move stamps (completed, rejected) are left to
// the move's own line ("The Assignee has completed the Action."). The library's own lines are
// left as they are.
void RecordFirstValues(Session& session, int32_t actionID, ado::Recordset& before,
                       const ColumnValues& values) {
  const auto settings = vb::Require(session.action().DataServer())->Settings();
  const kvaction::LabelLookup label = [&](std::string_view name, bool& flag) {
    return settings->Label(name, &flag);
  };
  for (const auto& [column, value] : values) {
    const std::string name = before.Fields().Item(column).Name();
    const std::string text = vb::TextOf(value, session.locale());
    if (IsSet(before[name].Value()) || text.empty() || name == "DateCompleted" ||
        name == "DateRejected") {
      continue;
    }
    std::string reviewText;
    if (kvaction::ColumnHistory(name, before[name].Value(), value, label, session.locale(),
                                reviewText)) {
      continue;  // the library wrote its line
    }
    const auto changed = kvaction::ColumnHistory(name, vb::Variant(std::string()), value, label,
                                                 session.locale(), reviewText);
    if (!changed || changed->code != kvaction::evFieldChanged) continue;
    Record(session, kvaction::evFieldChanged, actionID,
           fmt::format("The {} was set to: {}", kvaction::LabelOf(label, name, false), text));
  }
}

}  // namespace

void UpdateAction(Session& session, int32_t actionID, const ColumnValues& values) {
  const auto before = Row(session, actionID);
  std::vector<std::pair<std::string, ado::DataTypeEnum>> columns = {{"actionID", ado::adInteger}};
  std::vector<std::string> names = {"actionID"};
  std::vector<vb::Variant> row = {vb::Variant(actionID)};
  for (const auto& [name, value] : values) {
    const auto field = ActionField(session, name);
    if (!field) throw Invalid(name, {}, "a column of the actions table");
    columns.emplace_back(name, field->type);
    names.push_back(name);
    row.push_back(value);
  }
  const auto rs = Table(columns);
  rs->AddNew(names, row);
  session.action().updateRecord(rs);
  RecordFirstValues(session, actionID, *before, values);
}

namespace {
// Characters as people count them: UTF-8 lead bytes.
size_t Characters(std::string_view text) {
  size_t count = 0;
  for (const char c : text) {
    if ((static_cast<unsigned char>(c) & 0xC0) != 0x80) ++count;
  }
  return count;
}
}  // namespace

vb::Date DayOf(const vb::Locale& locale, std::string_view field, const std::string& text) {
  const auto date = locale.ParseDate(text);
  if (!date) {
    const std::string pattern = locale.ShortDatePattern();
    throw Invalid(field, text,
                  pattern == "yyyy-MM-dd"
                      ? std::string("a date in the form yyyy-mm-dd")
                      : fmt::format("a date in the form yyyy-mm-dd or {}", pattern));
  }
  return date->DateOnly();
}

void CheckSize(std::string_view field, std::string_view text, int32_t size) {
  if (size > 0 && Characters(text) > static_cast<size_t>(size)) {
    throw Invalid(field, {}, fmt::format("at most {} characters (got {})", size, Characters(text)));
  }
}

void CheckPassword(std::string_view password) {
  if (Characters(password) < kMinPasswordLength) {
    throw Invalid("password", {},
                  fmt::format("at least {} characters are required", kMinPasswordLength));
  }
}

void CheckEmail(std::string_view email) {
  constexpr int32_t kEmailSize = 255;  // Users.Email
  CheckSize("email", email, kEmailSize);
  if (!email.empty() && email.find('@') == std::string_view::npos) {
    throw Invalid("email", email, "an e-mail address");
  }
}

std::string UserName(Session& session, std::string_view userID) {
  const auto rs = internal::ReadRows(
      session, "select UserName from Users where UserID = " + DataUtility::SqlText(userID));
  if (rs->IsEOF()) throw NotFound("user", "ID", userID);
  const vb::Variant name = (*rs)["UserName"].Value();
  return name.IsNull() ? std::string(userID) : vb::CStr(name);
}

bool WorkgroupExists(Session& session, int32_t groupID) {
  return Count(session, fmt::format("select count(*) as n from ActionGroups where GroupID = {}",
                                    groupID)) > 0;
}

ado::RecordsetPtr ReadRows(kvdata::DataConnection& connection, std::string_view sql) {
  return connection.OpenRecordset(sql, ado::adOpenForwardOnly, ado::adUseServer,
                                  ado::adLockReadOnly);
}

ado::RecordsetPtr ReadRows(Session& session, std::string_view sql) {
  return ReadRows(Connection(session), sql);
}

ado::RecordsetPtr WritableRows(kvdata::DataConnection& connection, std::string_view sql) {
  return connection.OpenRecordset(sql, ado::adOpenKeyset, ado::adUseServer, ado::adLockOptimistic);
}

ado::RecordsetPtr WritableRows(Session& session, std::string_view sql) {
  return WritableRows(Connection(session), sql);
}

int32_t Count(Session& session, const std::string& sql) {
  const auto rs = internal::ReadRows(session, sql);
  return rs->IsEOF() ? 0 : vb::CLng(rs->Fields().Item(0).Value());
}

bool IsSet(const vb::Variant& value) { return !value.IsNull() && !value.IsEmpty(); }

bool IsSet(ado::Recordset& row, std::string_view column) { return IsSet(row[column].Value()); }

int32_t ReviewedOf(ado::Recordset& row) {
  const vb::Variant value = row["Reviewed"].Value();
  return IsSet(value) ? vb::CLng(value) : kvaction::rsAssigneeReview;
}

std::string TrimBlanks(std::string_view text) {
  const auto first = text.find_first_not_of(' ');
  if (first == std::string_view::npos) return {};
  return std::string(text.substr(first, text.find_last_not_of(' ') - first + 1));
}

}  // namespace app::internal
