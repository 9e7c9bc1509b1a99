#pragma once
// The lists of actions: the main list with its filters, the saved queries, and the alerts and due
// lists (ListPages.cc). Each page may raise vb::ComError; the server turns it into an error page.
#include <cstdint>
#include <optional>
#include <string>

#include <mstch/mstch.hpp>

#include "app/Lists.h"
#include "web/Site.h"

namespace web {

/// The list a request asks for: a saved query and ad-hoc filters from the query string.
struct ListChoice {
  std::optional<int32_t> queryID;
  app::ListFilter filter;
  std::string query;  ///< the same as "&name=value…", for links that keep the choice
  [[nodiscard]] bool Any() const { return queryID || !query.empty(); }
};
/// Reads the list's choice; raises kInvalidInput naming a malformed filter.
[[nodiscard]] ListChoice ListChoiceOf(const httplib::Request& request);
/// The context the list's filter form, saved-query picker and save form need.
void AddListControls(Visit& visit, const ListChoice& choice, mstch::map& context);

void ListPage(Visit& visit);

void QueriesPage(Visit& visit);
void QuerySave(Visit& visit);
void QueryShare(Visit& visit, int32_t queryID);
void QueryDelete(Visit& visit, int32_t queryID);

void AlertsPage(Visit& visit);

}  // namespace web
