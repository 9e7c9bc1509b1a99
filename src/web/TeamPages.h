#pragma once
// Working together on the pages: who watches an action and the button to watch it, and changing
// many actions of a list at once (TeamPages.cc). Each page may raise vb::ComError; the server
// turns it into an error page.
#include <cstdint>

#include <mstch/mstch.hpp>

#include "web/ListPages.h"
#include "web/Site.h"

namespace web {

/// Adds the action page's watchers (watchers, hasWatchers) and its Watch/Unwatch button
/// (watching, watchValue, watchTitle).
void AddWatchersOf(Visit& visit, int32_t actionID, mstch::map& context);
/// POST /action/N/watch: watch=1 watches, watch=0 stops; back to the action page.
void WatchSave(Visit& visit, int32_t actionID);

/// Adds the list's bulk form (bulk: the list's choice as hidden fields, the total and the
/// changes offered) for the list of choice, total actions long.
void AddBulkControls(Visit& visit, const ListChoice& choice, int32_t total, mstch::map& context);
/// POST /bulk: the ticked actions (id, several) or all of the list (all=1 with the list's
/// choice), the change (do, value, note). Deleting and closing are asked again first
/// (confirm=yes); the answer is app/'s report of each action.
void BulkPage(Visit& visit);

}  // namespace web
