#include "kvaction/action/ActionTest.h"

#include "kvdata/ConnectionString.h"
#include "kvdata/Password.h"
#include "kvdata/QueryStore.h"
#include "kvdata/UserProfile.h"
#include "vb/Convert.h"

namespace kvaction {
namespace {

struct Person {
  const char* id;
  const char* name;
  const char* email;
};

constexpr Person kPeople[] = {
    {"admin", "Ada Admin", "ada@example.org"},
    {"bob", "Bob Builder", "bob@example.org"},
    {"carol", "Carol O'Brien", "carol@example.org"},
};

std::string NameOf(std::string_view id) {
  for (const Person& person : kPeople) {
    if (id == person.id) return person.name;
  }
  return {};
}

/// The same database, reached with a connection string that selects the server dialect.
std::string ServerDialectString(const std::string& connectionString) {
  const kvdata::ConnectionSettings settings = kvdata::ParseConnectionString(connectionString);
  if (settings.provider == kvdata::Provider::SQLite) return connectionString + ";Dialect=sqloledb";
  const auto& login = settings.login;
  std::string text = "Provider=sqloledb;Data Source=" + login.host +
                     (login.port.empty() ? "" : "," + login.port) +
                     ";Initial Catalog=" + login.database + ";User ID=" + login.user;
  if (!login.password.empty()) text += ";Password=" + login.password;
  return text;
}

/// Sets a field unless the value is Empty or an empty text, which stay Null.
void SetValue(ado::Fields& fields, std::string_view name, const vb::Variant& value) {
  if (!value.IsEmpty() && value != vb::Variant("")) fields.Item(name).Value(value);
}

ado::DataTypeEnum TypeOf(const vb::Variant& value) {
  if (value.IsDate()) return ado::adDate;
  if (value.IsBoolean()) return ado::adBoolean;
  if (value.IsNumeric()) return ado::adInteger;
  return ado::adVarWChar;
}

}  // namespace

vb::Variant Day(int year, int month, int day) {
  return vb::Variant(vb::Date::FromParts(year, month, day));
}

std::unique_ptr<Action> ActionTest::NewAction() const {
  auto action = std::make_unique<Action>();
  action->SetClock(pinnedClock_);
  return action;
}

std::unique_ptr<Action> ActionTest::OpenAction() const {
  auto action = NewAction();
  action->OpenConnection(ConnectionString());
  return action;
}

std::unique_ptr<Action> ActionTest::LoggedIn(std::string_view userID, Dialect dialect,
                                             const vb::Date* now) const {
  auto action = NewAction();
  if (now != nullptr) action->SetClock(std::make_shared<vb::FixedClock>(*now));
  action->OpenConnection(dialect == Dialect::Server ? ServerDialectString(ConnectionString())
                                                    : ConnectionString());
  action->Login(userID, userID == "admin" ? "secret" : "pw");
  return action;
}

void ActionTest::AddUser(const std::string& userID, const std::string& password, int32_t groupID,
                         std::string userName, const std::string& email) const {
  kvuser::User directory(kvdata::PasswordCost::Minimum);
  directory.Connect(ConnectionString());
  if (userName.empty()) userName = userID + " Name";
  directory.AddUser(userID, userName, password, groupID, email);
}

void PeopleTest::SetUp() {
  ActionTest::SetUp();
  if (HasFatalFailure()) return;
  const int32_t staff = OpenServer()->Workgroups()->CreateWorkgroup("Staff", "50,52,70");
  for (const Person& person : kPeople) {
    if (std::string_view(person.id) != "admin") {
      AddUser(person.id, "pw", staff, person.name, person.email);
    }
  }
  (void)Connect()->Execute("update Users set Email='ada@example.org' where UserID='admin'");
}

int32_t ActionTest::Store(const ActionRow& row) const {
  const auto rs = Connect()->OpenRecordset("select * from actions where ActionID=0");
  rs->AddNew();
  ado::Fields fields = rs->Fields();
  const Columns columns = {{"ActionNumber", row.number},
                           {"Alert", row.alert},
                           {"Reviewed", row.reviewed},
                           {"Subject", row.subject},
                           {"AssigneeID", row.assigneeID},
                           {"Assignee", NameOf(row.assigneeID)},
                           {"OriginatorID", row.originatorID},
                           {"Originator", NameOf(row.originatorID)},
                           {"DateOpened", row.dateOpened},
                           {"DateDue", row.dateDue},
                           {"DateCompleted", row.dateCompleted},
                           {"DateClosed", row.dateClosed},
                           {"DateRejected", row.dateRejected},
                           {"Category", row.category},
                           {"Priority", row.priority},
                           {"Reference", row.reference},
                           {"ReferenceID", row.referenceID},
                           {"Description", row.description},
                           {"Result", row.result}};
  for (const auto& [name, value] : columns) SetValue(fields, name, value);
  rs->Update();
  return vb::CLng(fields.Item("ActionID").Value());
}

int32_t ActionTest::SaveQuery(const Columns& criteria) const {
  kvdata::DataServer server;
  auto admin = kvdata::UserProfile::ForUser(Connect(), "admin");
  server.OpenDatabase(ConnectionString(), &admin);
  return server.Queries()->CreateQuery("test query", criteria);
}

RecordsetPtr ActionTest::Values(const Columns& columns) {
  auto rs = ado::Recordset::Create();
  for (const auto& [name, value] : columns) {
    rs->Fields().Append(name, TypeOf(value), 0, ado::adFldUpdatable | ado::adFldIsNullable);
  }
  rs->Open(ado::adOpenStatic, ado::adLockOptimistic);
  AddRow(*rs, columns);
  return rs;
}

void ActionTest::AddRow(ado::Recordset& rs, const Columns& columns) {
  rs.AddNew();
  for (const auto& [name, value] : columns) rs[name].Value(value);
  rs.Update();
}

std::vector<int32_t> ActionTest::Numbers(ado::Recordset& rs) {
  std::vector<int32_t> numbers;
  for (; !rs.IsEOF(); rs.MoveNext()) numbers.push_back(vb::CLng(rs["ActionNumber"].Value()));
  return numbers;
}

std::vector<std::string> ActionTest::Trace(const Action& action) {
  std::vector<std::string> texts;
  for (const auto& statement : action.DataServer()->Connection()->Trace()) {
    texts.push_back(statement.text);
  }
  return texts;
}

std::string ActionTest::LastStatement(const Action& action) {
  const auto& trace = action.DataServer()->Connection()->Trace();
  return trace.empty() ? std::string() : trace.back().text;
}

vb::Date ActionTest::Today(int32_t offset) {
  return vb::Date::FromParts(2024, 3, 15).AddDays(offset);
}

int32_t ActionTest::Create(const std::string& subject) const {
  const int32_t id = action_->addRecord(nullptr, Values({{"Subject", subject}}));
  EXPECT_GT(id, 0);
  return id;
}

vb::Variant ActionTest::Stored(int32_t actionID, std::string_view column) const {
  const auto rs = action_->DataRecord(actionID);
  return rs->IsEOF() ? vb::Variant{} : (*rs)[column].Value();
}

int32_t ActionTest::Count(const std::string& sql) const {
  return vb::CLng(action_->Recordset(sql)->Fields().Item(0).Value());
}

std::vector<StoredEvent> ActionTest::Events(int32_t actionID) const {
  std::vector<StoredEvent> events;
  const auto rs = action_->Recordset(
      "select EventCode, EventText from ActionEvents where ActionID=" + std::to_string(actionID) +
      " order by EventID");
  for (; !rs->IsEOF(); rs->MoveNext()) {
    events.push_back(
        {vb::CLng((*rs)["EventCode"].Value()), vb::TextOf((*rs)["EventText"].Value())});
  }
  return events;
}

}  // namespace kvaction
