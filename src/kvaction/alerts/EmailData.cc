// The content of a notification e-mail about one action: who receives it, who sends it, the
// subject and the plain-text body, in a one-row record set built in memory.
#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "kvaction/Action.h"
#include "kvaction/action/State.h"
#include "kvaction/alerts/Email.h"
#include "kvaction/alerts/RecordStatus.h"
#include "kvdata/DataServer.h"
#include "kvdata/DataUtility.h"
#include "kvdata/SettingsStore.h"
#include "kvdata/UserProfile.h"
#include "kvuser/User.h"
#include "vb/ComError.h"
#include "vb/Convert.h"
#include "vb/ErrorTrap.h"

namespace kvaction {
namespace {

/// The logged-in user, who sends the notice.
struct Sender {
  std::string id;
  std::string name;
};

/// The fields of the notice record set, in their order.
struct NoticeField {
  std::string_view name;
  ado::DataTypeEnum type;
  int32_t definedSize;
};

constexpr NoticeField kNoticeFields[] = {
    {"ID", ado::adInteger, 0},
    {"AssigneeEmail", ado::adVarChar, 80},
    {"OriginatorEmail", ado::adVarChar, 80},
    {"FromName", ado::adVarChar, 50},
    {"FromEmail", ado::adVarChar, 80},
    {"Subject", ado::adVarChar, 200},
    {"Body", ado::adLongVarChar, 0x40000000},
};

/// The texts of the notice; an empty one leaves its field Null.
struct Notice {
  std::string assigneeEmail;
  std::string originatorEmail;
  std::string fromName;
  std::string fromEmail;
  std::string subject;
  std::string body;
};

/// The users whose addresses the notice needs, each once: the sender, then the assignee and the
/// originator unless they are the sender.
std::vector<std::string> PeopleToRead(const std::string& me, const std::string& assignee,
                                      const std::string& originator) {
  std::vector<std::string> people;
  for (const std::string* id : {&me, &assignee, &originator}) {
    if (!id->empty() && std::find(people.begin(), people.end(), *id) == people.end()) {
      people.push_back(*id);
    }
  }
  return people;
}

/// The labels of the notice (and "DBID" when the link needs it), read in one statement. A read
/// that failed fails each lookup with its error, as a lookup of its own would have.
class NoticeSettings {
 public:
  NoticeSettings(const DataServerPtr& dataServer, bool withDatabaseID) {
    std::vector<std::string> keys;
    for (const std::string_view name : kNoticeLabels) keys.push_back(kvdata::LabelKey(name));
    if (withDatabaseID) keys.emplace_back("DBID");
    read_.Assign(snapshot_, [&] { return vb::Require(dataServer)->Settings()->Read(keys); });
  }
  [[nodiscard]] const kvdata::SettingsSnapshot& Get() const {
    read_.RaiseIfPending();
    return snapshot_;
  }

