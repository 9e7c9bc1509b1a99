// What the pages share: the server's state, the page layout, the error page, the reading of
// forms and paths, and the site's own static files.
#include "web/Site.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <fstream>
#include <iostream>
#include <map>
#include <sstream>
#include <utility>

#include <fmt/format.h>

#include "app/Errors.h"
#include "app/Lists.h"
#include "app/Notify.h"
#include "app/Templates.h"
#include "app/WebSupport.h"
#include "web/AdminPages.h"
#include "web/EmbeddedFiles.h"

namespace web {
namespace {

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// The page templates, each by its file name without ".mustache"; all may include each other.
const app::Templates& PageTemplates() {
  static const app::Templates templates{app::Templates::TextsOf(EmbeddedFiles())};
  return templates;
}

}  // namespace

namespace {

// The words of an error page that has only a status and a sentence.
app::ErrorWords StatusWords(int status, std::string_view message) {
  switch (status) {
    case 403:
      return {"Not allowed", std::string(message), "Go back and try again, or sign in again."};
    case 404:
      return {"Not found", std::string(message), "Check the address, or start from your list."};
    case 413:
      return {"Too large", std::string(message), "Go back and choose a smaller file."};
    case 429:
      return {"Too many requests", std::string(message), "Wait a little, then try again."};
    default:
      return {status >= 500 ? "Something went wrong" : "That did not work", std::string(message),
              "Go back and try again."};
  }
}

mstch::map ErrorContext(const app::ErrorWords& words) {
  return {{"heading", words.title}, {"message", words.sentence}, {"advice", words.advice}};
}

// The status an error is answered with.
int StatusOf(const vb::ComError& error) {
  switch (app::KindOf(error)) {
    case app::ErrorKind::Refused:
      return 403;
    case app::ErrorKind::InvalidInput:
      return error.number() == app::kNotFound ? 404 : 400;
    case app::ErrorKind::Other:
      break;
  }
  std::cerr << "kvaction serve: " << error.source() << ": " << error.description() << '\n';
  return 500;
}

}  // namespace

void SendErrorPage(web::Response& response, int status, std::string_view message) {
  const app::ErrorWords words = StatusWords(status, message);
  SendPublicPage(response, "error", words.title, ErrorContext(words), status);
}

// A refusal or a bad request says what was wrong; anything else is logged here and reported
// without its details, so no database text reaches a browser.
void SendComErrorPage(web::Response& response, const vb::ComError& error) {
  const int status = StatusOf(error);
  const app::ErrorWords words = app::WordsFor(error);
  SendPublicPage(response, "error", words.title, ErrorContext(words), status);
}

void SendComErrorPage(Visit& visit, const vb::ComError& error) {
  const int status = StatusOf(error);
  // A failure of the database may leave it unable to answer the header's questions.
  if (status >= 500) return SendComErrorPage(visit.response, error);
  const app::ErrorWords words = app::WordsFor(error);
  visit.response.status = status;
  // A handler may have named a download before it failed: the error is a page, not a file.
  visit.response.headers.erase("Content-Disposition");
  SendPage(visit, "error", words.title, ErrorContext(words));
}

std::string Text(Visit& visit, ado::Recordset& row, std::string_view column) {
  return app::ValueText(visit.session, row[column].Value());
}

std::string RenderTemplate(std::string_view name, const mstch::map& context) {
  return PageTemplates().Render(name, context);
}

// --- Shared by the pages --------------------------------------------------------------------

void SendPublicPage(web::Response& response, std::string_view name, std::string_view title,
                    mstch::map context, int status) {
  AddSecurityHeaders(response);
  mstch::map layout{{"title", std::string(title)}, {"signedIn", false}};
  layout.emplace("body", RenderTemplate(name, context));
  response.status = status;
  response.set_content(RenderTemplate("layout", layout), "text/html; charset=utf-8");
}

void SendPage(Visit& visit, std::string_view name, std::string_view title, mstch::map context) {
  context.emplace("csrf", visit.formToken);
  mstch::map layout{{"title", std::string(title)},
                    {"signedIn", true},
                    {"userID", visit.session.userID()},
                    {"alerts", std::to_string(app::AlertCount(visit.session))},
                    {"admin", MayAdminister(visit.session)},
                    {"notice", Confirmation(visit.request)},
                    {"csrf", visit.formToken}};
  layout.emplace("body", RenderTemplate(name, context));
  visit.response.set_content(RenderTemplate("layout", layout), "text/html; charset=utf-8");
}

std::string ErrorListHtml(const std::vector<ShownError>& errors) {
  mstch::array list;
  for (const auto& error : errors) {
    list.emplace_back(mstch::map{{"hasField", !error.anchor.empty()},
                                 {"anchor", error.anchor},
                                 {"label", error.label},
                                 {"message", error.message}});
  }
  return RenderTemplate(
      "form-errors",
      mstch::map{{"hasErrors", !errors.empty()}, {"several", errors.size() > 1}, {"errors", list}});
}

std::string Confirmation(const web::Request& request) {
  static const std::map<std::string, std::string, std::less<>> sentences = {
      {"created", "The action was created."},
      {"edited", "Your changes were saved."},
      {"merged", "Your changes were saved, and so were the other changes made meanwhile."},
      {"copied", "Copied: this is the new copy."},
      {"moved", "Done: the review status was changed."},
      {"attached", "The attachment was added."},
      {"detached", "The attachment was removed."},
      {"query", "The query was saved."},
      {"shared", "The query's sharing was changed."},
      {"unsaved", "The query was deleted."},
      {"settings", "Your settings were saved."},
      {"details", "Your name and e-mail address were saved."},
      {"added", "Added."},
      {"changed", "Changes saved."},
      {"unchanged", "Nothing was changed."},
      {"password", "Password set; the user's sessions have ended."},
      {"deleted", "Deleted."},
      {"watching",
       "You are watching this action: its changes reach you as they reach its parties."},
      {"unwatched", "You no longer watch this action."},
      {"leads", "The workgroup's leads were saved."},
      {"commented", "Your comment was added."},
  };
  const auto found = sentences.find(Param(request, "saved"));
  return found == sentences.end() ? std::string() : found->second;
}

std::string Confirmed(std::string path, std::string_view word) {
  const size_t fragment = path.find('#');
  const size_t at = fragment == std::string::npos ? path.size() : fragment;
  path.insert(at, fmt::format("{}saved={}", path.find('?') < at ? '&' : '?', word));
  return path;
}

void Redirect(web::Response& response, const std::string& path) {
  response.status = 303;
  response.set_header("Location", IsLocalPath(path) ? path : "/");
}

const std::string* TypedText(const app::FieldTexts& values, std::string_view column) {
  const auto typed = std::find_if(values.begin(), values.end(),
                                  [&](const auto& value) { return value.first == column; });
  return typed == values.end() ? nullptr : &typed->second;
}

std::string SiteAddress(Site& site, const web::Request& request, app::Session& session) {
  std::string base = site.options.baseUrl;
  if (base.empty()) base = app::WebURL(session);
  if (base.empty()) base = "http://" + request.get_header_value("Host");
  while (base.ends_with('/')) base.pop_back();
  return base;
}

std::string Param(const web::Request& request, const std::string& name) {
  if (request.has_param(name)) return request.get_param_value(name);
  if (request.has_file(name)) return request.get_file_value(name).content;
  return {};
}

int32_t IdOf(const std::string& text, std::string_view field) {
  int32_t id = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), id);
  if (error != std::errc() || end != text.data() + text.size() || id <= 0) {
    throw app::Invalid(field, text, "a positive number");
  }
  return id;
}

