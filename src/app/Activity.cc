// The activity across actions. The history is read newest first through the events' key, a page
// at a time, joined to the actions that still exist: the cost follows the page, not the history.
#include "app/Activity.h"

#include <fmt/format.h>
#include <nlohmann/json.hpp>

#include <charconv>
#include <chrono>
#include <limits>
#include <map>

#include "app/Actions.h"
#include "app/Calendar.h"
#include "app/Errors.h"
#include "app/Internal.h"
#include "app/Json.h"
#include "app/Notify.h"
#include "app/TimeZone.h"
#include "app/View.h"
#include "kvaction/Enums.h"
#include "vb/Convert.h"

namespace app {
namespace {

using internal::IsSet;

// A whole number from lowest to highest for field.
int32_t NumberOf(std::string_view field, const std::string& text, int32_t lowest, int32_t highest) {
  int32_t number = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), number);
  if (error != std::errc() || end != text.data() + text.size() || number < lowest ||
      number > highest) {
    throw Invalid(field, text, fmt::format("a whole number from {} to {}", lowest, highest));
  }
  return number;
}

// An instant as Atom writes it: "2026-12-08T14:05:00Z".
std::string AtomTime(int64_t unixSeconds) {
  const std::chrono::sys_seconds instant{std::chrono::seconds(unixSeconds)};
  const auto day = std::chrono::floor<std::chrono::days>(instant);
  const std::chrono::year_month_day date{day};
  const std::chrono::hh_mm_ss time{instant - day};
  return fmt::format("{:04}-{:02}-{:02}T{:02}:{:02}:{:02}Z", static_cast<int>(date.year()),
                     static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()),
                     time.hours().count(), time.minutes().count(), time.seconds().count());
}

// The time of a change as the activity shows it: "14:05".
std::string TimeOfDay(const vb::Date& when) {
  return fmt::format("{:02}:{:02}", when.Hour(), when.Minute());
}

int64_t NowSeconds() {
  return std::chrono::duration_cast<std::chrono::seconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

}  // namespace

ActivityRequest ActivityRequestOf(const Session& session,
                                  const std::vector<std::pair<std::string, std::string>>& texts) {
  ActivityRequest request;
  for (const auto& [field, text] : texts) {
    if (field == "since") {
      request.since = internal::DayOf(session.locale(), "since", text);
    } else if (field == "before") {
      request.before = NumberOf("before", text, 1, std::numeric_limits<int32_t>::max());
    } else if (field == "limit") {
      request.limit = NumberOf("limit", text, 1, kActivityMost);
    } else {
      throw Invalid(field, {}, "a field of the activity: since, before or limit");
    }
  }
  return request;
}

ActivityPage Activity(Session& session, const ActivityRequest& request) {
  internal::Require(session, kvaction::arViewHistory, "viewing the activity");
  if (request.limit < 1 || request.limit > kActivityMost) {
    throw Invalid("limit", fmt::format("{}", request.limit),
                  fmt::format("a whole number from 1 to {}", kActivityMost));
  }
  // One more than the page, to know whether an older page follows.
  std::string sql = fmt::format(
      "select top {} ActionEvents.EventID, ActionEvents.EventCode, ActionEvents.EventText, "
      "ActionEvents.UserID, ActionEvents.EventTime, actions.ActionID, actions.ActionNumber, "
      "actions.Subject from ActionEvents inner join actions on actions.ActionID = "
      "ActionEvents.ActionID",
      request.limit + 1);
  if (request.before) sql += fmt::format(" where ActionEvents.EventID < {}", *request.before);
  sql += " order by ActionEvents.EventID desc";
  const auto rows = internal::ReadRows(session, sql);
  const vb::Date today = session.options().clock->Today();
  std::map<std::string, std::string> names;
  const auto nameOf = [&](const std::string& userID) {
    if (userID.empty()) return userID;
    auto known = names.find(userID);
    if (known == names.end()) {
      std::string name;
      try {
        name = internal::UserName(session, userID);
      } catch (const vb::ComError&) {
        name = userID;  // a user who is gone
      }
      known = names.emplace(userID, name.empty() ? userID : name).first;
    }
    return known->second;
  };
  ActivityPage page;
  for (; !rows->IsEOF(); rows->MoveNext()) {
    const auto value = [&](std::string_view column) { return (*rows)[column].Value(); };
    ActivityEntry entry;
    entry.id = vb::CLng(value("EventID"));
    entry.when = vb::CDate(value("EventTime"));
    // The history is in the order of its keys, and so of its times: the first change before
    // since ends the activity asked for.
    if (request.since && entry.when < *request.since) return page;
    if (static_cast<int32_t>(page.entries.size()) == request.limit) {
      page.older = page.entries.back().id;
      break;
    }
    entry.actionID = vb::CLng(value("ActionID"));
    entry.number = IsSet(value("ActionNumber")) ? vb::CLng(value("ActionNumber")) : 0;
    entry.subject = ValueText(session, value("Subject"));
    entry.who = ValueText(session, value("UserID"));
    entry.whoName = nameOf(entry.who);
    const vb::Date day = entry.when.DateOnly();
    entry.day = day == today               ? std::string("Today")
                : day == today.AddDays(-1) ? std::string("Yesterday")
                                           : session.locale().FormatShortDate(day);
    entry.time = TimeOfDay(entry.when);
    entry.text = HistoryWords(session, IsSet(value("EventCode")) ? vb::CLng(value("EventCode")) : 0,
                              ValueText(session, value("EventText")));
    page.entries.push_back(std::move(entry));
  }
  return page;
}

