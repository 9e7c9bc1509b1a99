#pragma once
// Signing in and out (SignInPages.cc), and the session every other page runs in.
#include <functional>

#include "web/Http.h"

#include "web/Site.h"

namespace web {

/// Runs body for a signed-in person; a visitor without a session goes to sign-in and back. A
/// state-changing request must carry the session's form token and come from this site. A
/// vb::ComError from body becomes an error page.
void ServeSignedIn(Site& site, const web::Request& request, web::Response& response,
                   const std::function<void(Visit&)>& body);

/// The sign-in form (GET /signin).
void SignInPage(Site& site, const web::Request& request, web::Response& response);
/// Signing in (POST /signin): throttled per user ID and per address; on success, the session's
/// cookie and a redirect to where the visitor was going.
void SignIn(Site& site, const web::Request& request, web::Response& response);
void SignOut(Visit& visit);

}  // namespace web
