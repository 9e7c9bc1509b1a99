#pragma once
// The lists of actions: the main list with its filters, the saved queries, and the alerts and due
// lists (ListPages.cc). Each page may raise vb::ComError; the server turns it into an error page.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include <mstch/mstch.hpp>

#include "app/Lists.h"
#include "web/Site.h"

namespace web {

/// The list a request asks for: a saved query and ad-hoc filters from the query string.
struct ListChoice {
  std::optional<int32_t> queryID;  ///< a saved query run as it is
  std::optional<int32_t> baseID;   ///< a saved query the filters were taken from, to update
  app::ListFilter filter;
  std::string query;  ///< the same as "&name=value…", for links that keep the choice
  [[nodiscard]] bool Any() const { return queryID || !query.empty(); }
};
/// Reads the list's choice; raises kInvalidInput naming a malformed filter.
[[nodiscard]] ListChoice ListChoiceOf(const web::Request& request);
/// The list's choice for the page: a saved query whose criteria the filters can say is opened
/// as those filters (from the query), so they can be changed in place and saved back.
[[nodiscard]] ListChoice EditableChoice(Visit& visit, ListChoice choice);

/// The page links of a list: "1–50 of 5,010", the previous and next pages, the first and the
/// last, and the pages around the current one; href gives a page's address.
/// label names the page links for assistive technology ("Pages"). previousHref and nextHref,
/// when given, are the previous and next pages' addresses instead of href's.
[[nodiscard]] mstch::map PagerOf(int32_t page, int32_t total, int32_t pageSize, std::string label,
                                 const std::function<std::string(int32_t)>& href,
                                 const std::string& previousHref = {},
                                 const std::string& nextHref = {});
/// The page number query field name asks for (1 when missing or not a number).
[[nodiscard]] int32_t PageOf(const web::Request& request, const std::string& name);
/// The context the list's filter form, saved-query picker and save form need.
void AddListControls(Visit& visit, const ListChoice& choice, mstch::map& context);

void ListPage(Visit& visit);
/// The list as CSV: every row of the list the page shows, in its order, with its columns.
void ListCsv(Visit& visit);

void QueriesPage(Visit& visit);
void QuerySave(Visit& visit);
void QueryUpdate(Visit& visit, int32_t queryID);
void QueryShare(Visit& visit, int32_t queryID);
void QueryDelete(Visit& visit, int32_t queryID);

void AlertsPage(Visit& visit);

}  // namespace web
