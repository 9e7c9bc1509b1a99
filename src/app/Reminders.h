#pragma once
// Reminders: once a day, each user with an e-mail address gets one digest of the open actions
// that need them: overdue, due within the user's lead time (the per-user value "AlertDays", 5
// by default), or flagged and waiting for the user's turn. A sent log (table ActionReminders)
// keeps a second run on the same day from sending again; a person may switch their own
// reminders off. The day is today in the time zone of the setting "TimeZone" (default: the
// server's).
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "vb/Date.h"

namespace app {

class Session;

/// The lead time of a user who never chose one.
inline constexpr int32_t kDefaultAlertDays = 5;
/// The per-user value that switches reminders off when false.
inline constexpr std::string_view kRemindersKey = "Reminders";

/// Why an action is in a digest.
enum class ReminderReason { Overdue, DueSoon, YourTurn };

/// One line of a digest.
struct ReminderLine {
  int32_t actionID = 0;
  int32_t number = 0;
  std::string subject;
  ReminderReason reason = ReminderReason::Overdue;
  std::string dueText;  ///< "due 12/9/2026, in 3 days", "due 12/1/2026, 5 days overdue" …
  std::string link;     ///< into the web front end; empty without a base URL
};

/// One user's digest for one day.
struct Digest {
  std::string userID;
  std::string userName;
  std::string address;
  std::vector<ReminderLine> lines;
  std::string subject;
  std::string body;  ///< plain text, lines ending in CRLF
  std::string html;  ///< the same as HTML, lines ending in CRLF
};

/// The setting naming the zone whose day reminders speak of.
inline constexpr std::string_view kTimeZoneSetting = "TimeZone";

/// The wall-clock time now in the setting TimeZone (an IANA name such as "Europe/Berlin"; empty:
/// the server's); the session's clock gives the server's local time. Raises kInvalidInput for
/// an unknown zone. Safe from any thread: the process's environment is never changed.
[[nodiscard]] vb::Date ReminderNow(Session& session);
/// Today in the setting TimeZone: ReminderNow without its time of day.
[[nodiscard]] vb::Date ReminderDay(Session& session);

/// What a reminder run did.
struct RemindReport {
  std::vector<Digest> digests;           ///< queued (or, in a dry run, that would be)
  std::vector<std::string> alreadySent;  ///< users whose digest for the day was sent before
};

/// Builds the digests of day for every user with an address and reminders on; unless dryRun,
/// queues each in the outbox and records it in the sent log, in one transaction per user.
/// Needs a SuperUser.
RemindReport Remind(Session& session, const vb::Date& day, bool dryRun);

/// Switches the person's own reminders on or off.
void SetReminders(Session& session, bool on);
/// Sets the person's own lead time in days (0 to 365; "AlertDays"); kInvalidInput otherwise.
void SetAlertDays(Session& session, int32_t days);

}  // namespace app
