// Signing in and out, and the session every other page runs in: a cookie names the session, and
// each state-changing form carries the session's form token.
#include "web/SignInPages.h"

#include <functional>
#include <optional>
#include <string>
#include <utility>

#include <fmt/format.h>

#include "app/Errors.h"
#include "app/WebSupport.h"
#include "vb/ComError.h"
#include "web/Security.h"

namespace web {
namespace {

constexpr std::string_view kSessionCookie = "kvsession";
constexpr std::string_view kSignInCookie = "kvsignin";
constexpr std::chrono::hours kWebSessionLifetime{12};

std::string CookieOf(const web::Request& request, std::string_view name) {
  const std::string header = request.get_header_value("Cookie");
  std::string_view rest = header;
  while (!rest.empty()) {
    const size_t end = std::min(rest.find(';'), rest.size());
    std::string_view pair = rest.substr(0, end);
    rest.remove_prefix(std::min(end + 1, rest.size()));
    while (!pair.empty() && pair.front() == ' ') pair.remove_prefix(1);
    const size_t equals = pair.find('=');
    if (equals != std::string_view::npos && pair.substr(0, equals) == name) {
      return std::string(pair.substr(equals + 1));
    }
  }
  return {};
}

std::string CookieHeader(const Site& site, std::string_view name, std::string_view value,
                         bool expire = false) {
  std::string header = fmt::format("{}={}; Path=/; HttpOnly; SameSite=Strict", name, value);
  if (site.SecureCookies()) header += "; Secure";
  if (expire) header += "; Max-Age=0";
  return header;
}

// The path and query of the request, for the way back after sign-in.
std::string TargetOf(const web::Request& request) {
  return request.target.empty() ? request.path : request.target;
}

// The form token of a POST, read from its body alone: a token in the query string would travel
// on in logs and Referer headers, so it counts for nothing.
std::string BodyFormToken(const web::Request& request) {
  if (request.is_multipart_form_data()) {
    return request.has_file("csrf") ? request.get_file_value("csrf").content : std::string();
  }
  if (request.get_header_value("Content-Type").rfind("application/x-www-form-urlencoded", 0) != 0) {
    return {};
  }
  web::Params fields;
  web::ParseQueryText(request.body, fields);
  const auto found = fields.find("csrf");
  return found == fields.end() ? std::string() : found->second;
}

// Whether a state-changing request comes from a page of this site by what the browser says:
// its Origin, else its Referer, is the base URL's origin (without a base URL, this Host's).
// Programs send neither header; the form token alone guards their requests.
bool FromThisSite(const Site& site, const web::Request& request) {
  const char* header = request.has_header("Origin")    ? "Origin"
                       : request.has_header("Referer") ? "Referer"
                                                       : nullptr;
  if (!header) return true;
  const std::string origin = OriginOf(request.get_header_value(header));
  if (origin.empty()) return false;
  if (!site.options.baseUrl.empty()) return origin == OriginOf(site.options.baseUrl);
  const std::string host = request.get_header_value("Host");
  return origin == OriginOf("http://" + host) || origin == OriginOf("https://" + host);
}

// Refuses a request with control characters in its fields (400, naming the field).
bool Readable(Site& site, const web::Request& request, web::Response& response) {
  try {
    CheckRequestFields(site, request);
    return true;
  } catch (const vb::ComError& error) {
    AddSecurityHeaders(response);
    SendComErrorPage(response, error);
    return false;
  }
}

void SignInForm(Site& site, const web::Request& request, web::Response& response,
                std::string_view message, int status) {
  AddSecurityHeaders(response);
  std::string formToken = CookieOf(request, kSignInCookie);
  if (formToken.size() != 64) {
    formToken = RandomToken();
    response.set_header("Set-Cookie", CookieHeader(site, kSignInCookie, formToken));
  }
  std::string next = Param(request, "next");
  if (!IsLocalPath(next)) next = "/";
  SendPublicPage(response, "signin", "Sign in",
                 {{"csrf", formToken},
                  {"next", next},
                  {"userID", Param(request, "user")},
                  {"message", std::string(message)},
                  {"hasMessage", !message.empty()}},
                 status);
}

}  // namespace

void ServeSignedIn(Site& site, const web::Request& request, web::Response& response,
                   const std::function<void(Visit&)>& body) {
  AddSecurityHeaders(response);
  if (!Readable(site, request, response)) return;
  std::optional<app::Session> session;
  const std::string token = CookieOf(request, kSessionCookie);
  try {
    if (!token.empty()) {
      session.emplace(app::Session::Resume(site.options.open, token, site.pool.Take()));
    }
  } catch (const vb::ComError& error) {
    if (error.number() != app::kNotSignedIn) return SendComErrorPage(response, error);
  }
  if (!session) {
    if (request.method != "GET") return SendErrorPage(response, 403, "Please sign in again.");
    return Redirect(response, "/signin?next=" + QueryValue(TargetOf(request)));
  }
  response.userID = session->userID();
  Visit visit{site, request, response, std::move(*session), FormTokenOf(token)};
  const app::LabelMemo labels(visit.session);  // a list shows a role's label on every row
  if (request.method == "POST" &&
      (!SameSecret(BodyFormToken(request), visit.formToken) || !FromThisSite(site, request))) {
    SendErrorPage(response, 403,
                  "This form has expired or did not come from this site. Please try again.");
  } else {
    Guarded([&] { body(visit); },
            [&](const vb::ComError& error) { SendComErrorPage(visit, error); },
            [&] { SendErrorPage(response, 500, "The server could not complete this request."); });
  }
  // A server error may have left the connection unusable: only a clean one serves again.
  if (response.status < 500) site.pool.Give(std::move(visit.session).TakeAction());
}

void SignInPage(Site& site, const web::Request& request, web::Response& response) {
  if (Readable(site, request, response)) SignInForm(site, request, response, {}, 200);
}

void SignIn(Site& site, const web::Request& request, web::Response& response) {
  if (!Readable(site, request, response)) return;
  if (!SameSecret(BodyFormToken(request), CookieOf(request, kSignInCookie)) ||
      !FromThisSite(site, request)) {
    return SignInForm(site, request, response, "The sign-in form expired. Please try again.", 403);
  }
  const std::string user = Param(request, "user");
  const int64_t wait = site.throttle.WaitSeconds(user, request.remote_addr);
  if (wait > 0) {
    return SignInForm(
        site, request, response,
        fmt::format("Too many failed sign-ins. Try again in {} minutes.", (wait + 59) / 60), 429);
  }
  std::string token;
  try {
    auto session = app::Session::SignIn(site.options.open, user, Param(request, "password"), token,
                                        kWebSessionLifetime);
    session.PurgeExpired();
  } catch (const vb::ComError& error) {
    if (!app::IsSignInRefused(error)) return SendComErrorPage(response, error);
    site.throttle.Failed(user, request.remote_addr);
    return SignInForm(site, request, response, "The user ID or the password is wrong.", 401);
  }
  site.throttle.Succeeded(user);
  AddSecurityHeaders(response);
  response.set_header("Set-Cookie", CookieHeader(site, kSessionCookie, token));
  Redirect(response, Param(request, "next"));
}

void SignOut(Visit& visit) {
  visit.session.SignOut();
  visit.response.set_header("Set-Cookie", CookieHeader(visit.site, kSessionCookie, "", true));
  Redirect(visit.response, "/signin");
}

}  // namespace web
