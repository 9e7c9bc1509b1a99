#pragma once
// Mail on change: when the setting "AutoEmail" is on, each change a person makes to an action
// queues the action's notice for the other party (its assignee and originator) and its watchers
// (app/Watchers.h), never the person who made the change, in the outbox, in the transaction of
// the change. Delivery comes after
// the change is committed, so a relay that fails never undoes a change.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "ado/Recordset.h"
#include "app/Mailer.h"

namespace app {

class Session;

/// The setting with the base URL of the web front end that notices and reminders link to.
inline constexpr const char* kWebURLSetting = "WebURL";

/// Queues the notice of actionID when AutoEmail is on, the session sends mail (see
/// OpenOptions::mail) and someone other than the person is to be told. Returns the MailID, 0
/// when nothing was queued.
int32_t NoticeOfChange(Session& session, int32_t actionID);

/// The base URL of the web front end: the setting WebURL. Every link in a notice or a
/// reminder comes from it, never from whoever asks for the mail.
[[nodiscard]] std::string WebURL(Session& session);

/// The link to an action's page under the web front end's base URL (the link of the library's
/// notices); empty when base is empty.
[[nodiscard]] std::string ActionPageLink(Session& session, std::string_view base, int32_t actionID);

/// The library's notice of an action (the record set EmailData returns, built with base) as
/// the mail it becomes: from the person, to the assignee and the originator it names, its
/// plain body as is and an HTML alternative. No Message-ID: the outbox gives one.
[[nodiscard]] OutgoingMail NoticeMail(Session& session, ado::Recordset& notice,
                                      std::string_view base);

/// The notice of one action as the person may read it (anyone signed in may): the library's
/// record (ID, AssigneeEmail, OriginatorEmail, FromName, FromEmail, Subject, Body) and the mail
/// it becomes, linking under WebURL. The recipients' addresses are left out (null in the record,
/// no recipients in the mail) unless the person is the action's assignee or originator or
/// holds right 41, 42 or 43, which read every address anyway. Raises kNotFound.
struct ActionNotice {
  ado::RecordsetPtr record;
  OutgoingMail mail;
};
[[nodiscard]] ActionNotice NoticeOf(Session& session, int32_t actionID);

/// Sends the notice of an action to its assignee and originator at once, through the relay of
/// the mail settings. Only a party to the action (its assignee or originator) or a SuperUser
/// may; the refusal comes before the mail settings are read. Returns the number of recipients.
std::size_t SendNotice(Session& session, int32_t actionID);

}  // namespace app
