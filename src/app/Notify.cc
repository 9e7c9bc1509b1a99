#include "app/Notify.h"

#include "app/MailHtml.h"
#include "app/Outbox.h"
#include "app/Session.h"
#include "kvaction/alerts/Email.h"
#include "kvdata/DataServer.h"
#include "kvdata/DataUtility.h"
#include "kvdata/SettingsStore.h"
#include "vb/Convert.h"

namespace app {
namespace {

std::string Text(ado::Recordset& notice, std::string_view field) {
  return vb::TextOf(notice.Fields().Item(field).Value());
}

std::string Setting(Session& session, std::string_view key) {
  return vb::TextOf(vb::Require(session.action().DataServer())->Settings()->Value(key));
}

}  // namespace

std::string WebURL(Session& session) {
  std::string url = session.action().twWebURL();
  if (url.empty()) url = Setting(session, kWebURLSetting);
  return url;
}

std::string ActionPageLink(Session& session, std::string_view base, int32_t actionID) {
  if (base.empty()) return {};
  std::string databaseID = session.action().ReferenceID();
  if (databaseID.empty()) databaseID = Setting(session, "DBID");
  return kvaction::ActionLink(
      std::string(base),
      kvdata::DataUtility::LinkQuery(2, kvaction::DatabaseNumber(databaseID), actionID));
}

OutgoingMail NoticeMail(Session& session, ado::Recordset& notice, std::string_view base) {
  OutgoingMail mail;
  mail.fromName = Text(notice, "FromName");
  mail.fromAddress = Text(notice, "FromEmail");
  mail.subject = Text(notice, "Subject");
  mail.body = Text(notice, "Body");
  // The library leaves out the person who made the change and names an address only once.
  for (const std::string_view field : {"AssigneeEmail", "OriginatorEmail"}) {
    if (std::string address = Text(notice, field); !address.empty()) {
      mail.to.push_back(std::move(address));
    }
  }
  const vb::Variant& id = notice.Fields().Item("ID").Value();
  const std::string link =
      id.IsNull() ? std::string() : ActionPageLink(session, base, vb::CLng(id));
  mail.html = NoticeHtml(mail.subject, link, mail.body);
  return mail;
}

int32_t NoticeOfChange(Session& session, int32_t actionID) {
  if (!session.options().mail || !session.action().AutoEmail()) return 0;
  const std::string base = WebURL(session);
  const auto notice = session.action().EmailData(actionID, base);
  if (!notice || notice->IsEOF()) return 0;
  OutgoingMail mail = NoticeMail(session, *notice, base);
  if (mail.to.empty()) return 0;
  return Queue(session,
               {actionID, std::move(mail.fromName), std::move(mail.fromAddress), std::move(mail.to),
                std::move(mail.subject), std::move(mail.body), std::move(mail.html)});
}

}  // namespace app
