#pragma once
// What changed lately across the actions a person may see: the history the library keeps, newest
// first, a page at a time, each change in the words of the action's own history and linked to
// its action. The activity page, the command's activity, the API and the Atom feed all read it
// here.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json_fwd.hpp>

#include "app/Session.h"
#include "vb/Date.h"

namespace app {

/// The most changes one page holds, and how many it holds when none is asked for.
inline constexpr int32_t kActivityMost = 200;
inline constexpr int32_t kActivityDefault = 50;

/// Which changes: those at or after since (a day), older than the change before (a page's
/// "older" mark), at most limit of them.
struct ActivityRequest {
  std::optional<vb::Date> since;
  std::optional<int32_t> before;
  int32_t limit = kActivityDefault;
};
/// The request a front end's texts make, by field ID: since (a date, ISO or the person's short
/// date form), before (a change's ID), limit (1 to kActivityMost). Raises kInvalidInput naming
/// the field for any other value or field.
[[nodiscard]] ActivityRequest ActivityRequestOf(
    const Session& session, const std::vector<std::pair<std::string, std::string>>& texts);

/// One change of one action.
struct ActivityEntry {
  int32_t id = 0;        ///< the history event's ID (newer changes have higher IDs)
  int32_t actionID = 0;  ///< the action's ID, for its link
  int32_t number = 0;    ///< the number people know it by
  std::string subject;
  std::string who;      ///< user ID ("" when no one was signed in)
  std::string whoName;  ///< display name (the ID for a user who is gone)
  vb::Date when;        ///< the data server's time of the change
  std::string day;      ///< "Today", "Yesterday" or the day in the person's short date form
  std::string time;     ///< the time of day, "14:05"
  std::string text;     ///< the change in words (HistoryWords)
};
/// A page of changes, newest first, and the mark of the page after it.
struct ActivityPage {
  std::vector<ActivityEntry> entries;
  std::optional<int32_t> older;  ///< the before of the next page (nullopt: this is the last)
};
/// The changes of the actions the person may see (every action that still exists: the history
/// of a deleted action and the administration's events are no action's), by request. Needs
/// right 82, as an action's history does. Reads at most limit + 1 events through the events'
/// key, whatever the size of the history.
[[nodiscard]] ActivityPage Activity(Session& session, const ActivityRequest& request);

/// The page as JSON, the one form the API and the command's --json share: entries (id, actionId,
/// number, subject, who, whoName, when as ISO 8601, day, text) and older (null on the last page).
[[nodiscard]] nlohmann::ordered_json ActivityJson(const ActivityPage& page);
/// The page ActivityJson wrote (the command reads a server's answer with it). Raises
/// kInvalidInput when json is not such a page.
[[nodiscard]] ActivityPage ActivityFromJson(const nlohmann::json& json);

/// A text as XML character data or an attribute value holds it: &, <, >, " and ' escaped,
/// control characters other than tab and line breaks dropped.
[[nodiscard]] std::string XmlText(std::string_view text);
/// The person's activity as an Atom feed (RFC 4287): the newest page, each entry linked to its
/// action under base (the site's address; "" leaves links relative), for the feed at self.
[[nodiscard]] std::string ActivityFeed(Session& session, std::string_view base,
                                       std::string_view self);

}  // namespace app
