#pragma once
// A person's own values, kept in his or her profile: the due-date offset of new actions
// ("DefaultDueDays"), the lead time of alerts and reminders ("AlertDays") and whether reminders
// come at all. Each person changes only his or her own; no right is needed.
#include <cstdint>

#include "app/Session.h"

namespace app {

/// The values as they count now (defaults filled in for values never chosen).
struct PersonalValues {
  int32_t defaultDueDays = 0;  ///< days from today to the due date of a new action (0: the
                               ///< database's "DueDays")
  int32_t alertDays = 0;       ///< days ahead the due list and the reminders look
  bool reminders = true;       ///< whether the daily reminder digest is sent
};
[[nodiscard]] PersonalValues PersonalValuesOf(Session& session);

/// The range accepted for DefaultDueDays; a negative offset dates new actions in the past.
inline constexpr int32_t kLeastDueDays = -365;
inline constexpr int32_t kMostDueDays = 3650;
/// Sets the person's own due-date offset; kInvalidInput outside kLeastDueDays..kMostDueDays.
void SetDefaultDueDays(Session& session, int32_t days);

}  // namespace app
