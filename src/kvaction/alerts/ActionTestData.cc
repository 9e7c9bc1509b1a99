#include "kvaction/alerts/ActionTestData.h"

#include <utility>

#include "kvdata/ConnectionString.h"
#include "kvdata/DataServer.h"
#include "kvdata/QueryStore.h"
#include "kvdata/UserProfile.h"
#include "kvdata/WorkgroupDirectory.h"
#include "kvuser/User.h"
#include "vb/Convert.h"

namespace kvaction::testing {
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

void SetText(ado::Fields& fields, std::string_view name, const std::string& text) {
  if (!text.empty()) fields.Item(name).Value(vb::Variant(text));
}

void SetValue(ado::Fields& fields, std::string_view name, const vb::Variant& value) {
  if (!value.IsEmpty()) fields.Item(name).Value(value);
}

}  // namespace

vb::Variant Day(int year, int month, int day) {
  return vb::Variant(vb::Date::FromParts(year, month, day));
}

void ActionTest::SetUp() {
  ActionDatabaseTest::SetUp();
  kvuser::User directory(kvdata::PasswordCost::Minimum);
  directory.Connect(ConnectionString());
  const int32_t staff = directory.Server()->Workgroups()->CreateWorkgroup("Staff", "50,52,70");
  for (const Person& person : kPeople) {
    if (std::string_view(person.id) != "admin") {
      directory.AddUser(person.id, person.name, "pw", staff, person.email);
    }
  }
  connection_ = Connect();
  (void)connection_->Execute("update Users set Email='ada@example.org' where UserID='admin'");
}

std::unique_ptr<Action> ActionTest::LoggedIn(std::string_view userID, Dialect dialect,
                                             const vb::Date* now) const {
  auto action = std::make_unique<Action>();
  action->SetClock(now == nullptr ? pinnedClock_ : std::make_shared<vb::FixedClock>(*now));
  action->SetLocale(vb::Locale::EnUS());
  action->OpenConnection(dialect == Dialect::Server ? ServerDialectString(ConnectionString())
                                                    : ConnectionString());
  action->Login(userID, userID == "admin" ? "secret" : "pw");
  return action;
}

int32_t ActionTest::Store(const ActionRow& row) const {
  const auto rs = connection_->OpenRecordset("select * from actions where ActionID=0");
  rs->AddNew();
  ado::Fields fields = rs->Fields();
  fields.Item("ActionNumber").Value(vb::Variant(row.number));
  fields.Item("Alert").Value(vb::Variant(row.alert));
  SetValue(fields, "Reviewed", row.reviewed);
  SetText(fields, "Subject", row.subject);
  SetText(fields, "AssigneeID", row.assigneeID);
  SetText(fields, "Assignee", NameOf(row.assigneeID));
  SetText(fields, "OriginatorID", row.originatorID);
  SetText(fields, "Originator", NameOf(row.originatorID));
  SetValue(fields, "DateOpened", row.dateOpened);
  SetValue(fields, "DateDue", row.dateDue);
  SetValue(fields, "DateCompleted", row.dateCompleted);
  SetValue(fields, "DateClosed", row.dateClosed);
  SetValue(fields, "DateRejected", row.dateRejected);
  SetText(fields, "Category", row.category);
  SetText(fields, "Priority", row.priority);
  SetText(fields, "Reference", row.reference);
  SetText(fields, "ReferenceID", row.referenceID);
  SetText(fields, "Description", row.description);
  SetText(fields, "Result", row.result);
  rs->Update();
  return vb::CLng(fields.Item("ActionID").Value());
}

int32_t ActionTest::SaveQuery(
    const std::vector<std::pair<std::string, vb::Variant>>& criteria) const {
  kvdata::DataServer server;
  auto admin = kvdata::UserProfile::ForUser(connection_, "admin");
  server.OpenDatabase(ConnectionString(), &admin);
  return server.Queries()->CreateQuery("test query", criteria);
}

std::vector<int32_t> ActionTest::Numbers(ado::Recordset& rs) {
  std::vector<int32_t> numbers;
  for (; !rs.IsEOF(); rs.MoveNext()) numbers.push_back(vb::CLng(rs["ActionNumber"].Value()));
  return numbers;
}

std::string ActionTest::LastStatement(const Action& action) {
  const auto& trace = action.DataServer()->Connection()->Trace();
  return trace.empty() ? std::string() : trace.back();
}

}  // namespace kvaction::testing