 private:
  static constexpr std::string_view kNoticeLabels[] = {"Action",     "Originator",  "Assignee",
                                                       "DateOpened", "DateDue",     "DateClosed",
                                                       "Reference",  "Description", "Result"};
  vb::ErrorTrap read_;
  kvdata::SettingsSnapshot snapshot_;
};

/// A fresh, unconnected record set holding the notice as its one, current record.
RecordsetPtr NoticeRecordset(int32_t nID, const Notice& notice) {
  auto result = ado::Recordset::Create();
  ado::Fields fields = result->Fields();
  for (const NoticeField& field : kNoticeFields) {
    fields.Append(field.name, field.type, field.definedSize, ado::adFldUnspecified);
  }
  result->Open(ado::adOpenUnspecified, ado::adLockUnspecified, -1);
  result->AddNew();
  fields.Item("ID").Value(vb::Variant(nID));
  const std::pair<std::string_view, const std::string*> texts[] = {
      {"AssigneeEmail", &notice.assigneeEmail},
      {"OriginatorEmail", &notice.originatorEmail},
      {"FromName", &notice.fromName},
      {"FromEmail", &notice.fromEmail},
      {"Subject", &notice.subject},
      {"Body", &notice.body},
  };
  for (const auto& [name, text] : texts) {
    if (!text->empty()) fields.Item(name).Value(vb::Variant(*text));
  }
  result->Update();
  return result;
}

}  // namespace

// Continue-on-error throughout: a lookup that fails leaves its part of the notice empty, and the
// rest is still built. Only a missing action (or data server) gives nothing. The people's
// addresses are read in one statement and the labels (with "DBID") in another, after the action.
RecordsetPtr Action::EmailData(int32_t nID, std::string_view cURL) {
  vb::ErrorTrap trap;
  const State& s = *state_;

  Sender me;
  trap.Run([&] {
    const auto profile = s.dataServer ? s.dataServer->Profile() : nullptr;
    if (!profile) return;
    me.id = profile->UserID();
    me.name = profile->UserName();
  });

  RecordsetPtr record;
  trap.Assign(record, [&] { return DataRecord(nID); });
  bool missing = true;
  if (record) trap.Assign(missing, [&] { return record->IsEOF(); });
  if (missing) return nullptr;

  const auto value = [&](std::string_view column) {
    vb::Variant v;
    trap.Assign(v, [&] { return record->Fields().Item(column).Value(); });
    return v;
  };
  const auto text = [&](std::string_view column) { return vb::TextOf(value(column), s.locale); };

  // Never the person who asks, and never one address twice.
  const std::string assigneeID = text("AssigneeID");
  const std::string originatorID = text("OriginatorID");
  const auto notified = [&](const std::string& id) { return !id.empty() && id != me.id; };
  const std::vector<std::string> people = PeopleToRead(me.id, assigneeID, originatorID);
  std::map<std::string, vb::Variant> emails;
  if (!people.empty()) {
    trap.Assign(emails, [&] { return vb::Require(s.user)->UserFields(people, "Email"); });
  }
  const auto email = [&](const std::string& id) {
    const auto found = emails.find(id);
    return found == emails.end() ? std::string() : vb::TextOf(found->second, s.locale);
  };
  Notice notice;
  notice.fromName = me.name;
  if (!me.id.empty()) notice.fromEmail = email(me.id);
  if (notified(assigneeID)) notice.assigneeEmail = email(assigneeID);
  if (notified(originatorID)) notice.originatorEmail = email(originatorID);
  if (notice.originatorEmail == notice.assigneeEmail) notice.originatorEmail.clear();

  std::string link(cURL.empty() ? std::string_view(s.webURL) : cURL);
  const bool needsDatabaseID = !link.empty() && s.referenceID.empty();
  const NoticeSettings settings(s.dataServer, needsDatabaseID);
  const LabelLookup label = [&](std::string_view name, bool& flag) {
    return settings.Get().Label(name, &flag);
  };
  trap.Assign(notice.subject, [&] {
    return EmailSubject(value("ActionNumber"), value("Subject"), label, s.locale);
  });

  StatusTexts status;
  trap.Assign(status, [&] { return RecordStatus(*record, *s.clock, s.locale); });

  if (!link.empty()) {
    std::string databaseID = s.referenceID;
    if (needsDatabaseID) {
      trap.Assign(databaseID, [&] { return vb::TextOf(settings.Get().Value("DBID"), s.locale); });
    }
    link = ActionLink(link, {});
    trap.Run([&] {
      link += kvdata::DataUtility::LinkQuery(2, DatabaseNumber(databaseID),
                                             vb::CLng(value("ActionID"), s.locale), 0, 0, 0);
    });
  }

  const EmailValues values{value("Originator"),  value("Assignee"),   value("DateOpened"),
                           value("DateDue"),     value("DateClosed"), value("Reference"),
                           value("Description"), value("Result")};
  trap.Assign(notice.body, [&] {
    return EmailBody(values, status.status, status.dueText, link, label, s.locale);
  });
  record.reset();

  RecordsetPtr result;
  trap.Assign(result, [&] { return NoticeRecordset(nID, notice); });
  return result;
}

}  // namespace kvaction
