#include "app/Notify.h"

#include <fmt/format.h>

#include "app/Errors.h"
#include "app/Internal.h"
#include "app/MailHtml.h"
#include "app/Outbox.h"
#include "app/Session.h"
#include "app/View.h"
#include "app/Watchers.h"
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

// Whether the person is the assignee or the originator of the stored action row.
bool IsParty(Session& session, ado::Recordset& row) {
  const std::string& me = session.userID();
  return vb::TextOf(row["AssigneeID"].Value()) == me ||
         vb::TextOf(row["OriginatorID"].Value()) == me;
}

// The library's notice with the link under WebURL, and the mail it becomes.
ActionNotice Built(Session& session, int32_t actionID) {
  const std::string base = WebURL(session);
  ActionNotice notice;
  notice.record = session.action().EmailData(actionID, base);
  if (!notice.record || notice.record->IsEOF()) {
    throw NotFound("action", "ID", fmt::format("{}", actionID));
  }
  notice.mail = NoticeMail(session, *notice.record, base);
  return notice;
}

}  // namespace

std::string WebURL(Session& session) { return Setting(session, kWebURLSetting); }

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
  std::string state;
  if (!id.IsNull()) {
    const app::RowState now = StateOf(session, *internal::Row(session, vb::CLng(id)));
    state = fmt::format("{}. Whose turn: {}.", now.words, now.turnRole);
  }
  mail.html = NoticeHtml(mail.subject, link, state, mail.body);
  return mail;
}

int32_t NoticeOfChange(Session& session, int32_t actionID) {
  if (!session.options().mail || !session.action().AutoEmail()) return 0;
  const std::string base = WebURL(session);
  const auto notice = session.action().EmailData(actionID, base);
  if (!notice || notice->IsEOF()) return 0;
  OutgoingMail mail = NoticeMail(session, *notice, base);
  mail.to = NoticeRecipients(session, actionID, std::move(mail.to));
  if (mail.to.empty()) return 0;
  return Queue(session,
               {actionID, std::move(mail.fromName), std::move(mail.fromAddress), std::move(mail.to),
                std::move(mail.subject), std::move(mail.body), std::move(mail.html)});
}

ActionNotice NoticeOf(Session& session, int32_t actionID) {
  const auto row = internal::Row(session, actionID);
  ActionNotice notice = Built(session, actionID);
  if (IsParty(session, *row) || internal::HoldsAny(session, internal::kMaintenanceRights))
    return notice;
  for (const std::string_view field : {"AssigneeEmail", "OriginatorEmail"}) {
    notice.record->Fields().Item(field).Value(vb::Variant(vb::Null));
  }
  notice.record->Update();
  notice.mail.to.clear();
  return notice;
}

std::size_t SendNotice(Session& session, int32_t actionID) {
  const auto row = internal::Row(session, actionID);
  if (!IsParty(session, *row) && !internal::IsSuper(session)) {
    throw RefusalText(fmt::format(
        "Refused: only the assignee, the originator or a SuperUser may send the notice of "
        "action {}.",
        internal::NumberText(session, *row)));
  }
  const ActionNotice notice = Built(session, actionID);
  Deliver(RelayOf(session), notice.mail);
  return notice.mail.to.size();
}

}  // namespace app