bool IsLocalPath(std::string_view target) {
  const auto control = [](unsigned char c) { return c < 0x20 || c == 0x7f; };
  if (target.empty() || target.front() != '/') return false;
  // Only what a browser itself sends as a path: printable ASCII, no blank, no backslash.
  if (std::any_of(target.begin(), target.end(), [&](char c) {
        return control(c) || c == ' ' || c == '\\' || static_cast<unsigned char>(c) > 0x7f;
      })) {
    return false;
  }
  // Browsers drop tabs and line breaks and read a backslash as "/", so a second "/", a backslash
  // or a control character right after the first "/" can make "//other.host", also encoded, and
  // also encoded again ("%252f" is "%2f" is "/"): the escapes there are decoded while they decode.
  std::string rest(target.substr(1, 3));
  for (size_t next = 4; rest.size() == 3 && rest[0] == '%'; next += 2) {
    unsigned value = 0;
    const auto [end, error] = std::from_chars(rest.data() + 1, rest.data() + 3, value, 16);
    if (error != std::errc() || end != rest.data() + 3) break;
    rest = static_cast<char>(value) + std::string(target.substr(std::min(next, target.size()), 2));
  }
  return rest.empty() || (rest[0] != '/' && rest[0] != '\\' && !control(rest[0]));
}

