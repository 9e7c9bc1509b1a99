#pragma once
// What the pages share: the server's options, the rendering of templates in the page layout, the
// error page, and one visit (a request by a signed-in person). Each page file has its own header.
#include <cstdint>
#include <exception>
#include <iostream>
#include <string>
#include <string_view>
#include <vector>

#include <mstch/mstch.hpp>
#include "web/Http.h"

#include "app/Actions.h"
#include "app/Attachments.h"
#include "app/Session.h"
#include "app/View.h"
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
  const web::Request& request;
  web::Response& response;
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
void SendErrorPage(web::Response& response, int status, std::string_view message);
/// The error page for error: a refusal (403) or bad input (400, 404 for kNotFound) says what was
/// wrong; anything else is logged on standard error and reported without its details (500).
void SendComErrorPage(web::Response& response, const vb::ComError& error);
/// The same inside the signed-in person's frame (header, navigation) for a refusal or bad input.
void SendComErrorPage(Visit& visit, const vb::ComError& error);

/// The template name ("form-field") rendered with context, values escaped.
[[nodiscard]] std::string RenderTemplate(std::string_view name, const mstch::map& context);

/// Renders template name with context inside the page layout and sends it as HTML.
void SendPage(Visit& visit, std::string_view name, std::string_view title, mstch::map context);
/// The same for a visitor who is not signed in (sign-in and error pages).
void SendPublicPage(web::Response& response, std::string_view name, std::string_view title,
                    mstch::map context, int status = 200);
/// One problem of a form as the list above it shows it: the id of its field (empty: the form as
/// a whole), the field's label and the reason.
struct ShownError {
  std::string anchor;
  std::string label;
  std::string message;
};
/// The list of a form's problems, each a link to its field (form-errors.mustache); "" for none.
[[nodiscard]] std::string ErrorListHtml(const std::vector<ShownError>& errors);

/// The confirmation a page shows after a change: the fixed sentence that a redirect's
/// "saved=WORD" names ("" for none or an unknown word; nothing a person sent is echoed).
[[nodiscard]] std::string Confirmation(const web::Request& request);
/// path with "saved=word" added to its query, for the page to confirm the change (Confirmation).
[[nodiscard]] std::string Confirmed(std::string path, std::string_view word);
/// A 303 redirect to path, or to the start page when path is not local (IsLocalPath).
void Redirect(web::Response& response, const std::string& path);
/// The address people reach this site at, without a final "/": the server's base URL, else the
/// site's WebURL setting, else the host the browser reached. The feeds' addresses start with it.
[[nodiscard]] std::string SiteAddress(Site& site, const web::Request& request,
                                      app::Session& session);
/// A form or query value ("" when missing).
[[nodiscard]] std::string Param(const web::Request& request, const std::string& name);
/// The text a form sent for column, or nullptr when it sent none.
[[nodiscard]] const std::string* TypedText(const app::FieldTexts& values, std::string_view column);
/// The text row's column shows the signed-in person.
[[nodiscard]] std::string Text(Visit& visit, ado::Recordset& row, std::string_view column);
/// Adds an action's state as pages show it: state (words), stateCode, stateMark (a sign that
/// tells the state without its colour), turn (words), turnCode and yourTurn.
void AddStateOf(const app::RowState& state, mstch::map& context);
/// A positive number from a path match; raises kInvalidInput naming field.
[[nodiscard]] int32_t IdOf(const std::string& text, std::string_view field);
/// A text as one value of a query string (every byte but the unreserved ones percent-encoded).
[[nodiscard]] std::string QueryValue(std::string_view text);
/// Whether target is a path of this site that no browser reads as another host: one "/" first,
/// and no second "/", backslash or control character after it, in any encoding. Every redirect
/// goes only to such a path.
[[nodiscard]] bool IsLocalPath(std::string_view target);

/// The Content-Disposition of a download under fileName: "attachment" (or "inline" for an image
/// shown in place) with the name as plain ASCII (quotes, backslashes, control characters and
/// other bytes as "_") and in full as UTF-8 (filename*).
[[nodiscard]] std::string ContentDisposition(std::string_view fileName, bool showInline);
/// Answers with an attachment's content under its own name and media type (app::AttachmentFile).
void SendAttachment(web::Response& response, const app::AttachmentFile& file);

/// The site's own files under /static/ (the style sheets), by the name the path matched.
void StaticFile(Site& site, const web::Request& request, web::Response& response);

/// Refuses text (kInvalidInput naming field) with control characters (app::CheckControlCharacters)
/// and counts the refusal against the sign-in throttle of the client's address.
void CheckRequestText(Site& site, const web::Request& request, std::string_view field,
                      std::string_view text, bool multiLine);
/// The same for every field of the query and the form, names and values (a file's content
/// aside); multi-line fields (app::IsMultiLineField) may hold tabs and line breaks.
void CheckRequestFields(Site& site, const web::Request& request);

}  // namespace web
