#pragma once
// The mail work of a running server: every round delivers the outbox and the webhooks, and once a
// day, when the wall clock of the setting "TimeZone" reaches the setting "ReminderTime", queues the
// reminder digests first. A server that starts after that time runs the day's reminders at once;
// the sent log keeps a restart, or a second server, from reminding anybody twice.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "app/Hooks.h"
#include "app/Outbox.h"
#include "app/Reminders.h"
#include "vb/Date.h"

namespace app {

class Session;

/// The setting with the time of day ("HH:MM", 24-hour, in TimeZone) at which a server runs the
/// reminders; empty: a server runs none (cron may run `kvaction remind`).
inline constexpr std::string_view kReminderTimeSetting = "ReminderTime";

/// "HH:MM" (00:00 to 23:59) as minutes after midnight; nullopt for anything else.
[[nodiscard]] std::optional<int32_t> MinutesOfDay(std::string_view text);

/// What one round did.
struct MailRound {
  std::optional<RemindReport> reminders;   ///< when the reminders ran in this round
  std::optional<DeliveryReport> delivery;  ///< when a relay is set (the setting SMTPHost)
  hooks::DeliveryReport hooks;             ///< the webhooks delivered
};

/// Decides, round by round, when the reminders are due; remembers the day it last ran them.
class MailSchedule {
 public:
  /// One round as session's person (a SuperUser): the reminders when they are due, then
  /// delivery of what is due through the relay of the settings (password: see RelayOf), then of
  /// the webhooks that are due. Raises
  /// kInvalidInput for a ReminderTime or TimeZone that cannot be read, kRefused for a person
  /// who is not a SuperUser.
  MailRound Run(Session& session, std::string_view password = {});

  /// The day in TimeZone whose reminders this schedule ran last.
  [[nodiscard]] const std::optional<vb::Date>& LastReminderDay() const { return lastDay_; }

 private:
  std::optional<vb::Date> lastDay_;
};

/// Refuses with kRefused unless the person may run a server's mail work (a SuperUser).
void RequireMailWork(Session& session);

}  // namespace app
