// The calendar feed. Its text follows the iCalendar rules calendar programs insist on: CRLF line
// ends, lines folded at 75 octets, TEXT values escaped, a UID and a DTSTAMP on every event, and
// all-day events as DATE values.
#include "app/Calendar.h"

#include <fmt/format.h>

#include <chrono>
#include <string>

#include "app/Errors.h"
#include "app/Internal.h"
#include "app/Lists.h"
#include "app/Notify.h"
#include "kvaction/Action.h"
#include "kvdata/UserProfile.h"
#include "vb/Convert.h"

namespace app {
namespace {

constexpr size_t kMostOctets = 75;

std::string DateValue(const vb::Date& date) {
  return fmt::format("{:04}{:02}{:02}", date.Year(), date.Month(), date.Day());
}

// Now in UTC, as DTSTAMP takes it.
std::string UtcStamp() {
  const auto now = std::chrono::floor<std::chrono::seconds>(std::chrono::system_clock::now());
  const auto day = std::chrono::floor<std::chrono::days>(now);
  const std::chrono::year_month_day date{day};
  const std::chrono::hh_mm_ss time{now - day};
  return fmt::format("{:04}{:02}{:02}T{:02}{:02}{:02}Z", static_cast<int>(date.year()),
                     static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()),
                     time.hours().count(), time.minutes().count(), time.seconds().count());
}

}  // namespace

std::string SiteHost(std::string_view url) {
  const auto scheme = url.find("://");
  if (scheme == std::string_view::npos) return "kvaction";
  url.remove_prefix(scheme + 3);
  const auto end = url.find_first_of("/:?#");
  const std::string host(url.substr(0, end));
  return host.empty() ? "kvaction" : host;
}

std::string IcsText(std::string_view text) {
  std::string escaped;
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    switch (c) {
      case '\\':
      case ';':
      case ',':
        escaped += '\\';
        escaped += c;
        break;
      case '\r':
        if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
        [[fallthrough]];
      case '\n':
        escaped += "\\n";
        break;
      default:
        if ((static_cast<unsigned char>(c) < 0x20 && c != '\t') || c == 0x7f) break;
        escaped += c;
    }
  }
  return escaped;
}

std::string IcsLine(std::string_view line) {
  std::string folded;
  size_t room = kMostOctets;
  while (line.size() > room) {
    // Back up to the start of a UTF-8 character: continuation bytes are 10xxxxxx.
    size_t cut = room;
    while (cut > 0 && (static_cast<unsigned char>(line[cut]) & 0xC0) == 0x80) --cut;
    folded.append(line.substr(0, cut));
    folded += "\r\n ";
    line.remove_prefix(cut);
    room = kMostOctets - 1;  // the blank that starts a continuation counts
  }
  folded.append(line);
  return folded + "\r\n";
}

std::string CalendarText(std::string_view name, const std::vector<CalendarEvent>& events,
                         std::string_view stamp) {
  std::string text = IcsLine("BEGIN:VCALENDAR") + IcsLine("VERSION:2.0") +
                     IcsLine("PRODID:-//kvAction//Actions due//EN") +
                     IcsLine("CALSCALE:GREGORIAN") + IcsLine("METHOD:PUBLISH") +
                     IcsLine("X-WR-CALNAME:" + IcsText(name));
  for (const CalendarEvent& event : events) {
    text += IcsLine("BEGIN:VEVENT");
    text += IcsLine("UID:" + IcsText(event.uid));
    text += IcsLine(fmt::format("DTSTAMP:{}", stamp));
    text += IcsLine("DTSTART;VALUE=DATE:" + DateValue(event.due));
    text += IcsLine("DTEND;VALUE=DATE:" + DateValue(event.due.AddDays(1)));
    text += IcsLine("SUMMARY:" + IcsText(event.summary));
    text += IcsLine("TRANSP:TRANSPARENT");
    if (!event.link.empty()) {
      text += IcsLine("URL:" + event.link);
      text += IcsLine("DESCRIPTION:" + IcsText(event.link));
    }
    text += IcsLine("END:VEVENT");
  }
  return text + IcsLine("END:VCALENDAR");
}

std::string CalendarFeed(Session& session) {
  ListRequest request;  // the person's open actions
  request.columns = {"ActionID", "ActionNumber", "Subject", "DateDue"};
  request.sort = "DateDue, ActionNumber";
  const std::string base = WebURL(session);
  const std::string host = SiteHost(base);
  std::vector<CalendarEvent> events;
  for (auto rows = List(session, request); !rows->IsEOF(); rows->MoveNext()) {
    const vb::Variant due = (*rows)["DateDue"].Value();
    if (due.IsNull() || due.IsEmpty()) continue;
    const int32_t id = vb::CLng((*rows)["ActionID"].Value());
    events.push_back({fmt::format("action-{}@{}", id, host), vb::CDate(due).DateOnly(),
                      fmt::format("No. {}: {}", vb::TextOf((*rows)["ActionNumber"].Value()),
                                  vb::TextOf((*rows)["Subject"].Value())),
                      ActionPageLink(session, base, id)});
  }
  return CalendarText(fmt::format("kvAction: {}", session.userID()), events, UtcStamp());
}

}  // namespace app