std::string QueryValue(std::string_view text) {
  std::string encoded;
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (std::isalnum(byte) || c == '-' || c == '_' || c == '.' || c == '~') {
      encoded += c;
    } else {
      encoded += fmt::format("%{:02X}", byte);
    }
  }
  return encoded;
}

std::string ContentDisposition(std::string_view fileName, bool showInline) {
  std::string plain;
  for (const char c : fileName) {
    const auto byte = static_cast<unsigned char>(c);
    plain += byte < 0x20 || byte >= 0x7f || c == '"' || c == '\\' ? '_' : c;
  }
  return fmt::format("{}; filename=\"{}\"; filename*=UTF-8''{}",
                     showInline ? "inline" : "attachment", plain, QueryValue(fileName));
}

void SendAttachment(web::Response& response, const app::AttachmentFile& file) {
  response.set_header("Content-Disposition",
                      ContentDisposition(file.name, app::IsPreviewImage(file.mediaType)));
  response.set_content(file.bytes, file.mediaType);
}

void CheckRequestText(Site& site, const web::Request& request, std::string_view field,
                      std::string_view text, bool multiLine) {
  try {
    app::CheckControlCharacters(field, text, multiLine);
  } catch (const vb::ComError&) {
    site.throttle.FailedAddress(request.remote_addr);
    throw;
  }
}

void CheckRequestFields(Site& site, const web::Request& request) {
  // The value an edit started from ("base.Subject") is the stored one sent back, which may hold
  // what older programs stored (a tab in a subject); it must not block the edit. A list of valid
  // values comes one a line ("valid.Category"); app/ checks each value on its own.
  const auto multiLine = [](std::string_view name) {
    return name.starts_with("base.") || name.starts_with("valid.") || app::IsMultiLineField(name);
  };
  const auto check = [&](const std::string& name, std::string_view text) {
    CheckRequestText(site, request, "a field's name", name, false);
    CheckRequestText(site, request, name, text, multiLine(name));
  };
  for (const auto& [name, value] : request.params) check(name, value);
  // A file's content is whatever it is; its name and the form's other parts are texts.
  for (const auto& [name, part] : request.files)
    check(name, part.filename.empty() ? part.content : part.filename);
}

Site::Site(ServeOptions serveOptions)
    : options(std::move(serveOptions)),
      throttle(options.userSignInLimit, options.addressSignInLimit, std::chrono::minutes(10)),
      bootstrapCss(ReadFile(KV_BOOTSTRAP_CSS)) {
  // Parsed here, so a malformed template stops the server as it starts, not at someone's page.
  (void)PageTemplates();
}

bool Site::SecureCookies() const { return OriginOf(options.baseUrl).starts_with("https://"); }

void StaticFile(Site& site, const web::Request& request, web::Response& response) {
  const std::string name = request.matches[1];
  response.set_header("Cache-Control", "public, max-age=3600");
  AddSecurityHeaders(response);
  if (name == "bootstrap.min.css") return response.set_content(site.bootstrapCss, "text/css");
  const auto& files = EmbeddedFiles();
  const auto found = files.find(name);
  if (found == files.end() || name.find(".mustache") != std::string::npos) {
    return SendErrorPage(response, 404, "No such file.");
  }
  response.set_content(found->second, "text/css");
}

namespace {
std::string_view StateMark(app::State state) {
  switch (state) {
    case app::State::Overdue:
      return "⚠";
    case app::State::DueToday:
      return "◷";
    case app::State::Completed:
      return "✓";
    case app::State::Clarification:
      return "?";
    case app::State::Rejected:
      return "↺";
    case app::State::Closed:
      return "■";
    case app::State::Open:
      break;
  }
  return "○";
}
}  // namespace

void AddStateOf(const app::RowState& state, mstch::map& context) {
  context.emplace("state", state.words);
  context.emplace("stateCode", std::string(app::StateCode(state.state)));
  context.emplace("stateMark", std::string(StateMark(state.state)));
  context.emplace("turn", state.turnWords);
  context.emplace("turnCode", std::string(app::TurnCode(state)));
  context.emplace("yourTurn", state.yourTurn);
}

}  // namespace web
