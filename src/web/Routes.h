#pragma once
// The one table of every path the server answers: pages, the API, the public pages and the
// server's own health and metrics; and the dispatch of a request to its row, which guards each row
// by its handler's kind.
#include <cstdint>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include <regex>

#include "web/Api.h"
#include "web/Http.h"
#include "web/Site.h"

namespace web {

enum class Method { Get, Post, Patch, Delete, Put };

/// Open to anyone: sign-in, the static files, the API's sign-in. Guards itself.
using PublicHandler = void (*)(Site&, const Request&, Response&);
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

/// Every route; the first whose method and pattern match a request answers it.
[[nodiscard]] const std::vector<Route>& RouteTable();

/// Answers requests by the route table; safe to use from every thread.
class Router {
 public:
  explicit Router(Site& site);
  /// Parses request's target and body, runs the route that matches (HEAD runs GET's) and fills
  /// response; a request no route takes, a handler's failure or an error status without a body
  /// gets the answer SendServerError gives. Returns the matching route's pattern ("" for none).
  std::string_view Answer(Request& request, Response& response) const;

 private:
  struct Compiled {
    const Route* route;
    std::regex pattern;
  };
  Site& site_;
  std::vector<Compiled> routes_;
};

/// The answer the server gives by itself with status (no such page, a request too large, too
/// slow or unreadable, a server too busy): JSON for a path of the API, else the error page.
void SendServerError(std::string_view path, Response& response, int status);

}  // namespace web
