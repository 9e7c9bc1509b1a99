#include "app/Profile.h"

#include <memory>
#include <string>

#include "app/Errors.h"
#include "app/Reminders.h"
#include "kvdata/DataServer.h"
#include "kvdata/UserProfile.h"
#include "vb/ComError.h"
#include "vb/Convert.h"

namespace app {
namespace {

// The person's stored profile, read fresh (the session's copy dates from its sign-in).
std::shared_ptr<kvdata::UserProfile> StoredProfile(Session& session) {
  const auto connection = vb::Require(session.action().DataServer())->Connection();
  return kvdata::UserProfile::ForUser(connection, session.userID());
}

bool IsUnset(const vb::Variant& value) { return value.IsEmpty() || value.IsNull(); }

}  // namespace

PersonalValues PersonalValuesOf(Session& session) {
  const auto profile = StoredProfile(session);
  PersonalValues values;
  const vb::Variant due = profile->Value("DefaultDueDays");
  values.defaultDueDays = IsUnset(due) ? 0 : vb::CLng(due);
  const vb::Variant alert = profile->Value("AlertDays");
  values.alertDays = IsUnset(alert) ? kDefaultAlertDays : vb::CLng(alert);
  const vb::Variant reminders = profile->Value(kRemindersKey);
  values.reminders = IsUnset(reminders) || vb::CBool(reminders);
  return values;
}

void SetDefaultDueDays(Session& session, int32_t days) {
  if (days < kLeastDueDays || days > kMostDueDays) {
    throw Invalid("DefaultDueDays", std::to_string(days),
                  "a number of days from " + std::to_string(kLeastDueDays) + " to " +
                      std::to_string(kMostDueDays));
  }
  StoredProfile(session)->Value("DefaultDueDays", static_cast<int16_t>(days));
}

}  // namespace app
