#pragma once
// Mail on change: when the setting "AutoEmail" is on, each change a person makes to an action
// queues the action's notice for the other party (its assignee and originator, never the person
// who made the change) in the outbox, in the transaction of the change. Delivery comes after
// the change is committed, so a relay that fails never undoes a change.
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

/// The base URL of the web front end: the Action's twWebURL, else the setting WebURL.
[[nodiscard]] std::string WebURL(Session& session);

/// The link to an action's page under the web front end's base URL (the link of the library's
/// notices); empty when base is empty.
[[nodiscard]] std::string ActionPageLink(Session& session, std::string_view base, int32_t actionID);

/// The library's notice of an action (the record set EmailData returns, built with base) as
/// the mail it becomes: from the person, to the assignee and the originator it names, its
/// plain body as is and an HTML alternative. No Message-ID: the outbox gives one.
[[nodiscard]] OutgoingMail NoticeMail(Session& session, ado::Recordset& notice,
                                      std::string_view base);

}  // namespace app
