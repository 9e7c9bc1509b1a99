#include "app/Schedule.h"

#include "app/Errors.h"
#include "app/Internal.h"
#include "app/Mailer.h"
#include "app/Session.h"
#include "kvdata/DataServer.h"
#include "kvdata/SettingsStore.h"
#include "vb/Convert.h"

namespace app {
namespace {

constexpr int32_t kMinutesPerHour = 60;
constexpr int32_t kHoursPerDay = 24;

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

std::optional<int32_t> MinutesOfDay(std::string_view text) {
  if (text.size() != 5 || text[2] != ':' || !IsDigit(text[0]) || !IsDigit(text[1]) ||
      !IsDigit(text[3]) || !IsDigit(text[4])) {
    return std::nullopt;
  }
  const int32_t hours = (text[0] - '0') * 10 + (text[1] - '0');
  const int32_t minutes = (text[3] - '0') * 10 + (text[4] - '0');
  if (hours >= kHoursPerDay || minutes >= kMinutesPerHour) return std::nullopt;
  return hours * kMinutesPerHour + minutes;
}

void RequireMailWork(Session& session) {
  internal::RequireSuper(session, "delivering mail and sending reminders from the server");
}

MailRound MailSchedule::Run(Session& session, std::string_view password) {
  RequireMailWork(session);
  MailRound round;
  const std::string time = vb::TextOf(
      vb::Require(session.action().DataServer())->Settings()->Value(kReminderTimeSetting));
  if (!time.empty()) {
    const auto at = MinutesOfDay(time);
    if (!at) throw Invalid(kReminderTimeSetting, time, "a time of day HH:MM (24-hour)");
    const vb::Date now = ReminderNow(session);
    const vb::Date day = now.DateOnly();
    if (now.Hour() * kMinutesPerHour + now.Minute() >= *at && lastDay_ != day) {
      round.reminders = Remind(session, day, false);
      lastDay_ = day;
    }
  }
  // Without a relay the mail waits: trying would only count failed attempts against it.
  const Relay relay = RelayOf(session, password);
  if (!relay.host.empty()) round.delivery = DeliverDue(session, relay);
  round.hooks = hooks::Deliver(session);
  return round;
}

}  // namespace app