nlohmann::ordered_json ActivityJson(const ActivityPage& page) {
  auto entries = nlohmann::ordered_json::array();
  for (const ActivityEntry& entry : page.entries) {
    entries.push_back({{"id", entry.id},
                       {"actionId", entry.actionID},
                       {"number", entry.number},
                       {"subject", entry.subject},
                       {"who", entry.who},
                       {"whoName", entry.whoName},
                       {"when", Iso8601(entry.when)},
                       {"day", entry.day},
                       {"text", entry.text}});
  }
  return {{"entries", std::move(entries)},
          {"older", page.older ? nlohmann::ordered_json(*page.older) : nullptr}};
}

ActivityPage ActivityFromJson(const nlohmann::json& json) {
  ActivityPage page;
  try {
    for (const auto& item : json.at("entries")) {
      ActivityEntry entry;
      entry.id = item.at("id").get<int32_t>();
      entry.actionID = item.at("actionId").get<int32_t>();
      entry.number = item.at("number").get<int32_t>();
      entry.subject = item.at("subject").get<std::string>();
      entry.who = item.at("who").get<std::string>();
      entry.whoName = item.at("whoName").get<std::string>();
      entry.when = vb::Date::FromIso(item.at("when").get<std::string>());
      entry.day = item.at("day").get<std::string>();
      entry.time = TimeOfDay(entry.when);
      entry.text = item.at("text").get<std::string>();
      page.entries.push_back(std::move(entry));
    }
    if (!json.at("older").is_null()) page.older = json.at("older").get<int32_t>();
  } catch (const nlohmann::json::exception&) {
    throw Invalid("activity", {}, "a page of the activity as the API writes it");
  }
  return page;
}

std::string XmlText(std::string_view text) {
  std::string escaped;
  for (const char c : text) {
    switch (c) {
      case '&':
        escaped += "&amp;";
        break;
      case '<':
        escaped += "&lt;";
        break;
      case '>':
        escaped += "&gt;";
        break;
      case '"':
        escaped += "&quot;";
        break;
      case '\'':
        escaped += "&apos;";
        break;
      default:
        // XML 1.0 has no form for the other control characters.
        if (static_cast<unsigned char>(c) < 0x20 && c != '\t' && c != '\n' && c != '\r') break;
        escaped += c;
    }
  }
  return escaped;
}

std::string ActivityFeed(Session& session, std::string_view base, std::string_view self) {
  const ActivityPage page = Activity(session, {});
  const std::string host = SiteHost(base);
  const std::string site(base);
  std::string feed =
      "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
      "<feed xmlns=\"http://www.w3.org/2005/Atom\">\n";
  feed +=
      fmt::format("<id>tag:{},2026:activity:{}</id>\n", XmlText(host), XmlText(session.userID()));
  feed += fmt::format("<title>kvAction activity for {}</title>\n",
                      XmlText(internal::UserName(session, session.userID())));
  feed +=
      fmt::format("<updated>{}</updated>\n",
                  AtomTime(page.entries.empty() ? NowSeconds()
                                                : InstantOfServerTime(page.entries.front().when)));
  feed += fmt::format("<link rel=\"self\" type=\"application/atom+xml\" href=\"{}\"/>\n",
                      XmlText(self));
  if (!site.empty()) {
    feed += fmt::format("<link rel=\"alternate\" type=\"text/html\" href=\"{}/activity\"/>\n",
                        XmlText(site));
  }
  feed += "<generator>kvAction</generator>\n";
  for (const ActivityEntry& entry : page.entries) {
    feed += "<entry>\n";
    feed += fmt::format("<id>tag:{},2026:event:{}</id>\n", XmlText(host), entry.id);
    feed += fmt::format("<title>No. {}: {} ({})</title>\n", entry.number, XmlText(entry.subject),
                        XmlText(entry.text));
    feed += fmt::format("<updated>{}</updated>\n", AtomTime(InstantOfServerTime(entry.when)));
    feed += fmt::format("<author><name>{}</name></author>\n",
                        XmlText(entry.whoName.empty() ? std::string("kvAction") : entry.whoName));
    if (const std::string link = ActionPageLink(session, base, entry.actionID); !link.empty()) {
      feed +=
          fmt::format("<link rel=\"alternate\" type=\"text/html\" href=\"{}\"/>\n", XmlText(link));
    }
    feed += fmt::format("<summary>{}</summary>\n", XmlText(entry.text));
    feed += "</entry>\n";
  }
  return feed + "</feed>\n";
}

}  // namespace app
