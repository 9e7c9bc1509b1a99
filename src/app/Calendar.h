#pragma once
// A person's calendar feed: his or her open actions as all-day events on their due dates, in
// iCalendar form, read by a calendar program from a secret address. The secret is random and
// only its hash is stored, in the person's profile; renewing it ends the old address.
#include <string>
#include <string_view>
#include <vector>

#include "app/Session.h"

namespace app {

/// The host of the site's base URL ("kvaction" when it has none), which makes the IDs of a
/// feed's entries unique beyond this database.
[[nodiscard]] std::string SiteHost(std::string_view url);

/// A text as an iCalendar TEXT value holds it: backslash, semicolon and comma escaped, every
/// line break (CRLF, LF or CR) as "\n", other control characters but tab dropped.
[[nodiscard]] std::string IcsText(std::string_view text);
/// One content line, folded so that no line exceeds 75 octets (a continuation starts with a
/// blank), never inside a UTF-8 character, each line ending in CRLF.
[[nodiscard]] std::string IcsLine(std::string_view line);

/// One event of a feed.
struct CalendarEvent {
  std::string uid;      ///< unique and stable for the action
  vb::Date due;         ///< the day of the event
  std::string summary;  ///< the event's title
  std::string link;     ///< the action's page ("" when the site has no base URL)
};
/// The feed's text: a calendar of all-day events, stamped at stamp (UTC, "YYYYMMDDTHHMMSSZ").
[[nodiscard]] std::string CalendarText(std::string_view name,
                                       const std::vector<CalendarEvent>& events,
                                       std::string_view stamp);

/// The feed of the session's person: the open actions he or she is assignee or originator of
/// that have a due date, each linked under WebURL, stamped now.
[[nodiscard]] std::string CalendarFeed(Session& session);

/// The person's calendar address: RenewFeedSecret, HasFeedSecret and EndFeedSecret with
/// Feed::Calendar (app/Session.h).

}  // namespace app
