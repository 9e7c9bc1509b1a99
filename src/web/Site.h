#pragma once
// What the pages share: the server's options, the rendering of templates in the page layout, the
// error page, and one visit (a request by a signed-in person). Each page file has its own header.
#include <cstdint>
#include <exception>
#include <iostream>
#include <string>
#include <string_view>

#include <httplib.h>
#include <mstch/mstch.hpp>

#include "app/Actions.h"
#include "app/Session.h"
#include "vb/ComError.h"
#include "web/Metrics.h"
#include "web/OpenPool.h"
#include "web/Security.h"
#include "web/Server.h"

namespace web {

/// The state every request shares; safe to read from every thread.
struct Site {
  ServeOptions options;
  SignInThrottle throttle;
  std::string bootstrapCss;
  OpenPool pool{32};  ///< open databases between requests
  Metrics metrics;
  explicit Site(ServeOptions serveOptions);
  /// Whether cookies carry Secure (the base URL is https).
  [[nodiscard]] bool SecureCookies() const;
};

/// One request of a signed-in person.
struct Visit {
  Site& site;
  const httplib::Request& request;
  httplib::Response& response;
  app::Session session;
  std::string formToken;  ///< the CSRF token forms carry
};

/// Runs body; a vb::ComError goes to onError, any other failure is logged on standard error
/// (never shown to the client) and answered by onFault.
template <class Body, class OnError, class OnFault>
void Guarded(Body&& body, OnError&& onError, OnFault&& onFault) {
  try {
    body();
  } catch (const vb::ComError& error) {
    onError(error);
  } catch (const std::exception& error) {
    std::cerr << "kvaction serve: " << error.what() << '\n';
    onFault();
  }
}

/// Sends the error page with status and message (a visitor need not be signed in).
void SendErrorPage(httplib::Response& response, int status, std::string_view message);
/// The error page for error: a refusal (403) or bad input (400, 404 for kNotFound) says what was
/// wrong; anything else is logged on standard error and reported without its details (500).
void SendComErrorPage(httplib::Response& response, const vb::ComError& error);

/// Renders template name with context inside the page layout and sends it as HTML.
void SendPage(Visit& visit, std::string_view name, std::string_view title, mstch::map context);
/// The same for a visitor who is not signed in (sign-in and error pages).
void SendPublicPage(httplib::Response& response, std::string_view name, std::string_view title,
                    mstch::map context, int status = 200);
/// A 303 redirect to path, or to the start page when path is not local (IsLocalPath).
void Redirect(httplib::Response& response, const std::string& path);
/// A form or query value ("" when missing).
[[nodiscard]] std::string Param(const httplib::Request& request, const std::string& name);
/// The text a form sent for column, or nullptr when it sent none.
[[nodiscard]] const std::string* TypedText(const app::FieldTexts& values, std::string_view column);
/// The text row's column shows the signed-in person.
[[nodiscard]] std::string Text(Visit& visit, ado::Recordset& row, std::string_view column);
/// A positive number from a path match; raises kInvalidInput naming field.
[[nodiscard]] int32_t IdOf(const std::string& text, std::string_view field);
/// A text as one value of a query string (every byte but the unreserved ones percent-encoded).
[[nodiscard]] std::string QueryValue(std::string_view text);
/// Whether target is a path of this site that no browser reads as another host: one "/" first,
/// and no second "/", backslash or control character after it, in any encoding. Every redirect
/// goes only to such a path.
[[nodiscard]] bool IsLocalPath(std::string_view target);

/// The site's own files under /static/ (the style sheets), by the name the path matched.
void StaticFile(Site& site, const httplib::Request& request, httplib::Response& response);

/// Refuses text (kInvalidInput naming field) with control characters (app::CheckControlCharacters)
/// and counts the refusal against the sign-in throttle of the client's address.
void CheckRequestText(Site& site, const httplib::Request& request, std::string_view field,
                      std::string_view text, bool multiLine);
/// The same for every field of the query and the form, names and values (a file's content
/// aside); multi-line fields (app::IsMultiLineField) may hold tabs and line breaks.
void CheckRequestFields(Site& site, const httplib::Request& request);

}  // namespace web
