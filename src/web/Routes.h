#pragma once
// The one table of every path the server answers: pages, the API and the public pages. The server
// registers each row as it stands; how a row is guarded follows from its handler's kind.
#include <cstdint>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include <httplib.h>

#include "web/Api.h"
#include "web/Site.h"

namespace web {

enum class Method { Get, Post, Patch, Delete };

/// Open to anyone: sign-in, the static files, the API's sign-in. Guards itself.
using PublicHandler = void (*)(Site&, const httplib::Request&, httplib::Response&);
/// A page of a signed-in person: the session cookie, and a form token on every POST.
using PageHandler = void (*)(Visit&);
/// The same for a page about one row, whose positive number the path's first group holds.
using RowPageHandler = void (*)(Visit&, int32_t);
/// An API call of a client signed in by a bearer token.
using ApiHandler = void (*)(api::Call&);
using Handler = std::variant<PublicHandler, PageHandler, RowPageHandler, ApiHandler>;

struct Route {
  Method method;
  std::string pattern;  ///< the whole path, a regular expression
  Handler handler;
  std::string_view idField = {};  ///< RowPageHandler: the name a malformed number is refused as
};

/// Every route, in the order the server registers them.
[[nodiscard]] const std::vector<Route>& RouteTable();

}  // namespace web
