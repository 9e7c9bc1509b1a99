// The content of a notification e-mail about one action: who receives it, who sends it, the
// subject and the plain-text body, in a one-row record set built in memory.
#include <string>

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

/// What the notice needs to know about the people involved.
struct Sender {
  std::string id;
  std::string name;
  std::string email;
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
// rest is still built. Only a missing action (or data server) gives nothing.
RecordsetPtr Action::EmailData(int32_t nID, std::string_view cURL) {
  vb::ErrorTrap trap;
  const State& s = *state_;
  const auto email = [&](const std::string& userID) {
    return vb::TextOf(vb::Require(s.user)->UserField(userID, "Email"), s.locale);
  };

  Sender me;
  trap.Run([&] {
    const auto profile = s.dataServer ? s.dataServer->Profile() : nullptr;
    if (!profile) return;
    me.id = profile->UserID();
    me.name = profile->UserName();
  });
  if (!me.id.empty()) trap.Assign(me.email, [&] { return email(me.id); });

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
  Notice notice;
  notice.fromName = me.name;
  notice.fromEmail = me.email;
  const std::string assigneeID = text("AssigneeID");
  if (!assigneeID.empty() && assigneeID != me.id) {
    trap.Assign(notice.assigneeEmail, [&] { return email(assigneeID); });
  }
  const std::string originatorID = text("OriginatorID");
  if (!originatorID.empty() && originatorID != me.id) {
    trap.Assign(notice.originatorEmail, [&] { return email(originatorID); });
  }
  if (notice.originatorEmail == notice.assigneeEmail) notice.originatorEmail.clear();

  const LabelLookup label = [&](std::string_view name, bool& flag) {
    return vb::Require(s.dataServer)->Settings()->Label(name, &flag);
  };
  trap.Assign(notice.subject, [&] {
    return EmailSubject(value("ActionNumber"), value("Subject"), label, s.locale);
  });

  StatusTexts status;
  trap.Assign(status, [&] { return RecordStatus(*record, *s.clock, s.locale); });

  std::string link(cURL.empty() ? std::string_view(s.webURL) : cURL);
  if (!link.empty()) {
    std::string databaseID = s.referenceID;
    if (databaseID.empty()) {
      trap.Assign(databaseID, [&] {
        return vb::TextOf(vb::Require(s.dataServer)->Settings()->Value("DBID"), s.locale);
      });
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
