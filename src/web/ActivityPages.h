#pragma once
// The activity page: what changed lately across the actions the person may see, by day, with
// the person's Atom feed of it (ActivityPages.cc). Each page may raise vb::ComError; the server
// turns it into an error page.
#include "web/Site.h"

namespace web {

void ActivityPage(Visit& visit);
/// A new secret address of the person's activity feed, shown once on the activity page.
void ActivityFeedRenew(Visit& visit);
/// Ends the person's activity feed address.
void ActivityFeedEnd(Visit& visit);
/// The Atom feed at a secret address, read without signing in.
void ActivityFeedFile(Site& site, const web::Request& request, web::Response& response);

}  // namespace web
