#pragma once
// The JSON API under /api/v1/: the same app/ functions as the pages, for programs. A client signs
// in once (POST /api/v1/session) and sends the token it gets as "Authorization: Bearer TOKEN";
// cookies are never read here, so a browser cannot be tricked into calling the API and no form
// token is needed. Dates are ISO 8601 both ways. docs/api.md describes every call.
#include <string_view>

#include <httplib.h>

#include "web/Site.h"

namespace web {

/// The prefix of every API path.
inline constexpr std::string_view kApiPrefix = "/api/v1/";

/// Adds the API's routes to http; site must outlive it.
void AddApiRoutes(httplib::Server& http, Site& site);

/// Whether path belongs to the API (its answers, errors included, are JSON).
[[nodiscard]] bool IsApiPath(std::string_view path);

/// What an error the HTTP layer answers by itself (no route, a body too large or unreadable)
/// means for an API client.
[[nodiscard]] std::string_view ApiStatusText(int status);

/// Sends {"error": {"number": N, "message": M}} with status; number is one of app's error
/// numbers (app::kInvalidInput for a malformed request, app::kNotFound for an unknown path).
void SendApiError(httplib::Response& response, int status, int32_t number,
                  std::string_view message);

}  // namespace web
