#include "app/Notify.h"

#include "app/Outbox.h"
#include "app/Session.h"
#include "kvdata/DataServer.h"
#include "kvdata/SettingsStore.h"
#include "vb/Convert.h"

namespace app {
namespace {

std::string Text(ado::Recordset& notice, std::string_view field) {
  return vb::TextOf(notice.Fields().Item(field).Value());
}

}  // namespace

std::string WebURL(Session& session) {
  std::string url = session.action().twWebURL();
  if (url.empty()) {
    url = vb::TextOf(vb::Require(session.action().DataServer())->Settings()->Value(kWebURLSetting));
  }
  return url;
}

int32_t NoticeOfChange(Session& session, int32_t actionID) {
  if (!session.options().mail || !session.action().AutoEmail()) return 0;
  const auto notice = session.action().EmailData(actionID, WebURL(session));
  if (!notice || notice->IsEOF()) return 0;
  NewMail mail{actionID, Text(*notice, "FromName"), Text(*notice, "FromEmail"),
               {},       Text(*notice, "Subject"),  Text(*notice, "Body")};
  // The library leaves out the person who made the change and names an address only once.
  for (const std::string_view field : {"AssigneeEmail", "OriginatorEmail"}) {
    if (std::string address = Text(*notice, field); !address.empty()) {
      mail.to.push_back(std::move(address));
    }
  }
  if (mail.to.empty()) return 0;
  return Queue(session, mail);
}

}  // namespace app
