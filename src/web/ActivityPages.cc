// The activity page reads like a team tool's: the changes grouped under their day, each a line
// with its time, who made it, the action it belongs to (a link) and what changed in words; older
// changes a page at a time; the Atom feed's private address made and ended here.
#include "web/ActivityPages.h"

#include <fmt/format.h>

#include <string>
#include <utility>
#include <vector>

#include "app/Activity.h"
#include "app/Errors.h"
#include "app/Session.h"

namespace web {
namespace {

// The activity request of the page's query: since, before (the page's mark).
app::ActivityRequest RequestOf(Visit& visit) {
  std::vector<std::pair<std::string, std::string>> given;
  for (const char* field : {"since", "before"}) {
    if (std::string value = Param(visit.request, field); !value.empty()) {
      given.emplace_back(field, std::move(value));
    }
  }
  return app::ActivityRequestOf(visit.session, given);
}

std::string FeedAddress(Visit& visit, const std::string& secret) {
  return SiteAddress(visit.site, visit.request, visit.session) + "/activity/" + secret + ".atom";
}

// The page: secret is a feed secret just made, shown this once.
void SendActivity(Visit& visit, const std::string& secret) {
  const std::string since = Param(visit.request, "since");
  const app::ActivityPage page = app::Activity(visit.session, RequestOf(visit));
  mstch::array days;
  mstch::array entries;
  std::string day;
  const auto closeDay = [&] {
    if (entries.empty()) return;
    days.emplace_back(mstch::map{{"day", day},
                                 {"dayId", fmt::format("day-{}", days.size() + 1)},
                                 {"entries", std::move(entries)}});
    entries = mstch::array();
  };
  for (const app::ActivityEntry& entry : page.entries) {
    if (entry.day != day) {
      closeDay();
      day = entry.day;
    }
    entries.emplace_back(mstch::map{{"id", std::to_string(entry.id)},
                                    {"time", entry.time},
                                    {"href", fmt::format("/action/{}", entry.actionID)},
                                    {"number", std::to_string(entry.number)},
                                    {"subject", entry.subject},
                                    {"who", entry.whoName.empty() ? entry.who : entry.whoName},
                                    {"whoID", entry.who},
                                    {"text", entry.text}});
  }
  closeDay();
  const std::string keep = since.empty() ? std::string() : "&since=" + QueryValue(since);
  mstch::map context{
      {"days", std::move(days)},
      {"empty", page.entries.empty()},
      {"since", since},
      {"filtered", !since.empty() || !Param(visit.request, "before").empty()},
      {"hasOlder", page.older.has_value()},
      {"olderHref",
       page.older ? fmt::format("/activity?before={}{}", *page.older, keep) : std::string()},
      {"newestHref", "/activity" + (since.empty() ? std::string() : "?since=" + QueryValue(since))},
      {"hasFeed", app::HasFeedSecret(visit.session, app::Feed::Activity)},
      {"feedEnded", Param(visit.request, "feed") == "ended"},
      {"newFeed", !secret.empty()},
      {"feedUrl", secret.empty() ? std::string() : FeedAddress(visit, secret)}};
  SendPage(visit, "activity", "Activity", std::move(context));
}

}  // namespace

void ActivityPage(Visit& visit) { SendActivity(visit, {}); }

void ActivityFeedRenew(Visit& visit) {
  // Only a person who may read the activity gets an address for it.
  app::ActivityRequest probe;
  probe.limit = 1;
  (void)app::Activity(visit.session, probe);
  // Shown in the answer to the form, not in an address: the secret reaches no log or history.
  SendActivity(visit, app::RenewFeedSecret(visit.session, app::Feed::Activity));
}

void ActivityFeedEnd(Visit& visit) {
  app::EndFeedSecret(visit.session, app::Feed::Activity);
  Redirect(visit.response, "/activity?feed=ended");
}

void ActivityFeedFile(Site& site, const web::Request& request, web::Response& response) {
  AddSecurityHeaders(response);
  Guarded(
      [&] {
        auto session = app::Session::OfFeed(site.options.open, app::Feed::Activity,
                                            request.matches[1], site.pool.Take());
        const std::string base = SiteAddress(site, request, session);
        response.set_header("Cache-Control", "private, max-age=300");
        response.set_content(
            app::ActivityFeed(session, base,
                              base + "/activity/" + std::string(request.matches[1]) + ".atom"),
            "application/atom+xml; charset=utf-8");
        site.pool.Give(std::move(session).TakeAction());
      },
      [&](const vb::ComError& error) {
        // An unknown address, and one whose person has lost the right, tell nothing apart.
        if (error.number() == app::kNotFound || error.number() == app::kRefused) {
          return SendErrorPage(response, 404, "There is no such page.");
        }
        SendComErrorPage(response, error);
      },
      [&] { SendErrorPage(response, 500, "The server could not complete this request."); });
}

}  // namespace web
